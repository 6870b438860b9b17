// JPEG resources into 32-bit pictures through libjpeg, read from a memory file by a data source of our
// own, converted row by row as the scan lines arrive.
//
// libjpeg reports a fatal error through the error manager's error_exit, which must not return to the
// library; ours prints the library's message and jumps back into loadJpegPicture, which cleans up.
// Every line the library has to say names the picture it is about.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

#include "texture/texture.h"

// ---- The data source over a memory file, in the form of libjpeg's own stdio source ------------------

static const size_t kInputBufferSize = 4096;

struct RamfSourceManager {
  jpeg_source_mgr pub;
  RamFile* infile;
  JOCTET* buffer;
  boolean start_of_file;  // nothing read yet: an empty read is an empty file, not a short one
};

static void init_source(j_decompress_ptr cinfo) {
  reinterpret_cast<RamfSourceManager*>(cinfo->src)->start_of_file = TRUE;
}

static boolean fill_input_buffer(j_decompress_ptr cinfo) {
  RamfSourceManager* src = reinterpret_cast<RamfSourceManager*>(cinfo->src);
  size_t bytes = size_t(ramfread(src->buffer, 1, int(kInputBufferSize), src->infile));
  if (bytes == 0) {
    if (src->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A stream that stops early ends as if its end-of-image marker had been there: the decoder fills
    // what is missing and the picture keeps its declared size.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = JOCTET(0xFF);
    src->buffer[1] = JOCTET(JPEG_EOI);
    bytes = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = bytes;
  src->start_of_file = FALSE;
  return TRUE;
}

static void skip_input_data(j_decompress_ptr cinfo, long num_bytes) {
  jpeg_source_mgr* src = cinfo->src;
  if (num_bytes <= 0) return;
  // Past the end each refill gives the two bytes of the inserted marker, so this ends.
  while (num_bytes > long(src->bytes_in_buffer)) {
    num_bytes -= long(src->bytes_in_buffer);
    (*src->fill_input_buffer)(cinfo);
  }
  src->next_input_byte += size_t(num_bytes);
  src->bytes_in_buffer -= size_t(num_bytes);
}

static void term_source(j_decompress_ptr) {}

void jpeg_ramf_src(jpeg_decompress_struct* cinfo, RamFile* stream) {
  if (!cinfo->src) {
    // Permanent pool: a decompressor reused for several pictures keeps one source and one buffer.
    RamfSourceManager* src = static_cast<RamfSourceManager*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(RamfSourceManager)));
    src->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kInputBufferSize));
    cinfo->src = &src->pub;
  }
  RamfSourceManager* src = reinterpret_cast<RamfSourceManager*>(cinfo->src);
  src->pub.init_source = init_source;
  src->pub.fill_input_buffer = fill_input_buffer;
  src->pub.skip_input_data = skip_input_data;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = term_source;
  src->infile = stream;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
}

// ---- Decoding --------------------------------------------------------------------------------------

struct PictureErrorManager {
  jpeg_error_mgr pub;
  jmp_buf resume;
  const char* name;  // the resource being decoded
};

// Two scenes may ask for the same picture, and the reason it fails is the same each time: a line on
// standard error is said once in a run, while the box, the show's own, comes with every request.
static void sayOnce(const std::string& line) {
  static std::set<std::string> said;
  if (said.insert(line).second) std::fprintf(stderr, "%s\n", line.c_str());
}

// libjpeg's warnings and its last error, as "narvu: rock.jpg: <the library's text>".
static void pictureMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  sayOnce(std::string("narvu: ") + reinterpret_cast<PictureErrorManager*>(cinfo->err)->name + ": " + text);
}

static void pictureErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp(reinterpret_cast<PictureErrorManager*>(cinfo->err)->resume, 1);
}

// A picture larger than the largest texture is decoded smaller by the DCT itself, at the largest of
// 1/1, 1/2, 1/4 and 1/8 that fits; false when even 1/8 does not. Only the header has been read, so a
// refused picture has cost nothing of its size.
static bool chooseScale(jpeg_decompress_struct* cinfo, DWORD limit) {
  for (unsigned denominator = 1; denominator <= 8; denominator *= 2) {
    cinfo->scale_num = 1;
    cinfo->scale_denom = denominator;
    jpeg_calc_output_dimensions(cinfo);
    if (cinfo->output_width <= limit && cinfo->output_height <= limit) return true;
  }
  return false;
}

// The same for every picture; they are the library's own defaults for a colour JPEG, so only other
// colour spaces (greyscale) come out differently: as RGB.
static void applyDecompressionSettings(jpeg_decompress_struct* cinfo) {
  cinfo->out_color_space = JCS_RGB;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1;
  cinfo->quantize_colors = FALSE;
  cinfo->desired_number_of_colors = 256;
  cinfo->two_pass_quantize = TRUE;
  cinfo->dither_mode = JDITHER_FS;
  cinfo->dct_method = JDCT_ISLOW;
  cinfo->do_fancy_upsampling = TRUE;
  cinfo->do_block_smoothing = TRUE;
}

