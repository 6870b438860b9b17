// Frame capture: the frames of a --capture run (its interval, or a part of it), where they go, the
// progress line and the summary, and the end that makes the files whole (see capture/capture.h).
//
// Frames are numbered from the timeline's start: frame i shows moment i / fps. The run tells capture
// about every frame, the ones it skips before its first (captureSkipFrame) and the ones it presents
// (capturePresentedFrame, which the context's UpdateFrame calls through the sink). The writing itself
// is the writer's (threaded/capture_writer.cpp, or the page's web/web_capture_writer.cpp).
// A failure is remembered, not acted on: the frames after it are not written, and whoever runs the
// capture asks captureError and ends the run.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "capture/backend.h"

using Clock = std::chrono::steady_clock;

// The x264 preset of H.264 captures. At the default CRF 12 over the whole show at 640 × 480 and 25
// frames a second, veryfast's PSNR against the lossless frames is 0.43 dB below medium's, for the same
// file size and 1/3 of the encoder's time (docs/performance.md).
static const char kDefaultPreset[] = "veryfast";

static long counted_frames = 0;    // frames the run has been through: the index of the next one
static long presented_frames = 0;  // of the run's own frames, for the progress line
static bool finished = false;
static Clock::time_point capture_started = Clock::now();
static Clock::time_point writing_started;
static Clock::time_point last_progress;
static bool progress_line_open = false;  // a progress line without its newline on the terminal
// What the summary reports (see setCaptureOutput).
static std::string output_path;
static long output_first_frame = 0;

// The first failure, from whichever thread: written once under the lock, then only read.
static std::mutex error_lock;
static std::string capture_error;
static std::atomic<bool> capture_failed{false};

bool failCapture(const std::string& what) {
  std::lock_guard<std::mutex> hold(error_lock);
  if (!capture_failed.load()) {
    capture_error = what;
    capture_failed.store(true);
  }
  return false;
}

const char* captureError() { return capture_failed.load() ? capture_error.c_str() : nullptr; }

static int stopped_by_signal = 0;

void noteCaptureStopped(int signal_number) {
  if (!stopped_by_signal) stopped_by_signal = signal_number;
}

int captureStoppedBySignal() { return stopped_by_signal; }

CaptureSettings capture_settings;

// A capture runs off-screen on the virtual clock at its own rate, so that every frame shows exactly
// its moment whatever the machine's speed.
void beginCapture() {
  platform_settings.virtual_clock = true;
  platform_settings.fps = capture_settings.fps;
  platform_settings.headless = true;
  static const PresentedFrameSink sink = {capturePresentedFrame, queueCaptureFrame, drainCaptureWriter};
  setPresentedFrameSink(&sink);
}

// ---- The interval and its parts --------------------------------------------------------------------------

double captureFramesPerSecond(const CaptureSettings& settings) { return settings.fps > 0 ? settings.fps : 60; }

CaptureFrames captureInterval(const CaptureSettings& settings) {
  double fps = captureFramesPerSecond(settings);
  CaptureFrames interval;
  interval.first = long(std::ceil(settings.capture_from_seconds * fps - 1e-9));
  // The timeline's last pass is the first at or after its length; that frame is still presented.
  interval.last = settings.capture_to_seconds >= 0 ? long(std::floor(settings.capture_to_seconds * fps + 1e-9))
                                                   : long(std::ceil(settings.capture_length_seconds * fps - 1e-9));
  return interval;
}

CaptureFrames capturePart(const CaptureSettings& settings) {
  CaptureFrames interval = captureInterval(settings);
  if (settings.capture_segments <= 0) return interval;
  long count = interval.last - interval.first + 1;
  long k = settings.capture_segment, n = settings.capture_segments;
  return {interval.first + (k - 1) * count / n, interval.first + k * count / n - 1};
}

static bool segmented() { return capture_settings.capture_segments > 0; }

long captureFirstFrame() { return capturePart(capture_settings).first; }

long captureLastFrame() {
  // A whole run without --to lets the show end it: its music plays on through the tail.
  if (!segmented() && capture_settings.capture_to_seconds < 0) return -1;
  return capturePart(capture_settings).last;
}

bool captureWantsFrame() { return counted_frames >= captureFirstFrame(); }

bool captureComplete() { return captureLastFrame() >= 0 && counted_frames > captureLastFrame(); }

long captureFramesCounted() { return counted_frames; }

// ---- Where the frames go -----------------------------------------------------------------------------

static bool endsWithIgnoringCase(const std::string& text, const char* tail) {
  size_t length = std::strlen(tail);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - length + i])) != tail[i]) return false;
  return true;
}

