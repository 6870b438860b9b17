// What capture's child processes call that emscripten's C library lacks. A page starts no programs (it
// refuses a video capture and --jobs before the show starts), so these fail as on a system without
// them; processes.cpp and ffmpeg.cpp then build for the page unchanged.
#include <sched.h>
#include <sys/prctl.h>

#include <cerrno>

extern "C" int prctl(int, ...) {
  errno = ENOSYS;
  return -1;
}

extern "C" int sched_getaffinity(pid_t, size_t, cpu_set_t*) {
  errno = ENOSYS;
  return -1;
}

// CPU_COUNT's helper: a page's show runs on one thread.
extern "C" int __sched_cpucount(size_t, const cpu_set_t*) { return 1; }
