// Files and the terminal on Linux (see capture/backend.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "capture/backend.h"

// Unlinked as soon as it is made: the name never outlives the moment between mkstemp and unlink.
bool openTemporaryFile(const char* stem, TemporaryFile* file) {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/narvu-" + stem + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int descriptor = mkostemp(name.data(), O_CLOEXEC);
  if (descriptor < 0) return false;
  unlink(name.data());
  file->handle = descriptor;
  return true;
}

std::string readTemporaryFile(const TemporaryFile& file, size_t most, bool tail) {
  struct stat facts;
  if (file.handle < 0 || fstat(int(file.handle), &facts) != 0) return "";
  size_t size = size_t(facts.st_size);
  size_t count = std::min(size, most);
  std::string text(count, '\0');
  off_t start = off_t(tail ? size - count : 0);
  size_t got = 0;
  while (got < count) {
    ssize_t read = pread(int(file.handle), &text[got], count - got, start + off_t(got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    got += size_t(read);
  }
  text.resize(got);
  return text;
}

void closeTemporaryFile(TemporaryFile* file) {
  if (file->handle >= 0) close(int(file->handle));
  file->handle = -1;
}

bool folderIsWritable(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

bool standardErrorIsTerminal() { return isatty(2); }