bool capturePathEndsWith(const char* tail) { return endsWithIgnoringCase(capture_settings.capture_path, tail); }

bool captureNamesVideo(const std::string& path) {
  return endsWithIgnoringCase(path, ".mp4") || endsWithIgnoringCase(path, ".mkv") ||
         endsWithIgnoringCase(path, ".webm");
}

bool captureIsVideo() { return captureNamesVideo(capture_settings.capture_path); }

// The path as it can be printed: control characters as \n, \r or \xNN.
static std::string printablePath(const std::string& path) {
  std::string text;
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      text += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    text += byte == '\n' ? "\\n" : byte == '\r' ? "\\r" : escaped;
  }
  return text;
}

// The extension of the path's last name: up to five letters and digits, at least one a letter, after
// its last dot ("avi" in clip.avi); empty for none ("run.2", "frames", a path ending in /).
static std::string extensionOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot - 1 > 5) return "";
  std::string extension = name.substr(dot + 1);
  bool letter = false;
  for (char c : extension) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return "";
    letter = letter || std::isalpha(static_cast<unsigned char>(c));
  }
  return letter ? extension : "";
}

bool capturePathAcceptable(const char* option, const std::string& path, std::string* error) {
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (byte < 0x20 || byte == 0x7f) {
      *error = std::string(option) + " '" + printablePath(path) + "': the path holds a control character at byte " +
               std::to_string(i + 1) + "; give a path without newlines, carriage returns or other control characters";
      return false;
    }
  }
  std::string extension = extensionOf(path);
  if (captureNamesVideo(path) || extension.empty()) return true;
  *error = std::string(option) + " " + path + ": a capture writes videos as .mp4, .mkv or .webm, or PNG frames and " +
           "audio.wav into a folder, not ." + extension + "; name the video with one of those endings, or give a " +
           "folder (" + path + "/ keeps that name for a folder)";
  return false;
}

// A folder that is there and writable, or that can be made: its nearest existing ancestor is writable.
static bool folderCanBeWritten(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::path existing = folder;
  while (!existing.empty() && !std::filesystem::exists(existing, ignored)) existing = existing.parent_path();
  if (existing.empty()) existing = ".";
  return std::filesystem::is_directory(existing, ignored) && folderIsWritable(existing.string());
}

bool captureTargetUsable(std::string* error) {
  const std::string& path = capture_settings.capture_path;
  std::error_code ignored;
  if (!captureIsVideo()) {
    if (!folderCanBeWritten(std::filesystem::absolute(path, ignored))) {
      *error = "cannot write frames into the folder " + path + ": it is not a folder that can be made or written";
      return false;
    }
    return true;
  }
  if (findProgram("ffmpeg").empty()) {
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
  // ffmpeg would open a FIFO or a device there and wait, or write into it.
  if (std::filesystem::exists(path, ignored) && !std::filesystem::is_regular_file(path, ignored)) {
    *error = "cannot write the video " + path +
             ": something that is not a file (a FIFO or a device) has that "
             "name; remove it or choose another name";
    return false;
  }
  if (!std::filesystem::is_directory(folder, ignored) || !folderIsWritable(folder.string())) {
    *error = "cannot write the video " + path + ": its folder " + folder.string() + " is missing or not writable";
    return false;
  }
  return true;
}

// Parts running side by side in one folder each encode into a file of their own.
std::string captureVideoStreamPath() {
  const CaptureSettings& s = capture_settings;
  if (!segmented()) return s.capture_path + ".video.mkv";
  return s.capture_path + ".segment-" + std::to_string(s.capture_segment) + "-of-" +
         std::to_string(s.capture_segments) + ".mkv";
}

std::string capturePartPath(long first, long last) {
  char frames[48];
  std::snprintf(frames, sizeof frames, ".frames-%06ld-%06ld.mkv", first, last);
  return capture_settings.capture_path + frames;
}

std::string captureFramePath(long index) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame_%06ld.png", index);
  return capture_settings.capture_path + name;
}

std::vector<std::string> captureEncoderOptions() {
  const CaptureSettings& s = capture_settings;
  bool webm = capturePathEndsWith(".webm");
  std::string preset = s.video_preset.empty() ? kDefaultPreset : s.video_preset;
  if (s.video_lossless) {
    if (webm) return {"-c:v", "libvpx-vp9", "-lossless", "1", "-row-mt", "1", "-pix_fmt", "gbrp"};
    // FFV1 codes slices in parallel only at level 3.
    if (capturePathEndsWith(".mkv")) return {"-c:v", "ffv1", "-level", "3", "-slices", "4", "-pix_fmt", "bgr0"};
    return {"-c:v", "libx264rgb", "-preset", preset, "-qp", "0", "-pix_fmt", "rgb24"};
  }
  std::string crf = std::to_string(s.video_crf >= 0 ? s.video_crf : (webm ? 15 : 12));
  if (webm) return {"-c:v", "libvpx-vp9", "-b:v", "0", "-crf", crf, "-row-mt", "1", "-pix_fmt", "yuv420p"};
  return {"-c:v", "libx264", "-preset", preset, "-crf", crf, "-pix_fmt", "yuv420p"};
}

