// Files and the terminal on Linux (see capture/backend.h).
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "capture/backend.h"

bool makeTemporaryFile(const char* stem, std::string* path) {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/narvu-" + stem + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int file = mkstemp(name.data());
  if (file < 0) return false;
  close(file);
  *path = name.data();
  return true;
}

bool folderIsWritable(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

bool standardErrorIsTerminal() { return isatty(2); }
