// Run-time settings of the stand-ins and the clock behind GetTickCount.
//
// Live runs read a monotonic clock. Capture and tests use a virtual clock that moves only when a
// frame ends (EndScene), by exactly one frame period, so every drawn frame shows exactly its moment
// of the timeline whatever the machine's speed.
#include <chrono>

#include "platform/settings.h"

PlatformSettings platform_settings;

static DWORD virtual_clock_origin = 0;
static uint64_t virtual_frames = 0;

void resetVirtualClock(DWORD origin) {
  virtual_clock_origin = origin;
  virtual_frames = 0;
}

void advanceVirtualClock() { ++virtual_frames; }

int virtualClockRate(int fps) { return fps > 0 ? fps : 60; }

// The live clock: milliseconds of the monotonic clock, less the time spent paused.
static bool clock_paused = false;
static DWORD paused_at = 0;
static DWORD time_paused = 0;

static DWORD monotonicMilliseconds() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  // Windows' tick count starts at boot, not at zero; an offset keeps arithmetic honest about wraps.
  return DWORD(duration_cast<milliseconds>(steady_clock::now() - start).count()) + 0x10000u;
}

void pauseClock(bool paused) {
  if (paused == clock_paused) return;
  if (paused)
    paused_at = monotonicMilliseconds();
  else
    time_paused += monotonicMilliseconds() - paused_at;
  clock_paused = paused;
}

bool clockPaused() { return clock_paused; }

DWORD GetTickCount() {
  if (platform_settings.virtual_clock) {
    int fps = virtualClockRate(platform_settings.fps);
    // Accumulated exactly: frame n falls at floor(n * 1000 / fps) ms, never drifting.
    return virtual_clock_origin + DWORD(virtual_frames * 1000 / uint64_t(fps));
  }
  return (clock_paused ? paused_at : monotonicMilliseconds()) - time_paused;
}
