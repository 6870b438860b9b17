// The page's system side for capture (see capture/backend.h). A browser runs no programs: no ffmpeg and
// no parts of this program, so the options refuse a video capture and --jobs (kProgramsUnavailable), and
// whatever would still start one here fails as on a system without them. The page's files are in its
// own file system, where a capture's folder is made and narvu.FS reads it.
#include <unistd.h>

#include <cerrno>

#include "capture/backend.h"
#include "capture/processes.h"

const char* const kProgramsUnavailable = "a web page cannot start other programs";

std::string findProgram(const std::string&) { return ""; }

// A page's show runs on one thread.
int processorCount() { return 1; }

bool openTemporaryFile(const char*, TemporaryFile*) {
  errno = ENOSYS;
  return false;
}

std::string readTemporaryFile(const TemporaryFile&, size_t, bool) { return ""; }
void closeTemporaryFile(TemporaryFile* file) { file->handle = -1; }

bool folderIsWritable(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

// The page shows the progress line in place, rewritten at every carriage return, as a terminal does.
bool standardErrorIsTerminal() { return true; }

bool launchChild(const std::string&, const std::vector<std::string>&, ChildProcess*, std::string* error) {
  *error = kProgramsUnavailable;
  return false;
}

bool childEnded(ChildProcess* child) {
  child->pid = -1;
  return true;
}

void askChildToEnd(const ChildProcess&, int) {}
void endChildAtOnce(const ChildProcess&) {}

bool launchEncoder(const std::vector<std::string>&, FfmpegProcess*, std::string* error) {
  *error = kProgramsUnavailable;
  return false;
}

bool writeToFfmpeg(FfmpegProcess*, const uint8_t*, size_t) { return false; }
bool closeEncoder(FfmpegProcess*) { return false; }
