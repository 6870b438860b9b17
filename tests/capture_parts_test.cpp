// A capture in parts: the frames of each part, and what --join finds of the parts on disk.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

#include "capture/capture.h"
#include "test_support.h"

namespace {

CaptureSettings intervalSettings(int fps, double from, double to) {
  CaptureSettings settings;
  settings.capture_length_seconds = 107.5;
  settings.fps = fps;
  settings.capture_from_seconds = from;
  settings.capture_to_seconds = to;
  return settings;
}

TEST(CaptureParts, TheIntervalEndsWithTheFrameThatEndsTheShow) {
  struct Case {
    int fps;
    double from, to;
    long first, last;
  } cases[] = {{60, 0, -1, 0, 6450},   {25, 0, -1, 0, 2688}, {2, 0, -1, 0, 215},        {7, 0, -1, 0, 753},
               {10, 20, 24, 200, 240}, {3, 0.4, 0.9, 2, 2},  {25, 106, -1, 2650, 2688}, {60, 50, 50, 3000, 3000}};
  for (const Case& c : cases) {
    CaptureFrames interval = captureInterval(intervalSettings(c.fps, c.from, c.to));
    EXPECT_EQ(interval.first, c.first) << c.fps << " fps from " << c.from;
    EXPECT_EQ(interval.last, c.last) << c.fps << " fps to " << c.to;
  }
}

TEST(CaptureParts, PartsHoldEveryFrameOnceAndDifferByOneFrameAtMost) {
  for (CaptureSettings settings : {intervalSettings(60, 0, -1), intervalSettings(25, 0, -1),
                                    intervalSettings(7, 3.3, 51.1), intervalSettings(10, 20, 24)}) {
    CaptureFrames interval = captureInterval(settings);
    for (int parts : {1, 2, 3, 4, 7, 13, 41}) {
      if (interval.last - interval.first + 1 < parts) continue;
      settings.capture_segments = parts;
      long next = interval.first, smallest = LONG_MAX, largest = 0;
      for (int part = 1; part <= parts; ++part) {
        settings.capture_segment = part;
        CaptureFrames frames = capturePart(settings);
        EXPECT_EQ(frames.first, next) << part << " of " << parts << " at " << settings.fps << " fps";
        smallest = std::min(smallest, frames.last - frames.first + 1);
        largest = std::max(largest, frames.last - frames.first + 1);
        next = frames.last + 1;
      }
      EXPECT_EQ(next - 1, interval.last) << parts << " parts at " << settings.fps << " fps";
      EXPECT_GE(smallest, 1);
      EXPECT_LE(largest - smallest, 1);
    }
  }
}

// Part names come from whatever is in the folder: anything but a name the capture itself writes is no
// part, and no number in one can be large enough to overflow the frame arithmetic of the join.
TEST(CaptureParts, PartNamesAreReadWithTheirRangesChecked) {
  CaptureFrames frames = {-1, -1};
  EXPECT_TRUE(captureParsePartName("v.mkv.frames-000538-000573.mkv", "v.mkv", &frames));
  EXPECT_EQ(frames.first, 538);
  EXPECT_EQ(frames.last, 573);
  EXPECT_TRUE(captureParsePartName("v.mkv.frames-7-999999999.mkv", "v.mkv", &frames));
  EXPECT_EQ(frames.last, 999999999);
  for (const char* name : {"v.mkv.frames-7-9223372036854775807.mkv", "v.mkv.frames-7-1000000000.mkv",
                           "v.mkv.frames-99999999999999999999-1.mkv", "v.mkv.frames--1-5.mkv", "v.mkv.frames-+1-5.mkv",
                           "v.mkv.frames- 1-5.mkv", "v.mkv.frames-5-4.mkv", "v.mkv.frames-1-5.mkv.part",
                           "v.mkv.frames-1-5.MKV", "v.mkv.frames-1-5", "v.mkv.frames-1.mkv", "v.mkv.frames-.mkv",
                           "v.mkv.frames-", "w.mkv.frames-1-5.mkv", "v.mkv.frames-0x1-5.mkv", ""})
    EXPECT_FALSE(captureParsePartName(name, "v.mkv", &frames)) << name;
}

// Parts on disk, as --join finds them: frames 200 to 240 of a capture at 10 frames a second.
class JoinCoverage : public testing::Test {
 protected:
  void SetUp() override {
    folder = scratchFolder();
    capture_settings = intervalSettings(10, 20, 24);
    capture_settings.capture_path = folder + "/show.mp4";
  }
  void TearDown() override { capture_settings = CaptureSettings(); }
  // As the join names a part it found in the folder: in the system's own spelling of the path.
  std::string partName(long first, long last) {
    char name[64];
    std::snprintf(name, sizeof name, "show.mp4.frames-%06ld-%06ld.mkv", first, last);
    return (std::filesystem::absolute(folder) / name).u8string();
  }
  void makePart(long first, long last) { writeFile(partName(first, last), {'x'}); }
  bool covers(CaptureFrames* covered, std::string* error) { return captureJoinCoverage(covered, error); }

