// Inside platform/ only: what the stand-ins ask of each other. The rest of the program sees
// platform/platform.h (and tests platform/devices.h and platform/test_hooks.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

struct ScreenWindow;  // the screen's own record of a window, one kind per build

// ---- Window system (win32.cpp) ---------------------------------------------------------------------
// The window's screen side; null for none or a destroyed window.
ScreenWindow* screenWindowOf(HWND window);
// The show's one window (the last created), or null.
HWND currentWindow();
// Queues a message for `window`, as the system's events arrive.
void postWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// ---- The screen under the window system: one file per build -------------------------------------
// Natively SDL2's video, window and events (sdl_window.cpp); in the page its canvas and emscripten's
// HTML5 events (web_window.cpp). Main thread only.
//
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
// After every frame the device ends (EndScene): the page gives the browser its turn there when a
// long run of frames presents nothing (the show's tail), so that the music is fed; nothing natively.
void frameEnded();

// ---- Clock (settings.cpp) ------------------------------------------------------------------------
// Whether the live clock is paused (pauseClock).
bool clockPaused();

// ---- Rendering contexts (d3dx_context.cpp, gl_context.cpp) ------------------------------------------
// What every context hands out: its Direct3D object and its device, each with a reference that the
// caller owns. The context holds one reference of each and gives them back when it goes.
class ContextBase : public ReferenceCounted<ID3DXContext> {
 public:
  IDirect3D7* GetD3D() override {
    direct3d->AddRef();
    return direct3d;
  }
  IDirect3DDevice7* GetD3DDevice() override {
    device->AddRef();
    return device;
  }

  MemoryDirect3D* direct3d = nullptr;
  ShadowDevice* device = nullptr;

 protected:
  ~ContextBase() override {
    if (device) device->Release();
    if (direct3d) direct3d->Release();
  }
};

struct GlContextRequest {
  HWND window;
  DWORD colour_bits;
  DWORD alpha_bits;
  DWORD depth_bits;
  DWORD back_buffers;
  DWORD width;  // the show's drawing size, 640 × 480; the render target may be larger
  DWORD height;
  bool fullscreen;
};
// Creates the GL context on the window, the off-screen render target (platform_settings decides its
// size and multisampling) and the GL device behind it. A negative result, with the reason on standard
// error, when any of it cannot be had.
HRESULT createGlContext(const GlContextRequest& request, ID3DXContext** context);

// ---- GL device (gl_device.cpp, gl_shaders.cpp) -----------------------------------------------------
// The device draws into whatever framebuffer is bound when a draw call is made; the context binds its
// render target once and again after every presentation. Every call expects the context's GL context
// to be current on the calling (main) thread.

// The rectangle of the render target that stands for the show's 640 × 480 screen: the largest 4:3
// rectangle centred in the target (the whole target when it is 4:3).
struct GlViewport {
  int x, y, width, height;
};
GlViewport gl4by3Viewport(int target_width, int target_height);
// A new GL device drawing into a render target of the given size. Creates its GL objects at once; null,
// with the reason on standard error, when its shaders cannot be built.
ShadowDevice* createGlDevice(int target_width, int target_height);
// Clears the bound render target as Direct3D's Clear does: D3DCLEAR_ZBUFFER sets depth to 1.0 (depth
// writes allowed for the moment), D3DCLEAR_TARGET sets colour to black.
void clearGlTarget(IDirect3DDevice7* device, DWORD flags);
// The context library has just filled level `level` of `texture` on `device`: the GL device uploads it
// at once (the whole chain at a texture's first fill), so no draw has to. Nothing for other devices.
void uploadFilledGlLevel(IDirect3DDevice7* device, TextureSurface* texture, size_t level);
// The shader sources, completed by a prologue of #defines that the device writes per state combination.
extern const char* const kGlVertexShaderSource;
extern const char* const kGlFragmentShaderSource;
extern const char* const kGlDeviceBlockSource;

// ---- Sound output: one file per build ---------------------------------------------------------------
// Natively SDL2's audio device, whose own thread asks the mixer for every buffer it plays
// (sdl_sound_output.cpp); in the page an AudioWorklet, fed with what the mixer renders on the main
// thread whenever the browser gets its turn (web_sound_output.cpp). The sound library (fmod.cpp) uses it.
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

// ---- Library diagnostics (library_noise.cpp) -------------------------------------------------------
// Standard error sent nowhere while SDL opens a device, so that the diagnostics of the libraries it
// loads (ALSA, Wayland) do not bury the show's own message. quietStandardError returns what
// restoreStandardError needs (-1: nothing was changed).
int quietStandardError();
void restoreStandardError(int saved);
