// Joining the parts of a capture (see capture/capture.h): finding them, checking that they hold the
// interval's frames exactly once and are what their names say, and making the one video of them.
//
// A video's parts are put together by ffmpeg's concat demuxer with the video copied, not encoded again:
// each part was encoded on its own from its first frame, so it starts with a key frame that refers to
// nothing before it (a closed group of pictures), and the joined stream decodes to exactly the parts'
// frames, in order. Each part's duration is given as its frames over the frame rate, so the parts'
// timestamps follow on without a gap or an overlap.
//
// A name says nothing about what a file holds: a folder, a FIFO, a copy cut short, a part made at
// another size or rate can all carry one. So before the join every part is counted (ffprobe counts its
// packets, one a frame) and measured, and after it the joined video is counted too; only then are the
// parts removed. Whatever fails, every part stays.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "capture/capture_local.h"

// Part names carry at most nine digits a frame: more than any capture has (107,501 frames at 1000 frames
// a second), and little enough that no arithmetic on them can overflow.
static const int kMostFrameDigits = 9;

struct PartFile {
  CaptureFrames frames;
  std::string path;
};

// A frame number of 1 to kMostFrameDigits decimal digits at text[*at], which moves past it.
static bool frameNumber(const std::string& text, size_t* at, long* value) {
  size_t start = *at;
  long number = 0;
  while (*at < text.size() && std::isdigit(static_cast<unsigned char>(text[*at]))) {
    if (*at - start == size_t(kMostFrameDigits)) return false;
    number = number * 10 + (text[(*at)++] - '0');
  }
  if (*at == start) return false;
  *value = number;
  return true;
}

bool captureParsePartName(const std::string& file_name, const std::string& capture_name, CaptureFrames* frames) {
  std::string prefix = capture_name + ".frames-";
  if (file_name.size() <= prefix.size() || file_name.compare(0, prefix.size(), prefix) != 0) return false;
  size_t at = prefix.size();
  long first = 0, last = 0;
  if (!frameNumber(file_name, &at, &first) || at >= file_name.size() || file_name[at++] != '-' ||
      !frameNumber(file_name, &at, &last) || file_name.compare(at, std::string::npos, ".mkv") != 0 || first > last)
    return false;
  *frames = {first, last};
  return true;
}

// Everything in capture_path's folder named like one of its video parts, in the order of first frames.
static std::vector<PartFile> videoParts() {
  std::error_code ignored;
  std::filesystem::path capture =
      std::filesystem::absolute(std::filesystem::u8path(capture_settings.capture_path), ignored);
  std::string capture_name = capture.filename().u8string();
  std::vector<PartFile> parts;
  for (const auto& entry : std::filesystem::directory_iterator(capture.parent_path(), ignored)) {
    PartFile part;
    if (captureParsePartName(entry.path().filename().u8string(), capture_name, &part.frames)) {
      part.path = entry.path().u8string();
      parts.push_back(part);
    }
  }
  std::sort(parts.begin(), parts.end(),
            [](const PartFile& a, const PartFile& b) { return a.frames.first < b.frames.first; });
  return parts;
}

static std::string framesText(long first, long last) {
  return first == last ? "frame " + std::to_string(first)
                       : "frames " + std::to_string(first) + " to " + std::to_string(last);
}

// "" for a regular file (a link to one included), else what it is instead, for a message.
static std::string notAFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::file_status facts = fs::status(fs::u8path(path), ignored);
  if (!fs::exists(facts))
    return fs::is_symlink(fs::symlink_status(fs::u8path(path), ignored)) ? "a link to nothing" : "gone";
  switch (facts.type()) {
    case fs::file_type::regular: return "";
    case fs::file_type::directory: return "a folder";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::character:
    case fs::file_type::block: return "a device";
    default: return "no file";
  }
}

