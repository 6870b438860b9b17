// Decoding of one stored block of a pack: the directory or a resource. A block carries its stored
// size, its unpacked size, a method word (decimal digits: post-processing code, pre-processing code,
// packing method) and the packHash of its unpacked bytes.
//
// Sizes come straight from the file, so nothing here trusts them: an unpacked size beyond what the
// stored bytes can reach by their method is refused before anything of that size is allocated, zeroed
// or hashed, and no decoder writes outside the output it is handed.
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "storage/storage.h"

int pack_checksums_enabled = 1;
PackFailure pack_failure = PackFailure::none;

static constexpr uint32_t kWindowSize = 4096;
static constexpr uint32_t kWindowMask = kWindowSize - 1;
static constexpr uint32_t kWindowStart = 4078;  // 4096 - 18, where the first decoded byte lands
// The densest LZSS group is one flag byte and eight 2-byte references of 18 bytes: 17 bytes in, 144
// out. No stream of n bytes gets beyond 9 n.
static constexpr uint64_t kLzssMaxRatio = 9;
// Deflate's densest code is a 258-byte match in two bits (one-bit length and distance codes): 1032 bytes
// out per byte in. The zlib header, block headers and check value only add input; the slack covers a
// final match that ends inside the last byte.
static constexpr uint64_t kZlibMaxRatio = 1032;
static constexpr uint64_t kZlibSlack = 258;

// The most that `stored_size` bytes can unpack to by `method`; 0 for a method that does not exist.
static uint64_t reachableSize(int method, uint32_t stored_size) {
  switch (method) {
    case 0: return stored_size;  // stored bytes are the unpacked bytes
    case 1:
    case 2: return kZlibMaxRatio * stored_size + kZlibSlack;
    case 3: return kLzssMaxRatio * stored_size;
    default: return 0;
  }
}

// The processing steps that the method word can ask for. No code changes the bytes, and each reports
// success; they remain a step of their own so that the order of the decoding stays visible.
static bool processBlock(uint8_t* /*bytes*/, uint32_t /*length*/, int /*code*/) { return true; }

static void fail(const char* why, PackFailure failure = PackFailure::damaged) {
  pack_failure = failure;
  debugMessage(why, "VARK ERROR");
}

static bool unpackBlock(const uint8_t* stored, uint32_t stored_size, uint8_t* output, uint32_t unpacked_size,
                 int method) {
  switch (method) {
    case 0:
      // reachableSize has made sure that the stored bytes cover the unpacked size.
      if (unpacked_size) memcpy(output, stored, unpacked_size);
      return true;
    case 1:
    case 2: {
      uLongf written = unpacked_size;
      // zlib wants a non-null source even for an empty stream, which then fails as Z_BUF_ERROR.
      static const Bytef kNothing = 0;
      int result = uncompress(output, &written, stored ? stored : &kNothing, stored_size);
      if (result != Z_OK) return false;
      // A short stream leaves a tail for the checksum to judge; it is zeros, not old heap contents.
      memset(output + written, 0, unpacked_size - written);
      return true;
    }
    case 3:
      return lzssDecode(stored, stored_size, output, unpacked_size) == unpacked_size;
    default:
      return false;
  }
}

uint32_t packHash(const void* bytes, uint32_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  uint32_t h = 0;
  if (length == 0xFFFFFFFFu) {
    for (; *p; ++p) {
      h += *p;
      h = (h << 3) | (h >> 29);
    }
    return h;
  }
  for (uint32_t i = 0; i < length; ++i) {
    h += p[i];
    h = (h << 3) | (h >> 29);
  }
  return h;
}

