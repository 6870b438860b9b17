// The pack storage: block decoding, mounting and the index, reads, and memory files.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "lzss_reference.h"
#include "pack_writer.h"
#include "storage/storage.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> traces;
void recordTrace(const char* text, const char* caption) {
  traces.push_back(std::string(caption) + ": " + text);
}

class Storage : public testing::Test {
 protected:
  void SetUp() override {
    packReset();
    traces.clear();
    debug_trace_hook = recordTrace;
    folder = scratchFolder();
  }
  void TearDown() override {
    debug_trace_hook = nullptr;
    pack_checksums_enabled = 1;
    packReset();
  }
  std::string write(const std::string& name, const Bytes& bytes) {
    std::string path = folder + "/" + name;
    writeFile(path, bytes);
    return path;
  }
  std::string folder;
};

uint8_t* copyOf(const Bytes& bytes) {
  uint8_t* p = static_cast<uint8_t*>(malloc(bytes.empty() ? 1 : bytes.size()));
  if (!bytes.empty()) memcpy(p, bytes.data(), bytes.size());
  return p;
}

// Decodes a block; the result as bytes, or "none" as an empty optional-like flag.
bool decode(const Bytes& stored, uint32_t unpacked_size, int32_t word, uint32_t checksum, Bytes* out) {
  uint8_t* result = packDecode(copyOf(stored), uint32_t(stored.size()), unpacked_size, word, checksum);
  if (!result) return false;
  out->assign(result, result + unpacked_size);
  free(result);
  return true;
}

Bytes zlibStream(const Bytes& bytes) {
  uLongf size = compressBound(bytes.size());
  Bytes out(size);
  compress2(out.data(), &size, bytes.data(), bytes.size(), 9);
  out.resize(size);
  return out;
}

Bytes lzss(const Bytes& input, uint32_t capacity, uint64_t* count) {
  Bytes out(capacity + 16, 0xEE);
  *count = lzssDecode(input.data(), uint32_t(input.size()), out.data(), capacity);
  // Nothing may land beyond the capacity.
  for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "byte " << i;
  out.resize(*count < capacity ? size_t(*count) : capacity);
  return out;
}

Bytes text(size_t size) {
  const char* words[] = {"scene ", "camera ", "light ", "mesh ", "the ", "of ", "skybox\n", "fade "};
  std::mt19937 random(7);
  Bytes out;
  while (out.size() < size) {
    const char* w = words[random() % 8];
    out.insert(out.end(), w, w + strlen(w));
  }
  out.resize(size);
  return out;
}

Bytes noise(size_t size, uint32_t seed = 1) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = uint8_t(random());
  return out;
}

uint32_t hashOf(const Bytes& b) { return packHash(b.data(), uint32_t(b.size())); }

