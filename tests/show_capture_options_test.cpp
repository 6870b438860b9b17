// Capture beyond the original: an interval of the timeline, a larger render size, and video files.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

std::string frameName(long index) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06ld.png", index);
  return name;
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
  // Off a terminal progress comes as whole lines, and the run ends with its summary.
  EXPECT_EQ(small_run.output.find('\r'), std::string::npos) << small_run.output;
  EXPECT_NE(small_run.output.find("narvu: 4 frames (4.00 s of show)"), std::string::npos) << small_run.output;
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
  // The sound decoded back: five seconds to the sample (FLAC in .mkv has no priming).
  std::string samples = commandOutput("ffmpeg -v error -i '" + video +
                                      "' -map 0:a -f s16le -ac 2 -ar 44100 - | wc -c");
  EXPECT_EQ(std::atol(samples.c_str()) / 4, 5L * 44100) << samples;
  EXPECT_FALSE(std::filesystem::exists(video + ".video.mkv"));
  EXPECT_FALSE(std::filesystem::exists(video + ".audio.wav"));
}

// When each stream of a video starts, as ffprobe reports it: the stream's first packet, and the first
// frame that decodes (after the priming samples that the container says to skip).
struct Starts {
  double video_stream = -1, audio_stream = -1, video_frame = -1, audio_frame = -1;
};

Starts startsOf(const std::string& video) {
  Starts starts;
  for (const char* stream : {"v", "a"}) {
    std::string probe = "ffprobe -v error -select_streams " + std::string(stream) + " -show_entries stream=start_time";
    double stream_start = std::atof(commandOutput(probe + " -of csv=p=0 '" + video + "'").c_str());
    // The first decoded frame: an AAC stream's first packet is all priming and decodes to no frame.
    std::string frames =
        commandOutput("ffprobe -v error -select_streams " + std::string(stream) +
                      " -show_frames -read_intervals %+#3 -show_entries frame=pts_time -of csv=p=0 '" + video + "'");
    double frame_start = frames.empty() ? -1 : std::atof(frames.c_str());
    (stream[0] == 'v' ? starts.video_stream : starts.audio_stream) = stream_start;
    (stream[0] == 'v' ? starts.video_frame : starts.audio_frame) = frame_start;
  }
  return starts;
}

