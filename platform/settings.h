// Run-time settings of the stand-ins, and the clock behind GetTickCount (platform/settings.cpp).
//
// main() fills the settings from its options before the show starts; tests and benchmarks set them
// directly. Nothing in platform/ knows what the show is: the clock's rate and where music rendered
// offline goes come from here.
#pragma once

#include <string>

#include "platform/win32.h"

struct PlatformSettings {
  bool virtual_clock = false;  // GetTickCount advances by one frame period at every EndScene
  int fps = 60;                // frame rate of the virtual clock
  bool headless = false;       // no display: SDL's offscreen driver, message boxes on standard error
  bool windowed = false;       // a resizable 640 × 480 window instead of full screen
  int display = 0;             // the display that full screen covers and the window opens on (0: primary)
  bool vsync = true;           // live presentation waits for the display's refresh (captures never wait)
  int render_width = 640;      // size of the off-screen render target
  int render_height = 480;
  int msaa_samples = 0;        // multisampling of the render target (0: none)
  int anisotropy = 0;          // anisotropic filtering (0: off)

  // Non-empty: the sound library opens no audio device and renders the music offline into this WAV
  // file instead (see finishSoundCapture), which a capture keeps or muxes into its video. The file
  // holds the sound of the picture frames from the first to the start of the end frame (-1: to the
  // clock when it is written).
  std::string sound_capture_path;
  long sound_capture_first_frame = 0;
  long sound_capture_end_frame = -1;
};
extern PlatformSettings platform_settings;

// The virtual clock: GetTickCount() = origin + floor(frames * 1000 / fps), where frames counts the
// calls of advanceVirtualClock. The devices' EndScene calls it, so every drawn pass moves time on by
// exactly one frame period.
void advanceVirtualClock();
