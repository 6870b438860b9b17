// Joining the parts of a capture (see capture/capture.h): finding them, checking that they hold the
// interval's frames exactly once, and making the one video of them.
//
// A video's parts are put together by ffmpeg's concat demuxer with the video copied, not encoded again:
// each part was encoded on its own from its first frame, so it starts with a key frame that refers to
// nothing before it (a closed group of pictures), and the joined stream decodes to exactly the parts'
// frames, in order. Each part's duration is given as its frames over the frame rate, so the parts'
// timestamps follow on without a gap or an overlap.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "capture/capture_local.h"

struct PartFile {
  long first, last;
  std::string path;
};

// The video parts of capture_path in its folder, in the order of their first frames.
static std::vector<PartFile> videoParts() {
  std::error_code ignored;
  std::filesystem::path capture = std::filesystem::absolute(capture_settings.capture_path, ignored);
  std::string prefix = capture.filename().string() + ".frames-";
  std::vector<PartFile> parts;
  for (const auto& entry : std::filesystem::directory_iterator(capture.parent_path(), ignored)) {
    std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    PartFile part = {0, 0, entry.path().string()};
    int used = 0;
    if (std::sscanf(name.c_str() + prefix.size(), "%ld-%ld.mkv%n", &part.first, &part.last, &used) == 2 &&
        name.size() == prefix.size() + size_t(used) && part.first <= part.last)
      parts.push_back(part);
  }
  std::sort(parts.begin(), parts.end(), [](const PartFile& a, const PartFile& b) { return a.first < b.first; });
  return parts;
}

static std::string framesText(long first, long last) {
  return first == last ? "frame " + std::to_string(first)
                       : "frames " + std::to_string(first) + " to " + std::to_string(last);
}

bool captureJoinCoverage(CaptureFrames* covered, std::string* error) {
  CaptureFrames interval = captureInterval(capture_settings);
  long next = interval.first;  // the first frame that no part holds yet
  long prefix_end = -1;        // the frame after the frames held from the interval's first, once a gap shows
  std::string missing;
  auto gap = [&](long first, long last) {
    if (prefix_end < 0) prefix_end = first;
    missing += (missing.empty() ? "" : ", ") + framesText(first, last);
  };
  std::error_code ignored;
  if (!captureIsVideo()) {
    for (long index = interval.first; index <= interval.last; ++index) {
      if (std::filesystem::is_regular_file(captureFramePath(index), ignored)) continue;
      long end = index;
      while (end + 1 <= interval.last && !std::filesystem::is_regular_file(captureFramePath(end + 1), ignored)) ++end;
      gap(index, end);
      index = end;
    }
    next = interval.last + 1;
  } else {
    for (const PartFile& part : videoParts()) {
      if (part.first < next) {
        *error = "two parts hold " + framesText(part.first, std::min(part.last, next - 1)) + " (" + part.path + ")";
        return false;
      }
      if (part.first > next) gap(next, std::min(part.first, interval.last + 1) - 1);
      next = part.last + 1;
    }
  }
  if (next - 1 > interval.last) {
    *error = "the parts hold frames after the interval's last, " + std::to_string(interval.last) +
             ": were they made with other --fps, --from or --to?";
    return false;
  }
  if (next <= interval.last) gap(next, interval.last);
  *covered = {interval.first, (prefix_end < 0 ? interval.last + 1 : prefix_end) - 1};
  if (missing.empty()) return true;
  *error = "the parts lack " + missing + " of " + framesText(interval.first, interval.last);
  if (captureIsVideo()) *error += " (parts are named " + capture_settings.capture_path + ".frames-FIRST-LAST.mkv)";
  return false;
}

static std::string quotedForConcat(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

static bool joinVideo(const CaptureFrames& frames, std::string* error) {
  std::string list_path = capture_settings.capture_path + ".parts.ffconcat";
  std::ofstream list(list_path);
  list << "ffconcat version 1.0\n";
  double fps = capture_settings.fps > 0 ? capture_settings.fps : 60;
  for (const PartFile& part : videoParts()) {
    if (part.first < frames.first || part.last > frames.last) continue;
    char duration[64];
    std::snprintf(duration, sizeof duration, "%.6f", (part.last - part.first + 1) / fps);
    list << "file " << quotedForConcat(ffmpegFileArgument(part.path)) << "\nduration " << duration << "\n";
  }
  list.close();
  bool joined = list.good() || (*error = "cannot write " + list_path, false);
  joined = joined && muxCaptureVideo({"-f", "concat", "-safe", "0", "-i", ffmpegFileArgument(list_path)}, error);
  std::remove(list_path.c_str());
  return joined;
}

bool captureJoin(const CaptureFrames& frames, std::string* error) {
  countJoinedFrames(std::max(0L, frames.last - frames.first + 1));
  setCaptureOutput(capture_settings.capture_path, frames.first);
  CaptureFrames interval = captureInterval(capture_settings);
  if (!captureIsVideo()) {
    // Frames after a gap belong to no capture that the music describes.
    for (long index = frames.last + 1; index <= interval.last; ++index) std::remove(captureFramePath(index).c_str());
    return true;
  }
  bool joined = frames.last >= frames.first && joinVideo(frames, error);
  if (frames.last < frames.first) *error = "no part holds the interval's first frame";
  if (joined)
    for (const PartFile& part : videoParts()) std::remove(part.path.c_str());
  if (!platform_settings.sound_capture_path.empty()) std::remove(platform_settings.sound_capture_path.c_str());
  return joined;
}