// The music's first sample plays with the first frame in every container. Opus in WebM keeps 6.5 ms of
// priming before it, which the track's CodecDelay tells players to skip; that is where the audio stream's
// first packet starts.
TEST(ShowCaptureOptions, BothStreamsStartTogetherInEveryContainer) {
  if (!programAvailable("ffmpeg") || !programAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  for (const char* name : {"a.mp4", "a.mkv", "a.webm"}) {
    std::string video = folder + "/" + name;
    ChildResult run =
        runChild({kShow, "--capture", video, "--fps", "10", "--from", "20", "--to", "20.5"}, folder, {}, 300);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    Starts starts = startsOf(video);
    EXPECT_EQ(starts.video_frame, 0.0) << name;
    EXPECT_EQ(starts.audio_frame, starts.video_frame) << name;
    EXPECT_EQ(starts.video_stream, 0.0) << name;
    if (std::string(name) == "a.webm")
      EXPECT_NEAR(starts.audio_stream, -312.0 / 48000, 0.001) << name;
    else
      EXPECT_EQ(starts.audio_stream, starts.video_stream) << name;
  }
}

// --lossless in .mkv (FFV1) decodes to exactly the frames a PNG capture writes; --preset reaches x264
// (ultrafast is the one preset that turns CABAC off, and x264 records its settings in the stream).
TEST(ShowCaptureOptions, LosslessVideoIsThePngFramesAndThePresetReachesTheEncoder) {
  if (!programAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  auto capture = [&folder](const std::string& path, std::vector<std::string> options) {
    std::vector<std::string> run = {kShow, "--capture", folder + "/" + path, "nosound"};
    for (const char* word : {"--fps", "10", "--from", "41", "--to", "41.4"}) run.push_back(word);
    run.insert(run.end(), options.begin(), options.end());
    return runChild(run, folder, {}, 300);
  };
  ChildResult png_run = capture("frames", {});
  ASSERT_EQ(png_run.exit_code, 0) << png_run.output;
  ChildResult lossless_run = capture("lossless.mkv", {"--lossless"});
  ASSERT_EQ(lossless_run.exit_code, 0) << lossless_run.output;
  std::vector<unsigned char> expected;
  for (const std::string& name : framesIn(folder + "/frames")) {
    Image frame = readPng(folder + "/frames/" + name);
    expected.insert(expected.end(), frame.rgb.begin(), frame.rgb.end());
  }
  ASSERT_EQ(expected.size(), 5u * 640 * 480 * 3);
  std::string decode = "ffmpeg -v error -i '" + folder + "/lossless.mkv' -f rawvideo -pix_fmt rgb24 '" + folder +
                       "/decoded.rgb'";
  ASSERT_EQ(std::system(decode.c_str()), 0);
  std::vector<unsigned char> decoded = readFile(folder + "/decoded.rgb");
  EXPECT_TRUE(decoded == expected) << decoded.size() << " bytes decoded";

  for (std::string preset : {"ultrafast", "veryfast"}) {
    ChildResult encoded = capture(preset + ".mkv", {"--preset", preset});
    ASSERT_EQ(encoded.exit_code, 0) << encoded.output;
    std::vector<unsigned char> bytes = readFile(folder + "/" + preset + ".mkv");
    std::string stream(bytes.begin(), bytes.end());
    EXPECT_NE(stream.find(preset == "ultrafast" ? "cabac=0" : "cabac=1"), std::string::npos) << preset;
  }
}

// A lossless video made in three parts, one run each as on three machines, then joined: frame for frame
// and sample for sample the video of one run, the frames at the joins compared decoded.
TEST(ShowCaptureOptions, VideoPartsJoinIntoTheVideoOfOneRun) {
  if (!programAvailable("ffmpeg") || !programAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  auto run = [&folder](const char* option, const std::string& video, std::vector<std::string> more) {
    std::vector<std::string> words = {kShow, option, folder + "/" + video};
    for (const char* word : {"--fps", "10", "--from", "20", "--to", "24", "--lossless"}) words.push_back(word);
    words.insert(words.end(), more.begin(), more.end());
    return runChild(words, folder, {}, 300);
  };
  ChildResult one = run("--capture", "one.mp4", {});
  ASSERT_EQ(one.exit_code, 0) << one.output;
  for (const char* part : {"3/3", "1/3"}) {
    ChildResult made = run("--capture", "parts.mp4", {"--segment", part});
    ASSERT_EQ(made.exit_code, 0) << made.output;
  }
  // A part's summary names the part's own file, with its size.
  std::string last_part = folder + "/parts.mp4.frames-000227-000240.mkv";
  ChildResult again = run("--capture", "parts.mp4", {"--segment", "3/3"});
  ASSERT_EQ(again.exit_code, 0) << again.output;
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MB in ", std::filesystem::file_size(last_part) / 1e6);
  EXPECT_NE(again.output.find("narvu: 14 frames (1.40 s of show) in "), std::string::npos) << again.output;
  EXPECT_NE(again.output.find(size + last_part), std::string::npos) << again.output;
  // Frames 200 to 240 in three parts: 200-212, 213-226, 227-240.
  ChildResult early = run("--join", "parts.mp4", {});
  EXPECT_EQ(early.exit_code, 1) << early.output;
  EXPECT_NE(early.output.find("the parts lack frames 213 to 226 of frames 200 to 240"), std::string::npos)
      << early.output;
  EXPECT_TRUE(std::filesystem::exists(folder + "/parts.mp4.frames-000227-000240.mkv"));
  ChildResult middle = run("--capture", "parts.mp4", {"--segment", "2/3"});
  ASSERT_EQ(middle.exit_code, 0) << middle.output;
  ChildResult join = run("--join", "parts.mp4", {});
  ASSERT_EQ(join.exit_code, 0) << join.output;

  std::string frames = commandOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" + folder + "/parts.mp4'");
  EXPECT_EQ(std::atoi(frames.c_str()), 41) << frames;
  Starts starts = startsOf(folder + "/parts.mp4");
  EXPECT_EQ(starts.video_stream, 0.0);
  EXPECT_EQ(starts.audio_stream, 0.0);
  EXPECT_EQ(starts.audio_frame, starts.video_frame);
  for (const char* stream : {"v", "a"}) {
    std::vector<std::vector<unsigned char>> decoded;
    for (const char* video : {"one.mp4", "parts.mp4"}) {
      std::string raw = folder + "/decoded-" + video + "." + stream;
      std::string decode = "ffmpeg -v error -i '" + folder + "/" + video + "' -map 0:" + stream +
                           (stream[0] == 'v' ? " -f rawvideo -pix_fmt rgb24 '" : " -f s16le '") + raw + "'";
      ASSERT_EQ(std::system(decode.c_str()), 0) << decode;
      decoded.push_back(readFile(raw));
    }
    EXPECT_GT(decoded[0].size(), 0u);
    EXPECT_TRUE(decoded[0] == decoded[1]) << stream << ": " << decoded[0].size() << " and " << decoded[1].size();
  }
  // The parts and the music's file are gone.
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    EXPECT_NE(entry.path().filename().string().rfind("parts.mp4.", 0), 0u) << entry.path();
}

// ---- Exit codes a script can trust ----------------------------------------------------------------------

bool occursIn(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CaptureExits, AFolderThatCannotBeMadeFailsBeforeAnythingIsRendered) {
  std::string folder = scratchFolder();
  writeFile(folder + "/plain-file", {'x'});
  ChildResult run = runChild({kShow, "--capture", folder + "/plain-file/frames", "nosound"}, folder);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(occursIn(run.output, "narvu: cannot write frames into the folder")) << run.output;
  EXPECT_FALSE(occursIn(run.output, "capture: ")) << "nothing was to be rendered: " << run.output;
}

TEST(CaptureExits, FfmpegRefusingTheVideoFailsWithItsOwnWordsAndLeavesNothingBehind) {
  if (!programAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  std::string video = folder + "/odd.mp4";
  // H.264 in 4:2:0 takes no picture of odd width.
  ChildResult run = runChild({kShow, "--capture", video, "--size", "17x17", "--to", "1"}, folder, {}, 300);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(occursIn(run.output, "narvu: capture failed: ")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "ffmpeg says:")) << run.output;
  // Said once, and no summary after it that would read as a success.
  EXPECT_EQ(run.output.find("capture failed"), run.output.rfind("capture failed")) << run.output;
  EXPECT_FALSE(occursIn(run.output, " MB in ")) << run.output;
  for (const std::string& left : {video, video + ".audio.wav", video + ".video.mkv"})
    EXPECT_FALSE(std::filesystem::exists(left)) << left;
}

TEST(CaptureExits, NamesAreFilesNeverOptionsOrProtocols) {
  if (!programAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  for (const std::string& name : {std::string("-y.mp4"), std::string("pipe:1.mkv")}) {
    ChildResult run = runChild({kShow, "--capture", name, "--to", "0.2", "--fps", "10"}, folder, {}, 300);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_GT(std::filesystem::file_size(folder + "/" + name), 1000u) << name;
    EXPECT_LT(run.output.size(), 1000u) << "no video on standard output: " << name;
  }
}

// SIGINT with frames on disk: those frames and their music are whole, and the code says interrupted.
TEST(CaptureExits, AnInterruptedCaptureFinishesWhatItHasAndSaysSo) {
  std::string folder = scratchFolder();
  ChildSignal interrupt = {SIGINT, folder + "/frames/frame_000003.png", "", 0};
  ChildResult run = runChild({kShow, "--capture", folder + "/frames", "--fps", "10"}, folder, {}, 300, interrupt);
  EXPECT_EQ(run.exit_code, 130) << run.output;
  EXPECT_TRUE(occursIn(run.output, "interrupted by SIGINT")) << run.output;
  // Off a terminal no progress line is left open, so no message needs a blank line before it.
  EXPECT_FALSE(occursIn(run.output, "\n\n")) << run.output;
  int frames = int(framesIn(folder + "/frames").size());
  EXPECT_GE(frames, 4);
  for (const std::string& name : framesIn(folder + "/frames")) EXPECT_EQ(readPng(folder + "/frames/" + name).width, 640);
  // The music is that of the frames written, to the sample (4410 sound frames to a picture at 10 fps).
  uint64_t sound_bytes = std::filesystem::file_size(folder + "/frames/audio.wav") - 44;
  EXPECT_EQ(sound_bytes, uint64_t(frames) * 4410 * 4) << frames << " frames";
}

// A part that fails ends the capture with its own words; the parts that were made are kept.
TEST(CaptureExits, AFailedPartFailsTheCaptureInPartsWithItsWords) {
  if (!programAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  // H.264 in 4:2:0 takes no picture of odd width.
  std::vector<std::string> words = {kShow, "--capture", folder + "/odd.mp4", "--size", "17x17", "--to", "1"};
  for (const char* word : {"--jobs", "2"}) words.push_back(word);
  ChildResult run = runChild(words, folder, {}, 300);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(occursIn(run.output, "narvu: part 1/2 failed:")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "ffmpeg says:")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "frames 0-60 are missing; make them with --segment 1/2 and 2/2")) << run.output;
  EXPECT_FALSE(occursIn(run.output, "capture: frame")) << "a part's words without its progress";
  EXPECT_FALSE(std::filesystem::exists(folder + "/odd.mp4"));
}

// SIGINT while two parts run side by side: the frames from the start that are written stay, with their
// music; frames after a gap stay too, for a later join.
TEST(CaptureExits, AnInterruptedCaptureInPartsKeepsTheFramesFromItsStart) {
  std::string folder = scratchFolder();
  ChildSignal interrupt = {SIGINT, folder + "/frames/frame_000003.png", "", 0};
  ChildResult run =
      runChild({kShow, "--capture", folder + "/frames", "--fps", "10", "--jobs", "2"}, folder, {}, 300, interrupt);
  EXPECT_EQ(run.exit_code, 130) << run.output;
  EXPECT_TRUE(occursIn(run.output, "interrupted by SIGINT")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "missing; make them with --segment")) << run.output;
  long first_gap = 0;
  while (std::filesystem::exists(folder + "/frames/" + frameName(first_gap))) ++first_gap;
  ASSERT_GE(first_gap, 4);
  EXPECT_GT(framesIn(folder + "/frames").size(), size_t(first_gap)) << "part 2's frames are kept";
  uint64_t sound_bytes = std::filesystem::file_size(folder + "/frames/audio.wav") - 44;
  EXPECT_EQ(sound_bytes, uint64_t(first_gap) * 4410 * 4) << first_gap << " frames";
}

// A video in two parts interrupted once the second is whole: the first part's frames from the start are
// joined, the second part is kept and named, and a --join after the missing part is made again uses
// it: the result is the capture of one run.
TEST(CaptureExits, AnInterruptedCaptureInPartsKeepsItsLaterPartsForAJoin) {
  if (!programAvailable("ffmpeg") || !programAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  // The second part (the second scene, which draws faster) is whole before the first.
  std::vector<std::string> interval = {"--fps", "10", "--from", "40", "--to", "80", "--size", "64x48", "--lossless"};
  std::vector<std::string> words = {kShow, "--capture", folder + "/v.mkv", "--jobs", "2"};
  words.insert(words.end(), interval.begin(), interval.end());
  ChildSignal terminate = {SIGTERM, folder + "/v.mkv.frames-000600-000800.mkv", "", 0};
  ChildResult run = runChild(words, folder, {}, 300, terminate);
  EXPECT_EQ(run.exit_code, 143) << run.output;
  if (!occursIn(run.output, "kept for that: frames 600-800"))
    GTEST_SKIP() << "the first part ended first: " << run.output;
  EXPECT_TRUE(occursIn(run.output, "are missing; make them with --segment 1/2 (the same options) and then --join " +
                                       folder + "/v.mkv"))
      << run.output;
  EXPECT_TRUE(std::filesystem::exists(folder + "/v.mkv.frames-000600-000800.mkv"));

  std::vector<std::string> again = {kShow, "--capture", folder + "/v.mkv", "--segment", "1/2"};
  again.insert(again.end(), interval.begin(), interval.end());
  ASSERT_EQ(runChild(again, folder, {}, 300).exit_code, 0);
  std::vector<std::string> join = {kShow, "--join", folder + "/v.mkv", "--fps", "10", "--from", "40", "--to", "80"};
  ChildResult joined = runChild(join, folder, {}, 300);
  ASSERT_EQ(joined.exit_code, 0) << joined.output;
  std::vector<std::string> one = {kShow, "--capture", folder + "/one.mkv"};
  one.insert(one.end(), interval.begin(), interval.end());
  ASSERT_EQ(runChild(one, folder, {}, 300).exit_code, 0);
  EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + folder + "/v.mkv' -f framemd5 - | grep -v '^#'"),
            commandOutput("ffmpeg -v error -i '" + folder + "/one.mkv' -f framemd5 - | grep -v '^#'"));
}

// Interrupted before any frame: nothing to write is no failure. Both parts of --jobs are still starting
// when SIGTERM comes.
TEST(CaptureExits, AnEarlyEndSignalEndsWith128PlusItsNumber) {
  std::string folder = scratchFolder();
  ChildSignal terminate = {SIGTERM, "", "capturing in 2 parts side by side", 0};
  ChildResult jobs = runChild({kShow, "--capture", folder + "/frames", "--fps", "10", "--from", "60", "--jobs", "2"},
                              folder, {}, 300, terminate);
  EXPECT_EQ(jobs.exit_code, 143) << jobs.output;
  EXPECT_TRUE(occursIn(jobs.output, "before the interval's first frame was written; nothing is joined")) << jobs.output;
}

// Running, and not a zombie that nobody reaps (an orphan's parent here may be an init that does not).
bool processAlive(int pid) {
  if (pid <= 0 || kill(pid, 0) != 0) return false;
  std::vector<unsigned char> status = readFile("/proc/" + std::to_string(pid) + "/status");
  return std::string(status.begin(), status.end()).find("State:\tZ") == std::string::npos;
}

int pidIn(const std::string& path) {
  std::vector<unsigned char> text = readFile(path);
  return std::atoi(std::string(text.begin(), text.end()).c_str());
}

// Processes whose command line mentions `text`: a part of a --jobs run names its capture's folder.
int processesMentioning(const std::string& text) {
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::vector<unsigned char> line = readFile(entry.path().string() + "/cmdline");
    std::replace(line.begin(), line.end(), (unsigned char)0, (unsigned char)' ');
    if (std::string(line.begin(), line.end()).find(text) != std::string::npos) ++found;
  }
  return found;
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
  for (int i = 0; i < int(seconds * 50); ++i) {
    if (done()) return true;
    usleep(20000);
  }
  return done();
}

