// What a backend gives the stand-ins, and what it may call back. The stand-ins (win32.cpp, the D3DX
// context, the GL device, the sound library) are the same in every build; beneath them each build
// compiles the backends of its system, one folder each:
//
//   platform/sdl/     the screen, the GL surface and the sound output on SDL2 (Linux and Windows)
//   platform/web/     the same in the page (emscripten's HTML5 interface, WebGL 2, an AudioWorklet),
//                     and the page's system side
//   platform/posix/   the system side on Linux: sleeping, end signals, the program's own path, quiet
//                     standard error, the processes a message box leaves
//   platform/windows/ the system side on Windows: the same on Windows' calls (console control events
//                     for the end signals), the parent's console, and the GL functions above 1.1
//
// The top CMakeLists.txt chooses the folders (narvu_backends); nothing else decides between builds, so
// a difference between systems is a function here with one definition per folder. A backend's folder
// may keep a header of its own for its files (sdl/sdl_local.h, web/web_local.h).
//
// Threads: everything here is called on the main thread, but the sound output's mixer (SDL's audio
// thread calls it) and noteEndSignal (from a signal handler, or the thread a console event comes on).
#pragma once

#include <cstdint>
#include <string>

#include "platform/gl_dialect.h"
#include "platform/platform.h"

struct ScreenWindow;  // the screen's own record of a window, one kind per screen backend
struct GlSurface;     // the GL context on a window, one kind per screen backend

// =====================================================================================================
// What a screen backend gives (sdl/, web/)
// =====================================================================================================

// ---- The screen under the window system ----------------------------------------------------------
// The system's video, started once: false with the reason (one line, lower case) in *problem, when
// there is no display to play on. Natively that makes a run headless when the offscreen driver was
// named (see displayAvailable).
bool startScreen(std::string* problem);
// The window on the screen (x == CW_USEDEFAULT: centred on the chosen display); null, with the reason
// on standard error, when the system refuses one.
ScreenWindow* openScreenWindow(const char* caption, int x, int y, int width, int height, bool visible);
void showScreenWindow(ScreenWindow* window);
void closeScreenWindow(ScreenWindow* window);
// The system's events since the last call, posted to the current window: key presses as WM_KEYDOWN
// with the virtual-key code, the close box as WM_CLOSE; full screen's keys stay with the system.
void pumpScreenEvents();
// A message box the viewer answers: the button's ID, -1 when closed without one, 0 when no box can
// be shown here (the caller then writes it on standard error and takes the default).
int showScreenBox(const char* caption, const char* text, UINT type);
// The cursor over `window`: shown when asked, and wherever hiding it would trap the viewer.
void showScreenCursor(HWND window, bool shown);
// A borderless window covering the chosen display (platform_settings.display), or back to a framed
// window of its former size. False, with the reason on standard error, when the system refuses;
// nothing happens in a headless run (nor in the page, where only the viewer can ask for it).
bool setWindowFullscreen(HWND window, bool fullscreen);
// Besides these, the calls of win32.h that are the screen's own: awaitViewer and showPlayPosition.
// After every frame the device ends (EndScene): the page gives the browser its turn there when a
// long run of frames presents nothing (the show's tail), so that the music is fed; nothing natively.
void frameEnded();
// pressKeyboardKey, the tests' key on the keyboard, is the screen's too (platform/test_hooks.h).

// ---- The GL surface: the GL context on the show's window -----------------------------------------
// OpenGL 3.3 core through SDL2, or WebGL 2 on the page's canvas. gl_context.cpp draws the render
// target into it and reads frames back; this is all it asks of the system.
//
// A GL context on `window`, current on the calling thread; null with the reason (one line) in *problem.
GlSurface* createGlSurface(HWND window, std::string* problem);
bool makeGlSurfaceCurrent(GlSurface* surface);
void deleteGlSurface(GlSurface* surface);
// The size of what is shown, in pixels: the window's drawable, which HiDPI screens make larger than the
// window; the canvas, sized to the page's layout at every call.
void glSurfaceSize(GlSurface* surface, int* width, int* height);
// Whether presented pictures reach a screen: not in a headless native run; always in the page.
bool glSurfaceShows(GlSurface* surface);
// The picture drawn into the default framebuffer goes to the screen: SDL swaps; the page gives the
// browser its turn, in which it shows the canvas (at its next frame when waiting for the display).
void showGlSurface(GlSurface* surface);
// Whether showing waits for the display's refresh.
void setGlSurfaceVsync(GlSurface* surface, bool vsync);
// How the GL device streams a draw's vertices, indices and uniform block. False: into the free end of
// one large buffer, orphaned when full, so the driver never waits for the draws that read earlier
// ranges (Mesa). True: every upload replaces its buffer's whole storage. WebGL's drivers (ANGLE over
// Vulkan, Metal or Direct3D) cannot tell that a write into a buffer lands where no queued draw reads:
// they copy it in through a transfer of its own, which ends the render pass at every draw (SwiftShader
// then ran each draw alone, at a third of the frame rate); fresh storage they simply allocate.
extern const bool kGlStreamsReplaceStorage;
// Until the driver has drawn everything before `fence`; then the fence goes. WebGL tells of a fence
// only between the browser's turns, so the page polls it with a zero timeout and gives turns between.
void waitForGlFence(GLsync fence);

