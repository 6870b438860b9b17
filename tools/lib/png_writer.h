// PNG encoding for the tools: the show's icons, written by libpng's encoder into memory.
#pragma once

#include <cstdint>
#include <vector>

// `pixels` is width × height pixels of `channels` bytes (3: red, green, blue; 4: and alpha), rows top
// to bottom, no gap between rows. The file holds no time or text, so the same pixels always give the
// same bytes. An empty result when libpng refuses.
std::vector<uint8_t> encodePng(const uint8_t* pixels, int width, int height, int channels);