// An ffmpeg that muxes and never ends (here one that sleeps; a part that is a FIFO did the same): an end
// signal ends it and the show, with the video's partial file removed; and a show killed outright takes
// it along. The encoder, reading the pipe, is the real one.
TEST(CaptureExits, AnEndSignalStopsAnFfmpegThatHangsAndNoChildOutlivesTheShow) {
  if (!programAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  std::string real = commandOutput("command -v ffmpeg");
  real.erase(real.find_last_not_of("\n") + 1);
  std::filesystem::create_directories(folder + "/bin");
  writeFile(folder + "/bin/ffmpeg", {});
  std::string script = "#!/bin/sh\ncase \"$*\" in *pipe:0*) exec " + real + " \"$@\";; esac\necho $$ > " + folder +
                       "/hung.pid\nexec sleep 60\n";
  writeFile(folder + "/bin/ffmpeg", std::vector<unsigned char>(script.begin(), script.end()));
  std::filesystem::permissions(folder + "/bin/ffmpeg", std::filesystem::perms::owner_all);
  std::string path = "PATH=" + folder + "/bin:" + std::getenv("PATH");
  // Temporary files in the test's own folder: none may outlive the show, even one killed outright.
  std::string temporary = "TMPDIR=" + folder;
  std::vector<std::string> capture = {kShow, "--capture", folder + "/hung.mkv", "--fps", "10", "--to", "0.3"};

  for (int end_signal : {SIGTERM, SIGKILL}) {
    std::filesystem::remove(folder + "/hung.pid");
    RunningChild show = startChild(capture, folder, {path, temporary}, "output.txt");
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder + "/hung.pid"); }, 60));
    int hung = 0;
    ASSERT_TRUE(waitUntil([&] { return (hung = pidIn(folder + "/hung.pid")) > 0; }, 5));
    auto sent = std::chrono::steady_clock::now();
    kill(show.pid, end_signal);
    ChildResult run = waitChild(&show, 10);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    if (end_signal == SIGTERM) {
      EXPECT_EQ(run.exit_code, 143) << run.output;
      EXPECT_LT(seconds, 1.0) << run.output;
      EXPECT_TRUE(occursIn(run.output, "capture interrupted: ffmpeg could not write")) << run.output;
      for (const char* left : {"/hung.mkv", "/hung.mkv.video.mkv", "/hung.mkv.audio.wav"})
        EXPECT_FALSE(std::filesystem::exists(folder + left)) << left;
    }
    EXPECT_TRUE(waitUntil([&] { return !processAlive(hung); }, 1.0))
        << "the muxing ffmpeg outlived the show after signal " << end_signal;
    if (processAlive(hung)) kill(hung, SIGKILL);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      EXPECT_NE(entry.path().filename().string().rfind("narvu-", 0), 0u) << entry.path() << " outlived the show";
  }
}