std::vector<std::string> captureEncoderCommand(int width, int height, const std::string& output) {
  std::string size = std::to_string(width) + "x" + std::to_string(height), fps = std::to_string(capture_settings.fps);
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                        "-f",     "rawvideo",     "-pix_fmt",  "rgb24", "-s",
                                        size,     "-framerate",   fps,         "-i",    "pipe:0"};
  for (const std::string& option : captureEncoderOptions()) arguments.push_back(option);
  arguments.push_back(ffmpegFileArgument(output));
  return arguments;
}

// ---- Progress and summary ------------------------------------------------------------------------------

static double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The frames the run holds: from its first to its last, or to the show's end.
static long expectedFrames() {
  CaptureFrames part = capturePart(capture_settings);
  return std::max(1L, part.last - part.first + 1);
}

// On a terminal one line, rewritten in place four times a second; otherwise a line every ten seconds.
static void showProgress() {
  bool terminal = standardErrorIsTerminal();
  auto now = Clock::now();
  if (now - last_progress < std::chrono::milliseconds(terminal ? 250 : 10000)) return;
  last_progress = now;
  double fps = captureFramesPerSecond(capture_settings);
  char line[160];
  if (!captureWantsFrame()) {
    std::snprintf(line, sizeof line, "capture: seeking to %.1f s, now at %.1f s", captureFirstFrame() / fps,
                  counted_frames / fps);
  } else {
    // The speed of the frames so far; too few to tell at first.
    double seconds = secondsSince(writing_started);
    double rate = seconds >= 1 ? presented_frames / seconds : 0;
    long left = std::max(0L, expectedFrames() - presented_frames);
    if (rate > 0)
      std::snprintf(line, sizeof line, "capture: frame %ld of %ld, %.1f frames/s, %.0f s left", presented_frames,
                    expectedFrames(), rate, left / rate);
    else
      std::snprintf(line, sizeof line, "capture: frame %ld of %ld", presented_frames, expectedFrames());
  }
  std::fprintf(stderr, terminal ? "\r%-78s" : "%s\n", line);
  std::fflush(stderr);
  progress_line_open = terminal;
}

void captureEndProgressLine() {
  if (!progress_line_open) return;
  std::fputc('\n', stderr);
  progress_line_open = false;
}

void captureSkipFrame() {
  ++counted_frames;
  showProgress();
}

long capturePresentedFrame() {
  long index = counted_frames++;
  if (captureError() || index < captureFirstFrame() || (captureLastFrame() >= 0 && index > captureLastFrame()))
    return -1;
  if (presented_frames++ == 0) writing_started = Clock::now();
  showProgress();
  return index;
}

// A file's size, 0 when it is not there (a folder capture's music, when the run has none).
static uintmax_t fileBytes(const std::string& path) {
  std::error_code error;
  uintmax_t bytes = std::filesystem::file_size(path, error);
  return error ? 0 : bytes;
}

void setCaptureOutput(const std::string& path, long first_frame) {
  output_path = path;
  output_first_frame = first_frame;
}

// The bytes the run wrote: the video, or its PNG frames and the music beside them (other frames in
// the folder belong to other parts).
static uintmax_t outputBytes() {
  if (captureIsVideo()) return fileBytes(output_path);
  uintmax_t total = 0;
  long frames = captureFramesWritten();
  for (long index = output_first_frame; index < output_first_frame + frames; ++index)
    total += fileBytes(captureFramePath(index));
  const std::string& music = platform_settings.sound_capture_path;
  return total + (music.empty() ? 0 : fileBytes(music));
}

std::string captureSummary() {
  long frames = captureFramesWritten();
  double show_seconds = frames / captureFramesPerSecond(capture_settings);
  double wall = secondsSince(capture_started);
  const std::string& path = output_path.empty() ? capture_settings.capture_path : output_path;
  char text[256];
  std::snprintf(text, sizeof text, "%ld frame%s (%.2f s of show) in %.1f s, %.2f x real time, %.1f MB in ", frames,
                frames == 1 ? "" : "s", show_seconds, wall, wall > 0 ? show_seconds / wall : 0.0, outputBytes() / 1e6);
  return text + path;
}

