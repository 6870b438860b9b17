// A capture made in parts: `--join PATH` puts together the parts that `--segment K/N` runs made, on this
// machine or others, and adds the music of the whole interval; `--jobs N` runs the N parts side by side
// as child processes of this program and joins them.
//
// The music is rendered here, once, exactly as a capture in one run renders it: the song starts with the
// timeline, the file begins at the interval's first frame, and it ends with the interval's last frame,
// or, for an interval that runs to the show's end, with the tail, through which the show's music plays
// on. The clock is moved as that run's passes and tail move it, so its milliseconds round alike.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shell/shell.h"

static bool renderIntervalMusic(const CaptureFrames& frames, bool to_show_end) {
  const std::string& path = capture_settings.capture_path;
  platform_settings.virtual_clock = true;
  platform_settings.fps = capture_settings.fps;
  platform_settings.sound_capture_path = captureIsVideo() ? path + ".audio.wav" : path + "/audio.wav";
  platform_settings.sound_capture_first_frame = frames.first;
  platform_settings.sound_capture_end_frame = to_show_end ? -1 : frames.last + 1;
  if (!mountPack(nullptr)) {
    std::fprintf(stderr, "narvu: no pack found for the music (%s)\n", packPlacesText(packPlaces(nullptr)).c_str());
    return false;
  }
  if (startMusic() != 0) return false;
  FMUSIC_PlaySong(song);
  if (to_show_end) {
    startTimeline(GetTickCount());
    do {
      timelineFrame(GetTickCount());
      advanceVirtualClock();
    } while (!exit_requested);
    playTail();
  }
  return finishSoundCapture();
}

// Joins what the parts hold: the whole interval, or after an interrupted capture the frames from its
// start up to the first missing one. The music goes with exactly those frames. The exit code: 0, 1 with
// the reason, or 128 + the end signal that stopped ffmpeg or ffprobe (the parts are kept then).
static int joinParts(const CaptureFrames& frames, bool with_music) {
  bool whole = frames.last == captureInterval(capture_settings).last;
  bool to_show_end = whole && capture_settings.capture_to_seconds < 0;
  std::string error;
  bool checked = captureCheckParts(frames, &error);
  if (checked && with_music && frames.last >= frames.first && !renderIntervalMusic(frames, to_show_end)) return 1;
  if (checked && captureJoin(frames, &error)) return 0;
  if (int signal_number = captureStoppedBySignal()) {
    std::fprintf(stderr, "narvu: join interrupted: %s; every part is kept\n", error.c_str());
    return 128 + signal_number;
  }
  std::fprintf(stderr, "narvu: cannot join the parts: %s\n", error.c_str());
  return 1;
}

// The facts a join needs that a capture's start-up would set.
static void prepareJoin() {
  platform_settings.headless = true;
  capture_settings.capture_length_seconds = kShowLengthMs / 1000.0;
}

// Video parts are counted by ffprobe before they are joined; without it every part would look broken.
static bool partsCanBeChecked(std::string* error) {
  if (!captureIsVideo() || !findProgram("ffprobe").empty()) return true;
  *error = "checking the parts of " + capture_settings.capture_path +
           " needs the ffprobe program, which is not on the PATH; install ffmpeg, which brings it";
  return false;
}

static bool withMusic(const CommandLineOptions& options) {
  return std::strstr(options.command_line.c_str(), "nosound") == nullptr;
}

// --check N: one line a part on standard output.
static int listParts(int parts) {
  bool all_done = true;
  for (const CapturePartState& part : captureSplitStates(parts)) {
    std::printf("part %d/%d frames %ld-%ld: %s%s%s\n", part.part, parts, part.frames.first, part.frames.last,
                part.state.c_str(), part.detail.empty() ? "" : ": ", part.detail.c_str());
    all_done = all_done && part.state == "done";
  }
  std::fflush(stdout);
  if (int signal_number = captureStoppedBySignal()) return 128 + signal_number;
  // Not 2, which every program of the show keeps for a mistake in its arguments.
  return all_done ? 0 : kPartsNotDoneExitCode;
}

