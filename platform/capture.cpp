// Frame capture: every presented frame of a --capture run, written as DIR/frame_NNNNNN.png, or piped
// as raw RGB to the ffmpeg program, which encodes a video file; the music, rendered offline by the
// sound library, is muxed in when the capture is finished (see platform/capture.h).
//
// A failure is remembered, not acted on: the frames after it are not written, and whoever presents
// frames asks captureError and decides how the run ends.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform_local.h"

static long presented_frames = 0;
static long written_frames = 0;
static bool folder_ready = false;
static FILE* video_pipe = nullptr;
static std::chrono::steady_clock::time_point capture_started;
static std::chrono::steady_clock::time_point last_progress;
static std::string capture_error;

// Remembers the first failure; false, for the caller to return.
static bool failCapture(const std::string& what) {
  if (capture_error.empty()) capture_error = what;
  return false;
}

const char* captureError() { return capture_error.empty() ? nullptr : capture_error.c_str(); }

// Makes the folder and its parents, like mkdir -p.
static bool makeFolder(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) partial += path[i];
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

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

// Whether presented frame `index` lies in the --from/--to interval.
static bool frameWanted(long index) {
  double fps = platform_settings.fps > 0 ? platform_settings.fps : 60;
  double first = std::ceil(platform_settings.capture_from_seconds * fps - 1e-9);
  if (index < first) return false;
  if (platform_settings.capture_to_seconds < 0) return true;
  return index <= std::floor(platform_settings.capture_to_seconds * fps + 1e-9);
}

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

bool captureTargetUsable(std::string* error) {
  if (!captureIsVideo() || programOnPath("ffmpeg")) return true;
  *error = "capturing to " + platform_settings.capture_path +
           " needs the ffmpeg program, which is not on the PATH; install ffmpeg, or capture to a folder "
           "(--capture DIR) for PNG frames and audio.wav";
  return false;
}

static std::string videoOnlyPath() { return platform_settings.capture_path + ".video.mkv"; }

static std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// H.264 (VP9 for .webm) at near-lossless quality unless --crf says otherwise.
static std::string encoderOptions() {
  bool webm = endsWith(platform_settings.capture_path, ".webm");
  int crf = platform_settings.video_crf >= 0 ? platform_settings.video_crf : (webm ? 15 : 12);
  if (webm) return "-c:v libvpx-vp9 -b:v 0 -crf " + std::to_string(crf) + " -row-mt 1 -pix_fmt yuv420p";
  return "-c:v libx264 -preset medium -crf " + std::to_string(crf) + " -pix_fmt yuv420p";
}

static bool openVideoPipe(int width, int height) {
  std::string command = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " +
                        std::to_string(width) + "x" + std::to_string(height) + " -framerate " +
                        std::to_string(platform_settings.fps) + " -i - " + encoderOptions() + " " +
                        quoted(videoOnlyPath());
  video_pipe = popen(command.c_str(), "w");
  return video_pipe ? true : failCapture("cannot start ffmpeg");
}

static double firstWrittenSecond() {
  double fps = platform_settings.fps > 0 ? platform_settings.fps : 60;
  return std::ceil(platform_settings.capture_from_seconds * fps - 1e-9) / fps;
}

// The video stream and the offline-rendered music become the one file asked for.
static void muxVideo() {
  const std::string& audio = platform_settings.sound_capture_path;
  std::string output = quoted(platform_settings.capture_path);
  std::string command = "ffmpeg -hide_banner -loglevel error -y -i " + quoted(videoOnlyPath());
  bool with_audio = !audio.empty() && access(audio.c_str(), R_OK) == 0;
  if (with_audio) {
    double duration = double(written_frames) / platform_settings.fps;
    char cut[96];
    std::snprintf(cut, sizeof(cut), " -ss %.6f -t %.6f -i ", firstWrittenSecond(), duration);
    bool webm = endsWith(platform_settings.capture_path, ".webm");
    command += cut + quoted(audio) + " -map 0:v -map 1:a -c:v copy " +
               (webm ? "-c:a libopus -b:a 192k " : "-c:a aac -b:a 256k ");
  } else {
    command += " -c:v copy ";
  }
  command += output;
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "narvu: capture failed: ffmpeg could not write %s\n", platform_settings.capture_path.c_str());
    return;
  }
  std::remove(videoOnlyPath().c_str());
  if (with_audio) std::remove(audio.c_str());
}

void finishCapture() {
  if (!video_pipe) return;
  pclose(video_pipe);
  video_pipe = nullptr;
  muxVideo();
  if (isatty(2)) std::fputc('\n', stderr);
}

static long expectedFrames() {
  double length = platform_settings.capture_length_seconds;
  double end = platform_settings.capture_to_seconds >= 0 ? std::min(platform_settings.capture_to_seconds, length)
                                                         : length;
  long last = long(std::floor(end * platform_settings.fps + 1e-9));
  long first = long(std::ceil(platform_settings.capture_from_seconds * platform_settings.fps - 1e-9));
  return std::max(1L, last - first + 1);
}

// One line on a terminal, rewritten in place: frames done of total, speed and time left.
static void showProgress() {
  if (!isatty(2)) return;
  using namespace std::chrono;
  auto now = steady_clock::now();
  if (now - last_progress < milliseconds(250)) return;
  last_progress = now;
  double seconds = duration<double>(now - capture_started).count();
  double rate = seconds > 0 ? double(written_frames) / seconds : 0;
  long total = expectedFrames();
  double left = rate > 0 ? double(std::max(0L, total - written_frames)) / rate : 0;
  std::fprintf(stderr, "\rcapture: frame %ld of %ld, %.1f frames/s, %.0f s left   ", written_frames, total, rate,
               left);
  std::fflush(stderr);
}

bool captureFrame(const uint8_t* rgb, int width, int height) {
  if (!capture_error.empty()) return false;
  long index = presented_frames++;
  if (!frameWanted(index)) return true;
  if (written_frames == 0) capture_started = std::chrono::steady_clock::now();
  if (captureIsVideo()) {
    if (!video_pipe && !openVideoPipe(width, height)) return false;
    size_t bytes = size_t(width) * height * 3;
    if (std::fwrite(rgb, 1, bytes, video_pipe) != bytes) return failCapture("ffmpeg stopped taking frames");
  } else {
    const std::string& folder = platform_settings.capture_path;
    if (!folder_ready) {
      if (!makeFolder(folder)) return failCapture("cannot make the folder " + folder + ": " + std::strerror(errno));
      folder_ready = true;
    }
    char name[32];
    std::snprintf(name, sizeof(name), "/frame_%06ld.png", index);
    if (!writePng(folder + name, rgb, width, height)) return failCapture("cannot write " + folder + name);
  }
  ++written_frames;
  showProgress();
  return true;
}
