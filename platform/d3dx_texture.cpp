// The context library's texture calls: mipmapped textures kept in memory level by level, in the format
// the show asked for, filled from 32-bit pictures by resampling the whole picture into each level.
//
// The textures belong to no device in particular: the recording device only names them; the GL device
// uploads a level as soon as it is filled through it, and a TextureSurface's whole chain whenever it is
// drawn with a generation that moved since the last upload.
#include <algorithm>
#include <cstring>
#include <vector>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

#include "platform/platform_local.h"

// Until a GL context reports its own limit: a size every GL 3.3 implementation accepts is far
// smaller, but 4096 is what the show's pictures need and what llvmpipe and any real card give.
static DWORD max_texture_size = 4096;

DWORD maxTextureSize() { return max_texture_size; }

void setMaxTextureSize(DWORD size) {
  if (size > 0) max_texture_size = size;
}

static DWORD bytesPerTexel(D3DX_SURFACEFORMAT format) { return format == D3DX_SF_R5G6B5 ? 2 : 3; }

// The two formats a texture is kept in; every other request gets the closest of them: 16-bit asks
// stay 16-bit, everything else has 8 bits a channel.
static D3DX_SURFACEFORMAT acceptedFormat(D3DX_SURFACEFORMAT asked) {
  return asked == D3DX_SF_R5G6B5 ? D3DX_SF_R5G6B5 : D3DX_SF_R8G8B8;
}

HRESULT D3DXCreateTexture(IDirect3DDevice7* device, DWORD* flags, DWORD* width, DWORD* height,
                          D3DX_SURFACEFORMAT* format, void* palette, IDirectDrawSurface7** texture,
                          DWORD* mip_levels) {
  (void)flags;  // no creation flag changes what is made here
  (void)palette;
  if (!device || !width || !height || !texture) return DDERR_INVALIDPARAMS;
  if (*width == 0 || *height == 0 || *width == D3DX_DEFAULT || *height == D3DX_DEFAULT) {
    return DDERR_INVALIDPARAMS;
  }
  // GL takes any size, so only the device's largest edge changes what was asked for.
  DWORD limit = maxTextureSize();
  DWORD accepted_width = std::min(*width, limit);
  DWORD accepted_height = std::min(*height, limit);
  D3DX_SURFACEFORMAT accepted_format = acceptedFormat(format ? *format : D3DX_SF_UNKNOWN);

  TextureSurface* surface = new TextureSurface;
  surface->format = accepted_format;
  surface->width = accepted_width;
  surface->height = accepted_height;
  // The complete chain: every level halves each edge (never below 1) until both are 1.
  DWORD level_width = accepted_width, level_height = accepted_height;
  for (;;) {
    TextureSurface::Level level;
    level.width = level_width;
    level.height = level_height;
    level.bytes.assign(size_t(level_width) * level_height * bytesPerTexel(accepted_format), 0);
    surface->levels.push_back(std::move(level));
    if (level_width == 1 && level_height == 1) break;
    level_width = std::max<DWORD>(1, level_width / 2);
    level_height = std::max<DWORD>(1, level_height / 2);
  }

  *width = accepted_width;
  *height = accepted_height;
  if (format) *format = accepted_format;
  if (mip_levels) *mip_levels = DWORD(surface->levels.size());
  *texture = surface;
  return S_OK;
}

// Nearest-texel picking, for the point filter: the texel whose centre is closest to each level texel's
// centre.
static void resamplePoint(const uint8_t* source, int source_width, int source_height, int source_pitch,
                          uint8_t* target, int target_width, int target_height) {
  for (int y = 0; y < target_height; ++y) {
    int sy = int((int64_t(2 * y + 1) * source_height) / (2 * int64_t(target_height)));
    const uint8_t* row = source + size_t(sy) * size_t(source_pitch);
    uint8_t* out = target + size_t(y) * size_t(target_width) * 4;
    for (int x = 0; x < target_width; ++x) {
      int sx = int((int64_t(2 * x + 1) * source_width) / (2 * int64_t(target_width)));
      std::memcpy(out + 4 * x, row + 4 * sx, 4);
    }
  }
}

