// Child processes of this program, for a capture made in parts side by side (see capture/processes.h).
#include "capture/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/capture_local.h"

extern char** environ;

bool startThisProgram(const std::vector<std::string>& arguments, ChildProcess* child, std::string* error) {
  *child = ChildProcess();
  char program[4096];
  if (GetModuleFileNameA(nullptr, program, sizeof program) == 0) {
    *error = "cannot find this program's own file";
    return false;
  }
  int log = makeTemporaryLog("part", &child->log_path);
  if (log < 0) {
    *error = std::string("cannot make a log file for a part: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, log, 1);
  posix_spawn_file_actions_adddup2(&actions, log, 2);
  std::vector<char*> argv = {program};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int result = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(log);
  if (result != 0) {
    *error = std::string("cannot start a part: ") + std::strerror(result);
    forgetChild(child);
    return false;
  }
  child->pid = pid;
  return true;
}

void waitForChildren(std::vector<ChildProcess>* children) {
  bool passed_on = false;
  while (true) {
    size_t running = 0;
    for (ChildProcess& child : *children) {
      if (child.pid <= 0) continue;
      int status = 0;
      pid_t done = waitpid(child.pid, &status, WNOHANG);
      if (done == 0 || (done < 0 && errno == EINTR)) {
        ++running;
        continue;
      }
      child.exit_code = done < 0              ? -1
                        : WIFEXITED(status)   ? WEXITSTATUS(status)
                        : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                              : -1;
      child.pid = -1;
    }
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

std::string childWords(const ChildProcess& child, size_t most) {
  std::ifstream log(child.log_path);
  std::stringstream text;
  text << log.rdbuf();
  std::string words = text.str();
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ' || words.back() == '\r')) words.pop_back();
  if (words.size() > most) words = "..." + words.substr(words.size() - most);
  return words;
}

void forgetChild(ChildProcess* child) {
  if (!child->log_path.empty()) std::remove(child->log_path.c_str());
  child->log_path.clear();
}
