#include "thread_cpu.h"

#include <filesystem>
#include <fstream>
#include <string>

ThreadCpu threadCpu() {
  ThreadCpu cpu;
  std::error_code error;
  std::string self = std::filesystem::read_symlink("/proc/self", error).filename().string();
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    std::ifstream comm(task.path() / "comm");
    double nanoseconds = 0;
    std::string name;
    if (!(schedstat >> nanoseconds)) continue;
    std::getline(comm, name);
    double ms = nanoseconds / 1e6;
    if (task.path().filename().string() == self)
      cpu.main_ms += ms;
    else if (name.compare(0, 8, "llvmpipe") == 0)
      cpu.llvmpipe_ms += ms;
    else
      cpu.other_ms += ms;
  }
  return cpu;
}

ThreadCpu cpuBetween(const ThreadCpu& earlier, const ThreadCpu& later) {
  return {later.main_ms - earlier.main_ms, later.llvmpipe_ms - earlier.llvmpipe_ms, later.other_ms - earlier.other_ms};
}