// Two parts that hold the same frames: what to delete.
static std::string overlapText(const PartFile& earlier, const PartFile& later) {
  const PartFile* inner = nullptr;
  const PartFile* outer = nullptr;
  if (later.frames.last <= earlier.frames.last) inner = &later, outer = &earlier;
  if (later.frames.first == earlier.frames.first && later.frames.last >= earlier.frames.last)
    inner = &earlier, outer = &later;
  long last = std::min(earlier.frames.last, later.frames.last);
  std::string text = "two parts hold " + framesText(later.frames.first, last) + ": ";
  if (inner)
    return text + inner->path + " lies inside " + outer->path +
           ", so it is what is left of a part that was cut short; delete " + inner->path;
  return text + earlier.path + " and " + later.path +
         " overlap, as parts made with different --segment counts or intervals do; delete " + later.path +
         " and make again with --segment what --join then says is missing";
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
      if (std::filesystem::is_regular_file(std::filesystem::u8path(captureFramePath(index)), ignored)) continue;
      long end = index;
      while (end + 1 <= interval.last &&
             !std::filesystem::is_regular_file(std::filesystem::u8path(captureFramePath(end + 1)), ignored))
        ++end;
      gap(index, end);
      index = end;
    }
    next = interval.last + 1;
  } else {
    const PartFile* previous = nullptr;
    for (const PartFile& part : videoParts()) {
      if (part.frames.first < interval.first) {
        *error = part.path + " holds " + framesText(part.frames.first, part.frames.last) +
                 ", before the interval's first, " + std::to_string(interval.first) +
                 ": were the parts made with another --fps or --from?";
        return false;
      }
      if (part.frames.first < next) {
        *error = overlapText(*previous, part);
        return false;
      }
      if (part.frames.first > next) gap(next, std::min(part.frames.first, interval.last + 1) - 1);
      next = part.frames.last + 1;
      previous = &part;
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

// ---- What a part holds ---------------------------------------------------------------------------------

struct VideoFacts {
  long frames = -1;
  int width = 0, height = 0;
  double rate = 0;  // frames a second
};

static double rationalValue(const std::string& text) {
  long numerator = 0, denominator = 0;
  if (std::sscanf(text.c_str(), "%9ld/%9ld", &numerator, &denominator) != 2 || denominator <= 0) return 0;
  return double(numerator) / double(denominator);
}

// The video stream of `path` as ffprobe reads it, every packet counted. False with why.
static bool probeVideo(const std::string& path, VideoFacts* facts, std::string* why) {
  ProgramRun run = runProgram("ffprobe", {"-v", "error", "-select_streams", "v", "-count_packets", "-show_entries",
                                          "stream=width,height,r_frame_rate,nb_read_packets", "-of",
                                          "default=noprint_wrappers=1", ffmpegFileArgument(path)});
  if (run.ended_by_signal) {
    noteCaptureStopped(run.ended_by_signal);
    *why = std::string("ffprobe was stopped by ") + endSignalName(run.ended_by_signal);
    return false;
  }
  if (run.exit_code != 0) {
    *why = run.exit_code < 0 ? run.errors : "it is no video ffprobe can read (" + run.errors + ")";
    return false;
  }
  int streams = 0;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "width") ++streams, facts->width = std::atoi(value.c_str());
    if (key == "height") facts->height = std::atoi(value.c_str());
    if (key == "r_frame_rate") facts->rate = rationalValue(value);
    if (key == "nb_read_packets") facts->frames = std::atol(value.c_str());
  }
  if (streams == 1 && facts->frames >= 0) return true;
  *why = streams == 0 ? "it holds no video stream" : "it holds " + std::to_string(streams) + " video streams, not one";
  return false;
}

// "" when `path` is a video of exactly `frames` at the capture's rate (its size into *facts); else
// what it is instead.
static std::string videoTrouble(const std::string& path, const CaptureFrames& frames, VideoFacts* facts) {
  std::string kind = notAFile(path);
  if (!kind.empty()) return "it is " + kind + ", not a file";
  std::string why;
  if (!probeVideo(path, facts, &why)) return why;
  long expected = frames.last - frames.first + 1;
  if (facts->frames != expected)
    return "it holds " + std::to_string(facts->frames) + " frames where its name says " + std::to_string(expected) +
           " (" + framesText(frames.first, frames.last) + "): it was cut short or damaged";
  double fps = captureFramesPerSecond(capture_settings);
  if (std::fabs(facts->rate - fps) > 1e-3 * fps) {
    char text[160];
    std::snprintf(text, sizeof text, "it was made at %g frames a second, not at --fps %g", facts->rate, fps);
    return text;
  }
  return "";
}

static std::string sizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// The first 24 bytes of a PNG file: its signature, and the header chunk with the picture's size.
static std::string pngTrouble(const std::string& path, int* width, int* height) {
  std::string kind = notAFile(path);
  if (!kind.empty()) return "it is " + kind + ", not a file";
  unsigned char head[24] = {};
  std::ifstream file(path, std::ios::binary);
  file.read(reinterpret_cast<char*>(head), sizeof head);
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (file.gcount() < std::streamsize(sizeof head) || std::memcmp(head, kSignature, 8) != 0 ||
      std::memcmp(head + 12, "IHDR", 4) != 0)
    return file.gcount() == 0 ? "it is empty" : "it is no PNG picture";
  auto word = [&head](int at) {
    return int(head[at]) << 24 | int(head[at + 1]) << 16 | int(head[at + 2]) << 8 | head[at + 3];
  };
  *width = word(16);
  *height = word(20);
  return "";
}