uint64_t lzssDecode(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t capacity) {
  const uint8_t* in = input;
  const uint8_t* in_end = input + input_length;
  uint64_t out = 0;
  // The ring window is only needed until 4096 bytes have come out; from then on every window byte is
  // also an output byte at a fixed distance behind the write position, and references copy straight
  // out of the output.
  uint8_t window[kWindowSize];
  memset(window, 0x20, kWindowStart);
  memset(window + kWindowStart, 0, kWindowSize - kWindowStart);
  uint32_t r = kWindowStart;
  unsigned flags = 0;  // bit 8 set while flag bits are pending

  for (;;) {
    flags >>= 1;
    if (!(flags & 0x100)) {
      if (in == in_end) break;
      flags = 0xFF00u | *in++;
      // A group of eight literals (as stored data that does not compress is all made of) that is
      // whole in the input and fits the output is copied in one go: the same bytes as one at a time,
      // without a flag, end and capacity test per byte. The window is kept only while references
      // may still read it.
      if (flags == 0xFFFFu && in_end - in >= 8 && capacity - out >= 8) {
        memcpy(output + out, in, 8);
        if (out < kWindowSize) {
          for (int k = 0; k < 8; ++k) window[(r + k) & kWindowMask] = in[k];
        }
        out += 8;
        r = (r + 8) & kWindowMask;
        in += 8;
        flags = 0;
        continue;
      }
    }
    if (flags & 1) {
      if (in == in_end) break;
      if (out >= capacity) return uint64_t(capacity) + 1;
      uint8_t c = *in++;
      output[out++] = c;
      window[r] = c;
      r = (r + 1) & kWindowMask;
      continue;
    }
    if (in == in_end) break;
    uint32_t i = *in++;
    if (in == in_end) break;
    uint32_t j = *in++;
    uint32_t p = i | ((j & 0xF0) << 4);
    uint32_t n = (j & 0x0F) + 3;
    if (out + n > capacity) return uint64_t(capacity) + 1;
    if (out >= kWindowSize) {
      // Distance back from the write position; 0 means the byte about to be overwritten, 4096 back.
      uint32_t distance = (r - p) & kWindowMask;
      if (distance == 0) distance = kWindowSize;
      uint8_t* dst = output + out;
      const uint8_t* src = dst - distance;
      if (distance >= n) {
        memcpy(dst, src, n);
      } else {
        for (uint32_t k = 0; k < n; ++k) dst[k] = src[k];
      }
      out += n;
      r = (r + n) & kWindowMask;
      continue;
    }
    for (uint32_t k = 0; k < n; ++k) {
      uint8_t c = window[(p + k) & kWindowMask];
      output[out++] = c;
      window[r] = c;
      r = (r + 1) & kWindowMask;
    }
  }
  return out;
}

// Division of a negative word would give negative codes; such a word names no packing method.
static int packingMethod(int32_t method_word) { return method_word < 0 ? -1 : method_word % 100; }

bool packSizeReachable(uint32_t stored_size, uint32_t unpacked_size, int32_t method_word) {
  int method = packingMethod(method_word);
  return method >= 0 && method <= 3 && uint64_t(unpacked_size) <= reachableSize(method, stored_size);
}

uint8_t* packDecode(uint8_t* stored, uint32_t stored_size, uint32_t unpacked_size, int32_t method_word,
                    uint32_t checksum) {
  int method = packingMethod(method_word);
  int pre_code = method_word < 0 ? 0 : (method_word / 100) % 100;
  int post_code = method_word < 0 ? 0 : method_word / 10000;

  if (!processBlock(stored, stored_size, pre_code)) {
    fail("Preprocessing failed");
    free(stored);
    return nullptr;
  }

  bool reachable =
      (stored != nullptr || stored_size == 0) && packSizeReachable(stored_size, unpacked_size, method_word);
  uint8_t* unpacked = reachable ? static_cast<uint8_t*>(malloc(unpacked_size ? unpacked_size : 1)) : nullptr;
  if (reachable && !unpacked) {
    fail("Decompression failed", PackFailure::out_of_memory);
    free(stored);
    return nullptr;
  }
  if (!unpacked || !unpackBlock(stored, stored_size, unpacked, unpacked_size, method)) {
    fail("Decompression failed");
    free(unpacked);
    free(stored);
    return nullptr;
  }

  if (!processBlock(unpacked, unpacked_size, post_code)) {
    fail("Postprocessing failed");
    free(unpacked);
    free(stored);
    return nullptr;
  }

  if (pack_checksums_enabled && packHash(unpacked, unpacked_size) != checksum) {
    fail("Checksum failed");
    free(unpacked);
    free(stored);
    return nullptr;
  }

  free(stored);
  pack_failure = PackFailure::none;
  return unpacked;
}

const char* packFailureText(PackFailure failure) {
  switch (failure) {
    case PackFailure::none: return "read";
    case PackFailure::missing: return "missing";
    case PackFailure::unreadable: return "unreadable (the pack file cannot be read there)";
    case PackFailure::damaged: return "damaged (checksum or decoding failed)";
    case PackFailure::too_large: return "too large (2 GiB or more)";
    case PackFailure::out_of_memory: return "too large for the memory available";
  }
  return "unreadable";
}
