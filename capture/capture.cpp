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

// One capture's state, from beginCapture to endCapture.
struct CaptureRun {
  long counted_frames = 0;    // frames the run has been through: the index of the next one
  long presented_frames = 0;  // of the run's own frames, for the progress line
  bool finished = false;
  Clock::time_point started = Clock::now();
  Clock::time_point writing_started;
  Clock::time_point last_progress;
  bool progress_line_open = false;  // a progress line without its newline on the terminal
  // What the summary reports (see setCaptureOutput).
  std::string output_path;
  long output_first_frame = 0;
  // The first failure, from whichever thread: written once under error_lock, then only read.
  std::string error;
  std::atomic<bool> failed{false};
  int stopped_by_signal = 0;  // see noteCaptureStopped
};
static CaptureRun run;
static std::mutex error_lock;

bool failCapture(const std::string& what) {
  std::lock_guard<std::mutex> hold(error_lock);
  if (!run.failed.load()) {
    run.error = what;
    run.failed.store(true);
  }
  return false;
}

const char* captureError() { return run.failed.load() ? run.error.c_str() : nullptr; }

void noteCaptureStopped(int signal_number) {
  if (!run.stopped_by_signal) run.stopped_by_signal = signal_number;
}

int captureStoppedBySignal() { return run.stopped_by_signal; }

// A capture runs off-screen on the virtual clock at its own rate, so that every frame shows exactly
// its moment whatever the machine's speed.
void beginCapture() {
  platform_settings.virtual_clock = true;
  platform_settings.fps = capture_settings.fps;
  platform_settings.headless = true;
  static const PresentedFrameSink sink = {capturePresentedFrame, queueCaptureFrame, drainCaptureWriter};
  setPresentedFrameSink(&sink);
}

void endCapture() {
  setPresentedFrameSink(nullptr);
  resetCaptureWriter();
  std::lock_guard<std::mutex> hold(error_lock);
  run.counted_frames = run.presented_frames = run.output_first_frame = 0;
  run.finished = run.progress_line_open = false;
  run.started = Clock::now();
  run.writing_started = run.last_progress = Clock::time_point();
  run.output_path.clear();
  run.error.clear();
  run.failed.store(false);
  run.stopped_by_signal = 0;
}

// ---- The interval and its parts --------------------------------------------------------------------------

static bool segmented() { return capture_settings.capture_segments > 0; }

long captureFirstFrame() { return capturePart(capture_settings).first; }

long captureLastFrame() {
  // A whole run without --to lets the show end it: its music plays on through the tail.
  if (!segmented() && capture_settings.capture_to_seconds < 0) return -1;
  return capturePart(capture_settings).last;
}

bool captureWantsFrame() { return run.counted_frames >= captureFirstFrame(); }

bool captureComplete() { return captureLastFrame() >= 0 && run.counted_frames > captureLastFrame(); }

long captureFramesCounted() { return run.counted_frames; }

// ---- Where the frames go -----------------------------------------------------------------------------

// A folder that is there and writable, or that can be made: its nearest existing ancestor is writable.
static bool folderCanBeWritten(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::path existing = folder;
  while (!existing.empty() && !std::filesystem::exists(existing, ignored)) existing = existing.parent_path();
  if (existing.empty()) existing = ".";
  return std::filesystem::is_directory(existing, ignored) && folderIsWritable(existing.u8string());
}

