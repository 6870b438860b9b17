// libFuzzer target: the command line. The input is the argument words separated by zero bytes, given
// to parseCommandLine after the program's name.
// fuzz-link: narvu_shell
#include <cstdint>
#include <string>
#include <vector>

#include "shell/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = {"narvu"};
  std::string word;
  for (size_t i = 0; i < size && words.size() < 64; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += char(data[i]);
    }
  }
  if (!word.empty() && words.size() < 64) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  CommandLineOptions options;
  std::string error;
  parseCommandLine(int(words.size()), argv.data(), &options, &error);
  return 0;
}
