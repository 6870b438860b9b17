// Presentation into a real X window (Xvfb, no window manager), in this process, looked at through
// screenshots: a window resized from outside while a frame is drawn gets that frame laid out for its new
// size, though the main loop takes the window system's events only after presenting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "headless.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "test_support.h"
#include "x_screen.h"

namespace {

class PresentationOnXScreen : public testing::Test {
 protected:
  void SetUp() override {
    xvfb = programPath("Xvfb");
    import = programPath("import");
    xdotool = programPath("xdotool");
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh --tests installs it)";
    ASSERT_FALSE(import.empty() || xdotool.empty()) << "ImageMagick's import or xdotool is not installed";
    folder = scratchFolder();
    screen = startXvfb(xvfb, 1024, 768);
    ASSERT_FALSE(screen.display.empty()) << "Xvfb did not start";
    // This process's SDL opens the X screen, whatever driver the test run names for the others.
    setenv("DISPLAY", screen.display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    platform_settings.windowed = true;
    window = openHeadlessWindow(640, 480);
    ASSERT_NE(window, nullptr);
    D3DXInitialize();
    ASSERT_EQ(D3DXCreateContextEx(D3DX_HWLEVEL_RASTER, D3DX_CONTEXT_FULLSCREEN, window, nullptr, 24, 0, 32, 0, 2, 640,
                                  480, D3DX_DEFAULT, &context),
              S_OK);
    device = context->GetD3DDevice();
  }
  void TearDown() override {
    if (device) device->Release();
    if (context) context->Release();
    stopXvfb(&screen);
  }

  // A frame that covers the show's whole screen in grey, presented.
  void presentFrame() {
    drawFlatRectangle(device, 0, 0, 640, 480, 0xFF808080);
    EXPECT_EQ(context->UpdateFrame(0), S_OK);
  }

  Box screenshotBox() {
    std::string shot = folder + "/screen.png";
    ChildResult run = runChild({import, "-display", screen.display, "-window", "root", shot}, folder, {}, 30);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    return pictureBox(readPng(shot));
  }

  std::string xvfb, import, xdotool, folder;
  XScreen screen;
  HWND window = nullptr;
  ID3DXContext* context = nullptr;
  IDirect3DDevice7* device = nullptr;
};

TEST_F(PresentationOnXScreen, TheFrameAfterAResizeOrAltEnterIsLaidOutForTheNewSize) {
  presentFrame();
  Box box = screenshotBox();
  ASSERT_TRUE(near(box, {192, 144, 831, 623})) << "a 640 x 480 window in the middle, not " << text(box);

  // Resized from outside, as a viewer or a window manager does, and only then presented: no message was
  // taken in between, as none is while a frame is drawn.
  ChildResult resized = runChild({xdotool, "search", "--name", "narvu headless window", "windowsize", "--sync", "%1",
                                  "800", "400"},
                                 folder, {"DISPLAY=" + screen.display}, 30);
  ASSERT_EQ(resized.exit_code, 0) << resized.output;
  presentFrame();
  box = screenshotBox();
  EXPECT_TRUE(near(box, {325, 144, 857, 543})) << "800 x 400 holds 533 x 400 between bars, not " << text(box);

  // Alt+Enter is taken with the messages after a frame; the next frame fills the screen.
  pressKeyboardKey(0x0D, true);
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
  }
  presentFrame();
  box = screenshotBox();
  EXPECT_TRUE(near(box, {0, 0, 1023, 767})) << "full screen after Alt+Enter, not " << text(box);
}

}  // namespace
