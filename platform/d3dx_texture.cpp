// The context library's texture calls: mipmapped textures kept in memory level by level, in the format
// the show asked for, filled from 32-bit pictures by sampling the whole picture for each level.
//
// The textures belong to no device in particular: the recording device only names them; the GL device
// uploads a level as soon as it is filled through it, and a TextureSurface's whole chain whenever it is
// drawn with a generation that moved since the last upload.
#include <algorithm>
#include <cstring>
#include <vector>

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

// Where one level texel samples the picture along one axis: the two picture texels nearest to its
// centre and the weight of the second.
struct LinearTap {
  size_t first, second;  // byte offsets into a row (columns) or into the picture (rows)
  float weight;
};

// The centre of level texel i lies at (i + 0.5) · picture / level − 0.5 in picture texels (whose centres
// lie at whole numbers), kept within the outermost centres; the texels on either side share it.
static std::vector<LinearTap> linearTaps(int picture, int level, size_t texel_step) {
  std::vector<LinearTap> taps(static_cast<size_t>(level));
  for (int i = 0; i < level; ++i) {
    double centre = (i + 0.5) * picture / level - 0.5;
    centre = std::min(std::max(centre, 0.0), double(picture - 1));
    int below = int(centre);
    int above = std::min(below + 1, picture - 1);
    taps[size_t(i)] = {size_t(below) * texel_step, size_t(above) * texel_step, float(centre - below)};
  }
  return taps;
}

// The linear filter as the context library documents it: every level texel is computed from the four
// picture texels nearest to its centre, a bilinear sample of the whole picture. That reads four
// texels per level texel, so a level costs in proportion to its own size, whatever the picture's; it
// suits reductions to half and less well (the mip chain's next level), as the library says of it.
// Results are rounded to the nearest value; 4-byte B, G, R, X texels in, 3-byte B, G, R out.
static void resampleLinear(const uint8_t* source, int source_width, int source_height, size_t source_pitch,
                           uint8_t* target, int target_width, int target_height) {
  std::vector<LinearTap> columns = linearTaps(source_width, target_width, 4);
  std::vector<LinearTap> rows = linearTaps(source_height, target_height, source_pitch);
  for (const LinearTap& row : rows) {
    const uint8_t* upper = source + row.first;
    const uint8_t* lower = source + row.second;
    for (const LinearTap& column : columns) {
      for (int c = 0; c < 3; ++c) {
        float top = upper[column.first + c] + (upper[column.second + c] - upper[column.first + c]) * column.weight;
        float bottom = lower[column.first + c] + (lower[column.second + c] - lower[column.first + c]) * column.weight;
        *target++ = uint8_t(top + (bottom - top) * row.weight + 0.5f);
      }
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
    std::vector<uint8_t> texels(size_t(level_width) * size_t(level_height) * 3);
    resampleLinear(origin, source_width, source_height, pitch, texels.data(), level_width, level_height);
    storeLevel(texels.data(), size_t(level_width) * 3, 3, surface->format, level);
  }
  ++surface->generation;
  uploadFilledGlLevel(device, surface, level_index);
  return S_OK;
}
