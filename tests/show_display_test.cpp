// The show on an X screen of its own (Xvfb, no window manager), looked at through screenshots: full
// screen covers the whole screen with the 4:3 picture between black bars, a window's picture follows
// the window's size, and Alt+Enter switches between the two while the show plays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

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

struct XScreen {
  pid_t pid = -1;
  std::string display;  // ":N"; empty when the server did not start
};

// Xvfb chooses a free display number itself and writes it to -displayfd once it accepts clients, so
// tests running side by side never share a screen and none has to guess when the server is ready.
// -br: a black root window, so that everything around the show's picture is pure black.
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
          static_cast<char*>(nullptr));
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

// The smallest rectangle (edges included) that holds every pixel that is not pure black: with the bars
// and the desktop pure black, the presented picture. right < left when the image is all black.
struct Box {
  int left, top, right, bottom;
};

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

// Within a pixel: scaling rounds, and GL counts rows from the bottom.
bool near(const Box& a, const Box& b) {
  return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 && std::abs(a.right - b.right) <= 1 &&
         std::abs(a.bottom - b.bottom) <= 1;
}

std::string text(const Box& box) {
  std::ostringstream out;
  out << "x " << box.left << ".." << box.right << ", y " << box.top << ".." << box.bottom;
  return out.str();
}

class ShowOnXScreen : public testing::Test {
 protected:
  void SetUp() override {
    xvfb = programPath("Xvfb");
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh --tests installs it)";
    import = programPath("import");
    xdotool = programPath("xdotool");
    ASSERT_FALSE(import.empty()) << "ImageMagick's import is not installed";
    ASSERT_FALSE(xdotool.empty()) << "xdotool is not installed";
    folder = scratchFolder();
  }

  void TearDown() override {
    if (show.pid > 0) waitChild(&show, 0);
    if (screen.pid > 0) {
      kill(screen.pid, SIGTERM);
      waitpid(screen.pid, nullptr, 0);
    }
  }

  // The show on a screen of its own, as a user starts it there: no driver named, no sound card.
  void startShow(int width, int height, const std::vector<std::string>& options) {
    screen = startXvfb(xvfb, width, height);
    ASSERT_FALSE(screen.display.empty()) << "Xvfb did not start";
    // The show draws as fast as it can (Xvfb has no refresh to wait for) on every core; at the lowest
    // priority it leaves the server and the screenshots their turn.
    std::vector<std::string> arguments = {programPath("nice"), "-n", "19", kShow, "nosound"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    show = startChild(arguments, folder,
                      {"DISPLAY=" + screen.display, "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=", "SDL_AUDIODRIVER=dummy"},
                      "show-output.txt");
  }

  // xdotool on the show's screen; its standard output.
  std::string runXdotool(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {xdotool};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildResult run = runChild(command, folder, {"DISPLAY=" + screen.display}, 30);
    EXPECT_EQ(run.exit_code, 0) << "xdotool failed: " << run.output;
    return run.output;
  }

  // Screenshots until the picture is `expected`, for at most 60 seconds: the show needs a while to load
  // on a busy machine, and a frame may be dark at an edge. The box of the last screenshot.
  Box waitForPicture(const Box& expected) {
    std::string shot = folder + "/screen.png";
    Box box = {0, 0, -1, -1};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      ChildResult run = runChild({import, "-display", screen.display, "-window", "root", shot}, folder, {}, 30);
      Image image = readPng(shot);
      if (run.exit_code == 0 && !image.rgb.empty()) {
        box = pictureBox(image);
        if (near(box, expected)) return box;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return box;
  }

  void expectPicture(const Box& expected, const char* what) {
    Box box = waitForPicture(expected);
    EXPECT_TRUE(near(box, expected)) << what << ": the picture is at " << text(box) << ", not at " << text(expected)
                                     << "\n"
                                     << readShowOutput();
  }

  std::string readShowOutput() {
    std::vector<unsigned char> bytes = readFile(show.output_path);
    return std::string(bytes.begin(), bytes.end());
  }

  std::string xvfb, import, xdotool, folder;
  XScreen screen;
  RunningChild show;
};

// Without a window manager nobody answers a full-screen request; the window must still cover the
// screen, and the picture be scaled for the window it really has.
TEST_F(ShowOnXScreen, FullScreenFillsA4By3ScreenWithoutAWindowManager) {
  startShow(1024, 768, {});
  expectPicture({0, 0, 1023, 767}, "full screen at 1024 x 768");
}

TEST_F(ShowOnXScreen, FullScreenOnAWideScreenKeeps4By3BetweenBlackBars) {
  startShow(1280, 720, {});
  // 960 x 720 in the middle; the 160-pixel bars left and right are pure black.
  expectPicture({160, 0, 1119, 719}, "full screen at 1280 x 720");
}

// A window of its own size, resized from outside, then full screen with Alt+Enter and back to the
// window's size; the keys on the way are the window system's, and Esc still ends the show normally.
TEST_F(ShowOnXScreen, TheWindowsPictureFollowsItsSizeAndAltEnterSwitchesToFullScreenAndBack) {
  startShow(1024, 768, {"--windowed"});
  expectPicture({192, 144, 831, 623}, "a 640 x 480 window in the middle");
  if (HasFailure()) return;

  std::string window = runXdotool({"search", "--pid", std::to_string(show.pid)});
  window = window.substr(0, window.find('\n'));
  ASSERT_FALSE(window.empty());
  // Without a window manager the window keeps its corner at (192, 144): 800 x 400 holds a 533 x 400
  // picture with 133-pixel bars left and right.
  runXdotool({"windowsize", window, "800", "400"});
  expectPicture({325, 144, 857, 543}, "the window resized to 800 x 400");

  runXdotool({"key", "alt+Return"});
  expectPicture({0, 0, 1023, 767}, "after Alt+Enter in the window");
  runXdotool({"key", "alt+Return"});
  // Back to 800 x 400, now centred: its corner at (112, 184).
  expectPicture({245, 184, 777, 583}, "after Alt+Enter in full screen");
  runXdotool({"key", "Escape"});
  ChildResult end = waitChild(&show, 20);
  EXPECT_EQ(end.exit_code, 0) << end.output;
}

}  // namespace
