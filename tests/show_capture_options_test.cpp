// Capture beyond the original: an interval of the timeline, a larger render size, and video files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

// A box filter by two on each axis.
Image halve(const Image& image) {
  Image half;
  half.width = image.width / 2;
  half.height = image.height / 2;
  half.rgb.resize(size_t(half.width) * half.height * 3);
  for (int y = 0; y < half.height; ++y)
    for (int x = 0; x < half.width; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) sum += image.rgb[(size_t(2 * y + dy) * image.width + 2 * x + dx) * 3 + c];
        half.rgb[(size_t(y) * half.width + x) * 3 + c] = static_cast<unsigned char>((sum + 2) / 4);
      }
  return half;
}

std::vector<std::string> framesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".png") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool programAvailable(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), pipe)) output += buffer;
  pclose(pipe);
  return output;
}

// Seconds 30 to 33 at one frame a second, at 640 × 480 and at 1280 × 960: the interval holds exactly
// its four frames, and the larger picture is the same picture with more pixels.
TEST(ShowCaptureOptions, IntervalAndLargerSize) {
  std::string folder = scratchFolder();
  std::vector<std::string> interval = {"--fps", "1", "--from", "30", "--to", "33", "nosound"};
  std::vector<std::string> small = {kShow, "--capture", folder + "/small"};
  small.insert(small.end(), interval.begin(), interval.end());
  ChildResult small_run = runChild(small, folder, {}, 900);
  ASSERT_EQ(small_run.exit_code, 0) << small_run.output;
  EXPECT_EQ(small_run.output.find("capture: frame"), std::string::npos) << "progress line off a terminal";
  std::vector<std::string> expected = {"frame_000030.png", "frame_000031.png", "frame_000032.png",
                                       "frame_000033.png"};
  EXPECT_EQ(framesIn(folder + "/small"), expected);

  std::vector<std::string> large = {kShow, "--capture", folder + "/large", "--size", "1280x960"};
  large.insert(large.end(), interval.begin(), interval.end());
  ChildResult large_run = runChild(large, folder, {}, 900);
  ASSERT_EQ(large_run.exit_code, 0) << large_run.output;
  EXPECT_EQ(framesIn(folder + "/large"), expected);
  for (const std::string& name : expected) {
    Image big = readPng(folder + "/large/" + name);
    ASSERT_EQ(big.width, 1280);
    ASSERT_EQ(big.height, 960);
    Image reference = readPng(folder + "/small/" + name);
    EXPECT_LT(meanDifference(halve(big), reference), 6.0) << name;
  }
}

TEST(ShowCaptureOptions, VideoFileHasItsFramesAndItsSound) {
  if (!programAvailable("ffmpeg") || !programAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  std::string video = folder + "/part.mkv";
  ChildResult run = runChild({kShow, "--capture", video, "--fps", "4", "--from", "20", "--to", "24.75"}, folder,
                             {}, 900);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  std::string frames = commandOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" + video + "'");
  EXPECT_EQ(std::atoi(frames.c_str()), 20) << frames;
  // The sound decoded back: five seconds, give or take the encoder's one frame of priming.
  std::string samples = commandOutput("ffmpeg -v error -i '" + video +
                                      "' -map 0:a -f s16le -ac 2 -ar 44100 - | wc -c");
  EXPECT_NEAR(std::atof(samples.c_str()) / 4.0, 5.0 * 44100, 2048) << samples;
  EXPECT_FALSE(std::filesystem::exists(video + ".video.mkv"));
  EXPECT_FALSE(std::filesystem::exists(video + ".audio.wav"));
}

}  // namespace