// Texels of `step` bytes starting B, G, R (32-bit B, G, R, X or packed B, G, R) into the level's own
// format.
static void storeLevel(const uint8_t* texels, size_t pitch, size_t step, D3DX_SURFACEFORMAT format,
                       TextureSurface::Level* level) {
  uint8_t* out = level->bytes.data();
  for (DWORD y = 0; y < level->height; ++y) {
    const uint8_t* in = texels + pitch * y;
    if (format == D3DX_SF_R5G6B5) {
      for (DWORD x = 0; x < level->width; ++x, in += step, out += 2) {
        // Rounded, so that white stays white and a 16-bit level is the closest 5-6-5 colour.
        uint32_t blue = (in[0] * 31u + 127u) / 255u;
        uint32_t green = (in[1] * 63u + 127u) / 255u;
        uint32_t red = (in[2] * 31u + 127u) / 255u;
        uint32_t word = (red << 11) | (green << 5) | blue;
        out[0] = uint8_t(word);
        out[1] = uint8_t(word >> 8);
      }
    } else if (step == 3) {
      std::memcpy(out, in, size_t(level->width) * 3);
      out += size_t(level->width) * 3;
    } else {
      for (DWORD x = 0; x < level->width; ++x, in += step, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
    }
  }
}

HRESULT D3DXLoadTextureFromMemory(IDirect3DDevice7* device, IDirectDrawSurface7* texture, DWORD mip_level,
                                  void* source, void* palette, D3DX_SURFACEFORMAT source_format,
                                  DWORD source_pitch, const int source_rect[4], D3DX_FILTERTYPE filter) {
  (void)palette;
  if (!device || !texture || !source || !source_rect) return DDERR_INVALIDPARAMS;
  // Only the library's own textures can be filled.
  TextureSurface* surface = dynamic_cast<TextureSurface*>(texture);
  if (!surface || surface->levels.empty()) return DDERR_INVALIDPARAMS;
  if (source_format != D3DX_SF_X8R8G8B8 && source_format != D3DX_SF_A8R8G8B8) return DDERR_INVALIDPARAMS;
  int left = source_rect[0], top = source_rect[1], right = source_rect[2], bottom = source_rect[3];
  if (left < 0 || top < 0 || right <= left || bottom <= top) return DDERR_INVALIDPARAMS;
  // The default pitch covers the rectangle's rows from the picture's left edge.
  size_t pitch = source_pitch ? size_t(source_pitch) : size_t(right) * 4;
  if (pitch < size_t(right) * 4) return DDERR_INVALIDPARAMS;

  size_t level_index = std::min<size_t>(mip_level, surface->levels.size() - 1);
  TextureSurface::Level* level = &surface->levels[level_index];
  const uint8_t* origin = static_cast<const uint8_t*>(source) + size_t(top) * pitch + size_t(left) * 4;
  int source_width = right - left, source_height = bottom - top;
  int level_width = int(level->width), level_height = int(level->height);

  if (source_width == level_width && source_height == level_height) {
    // One source texel per level texel: every filter gives the source itself.
    storeLevel(origin, pitch, 4, surface->format, level);
  } else if (filter == D3DX_FT_POINT) {
    std::vector<uint8_t> texels(size_t(level_width) * size_t(level_height) * 4);
    resamplePoint(origin, source_width, source_height, int(pitch), texels.data(), level_width, level_height);
    storeLevel(texels.data(), size_t(level_width) * 4, 4, surface->format, level);
  } else {
    // The tent filter: bilinear when enlarging, an area-weighted average when reducing, in the
    // picture's own (non-linearised) values, as the fixed-function hardware filters them. The unused
    // fourth byte is dropped first: the resampler's time grows with the channels it filters.
    std::vector<uint8_t> packed(size_t(source_width) * size_t(source_height) * 3);
    for (int y = 0; y < source_height; ++y) {
      const uint8_t* in = origin + size_t(y) * pitch;
      uint8_t* out = packed.data() + size_t(y) * size_t(source_width) * 3;
      for (int x = 0; x < source_width; ++x, in += 4, out += 3) std::memcpy(out, in, 3);
    }
    std::vector<uint8_t> texels(size_t(level_width) * size_t(level_height) * 3);
    int done = stbir_resize_uint8_generic(packed.data(), source_width, source_height, source_width * 3,
                                          texels.data(), level_width, level_height, level_width * 3, 3,
                                          STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_TRIANGLE,
                                          STBIR_COLORSPACE_LINEAR, nullptr);
    if (!done) return E_FAIL;
    storeLevel(texels.data(), size_t(level_width) * 3, 3, surface->format, level);
  }
  ++surface->generation;
  uploadFilledGlLevel(device, surface, level_index);
  return S_OK;
}
