// The show's timeline: which scene plays, at which frame, and when fades and the end logo start.
// Every decision is a function of the tick count; the main loop (demo_main.cpp) calls timelineFrame
// once per pass and tailFrame during the tail.
#include "shell/shell.h"

Scene* first_scene = nullptr;
Scene* second_scene = nullptr;
Scene* current_scene = nullptr;
DWORD demo_start_ms = 0;
DWORD scene_start_ms = 0;
int32_t previous_frame_count = -1;
bool end_logo_started = false;
bool exit_requested = false;
IDirectDrawSurface7* fade_texture = nullptr;
IDirectDrawSurface7* end_logo_texture = nullptr;
int32_t fade_start_ms = 0;
int32_t fade_half_length = 0;
void (*overlay_hook)() = nullptr;
bool sound_disabled = false;
FMUSIC_MODULE* song = nullptr;

static const DWORD kFrameMs = 40;
static const DWORD kEndLogoMs = 104000;
static const int32_t kSceneEndFadeFrames = 75;
static const int32_t kResumeFrame = 450;

void startTimeline(DWORD now) {
  demo_start_ms = now;
  scene_start_ms = now;
  end_logo_started = false;
  exit_requested = false;
  previous_frame_count = -1;
}

// The scene has run out: switch to the other one. Returns the frame number of this pass.
static int switchScene(DWORD now, int32_t elapsed_frames) {
  scene_start_ms = now;
  if (current_scene == first_scene) {
    current_scene = second_scene;
    int32_t second_frames = second_scene ? second_scene->frame_count : 0;
    // A second scene without frames is shown at frame 0, like any scene without frames.
    return second_frames > 0 ? elapsed_frames % second_frames : 0;
  }
  current_scene = first_scene;
  scene_start_ms = now - kResumeFrame * kFrameMs;  // the first scene resumes at its frame 450
  return 0;
}

int timelineFrame(DWORD now) {
  if (now - demo_start_ms >= kEndLogoMs && !end_logo_started) {
    fade_half_length = 87;
    fade_start_ms = int32_t(now);
    fade_texture = end_logo_texture;
    end_logo_started = true;
  }
  if (now - demo_start_ms >= kShowLengthMs) exit_requested = true;

  int32_t frames = current_scene ? current_scene->frame_count : 0;
  if (frames <= 0) return 0;
  int32_t elapsed = int32_t((now - scene_start_ms) / kFrameMs);
  if (elapsed >= frames - kSceneEndFadeFrames && previous_frame_count < frames - kSceneEndFadeFrames) {
    fade_half_length = kSceneEndFadeFrames;
    fade_start_ms = int32_t(now);
  }
  previous_frame_count = elapsed;
  if (elapsed < frames) return elapsed;
  return switchScene(now, elapsed);
}

int tailFrame(DWORD now) {
  int32_t frames = current_scene ? current_scene->frame_count : 0;
  if (frames <= 0) return 0;
  DWORD elapsed = (now - scene_start_ms) / kFrameMs;
  // Nothing drawn in the tail is presented; holding the last frame keeps every key read in bounds.
  return elapsed < DWORD(frames) ? int(elapsed) : frames - 1;
}