// ---- The end -----------------------------------------------------------------------------------------

static const uintmax_t kWavHeaderBytes = 44;

// The music's input and codec, so that its first sample plays with the first frame. Encoders that look
// ahead put priming samples before the first one, which the container must tell the player to skip:
//   .mp4:  AAC; the edit list says to skip its 1024 priming samples, and both streams start at 0.
//   .mkv:  FLAC, which has no priming. ffmpeg writes AAC's priming into Matroska as sound, with nothing
//          to skip it: the video started 23 ms after the audio, and players played the priming.
//   .webm: Opus (WebM takes nothing else but Vorbis, which primes too); its 312 samples of priming at
//          48 kHz (6.5 ms) are in the track's CodecDelay, which players skip. ffmpeg takes the delay off
//          the stream's timestamps once more when it muxes, so the music goes in 6.5 ms later to make
//          up for it: its first sample then decodes at 0, with the first frame, and the stream's first
//          packet, priming and all, starts at -6.5 ms.
static std::vector<std::string> musicOptions(const std::string& audio) {
  bool webm = capturePathEndsWith(".webm");
  std::vector<std::string> options;
  if (webm) options = {"-itsoffset", "0.0065"};
  for (const std::string& option : {std::string("-i"), ffmpegFileArgument(audio)}) options.push_back(option);
  for (const char* option : {"-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a"}) options.push_back(option);
  if (webm)
    options.insert(options.end(), {"libopus", "-b:a", "192k"});
  else if (capturePathEndsWith(".mkv"))
    options.push_back("flac");
  else
    options.insert(options.end(), {"aac", "-b:a", "256k"});
  return options;
}

bool muxCaptureVideo(const std::vector<std::string>& video_input, std::string* error) {
  const std::string& audio = platform_settings.sound_capture_path;
  std::error_code ignored;
  bool with_audio = !audio.empty() && std::filesystem::is_regular_file(audio, ignored);
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  arguments.insert(arguments.end(), video_input.begin(), video_input.end());
  if (with_audio) {
    for (const std::string& option : musicOptions(audio)) arguments.push_back(option);
  } else {
    arguments.push_back("-c:v");
    arguments.push_back("copy");
  }
  arguments.push_back(ffmpegFileArgument(capture_settings.capture_path));
  if (runFfmpeg(arguments, error)) return true;
  std::remove(capture_settings.capture_path.c_str());  // what it left is no video
  return false;
}

// A part's stream is kept under the name of the frames it holds. Once the part is whole, what earlier
// runs of it left (a cancelled run's frames from its start) would only stand in the join's way.
static bool keepPart(std::string* why) {
  CaptureFrames frames = {captureFirstFrame(), captureFirstFrame() + captureFramesWritten() - 1};
  std::string part = capturePartPath(frames.first, frames.last);
  setCaptureOutput(part, frames.first);
  if (std::rename(captureVideoStreamPath().c_str(), part.c_str()) != 0) {
    *why = "cannot name it " + part + ": " + std::strerror(errno);
    return false;
  }
  if (frames.last == capturePart(capture_settings).last) removePartsWithin(frames, part);
  return true;
}

bool finishCapture(bool interrupted, std::string* error) {
  if (finished) return captureError() == nullptr;
  finished = true;
  readBackPresentedFrames();
  stopCaptureWriter();
  captureEndProgressLine();
  setCaptureOutput(capture_settings.capture_path, captureFirstFrame());
  bool ok = captureError() == nullptr;
  bool any = captureFramesWritten() > 0;
  if (captureIsVideo()) {
    std::string why;
    if (!closeCaptureEncoder(&why)) ok = failCapture("ffmpeg could not encode the video; " + why);
    if (ok && any && segmented() && !keepPart(&why)) ok = failCapture(why);
    if (ok && any && !segmented() && !muxCaptureVideo({"-i", ffmpegFileArgument(captureVideoStreamPath())}, &why))
      ok = failCapture("ffmpeg could not write " + capture_settings.capture_path + "; " + why);
    std::remove(captureVideoStreamPath().c_str());
    if (!platform_settings.sound_capture_path.empty()) std::remove(platform_settings.sound_capture_path.c_str());
  } else if (!any && !platform_settings.sound_capture_path.empty() &&
             fileBytes(platform_settings.sound_capture_path) <= kWavHeaderBytes) {
    std::remove(platform_settings.sound_capture_path.c_str());  // a run that ended while seeking has no music
  }
  if (ok && !any && !interrupted) ok = failCapture("no frame was captured");
  if (!ok && error) *error = captureError();
  return ok;
}
