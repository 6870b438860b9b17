// The classic LZSS decoder, one byte at a time through the 4096-byte ring window, as the reference that
// the show's lzssDecode is checked against (tests, the fuzz target) and measured beside (bench_storage).
// It ends as lzssDecode does: a stream that stops inside a group ends the output, and one that would
// outgrow the capacity gives capacity + 1 before the literal or the whole reference that does not fit.
#pragma once

#include <cstdint>
#include <cstring>

inline uint64_t lzssDecodeByteAtATime(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity) {
  uint8_t window[4096];
  std::memset(window, 0x20, 4078);
  std::memset(window + 4078, 0, 18);
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
