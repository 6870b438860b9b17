// lzssDecode on arbitrary streams into an output of exactly the given capacity, byte for byte the
// same as a decoder that takes one byte at a time, and the encoder's streams decoded back to their
// input.
// fuzz-link: narvu_storage narvu_tools
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pack_writer.h"
#include "storage/storage.h"

// Every byte through the ring window, with the same ends: a stream cut inside a group ends the
// output, and capacity + 1 comes before the literal or the whole reference that does not fit.
static uint64_t byteAtATimeLzss(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity) {
  uint8_t window[4096];
  memset(window, 0x20, 4078);
  memset(window + 4078, 0, 18);
  uint32_t r = 4078, at = 0;
  uint64_t out = 0;
  while (at < length) {
    uint8_t flags = input[at++];
    for (int bit = 0; bit < 8; ++bit) {
      if (flags >> bit & 1) {
        if (at == length) return out;
        if (out >= capacity) return uint64_t(capacity) + 1;
        output[out++] = window[r] = input[at++];
        r = (r + 1) & 4095;
        continue;
      }
      if (length - at < 2) return out;
      uint32_t p = input[at] | (input[at + 1] & 0xF0) << 4, n = (input[at + 1] & 0x0F) + 3u;
      at += 2;
      if (out + n > capacity) return uint64_t(capacity) + 1;
      for (uint32_t k = 0; k < n; ++k) {
        output[out++] = window[r] = window[(p + k) & 4095];
        r = (r + 1) & 4095;
      }
    }
  }
  return out;
}

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
  if (byteAtATimeLzss(input, length, expected.data(), capacity) != count) abort();
  if (memcmp(expected.data(), output, expected.size()) != 0) abort();
  free(output);

  std::vector<uint8_t> stream = lzssEncode(input, length);
  std::vector<uint8_t> back(length ? length : 1);
  if (lzssDecode(stream.data(), uint32_t(stream.size()), back.data(), length) != length) abort();
  if (length && memcmp(back.data(), input, length) != 0) abort();
  return 0;
}
