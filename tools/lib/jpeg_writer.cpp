// libjpeg's compressor into memory. Errors come back through a longjmp from the error exit (libjpeg
// offers no other way out of a fatal error) and become an empty result.
#include "jpeg_writer.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

struct WriterError {
  jpeg_error_mgr manager;
  jmp_buf resume;
};

static void writerErrorExit(j_common_ptr common) {
  (*common->err->output_message)(common);
  longjmp(reinterpret_cast<WriterError*>(common->err)->resume, 1);
}

struct Input {
  const uint8_t* pixels;
  int components;
  J_COLOR_SPACE colour_space;
};

// Runs the compressor over `input`. `configure` picks the stored colour space and scan script once
// the defaults are set.
template <typename Configure>
static std::vector<uint8_t> compress(const Input& input, int width, int height, int quality, Configure configure) {
  std::vector<uint8_t> result;
  if (!input.pixels || width <= 0 || height <= 0 || width > 65500 || height > 65500) return result;

  jpeg_compress_struct compressor;
  WriterError error;
  compressor.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = writerErrorExit;
  if (setjmp(error.resume)) {
    // The memory destination's partial buffer is lost here; only invalid settings get this far.
    jpeg_destroy_compress(&compressor);
    return result;
  }
  jpeg_create_compress(&compressor);
  unsigned char* buffer = nullptr;
  unsigned long buffer_size = 0;
  jpeg_mem_dest(&compressor, &buffer, &buffer_size);
  compressor.image_width = JDIMENSION(width);
  compressor.image_height = JDIMENSION(height);
  compressor.input_components = input.components;
  compressor.in_color_space = input.colour_space;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
  configure(&compressor);
  jpeg_start_compress(&compressor, TRUE);
  const size_t pitch = size_t(width) * size_t(input.components);
  while (compressor.next_scanline < compressor.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(input.pixels + pitch * compressor.next_scanline);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  result.assign(buffer, buffer + buffer_size);
  jpeg_destroy_compress(&compressor);
  free(buffer);
  return result;
}

std::vector<uint8_t> encodeJpeg(const uint8_t* rgb, int width, int height, int quality, bool progressive,
                                bool greyscale) {
  return compress({rgb, 3, JCS_RGB}, width, height, quality, [&](jpeg_compress_struct* compressor) {
    if (greyscale) jpeg_set_colorspace(compressor, JCS_GRAYSCALE);
    if (progressive) jpeg_simple_progression(compressor);
  });
}

std::vector<uint8_t> encodeJpegCmyk(const uint8_t* cmyk, int width, int height, int quality, bool adobe_ycck) {
  return compress({cmyk, 4, JCS_CMYK}, width, height, quality, [&](jpeg_compress_struct* compressor) {
    jpeg_set_colorspace(compressor, adobe_ycck ? JCS_YCCK : JCS_CMYK);
  });
}
