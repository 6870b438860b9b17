// libpng's encoder into memory. Errors come back through a longjmp from libpng's error handler (it
// offers no other way out of a fatal error) and become an empty result.
#include "png_writer.h"

#include <csetjmp>

#include <png.h>

static void appendBytes(png_structp png, png_bytep bytes, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), bytes, bytes + length);
}

static void noFlush(png_structp) {}

std::vector<uint8_t> encodePng(const uint8_t* pixels, int width, int height, int channels) {
  std::vector<uint8_t> out;
  if (!pixels || width <= 0 || height <= 0 || (channels != 3 && channels != 4)) return out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return out;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendBytes, noFlush);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
               channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y)
    png_write_row(png, const_cast<png_bytep>(pixels + size_t(y) * size_t(width) * size_t(channels)));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}
