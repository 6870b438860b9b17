// Music rendering cost: the time libopenmpt takes to render a whole module at 44100 Hz stereo, as a
// fraction of the time the module plays. Live playback needs far below 1; a capture renders the whole
// song at once at its end.
//
// Usage: bench_music [FILE.xm | PACK] [benchmark options]. A pack (narvu.dat, or the show itself) gives
// its "music.xm", read through the show's own callbacks. Without a file, a dense stand-in of the show's
// music is written: 8 channels, 14 patterns of 64 rows at speed 6 / 125 BPM (107.5 s), a note on every
// channel every other row, with vibrato, volume slides and enveloped 16-bit looped samples.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "xm_writer.h"

static std::string module_path;

static XmSample synthesised(int kind) {
  XmSample sample;
  sample.sixteen_bit = true;
  int length = kind == 3 ? 6000 : 4096;
  uint32_t noise = 12345;
  for (int i = 0; i < length; ++i) {
    double phase = i * 2 * M_PI / 64;
    double value = kind == 0 ? std::sin(phase) : kind == 1 ? std::fmod(i / 64.0, 1.0) * 2 - 1
                 : kind == 2 ? (std::sin(phase) > 0 ? 0.6 : -0.6)
                             : ((noise = noise * 1103515245 + 12345) >> 16 & 0x7FFF) / 16384.0 - 1;
    if (kind == 3) value *= std::exp(-i / 1500.0);
    sample.frames.push_back(int16_t(value * 24000));
  }
  if (kind != 3) {
    sample.loop_type = kXmForwardLoop;
    sample.loop_start = uint32_t(length - 64 * 32);
    sample.loop_length = 64 * 32;
  }
  sample.relative_note = 24;
  return sample;
}

static XmModule standInModule() {
  XmModule module;
  module.name = "bench stand-in";
  module.channels = 8;
  for (int kind = 0; kind < 4; ++kind) {
    XmInstrument instrument;
    instrument.samples = {synthesised(kind)};
    instrument.volume_envelope.points = {{0, 64}, {4, 48}, {40, 32}, {120, 0}};
    instrument.volume_envelope.sustain = kind != 3;
    instrument.volume_envelope.sustain_point = 2;
    instrument.fadeout = 512;
    instrument.vibrato_depth = 4;
    instrument.vibrato_rate = 20;
    module.instruments.push_back(instrument);
  }
  static const int scale[] = {0, 3, 5, 7, 10, 12, 15, 17};
  for (int p = 0; p < 14; ++p) {
    XmPattern pattern;
    pattern.rows = 64;
    pattern.cells.resize(64 * 8);
    for (int row = 0; row < 64; row += 2) {
      for (int channel = 0; channel < 8; ++channel) {
        XmCell& cell = pattern.cells[size_t(row * 8 + channel)];
        cell.note = xmNote(2 + channel / 3, scale[(row / 2 + channel * 3 + p) % 8] % 12);
        cell.instrument = uint8_t(1 + channel % 4);
        cell.volume = xmVolume(40 + (row % 24));
        if (channel % 3 == 0) cell.effect = kXmVibrato, cell.parameter = 0x44;
        if (channel % 3 == 1) cell.effect = kXmVolumeSlide, cell.parameter = 0x02;
      }
    }
    module.patterns.push_back(pattern);
    module.orders.push_back(uint8_t(p));
  }
  return module;
}

static void renderWholeModule(benchmark::State& state) {
  FMUSIC_MODULE* module = FMUSIC_LoadSong(module_path.c_str());
  if (!module) {
    state.SkipWithError(("cannot load " + module_path).c_str());
    return;
  }
  SongFacts facts;
  songFacts(module, &facts);
  FMUSIC_FreeSong(module);
  std::vector<int16_t> block(2 * 4096);
  double rendered_seconds = 0, playing_seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    module = FMUSIC_LoadSong(module_path.c_str());
    FMUSIC_SetLooping(module, 0);
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    size_t frames = 0, got;
    while ((got = renderSongFrames(module, block.data(), 4096)) > 0) frames += got;
    rendered_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    playing_seconds += double(frames) / 44100;
    state.PauseTiming();
    FMUSIC_FreeSong(module);
    state.ResumeTiming();
  }
  state.counters["channels"] = facts.channels;
  state.counters["module_seconds"] = facts.length_seconds;
  state.counters["render_fraction"] = rendered_seconds / playing_seconds;
  state.counters["x_realtime"] = playing_seconds / rendered_seconds;
}
BENCHMARK(renderWholeModule)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc > 1 && packMount(argv[1], 0) && packExists("music.xm")) {
    FSOUND_File_SetCallbacks(musicOpen, musicClose, musicRead, musicSeek, musicTell);
    module_path = "music.xm";
  } else if (argc > 1) {
    module_path = argv[1];
  } else {
    std::string error;
    std::vector<uint8_t> bytes = writeXm(standInModule(), &error);
    module_path = "/tmp/narvu_bench_music.xm";
    FILE* file = std::fopen(module_path.c_str(), "wb");
    if (bytes.empty() || !file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      std::fprintf(stderr, "bench_music: cannot write the stand-in module: %s\n", error.c_str());
      return 1;
    }
    std::fclose(file);
  }
  // No device is needed to render: the dummy output keeps the library from looking for one.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (!FSOUND_Init(44100, 32, 0)) {
    std::fprintf(stderr, "bench_music: the sound library did not start (error %d)\n", FSOUND_GetError());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  FSOUND_Close();
  return 0;
}
