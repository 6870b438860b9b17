// Running the show and the tools as child processes in the tests, on Linux: fork and exec, with the
// child's resources counted by wait4 (see test_support.h).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "test_support.h"

static bool outputHas(const std::string& path, const std::string& text) {
  std::vector<unsigned char> bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end()).find(text) != std::string::npos;
}

RunningChild startChild(const std::vector<std::string>& arguments, const std::string& folder,
                        const std::vector<std::string>& environment, const std::string& output_name) {
  RunningChild child;
  child.output_path = folder + "/" + output_name;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(child.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    int null_input = open("/dev/null", O_RDONLY);
    dup2(null_input, 0);
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  child.pid = pid;
  return child;
}

ChildResult waitChild(RunningChild* child, double timeout_seconds, const ChildSignal& signal) {
  ChildResult result{-1, "", 0, 0};
  if (child->pid <= 0) return result;
  auto started = std::chrono::steady_clock::now();
  auto deadline = started + std::chrono::duration<double>(timeout_seconds);
  int status = 0;
  struct rusage usage = {};
  bool signalled = signal.number == 0;
  while (true) {
    pid_t done = wait4(child->pid, &status, WNOHANG, &usage);
    if (done == child->pid) break;
    if (!signalled &&
        std::chrono::steady_clock::now() >= started + std::chrono::milliseconds(signal.after_milliseconds) &&
        (signal.when_exists.empty() || std::filesystem::exists(signal.when_exists)) &&
        (signal.when_output_has.empty() || outputHas(child->output_path, signal.when_output_has))) {
      kill(child->pid, signal.number);
      signalled = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child->pid, SIGKILL);
      wait4(child->pid, &status, 0, &usage);
      result.output = "(killed after timeout)\n";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  child->pid = -1;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.peak_memory_kb = long(usage.ru_maxrss);
  result.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::vector<unsigned char> text = readFile(child->output_path);
  result.output += std::string(text.begin(), text.end());
  return result;
}

ChildResult runChild(const std::vector<std::string>& arguments, const std::string& folder,
                     const std::vector<std::string>& environment, int timeout_seconds, const ChildSignal& signal) {
  RunningChild child = startChild(arguments, folder, environment, "child-output.txt");
  return waitChild(&child, timeout_seconds, signal);
}