int runCaptureJoin(const CommandLineOptions& options) {
  prepareJoin();
  std::string error;
  if (!partsCanBeChecked(&error)) {
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
    return 1;
  }
  if (options.check_parts > 0) return listParts(options.check_parts);
  CaptureFrames covered;
  if (!captureTargetUsable(&error) || !captureJoinCoverage(&covered, &error)) {
    std::fprintf(stderr, "narvu: cannot join the parts of %s: %s\n", capture_settings.capture_path.c_str(),
                 error.c_str());
    return 1;
  }
  if (int exit_code = joinParts(covered, withMusic(options))) return exit_code;
  std::fprintf(stderr, "narvu: %s\n", captureSummary().c_str());
  return 0;
}

static std::string partName(int part, int parts) { return std::to_string(part) + "/" + std::to_string(parts); }

// This program's words for a part: the same as this run's, but for --jobs.
static std::vector<std::string> partWords(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--jobs") == 0)
      ++i;
    else
      words.push_back(argv[i]);
  }
  return words;
}

// Starts every part with its own --segment; false (with the reason) when one cannot be started.
static bool startParts(const std::vector<std::string>& words, std::vector<ChildProcess>* children,
                       std::string* error) {
  int parts = int(children->size());
  for (int part = 1; part <= parts; ++part) {
    std::vector<std::string> arguments = words;
    arguments.push_back("--segment");
    arguments.push_back(partName(part, parts));
    if (!startThisProgram(arguments, &(*children)[size_t(part - 1)], error)) return false;
  }
  return true;
}

// Reports each part that failed (a part ended by a signal did not fail) with its own words; true when
// none did.
static bool partsSucceeded(std::vector<ChildProcess>* children) {
  int parts = int(children->size());
  bool succeeded = true;
  for (int part = 1; part <= parts; ++part) {
    ChildProcess& child = (*children)[size_t(part - 1)];
    if (child.exit_code != 0 && child.exit_code != 130 && child.exit_code != 143) {
      if (!child.log_path.empty())
        std::fprintf(stderr, "narvu: part %s failed:\n%s\n", partName(part, parts).c_str(),
                     childWords(child, 2000).c_str());
      succeeded = false;
    }
    forgetChild(&child);
  }
  return succeeded;
}

int runCaptureJobs(int argc, char** argv, const CommandLineOptions& options) {
  prepareJoin();
  std::string error;
  if (!captureTargetUsable(&error) || !partsCanBeChecked(&error)) {
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
    return 1;
  }
  int parts = options.jobs;
  int processors = processorCount();
  if (parts > processors)
    std::fprintf(stderr,
                 "narvu: --jobs %d is more than the %d processors here: the parts will share them, each with its "
                 "own memory, and end no sooner than fewer would\n",
                 parts, processors);
  std::vector<ChildProcess> children(static_cast<size_t>(parts));
  bool started = startParts(partWords(argc, argv), &children, &error);
  if (!started)
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
  else
    std::fprintf(stderr, "narvu: capturing in %d parts side by side\n", parts);
  waitForChildren(&children);

  if (!partsSucceeded(&children) || !started) {
    std::fprintf(stderr,
                 "narvu: capture failed; the parts that were made are kept: make the missing ones with "
                 "--segment K/%d and put them together with --join\n",
                 parts);
    return 1;
  }
  int signal_number = endSignal();
  CaptureFrames covered;
  bool whole = captureJoinCoverage(&covered, &error);
  if (!whole && !signal_number) {
    std::fprintf(stderr, "narvu: capture failed: %s\n", error.c_str());
    return 1;
  }
  if (signal_number && covered.last < covered.first) {
    std::fprintf(stderr,
                 "narvu: capture interrupted by %s before the interval's first frame was written; nothing is "
                 "joined, and what the parts wrote is kept for --segment and --join\n",
                 endSignalName(signal_number));
    return 128 + signal_number;
  }
  if (signal_number)
    std::fprintf(stderr, "narvu: capture interrupted by %s; joining the frames from the start that are written\n",
                 endSignalName(signal_number));
  if (int exit_code = joinParts(covered, withMusic(options))) return exit_code;
  std::fprintf(stderr, "narvu: %s\n", captureSummary().c_str());
  return signal_number ? 128 + signal_number : 0;
}
