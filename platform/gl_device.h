// Inside platform/ (and the GL device's own tests and benchmark): the GL device behind the context.
//
// The device draws into whatever framebuffer is bound when a draw call is made; the context binds its
// render target once and again after every presentation. Every call expects the context's GL context
// to be current on the calling (main) thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

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

// Benchmarks: with shadowing off the device gives GL every state at every draw instead of only what
// changed since the last draw. On by default.
void setGlStateShadowing(IDirect3DDevice7* device, bool enabled);

// Counters of what the device handed GL, for tests and benchmarks.
struct GlDeviceCounters {
  uint64_t draws;
  uint64_t state_calls;      // GL calls that set state (enables, blend, depth, program, textures, uniforms)
  uint64_t program_builds;   // shader programs compiled and linked
  uint64_t texture_uploads;  // texture level uploads
};
GlDeviceCounters glDeviceCounters(IDirect3DDevice7* device);

// Tests: the render target of a GL context as presented, rows top to bottom, 3 bytes a pixel (R, G, B).
// False for a context that is not a GL context.
bool readGlRenderTarget(ID3DXContext* context, std::vector<uint8_t>* rgb, int* width, int* height);

// The shader sources, completed by a prologue of #defines that the device writes per state combination.
extern const char* const kGlVertexShaderSource;
extern const char* const kGlFragmentShaderSource;
extern const char* const kGlDeviceBlockSource;
