// Child processes on Linux (see capture/backend.h). They are started with fork and exec rather than
// posix_spawn: the child asks for its parent's death signal (prctl) before it runs the program, which
// posix_spawn cannot do. Between fork and exec the child only makes system calls, as a child of a
// process with threads must.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/backend.h"
#include "capture/processes.h"

const char* const kProgramsUnavailable = nullptr;

extern char** environ;

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
static void becomeProgram(pid_t parent, int input, int output, int log, const char* path, char* const* argv,
                          char* const* environment) {
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
  execve(path, argv, environment);
}

bool launchChild(const std::string& path, const std::vector<std::string>& arguments, ChildProcess* child,
                 std::string* error) {
  int log = int(child->log.handle);
  int output = child->output.handle >= 0 ? int(child->output.handle) : log;
  int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2] = {-1, -1};  // exec's failure, from the child; closed by a successful exec
  if (log < 0 || input < 0 || pipe2(report, O_CLOEXEC) != 0) {
    *error = "cannot start " + path + ": " + (log < 0 ? "it has no log" : std::strerror(errno));
    if (input >= 0) close(input);
    return false;
  }
  std::vector<char*> argv = {const_cast<char*>(path.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Made before fork: the child only makes system calls.
  std::vector<char*> environment;
  for (char** setting = environ; *setting; ++setting) environment.push_back(*setting);
  for (const std::string& setting : child->environment) environment.push_back(const_cast<char*>(setting.c_str()));
  environment.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    becomeProgram(parent, input, output, log, path.c_str(), argv.data(), environment.data());
    int failure = errno;
    ssize_t ignored = write(report[1], &failure, sizeof failure);
    (void)ignored;
    _exit(127);
  }
  int failure = pid < 0 ? errno : 0;
  close(report[1]);
  close(input);
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
    return false;
  }
  child->pid = pid;
  return true;
}

bool childEnded(ChildProcess* child) {
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

void askChildToEnd(const ChildProcess& child, int signal_number) { kill(child.pid, signal_number); }

void endChildAtOnce(const ChildProcess& child) { kill(child.pid, SIGKILL); }
