// A capture run as the shell sets it up and ends it: off-screen on the virtual clock, the music
// rendered offline beside the frames, and both finished however the run ends, with an exit code a
// script can trust: 0 only when every file asked for is complete.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/shell.h"

// An exit that does not come back through main (the window procedure's) still leaves whole files.
static void finishAtExit() { finishCaptureRun(0); }

void prepareCapture() {
  capture_settings.capture_length_seconds = kShowLengthMs / 1000.0;
  beginCapture();
  // A part's music is made once for all parts, by the music part or the join.
  platform_settings.sound_capture_path = capture_settings.capture_segments > 0 ? "" : captureMusicPath();
  // The music starts with the interval's first frame.
  platform_settings.sound_capture_first_frame = captureFirstFrame();
  std::atexit(finishAtExit);
}

int finishCaptureRun(int exit_code) {
  static bool done = false;
  if (done) return exit_code;
  done = true;
  // A run that ended before the show did (its last frame, a failure, a signal) has music to the end
  // of its frames; a whole run's music plays on through the tail, as the show's does.
  if (exit_code != 0 || captureComplete()) platform_settings.sound_capture_end_frame = captureFramesCounted();
  bool sound = finishSoundCapture();
  std::string error;
  bool frames = finishCapture(exit_code > 128, &error);
  // A failure is said once, by itself: a summary after it would read as a success.
  if (int signal_number = captureStoppedBySignal()) {
    std::fprintf(stderr, "narvu: capture interrupted: %s\n", error.c_str());
    return 128 + signal_number;
  }
  if (!frames) std::fprintf(stderr, "narvu: capture failed: %s\n", error.c_str());
  if (!sound || !frames) return 1;
  if (captureFramesWritten() > 0)
    std::fprintf(stderr, "narvu: %s\n", captureSummary().c_str());
  else
    std::fprintf(stderr, "narvu: no frame was written before the capture ended\n");
  return exit_code;
}
