// Child processes of this program (see capture/processes.h): their logs, waiting for them and ending
// them, whatever the system; the system backend starts them and tells when they end (capture/backend.h).
#include "capture/processes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "capture/backend.h"

using Clock = std::chrono::steady_clock;

// How long a child asked to end with SIGTERM has before it gets SIGKILL.
static const std::chrono::seconds kGrace(2);

// Windows' paths may part their folders with backslashes too.
static std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// startChild, its logs temporary files of `stem`.
static bool startNamedChild(const std::string& program, const std::string& stem,
                            const std::vector<std::string>& arguments, bool separate_output, ChildProcess* child,
                            std::string* error) {
  std::vector<std::string> environment = std::move(child->environment);
  *child = ChildProcess();
  child->environment = std::move(environment);
  std::string path = findProgram(program);
  if (path.empty()) {
    *error = "cannot run " + program + ": " +
             (program.find_first_of("/\\") == std::string::npos ? "it is not on the PATH" : "there is no such program");
    return false;
  }
  if (!openTemporaryFile(stem.c_str(), &child->log) ||
      (separate_output && !openTemporaryFile((stem + "-output").c_str(), &child->output))) {
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
  std::string program = programPath();
  if (program.empty()) {
    *error = "cannot find this program's own file";
    return false;
  }
  return startNamedChild(program, "part", arguments, false, child, error);
}

int waitForChild(ChildProcess* child, int signals_before, int seconds_allowed) {
  int ended_by = 0;
  bool asked_to_end = false, killed = false;
  Clock::time_point started = Clock::now(), asked;
  DWORD pause = 1;  // short at first: most children here end in a few milliseconds
  while (child->pid > 0 && !childEnded(child)) {
    bool signalled = !ended_by && endSignalCount() > signals_before;
    if (signalled) ended_by = endSignal();
    bool overdue =
        seconds_allowed > 0 && !child->timed_out && Clock::now() - started > std::chrono::seconds(seconds_allowed);
    if (overdue) child->timed_out = true;
    if ((signalled || overdue) && !asked_to_end) {
      asked_to_end = true;
      asked = Clock::now();
      askChildToEnd(*child, SIGTERM);
    }
    if (asked_to_end && !killed && Clock::now() - asked > kGrace) {
      killed = true;
      endChildAtOnce(*child);
    }
    Sleep(pause);
    pause = std::min<DWORD>(pause * 2, 20);
  }
  return ended_by;
}

void waitForChildren(std::vector<ChildProcess>* children, const std::function<void()>& each_turn) {
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
    if (each_turn) each_turn();
    Sleep(50);
  }
}

std::string childWords(const ChildProcess& child, size_t most) {
  // Blanks at the end do not count against `most`.
  std::string words = readTemporaryFile(child.log, most + 64, true);
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ' || words.back() == '\r')) words.pop_back();
  if (words.size() > most) words = "..." + words.substr(words.size() - most);
  return words;
}

std::string childOutput(const ChildProcess& child, size_t most) { return readTemporaryFile(child.output, most, false); }

void forgetChild(ChildProcess* child) {
  closeTemporaryFile(&child->log);
  closeTemporaryFile(&child->output);
}

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramLimits& limits) {
  ProgramRun run;
  ChildProcess child;
  int signals_before = endSignalCount();
  if (!startChild(program, arguments, true, &child, &run.errors)) return run;
  run.ended_by_signal = waitForChild(&child, signals_before, limits.seconds);
  run.exit_code = child.exit_code;
  run.timed_out = child.timed_out;
  run.output = childOutput(child, limits.output_bytes + 1);
  run.output_cut = run.output.size() > limits.output_bytes;
  if (run.output_cut) run.output.resize(limits.output_bytes);
  run.errors = childWords(child, 4000);
  forgetChild(&child);
  return run;
}
