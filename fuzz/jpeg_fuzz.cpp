// libFuzzer target: the input is a JPEG resource, served from a pack image as the show serves it, read
// through the memory-file data source and made into a texture with its levels. The largest texture is
// kept small, so that larger pictures also take the DCT-scaling path and refusals are cheap.
// fuzz-link: narvu_shell narvu_texture narvu_storage narvu_tools
#include "fuzz_support.h"
#include "texture/texture.h"

#include <cstdint>
#include <string>
#include <vector>

// A picture's pixels are bounded by the largest texture; anything larger must fail cleanly.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=64"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  useRecordingDevice();
  setMaxTextureSize(256);
  if (!mountFuzzedEntry("picture.jpg", data, size)) return 0;
  IDirectDrawSurface7* texture = loadTexture("picture.jpg", size % 2 == 0);
  if (texture) texture->Release();
  packReset();
  return 0;
}
