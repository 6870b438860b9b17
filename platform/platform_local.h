// Inside platform/ only: what the stand-ins ask of each other, and (platform/backend.h) what they ask of
// the build's backends. The rest of the program sees platform/platform.h (and tests platform/devices.h
// and platform/test_hooks.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

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
