// The whole show captured off-screen at two frames a second: every presented frame is written, the
// music covers the timeline and its tail to the sample, and the pictures are pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

double meanLevel(const Image& image) {
  double sum = 0;
  for (unsigned char c : image.rgb) sum += c;
  return image.rgb.empty() ? 0 : sum / double(image.rgb.size());
}

uint32_t wavFrames(const std::string& path) {
  std::vector<unsigned char> bytes = readFile(path);
  if (bytes.size() < 44) return 0;
  uint32_t data_bytes = uint32_t(bytes[40]) | uint32_t(bytes[41]) << 8 | uint32_t(bytes[42]) << 16 |
                        uint32_t(bytes[43]) << 24;
  return data_bytes / 4;  // 16-bit stereo
}

std::string frameName(const std::string& folder, int index) {
  char name[64];
  std::snprintf(name, sizeof(name), "/frames/frame_%06d.png", index);
  return folder + name;
}

// One capture of the whole show (a minute or more of work) serves every check.
TEST(ShowCapture, WholeShowAtTwoFramesASecond) {
  std::string folder = scratchFolder();
  ChildResult run = runChild({kShow, "--capture", folder + "/frames", "--fps", "2"}, folder, {}, 900);
  ASSERT_EQ(run.exit_code, 0) << run.output;

  // Passes at 0, 0.5, ... 107.5 s: the pass that reaches 107.5 s is still presented.
  int frames = 0;
  while (std::filesystem::exists(frameName(folder, frames))) ++frames;
  EXPECT_EQ(frames, 216);
  // The tail draws four more half-second frames without presenting: 110 s of music in all.
  EXPECT_EQ(wavFrames(folder + "/frames/audio.wav"), 110u * 44100u);

  for (int index : {0, 30, 90, 125, 150, 190, 213}) {
    Image image = readPng(frameName(folder, index));
    ASSERT_EQ(image.width, 640) << index;
    ASSERT_EQ(image.height, 480) << index;
    EXPECT_GT(meanLevel(image), 20.0) << "frame " << index << " is nearly black";
  }
  EXPECT_GT(meanDifference(readPng(frameName(folder, 30)), readPng(frameName(folder, 31))), 2.0);
  EXPECT_GT(meanDifference(readPng(frameName(folder, 90)), readPng(frameName(folder, 150))), 10.0);

  // An interval draws nothing before its first frame, yet its frames and its music are exactly those of
  // the whole run: every fade, scene switch and carried device state as if it had played from the start.
  ChildResult part = runChild({kShow, "--capture", folder + "/part", "--fps", "2", "--from", "58", "--to", "60"},
                              folder, {}, 300);
  ASSERT_EQ(part.exit_code, 0) << part.output;
  char name[64];
  for (int index = 116; index <= 120; ++index) {
    std::snprintf(name, sizeof(name), "/part/frame_%06d.png", index);
    EXPECT_EQ(readFile(folder + name), readFile(frameName(folder, index))) << index;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/part/frame_000115.png"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/part/frame_000121.png"));
  std::vector<unsigned char> whole = readFile(folder + "/frames/audio.wav");
  std::vector<unsigned char> slice = readFile(folder + "/part/audio.wav");
  ASSERT_EQ(slice.size(), 44u + 5u * 22050u * 4u);
  size_t start = 44 + size_t(116) * 22050 * 4;
  EXPECT_TRUE(std::equal(slice.begin() + 44, slice.end(), whole.begin() + long(start)));

  // The last tenth, made alone (after both scene switches, into the end logo's fade): it reaches its first
  // frame through the timeline's decisions without drawing the frames before, and its frames are the
  // whole run's, byte for byte.
  ChildResult late =
      runChild({kShow, "--capture", folder + "/late", "--fps", "2", "--segment", "10/10"}, folder, {}, 300);
  ASSERT_EQ(late.exit_code, 0) << late.output;
  for (int index = 194; index <= 215; ++index) {
    std::snprintf(name, sizeof(name), "/late/frame_%06d.png", index);
    EXPECT_EQ(readFile(folder + name), readFile(frameName(folder, index))) << index;
  }

  // The same show made in two parts side by side and joined: the same files, the music through the tail too.
  ChildResult jobs = runChild({kShow, "--capture", folder + "/parts", "--fps", "2", "--jobs", "2"}, folder, {}, 900);
  ASSERT_EQ(jobs.exit_code, 0) << jobs.output;
  int joined = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder + "/parts")) {
    std::string name = entry.path().filename().string();
    EXPECT_EQ(readFile(entry.path().string()), readFile(folder + "/frames/" + name)) << name;
    ++joined;
  }
  EXPECT_EQ(joined, 216 + 1);
}

}  // namespace
