// Child processes of this program (see capture/processes.h). They are started with fork and exec rather
// than posix_spawn: the child asks for its parent's death signal (prctl) before it runs the program,
// which posix_spawn cannot do. Between fork and exec the child only makes system calls, as a child of a
// process with threads must.
#include "capture/processes.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/capture_local.h"

using Clock = std::chrono::steady_clock;

// How long a child asked to end with SIGTERM has before it gets SIGKILL.
static const std::chrono::seconds kGrace(2);

std::string findProgram(const std::string& program) {
  if (program.empty()) return "";
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0 ? program : "";
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

int processorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return int(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

// In the child, between fork and exec: descriptor `from` as `to`, kept open across exec.
static void moveDescriptor(int from, int to) {
  if (from == to)
    fcntl(to, F_SETFD, 0);
  else
    dup2(from, to);
}

// In the child: dies with its parent, takes signals as a fresh process does, and runs the program. Only
// returns when exec failed, with errno set.
static void becomeProgram(pid_t parent, int input, int output, int log, const char* path, char* const* argv) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);  // the parent ended before the request took hold
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction by_default = {};
  by_default.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &by_default, nullptr);  // a capture ignores it while it feeds its encoder
  moveDescriptor(input, 0);
  moveDescriptor(output, 1);
  moveDescriptor(log, 2);
  execv(path, argv);
}

static std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
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
             (program.find('/') == std::string::npos ? "it is not on the PATH" : "there is no such program");
    return false;
  }
  int log = makeTemporaryLog(stem.c_str(), &child->log_path);
  int output = separate_output ? makeTemporaryLog((stem + "-output").c_str(), &child->output_path) : log;
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2] = {-1, -1};  // exec's failure, from the child; closed by a successful exec
  if (log < 0 || output < 0 || input < 0 || pipe2(report, O_CLOEXEC) != 0) {
    *error = "cannot start " + stem + ": " + std::strerror(errno);
    if (input >= 0) close(input);
    if (output >= 0 && output != log) close(output);
    if (log >= 0) close(log);
    forgetChild(child);
    return false;
  }
  std::vector<char*> argv = {const_cast<char*>(path.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    becomeProgram(parent, input, output, log, path.c_str(), argv.data());
    int failure = errno;
    ssize_t ignored = write(report[1], &failure, sizeof failure);
    (void)ignored;
    _exit(127);
  }
  int failure = pid < 0 ? errno : 0;
  close(report[1]);
  close(input);
  close(log);
  if (output != log) close(output);
  if (pid > 0) {
    ssize_t got;
    while ((got = read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (got <= 0) failure = 0;
    if (failure != 0) waitpid(pid, nullptr, 0);
  }
  close(report[0]);
  if (failure != 0) {
    *error = "cannot start " + path + ": " + std::strerror(failure);
    forgetChild(child);
    return false;
  }
  child->pid = pid;
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

// Whether the child has ended; its exit code is then set.
static bool childEnded(ChildProcess* child) {
  int status = 0;
  pid_t done = waitpid(child->pid, &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return false;
  child->exit_code = done < 0              ? -1
                     : WIFEXITED(status)   ? WEXITSTATUS(status)
                     : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                           : -1;
  child->pid = -1;
  return true;
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
      kill(child->pid, SIGTERM);
    }
    if (ended_by && !killed && Clock::now() - asked > kGrace) {
      killed = true;
      kill(child->pid, SIGKILL);
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
        if (child.pid > 0) kill(child.pid, endSignal());
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
