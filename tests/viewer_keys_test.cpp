// The viewer's keys in live play: a seek puts the timeline where playing would have put it, a pause
// holds the clock, and outside live play the keys do nothing.
#include <gtest/gtest.h>

#include "platform/test_hooks.h"
#include "shell/shell.h"

namespace {

class ViewerKeys : public testing::Test {
 protected:
  Scene first = {}, second = {};

  void SetUp() override {
    first.frame_count = 1500;
    second.frame_count = 750;
    first_scene = current_scene = &first;
    second_scene = &second;
    sound_disabled = true;
    platform_settings.virtual_clock = true;
    platform_settings.fps = 25;
    resetVirtualClock(0x20000);
    startTimeline(GetTickCount());
  }
  void TearDown() override {
    platform_settings = PlatformSettings();
    viewer_keys_enabled = false;
  }
  // Lets the show play on for `frames` passes of 40 ms.
  void play(int frames) {
    for (int i = 0; i < frames; ++i) {
      advanceVirtualClock();
      timelineFrame(GetTickCount());
    }
  }
  static int32_t moment() { return int32_t(GetTickCount() - demo_start_ms); }
};

TEST_F(ViewerKeys, StepsAndRestartLandWhereTheTimelineWouldBe) {
  play(1600);  // 64 s: in the second scene
  ASSERT_EQ(current_scene, &second);
  takeViewerKey(VK_LEFT);
  EXPECT_EQ(moment(), 59000);
  EXPECT_EQ(current_scene, &first);  // the first scene ends at 60 s
  takeViewerKey(VK_RIGHT);
  takeViewerKey(VK_RIGHT);
  EXPECT_EQ(moment(), 69000);
  EXPECT_EQ(current_scene, &second);
  EXPECT_EQ(timelineFrame(GetTickCount()), (69000 - 60000) / 40);
  takeViewerKey(VK_HOME);
  EXPECT_EQ(moment(), 0);
  EXPECT_EQ(current_scene, &first);
  EXPECT_EQ(timelineFrame(GetTickCount()), 0);
  takeViewerKey(VK_LEFT);  // nothing before the start
  EXPECT_EQ(moment(), 0);
}

TEST_F(ViewerKeys, SeekingPastTheEndStopsAtItsLastMoment) {
  play(2600);  // 104 s: the end logo has started
  for (int i = 0; i < 3; ++i) takeViewerKey(VK_RIGHT);
  EXPECT_EQ(moment(), int32_t(kShowLengthMs) - 1);
  EXPECT_TRUE(end_logo_started);
  EXPECT_FALSE(exit_requested);
}

TEST_F(ViewerKeys, SpaceHoldsTheClockAndTheFrameUntilPressedAgain) {
  platform_settings.virtual_clock = false;
  startTimeline(GetTickCount());
  EXPECT_TRUE(viewerWantsFrame());
  takeViewerKey(VK_SPACE);
  DWORD held = GetTickCount();
  Sleep(30);
  EXPECT_EQ(GetTickCount(), held);
  EXPECT_FALSE(viewerWantsFrame());
  // A seek while paused shows its moment once.
  takeViewerKey(VK_RIGHT);
  EXPECT_TRUE(viewerWantsFrame());
  EXPECT_FALSE(viewerWantsFrame());
  takeViewerKey(VK_SPACE);
  Sleep(30);
  EXPECT_GT(GetTickCount(), held);
  EXPECT_TRUE(viewerWantsFrame());
}

// The page's control bar: a seek lands where the keys land, at any moment; a pause is a state, not a
// toggle, so a second press of the bar's button that arrives late does not undo the first.
TEST_F(ViewerKeys, TheControlsSeekAndPauseAsTheKeysDo) {
  takeViewerControl(WM_VIEWER_SEEK, 69000);
  EXPECT_EQ(current_scene, &second);
  EXPECT_EQ(timelineFrame(GetTickCount()), (69000 - 60000) / 40);
  takeViewerControl(WM_VIEWER_SEEK, 500000);
  EXPECT_EQ(moment(), int32_t(kShowLengthMs) - 1);

  // The pause holds the real clock (the virtual one moves only when a pass asks it to).
  platform_settings.virtual_clock = false;
  startTimeline(GetTickCount());
  takeViewerControl(WM_VIEWER_SEEK, 30000);
  takeViewerControl(WM_VIEWER_PAUSE, 1);
  takeViewerControl(WM_VIEWER_PAUSE, 1);
  EXPECT_TRUE(viewerPaused());
  DWORD held = GetTickCount();
  Sleep(30);
  EXPECT_EQ(GetTickCount(), held);
  takeViewerControl(WM_VIEWER_SEEK, 12345);
  EXPECT_EQ(moment(), 12345);
  EXPECT_TRUE(viewerWantsFrame()) << "a seek while paused shows its moment";
  EXPECT_FALSE(viewerWantsFrame());
  takeViewerControl(WM_VIEWER_PAUSE, 0);
  EXPECT_FALSE(viewerPaused());
  Sleep(30);
  EXPECT_GT(GetTickCount(), held);
  takeViewerKey(VK_SPACE);
  EXPECT_TRUE(viewerPaused()) << "Space and the controls share one pause";
  takeViewerControl(WM_VIEWER_PAUSE, 0);
}

}  // namespace
