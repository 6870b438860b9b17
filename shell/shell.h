// The demo shell: start-up, content loading, the main loop and its timeline, the fade overlay, device
// selection, music and the rendering context.
//
// The variables below are process-wide; each says who writes it. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/processes.h"
#include "platform/platform.h"
#include "render/render.h"
#include "scene/scene.h"
#include "shell/rendering_objects.h"

// ---- Command line (options.cpp) --------------------------------------------------------------------
struct CommandLineOptions {
  PlatformSettings settings;  // the defaults, changed by the options given
  CaptureSettings capture;    // the same for a capture
  bool help = false;          // --help or -h: nothing after it was looked at
  bool version = false;
  bool music_only = false;
  bool timedemo = false;
  bool capture_given = false;  // --capture (capture.capture_path is also set by --join)
  bool join = false;           // --join PATH: capture.capture_path is the capture whose parts are joined
  int jobs = 1;                // --jobs N: the capture is made in N parts side by side, then joined
  int check_parts = 0;         // --check N with --join: which of N parts are there, nothing joined
  // Every word but the options' values, space-separated: WinMain finds "nosound" and "choosedrv" in it.
  std::string command_line;
  std::vector<std::string> warnings;       // one line each, without the program's name
  std::vector<std::string> options_given;  // the options' names, in order
  std::vector<std::string> other_words;    // the words that are no option nor a value (nosound, typos)
};
// Fills `out` from the arguments (argv[0] is the program). False with the reason in `error` (one line,
// without the program's name) for a value that is missing or out of range. Prints nothing.
bool parseCommandLine(int argc, char** argv, CommandLineOptions* out, std::string* error);
// Whether parsed options can go to parts of a capture made where nobody reads their warnings (the
// farm's nodes): no word the show would warn about or ignore, nor an option of live play. narvu-farm
// submits nothing otherwise, and the show and it decide alike. False with one line naming the word.
bool captureOptionsFitForParts(const CommandLineOptions& options, std::string* error);
// A mistake in the options ends the show before it starts with this code, as it ends every tool of
// the project: scripts tell a command that was wrong from one that failed.
constexpr int kUsageExitCode = 2;
// `--join PATH --check N` when a part is missing or broken (0 when every part is done).
constexpr int kPartsNotDoneExitCode = 3;
extern const char kCommandLineUsage[];  // the --help text

// ---- Entry points -----------------------------------------------------------------------------------
// The program, from its arguments (run_narvu.cpp): every build's main calls it and ends with the exit
// code it returns. It prints --help and --version, refuses bad options, and runs the show, the music
// alone, a capture or a join.
int runNarvu(int argc, char** argv);
// `command_line` is the argument string without the program name. The result is the exit code.
int WinMain(HINSTANCE instance, HINSTANCE previous_instance, char* command_line, int show_command);
void loadScenes();
// After loadScenes: the device prepared for every frame the timeline can draw (prepareSceneDrawing for
// its scenes in their order, with the overlay of both logos), and given back the state it had.
void prepareDrawing();
// Where the pack is looked for, in this order (pack_places.cpp): appended to the executable, "narvu.dat"
// in the working folder, "narvu.dat" beside the executable, and "narvu.dat" in the data folder of an
// installation (../share/narvu from the executable's folder); a place that is the same file as an
// earlier one is left empty.
struct PackPlaces {
  std::string executable;
  std::string working_folder_pack;
  std::string beside_executable_pack;
  std::string installed_pack;
};
PackPlaces packPlaces(HINSTANCE instance);
// Mounts the first of the places that holds a pack. A file passed over on the way, there but no pack,
// is named with the reason on standard error once a later place gives the pack.
bool mountPack(HINSTANCE instance);
// "looked for one appended to ..., then for ... and ...", for the message after a failed mountPack.
std::string packPlacesText(const PackPlaces& places);

// ---- Main loop (main_loop.cpp) -------------------------------------------------------------------------
// The passes of the timeline until it ends: true when the show ended early (a closed window, a capture
// that is complete, failed or interrupted), with the process's exit code in *exit_code.
bool playTimeline(HWND window, int* exit_code);
// The main loop's message step: takes at most one message of `window`. Esc and F12 post WM_CLOSE,
// every key press ends here, WM_DESTROY and WM_QUIT release the rendering objects and return true with
// the message's wParam in *exit_code; anything else goes to DefWindowProcA.
bool takeWindowMessage(HWND window, int* exit_code);
// After the timeline: 1700 ms in which the scene is drawn on but nothing is presented and no message
// is taken (a capture draws nothing there, its clock moves on alone).
void playTail();