void putWord(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// ---- packHash and lzssDecode ---------------------------------------------------------------------

TEST(PackHash, RotatesTheSumLeftByThreeInBothForms) {
  EXPECT_EQ(packHash("ABC", 3), 0x9498u);
  EXPECT_EQ(packHash("ABC", 0xFFFFFFFFu), 0x9498u);
  EXPECT_EQ(packHash("ABC\0DEF", 0xFFFFFFFFu), 0x9498u);
  EXPECT_EQ(packHash("ABC", 0), 0u);
  Bytes zeros(1000, 0);
  EXPECT_EQ(hashOf(zeros), 0u);
  // The top bits come back in at the bottom.
  Bytes high = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  uint32_t h = 0;
  for (uint8_t b : high) {
    h += b;
    h = (h << 3) | (h >> 29);
  }
  EXPECT_EQ(hashOf(high), h);
}

TEST(LzssDecode, EightLiteralsThenANewFlagByteAndADroppedReference) {
  uint64_t count = 0;
  Bytes out = lzss({0xFF, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x01, 0x49}, 100, &count);
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(out, (Bytes{0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49}));
}

TEST(LzssDecode, ReferencesReadTheWindowAfterEachStore) {
  uint64_t count = 0;
  // The reference starts at the literal just written at 4078 and copies its own output.
  EXPECT_EQ(lzss({0x01, 0x41, 0xEE, 0xF0}, 100, &count), (Bytes{0x41, 0x41, 0x41, 0x41}));
  // Position 0x134, length 5: spaces of the pre-filled window.
  EXPECT_EQ(lzss({0x00, 0x34, 0x12}, 100, &count), Bytes(5, 0x20));
  // A reference whose second byte is missing is dropped.
  EXPECT_EQ(lzss({0x01, 0x41, 0xEE}, 100, &count), Bytes{0x41});
  EXPECT_EQ(lzss({}, 100, &count), Bytes{});
  EXPECT_EQ(count, 0u);
}

TEST(LzssDecode, NeverWritesPastTheCapacity) {
  uint64_t count = 0;
  // 18 spaces into 10 bytes of room.
  lzss({0x00, 0x00, 0x0F}, 10, &count);
  EXPECT_EQ(count, 11u);
  lzss({0xFF, 1, 2, 3}, 2, &count);
  EXPECT_EQ(count, 3u);
  lzss({0xFF, 1}, 0, &count);
  EXPECT_EQ(count, 1u);
  // The overflow result does not wrap at the top of the 32-bit range.
  uint8_t sink[32];
  Bytes input = {0x01, 0x41, 0xEE, 0xF0};
  EXPECT_EQ(lzssDecode(input.data(), uint32_t(input.size()), sink, 0xFFFFFFFFu), 4u);
}

TEST(LzssDecode, FarReferencesAfterTheWindowHasWrapped) {
  // Past 4096 output bytes references copy from the output itself: check distances 1, 4095, 4096.
  Bytes data = noise(5000, 3);
  for (uint32_t distance : {1u, 17u, 4095u, 4096u}) {
    Bytes stream;
    for (size_t i = 0; i < data.size(); i += 8) {
      stream.push_back(0xFF);
      for (size_t k = i; k < i + 8 && k < data.size(); ++k) stream.push_back(data[k]);
    }
    // data.size() is a multiple of 8, so the next byte is a fresh flag byte with a reference.
    uint32_t r = (4078 + uint32_t(data.size())) & 4095;
    uint32_t p = (r - distance) & 4095;
    stream.push_back(0x00);
    stream.push_back(uint8_t(p));
    stream.push_back(uint8_t(((p >> 4) & 0xF0) | 15));
    uint64_t count = 0;
    Bytes out = lzss(stream, 6000, &count);
    ASSERT_EQ(count, data.size() + 18) << distance;
    for (size_t k = 0; k < 18; ++k)
      EXPECT_EQ(out[data.size() + k], out[data.size() + k - distance]) << distance << " " << k;
  }
}

// Streams of long literal runs (whole groups of eight, the case the decoder copies eight at a time)
// broken by references near and far and by mixed groups, cut at every length and decoded into room
// just below, at and above what they need: the same bytes and count as one byte at a time.
TEST(LzssDecode, LiteralRunsGiveWhatOneByteAtATimeGives) {
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    Bytes stream;
    size_t groups = 20 + random() % (round < 20 ? 60 : 700);  // the later ones pass 4096 bytes
    for (size_t g = 0; g < groups; ++g) {
      uint8_t flags = random() % 4 ? 0xFF : uint8_t(random());
      stream.push_back(flags);
      for (int bit = 0; bit < 8; ++bit) {
        stream.push_back(uint8_t(random()));
        if (!(flags >> bit & 1)) stream.push_back(uint8_t(random()));
      }
    }
    Bytes full(stream.size() * 9 + 16);
    uint64_t whole = lzssDecodeByteAtATime(stream.data(), uint32_t(stream.size()), full.data(), uint32_t(full.size()));
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut <= std::min<size_t>(stream.size(), 40); ++cut) cuts.push_back(cut);
    for (int k = 0; k < 30; ++k) cuts.push_back(random() % (stream.size() + 1));
    for (size_t cut : cuts) {
      Bytes part(stream.begin(), stream.begin() + long(cut));
      std::vector<uint32_t> capacities = {0, 1, 7, 8, 9, uint32_t(whole), uint32_t(whole) + 1};
      for (int k = 1; k <= 9; ++k) capacities.push_back(uint32_t(whole > uint64_t(k) ? whole - k : 0));
      capacities.push_back(uint32_t(random() % (whole + 1)));
      for (uint32_t capacity : capacities) {
        Bytes expected(capacity + 16, 0xEE), got(capacity + 16, 0xEE);
        uint64_t want = lzssDecodeByteAtATime(part.data(), uint32_t(part.size()), expected.data(), capacity);
        uint64_t have = lzssDecode(part.data(), uint32_t(part.size()), got.data(), capacity);
        ASSERT_EQ(want, have) << "round " << round << ", cut " << cut << ", capacity " << capacity;
        ASSERT_EQ(expected, got) << "round " << round << ", cut " << cut << ", capacity " << capacity;
      }
    }
  }
}

