// Picture to texture: a texture of the picture's size from the context library, its first eight mip
// levels each resampled from the whole picture.
#include <cstdlib>

#include "shell/rendering_objects.h"
#include "texture/texture.h"

// The levels the show fills; a longer chain keeps whatever the library put in the rest.
static const DWORD kFilledLevels = 8;

IDirectDrawSurface7* loadTexture(const char* name, int true_colour) {
  if (IDirectDrawSurface7* cached = textureCacheFind(name)) return cached;

  Picture picture;
  loadJpegPicture(name, &picture);
  if (!picture.pixels) return nullptr;

  DWORD flags = 0;
  DWORD width = picture.width, height = picture.height;
  D3DX_SURFACEFORMAT format = true_colour ? D3DX_SF_R8G8B8 : D3DX_SF_R5G6B5;
  IDirectDrawSurface7* texture = nullptr;
  DWORD mip_levels = 0;
  if (FAILED(D3DXCreateTexture(device, &flags, &width, &height, &format, nullptr, &texture, &mip_levels))) {
    free(picture.pixels);
    return nullptr;
  }
  const int whole_picture[4] = {0, 0, int(picture.width), int(picture.height)};
  for (DWORD level = 0; level < kFilledLevels; ++level) {
    // A level past a short chain refills the last one; the library takes care of that.
    if (FAILED(D3DXLoadTextureFromMemory(device, texture, level, picture.pixels, nullptr, D3DX_SF_X8R8G8B8, 0,
                                         whole_picture, D3DX_FT_LINEAR))) {
      // A half-filled texture is no use to anyone: give back both it and the picture.
      texture->Release();
      free(picture.pixels);
      return nullptr;
    }
  }
  free(picture.pixels);
  return texture;
}