// ---- --timedemo (timedemo.cpp) ------------------------------------------------------------------------
// Live play timed: every presented frame's time (from the previous presentation) is kept by scene, and
// at the end (the show's, or an early one) one report goes to standard output: frames presented, mean
// frames per second, and the frame times' median, 99th percentile, maximum and how many took more
// than twice the median, for the whole show and per scene; and the first frame apart, with the longest
// frame after it against the median and the timeline's moments of those over three times the median.
extern bool timedemo_enabled;  // set by main from --timedemo; the main loop starts the timing
void startTimedemo();
// After each presented frame that drew `scene` at the timeline's `moment_ms`.
void recordTimedemoFrame(const Scene* scene, unsigned long moment_ms);
// Whether --timedemo is on: the main loop records frames only then.
bool timedemoRunning();

// ---- The viewer's keys, live play only (viewer_keys.cpp) ----------------------------------------------
// Space pauses and resumes picture and music; Left and Right step 5 s back and forth; Home restarts.
// Off (every key but Esc and F12 does nothing) unless live play turns it on. The viewer's controls
// (WM_VIEWER_SEEK, WM_VIEWER_PAUSE) seek and pause alike, and are off with the keys.
extern bool viewer_keys_enabled;
extern DWORD song_start_ms;  // the tick count at which the music was started (start-up step 10)
void takeViewerKey(WPARAM key);
// A message of the viewer's controls: WM_VIEWER_SEEK or WM_VIEWER_PAUSE with its wParam.
void takeViewerControl(UINT message, WPARAM value);
// Whether the viewer paused the show (Space, or the controls).
bool viewerPaused();
// Whether this pass draws a frame: not while the viewer has paused the show (the picture there is is
// presented again), except once after a seek made during the pause.
bool viewerWantsFrame();
// The timeline moved to `moment_ms` after its start, as if played to there, the music with it.
void seekTimeline(int32_t moment_ms);

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
// Before WinMain, with capture_settings.capture_path set: the virtual clock, no display, the music's
// file beside the frames (beginCapture).
void prepareCapture();
// After WinMain returned `exit_code` (or at an exit that bypassed it): the music and the video are
// finished with what the run has, the summary line printed. The exit code to give: 1 when a file is
// not complete, else `exit_code` (0, or 128 + the signal that interrupted the capture).
int finishCaptureRun(int exit_code);

// ---- A capture in parts (capture_parts.cpp) ------------------------------------------------------------
// `--join PATH`, the other options as the parts were made with: checks that the parts of the capture
// PATH hold its interval and are what their names say, renders the interval's music offline as a
// capture in one run would, and puts the parts and the music together (see capture/capture.h). The exit
// code: 0; 1 with the reason (every part kept); 128 + the signal that interrupted it.
// With --check N it joins nothing and lists on standard output, one line a part, which of the N parts
// of the interval are done, missing or broken: "part K/N frames FIRST-LAST: STATE[: DETAIL]", after a
// line "music frames FIRST-LAST: done|missing" for the music part. The exit code: 0 when every part is
// done, kPartsNotDoneExitCode when one is not (the music part does not count: the join can do without
// it), 1 after a failure.
int runCaptureJoin(const CommandLineOptions& options);
// `--capture PATH --segment 0/N`: the music part, the interval's music made beside the parts (see
// captureMusicPartPath), so that the join only copies it. The exit code: 0 (also with nosound, which
// leaves nothing to make); 1 with the reason; 128 + the signal that interrupted it.
int runCaptureMusic(const CommandLineOptions& options);
// `--capture PATH --jobs N`: this program again N times with --segment K/N, side by side, then the join.
// The exit code: 0; 1 when a part failed (the others are kept for a later --join); 128 + the signal after
// SIGINT or SIGTERM, the frames from the start that every part had written being joined, and the parts
// after a gap kept. The music part runs beside the others.
int runCaptureJobs(int argc, char** argv, const CommandLineOptions& options);

// ---- Music (music.cpp) -------------------------------------------------------------------------------
FSOUND_FILEHANDLE musicOpen(const char* name);
void musicClose(FSOUND_FILEHANDLE handle);
int musicRead(void* buffer, int size, FSOUND_FILEHANDLE handle);
int musicSeek(FSOUND_FILEHANDLE handle, int position, signed char mode);
int musicTell(FSOUND_FILEHANDLE handle);
const char* fmodErrorText(int code);
// Why the last musicOpen gave no file when the module is there but cannot be read (damaged, too
// large), as packFailureText words it; null when it opened or is simply missing.
const char* musicOpenFailure();
// Start-up step 4: FSOUND_Init, callbacks, FMUSIC_LoadSong into `song` (the version warning of step 2
// comes before the pack is mounted, in WinMain). Returns 0, or 1 after the error box (the caller exits
// with 1).
int startMusic();
// `narvu --music-only`: mounts the pack, prints the module's facts and plays only the music. The exit code.
int runMusicOnly();
