// A capture run as the shell sets it up: off-screen on the virtual clock, the music rendered offline
// beside the frames, and both finished however the run ends.
#include <cstdlib>
#include <string>

#include "shell/shell.h"

// The music so far is written first, then the video is finished with it.
static void finishCaptureRun() {
  finishSoundCapture();
  finishCapture();
}

void prepareCapture() {
  platform_settings.virtual_clock = true;
  platform_settings.headless = true;
  platform_settings.capture_length_seconds = kShowLengthMs / 1000.0;
  const std::string& path = platform_settings.capture_path;
  platform_settings.sound_capture_path = captureIsVideo() ? path + ".audio.wav" : path + "/audio.wav";
  // The timeline's end, a capture failure and an early exit all leave through exit().
  std::atexit(finishCaptureRun);
}