// ---- The sound output -------------------------------------------------------------------------------
// SDL2's audio device, whose own thread asks the mixer for every buffer it plays; in the page an
// AudioWorklet, fed with what the mixer renders on the main thread whenever the browser gets its turn.
// The sound library (fmod.cpp) uses it.
//
// The mixer fills `frames` stereo frames, interleaved 16-bit samples.
typedef void (*SoundMixer)(int16_t* output, size_t frames);
// Opens the output at `rate` frames a second and starts mixing; false with the reason (one line).
bool openSoundOutput(int rate, SoundMixer mix, std::string* reason);
void closeSoundOutput();
// Held while the main thread changes what the mixer reads: no mixing happens between the two calls.
void lockSoundOutput();
void unlockSoundOutput();
// The song was started or moved: what was mixed ahead and not heard yet is dropped, so that its new
// place is what sounds next (the page mixes ahead; SDL asks for each buffer as it plays it).
void soundOutputMoved();
// Paused, the output plays silence and keeps its place in what it was given.
void pauseSoundOutput(bool paused);

// =====================================================================================================
// What a system backend gives (posix/, windows/, web/)
// =====================================================================================================
// Besides these, the calls of win32.h that are the system's own: Sleep, catchEndSignals,
// leaveEndSignalsToMainThread and attachParentConsole.

// programPath (win32.h), the running executable's path.
// Standard error sent nowhere while SDL opens a device, so that the diagnostics of the libraries it
// loads (ALSA, Wayland) do not bury the show's own message. quietStandardError returns what
// restoreStandardError needs (-1: nothing was changed). NARVU_LIBRARY_MESSAGES=1 lets them speak.
int quietStandardError();
void restoreStandardError(int saved);
// Ends at once every process that this one started and that is still there: SDL shows a message box
// in a process of its own on X11, which an end signal must not leave behind.
void endChildProcesses();
// The software device was chosen: the GL driver, before it is loaded, is asked to draw in software
// (Mesa's LIBGL_ALWAYS_SOFTWARE). Windows' drivers and the page's WebGL take no such request.
void askForSoftwareGl();
// For the SDL backend beneath it (posix/, windows/; the page has no use for them):
//
// The SDL video driver a headless run draws with: SDL's offscreen driver (EGL) on Linux; null where
// there is no such driver (Windows has no EGL), and the system's own then draws into hidden windows.
const char* headlessVideoDriver();
// Called by the SDL GL surface once its context is current: where the system's GL library exports
// only part of what the GL device calls (Windows' opengl32 stops at GL 1.1), the rest is found
// through the context (`lookup`, the surface's own) and reached from then on; nothing natively. False,
// naming what is missing in *problem, when the context does not give it all.
typedef void* (*GlFunctionLookup)(const char* name);
bool findGlFunctions(GlFunctionLookup lookup, std::string* problem);

// =====================================================================================================
// What a backend may call back
// =====================================================================================================
// The window system (win32.cpp): the window's screen side (null for none or a destroyed window), the
// show's one window (the last created, or null), and a message queued for `window` as the system's
// events arrive.
ScreenWindow* screenWindowOf(HWND window);
HWND currentWindow();
void postWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The clock (settings.cpp): whether the live clock is paused (pauseClock).
bool clockPaused();
// The end signals (end_signals.cpp): SIGINT or SIGTERM (or the system's own way of asking the same)
// came. Safe in a signal handler: it only sets two numbers that endSignal and endSignalCount read.
void noteEndSignal(int signal_number);
// Besides these, platform_settings (settings.h): the screen reads it, and writes `headless` when the
// offscreen driver was named or the display was found to draw nowhere.
