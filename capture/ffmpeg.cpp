// The ffmpeg program, for video captures: started without a shell, from an argument vector, with every
// file named as "file:" and an absolute path, so that no name can be taken for an option or a protocol.
// Its standard error goes to a temporary file without a name, so that when it fails its own words can
// be shown below ours.
//
// The encoder, which reads frames from a pipe, does not take SIGINT or SIGTERM (the system backend's
// launchEncoder): the show finishes the frames it has and closes the pipe, which ends ffmpeg with a whole
// file. An ffmpeg that muxes or joins files reads no pipe that could end it: it takes the signals, and
// an end signal that comes while the show waits for it ends it (runFfmpeg).
#include <filesystem>

#include "capture/backend.h"

std::string ffmpegFileArgument(const std::string& path) {
  std::error_code ignored;
  return "file:" + std::filesystem::absolute(std::filesystem::u8path(path), ignored).lexically_normal().u8string();
}

bool startFfmpeg(const std::vector<std::string>& arguments, FfmpegProcess* process, std::string* error) {
  *process = FfmpegProcess();
  // Without a log ffmpeg still encodes; only its words would be missing if it failed.
  openTemporaryFile("ffmpeg", &process->log);
  if (launchEncoder(arguments, process, error)) return true;
  closeTemporaryFile(&process->log);
  return false;
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

// The last lines ffmpeg wrote on its standard error.
static std::string ffmpegWords(const TemporaryFile& log) {
  const size_t kMost = 2000;
  std::string words = readTemporaryFile(log, kMost + 1, true);
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
  if (words.size() > kMost) words = "..." + words.substr(words.size() - kMost);
  return words;
}

bool finishFfmpeg(FfmpegProcess* process, std::string* error) {
  bool exited = closeEncoder(process);
  if (!exited) {
    std::string words = ffmpegWords(process->log);
    *error = words.empty() ? "ffmpeg failed without a word" : "ffmpeg says:\n" + words;
  }
  closeTemporaryFile(&process->log);
  return exited;
}
