// Speed of the pack storage: the LZSS decoder, zlib blocks through packDecode, a whole packRead, and
// the LZSS encoder's speed and ratio beside zlib at level 9 on the same inputs.
//
// The LZSS decoder runs beside the classic ring-buffer decoder, one byte at a time (the reference of the
// tests, tests/support/lzss_reference.h), on compressible text, random bytes and the show's own pack
// (every resource of build/narvu.dat unpacked and laid end to end; skipped when there is no pack).
// Compare them in one run, with repetitions:
//   bench_storage --benchmark_filter=lzssDecode --benchmark_repetitions=5 --benchmark_report_aggregates_only
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "lzss_reference.h"
#include "pack_writer.h"
#include "storage/storage.h"

using Bytes = std::vector<uint8_t>;
static constexpr size_t kSize = 1 << 20;

// Words with the repetition of a scene file's names and numbers: compressible, but not trivially.
static Bytes compressible() {
  static const char* words[] = {"Object", "Camera01", "Light", "Box", "Material #", "0.000",
                                "1.250", "-3.75", "Texture", "face", "\n", " ", "skybox", "logo.jpg"};
  std::mt19937 random(11);
  Bytes out;
  while (out.size() < kSize) {
    const char* w = words[random() % 14];
    out.insert(out.end(), w, w + strlen(w));
    if (random() % 4 == 0) {
      std::string n = std::to_string(random() % 5000);
      out.insert(out.end(), n.begin(), n.end());
    }
  }
  out.resize(kSize);
  return out;
}

static Bytes randomBytes() {
  std::mt19937 generator(13);
  Bytes out(kSize);
  for (uint8_t& b : out) b = uint8_t(generator());
  return out;
}

// Every resource of the show's pack, unpacked, one after the other.
static Bytes packContents() {
  std::string path = std::string(NARVU_BENCH_BUILD_DIR) + "/narvu.dat";
  packReset();
  if (!packMount(path.c_str(), 0)) return {};
  Bytes out;
  for (PackEntry* entry = pack_entries; entry; entry = entry->next) {
    uint8_t* bytes = packRead(entry->name);
    if (!bytes) continue;
    out.insert(out.end(), bytes, bytes + packSize(entry->name));
    free(bytes);
  }
  packReset();
  return out;
}

static const char* const kInputNames[] = {"compressible", "random", "pack"};

static const Bytes& input(int which) {
  static const Bytes text = compressible();
  static const Bytes noise = randomBytes();
  static const Bytes pack = packContents();
  return which == 0 ? text : which == 1 ? noise : pack;
}

static Bytes zlibLevel9(const Bytes& data) {
  uLongf size = compressBound(data.size());
  Bytes out(size);
  compress2(out.data(), &size, data.data(), data.size(), 9);
  out.resize(size);
  return out;
}

// Arguments: the input (0 compressible, 1 random, 2 the pack), the decoder (0 lzssDecode, 1 the
// classic one byte at a time). Every decoder must give the input back.
static void lzssDecodeSpeed(benchmark::State& state) {
  using Decoder = uint64_t (*)(const uint8_t*, uint32_t, uint8_t*, uint32_t);
  static const Decoder kDecoders[] = {lzssDecode, lzssDecodeByteAtATime};
  static const char* const kDecoderNames[] = {"lzssDecode", "classic"};
  const Bytes& data = input(int(state.range(0)));
  if (data.empty()) {
    state.SkipWithError("no pack (build the show first)");
    return;
  }
  Decoder decode = kDecoders[state.range(1)];
  static std::vector<Bytes> streams(3);
  Bytes& stream = streams[size_t(state.range(0))];
  if (stream.empty()) stream = lzssEncode(data.data(), data.size());
  Bytes out(data.size());
  if (decode(stream.data(), uint32_t(stream.size()), out.data(), uint32_t(out.size())) != data.size() ||
      out != data) {
    state.SkipWithError("decoded bytes differ from the input");
    return;
  }
  for (auto _ : state) {
    uint64_t n = decode(stream.data(), uint32_t(stream.size()), out.data(), uint32_t(out.size()));
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.SetLabel(std::string(kInputNames[state.range(0)]) + " " + kDecoderNames[state.range(1)]);
}
BENCHMARK(lzssDecodeSpeed)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

// Includes copying the stored block each time, since packDecode takes it over (a few percent).
static void packDecodeZlib(benchmark::State& state) {
  const Bytes& data = input(0);
  Bytes stream = zlibLevel9(data);
  uint32_t checksum = packHash(data.data(), uint32_t(data.size()));
  for (auto _ : state) {
    uint8_t* stored = static_cast<uint8_t*>(malloc(stream.size()));
    memcpy(stored, stream.data(), stream.size());
    uint8_t* out = packDecode(stored, uint32_t(stream.size()), uint32_t(data.size()), 1, checksum);
    if (!out) state.SkipWithError("decode failed");
    free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(packDecodeZlib)->Unit(benchmark::kMillisecond);

// A 1 MB entry read from a pack file: open, seek, read, decode, checksum.
static void packRead1MB(benchmark::State& state) {
  static const char* names[] = {"stored", "zlib", "lzss"};
  PackMethod methods[] = {PackMethod::stored, PackMethod::zlib, PackMethod::lzss};
  std::string path = std::string(P_tmpdir) + "/narvu-bench-storage.dat";
  const Bytes& data = input(0);
  std::string error;
  if (!writePack(path, {{"entry.bin", data}}, methods[state.range(0)], &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  packReset();
  packMount(path.c_str(), 0);
  for (auto _ : state) {
    uint8_t* out = packRead("entry.bin");
    if (!out) state.SkipWithError("read failed");
    free(out);
  }
  packReset();
  std::remove(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.SetLabel(names[state.range(0)]);
}
BENCHMARK(packRead1MB)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Encoders: MB/s of input, and the stored size as a share of the input ("ratio").
static void lzssEncodeSpeed(benchmark::State& state) {
  const Bytes& data = input(int(state.range(0)));
  size_t size = 0;
  for (auto _ : state) size = lzssEncode(data.data(), data.size()).size();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.counters["ratio"] = double(size) / double(data.size());
  state.SetLabel(kInputNames[state.range(0)]);
}
BENCHMARK(lzssEncodeSpeed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

static void zlibLevel9Speed(benchmark::State& state) {
  const Bytes& data = input(int(state.range(0)));
  size_t size = 0;
  for (auto _ : state) size = zlibLevel9(data).size();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.counters["ratio"] = double(size) / double(data.size());
  state.SetLabel(kInputNames[state.range(0)]);
}
BENCHMARK(zlibLevel9Speed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
