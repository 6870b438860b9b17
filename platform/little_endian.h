// Little-endian words, the byte order of every file the project reads or writes (packs, scenes,
// modules, the captured music): stored at a place, appended to bytes, or read back. Header-only; the
// storage layer and the tools' writers use it as well as the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The low `bytes` bytes of `value` (1 to 4) at `at`, lowest first.
inline void storeLittleEndian(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = uint8_t(value >> (8 * i));
}

inline void appendLittleEndian(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  size_t at = out->size();
  out->resize(at + size_t(bytes));
  storeLittleEndian(out->data() + at, value, bytes);
}

inline uint32_t loadLittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
