// Frame capture: every presented frame of a --capture run, written as DIR/frame_NNNNNN.png, or piped
// as raw RGB to the ffmpeg program, which encodes a video file; the music, rendered offline by the
// sound library, is muxed in when the capture is finished (see platform/capture.h).
//
// Frames are numbered from the timeline's start: frame i shows moment i / fps. The run tells capture
// about every frame, the ones it skips before the interval (captureSkipFrame) and the ones it presents
// (captureFrame, from the context's UpdateFrame). A failure is remembered, not acted on: the frames
// after it are not written, and whoever runs the capture asks captureError and ends the run.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform_local.h"

using Clock = std::chrono::steady_clock;

static long counted_frames = 0;  // frames the run has been through: the index of the next one
static long written_frames = 0;
static bool folder_ready = false;
static FfmpegProcess encoder;
static bool encoder_running = false;
static bool finished = false;
static Clock::time_point capture_started = Clock::now();
static Clock::time_point writing_started;
static Clock::time_point last_progress;
static std::string capture_error;

// Remembers the first failure; false, for the caller to return.
static bool failCapture(const std::string& what) {
  if (capture_error.empty()) capture_error = what;
  return false;
}

const char* captureError() { return capture_error.empty() ? nullptr : capture_error.c_str(); }

// ---- The interval ------------------------------------------------------------------------------------

static double framesPerSecond() { return platform_settings.fps > 0 ? platform_settings.fps : 60; }

long captureFirstFrame() { return long(std::ceil(platform_settings.capture_from_seconds * framesPerSecond() - 1e-9)); }

long captureLastFrame() {
  if (platform_settings.capture_to_seconds < 0) return -1;
  return long(std::floor(platform_settings.capture_to_seconds * framesPerSecond() + 1e-9));
}

bool captureWantsFrame() { return counted_frames >= captureFirstFrame(); }

bool captureComplete() { return captureLastFrame() >= 0 && counted_frames > captureLastFrame(); }

long captureFramesCounted() { return counted_frames; }

// ---- Where the frames go -----------------------------------------------------------------------------

static bool endsWith(const std::string& text, const char* tail) {
  size_t length = std::strlen(tail);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - length + i])) != tail[i]) return false;
  return true;
}

bool captureIsVideo() {
  const std::string& path = platform_settings.capture_path;
  return endsWith(path, ".mp4") || endsWith(path, ".mkv") || endsWith(path, ".webm");
}

static bool programOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Makes the folder and its parents, like mkdir -p.
static bool makeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