// Every part holding `frames` must hold what its name says, and every picture must have one size.
bool captureCheckParts(const CaptureFrames& frames, std::string* error) {
  int width = 0, height = 0;
  std::string sized;  // the file that set the size
  auto sameSize = [&](const std::string& path, int w, int h) {
    if (sized.empty()) sized = path, width = w, height = h;
    if (w == width && h == height) return true;
    *error = path + ": it holds " + sizeText(w, h) + " pictures, " + sized + " " + sizeText(width, height) +
             ": every part must be made with the same --size; make the odd one again; every part is kept";
    return false;
  };
  if (!captureIsVideo()) {
    for (long index = frames.first; index <= frames.last; ++index) {
      std::string path = captureFramePath(index);
      int w = 0, h = 0;
      std::string trouble = pngTrouble(path, &w, &h);
      if (!trouble.empty()) {
        *error = path + ": " + trouble + "; make its frame again with --segment (or --from and --to)";
        return false;
      }
      if (!sameSize(path, w, h)) return false;
    }
    return true;
  }
  for (const PartFile& part : videoParts()) {
    if (part.frames.first < frames.first || part.frames.last > frames.last) continue;
    VideoFacts facts;
    std::string trouble = videoTrouble(part.path, part.frames, &facts);
    // A check cut short by a signal says nothing about the part.
    if (int signal_number = captureStoppedBySignal()) {
      *error = std::string("the parts' check was interrupted by ") + endSignalName(signal_number) + " at " + part.path;
      return false;
    }
    if (!trouble.empty()) {
      *error = part.path + ": " + trouble + "; delete it and make it again with --segment; every part is kept";
      return false;
    }
    if (!sameSize(part.path, facts.width, facts.height)) return false;
  }
  return true;
}

// ---- The join ------------------------------------------------------------------------------------------

static std::string quotedForConcat(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The parts holding `frames` copied into the one video with `music`; the video made is counted before
// it takes the capture's name.
static bool joinVideo(const std::vector<PartFile>& parts, const CaptureFrames& frames, const std::string& music,
                      std::string* error) {
  std::string list_path = capture_settings.capture_path + ".parts.ffconcat";
  std::ofstream list(list_path);
  list << "ffconcat version 1.0\n";
  double fps = captureFramesPerSecond(capture_settings);
  for (const PartFile& part : parts) {
    char duration[64];
    std::snprintf(duration, sizeof duration, "%.6f", (part.frames.last - part.frames.first + 1) / fps);
    list << "file " << quotedForConcat(ffmpegFileArgument(part.path)) << "\nduration " << duration << "\n";
  }
  list.close();
  auto whole = [&frames](const std::string& path, std::string* why) {
    VideoFacts facts;
    std::string trouble = videoTrouble(path, frames, &facts);
    if (trouble.empty()) return true;
    *why = "the joined video is not whole (" + trouble + "), so it was removed; every part is kept";
    return false;
  };
  bool joined = list.good() || (*error = "cannot write " + list_path, false);
  joined = joined &&
           muxCaptureVideo({"-f", "concat", "-safe", "0", "-i", ffmpegFileArgument(list_path)}, music, whole, error);
  std::remove(list_path.c_str());
  return joined;
}

bool captureJoin(const CaptureFrames& frames, const std::string& music, std::string* error) {
  countJoinedFrames(std::max(0L, frames.last - frames.first + 1));
  setCaptureOutput(capture_settings.capture_path, frames.first);
  // A folder capture's frames are its parts already, and those after a gap stay for a later join; its
  // music takes its name last, which says that the capture is joined.
  if (!captureIsVideo()) {
    if (music.empty() || music == captureMusicPath() || std::rename(music.c_str(), captureMusicPath().c_str()) == 0)
      return true;
    *error = "cannot name the music " + captureMusicPath() + ": " + std::strerror(errno);
    return false;
  }
  std::vector<PartFile> joined;
  for (const PartFile& part : videoParts())
    if (part.frames.first >= frames.first && part.frames.last <= frames.last) joined.push_back(part);
  bool done = frames.last >= frames.first && joinVideo(joined, frames, music, error);
  if (frames.last < frames.first) *error = "no part holds the interval's first frame";
  // Parts after a gap are what an interrupted capture made beyond the frames joined: they stay.
  if (done)
    for (const PartFile& part : joined) std::remove(part.path.c_str());
  if (!music.empty() && (done || music == platform_settings.sound_capture_path)) std::remove(music.c_str());
  return done;
}

bool captureMusicPartUsable(const std::string& path, std::string* why) {
  std::string kind = notAFile(path);
  if (!kind.empty()) {
    *why = kind == "gone" ? "it is not there" : "it is " + kind + ", not a file";
    return false;
  }
  if (!captureIsVideo()) {
    char head[12] = {};
    std::ifstream file(path, std::ios::binary);
    file.read(head, sizeof head);
    if (file.gcount() == sizeof head && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0)
      return true;
    *why = "it is no WAV file";
    return false;
  }
  ProgramRun run = runProgram("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,codec_type", "-of",
                                          "csv=p=0", ffmpegFileArgument(path)});
  if (run.ended_by_signal) noteCaptureStopped(run.ended_by_signal);
  const char* codec = capturePathEndsWith(".webm") ? "opus" : capturePathEndsWith(".mkv") ? "flac" : "aac";
  std::string expected = std::string(codec) + ",audio";
  while (!run.output.empty() && (run.output.back() == '\n' || run.output.back() == '\r')) run.output.pop_back();
  if (run.exit_code == 0 && run.output == expected) return true;
  *why = run.exit_code != 0 ? "it is nothing ffprobe can read" : "it holds " + run.output + ", not " + codec + " alone";
  return false;
}