bool captureTargetUsable(std::string* error) {
  const std::string& path = capture_settings.capture_path;
  std::error_code ignored;
  if (!captureIsVideo()) {
    if (!folderCanBeWritten(std::filesystem::absolute(std::filesystem::u8path(path), ignored))) {
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
  std::filesystem::path folder = std::filesystem::absolute(std::filesystem::u8path(path), ignored).parent_path();
  if (std::filesystem::is_directory(std::filesystem::u8path(path), ignored)) {
    *error = "cannot write the video " + path + ": it is a folder";
    return false;
  }
  // ffmpeg would open a FIFO or a device there and wait, or write into it.
  if (std::filesystem::exists(std::filesystem::u8path(path), ignored) &&
      !std::filesystem::is_regular_file(std::filesystem::u8path(path), ignored)) {
    *error = "cannot write the video " + path +
             ": something that is not a file (a FIFO or a device) has that "
             "name; remove it or choose another name";
    return false;
  }
  if (!std::filesystem::is_directory(folder, ignored) || !folderIsWritable(folder.u8string())) {
    *error = "cannot write the video " + path + ": its folder " + folder.u8string() + " is missing or not writable";
    return false;
  }
  return true;
}

// VP9 at libvpx's defaults (the "good" deadline at speed 0) took 18 times x264's CPU time for the same
// frames; its real-time deadline at speed 6, with rows in parallel, takes 1.4 times as much for the same
// PSNR, in a file a tenth larger than x264's (lossless: exact all the same, a third larger, 6 times as
// fast). docs/performance.md has the figures.
static const std::vector<std::string> kVp9Speed = {"-row-mt", "1", "-deadline", "realtime", "-cpu-used", "6"};

std::vector<std::string> captureEncoderOptions() {
  const CaptureSettings& s = capture_settings;
  bool webm = capturePathEndsWith(".webm");
  std::string preset = s.video_preset.empty() ? kDefaultPreset : s.video_preset;
  std::vector<std::string> options;
  if (webm) {
    options = {"-c:v", "libvpx-vp9"};
    if (s.video_lossless)
      options.insert(options.end(), {"-lossless", "1"});
    else
      options.insert(options.end(), {"-b:v", "0", "-crf", std::to_string(s.video_crf >= 0 ? s.video_crf : 15)});
    options.insert(options.end(), kVp9Speed.begin(), kVp9Speed.end());
    options.insert(options.end(), {"-pix_fmt", s.video_lossless ? "gbrp" : "yuv420p"});
    return options;
  }
  if (s.video_lossless) {
    // FFV1 codes slices in parallel only at level 3.
    if (capturePathEndsWith(".mkv")) return {"-c:v", "ffv1", "-level", "3", "-slices", "4", "-pix_fmt", "bgr0"};
    return {"-c:v", "libx264rgb", "-preset", preset, "-qp", "0", "-pix_fmt", "rgb24"};
  }
  std::string crf = std::to_string(s.video_crf >= 0 ? s.video_crf : 12);
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

// Parts of --jobs write theirs more often, for the combined line (NARVU_PROGRESS_SECONDS).
static std::chrono::milliseconds progressPeriod() {
  if (standardErrorIsTerminal()) return std::chrono::milliseconds(250);
  const char* every = std::getenv("NARVU_PROGRESS_SECONDS");
  int seconds = every ? std::atoi(every) : 0;
  return std::chrono::milliseconds(1000 * (seconds > 0 && seconds <= 3600 ? seconds : 10));
}

bool captureProgressDue() {
  static const std::chrono::milliseconds period = progressPeriod();
  auto now = Clock::now();
  if (now - run.last_progress < period) return false;
  run.last_progress = now;
  return true;
}

void captureShowProgress(const std::string& line) {
  bool terminal = standardErrorIsTerminal();
  std::fprintf(stderr, terminal ? "\r%-78s" : "%s\n", line.c_str());
  std::fflush(stderr);
  run.progress_line_open = terminal;
}

static void showProgress() {
  if (!captureProgressDue()) return;
  double fps = captureFramesPerSecond(capture_settings);
  char line[160];
  if (!captureWantsFrame()) {
    std::snprintf(line, sizeof line, "capture: seeking to %.1f s, now at %.1f s", captureFirstFrame() / fps,
                  run.counted_frames / fps);
  } else {
    // The speed of the frames so far; too few to tell at first.
    double seconds = secondsSince(run.writing_started);
    double rate = seconds >= 1 ? run.presented_frames / seconds : 0;
    long left = std::max(0L, expectedFrames() - run.presented_frames);
    if (rate > 0)
      std::snprintf(line, sizeof line, "capture: frame %ld of %ld, %.1f frames/s, %.0f s left", run.presented_frames,
                    expectedFrames(), rate, left / rate);
    else
      std::snprintf(line, sizeof line, "capture: frame %ld of %ld", run.presented_frames, expectedFrames());
  }
  captureShowProgress(line);
}

void captureEndProgressLine() {
  if (!run.progress_line_open) return;
  std::fputc('\n', stderr);
  run.progress_line_open = false;
}

void captureSkipFrame() {
  ++run.counted_frames;
  showProgress();
}

long capturePresentedFrame() {
  long index = run.counted_frames++;
  if (captureError() || index < captureFirstFrame() || (captureLastFrame() >= 0 && index > captureLastFrame()))
    return -1;
  if (run.presented_frames++ == 0) run.writing_started = Clock::now();
  showProgress();
  return index;
}

// A file's size, 0 when it is not there (a folder capture's music, when the run has none).
static uintmax_t fileBytes(const std::string& path) {
  std::error_code error;
  uintmax_t bytes = std::filesystem::file_size(std::filesystem::u8path(path), error);
  return error ? 0 : bytes;
}

void setCaptureOutput(const std::string& path, long first_frame) {
  run.output_path = path;
  run.output_first_frame = first_frame;
}

// The bytes the run wrote: the video, or its PNG frames and the music beside them (other frames in
// the folder belong to other parts).
static uintmax_t outputBytes() {
  if (captureIsVideo()) return fileBytes(run.output_path);
  uintmax_t total = 0;
  long frames = captureFramesWritten();
  for (long index = run.output_first_frame; index < run.output_first_frame + frames; ++index)
    total += fileBytes(captureFramePath(index));
  const std::string& music = platform_settings.sound_capture_path;
  return total + (music.empty() ? 0 : fileBytes(music));
}

std::string captureSummary() {
  long frames = captureFramesWritten();
  double show_seconds = frames / captureFramesPerSecond(capture_settings);
  double wall = secondsSince(run.started);
  const std::string& path = run.output_path.empty() ? capture_settings.capture_path : run.output_path;
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
// A stream encoded so into a file of the capture's own kind keeps all of that when it is copied into
// the video later (the music part of a capture in parts): the edit list, the codec delay, the offset.
static std::vector<std::string> musicInputAndCodec(const std::string& wav) {
  bool webm = capturePathEndsWith(".webm");
  std::vector<std::string> options;
  if (webm) options = {"-itsoffset", "0.0065"};
  options.insert(options.end(), {"-i", ffmpegFileArgument(wav), "-c:a"});
  if (webm)
    options.insert(options.end(), {"libopus", "-b:a", "192k"});
  else if (capturePathEndsWith(".mkv"))
    options.push_back("flac");
  else
    options.insert(options.end(), {"aac", "-b:a", "256k"});
  return options;
}

// Where a video is written until it is whole: beside it, so that the rename is within one folder, and
// with its own ending, which tells ffmpeg the container.
static std::string unfinishedPath(const std::string& path) {
  return path + ".unfinished" + path.substr(path.rfind('.'));
}

bool captureEncodeMusic(const std::string& wav, const std::string& out, std::string* error) {
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  for (const std::string& option : musicInputAndCodec(wav)) arguments.push_back(option);
  std::string unfinished = unfinishedPath(out);
  arguments.push_back(ffmpegFileArgument(unfinished));
  if (runFfmpeg(arguments, error) && std::rename(unfinished.c_str(), out.c_str()) == 0) return true;
  if (error->empty()) *error = "cannot name it " + out + ": " + std::strerror(errno);
  std::remove(unfinished.c_str());
  return false;
}

bool muxCaptureVideo(const std::vector<std::string>& video_input, const std::string& music,
                     const CaptureCheck& check, std::string* error) {
  std::error_code ignored;
  bool with_music = !music.empty() && std::filesystem::is_regular_file(std::filesystem::u8path(music), ignored);
  bool encoded = with_music && music != platform_settings.sound_capture_path;
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  arguments.insert(arguments.end(), video_input.begin(), video_input.end());
  if (encoded)
    arguments.insert(arguments.end(), {"-i", ffmpegFileArgument(music), "-map", "0:v", "-map", "1:a", "-c", "copy"});
  else if (with_music)
    for (const std::string& option : musicInputAndCodec(music)) arguments.push_back(option);
  if (with_music && !encoded) arguments.insert(arguments.end(), {"-map", "0:v", "-map", "1:a"});
  arguments.insert(arguments.end(), {"-c:v", "copy"});
  const std::string& path = capture_settings.capture_path;
  std::string unfinished = unfinishedPath(path);
  arguments.push_back(ffmpegFileArgument(unfinished));
  // Only a video that is whole takes the capture's name: what is there under it is a finished one.
  bool whole = runFfmpeg(arguments, error) && (!check || check(unfinished, error));
  if (whole && std::rename(unfinished.c_str(), path.c_str()) != 0) {
    *error = "cannot name it " + path + ": " + std::strerror(errno);
    whole = false;
  }
  std::remove(unfinished.c_str());
  return whole;
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
  if (run.finished) return captureError() == nullptr;
  run.finished = true;
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
    if (ok && any && !segmented() &&
        !muxCaptureVideo({"-i", ffmpegFileArgument(captureVideoStreamPath())}, platform_settings.sound_capture_path,
                         nullptr, &why))
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