TEST(LzssEncode, RoundTripsAndFindsMatches) {
  for (const Bytes& data : {text(100000), Bytes(70000, 0), noise(50000), Bytes{}, Bytes{7}, text(19)}) {
    Bytes stream = lzssEncode(data.data(), data.size());
    uint64_t count = 0;
    Bytes out = lzss(stream, uint32_t(data.size()), &count);
    EXPECT_EQ(count, data.size());
    EXPECT_EQ(out, data);
  }
  EXPECT_LT(lzssEncode(Bytes(70000, 0).data(), 70000).size(), 70000u / 8);
  Bytes words = text(100000);
  EXPECT_LT(lzssEncode(words.data(), words.size()).size(), words.size() / 3);
}

// ---- packDecode -----------------------------------------------------------------------------------

TEST_F(Storage, StoredBlocksAreCopiedUpToTheUnpackedSize) {
  Bytes data = text(300);
  Bytes out;
  ASSERT_TRUE(decode(data, 300, 0, hashOf(data), &out));
  EXPECT_EQ(out, data);
  Bytes head(data.begin(), data.begin() + 100);
  ASSERT_TRUE(decode(data, 100, 0, hashOf(head), &out));
  EXPECT_EQ(out, head);
  EXPECT_TRUE(traces.empty());
}

// A declared size is only believed as far as the stored bytes can reach by their method; beyond that
// the block is refused before a buffer of that size exists. Zeros hash to 0, so a checksum of 0 would
// otherwise pass whatever was declared.
TEST_F(Storage, SizesTheStoredBytesCannotReachAreRefused) {
  Bytes head = text(100);
  Bytes nothing = zlibStream({});
  Bytes out;
  struct Case {
    const char* why;
    Bytes stored;
    uint32_t size;
    int32_t word;
  } cases[] = {
      {"stored block shorter than its size", head, 101, 0},
      {"stored block of nothing", {}, 1, 0},
      {"zlib stream past 1032 to 1", nothing, uint32_t(1032 * nothing.size() + 259), 1},
      {"zlib stream of 4 GiB", nothing, 0xFFFFFFF0u, 2},
      {"LZSS stream past 9 to 1", Bytes{0x00, 0x00, 0x0F}, 28, 3},
  };
  for (const Case& c : cases) {
    traces.clear();
    EXPECT_FALSE(decode(c.stored, c.size, c.word, 0, &out)) << c.why;
    EXPECT_EQ(traces, std::vector<std::string>{"VARK ERROR: Decompression failed"}) << c.why;
  }
  // The densest zlib streams there are still decode.
  Bytes zeros(8 << 20, 0);
  Bytes packed = zlibStream(zeros);
  EXPECT_GT(zeros.size(), 1000 * packed.size());
  ASSERT_TRUE(decode(packed, uint32_t(zeros.size()), 1, 0, &out));
  EXPECT_EQ(out, zeros);
}

TEST_F(Storage, ZlibBlocksDecodeWhateverTheProcessingCodes) {
  Bytes data = text(5000);
  Bytes stream = zlibStream(data);
  for (int32_t word : {1, 2, 101, 10001, 10101, 990102}) {
    Bytes out;
    ASSERT_TRUE(decode(stream, 5000, word, hashOf(data), &out)) << word;
    EXPECT_EQ(out, data);
  }
  EXPECT_TRUE(traces.empty());
}

