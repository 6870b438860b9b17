// Picture decoding and texture filling.
//
// Prints: loadJpegPicture on a 1024 × 1024 JPEG from a pack against libjpeg alone decoding the same
// bytes from memory (the ratio is the cost of the pack read, the memory-file source and the 32-bit
// conversion), and the time to fill every level of a 512 × 512 texture from a 512 × 512 picture.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include "platform/devices.h"
#include "jpeg_writer.h"
#include "pack_writer.h"
#include "shell/shell.h"
#include "texture/texture.h"

// Something like a photograph: smooth shading with fine grain, so the entropy coder has real work.
static std::vector<uint8_t> photoLike(int width, int height) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      int grain = int((noise >> 16) & 31) - 16;
      double u = double(x) / width, v = double(y) / height;
      uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
      auto clamp = [](double value) { return uint8_t(value < 0 ? 0 : value > 255 ? 255 : value); };
      p[0] = clamp(128 + 100 * std::sin(6 * u + 2 * v) + grain);
      p[1] = clamp(128 + 100 * std::cos(5 * v - 3 * u) + grain);
      p[2] = clamp(128 + 90 * std::sin(9 * u * v) + grain);
    }
  }
  return rgb;
}

static const char* kPictureName = "photo1024.jpg";
static std::vector<uint8_t> picture_jpeg;

static void BM_LoadJpegPicture(benchmark::State& state) {
  for (auto _ : state) {
    Picture picture;
    loadJpegPicture(kPictureName, &picture);
    benchmark::DoNotOptimize(picture.pixels);
    free(picture.pixels);
  }
}

static void BM_LibjpegAlone(benchmark::State& state) {
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, picture_jpeg.data(), static_cast<unsigned long>(picture_jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    std::vector<uint8_t> rgb(size_t(cinfo.output_width) * cinfo.output_height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = &rgb[size_t(cinfo.output_scanline) * cinfo.output_width * 3];
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(rgb.data());
  }
}

// state.range(0): 1 for a 24-bit texture, 0 for 16-bit; state.range(1): levels filled (0: all).
static void BM_FillLevels512(benchmark::State& state) {
  std::vector<uint8_t> rgb = photoLike(512, 512);
  std::vector<uint8_t> bgrx(512 * 512 * 4, 0);
  for (size_t i = 0; i < 512 * 512; ++i) {
    bgrx[4 * i] = rgb[3 * i + 2];
    bgrx[4 * i + 1] = rgb[3 * i + 1];
    bgrx[4 * i + 2] = rgb[3 * i];
  }
  DWORD flags = 0, width = 512, height = 512, levels = 0;
  D3DX_SURFACEFORMAT format = state.range(0) ? D3DX_SF_R8G8B8 : D3DX_SF_R5G6B5;
  IDirectDrawSurface7* texture = nullptr;
  if (FAILED(D3DXCreateTexture(device, &flags, &width, &height, &format, nullptr, &texture, &levels))) {
    state.SkipWithError("texture creation failed");
    return;
  }
  DWORD filled = state.range(1) ? DWORD(state.range(1)) : levels;
  const int rect[4] = {0, 0, 512, 512};
  for (auto _ : state) {
    for (DWORD level = 0; level < filled; ++level) {
      D3DXLoadTextureFromMemory(device, texture, level, bgrx.data(), nullptr, D3DX_SF_X8R8G8B8, 0, rect,
                                D3DX_FT_LINEAR);
    }
  }
  state.SetLabel(std::to_string(filled) + " levels");
  texture->Release();
}

// Keeps each benchmark's processor time per iteration (the machine is shared, so wall time is noisy)
// for the ratio printed at the end.
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // A plain run, or the median of repeated ones.
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
        milliseconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> milliseconds;
};

BENCHMARK(BM_LoadJpegPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillLevels512)->Args({1, 0})->Args({0, 0})->Args({1, 8})->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  picture_jpeg = encodeJpeg(photoLike(1024, 1024).data(), 1024, 1024, 90);
  std::string pack_path = (std::filesystem::temp_directory_path() / "narvu_bench_texture.dat").string();
  std::string error;
  if (!writePack(pack_path, {{kPictureName, picture_jpeg}}, PackMethod::stored, &error) ||
      packMount(pack_path.c_str(), 0) != 1) {
    std::fprintf(stderr, "bench_texture: cannot make the test pack: %s\n", error.c_str());
    return 1;
  }
  RecordingDevice* recording = new RecordingDevice;
  recording->recording = false;
  device = recording;

  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double ours = reporter.milliseconds["BM_LoadJpegPicture"];
  double alone = reporter.milliseconds["BM_LibjpegAlone"];
  if (ours > 0 && alone > 0) {
    std::printf("1024 x 1024 JPEG (%zu bytes): loadJpegPicture %.2f ms, libjpeg alone %.2f ms (processor time), ratio %.3f\n",
                picture_jpeg.size(), ours, alone, ours / alone);
  }
  std::filesystem::remove(pack_path);
  device->Release();
  device = nullptr;
  return 0;
}
