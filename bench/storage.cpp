// Speed of the pack storage: the LZSS decoder, zlib blocks through packDecode, a whole packRead, and
// the LZSS encoder's speed and ratio beside zlib at level 9 on the same inputs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "pack_writer.h"
#include "storage/storage.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 1 << 20;

// Words with the repetition of a scene file's names and numbers: compressible, but not trivially.
Bytes compressible() {
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

Bytes random() {
  std::mt19937 generator(13);
  Bytes out(kSize);
  for (uint8_t& b : out) b = uint8_t(generator());
  return out;
}

const Bytes& input(int which) {
  static const Bytes text = compressible();
  static const Bytes noise = random();
  return which == 0 ? text : noise;
}

Bytes zlibLevel9(const Bytes& data) {
  uLongf size = compressBound(data.size());
  Bytes out(size);
  compress2(out.data(), &size, data.data(), data.size(), 9);
  out.resize(size);
  return out;
}

void lzssDecodeSpeed(benchmark::State& state) {
  const Bytes& data = input(int(state.range(0)));
  Bytes stream = lzssEncode(data.data(), data.size());
  Bytes out(data.size());
  for (auto _ : state) {
    uint64_t n = lzssDecode(stream.data(), uint32_t(stream.size()), out.data(), uint32_t(out.size()));
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.SetLabel(state.range(0) == 0 ? "compressible" : "random");
}
BENCHMARK(lzssDecodeSpeed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Includes copying the stored block each time, since packDecode takes it over (a few percent).
void packDecodeZlib(benchmark::State& state) {
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
void packRead1MB(benchmark::State& state) {
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
void lzssEncodeSpeed(benchmark::State& state) {
  const Bytes& data = input(int(state.range(0)));
  size_t size = 0;
  for (auto _ : state) size = lzssEncode(data.data(), data.size()).size();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.counters["ratio"] = double(size) / double(data.size());
  state.SetLabel(state.range(0) == 0 ? "compressible" : "random");
}
BENCHMARK(lzssEncodeSpeed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void zlibLevel9Speed(benchmark::State& state) {
  const Bytes& data = input(int(state.range(0)));
  size_t size = 0;
  for (auto _ : state) size = zlibLevel9(data).size();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.counters["ratio"] = double(size) / double(data.size());
  state.SetLabel(state.range(0) == 0 ? "compressible" : "random");
}
BENCHMARK(zlibLevel9Speed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
