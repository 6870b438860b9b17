// lzssDecode on arbitrary streams into an output of exactly the given capacity, byte for byte the
// same as a decoder that takes one byte at a time, and the encoder's streams decoded back to their
// input.
// fuzz-link: narvu_storage narvu_tools
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzss_reference.h"
#include "pack_writer.h"
#include "storage/storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 0xFFFFFFFFu) return 0;
  // The first two bytes give the capacity; an exactly sized heap buffer lets the address sanitizer
  // see any write past it.
  uint32_t capacity = uint32_t(data[0]) | uint32_t(data[1]) << 8;
  const uint8_t* input = data + 2;
  uint32_t length = uint32_t(size - 2);
  uint8_t* output = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
  std::vector<uint8_t> expected(capacity ? capacity : 1, 0xEE);
  memset(output, 0xEE, capacity ? capacity : 1);
  uint64_t count = lzssDecode(input, length, output, capacity);
  if (count > uint64_t(capacity) + 1) abort();
  if (lzssDecodeByteAtATime(input, length, expected.data(), capacity) != count) abort();
  if (memcmp(expected.data(), output, expected.size()) != 0) abort();
  free(output);

  std::vector<uint8_t> stream = lzssEncode(input, length);
  std::vector<uint8_t> back(length ? length : 1);
  if (lzssDecode(stream.data(), uint32_t(stream.size()), back.data(), length) != length) abort();
  if (length && memcmp(back.data(), input, length) != 0) abort();
  return 0;
}