TEST_F(Storage, BlocksThatDoNotDecodeFailWithTheirTrace) {
  Bytes data = text(5000);
  Bytes stream = zlibStream(data);
  Bytes out;
  struct Case {
    Bytes stored;
    uint32_t size;
    int32_t word;
    uint32_t checksum;
    const char* trace;
  } cases[] = {
      {stream, 4999, 1, hashOf(data), "Decompression failed"},               // inflates to more
      {Bytes(stream.begin(), stream.end() - 10), 5000, 1, 0, "Decompression failed"},  // truncated
      {Bytes{}, 0, 1, 0, "Decompression failed"},                            // empty zlib stream
      {data, 5000, 4, hashOf(data), "Decompression failed"},                 // no method 4
      {data, 5000, -1, hashOf(data), "Decompression failed"},
      {data, 5000, 0, hashOf(data) ^ 1, "Checksum failed"},                  // one bit off
      {stream, 5000, 1, hashOf(data) ^ 0x80000000u, "Checksum failed"},
      {Bytes{0xFF, 1, 2}, 3, 3, 0, "Decompression failed"},                  // LZSS short
      {Bytes{0xFF, 1, 2, 3, 4}, 3, 3, 0, "Decompression failed"},            // LZSS long
      {Bytes{0x00, 0x00, 0x0F}, 0xFFFFFFFFu, 3, 0, "Decompression failed"},   // unreachable size
  };
  for (const Case& c : cases) {
    traces.clear();
    EXPECT_FALSE(decode(c.stored, c.size, c.word, c.checksum, &out)) << c.trace;
    EXPECT_EQ(traces, std::vector<std::string>{std::string("VARK ERROR: ") + c.trace});
  }
  // The switch turns the checksum test off.
  pack_checksums_enabled = 0;
  EXPECT_TRUE(decode(data, 5000, 0, 12345, &out));
}

TEST_F(Storage, EmptyBlocksDecodeToAnEmptyBuffer) {
  Bytes out;
  EXPECT_TRUE(decode({}, 0, 3, 0, &out));
  EXPECT_TRUE(decode({}, 0, 0, 0, &out));
  uint8_t* result = packDecode(nullptr, 0, 0, 3, 0);
  EXPECT_NE(result, nullptr);
  free(result);
}

// ---- Mounting and the index -----------------------------------------------------------------------

std::vector<std::string> indexNames() {
  std::vector<std::string> names;
  for (PackEntry* e = pack_entries; e; e = e->next) {
    names.push_back(e->name);
    if (e->next) {
      EXPECT_EQ(e->next->previous, e);
    }
  }
  return names;
}

Bytes readEntry(const char* name) {
  uint8_t* p = packRead(name);
  if (!p) return Bytes{0xDE, 0xAD};
  Bytes out(p, p + packSize(name));
  free(p);
  return out;
}

TEST_F(Storage, MountsAtTheOffsetAndMatchesNamesWithoutCase) {
  std::string path = write("a.dat", makePack({{"music.xm", text(3000)}, {"abc", {1, 2, 3}}}, PackMethod::zlib));
  ASSERT_EQ(packMount(path.c_str(), 0), 1);
  EXPECT_EQ(indexNames(), (std::vector<std::string>{"MUSIC.XM", "ABC"}));
  EXPECT_EQ(pack_entries->next->name_hash, 0x9498u);
  for (const char* name : {"music.xm", "MUSIC.XM", "Music.Xm"}) {
    EXPECT_EQ(packExists(name), 1) << name;
    EXPECT_EQ(packSize(name), 3000) << name;
  }
  EXPECT_EQ(readEntry("Music.XM"), text(3000));
  EXPECT_EQ(packExists("music.x"), 0);
  EXPECT_EQ(packSize("absent"), 0);
  EXPECT_EQ(packRead("absent"), nullptr);
  EXPECT_EQ(traces, (std::vector<std::string>{"added resource: MUSIC.XM", "added resource: ABC"}));
}

TEST_F(Storage, FindsAnAppendedPackThroughItsTrailer) {
  Bytes file = noise(777);
  Bytes pack = makePack({{"logo.jpg", text(2000)}}, PackMethod::lzss);
  file.insert(file.end(), pack.begin(), pack.end());
  std::string path = write("show", file);
  ASSERT_EQ(packMount(path.c_str(), 0), 1);
  EXPECT_EQ(pack_mounts->base_offset, 777u);
  EXPECT_EQ(readEntry("LOGO.JPG"), text(2000));
}

