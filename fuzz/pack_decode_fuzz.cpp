// packDecode on arbitrary blocks. Input: one control byte (bit 0 switches the checksum test off),
// the method word, the unpacked size and the checksum (little-endian words), then the stored bytes.
// fuzz-link: narvu_storage narvu_tools
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "storage/storage.h"

// Unpacked sizes come from the input; ones beyond this limit must fail cleanly as unallocatable.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=32";
}

static uint32_t word(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 13 || size - 13 > 0xFFFFFFFFu) return 0;
  pack_checksums_enabled = (data[0] & 1) ? 0 : 1;
  int32_t method_word = int32_t(word(data + 1));
  uint32_t unpacked_size = word(data + 5);
  uint32_t checksum = word(data + 9);
  uint32_t stored_size = uint32_t(size - 13);
  uint8_t* stored = static_cast<uint8_t*>(malloc(stored_size ? stored_size : 1));
  memcpy(stored, data + 13, stored_size);
  uint8_t* unpacked = packDecode(stored, stored_size, unpacked_size, method_word, checksum);
  if (unpacked) {
    // Every byte of the result is defined and readable.
    uint32_t h = packHash(unpacked, unpacked_size);
    if (pack_checksums_enabled && h != checksum) abort();
    if (method_word % 100 == 0 && memcmp(unpacked, data + 13, unpacked_size < stored_size ? unpacked_size : stored_size) != 0)
      abort();
    free(unpacked);
  }
  return 0;
}
