// The fade overlay: a picture laid over the whole screen with a strength that rises linearly to full
// and falls back, recomputed from the tick count at every call (it keeps no state of its own).
#include <cstdlib>

#include "shell/shell.h"

static const int32_t kFrameMs = 40;

// The four corners of the 640 × 480 screen as a strip, FVF 0x1C4 (pre-transformed, lit).
struct OverlayVertex {
  float x, y, z, rhw;
  DWORD diffuse;
  DWORD specular;
  float u, v;
};
static_assert(sizeof(OverlayVertex) == 32, "TLVERTEX is 32 bytes");

int fadeLevel(DWORD now) {
  int64_t half = int64_t(fade_half_length) * kFrameMs;
  // The timeline never sets an empty fade; one would divide by zero below.
  if (half <= 0) return -1;
  // Distance from the peak, in wrapping 32-bit tick arithmetic.
  int32_t from_peak = int32_t(now - DWORD(fade_start_ms) - DWORD(half));
  int64_t left = half - std::llabs(int64_t(from_peak));
  if (left < 0) return -1;
  int64_t level = left * 256 / half;
  return level > 255 ? 255 : int(level);
}

void drawOverlay(IDirectDrawSurface7* picture, int level) {
  DWORD colour = DWORD(level) * 0x01010101u;
  OverlayVertex quad[4] = {
      {0.0f, 0.0f, 0.0f, 1.0f, colour, 0, 0.0f, 0.0f},
      {640.0f, 0.0f, 0.0f, 1.0f, colour, 0, 1.0f, 0.0f},
      {0.0f, 480.0f, 0.0f, 1.0f, colour, 0, 0.0f, 1.0f},
      {640.0f, 480.0f, 0.0f, 1.0f, colour, 0, 1.0f, 1.0f},
  };
  // The picture is modulated by the level; its alpha is the level too once a translucent face group
  // has switched stage 0's alpha to the diffuse colour (it stays so for the rest of the show).
  device->SetTexture(0, picture);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, FALSE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
  device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, 0);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
  device->SetTexture(0, nullptr);
}

void fadeOverlay() {
  int level = fadeLevel(GetTickCount());
  if (level >= 0) drawOverlay(fade_texture, level);
}
