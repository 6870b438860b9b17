// --timedemo: live play on the real clock, timed frame by frame. A frame's time runs from one
// presentation to the next, so it holds everything a viewer waits for: the timeline, the drawing,
// llvmpipe's rasterising and the presentation. The report is printed once, at the show's end or at an
// early one (Esc, the close box, a signal), which leaves through exit().
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/shell.h"

using Clock = std::chrono::steady_clock;

struct TimedFrame {
  const Scene* scene;
  double milliseconds;
  unsigned long moment_ms;  // the timeline's moment the frame showed
};

bool timedemo_enabled = false;
static bool running = false;
static bool reported = false;
static Clock::time_point last_presented;
static std::vector<TimedFrame> frames;

bool timedemoRunning() { return running; }

static double percentile(std::vector<double> times, double fraction) {
  if (times.empty()) return 0;
  std::sort(times.begin(), times.end());
  size_t at = size_t(fraction * double(times.size() - 1) + 0.5);
  return times[std::min(at, times.size() - 1)];
}

// One line of figures for the frames of `scene` (all frames when null).
static void printLine(const char* label, const Scene* scene) {
  std::vector<double> times;
  double total = 0;
  for (const TimedFrame& frame : frames)
    if (!scene || frame.scene == scene) {
      times.push_back(frame.milliseconds);
      total += frame.milliseconds;
    }
  if (times.empty()) return;
  double median = percentile(times, 0.5);
  long slow = long(std::count_if(times.begin(), times.end(), [median](double t) { return t > 2 * median; }));
  std::printf("  %-14s %5zu frames, %5.1f frames/s; frame time median %.1f ms, 99th percentile %.1f ms, "
              "longest %.1f ms; %ld over twice the median\n",
              label, times.size(), total > 0 ? 1000.0 * double(times.size()) / total : 0.0, median,
              percentile(times, 0.99), *std::max_element(times.begin(), times.end()), slow);
}

// Where the long frames fall in the show, and the frame after each, so that what makes them can be told
// (a scene's change or a state drawn for the first time recur at their moments; two frames' drawing
// waited for at once leaves the next frame short): at most the first 12.
static void printLongFrames(double median) {
  std::string moments;
  int listed = 0;
  for (size_t i = 1; i < frames.size() && listed < 12; ++i)
    if (frames[i].milliseconds > 3 * median) {
      char moment[64];
      double next = i + 1 < frames.size() ? frames[i + 1].milliseconds : 0.0;
      std::snprintf(moment, sizeof moment, "%s%.2f s (%.0f ms, then %.0f)", listed ? ", " : "",
                    double(frames[i].moment_ms) / 1000.0, frames[i].milliseconds, next);
      moments += moment;
      ++listed;
    }
  if (listed) std::printf("  long frames at %s\n", moments.c_str());
}

// The first frame carries what only a first frame does (the window shown, the driver's first
// presentation); smoothness is judged on the frames after it, against the whole show's median.
static void printAfterTheFirst() {
  if (frames.size() < 2) return;
  std::vector<double> times;
  for (const TimedFrame& frame : frames) times.push_back(frame.milliseconds);
  double median = percentile(times, 0.5);
  double longest = *std::max_element(times.begin() + 1, times.end());
  long slow = long(std::count_if(times.begin() + 1, times.end(), [median](double t) { return t > 3 * median; }));
  std::printf("  first frame %.1f ms; after it the longest %.1f ms (%.1f x the median), %ld over three times the "
              "median\n",
              times[0], longest, median > 0 ? longest / median : 0.0, slow);
  printLongFrames(median);
}

static void printTimedemo() {
  if (!running || reported) return;
  reported = true;
  double total = 0;
  for (const TimedFrame& frame : frames) total += frame.milliseconds;
  std::printf("timedemo: %zu frame%s presented in %.1f s, %.1f frames/s\n", frames.size(),
              frames.size() == 1 ? "" : "s", total / 1000.0, total > 0 ? 1000.0 * double(frames.size()) / total : 0.0);
  printLine("whole show", nullptr);
  printAfterTheFirst();
  printLine("first scene", first_scene);
  printLine("second scene", second_scene);
  std::fflush(stdout);
}

void startTimedemo() {
  running = true;
  frames.reserve(8192);
  last_presented = Clock::now();
  std::atexit(printTimedemo);
}

void recordTimedemoFrame(const Scene* scene, unsigned long moment_ms) {
  Clock::time_point now = Clock::now();
  frames.push_back({scene, std::chrono::duration<double, std::milli>(now - last_presented).count(), moment_ms});
  last_presented = now;
}
