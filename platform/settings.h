// Run-time settings of the stand-ins, and the clock behind GetTickCount (platform/settings.cpp).
//
// Nothing in platform/ knows what the show is: the clock's rate and where music rendered offline goes
// come from here. Who writes platform_settings, and when (tests and benchmarks set them directly too):
//   runNarvu (shell/run_narvu.cpp)         every field, from the options, before anything starts;
//   beginCapture (capture/capture.cpp)     virtual_clock, fps and headless, before the context exists;
//   prepareCapture, finishCaptureRun       the sound_capture_ fields of a capture (shell/capture_run.cpp);
//   the join's music (shell/capture_parts.cpp)  virtual_clock, fps, headless and the sound_capture_ fields;
//   the screen (platform/sdl/sdl_window.cpp)    headless, when the video driver it started draws nowhere
//                                               (SDL_VIDEODRIVER=offscreen given by the user).
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
// The frames a second of a clock asked to run at `fps`: fps, or 60 when it is not above 0 (settings that
// were never filled in). Every rate of the virtual clock and of a capture goes through here.
int virtualClockRate(int fps);
