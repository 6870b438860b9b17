// The system side on Linux: the kernel's Sleep, the program's own path, the processes a message box
// leaves behind, and what the SDL backend asks of Linux.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/platform_local.h"

// Real time, whatever clock GetTickCount follows.
void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::string programPath() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  return std::string(path, size_t(length));
}

// The processes this one started that are still there.
static std::vector<pid_t> childProcesses() {
  std::vector<pid_t> children;
  DIR* processes = opendir("/proc");
  if (!processes) return children;
  while (dirent* entry = readdir(processes)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::string path = std::string("/proc/") + entry->d_name + "/stat";
    FILE* stat = std::fopen(path.c_str(), "r");
    if (!stat) continue;
    char line[512] = {};
    size_t length = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    // "pid (name) state ppid ...": the name may hold spaces and parentheses, so look after the last ')'.
    const char* after_name = std::strrchr(line, ')');
    char state = 0;
    int parent = 0;
    if (length > 0 && after_name && std::sscanf(after_name + 1, " %c %d", &state, &parent) == 2 && parent == getpid())
      children.push_back(pid_t(std::atoi(entry->d_name)));
  }
  closedir(processes);
  return children;
}

// SIGKILL: a box's process inherited our handlers, so it would only note a SIGTERM.
void endChildProcesses() {
  for (pid_t child : childProcesses()) kill(child, SIGKILL);
}

// Mesa reads this when the GL driver is loaded, before the first context of the process.
void askForSoftwareGl() { setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1); }

// Mesa's EGL draws without a display.
const char* headlessVideoDriver() { return "offscreen"; }

// libGL exports every GL function the device calls.
bool findGlFunctions(GlFunctionLookup, std::string*) { return true; }

// A program on Linux has the standard streams of whoever started it.
void attachParentConsole() {}
