// Pieces the tests and benchmarks that draw share: a window to hang a GL context on, and textures
// made in memory instead of from pictures.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// A pre-transformed vertex (D3DFVF_TLVERTEX): screen position, diffuse and specular colour, one texture
// coordinate pair.
struct ScreenVertex {
  float x, y, z, rhw;
  D3DCOLOR diffuse, specular;
  float u, v;
};

// A vertex with a normal and two texture coordinate pairs (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2),
// as the scenes' meshes have.
struct LitVertex {
  float x, y, z, nx, ny, nz, u0, v0, u1, v1;
};
// A lit vertex (D3DFVF_LVERTEX): position, a reserved word, diffuse and specular colour, one texture
// coordinate pair.
struct ColouredVertex {
  float x, y, z;
  DWORD reserved;
  D3DCOLOR diffuse, specular;
  float u, v;
};

// One scene holding a screen rectangle of one colour, depth off: a picture whose edges are known. The
// device's results are not looked at (a test that cares reads the picture).
void drawFlatRectangle(IDirect3DDevice7* device, float left, float top, float right, float bottom, D3DCOLOR colour);

// A window whose procedure only lets DefWindowProcA work (WM_DESTROY ends nothing). With SDL's
// offscreen driver it needs no display.
HWND openHeadlessWindow(int width, int height);

// A one-colour R8G8B8 texture of edge × edge texels, with its whole mip chain when asked, in the
// context library's B, G, R layout.
TextureSurface* solidTexture(uint8_t r, uint8_t g, uint8_t b, DWORD edge = 2, bool mip_chain = false);

// The platform's settings as they were, given back when the scope ends, however the test leaves it (an
// ASSERT returns early): a test that changes them leaves none of its changes to the next one.
class ScopedPlatformSettings {
 public:
  ScopedPlatformSettings() : saved_(platform_settings) {}
  ~ScopedPlatformSettings() { platform_settings = saved_; }
  ScopedPlatformSettings(const ScopedPlatformSettings&) = delete;
  ScopedPlatformSettings& operator=(const ScopedPlatformSettings&) = delete;

 private:
  PlatformSettings saved_;
};
