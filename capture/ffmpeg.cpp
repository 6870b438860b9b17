// The ffmpeg program, for video captures: started without a shell, from an argument vector, with every
// file named as "file:" and an absolute path, so that no name can be taken for an option or a protocol.
// Its standard error goes to a temporary file, so that when it fails its own words can be shown below
// ours.
//
// The encoder, which reads frames from a pipe, does not take SIGINT or SIGTERM: a terminal's Ctrl-C
// reaches the whole process group, and the show then finishes the frames it has and closes the pipe,
// which ends ffmpeg with a whole file (and so does the show's death). An ffmpeg that muxes or joins
// files reads no pipe that could end it: it takes the signals, and an end signal that comes while the
// show waits for it ends it (runFfmpeg).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "capture/capture_local.h"

extern char** environ;

std::string ffmpegFileArgument(const std::string& path) {
  std::error_code ignored;
  return "file:" + std::filesystem::absolute(path, ignored).lexically_normal().string();
}

int makeTemporaryLog(const char* stem, std::string* path) {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/narvu-" + stem + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int file = mkstemp(name.data());
  if (file >= 0) *path = name.data();
  return file;
}

bool startFfmpeg(const std::vector<std::string>& arguments, FfmpegProcess* process, std::string* error) {
  *process = FfmpegProcess();
  int log = makeTemporaryLog("ffmpeg", &process->log_path);
  int pipe_ends[2] = {-1, -1};
  if (pipe(pipe_ends) != 0) {
    *error = std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno);
    if (log >= 0) close(log);
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
  if (log >= 0) close(log);
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

bool runFfmpeg(const std::vector<std::string>& arguments, std::string* error) {
  ProgramRun run = runProgram("ffmpeg", std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  if (run.ended_by_signal) {
    noteCaptureStopped(run.ended_by_signal);
    *error = std::string("stopped by ") + endSignalName(run.ended_by_signal);
    return false;
  }
  if (run.exit_code == 0) return true;
  if (run.exit_code < 0)
    *error = run.errors;
  else
    *error = run.errors.empty() ? "ffmpeg failed without a word" : "ffmpeg says:\n" + run.errors;
  return false;
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

// The last lines ffmpeg wrote on its standard error.
static std::string ffmpegWords(const std::string& log_path) {
  std::ifstream log(log_path);
  std::stringstream text;
  text << log.rdbuf();
  std::string words = text.str();
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
  const size_t kMost = 2000;
  if (words.size() > kMost) words = "..." + words.substr(words.size() - kMost);
  return words;
}

bool finishFfmpeg(FfmpegProcess* process, std::string* error) {
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
  if (!exited) {
    std::string words = ffmpegWords(process->log_path);
    *error = words.empty() ? "ffmpeg failed without a word" : "ffmpeg says:\n" + words;
  }
  if (!process->log_path.empty()) std::remove(process->log_path.c_str());
  process->log_path.clear();
  return exited;
}
