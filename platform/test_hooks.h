// Hooks for tests, benchmarks and tools: they drive the stand-ins as a user or a driver would (a key press,
// an answer to a message box, a device without the asked modes) and look inside them (the GL device's
// counters, the picture in the render target). The show itself never calls them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

// ---- Window system (platform/win32.cpp) ------------------------------------------------------------
// Message boxes: the responder answers instead of a box or the default button.
typedef int (*MessageBoxResponder)(const char* text, const char* caption, UINT type);
void setMessageBoxResponder(MessageBoxResponder responder);
// A key press in the window's queue, as SDL would deliver it: WM_KEYDOWN with the key.
void injectKeyDown(HWND window, WPARAM virtual_key);
// A key pressed on the keyboard (with Alt held when `alt`), put into SDL's event queue as the window
// system would: unlike injectKeyDown it passes the event pump, which keeps its own keys (Alt+Enter).
void pressKeyboardKey(WPARAM virtual_key, bool alt);
// A press of the window's close box: WM_CLOSE.
void injectCloseBox(HWND window);
// Forgets every window and class (tests that run the show more than once in one process).
void resetWindows();

// ---- Clock (platform/settings.cpp) -------------------------------------------------------------------
// Restarts the virtual clock at `origin` with no frames counted.
void resetVirtualClock(DWORD origin);

// ---- Rendering context library (platform/d3dx_context.cpp, platform/d3dx_texture.cpp) ----------------
// Makes the next `count` context creations fail, as a device without the asked modes would.
void failNextContextCreations(int count);
// Sets the largest texture edge, as a device with that limit would report it.
void setMaxTextureSize(DWORD size);

// ---- GL device (platform/gl_device.cpp, platform/gl_context.cpp) -----------------------------------
// What the device handed GL so far.
struct GlDeviceCounters {
  uint64_t draws;
  uint64_t state_calls;      // GL calls that set state (enables, blend, depth, program, textures, uniforms)
  uint64_t program_builds;   // shader programs compiled and linked
  uint64_t texture_uploads;  // texture level uploads
};
// Zero for a device that is not the GL device.
GlDeviceCounters glDeviceCounters(IDirect3DDevice7* device);
// With shadowing off the device gives GL every state at every draw instead of only what changed since
// the last draw. On by default.
void setGlStateShadowing(IDirect3DDevice7* device, bool enabled);
// Whether each upload of vertices, indices and the uniform block replaces its buffer's storage, as the
// page's device does (kGlStreamsReplaceStorage in platform/backend.h), or goes into the free end of a
// ring, as the native device's does.
void setGlStreamsReplacing(IDirect3DDevice7* device, bool replacing);
// Builds every shader program the device holds once more as a new GL program, has the driver generate
// its code for it (llvmpipe does that at a program's first draw, so a draw of no area follows each
// build), and deletes it again: the cost of building the device's programs, without anything else.
// The number built; 0 for a device that is not the GL device.
int rebuildGlPrograms(IDirect3DDevice7* device);
// The render target of a GL context as presented, rows top to bottom, 3 bytes a pixel (R, G, B).
// False for a context that is not a GL context.
bool readGlRenderTarget(ID3DXContext* context, std::vector<uint8_t>* rgb, int* width, int* height);
// The frame drawn so far handed to the driver to rasterise (glFlush, as presenting on a display does),
// or with `wait`, finished (glFinish, as reading it back waits). Headless presentation shows nothing,
// and llvmpipe rasterises only what is flushed: a benchmark that times frames calls it after each one.
void endGlFrame(ID3DXContext* context, bool wait);

// ---- Sound library (platform/fmod.cpp) -------------------------------------------------------------
// Calls of the FSOUND_ and FMUSIC_ functions so far ("nosound" must make none).
extern int sound_library_calls;
