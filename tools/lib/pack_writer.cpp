// Writing pack files and the LZSS encoder.
//
// The encoder finds the longest match at every position through hash chains over the 4096-byte
// window, then chooses the cheapest parse backwards (a literal costs 9 bits, a reference 17), which
// beats greedy matching by a few percent on text and costs nothing extra in the stream format.
#include "pack_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "platform/little_endian.h"
#include "storage/storage.h"

static constexpr uint32_t kWindowSize = 4096;
static constexpr uint32_t kWindowStart = 4078;
static constexpr uint32_t kMinMatch = 3;
static constexpr uint32_t kMaxMatch = 18;
static constexpr int kHashBits = 15;
// Enough to find the longest match in all but pathological inputs; a run of equal bytes ends the
// search at once with an 18-byte match.
static constexpr int kMaxChain = 1024;

static uint32_t hash3(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  return (v * 2654435761u) >> (32 - kHashBits);
}

static std::vector<uint8_t> zlibEncode(const std::vector<uint8_t>& bytes) {
  uLongf size = compressBound(bytes.size());
  std::vector<uint8_t> out(size);
  static const Bytef kNothing = 0;
  if (compress2(out.data(), &size, bytes.empty() ? &kNothing : bytes.data(), bytes.size(), 9) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

std::vector<uint8_t> lzssEncode(const uint8_t* data, size_t size) {
  // Longest match (length, distance back) at every position.
  std::vector<uint8_t> length(size, 0);
  std::vector<uint16_t> distance(size, 0);
  std::vector<int64_t> head(size_t(1) << kHashBits, -1);
  std::vector<int64_t> previous(kWindowSize, -1);
  for (size_t pos = 0; pos < size; ++pos) {
    size_t limit = size - pos < kMaxMatch ? size - pos : kMaxMatch;
    if (limit < kMinMatch) continue;
    uint32_t h = hash3(data + pos);
    size_t best = 0;
    size_t best_distance = 0;
    int64_t candidate = head[h];
    for (int chain = 0; candidate >= 0 && chain < kMaxChain; ++chain) {
      size_t back = pos - size_t(candidate);
      if (back > kWindowSize) break;
      const uint8_t* a = data + candidate;
      const uint8_t* b = data + pos;
      if (a[best] == b[best]) {
        size_t n = 0;
        while (n < limit && a[n] == b[n]) ++n;
        if (n > best) {
          best = n;
          best_distance = back;
          if (n == limit) break;
        }
      }
      candidate = previous[size_t(candidate) % kWindowSize];
    }
    if (best >= kMinMatch) {
      length[pos] = uint8_t(best);
      distance[pos] = uint16_t(best_distance);
    }
    previous[pos % kWindowSize] = head[h];
    head[h] = int64_t(pos);
  }

  // Cheapest parse, from the end backwards; choice 0 is a literal.
  std::vector<uint64_t> cost(size + 1, 0);
  std::vector<uint8_t> choice(size, 0);
  for (size_t i = size; i-- > 0;) {
    cost[i] = 9 + cost[i + 1];
    for (uint32_t n = kMinMatch; n <= length[i]; ++n) {
      uint64_t c = 17 + cost[i + n];
      if (c < cost[i]) {
        cost[i] = c;
        choice[i] = uint8_t(n);
      }
    }
  }

  std::vector<uint8_t> out;
  out.reserve(size + size / 8 + 2);
  size_t flag_at = 0;
  int items = 8;
  for (size_t pos = 0; pos < size;) {
    if (items == 8) {
      flag_at = out.size();
      out.push_back(0);
      items = 0;
    }
    uint32_t n = choice[pos];
    if (n == 0) {
      out[flag_at] |= uint8_t(1u << items);
      out.push_back(data[pos]);
      pos += 1;
    } else {
      uint32_t p = uint32_t(kWindowStart + pos - distance[pos]) & (kWindowSize - 1);
      out.push_back(uint8_t(p & 0xFF));
      out.push_back(uint8_t(((p >> 4) & 0xF0) | (n - kMinMatch)));
      pos += n;
    }
    ++items;
  }
  return out;
}

std::vector<uint8_t> packBlock(const std::vector<uint8_t>& bytes, PackMethod method, int32_t* method_word) {
  switch (method) {
    case PackMethod::stored:
      *method_word = 0;
      return bytes;
    case PackMethod::zlib:
      *method_word = 1;
      return zlibEncode(bytes);
    case PackMethod::lzss:
      *method_word = 3;
      return lzssEncode(bytes.data(), bytes.size());
    case PackMethod::best:
      break;
  }
  // Ties go to the method that is cheaper to decode.
  std::vector<uint8_t> best = bytes;
  *method_word = 0;
  std::vector<uint8_t> lzss = lzssEncode(bytes.data(), bytes.size());
  if (lzss.size() < best.size()) {
    best.swap(lzss);
    *method_word = 3;
  }
  std::vector<uint8_t> zlib = zlibEncode(bytes);
  if (!zlib.empty() && zlib.size() < best.size()) {
    best.swap(zlib);
    *method_word = 1;
  }
  return best;
}

std::vector<uint8_t> makePack(const std::vector<PackItem>& items, PackMethod method) {
  std::vector<uint8_t> out = {'Z', 'U', 'R', '2'};
  appendLittleEndian(&out, 0, 4);  // nothing skipped
  size_t header_at = out.size();
  out.resize(header_at + 20);

  // Directory: table offset, count, records, then the name table.
  std::vector<uint8_t> directory;
  appendLittleEndian(&directory, 8, 4);
  appendLittleEndian(&directory, uint32_t(items.size()), 4);
  std::vector<uint8_t> names;
  for (const PackItem& item : items) {
    int32_t word = 0;
    std::vector<uint8_t> block = packBlock(item.bytes, method, &word);
    appendLittleEndian(&directory, uint32_t(names.size()), 4);
    appendLittleEndian(&directory, uint32_t(out.size()), 4);
    appendLittleEndian(&directory, uint32_t(block.size()), 4);
    appendLittleEndian(&directory, uint32_t(item.bytes.size()), 4);
    appendLittleEndian(&directory, uint32_t(word), 4);
    appendLittleEndian(&directory, packHash(item.bytes.data(), uint32_t(item.bytes.size())), 4);
    names.insert(names.end(), item.name.begin(), item.name.end());
    names.push_back(0);
    out.insert(out.end(), block.begin(), block.end());
  }
  directory.insert(directory.end(), names.begin(), names.end());

  int32_t word = 0;
  std::vector<uint8_t> block = packBlock(directory, method, &word);
  storeLittleEndian(&out[header_at], uint32_t(out.size()), 4);
  storeLittleEndian(&out[header_at + 4], uint32_t(block.size()), 4);
  storeLittleEndian(&out[header_at + 8], uint32_t(directory.size()), 4);
  storeLittleEndian(&out[header_at + 12], uint32_t(word), 4);
  storeLittleEndian(&out[header_at + 16], packHash(directory.data(), uint32_t(directory.size())), 4);
  out.insert(out.end(), block.begin(), block.end());

  appendLittleEndian(&out, uint32_t(out.size() + 8), 4);
  out.insert(out.end(), {'2', 'Z', 'U', 'R'});
  return out;
}

bool writePack(const std::string& path, const std::vector<PackItem>& items, PackMethod method,
               std::string* error) {
  std::vector<uint8_t> image = makePack(items, method);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = "cannot create '" + path + "': " + strerror(errno);
    return false;
  }
  bool ok = fwrite(image.data(), 1, image.size(), file) == image.size();
  ok = fclose(file) == 0 && ok;
  if (!ok && error) *error = "cannot write '" + path + "': " + strerror(errno);
  return ok;
}
