// The show's timeline: scene alternation, fades, the end logo and the stop, driven by chosen tick
// counts on scenes of chosen lengths.
#include <gtest/gtest.h>

#include "shell/shell.h"

namespace {

const DWORD kStart = 0xFFFF0000u;  // close to the 32-bit wrap, which must do no harm

class Timeline : public testing::Test {
 protected:
  Scene first = {}, second = {};
  IDirectDrawSurface7* start_logo = reinterpret_cast<IDirectDrawSurface7*>(0x100);
  IDirectDrawSurface7* end_logo = reinterpret_cast<IDirectDrawSurface7*>(0x200);

  void start(int first_frames, int second_frames) {
    first.frame_count = first_frames;
    second.frame_count = second_frames;
    first_scene = current_scene = &first;
    second_scene = &second;
    fade_texture = start_logo;
    end_logo_texture = end_logo;
    fade_half_length = 250;
    fade_start_ms = int32_t(kStart - 10000);
    startTimeline(kStart);
  }
  static DWORD at(DWORD ms) { return kStart + ms; }
};

TEST_F(Timeline, FirstSceneRunsFromFrameZeroAtFortyMillisecondsAFrame) {
  start(1500, 750);
  EXPECT_EQ(timelineFrame(at(0)), 0);
  EXPECT_EQ(timelineFrame(at(39)), 0);
  EXPECT_EQ(timelineFrame(at(40)), 1);
  EXPECT_EQ(timelineFrame(at(1000)), 25);
  EXPECT_EQ(current_scene, &first);
  EXPECT_EQ(fade_half_length, 250);  // the opening fade is still the one running
}

TEST_F(Timeline, SwitchToSecondSceneDrawsElapsedFramesModuloItsLengthThenCountsFromZero) {
  start(100, 30);
  EXPECT_EQ(timelineFrame(at(99 * 40)), 99);
  EXPECT_EQ(timelineFrame(at(105 * 40)), 105 % 30);
  EXPECT_EQ(current_scene, &second);
  EXPECT_EQ(timelineFrame(at(105 * 40 + 40)), 1);
  EXPECT_EQ(timelineFrame(at(105 * 40 + 29 * 40)), 29);
}

TEST_F(Timeline, FirstSceneResumesAtFrame450AfterTheSecondScene) {
  start(600, 100);
  timelineFrame(at(600 * 40));  // switch to the second scene
  DWORD second_start = at(600 * 40);
  EXPECT_EQ(timelineFrame(second_start + 100 * 40), 0);  // switch back draws frame 0 once
  EXPECT_EQ(current_scene, &first);
  EXPECT_EQ(timelineFrame(second_start + 100 * 40 + 1), 450);
  EXPECT_EQ(timelineFrame(second_start + 100 * 40 + 40), 451);
}

TEST_F(Timeline, SceneEndFadeStartsOnceWhenTheFrameCountCrossesSeventyFiveBeforeTheEnd) {
  start(1500, 750);
  timelineFrame(at(1424 * 40));
  EXPECT_EQ(fade_half_length, 250);
  timelineFrame(at(1425 * 40));
  EXPECT_EQ(fade_half_length, 75);
  EXPECT_EQ(fade_start_ms, int32_t(at(1425 * 40)));
  EXPECT_EQ(fade_texture, start_logo);  // the fade keeps its picture
  timelineFrame(at(1430 * 40));
  EXPECT_EQ(fade_start_ms, int32_t(at(1425 * 40)));  // not restarted
}

TEST_F(Timeline, EndLogoStartsExactlyOnceAndLaterSceneFadesShowIt) {
  start(2700, 100);  // the first scene's end fade falls after 104 s
  for (DWORD ms = 0; ms < 103960; ms += 40) timelineFrame(at(ms));
  EXPECT_FALSE(end_logo_started);
  timelineFrame(at(104000));
  EXPECT_TRUE(end_logo_started);
  EXPECT_EQ(fade_texture, end_logo);
  EXPECT_EQ(fade_half_length, 87);
  EXPECT_EQ(fade_start_ms, int32_t(at(104000)));
  timelineFrame(at(2625 * 40));  // the scene-end fade now shows the end logo
  EXPECT_EQ(fade_half_length, 75);
  EXPECT_EQ(fade_texture, end_logo);
  timelineFrame(at(106000));
  EXPECT_EQ(fade_half_length, 75);  // the end logo is not started again
}

TEST_F(Timeline, ExitIsRequestedAt107500Milliseconds) {
  start(1500, 750);
  timelineFrame(at(107499));
  EXPECT_FALSE(exit_requested);
  timelineFrame(at(107500));
  EXPECT_TRUE(exit_requested);
}

TEST_F(Timeline, SceneWithoutFramesStaysAtFrameZeroWithoutSwitchOrFade) {
  for (int frames : {0, -5}) {
    start(frames, 750);
    for (DWORD ms = 0; ms < 100000; ms += 1000) EXPECT_EQ(timelineFrame(at(ms)), 0);
    EXPECT_EQ(current_scene, &first);
    EXPECT_EQ(fade_half_length, 250);
  }
}

TEST_F(Timeline, SecondSceneWithoutFramesIsShownAtFrameZero) {
  start(100, 0);
  EXPECT_EQ(timelineFrame(at(100 * 40)), 0);
  EXPECT_EQ(current_scene, &second);
  EXPECT_EQ(timelineFrame(at(200 * 40)), 0);
}

TEST_F(Timeline, TailHoldsTheSceneLastFrame) {
  start(1500, 750);
  EXPECT_EQ(tailFrame(at(10 * 40)), 10);
  EXPECT_EQ(tailFrame(at(1499 * 40)), 1499);
  EXPECT_EQ(tailFrame(at(1600 * 40)), 1499);
  first.frame_count = 0;
  EXPECT_EQ(tailFrame(at(1600 * 40)), 0);
}

}  // namespace