// One scan line of R, G, B samples into the picture's B, G, R, 0 texels. Kept out of
// loadJpegPicture, whose setjmp keeps the compiler from holding its variables in registers.
static __attribute__((noinline)) void convertRow(const JSAMPLE* samples, uint8_t* texels, size_t width) {
  static_assert(sizeof(JSAMPLE) == 1, "8-bit samples");
  size_t x = 0;
  for (; x + 4 <= width; x += 4, samples += 12, texels += 16) {
    // r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3 as three little-endian words, out as four 0x00RRGGBB.
    uint32_t in[3];
    std::memcpy(in, samples, 12);
    uint32_t out[4];
    out[0] = (in[0] & 0xFF) << 16 | (in[0] & 0xFF00) | (in[0] >> 16 & 0xFF);
    out[1] = (in[0] >> 24) << 16 | (in[1] & 0xFF) << 8 | (in[1] >> 8 & 0xFF);
    out[2] = (in[1] >> 16 & 0xFF) << 16 | (in[1] >> 24) << 8 | (in[2] & 0xFF);
    out[3] = (in[2] >> 8 & 0xFF) << 16 | (in[2] >> 16 & 0xFF) << 8 | (in[2] >> 24);
    std::memcpy(texels, out, 16);
  }
  for (; x < width; ++x, samples += 3, texels += 4) {
    uint32_t texel = uint32_t(samples[0]) << 16 | uint32_t(samples[1]) << 8 | uint32_t(samples[2]);
    std::memcpy(texels, &texel, 4);
  }
}

void loadJpegPicture(const char* name, Picture* picture) {
  picture->pixels = nullptr;
  RamFile* stream = ramfopen(name);
  if (!stream) {
    // The box is the show's, whatever the reason; a reason other than absence goes beside it.
    if (pack_failure != PackFailure::missing)
      sayOnce(std::string("narvu: ") + name + " is " + packFailureText(pack_failure));
    MessageBoxA(nullptr, name, "Picture not found:", MB_OK);
    return;
  }

  jpeg_decompress_struct cinfo;
  PictureErrorManager error;
  cinfo.err = jpeg_std_error(&error.pub);
  error.pub.error_exit = pictureErrorExit;
  error.pub.output_message = pictureMessage;
  error.name = name;
  // Everything touched after the jump lives in memory (cinfo, *picture) or was set before setjmp.
  if (setjmp(error.resume)) {
    jpeg_destroy_decompress(&cinfo);
    ramfclose(stream);
    // A picture that libjpeg refuses is as good as a damaged one; one that failed in its scan lines
    // keeps the rows it has.
    if (!picture->pixels) MessageBoxA(nullptr, name, "Picture not found:", MB_OK);
    return;
  }

  jpeg_create_decompress(&cinfo);
  jpeg_ramf_src(&cinfo, stream);
  jpeg_read_header(&cinfo, TRUE);
  applyDecompressionSettings(&cinfo);
  // A header may declare up to 65500 × 65500 pixels in a few hundred bytes. What 1/8 cannot bring
  // within the largest texture is refused before the decoder or the picture allocate anything for it.
  DWORD limit = maxTextureSize();
  if (!chooseScale(&cinfo, limit)) ERREXIT1(&cinfo, JERR_IMAGE_TOO_BIG, limit);
  // A multi-scan picture keeps the coefficients of the whole picture, unscaled, until its last scan.
  // They may take as much as a full-colour picture of the largest texture size does (limit² × 3 × 2
  // bytes, with room to spare); the library refuses a picture that would need more.
  cinfo.mem->max_memory_to_use = long(uint64_t(limit) * limit * 8);
  jpeg_start_decompress(&cinfo);

  // The library's row, and a copy of it that the conversion reads: small reads straight from the
  // library's freshly written row were measured to cost as much as the decoding itself, while one
  // block copy of the row first costs next to nothing.
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * JDIMENSION(cinfo.output_components), 2);
  uint8_t* pixels = static_cast<uint8_t*>(calloc(size_t(cinfo.output_width) * cinfo.output_height, 4));
  if (!pixels) ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
  picture->width = cinfo.output_width;
  picture->height = cinfo.output_height;
  picture->bits_per_pixel = 32;
  picture->bytes_per_pixel = 4;
  picture->spare = 0;
  picture->pixels = pixels;

  // An error in the scan lines keeps the rows decoded so far, and black below them.
  size_t row_offset = 0;
  while (cinfo.output_scanline < cinfo.output_height) {
    jpeg_read_scanlines(&cinfo, row, 1);
    std::memcpy(row[1], row[0], size_t(picture->width) * 3);
    convertRow(row[1], picture->pixels + row_offset, picture->width);
    row_offset += size_t(picture->bytes_per_pixel) * picture->width;
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  ramfclose(stream);
}