TEST_F(Storage, MissingTagsFailWithTheirTraces) {
  EXPECT_EQ(packMount((folder + "/absent").c_str(), 0), 0);
  EXPECT_TRUE(traces.empty());

  std::string junk = write("junk", noise(100));
  EXPECT_EQ(packMount(junk.c_str(), 0), 0);
  EXPECT_EQ(traces, (std::vector<std::string>{"VARK ERROR: can't find BTAG anywhere", "VARK ERROR: OPEN FAILED"}));

  // An end tag whose length points at no begin tag, or beyond the start of the file.
  for (uint32_t length : {50u, 1000u, 0xFFFFFFFFu}) {
    Bytes bytes = noise(100);
    putWord(bytes, 92, length);
    memcpy(bytes.data() + 96, "2ZUR", 4);
    traces.clear();
    EXPECT_EQ(packMount(write("trailer", bytes).c_str(), 0), 0);
    EXPECT_EQ(traces, (std::vector<std::string>{"VARK ERROR: can't find ETAG anywhere", "VARK ERROR: OPEN FAILED"}));
  }
  // Files too small for a tag, and an offset beyond the file.
  EXPECT_EQ(packMount(write("empty", {}).c_str(), 0), 0);
  EXPECT_EQ(packMount(write("tiny", {'Z', 'U'}).c_str(), 0), 0);
  Bytes pack = makePack({}, PackMethod::stored);
  EXPECT_EQ(packMount(write("p", pack).c_str(), 0xFFFFFFF0u), 1);  // trailer still finds it
  EXPECT_EQ(pack_entries, nullptr);
}

TEST_F(Storage, AnEmptyDirectoryMountsWithoutEntries) {
  for (PackMethod method : {PackMethod::stored, PackMethod::zlib, PackMethod::lzss}) {
    EXPECT_EQ(packMount(write("empty.dat", makePack({}, method)).c_str(), 0), 1);
    EXPECT_EQ(pack_entries, nullptr);
    ASSERT_NE(pack_mounts, nullptr);
    EXPECT_EQ(pack_mounts->next, nullptr);
  }
}

TEST_F(Storage, RemountingOneFileReplacesEntriesInPlace) {
  std::string path = write("a.dat", makePack({{"one", {1}}, {"two", {2}}}, PackMethod::stored));
  ASSERT_EQ(packMount(path.c_str(), 0), 1);
  PackEntry* first_one = packFind("one");
  // The same file name with a different layout: the pack record and its base offset stay.
  Bytes shifted = noise(40);
  Bytes second = makePack({{"three", {3}}, {"TWO", {22}}}, PackMethod::stored);
  shifted.insert(shifted.end(), second.begin(), second.end());
  writeFile(path, shifted);
  ASSERT_EQ(packMount(path.c_str(), 0), 1);
  EXPECT_EQ(pack_mounts->next, nullptr);
  EXPECT_EQ(pack_mounts->base_offset, 0u);
  EXPECT_EQ(indexNames(), (std::vector<std::string>{"ONE", "TWO", "THREE"}));
  EXPECT_EQ(packFind("one"), first_one);
  EXPECT_EQ(packFind("two")->pack, pack_mounts);
  EXPECT_EQ(packFind("two")->unpacked_size, 1u);
}

TEST_F(Storage, TheLaterPackWinsAndTakesTheEarlierPlace) {
  std::string a = write("a.dat", makePack({{"head", {1}}, {"shared", {1, 1}}, {"tail", {1}}}, PackMethod::zlib));
  std::string b = write("b.dat", makePack({{"Shared", {2, 2, 2}}, {"new", {2}}}, PackMethod::lzss));
  ASSERT_EQ(packMount(a.c_str(), 0), 1);
  ASSERT_EQ(packMount(b.c_str(), 0), 1);
  EXPECT_EQ(indexNames(), (std::vector<std::string>{"HEAD", "SHARED", "TAIL", "NEW"}));
  EXPECT_EQ(readEntry("shared"), (Bytes{2, 2, 2}));
  EXPECT_EQ(readEntry("head"), (Bytes{1}));
  ASSERT_NE(pack_mounts->next, nullptr);
  EXPECT_EQ(packFind("shared")->pack, pack_mounts->next);
  EXPECT_EQ(pack_entries->previous, nullptr);

  // Two records of one name in one directory: the later wins, also at the head of the list.
  packReset();
  std::string c = write("c.dat", makePack({{"x", {1}}, {"y", {2}}, {"X", {3}}}, PackMethod::stored));
  ASSERT_EQ(packMount(c.c_str(), 0), 1);
  EXPECT_EQ(indexNames(), (std::vector<std::string>{"X", "Y"}));
  EXPECT_EQ(readEntry("x"), (Bytes{3}));
}

// A stored-method pack built by hand, so that single fields can be broken.
struct HandPack {
  Bytes directory;
  Bytes file;
  size_t header_at = 8;
  size_t directory_at = 0;
  void build() {
    file = {'Z', 'U', 'R', '2', 0, 0, 0, 0};
    file.resize(28, 0);
    directory_at = file.size();
    putWord(file, 8, uint32_t(directory_at));
    putWord(file, 12, uint32_t(directory.size()));
    putWord(file, 16, uint32_t(directory.size()));
    putWord(file, 20, 0);
    putWord(file, 24, packHash(directory.data(), uint32_t(directory.size())));
    file.insert(file.end(), directory.begin(), directory.end());
  }
};

