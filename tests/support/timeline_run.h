// The show's timeline from its start, on the virtual clock, as a capture runs it: for benchmarks and
// tests that go through every pass without the show's start-up.
#pragma once

#include "platform/test_hooks.h"
#include "shell/shell.h"

// The opening fade placed as start-up places it, the first scene from frame 0, the clock at 0 moving
// one frame period of `fps` per drawn frame.
inline void startTimelineOnVirtualClock(int fps) {
  platform_settings.virtual_clock = true;
  platform_settings.fps = fps;
  resetVirtualClock(0);
  replayTimeline(0, 0);
}
