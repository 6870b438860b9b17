// Textures: JPEG pictures from the pack decoded by libjpeg into mipmapped textures, and the texture cache.
//
// loadTexture(name, true_colour) gives a texture handle (0: none) that holds the one reference its
// creation gave; nothing releases it. Start-up only, main thread.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "storage/storage.h"

// A decoded picture: pixels in memory order blue, green, red, 0 (0x00RRGGBB little-endian), rows top
// to bottom, pitch width × 4. pixels is malloc'd, owned by whoever filled the record.
struct Picture {
  uint32_t width;
  uint32_t height;
  uint8_t* pixels;  // null when there is no picture
  uint32_t spare;   // set to 0 by the decoder
  uint32_t bits_per_pixel;
  uint32_t bytes_per_pixel;
};

// true_colour nonzero: a 24-bit texture (format R8G8B8); zero: 16-bit (R5G6B5).
IDirectDrawSurface7* loadTexture(const char* name, int true_colour);
// Fills the caller's picture; no pixels when the resource is missing or undecodable before the
// pixel buffer exists, and then "Picture not found:" shows, with the reason on standard error
// ("narvu: rock.jpg: <libjpeg's words>") unless the resource is simply absent. A picture larger than the
// largest texture (maxTextureSize) comes out at 1/2, 1/4 or 1/8 of its size, the largest that fits;
// one that 1/8 cannot bring within it is refused.
void loadJpegPicture(const char* name, Picture* picture);

struct TextureCacheEntry {
  TextureCacheEntry* next;
  char* name;
  uint32_t name_hash;
  uint32_t reference_count;
  IDirectDrawSurface7* texture;
};
// Head of the cache list. Nothing adds to it: every request decodes its picture anew.
extern TextureCacheEntry* texture_cache;

IDirectDrawSurface7* textureCacheFind(const char* name);
uint32_t textureNameHash(const char* name);

// The libjpeg data source over a memory file.
struct jpeg_decompress_struct;
void jpeg_ramf_src(jpeg_decompress_struct* decompressor, RamFile* stream);
