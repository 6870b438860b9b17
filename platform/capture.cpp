// Frame capture: every presented frame of a --capture run, written as DIR/frame_NNNNNN.png.
//
// Frame i of a capture shows moment i / fps of the timeline: the virtual clock moves one frame period
// per drawn frame and the show presents every frame it draws, so the index alone places a frame in
// time; --from and --to choose the frames that are written.
#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/gl_backend.h"
#include "platform/platform.h"

static long presented_frames = 0;
static bool folder_ready = false;

static void failCapture(const std::string& what) {
  std::fprintf(stderr, "narvu: capture failed: %s\n", what.c_str());
  std::exit(1);
}

// Makes the folder and its parents, like mkdir -p.
static bool makeFolder(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) partial += path[i];
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

static bool writePng(const std::string& path, const uint8_t* rgb, int width, int height) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  // Capture speed matters more than file size: the fastest deflate level and no row filters.
  png_set_compression_level(png, 1);
  png_set_filter(png, 0, PNG_FILTER_NONE);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(rgb + size_t(y) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// Whether presented frame `index` lies in the --from/--to interval.
static bool frameWanted(long index) {
  double fps = platform_settings.fps > 0 ? platform_settings.fps : 60;
  double first = std::ceil(platform_settings.capture_from_seconds * fps - 1e-9);
  if (index < first) return false;
  if (platform_settings.capture_to_seconds < 0) return true;
  return index <= std::floor(platform_settings.capture_to_seconds * fps + 1e-9);
}

void captureFrame(const uint8_t* rgb, int width, int height) {
  long index = presented_frames++;
  if (!frameWanted(index)) return;
  const std::string& folder = platform_settings.capture_path;
  if (!folder_ready) {
    if (!makeFolder(folder)) failCapture("cannot make the folder " + folder + ": " + std::strerror(errno));
    folder_ready = true;
  }
  char name[32];
  std::snprintf(name, sizeof(name), "/frame_%06ld.png", index);
  if (!writePng(folder + name, rgb, width, height)) failCapture("cannot write " + folder + name);
}
