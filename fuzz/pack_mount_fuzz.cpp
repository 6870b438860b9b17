// packMount over a file image written to a temporary file, then packRead and a memory file over
// every entry that it indexed.
// fuzz-link: narvu_storage narvu_tools
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "storage/storage.h"

// Sizes come from the image; ones beyond this limit must fail cleanly as unallocatable.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=32";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = [] {
    const char* folder = getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/narvu-pack-mount-fuzz-" +
           std::to_string(getpid()) + ".dat";
  }();
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);

  packReset();
  if (packMount(path.c_str(), 0) == 1) {
    int budget = 64;
    for (PackEntry* e = pack_entries; e && budget > 0; e = e->next, --budget) {
      uint8_t* bytes = packRead(e->name);
      free(bytes);
      RamFile* stream = ramfopen(e->name);
      if (stream) {
        uint8_t buffer[16];
        ramfseek(stream, -7, 2);
        ramfread(buffer, 3, 5, stream);
        ramfclose(stream);
      }
    }
  }
  packReset();
  remove(path.c_str());
  return 0;
}