Bytes directoryOf(uint32_t table, uint32_t count, const Bytes& records, const std::string& names) {
  Bytes d(table + records.size() + names.size(), 0);
  putWord(d, 0, table);
  putWord(d, 4, count);
  std::copy(records.begin(), records.end(), d.begin() + table);
  std::copy(names.begin(), names.end(), d.begin() + table + records.size());
  return d;
}

Bytes record(uint32_t name_offset, uint32_t data_offset, uint32_t stored, uint32_t unpacked, uint32_t word,
             uint32_t checksum) {
  Bytes r(24);
  putWord(r, 0, name_offset);
  putWord(r, 4, data_offset);
  putWord(r, 8, stored);
  putWord(r, 12, unpacked);
  putWord(r, 16, word);
  putWord(r, 20, checksum);
  return r;
}

TEST_F(Storage, DirectoriesPointingOutsideThemselvesFailAndLeaveTheIndexAlone) {
  std::string good = write("good.dat", makePack({{"kept", {9}}}, PackMethod::stored));
  ASSERT_EQ(packMount(good.c_str(), 0), 1);
  std::string name_a = std::string("a") + '\0';
  Bytes one = record(0, 0, 0, 0, 0, 0);
  Bytes bad_name = record(2, 0, 0, 0, 0, 0);
  struct Case {
    const char* why;
    Bytes directory;
  } cases[] = {
      {"shorter than its header", Bytes{8, 0, 0}},
      {"table beyond the end", directoryOf(8, 1, {}, "")},
      {"count overflows", directoryOf(8, 0x0AAAAAAB, one, name_a)},
      {"name offset beyond the names", directoryOf(8, 1, bad_name, name_a)},
      {"name without its zero", directoryOf(8, 1, one, "abc")},
      {"second record bad", directoryOf(8, 2, [&] { Bytes r = one; r.insert(r.end(), bad_name.begin(), bad_name.end()); return r; }(), name_a)},
  };
  for (const Case& c : cases) {
    HandPack pack;
    pack.directory = c.directory;
    pack.build();
    traces.clear();
    EXPECT_EQ(packMount(write("bad.dat", pack.file).c_str(), 0), 0) << c.why;
    EXPECT_EQ(traces, std::vector<std::string>{"VARK ERROR: OPEN FAILED"}) << c.why;
    EXPECT_EQ(indexNames(), std::vector<std::string>{"KEPT"}) << c.why;
    ASSERT_NE(pack_mounts, nullptr);
    EXPECT_EQ(pack_mounts->next, nullptr) << c.why;
  }
  // Header or stored directory beyond the end of the file.
  HandPack pack;
  pack.directory = directoryOf(8, 0, {}, "");
  pack.build();
  Bytes skip_far = pack.file;
  putWord(skip_far, 4, 0xFFFFFFF0u);
  Bytes dir_far = pack.file;
  putWord(dir_far, 8, 0xFFFFFFF0u);
  Bytes dir_long = pack.file;
  putWord(dir_long, 12, 1000);
  for (const Bytes& file : {skip_far, dir_far, dir_long}) {
    traces.clear();
    EXPECT_EQ(packMount(write("bad.dat", file).c_str(), 0), 0);
    EXPECT_EQ(traces, std::vector<std::string>{"VARK ERROR: OPEN FAILED"});
  }
  // A directory that fails its checksum: the decoder's trace, then the mount's.
  Bytes bad_sum = pack.file;
  bad_sum[24] ^= 1;
  traces.clear();
  EXPECT_EQ(packMount(write("bad.dat", bad_sum).c_str(), 0), 0);
  EXPECT_EQ(traces, (std::vector<std::string>{"VARK ERROR: Checksum failed", "VARK ERROR: OPEN FAILED"}));
  EXPECT_EQ(indexNames(), std::vector<std::string>{"KEPT"});
}

