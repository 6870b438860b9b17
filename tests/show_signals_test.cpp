// Ctrl-C and kill end every mode of the show through its own clean-up: live play and the music alone
// exit 0 as after Esc. (Captures are in show_capture_options_test.cpp.)
#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

bool occursIn(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ShowSignals, MusicOnlyStopsOnSigint) {
  std::string folder = scratchFolder();
  ChildSignal interrupt;
  interrupt.number = SIGINT;
  interrupt.when_output_has = "playing...";
  // The music lasts 110 s; the run must end long before.
  ChildResult run = runChild({kShow, "--music-only"}, folder, {"SDL_AUDIODRIVER=dummy"}, 20, interrupt);
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(occursIn(run.output, "stopped after")) << run.output;
}

// Live play on the offscreen driver, asked for explicitly: SIGTERM ends it as Esc would, and the
// timedemo's report, printed on the way out, shows the way out was the clean one. Its frames, shown to
// nobody, are still sent to the driver and waited for: it used to grow by tens of megabytes a second.
TEST(ShowSignals, LivePlayEndsOnSigtermAsOnEscape) {
  std::string folder = scratchFolder();
  ChildSignal terminate;
  terminate.number = SIGTERM;
  terminate.after_milliseconds = 8000;
  ChildResult run = runChild({kShow, "nosound", "--timedemo", "--windowed"}, folder, {"SDL_VIDEODRIVER=offscreen"}, 30,
                             terminate);
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(occursIn(run.output, "timedemo: ")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "first scene")) << run.output;
  EXPECT_LT(run.peak_memory_kb, 350 * 1024 + kSanitizerMemoryKb);
}

}  // namespace
