// The show on an X screen of its own (Xvfb, no window manager), looked at through screenshots: full
// screen covers the whole screen with the 4:3 picture between black bars, a window's picture follows
// the window's size, and Alt+Enter switches between the two while the show plays.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "x_screen.h"

namespace {

const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

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
    stopXvfb(&screen);
  }

  // The show on a screen of its own, as a user starts it there: no driver named, no sound card.
  void startShow(int width, int height, const std::vector<std::string>& options,
                 const std::string& sound_driver = "dummy") {
    screen = startXvfb(xvfb, width, height);
    ASSERT_FALSE(screen.display.empty()) << "Xvfb did not start";
    // The show draws as fast as it can (Xvfb has no refresh to wait for) on every core; at the lowest
    // priority it leaves the server and the screenshots their turn.
    std::vector<std::string> arguments = {programPath("nice"), "-n", "19", kShow};
    arguments.insert(arguments.end(), options.begin(), options.end());
    show = startChild(
        arguments, folder,
        {"DISPLAY=" + screen.display, "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=", "SDL_AUDIODRIVER=" + sound_driver},
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
  Box waitForPicture(const Box& expected) { return waitForPicture([&](const Box& box) { return near(box, expected); }); }

  // Screenshots until one shows what `wanted` looks for, for at most 60 seconds; the last one's box.
  template <typename Wanted>
  Box waitForPicture(const Wanted& wanted) {
    std::string shot = folder + "/screen.png";
    Box box = {0, 0, -1, -1};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      ChildResult run = runChild({import, "-display", screen.display, "-window", "root", shot}, folder, {}, 30);
      Image image = readPng(shot);
      if (run.exit_code == 0 && !image.rgb.empty()) {
        box = pictureBox(image);
        if (wanted(box)) return box;
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
  startShow(1024, 768, {"nosound"});
  expectPicture({0, 0, 1023, 767}, "full screen at 1024 x 768");
}

TEST_F(ShowOnXScreen, FullScreenOnAWideScreenKeeps4By3BetweenBlackBars) {
  startShow(1280, 720, {"nosound"});
  // 960 x 720 in the middle; the 160-pixel bars left and right are pure black.
  expectPicture({160, 0, 1119, 719}, "full screen at 1280 x 720");
}

// A window of its own size, resized from outside, then full screen with Alt+Enter and back to the
// window's size; the keys on the way are the window system's, and Esc still ends the show normally.
TEST_F(ShowOnXScreen, TheWindowsPictureFollowsItsSizeAndAltEnterSwitchesToFullScreenAndBack) {
  startShow(1024, 768, {"nosound", "--windowed"});
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

// Paused, the show waits for Space; SIGTERM still ends it as Esc would.
TEST_F(ShowOnXScreen, SigtermEndsAPausedShowAsEscapeWould) {
  startShow(1024, 768, {"nosound", "--windowed"});
  expectPicture({192, 144, 831, 623}, "a 640 x 480 window in the middle");
  if (HasFailure()) return;
  runXdotool({"key", "space"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(show.pid, SIGTERM);
  ChildResult end = waitChild(&show, 20);
  EXPECT_EQ(end.exit_code, 0) << end.output;
}

// Without a window manager a box has no frame to close it by; Ctrl-C and kill must still end the show,
// at once, with the exit code of a failed start-up, and take the box with them.
class StartUpBoxOnXScreen : public ShowOnXScreen {
 protected:
  void expectEndedBy(int signal_number, const std::string& name) {
    startShow(1024, 768, {}, "no-such-sound-card");
    auto shown = [](const Box& box) { return box.right >= box.left; };
    auto gone = [](const Box& box) { return box.right < box.left; };
    ASSERT_TRUE(shown(waitForPicture(shown))) << "the sound-failure box never showed (are X's fonts there?)\n"
                                              << readShowOutput();
    auto sent = std::chrono::steady_clock::now();
    kill(show.pid, signal_number);
    ChildResult end = waitChild(&show, 20);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_EQ(end.exit_code, 1) << end.output;
    EXPECT_LT(seconds, 5.0) << "the show took " << seconds << " s to end";
    EXPECT_NE(end.output.find("narvu: ended by " + name + " while a message box was open"), std::string::npos)
        << end.output;
    EXPECT_TRUE(gone(waitForPicture(gone))) << "the box stayed on the screen after the show ended";
  }
};

TEST_F(StartUpBoxOnXScreen, SigtermClosesTheSoundFailureBoxAndEndsTheShowWithOne) {
  expectEndedBy(SIGTERM, "SIGTERM");
}

TEST_F(StartUpBoxOnXScreen, CtrlCClosesTheSoundFailureBoxAndEndsTheShowWithOne) { expectEndedBy(SIGINT, "SIGINT"); }

}  // namespace