TEST_F(Storage, ReadsOutsideTheFileGiveNone) {
  Bytes data = {1, 2, 3, 4};
  struct Case {
    uint32_t data_offset, stored;
  } cases[] = {{1000, 4}, {0xFFFFFFFFu, 4}, {28, 0xFFFFFFFFu}, {28, 1000}};
  for (const Case& c : cases) {
    packReset();
    HandPack pack;
    pack.directory = directoryOf(8, 1, record(0, c.data_offset, c.stored, 4, 0, hashOf(data)), std::string("r") + '\0');
    pack.build();
    pack.file.insert(pack.file.end(), data.begin(), data.end());
    ASSERT_EQ(packMount(write("p.dat", pack.file).c_str(), 0), 1);
    EXPECT_EQ(packRead("r"), nullptr) << c.data_offset << " " << c.stored;
    EXPECT_EQ(pack_failure, PackFailure::unreadable);
  }
  // A resource whose file has gone away.
  std::string path = write("gone.dat", makePack({{"r", data}}, PackMethod::stored));
  packReset();
  ASSERT_EQ(packMount(path.c_str(), 0), 1);
  std::remove(path.c_str());
  EXPECT_EQ(packExists("r"), 1);
  EXPECT_EQ(packRead("r"), nullptr);
  // An entry that fails to decode.
  packReset();
  HandPack bad;
  bad.directory = directoryOf(8, 1, record(0, 0, 4, 4, 0, hashOf(data) + 1), std::string("r") + '\0');
  bad.build();
  ASSERT_EQ(packMount(write("bad.dat", bad.file).c_str(), 0), 1);
  traces.clear();
  EXPECT_EQ(packRead("r"), nullptr);
  EXPECT_EQ(traces, std::vector<std::string>{"VARK ERROR: Checksum failed"});
  EXPECT_EQ(pack_failure, PackFailure::damaged);
}

TEST_F(Storage, EveryMethodRoundTripsThroughAPack) {
  std::vector<PackItem> items = {
      {"text.txt", text(20000)}, {"zeros.bin", Bytes(50000, 0)}, {"noise.bin", noise(30000)},
      {"empty", {}},             {"big.bin", text(1 << 20)},
  };
  for (PackMethod method : {PackMethod::stored, PackMethod::zlib, PackMethod::lzss, PackMethod::best}) {
    packReset();
    std::string path = write("all.dat", makePack(items, method));
    ASSERT_EQ(packMount(path.c_str(), 0), 1);
    for (const PackItem& item : items) EXPECT_EQ(readEntry(item.name.c_str()), item.bytes) << item.name;
  }
  // "best" keeps noise stored and packs the rest.
  EXPECT_EQ(packFind("noise.bin")->method_word, 0);
  EXPECT_NE(packFind("zeros.bin")->method_word, 0);
}

// ---- Memory files -----------------------------------------------------------------------------------

TEST_F(Storage, MemoryFilesReadShortAndCountWholeElements) {
  Bytes data = text(46);
  ASSERT_EQ(packMount(write("m.dat", makePack({{"scene.vyl", data}}, PackMethod::lzss)).c_str(), 0), 1);
  RamFile* f = ramfopen("SCENE.vyl");
  ASSERT_NE(f, nullptr);
  uint8_t buffer[64] = {};
  EXPECT_EQ(ramfread(buffer, 4, 10, f), 10);
  EXPECT_EQ(ramftell(f), 40);
  // 10 elements of 4 bytes with 6 bytes left: 6 bytes copied, 1 counted.
  EXPECT_EQ(ramfread(buffer, 4, 10, f), 1);
  EXPECT_EQ(memcmp(buffer, data.data() + 40, 6), 0);
  EXPECT_EQ(ramftell(f), 46);
  EXPECT_EQ(ramfread(buffer, 4, 10, f), 0);
  // A trailing part of an element is consumed but not counted.
  ramfseek(f, -2, 2);
  EXPECT_EQ(ramfread(buffer, 4, 1, f), 0);
  EXPECT_EQ(ramftell(f), 46);
  EXPECT_EQ(ramfread(buffer, 0, 10, f), 0);
  // Element size times count beyond 32 bits reads what is there.
  ramfseek(f, 0, 0);
  EXPECT_EQ(ramfread(buffer, 0x10000, 0x10000, f), 0);
  EXPECT_EQ(ramftell(f), 46);
  EXPECT_EQ(ramfclose(f), 0);
}

