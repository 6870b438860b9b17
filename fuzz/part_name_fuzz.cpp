// libFuzzer target: the name of a capture's video part, as --join reads it from a folder's listing. The
// input is the file's name and the capture's name, separated by a zero byte. A name that parses must
// hold an interval whose arithmetic cannot overflow, and the name the capture writes for those frames
// must read back as them.
// fuzz-link: narvu_capture
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t zero = input.find('\0');
  std::string file_name = input.substr(0, zero);
  std::string capture_name = zero == std::string::npos ? "v.mkv" : input.substr(zero + 1);
  CaptureFrames frames = {0, 0};
  if (!captureParsePartName(file_name, capture_name, &frames)) return 0;
  if (frames.first < 0 || frames.first > frames.last || frames.last > 999999999) std::abort();
  // The name the capture writes for those frames reads back as them.
  char written[64];
  std::snprintf(written, sizeof written, ".frames-%06ld-%06ld.mkv", frames.first, frames.last);
  CaptureFrames again = {0, 0};
  if (!captureParsePartName(capture_name + written, capture_name, &again) || again.first != frames.first ||
      again.last != frames.last)
    std::abort();
  return 0;
}
