// Child processes as capture starts them (capture/processes.h), on Linux by fork and exec, on Windows by
// CreateProcess from one command line that the child's C runtime splits again: every word arrives as it
// was given, whatever blanks, quotes, backslashes or letters it holds; the exit code and the two output
// streams come back apart. The child is this program, which prints its arguments when asked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/processes.h"
#include "platform/platform.h"

namespace {

const char kPrintArguments[] = "--print-arguments";

// Each argument on a line of its own, every byte outside printable ASCII as \xNN, so that neither the
// system's line ends nor its code pages can blur what arrived.
int printArguments(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    for (const char* c = argv[i]; *c; ++c) {
      unsigned char byte = static_cast<unsigned char>(*c);
      if (byte >= 0x20 && byte < 0x7f && byte != '\\')
        std::putchar(byte);
      else
        std::printf("\\x%02x", byte);
    }
    std::printf("|\n");
  }
  std::fputs("to standard error\n", stderr);
  return argc - 2;
}

std::string escaped(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    for (unsigned char byte : word) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      text += byte >= 0x20 && byte < 0x7f && byte != '\\' ? std::string(1, char(byte)) : std::string(hex);
    }
    text += "|\n";
  }
  return text;
}

std::string withoutCarriageReturns(std::string text) {
  std::string kept;
  for (char c : text)
    if (c != '\r') kept += c;
  return kept;
}

std::string thisProgram() {
  char path[4096];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

TEST(ChildProcesses, EveryWordArrivesAsItWasGiven) {
  const std::vector<std::string> words = {
      "plain",      "two words",      "",     "a \"quoted\" word",   "\"",        "back\\slash",
      "trailing\\", "blank after\\ ", "\\\"", "\\\\\"x\\\\",         "tab\there", "new\nline",
      "ünï cødé ä", "a\\\\b c\\\\",   "-i",   "file:C:\\x y\\z.mp4",
  };
  std::vector<std::string> arguments = {kPrintArguments};
  arguments.insert(arguments.end(), words.begin(), words.end());
  ProgramRun run = runProgram(thisProgram(), arguments);
  EXPECT_EQ(run.exit_code, int(words.size()));
  EXPECT_EQ(withoutCarriageReturns(run.output), escaped(words));
  EXPECT_EQ(withoutCarriageReturns(run.errors), "to standard error");
}

TEST(ChildProcesses, AProgramThatIsNotThereIsSaidSo) {
  ProgramRun missing = runProgram("narvu-no-such-program", {});
  EXPECT_EQ(missing.exit_code, -1);
  EXPECT_EQ(missing.errors, "cannot run narvu-no-such-program: it is not on the PATH");
  EXPECT_EQ(findProgram("narvu-no-such-program"), "");
  EXPECT_EQ(findProgram(thisProgram()), thisProgram());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], kPrintArguments) == 0) return printArguments(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