TEST_F(Storage, MemoryFileSeeksClampToTheResource) {
  ASSERT_EQ(packMount(write("m.dat", makePack({{"r", text(100)}}, PackMethod::zlib)).c_str(), 0), 1);
  RamFile* f = ramfopen("r");
  ASSERT_NE(f, nullptr);
  struct Case {
    int32_t offset;
    int origin;
    int position;
    int end_flag;
  } cases[] = {
      {-5, 0, 0, -1},   {5, 2, 100, -1},  {0, 2, 100, 0},  {30, 0, 30, 0},  {-10, 1, 20, 0},
      {7, 3, 20, 0},    {0x7FFFFFFF, 1, 100, -1},          {int32_t(0x80000000), 1, 0, -1},
      {int32_t(0x80000000), 2, 0, -1},                     {100, 0, 100, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ramfseek(f, c.offset, c.origin), 0);
    EXPECT_EQ(ramftell(f), c.position) << c.offset << " " << c.origin;
    EXPECT_EQ(f->end_flag, c.end_flag) << c.offset << " " << c.origin;
  }
  uint8_t b;
  ramfread(&b, 1, 1, f);
  EXPECT_EQ(f->end_flag, 0);
  ramfclose(f);
}

TEST_F(Storage, MemoryFilesOfEmptyAbsentAndBrokenResources) {
  HandPack pack;
  pack.directory = directoryOf(8, 2,
                               [] {
                                 Bytes r = record(0, 0, 0, 0, 3, 0);
                                 Bytes bad = record(6, 0, 4, 4, 0, 1);
                                 r.insert(r.end(), bad.begin(), bad.end());
                                 return r;
                               }(),
                               std::string("empty") + '\0' + "bad" + '\0');
  pack.build();
  ASSERT_EQ(packMount(write("m.dat", pack.file).c_str(), 0), 1);
  RamFile* f = ramfopen("empty");
  ASSERT_NE(f, nullptr);
  uint8_t b;
  EXPECT_EQ(ramfread(&b, 1, 1, f), 0);
  ramfclose(f);

  EXPECT_EQ(pack_failure, PackFailure::none);

  // Missing and damaged are told apart, for the messages of those who asked.
  traces.clear();
  EXPECT_EQ(ramfopen("absent.jpg"), nullptr);
  EXPECT_EQ(traces, std::vector<std::string>{"ramfopen - not a file: absent.jpg"});
  EXPECT_EQ(pack_failure, PackFailure::missing);
  traces.clear();
  EXPECT_EQ(ramfopen("bad"), nullptr);
  EXPECT_EQ(traces, std::vector<std::string>{"VARK ERROR: Checksum failed"});
  EXPECT_EQ(pack_failure, PackFailure::damaged);
  EXPECT_STREQ(packFailureText(pack_failure), "damaged (checksum or decoding failed)");
  // Eight bytes of zlib that declare 4 GiB are damaged, not too large.
  packReset();
  ASSERT_EQ(packMount(write("huge.dat", packDeclaringTooMuch("huge", 0xFFFFFFF0u)).c_str(), 0), 1);
  EXPECT_EQ(ramfopen("huge"), nullptr);
  EXPECT_EQ(pack_failure, PackFailure::damaged);
  EXPECT_EQ(packRead("huge"), nullptr);
  EXPECT_EQ(pack_failure, PackFailure::damaged);
  // Four MiB of zlib can reach 2.25 GiB, which no memory file can hold.
  HandPack large;
  large.directory = directoryOf(8, 1, record(0, 0, 4u << 20, 0x90000000u, 1, 0), std::string("large") + '\0');
  large.build();
  packReset();
  ASSERT_EQ(packMount(write("large.dat", large.file).c_str(), 0), 1);
  EXPECT_EQ(ramfopen("large"), nullptr);
  EXPECT_EQ(pack_failure, PackFailure::too_large);

  EXPECT_EQ(ramfread(&b, 1, 1, nullptr), 0);
  EXPECT_EQ(ramfseek(nullptr, 0, 0), 1);
  EXPECT_EQ(ramftell(nullptr), -1);
  EXPECT_EQ(ramfclose(nullptr), -1);
}

TEST_F(Storage, TwoStreamsOnOneNameShareNothing) {
  ASSERT_EQ(packMount(write("m.dat", makePack({{"r", text(10)}}, PackMethod::stored)).c_str(), 0), 1);
  RamFile* a = ramfopen("r");
  RamFile* b = ramfopen("R");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->bytes, b->bytes);
  ramfseek(a, 4, 0);
  EXPECT_EQ(ramftell(b), 0);
  ramfclose(a);
  ramfclose(b);
}

}  // namespace
