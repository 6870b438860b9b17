// The demo shell: start-up, content loading, the main loop and its timeline, the fade overlay, device
// selection, music and the rendering context.
//
// The variables below are process-wide; each says who writes it. Main thread only.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "render/render.h"
#include "scene/scene.h"
#include "shell/rendering_objects.h"

// ---- Entry point ------------------------------------------------------------------------------------
// `command_line` is the argument string without the program name. The result is the exit code.
int WinMain(HINSTANCE instance, HINSTANCE previous_instance, char* command_line, int show_command);
void loadScenes();
// After loadScenes: the device prepared for every frame the timeline can draw (prepareSceneDrawing for
// its scenes in their order, with the overlay of both logos), and given back the state it had.
void prepareDrawing();
// Mounts the pack appended to the executable, else "narvu.dat" in the working folder.
bool mountPack(HINSTANCE instance);
// The main loop's message step: takes at most one message of `window`. Esc and F12 post WM_CLOSE,
// every key press ends here, WM_DESTROY and WM_QUIT release the rendering objects and return true with
// the message's wParam in *exit_code; anything else goes to DefWindowProcA.
bool takeWindowMessage(HWND window, int* exit_code);

// The timeline's length: the main loop ends in the first pass at or after it (the tail follows).
constexpr DWORD kShowLengthMs = 107500;

// ---- Timeline state (written by the main loop, timeline.cpp; read by the fade overlay) --------------
extern Scene* first_scene;
extern Scene* second_scene;
extern Scene* current_scene;
extern DWORD demo_start_ms;
extern DWORD scene_start_ms;
extern int32_t previous_frame_count;  // -1 before the first pass
extern bool end_logo_started;
extern bool exit_requested;
extern IDirectDrawSurface7* fade_texture;
extern IDirectDrawSurface7* end_logo_texture;
extern IDirectDrawSurface7* start_logo_texture;  // the opening's picture, kept for a replay from the start
extern int32_t fade_start_ms;
extern int32_t fade_half_length;  // units of 40 ms
extern bool sound_disabled;
extern FMUSIC_MODULE* song;

// Clears the timeline and starts it at `now` (start-up step 11).
void startTimeline(DWORD now);
// One pass's timeline decisions at tick count `now` (end logo, time limit, scene end fades, scene
// switches); returns the frame number to draw.
int timelineFrame(DWORD now);
// The frame to draw in the tail: the running frame, held at the scene's last frame.
int tailFrame(DWORD now);
// Seeking: the state the timeline would have reached by playing from its start at `start_ms` (the
// opening fade, the first scene, the start logo: start-up step 11) to `now`, computed by its own
// decisions at every millisecond without drawing. Returns the frame number of a pass at `now`.
int replayTimeline(DWORD start_ms, DWORD now);

// ---- Fade overlay (fade_overlay.cpp) ---------------------------------------------------------------
void fadeOverlay();
// The overlay with `picture` at `level` 0..255, whatever the time.
void drawOverlay(IDirectDrawSurface7* picture, int level);
// The overlay's level 0..255 at `now`, or -1 outside the fade.
int fadeLevel(DWORD now);

// ---- Rendering context (rendering_context.cpp; the objects in shell/rendering_objects.h) ---------------
// Base device state and the two shared vertex buffers, right after the context is created.
void setUpDevice();
// Release of the Direct3D object and the device, then D3DXUninitialize (early-exit path).
void releaseRenderingContext();

// ---- Device selection (device_selection.cpp) -------------------------------------------------------
// 0 on success (context, device, direct3d, both buffers, base state), 1 on failure.
int selectDevice(bool choose, HWND window);
// The device index used without "choosedrv" (the hardware rasterisation class). Tests may change it.
extern DWORD default_device_index;

// ---- Capture (capture_run.cpp) ---------------------------------------------------------------------
// Before WinMain, with platform_settings.capture_path set: the virtual clock, no display, the music's
// file beside the frames, and the music and video finished at the process's exit, however it comes.
void prepareCapture();

// ---- Music (music.cpp) -------------------------------------------------------------------------------
FSOUND_FILEHANDLE musicOpen(const char* name);
void musicClose(FSOUND_FILEHANDLE handle);
int musicRead(void* buffer, int size, FSOUND_FILEHANDLE handle);
int musicSeek(FSOUND_FILEHANDLE handle, int position, signed char mode);
int musicTell(FSOUND_FILEHANDLE handle);
const char* fmodErrorText(int code);
// Start-up step 4: FSOUND_Init, callbacks, FMUSIC_LoadSong into `song` (the version warning of step 2
// comes before the pack is mounted, in WinMain). Returns 0, or 1 after the error box (the caller exits
// with 1).
int startMusic();
// `narvu --music-only`: mounts the pack, prints the module's facts and plays only the music. The exit code.
int runMusicOnly();
