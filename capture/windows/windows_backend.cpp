// Child processes, the encoder's pipe and files on Windows (see capture/backend.h), over the calls into
// Windows in windows_calls.cpp. A child is started by CreateProcess from one command line
// (windows_command_line.cpp) and put in a job object that ends it with the show; Ctrl-Break, sent to
// its console group alone, asks it to end as SIGTERM does on Linux.
#include "capture/backend.h"
#include "capture/processes.h"
#include "capture/windows/windows_local.h"

const char* const kProgramsUnavailable = nullptr;

std::string findProgram(const std::string& program) { return findExecutable(program); }

int processorCount() { return allowedProcessors(); }

bool launchChild(const std::string& path, const std::vector<std::string>& arguments, ChildProcess* child,
                 std::string* error) {
  std::vector<std::string> words = {path};
  words.insert(words.end(), arguments.begin(), arguments.end());
  ChildStreams streams;
  streams.output_file = child->output.handle >= 0 ? child->output.handle : child->log.handle;
  streams.log_file = child->log.handle;
  streams.environment = child->environment;
  child->pid = startProcess(path, windowsCommandLine(words), streams, nullptr, error);
  return child->pid > 0;
}

bool childEnded(ChildProcess* child) {
  if (!processEnded(child->pid, &child->exit_code)) return false;
  child->pid = -1;
  return true;
}

// Windows has no signals to choose from: Ctrl-Break is the one way to ask.
void askChildToEnd(const ChildProcess& child, int) { askProcessToEnd(child.pid); }

void endChildAtOnce(const ChildProcess& child) { endProcessAtOnce(child.pid); }

// The encoder is kept off the console: its Ctrl-C, and the console's closing, would end it before the
// show has handed it the frames it has. It ends when its pipe closes, or with the show.
bool launchEncoder(const std::vector<std::string>& arguments, FfmpegProcess* process, std::string* error) {
  std::string program = findExecutable(arguments[0]);
  if (program.empty()) {
    *error = "cannot start ffmpeg: it is not on the PATH";
    return false;
  }
  std::vector<std::string> words = arguments;
  words[0] = program;
  ChildStreams streams;
  streams.log_file = process->log.handle;
  streams.input_pipe = true;
  streams.takes_ctrl_c = false;
  process->pid = startProcess(program, windowsCommandLine(words), streams, &process->input, error);
  return process->pid > 0;
}

bool writeToFfmpeg(FfmpegProcess* process, const uint8_t* bytes, size_t count) {
  return writeToPipe(process->input, bytes, count);
}

bool closeEncoder(FfmpegProcess* process) {
  if (process->input >= 0) closePipe(process->input);
  process->input = -1;
  bool exited = process->pid > 0 && waitForProcess(process->pid) == 0;
  process->pid = -1;
  return exited;
}

bool openTemporaryFile(const char* stem, TemporaryFile* file) {
  file->handle = createTemporaryFile(stem);
  return file->handle >= 0;
}

std::string readTemporaryFile(const TemporaryFile& file, size_t most, bool tail) {
  return file.handle >= 0 ? readTemporaryFileAt(file.handle, most, tail) : std::string();
}

void closeTemporaryFile(TemporaryFile* file) {
  if (file->handle >= 0) closeTemporaryFileHandle(file->handle);
  file->handle = -1;
}

bool folderIsWritable(const std::string& folder) { return folderTakesFiles(folder); }

bool standardErrorIsTerminal() { return standardErrorIsConsole(); }
