// Child processes of this program (see capture/processes.h): their logs, waiting for them and ending
// them, whatever the system; the system backend starts them and tells when they end (capture/backend.h).
#include "capture/processes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/backend.h"

using Clock = std::chrono::steady_clock;

// How long a child asked to end with SIGTERM has before it gets SIGKILL.
static const std::chrono::seconds kGrace(2);

// Windows' paths may part their folders with backslashes too.
static std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// startChild, its logs named narvu-STEM-XXXXXX in the temporary folder.
static bool startNamedChild(const std::string& program, const std::string& stem,
                            const std::vector<std::string>& arguments, bool separate_output, ChildProcess* child,
                            std::string* error) {
  *child = ChildProcess();
  std::string path = findProgram(program);
  if (path.empty()) {
    *error = "cannot run " + program + ": " +
             (program.find_first_of("/\\") == std::string::npos ? "it is not on the PATH" : "there is no such program");
    return false;
  }
  if (!makeTemporaryFile(stem.c_str(), &child->log_path) ||
      (separate_output && !makeTemporaryFile((stem + "-output").c_str(), &child->output_path))) {
    *error = "cannot start " + stem + ": " + std::strerror(errno);
    forgetChild(child);
    return false;
  }
  if (!launchChild(path, arguments, child, error)) {
    forgetChild(child);
    return false;
  }
  return true;
}

bool startChild(const std::string& program, const std::vector<std::string>& arguments, bool separate_output,
                ChildProcess* child, std::string* error) {
  return startNamedChild(program, baseName(program), arguments, separate_output, child, error);
}

bool startThisProgram(const std::vector<std::string>& arguments, ChildProcess* child, std::string* error) {
  char program[4096];
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) {
    *error = "cannot find this program's own file";
    return false;
  }
  return startNamedChild(program, "part", arguments, false, child, error);
}

int waitForChild(ChildProcess* child, int signals_before) {
  int ended_by = 0;
  bool killed = false;
  Clock::time_point asked;
  DWORD pause = 1;  // short at first: most children here end in a few milliseconds
  while (child->pid > 0 && !childEnded(child)) {
    if (!ended_by && endSignalCount() > signals_before) {
      ended_by = endSignal();
      asked = Clock::now();
      askChildToEnd(*child, SIGTERM);
    }
    if (ended_by && !killed && Clock::now() - asked > kGrace) {
      killed = true;
      endChildAtOnce(*child);
    }
    Sleep(pause);
    pause = std::min<DWORD>(pause * 2, 20);
  }
  return ended_by;
}

void waitForChildren(std::vector<ChildProcess>* children) {
  bool passed_on = false;
  while (true) {
    size_t running = 0;
    for (ChildProcess& child : *children)
      if (child.pid > 0 && !childEnded(&child)) ++running;
    if (running == 0) return;
    // A terminal's Ctrl-C reaches the parts already (they are in its process group); a kill of this
    // process alone is passed on.
    if (endSignal() && !passed_on) {
      passed_on = true;
      for (const ChildProcess& child : *children)
        if (child.pid > 0) askChildToEnd(child, endSignal());
    }
    Sleep(50);
  }
}

static std::string fileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string childWords(const ChildProcess& child, size_t most) {
  std::string words = fileText(child.log_path);
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ' || words.back() == '\r')) words.pop_back();
  if (words.size() > most) words = "..." + words.substr(words.size() - most);
  return words;
}

std::string childOutput(const ChildProcess& child) {
  return child.output_path.empty() ? std::string() : fileText(child.output_path);
}

void forgetChild(ChildProcess* child) {
  if (!child->log_path.empty()) std::remove(child->log_path.c_str());
  if (!child->output_path.empty()) std::remove(child->output_path.c_str());
  child->log_path.clear();
  child->output_path.clear();
}

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments) {
  ProgramRun run;
  ChildProcess child;
  int signals_before = endSignalCount();
  if (!startChild(program, arguments, true, &child, &run.errors)) return run;
  run.ended_by_signal = waitForChild(&child, signals_before);
  run.exit_code = child.exit_code;
  run.output = childOutput(child);
  run.errors = childWords(child, 4000);
  forgetChild(&child);
  return run;
}
