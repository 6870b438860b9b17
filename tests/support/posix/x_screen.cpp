#include "x_screen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

// The program's path found through PATH; empty when it is not installed.
std::string programPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Xvfb chooses a free display number itself and writes it to -displayfd once it accepts clients, so
// tests running side by side never share a screen and none has to guess when the server is ready.
// -br: a black root window, so that everything around the show's picture is pure black. -noreset: the
// server would otherwise start over whenever its last client leaves, and a screenshot taken before the
// show has connected is such a client; a show connecting during the reset finds no display.
XScreen startXvfb(const std::string& xvfb, int width, int height) {
  XScreen screen;
  int ends[2];
  if (pipe(ends) != 0) return screen;
  std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    int null_fd = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null_fd, fd);
    std::string fd = std::to_string(ends[1]);
    execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry.c_str(), "-nolisten", "tcp", "-br",
          "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  screen.pid = pid;
  std::string number;
  pollfd ready = {ends[0], POLLIN, 0};
  char c = 0;
  while (poll(&ready, 1, 20000) == 1 && read(ends[0], &c, 1) == 1 && c != '\n') number += c;
  close(ends[0]);
  if (!number.empty() && c == '\n') screen.display = ":" + number;
  return screen;
}

void stopXvfb(XScreen* screen) {
  if (screen->pid <= 0) return;
  kill(screen->pid, SIGTERM);
  waitpid(screen->pid, nullptr, 0);
  screen->pid = -1;
}

Box pictureBox(const Image& image) {
  Box box = {image.width, image.height, -1, -1};
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const unsigned char* p = &image.rgb[(size_t(y) * size_t(image.width) + size_t(x)) * 3];
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x);
      box.bottom = std::max(box.bottom, y);
    }
  return box;
}

bool near(const Box& a, const Box& b) {
  return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 && std::abs(a.right - b.right) <= 1 &&
         std::abs(a.bottom - b.bottom) <= 1;
}

std::string text(const Box& box) {
  std::ostringstream out;
  out << "x " << box.left << ".." << box.right << ", y " << box.top << ".." << box.bottom;
  return out.str();
}
