// The show's timeline: scene alternation, fades, the end logo and the stop, driven by chosen tick
// counts on scenes of chosen lengths.
#include <gtest/gtest.h>

#include <vector>

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
    fade_texture = start_logo_texture = start_logo;
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

// Everything a pass decides, to compare two ways of reaching a moment.
struct TimelineState {
  Scene* scene;
  DWORD scene_start;
  int32_t previous_frames;
  bool end_logo;
  bool exit;
  IDirectDrawSurface7* fade;
  int32_t fade_start;
  int32_t fade_half;
  int frame;
  bool operator==(const TimelineState& o) const {
    return scene == o.scene && scene_start == o.scene_start && previous_frames == o.previous_frames &&
           end_logo == o.end_logo && exit == o.exit && fade == o.fade && fade_start == o.fade_start &&
           fade_half == o.fade_half && frame == o.frame;
  }
};

TimelineState timelineState(int frame) {
  return {current_scene,  scene_start_ms, previous_frame_count, end_logo_started, exit_requested,
          fade_texture,   fade_start_ms,  fade_half_length,     frame};
}

TEST_F(Timeline, ReplayReachesTheStateOfPlayingToEveryMomentAroundItsEvents) {
  const int first_frames = 1500, second_frames = 750;
  // Scene-end fades, switches (the first scene resumes at frame 450), the end logo and the end.
  std::vector<DWORD> events = {(first_frames - 75) * 40, first_frames * 40, (first_frames + second_frames - 75) * 40,
                               (first_frames + second_frames) * 40, (first_frames + second_frames + 1050 - 75) * 40,
                               104000, 107480, 107500};
  for (DWORD event : events) {
    for (DWORD moment : {event - 40, event - 1, event, event + 1, event + 40}) {
      start(first_frames, second_frames);
      int frame = 0;
      // A run at 25 passes a second, then one pass at the moment itself.
      for (DWORD ms = 0; ms < moment; ms += 40) frame = timelineFrame(at(ms));
      frame = timelineFrame(at(moment));
      TimelineState played = timelineState(frame);

      start(first_frames, second_frames);
      for (DWORD ms = 0; ms < 60000; ms += 1000) timelineFrame(at(ms));  // somewhere else first
      frame = replayTimeline(kStart, at(moment));
      EXPECT_TRUE(played == timelineState(frame)) << "at " << moment << " ms";
    }
  }
}

}  // namespace