std::vector<CaptureFrames> captureHeldFrames(const CaptureFrames& within) {
  std::vector<CaptureFrames> held;
  auto add = [&held](long first, long last) {
    if (!held.empty() && held.back().last + 1 >= first)
      held.back().last = std::max(held.back().last, last);
    else
      held.push_back({first, last});
  };
  if (captureIsVideo()) {
    for (const PartFile& part : videoParts())
      if (part.frames.last >= within.first && part.frames.first <= within.last && notAFile(part.path).empty())
        add(std::max(part.frames.first, within.first), std::min(part.frames.last, within.last));
    return held;
  }
  std::error_code ignored;
  for (long index = within.first; index <= within.last; ++index)
    if (std::filesystem::is_regular_file(captureFramePath(index), ignored)) add(index, index);
  return held;
}

void removePartsWithin(const CaptureFrames& frames, const std::string& kept) {
  std::string kept_name = std::filesystem::u8path(kept).filename().u8string();
  for (const PartFile& part : videoParts())
    if (part.frames.first >= frames.first && part.frames.last <= frames.last &&
        std::filesystem::u8path(part.path).filename().u8string() != kept_name && notAFile(part.path).empty())
      std::remove(part.path.c_str());
}

// ---- Which parts of a split are there ---------------------------------------------------------------------

static CapturePartState videoPartState(const CaptureFrames& frames) {
  CapturePartState state;
  state.frames = frames;
  state.state = "missing";
  std::string own = std::filesystem::u8path(capturePartPath(frames.first, frames.last)).filename().u8string();
  for (const PartFile& part : videoParts()) {
    if (part.frames.first < frames.first || part.frames.last > frames.last) continue;
    if (std::filesystem::u8path(part.path).filename().u8string() != own) {
      if (state.detail.empty())
        state.detail = "a part cut short holds " + framesText(part.frames.first, part.frames.last);
      continue;
    }
    VideoFacts facts;
    std::string trouble = videoTrouble(part.path, frames, &facts);
    state.state = trouble.empty() ? "done" : "broken";
    state.detail = trouble.empty() ? "" : part.path + ": " + trouble;
    return state;
  }
  return state;
}

static CapturePartState pngPartState(const CaptureFrames& frames) {
  CapturePartState state;
  state.frames = frames;
  long present = 0;
  for (long index = frames.first; index <= frames.last; ++index) {
    std::string path = captureFramePath(index);
    if (notAFile(path) == "gone") continue;
    ++present;
    int width = 0, height = 0;
    std::string trouble = pngTrouble(path, &width, &height);
    if (!trouble.empty() && state.detail.empty()) state.detail = path + ": " + trouble;
  }
  long count = frames.last - frames.first + 1;
  state.state = !state.detail.empty() ? "broken" : present == count ? "done" : "missing";
  if (state.detail.empty() && present > 0 && present < count)
    state.detail = std::to_string(present) + " of its " + std::to_string(count) + " frames are there";
  return state;
}

std::vector<CapturePartState> captureSplitStates(int parts) {
  std::vector<CapturePartState> states;
  CaptureSettings split = capture_settings;
  split.capture_segments = parts;
  for (int part = 1; part <= parts; ++part) {
    split.capture_segment = part;
    CaptureFrames frames = capturePart(split);
    states.push_back(captureIsVideo() ? videoPartState(frames) : pngPartState(frames));
    states.back().part = part;
    if (captureStoppedBySignal()) break;
  }
  return states;
}