static bool writableFolder(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

// A folder that is there and writable, or that can be made: its nearest existing ancestor is writable.
static bool folderCanBeWritten(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::path existing = folder;
  while (!existing.empty() && !std::filesystem::exists(existing, ignored)) existing = existing.parent_path();
  if (existing.empty()) existing = ".";
  return std::filesystem::is_directory(existing, ignored) && writableFolder(existing.string());
}

bool captureTargetUsable(std::string* error) {
  const std::string& path = platform_settings.capture_path;
  std::error_code ignored;
  if (!captureIsVideo()) {
    if (!folderCanBeWritten(std::filesystem::absolute(path, ignored))) {
      *error = "cannot write frames into the folder " + path + ": it is not a folder that can be made or written";
      return false;
    }
    return true;
  }
  if (!programOnPath("ffmpeg")) {
    *error = "capturing to " + path +
             " needs the ffmpeg program, which is not on the PATH; install ffmpeg, or capture to a folder "
             "(--capture DIR) for PNG frames and audio.wav";
    return false;
  }
  std::filesystem::path folder = std::filesystem::absolute(path, ignored).parent_path();
  if (std::filesystem::is_directory(path, ignored)) {
    *error = "cannot write the video " + path + ": it is a folder";
    return false;
  }
  if (!std::filesystem::is_directory(folder, ignored) || !writableFolder(folder.string())) {
    *error = "cannot write the video " + path + ": its folder " + folder.string() + " is missing or not writable";
    return false;
  }
  return true;
}

static std::string videoOnlyPath() { return platform_settings.capture_path + ".video.mkv"; }

static bool writePng(const std::string& path, const uint8_t* rgb, int width, int height) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  // Capture speed matters more than file size: the fastest deflate level and no row filters.
  png_set_compression_level(png, 1);
  png_set_filter(png, 0, PNG_FILTER_NONE);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(rgb + size_t(y) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// H.264 (VP9 for .webm) at near-lossless quality unless --crf says otherwise.
static std::vector<std::string> encoderOptions() {
  bool webm = endsWith(platform_settings.capture_path, ".webm");
  std::string crf = std::to_string(platform_settings.video_crf >= 0 ? platform_settings.video_crf : (webm ? 15 : 12));
  if (webm) return {"-c:v", "libvpx-vp9", "-b:v", "0", "-crf", crf, "-row-mt", "1", "-pix_fmt", "yuv420p"};
  return {"-c:v", "libx264", "-preset", "medium", "-crf", crf, "-pix_fmt", "yuv420p"};
}

static bool startEncoder(int width, int height) {
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo",
                                        "-pix_fmt", "rgb24", "-s", std::to_string(width) + "x" + std::to_string(height),
                                        "-framerate", std::to_string(platform_settings.fps), "-i", "pipe:0"};
  for (const std::string& option : encoderOptions()) arguments.push_back(option);
  arguments.push_back(ffmpegFileArgument(videoOnlyPath()));
  std::string error;
  if (!startFfmpeg(arguments, true, &encoder, &error)) return failCapture(error);
  encoder_running = true;
  return true;
}

static bool writeFrame(long index, const uint8_t* rgb, int width, int height) {
  if (captureIsVideo()) {
    if (!encoder_running && !startEncoder(width, height)) return false;
    if (!writeToFfmpeg(&encoder, rgb, size_t(width) * height * 3)) {
      std::string words;
      finishFfmpeg(&encoder, &words);
      encoder_running = false;
      return failCapture("ffmpeg stopped taking frames; " + words);
    }
    return true;
  }
  const std::string& folder = platform_settings.capture_path;
  if (!folder_ready && !makeFolder(folder))
    return failCapture("cannot make the folder " + folder + ": " + std::strerror(errno));
  folder_ready = true;
  char name[32];
  std::snprintf(name, sizeof(name), "/frame_%06ld.png", index);
  if (!writePng(folder + name, rgb, width, height))
    return failCapture("cannot write " + folder + name + ": " + std::strerror(errno));
  return true;
}

// ---- Progress and summary ------------------------------------------------------------------------------

static double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The frames the interval holds: from its first to its last, or to the show's end, whose frame is the
// first at or after its length (that pass is finished and presented).
static long expectedFrames() {
  long last = captureLastFrame();
  if (last < 0) last = long(std::ceil(platform_settings.capture_length_seconds * framesPerSecond() - 1e-9));
  return std::max(1L, last - captureFirstFrame() + 1);
}

// On a terminal one line, rewritten in place four times a second; otherwise a line every ten seconds.
static void showProgress() {
  bool terminal = isatty(2);
  auto now = Clock::now();
  if (now - last_progress < std::chrono::milliseconds(terminal ? 250 : 10000)) return;
  last_progress = now;
  char line[160];
  if (!captureWantsFrame()) {
    std::snprintf(line, sizeof line, "capture: seeking to %.1f s (%.1f s)", captureFirstFrame() / framesPerSecond(),
                  counted_frames / framesPerSecond());
  } else {
    // The speed of the frames written so far; too few to tell at first.
    double seconds = secondsSince(writing_started);
    double rate = seconds >= 1 ? written_frames / seconds : 0;
    long left = std::max(0L, expectedFrames() - written_frames);
    if (rate > 0)
      std::snprintf(line, sizeof line, "capture: frame %ld of %ld, %.1f frames/s, %.0f s left", written_frames,
                    expectedFrames(), rate, left / rate);
    else
      std::snprintf(line, sizeof line, "capture: frame %ld of %ld", written_frames, expectedFrames());
  }
  std::fprintf(stderr, terminal ? "\r%-78s" : "%s\n", line);
  std::fflush(stderr);
}

void captureSkipFrame() {
  ++counted_frames;
  showProgress();
}

bool captureFrame(const uint8_t* rgb, int width, int height) {
  if (!capture_error.empty()) return false;
  long index = counted_frames++;
  if (index < captureFirstFrame() || (captureLastFrame() >= 0 && index > captureLastFrame())) return true;
  if (written_frames == 0) writing_started = Clock::now();
  if (!writeFrame(index, rgb, width, height)) return false;
  ++written_frames;
  showProgress();
  return true;
}

static uintmax_t outputBytes() {
  std::error_code ignored;
  const std::string& path = platform_settings.capture_path;
  if (!std::filesystem::is_directory(path, ignored)) return std::filesystem::file_size(path, ignored);
  uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(path, ignored))
    if (entry.is_regular_file(ignored)) total += entry.file_size(ignored);
  return total;
}

