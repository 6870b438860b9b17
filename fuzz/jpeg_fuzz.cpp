// libFuzzer target: the input is a JPEG resource, served from a pack image as the show serves it, read
// through the memory-file data source and made into a texture with its levels. The largest texture is
// kept small, so that larger pictures also take the DCT-scaling path and refusals are cheap.
// fuzz-link: narvu_shell narvu_texture narvu_storage narvu_tools
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pack_writer.h"
#include "platform/devices.h"
#include "platform/test_hooks.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "texture/texture.h"

static int quietMessageBox(const char*, const char*, UINT) { return IDOK; }

static std::string packPath() {
  static std::string path = "/tmp/narvu-jpeg-fuzz-" + std::to_string(getpid()) + ".dat";
  return path;
}

// A picture's pixels are bounded by the largest texture; anything larger must fail cleanly.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=64"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RecordingDevice* recording = [] {
    RecordingDevice* created = new RecordingDevice;
    created->recording = false;
    device = created;
    setMessageBoxResponder(quietMessageBox);
    setMaxTextureSize(256);
    return created;
  }();
  (void)recording;

  std::vector<PackItem> items = {{"picture.jpg", std::vector<uint8_t>(data, data + size)}};
  if (!writePack(packPath(), items, PackMethod::stored, nullptr)) return 0;
  packReset();
  if (!packMount(packPath().c_str(), 0)) return 0;
  IDirectDrawSurface7* texture = loadTexture("picture.jpg", size % 2 == 0);
  if (texture) texture->Release();
  packReset();
  return 0;
}
