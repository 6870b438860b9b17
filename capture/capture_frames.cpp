// A capture's frames and names, apart from everything that makes them: the interval and its parts, and
// where each file goes. The option checks and the tools use these without the rest of capture (nor the
// GL context it hooks into).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/capture_local.h"

CaptureSettings capture_settings;

double captureFramesPerSecond(const CaptureSettings& settings) { return virtualClockRate(settings.fps); }

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

// Parts running side by side in one folder each encode into a file of their own.
std::string captureVideoStreamPath() {
  const CaptureSettings& s = capture_settings;
  if (s.capture_segments <= 0) return s.capture_path + ".video.mkv";
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

std::string captureMusicPath() {
  const std::string& path = capture_settings.capture_path;
  return captureIsVideo() ? path + ".audio.wav" : path + "/audio.wav";
}

std::string captureMusicPartPath(const CaptureFrames& frames) {
  char name[48];
  std::snprintf(name, sizeof name, "music-%06ld-%06ld", frames.first, frames.last);
  const std::string& path = capture_settings.capture_path;
  if (!captureIsVideo()) return path + "/" + name + ".wav";
  return path + "." + name + path.substr(path.rfind('.'));
}