  std::string folder;
};

TEST_F(JoinCoverage, VideoPartsMustHoldTheIntervalOnceAndNothingBeyond) {
  makePart(200, 212);
  makePart(227, 240);
  CaptureFrames covered;
  std::string error;
  EXPECT_FALSE(covers(&covered, &error));
  EXPECT_EQ(covered.first, 200);
  EXPECT_EQ(covered.last, 212);
  EXPECT_NE(error.find("the parts lack frames 213 to 226 of frames 200 to 240"), std::string::npos) << error;

  makePart(213, 226);
  // Names that only look like parts of this capture are none.
  for (const char* name : {"/show.mp4.frames-000241-000250.mkv.part", "/show.mp4.frames-000250-000241.mkv",
                           "/other.mp4.frames-000241-000250.mkv", "/show.mp4.frames-000241-000250.mp4"})
    writeFile(folder + name, {'x'});
  EXPECT_TRUE(covers(&covered, &error)) << error;
  EXPECT_EQ(covered.first, 200);
  EXPECT_EQ(covered.last, 240);

  // A part that crosses another: the message names the file to delete.
  makePart(210, 220);
  EXPECT_FALSE(covers(&covered, &error));
  EXPECT_NE(error.find("two parts hold frames 210 to 212: "), std::string::npos) << error;
  EXPECT_NE(error.find("overlap, as parts made with different --segment counts or intervals do; delete " +
                       partName(210, 220)),
            std::string::npos)
      << error;
  std::filesystem::remove(partName(210, 220));
  // What is left of a part cut short lies inside the part made again.
  makePart(213, 219);
  EXPECT_FALSE(covers(&covered, &error));
  EXPECT_NE(
      error.find("two parts hold frames 213 to 219: " + partName(213, 219) + " lies inside " + partName(213, 226) +
                 ", so it is what is left of a part that was cut short; delete " + partName(213, 219)),
      std::string::npos)
      << error;
  std::filesystem::remove(partName(213, 219));

  // Parts made with another --from: they start before the interval.
  makePart(190, 199);
  EXPECT_FALSE(covers(&covered, &error));
  EXPECT_NE(error.find("before the interval's first, 200"), std::string::npos) << error;
  std::filesystem::remove(partName(190, 199));

  // Parts made with another --to: they run past the interval.
  makePart(241, 250);
  EXPECT_FALSE(covers(&covered, &error));
  EXPECT_NE(error.find("after the interval's last, 240"), std::string::npos) << error;
}

TEST_F(JoinCoverage, PngPartsAreTheirFrames) {
  capture_settings.capture_path = folder + "/frames";
  std::filesystem::create_directories(capture_settings.capture_path);
  for (long index = 200; index <= 240; ++index) {
    if (index == 205 || index == 230 || index == 231) continue;
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06ld.png", index);
    writeFile(capture_settings.capture_path + name, {'x'});
  }
  CaptureFrames covered;
  std::string error;
  EXPECT_FALSE(covers(&covered, &error));
  EXPECT_EQ(covered.last, 204);
  EXPECT_NE(error.find("the parts lack frame 205, frames 230 to 231 of frames 200 to 240"), std::string::npos) << error;
}

}  // namespace
