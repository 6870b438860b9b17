// The window and its messages as the show sees them: one message a pass, Esc and F12 turning into a
// close, the close destroying the window through the window procedure, other keys doing nothing.
#include <gtest/gtest.h>

#include <vector>

#include "platform/test_hooks.h"
#include "shell/shell.h"

namespace {

std::vector<UINT> procedure_saw;

LRESULT recordingProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  procedure_saw.push_back(message);
  if (message == WM_DESTROY) return 0;
  return DefWindowProcA(window, message, wparam, lparam);
}

class WindowMessages : public testing::Test {
 protected:
  HWND window = nullptr;
  void SetUp() override {
    procedure_saw.clear();
    platform_settings.headless = true;
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = recordingProcedure;
    window_class.lpszClassName = "test window";
    ASSERT_NE(RegisterClassExA(&window_class), 0);
    window = CreateWindowExA(0, "test window", "test", WS_VISIBLE, CW_USEDEFAULT, 0, 640, 480, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override { resetWindows(); }
};

TEST_F(WindowMessages, PeekTakesAtMostOneMessageAPass) {
  injectKeyDown(window, 'A');
  injectKeyDown(window, 'B');
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_KEYDOWN);
  EXPECT_EQ(message.wParam, WPARAM('A'));
  ASSERT_TRUE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.wParam, WPARAM('B'));
  EXPECT_FALSE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
}

// The key goes nowhere itself; the WM_CLOSE it posts reaches DefWindowProcA, which destroys the window.
void expectKeyClosesWindow(HWND window, WPARAM key) {
  int exit_code = -1;
  injectKeyDown(window, key);
  EXPECT_FALSE(takeWindowMessage(window, &exit_code));
  EXPECT_TRUE(procedure_saw.empty());
  EXPECT_FALSE(takeWindowMessage(window, &exit_code));
  ASSERT_EQ(procedure_saw.size(), 1u);
  EXPECT_EQ(procedure_saw[0], UINT(WM_DESTROY));
}

TEST_F(WindowMessages, EscapeClosesTheWindowThroughTheWindowProcedure) { expectKeyClosesWindow(window, VK_ESCAPE); }

TEST_F(WindowMessages, F12ClosesTheWindowThroughTheWindowProcedure) { expectKeyClosesWindow(window, VK_F12); }

TEST_F(WindowMessages, OtherKeysHaveNoEffect) {
  int exit_code = -1;
  for (WPARAM key : {WPARAM('Q'), VK_SPACE, WPARAM(0x70)}) injectKeyDown(window, key);
  for (int pass = 0; pass < 4; ++pass) EXPECT_FALSE(takeWindowMessage(window, &exit_code));
  EXPECT_TRUE(procedure_saw.empty());
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
}

TEST_F(WindowMessages, CloseBoxDestroysTheWindow) {
  int exit_code = -1;
  injectCloseBox(window);
  EXPECT_FALSE(takeWindowMessage(window, &exit_code));
  ASSERT_EQ(procedure_saw.size(), 1u);
  EXPECT_EQ(procedure_saw[0], UINT(WM_DESTROY));
}

TEST_F(WindowMessages, QuitEndsTheLoopWithItsCode) {
  int exit_code = -1;
  PostMessageA(window, WM_QUIT, 7, 0);
  EXPECT_TRUE(takeWindowMessage(window, &exit_code));
  EXPECT_EQ(exit_code, 7);
}

// Without a display a box is one line on standard error; a caption that ends in its own colon gets no
// second one.
TEST_F(WindowMessages, HeadlessBoxesAreOneLineWithOneColon) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Unable to mount data file storage!", "Demo Problem Report", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "rock.jpg", "Picture not found:", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Demo Problem Report: Unable to mount data file storage!\nPicture not found: rock.jpg\n");
}

}  // namespace
