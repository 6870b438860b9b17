// The encoder's pipe on Linux (see capture/backend.h): ffmpeg started by posix_spawn with SIGINT and
// SIGTERM blocked, reading the frames from a pipe. A terminal's Ctrl-C reaches the whole process group;
// the show then finishes the frames it has and closes the pipe, which ends ffmpeg with a whole file
// (and so does the show's death).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "capture/backend.h"

extern char** environ;

bool launchEncoder(const std::vector<std::string>& arguments, FfmpegProcess* process, std::string* error) {
  int log = int(process->log.handle);
  int pipe_ends[2] = {-1, -1};
  if (pipe(pipe_ends) != 0) {
    *error = std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], 0);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
  if (log >= 0) posix_spawn_file_actions_adddup2(&actions, log, 2);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t end_signals;
  sigemptyset(&end_signals);
  sigaddset(&end_signals, SIGINT);
  sigaddset(&end_signals, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &end_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  int result = posix_spawnp(&process->pid, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[0]);
  if (result != 0) {
    *error = std::string("cannot start ffmpeg: ") + std::strerror(result);
    close(pipe_ends[1]);
    process->pid = -1;
    return false;
  }
  process->input = pipe_ends[1];
  // A closed pipe is a failed write to report, not a signal that ends the show without a word.
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool writeToFfmpeg(FfmpegProcess* process, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(process->input, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= size_t(written);
  }
  return true;
}

bool closeEncoder(FfmpegProcess* process) {
  if (process->input >= 0) {
    close(process->input);
    signal(SIGPIPE, SIG_DFL);
  }
  process->input = -1;
  int status = 0;
  bool exited = false;
  if (process->pid > 0) {
    while (waitpid(process->pid, &status, 0) < 0 && errno == EINTR) {
    }
    exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  process->pid = -1;
  return exited;
}
