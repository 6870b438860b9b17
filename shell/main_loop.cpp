// The main loop and the tail. Each pass reads the tick count, lets the timeline decide the scene, the
// frame and the fades, draws the frame, presents it and takes at most one window message, until the
// timeline ends; then the tail draws on for 1700 ms without presenting or taking messages.
//
// Live play adds the viewer's keys and controls, starts at --from and ends at --to when they are
// given, and ends on SIGINT or SIGTERM as it ends on Esc. A capture runs on the virtual clock: the
// passes before its first frame make only the timeline's decisions at their moments, so the timeline
// reaches the first frame exactly as a whole run does, at a few nanoseconds a pass whatever the frame
// rate; the run ends right after its last frame, or with the exit code of a signal after finishing
// what it has.
#include <cmath>
#include <cstdio>

#include "shell/shell.h"

static const DWORD kTailMs = 1700;

static bool capturing() { return !capture_settings.capture_path.empty(); }

// A pass before the capture's first frame moves the clock on as a drawn frame's end would. The pass
// right before the first frame is drawn with the device's drawing off: it leaves the device the states
// a frame hands on to the next (the lights, what translucent groups and the overlay leave set; see
// render/render.h), as the whole run's pass there does.
static void skipFrame(int frame) {
  if (captureFramesCounted() + 1 == captureFirstFrame()) {
    setDeviceDrawing(device, false);
    drawSceneFrame(current_scene, frame);
    setDeviceDrawing(device, true);
  } else {
    advanceVirtualClock();
  }
  captureSkipFrame();
}

// A capture ends early on a failure, once its last frame is written, or on a signal; the process's
// exit code then says which.
static bool captureEnds(int* exit_code) {
  // The failure itself is reported once, when the capture is finished (finishCaptureRun).
  if (captureError()) {
    *exit_code = 1;
    return true;
  }
  if (int signal_number = endSignal()) {
    captureEndProgressLine();
    std::fprintf(stderr, "narvu: capture interrupted by %s; finishing the frames written so far\n",
                 endSignalName(signal_number));
    *exit_code = 128 + signal_number;
    return true;
  }
  if (captureComplete()) {
    *exit_code = 0;
    return true;
  }
  return false;
}

static bool capturePass(int* exit_code) {
  int frame = timelineFrame(GetTickCount());
  if (!captureWantsFrame()) {
    skipFrame(frame);
  } else {
    drawSceneFrame(current_scene, frame);
    context->UpdateFrame(0);
  }
  return captureEnds(exit_code);
}

bool takeWindowMessage(HWND window, int* exit_code) {
  MSG message;
  if (!PeekMessageA(&message, window, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_DESTROY || message.message == WM_QUIT) {
    releaseRenderingContext();
    *exit_code = int(message.wParam);
    return true;
  }
  if (message.message == WM_KEYDOWN) {
    if (message.wParam == VK_ESCAPE || message.wParam == VK_F12)
      PostMessageA(window, WM_CLOSE, 0, 0);
    else if (viewer_keys_enabled)
      takeViewerKey(message.wParam);
    return false;  // every key press ends here
  }
  if (message.message == WM_VIEWER_SEEK || message.message == WM_VIEWER_PAUSE) {
    if (viewer_keys_enabled) takeViewerControl(message.message, message.wParam);
    return false;
  }
  DefWindowProcA(window, message.message, message.wParam, message.lParam);
  return false;
}

// --to in live play: the moment it ends at, as Esc would end it.
static DWORD liveEndMs() { return DWORD(std::lround(capture_settings.capture_to_seconds * 1000)); }

// The moment of the timeline the picture shows: the last drawn pass's.
static DWORD shown_moment_ms = 0;

// A signal ends live play as Esc does: through the window's close; so does --to's moment.
static bool livePass(HWND window, int* exit_code) {
  DWORD now = GetTickCount();
  int frame = timelineFrame(now);
  SetCursor(nullptr);
  bool draws = viewerWantsFrame();
  if (draws) {
    drawSceneFrame(current_scene, frame);
    shown_moment_ms = now - demo_start_ms;
  }
  context->UpdateFrame(0);
  showPlayPosition(shown_moment_ms, viewerPaused());
  if (draws && timedemoRunning()) recordTimedemoFrame(current_scene, shown_moment_ms);
  // Paused, the picture there is is shown again without spinning the processor.
  if (!draws) Sleep(10);
  bool past_end = capture_settings.capture_to_seconds >= 0 && shown_moment_ms >= liveEndMs();
  if (endSignal() || past_end) PostMessageA(window, WM_CLOSE, 0, 0);
  return takeWindowMessage(window, exit_code);
}

bool playTimeline(HWND window, int* exit_code) {
  bool capture = capturing();
  viewer_keys_enabled = !capture;
  shown_moment_ms = 0;
  // --from in live play: the show starts at that moment, as if sought to (a capture seeks by its clock).
  if (!capture && capture_settings.capture_from_seconds > 0)
    seekTimeline(int32_t(std::lround(capture_settings.capture_from_seconds * 1000)));
  if (timedemo_enabled && !capture) startTimedemo();
  do {
    if (capture ? capturePass(exit_code) : livePass(window, exit_code)) return true;
  } while (!exit_requested);
  return false;
}

void playTail() {
  viewer_keys_enabled = false;
  DWORD loop_end = GetTickCount();
  // Nothing drawn in the tail is presented: a capture only lets its clock run on, so the music it
  // renders ends where the show's ends.
  if (capturing()) {
    while (GetTickCount() - loop_end < kTailMs) advanceVirtualClock();
    return;
  }
  while (GetTickCount() - loop_end < kTailMs) drawSceneFrame(current_scene, tailFrame(GetTickCount()));
}