// Parts of --jobs die with the run that started them, finishing what they have.
TEST(CaptureExits, PartsOfAKilledCaptureInPartsEndWithIt) {
  std::string folder = scratchFolder();
  ChildSignal kill_it = {SIGKILL, folder + "/frames/frame_000001.png", "", 0};
  // The temporary files go into the test's own folder, where none may stay.
  ChildResult run = runChild({kShow, "--capture", folder + "/frames", "--fps", "10", "--jobs", "2"}, folder,
                             {"TMPDIR=" + folder}, 300, kill_it);
  EXPECT_EQ(run.exit_code, -1) << run.output;
  EXPECT_TRUE(waitUntil([&] { return processesMentioning(folder + "/frames") == 0; }, 20))
      << processesMentioning(folder + "/frames") << " parts still run";
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    EXPECT_NE(entry.path().filename().string().rfind("narvu-", 0), 0u) << entry.path() << " outlived the show";
}

TEST(CaptureExits, ATerminatedVideoCaptureIsAPlayableVideoOfItsFrames) {
  if (!programAvailable("ffmpeg") || !programAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  std::string video = folder + "/cut.mkv";
  ChildSignal terminate = {SIGTERM, video + ".video.mkv", "", 0};
  ChildResult run = runChild({kShow, "--capture", video, "--fps", "10"}, folder, {}, 300, terminate);
  EXPECT_EQ(run.exit_code, 143) << run.output;
  std::string frames = commandOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=nb_read_frames -of csv=p=0 '" + video + "'");
  EXPECT_GE(std::atoi(frames.c_str()), 1) << frames << run.output;
  std::string samples = commandOutput("ffmpeg -v error -i '" + video + "' -map 0:a -f s16le -ac 2 -ar 44100 - | wc -c");
  EXPECT_NEAR(std::atof(samples.c_str()) / 4.0, std::atoi(frames.c_str()) * 4410.0, 2048) << samples;
  EXPECT_FALSE(std::filesystem::exists(video + ".video.mkv"));
  EXPECT_FALSE(std::filesystem::exists(video + ".audio.wav"));
}

}  // namespace