std::string captureSummary() {
  double show_seconds = written_frames / framesPerSecond();
  double wall = secondsSince(capture_started);
  char text[256];
  std::snprintf(text, sizeof text, "%ld frames (%.2f s of show) in %.1f s, %.2f x real time, %.1f MB in %s",
                written_frames, show_seconds, wall, wall > 0 ? show_seconds / wall : 0.0, outputBytes() / 1e6,
                platform_settings.capture_path.c_str());
  return text;
}

// ---- The end -----------------------------------------------------------------------------------------

// The video stream and the offline-rendered music become the one file asked for.
static bool muxVideo(std::string* error) {
  const std::string& audio = platform_settings.sound_capture_path;
  bool with_audio = !audio.empty() && access(audio.c_str(), R_OK) == 0;
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                        "-i", ffmpegFileArgument(videoOnlyPath())};
  if (with_audio) {
    bool webm = endsWith(platform_settings.capture_path, ".webm");
    for (const char* option : {"-i", "", "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a"})
      arguments.push_back(*option ? option : ffmpegFileArgument(audio));
    for (const char* option : webm ? std::vector<const char*>{"libopus", "-b:a", "192k"}
                                   : std::vector<const char*>{"aac", "-b:a", "256k"})
      arguments.push_back(option);
  } else {
    arguments.push_back("-c:v");
    arguments.push_back("copy");
  }
  arguments.push_back(ffmpegFileArgument(platform_settings.capture_path));
  FfmpegProcess mux;
  return startFfmpeg(arguments, false, &mux, error) && finishFfmpeg(&mux, error);
}

bool finishCapture(std::string* error) {
  if (finished) return capture_error.empty();
  finished = true;
  if (isatty(2) && written_frames > 0) std::fputc('\n', stderr);
  if (!captureIsVideo()) return capture_error.empty();
  bool ok = capture_error.empty();
  std::string why;
  if (encoder_running) {
    encoder_running = false;
    if (!finishFfmpeg(&encoder, &why)) ok = failCapture("ffmpeg could not encode the video; " + why);
  }
  if (ok && written_frames > 0 && !muxVideo(&why)) {
    ok = failCapture("ffmpeg could not write " + platform_settings.capture_path + "; " + why);
    std::remove(platform_settings.capture_path.c_str());  // what it left is no video
  }
  if (ok && written_frames == 0) ok = failCapture("no frame was captured");
  std::remove(videoOnlyPath().c_str());
  if (!platform_settings.sound_capture_path.empty()) std::remove(platform_settings.sound_capture_path.c_str());
  if (!ok && error) *error = capture_error;
  return ok;
}
