// JPEG encoding for the tools, tests and benchmarks: pictures for packs, built with libjpeg's
// compressor, so no picture file ever comes from outside the build.
#pragma once

#include <cstdint>
#include <vector>

// `rgb` is width × height pixels of 3 bytes (red, green, blue), rows top to bottom, no gap between
// rows. quality 1..100. progressive: a multi-scan progressive JPEG; greyscale: one luminance channel
// (the colour is converted by the compressor). An empty result when the compressor refuses.
std::vector<uint8_t> encodeJpeg(const uint8_t* rgb, int width, int height, int quality,
                                bool progressive = false, bool greyscale = false);

// A four-channel JPEG: `cmyk` is width × height pixels of 4 bytes (C, M, Y, K). adobe_ycck stores it
// as YCCK (the compressor's transform) instead of plain CMYK. Empty when the compressor refuses.
std::vector<uint8_t> encodeJpegCmyk(const uint8_t* cmyk, int width, int height, int quality,
                                    bool adobe_ycck = false);
