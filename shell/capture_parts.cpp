// A capture made in parts: `--join PATH` puts together the parts that `--segment K/N` runs made, on this
// machine or others, and adds the music of the whole interval; `--segment 0/N` makes that music beside
// the parts, so that the join only copies it; `--jobs N` runs the parts side by side as child processes
// of this program and joins them.
//
// The music is rendered once, exactly as a capture in one run renders it: the song starts with the
// timeline, the file begins at the interval's first frame, and it ends with the interval's last frame,
// or, for an interval that runs to the show's end, with the tail, through which the show's music plays
// on. The clock is moved as that run's passes and tail move it, so its milliseconds round alike.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "shell/shell.h"

// The pack, mounted once in this process: a file passed over on the way is named once, however many
// parts and joins follow. False having said why.
static bool packMounted() {
  static bool mounted = false;
  if (!mounted && !(mounted = mountPack(nullptr)))
    std::fprintf(stderr, "narvu: no pack found (%s)\n", packPlacesText(packPlaces(nullptr)).c_str());
  return mounted;
}

// The music of `frames` into the WAV file `path`.
static bool renderIntervalMusic(const CaptureFrames& frames, bool to_show_end, const std::string& path) {
  platform_settings.virtual_clock = true;
  platform_settings.fps = capture_settings.fps;
  platform_settings.sound_capture_path = path;
  platform_settings.sound_capture_first_frame = frames.first;
  platform_settings.sound_capture_end_frame = to_show_end ? -1 : frames.last + 1;
  if (!packMounted()) return false;
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

// Where the join renders the music itself: a video's is encoded from a WAV file of the run's own; a
// folder's takes the name audio.wav only once the join is through.
static std::string joinMusicPath() {
  return captureIsVideo() ? captureMusicPath() : captureMusicPath() + ".unfinished";
}

// The music for `frames`: the music part when `frames` is the whole interval and it is there and sound,
// else rendered here. Empty after a failure, which is said.
static std::string musicFor(const CaptureFrames& frames, bool whole) {
  std::string part = captureMusicPartPath(frames), why;
  if (whole && captureMusicPartUsable(part, &why)) return part;
  if (captureStoppedBySignal()) return "";
  if (whole && why != "it is not there")
    std::fprintf(stderr, "narvu: the music part %s cannot be used (%s); rendering the music here\n", part.c_str(),
                 why.c_str());
  bool to_show_end = whole && capture_settings.capture_to_seconds < 0;
  return renderIntervalMusic(frames, to_show_end, joinMusicPath()) ? joinMusicPath() : "";
}

// Joins what the parts hold: the whole interval, or after an interrupted capture the frames from its
// start up to the first missing one. The music goes with exactly those frames. The exit code: 0, 1 with
// the reason, or 128 + the end signal that stopped ffmpeg or ffprobe (the parts are kept then).
static int joinParts(const CaptureFrames& frames, bool with_music) {
  bool whole = frames.last == captureInterval(capture_settings).last;
  std::string error, music;
  bool checked = captureCheckParts(frames, &error);
  if (checked && with_music && frames.last >= frames.first) {
    music = musicFor(frames, whole);
    if (music.empty() && !captureStoppedBySignal()) return 1;
  }
  if (checked && !captureStoppedBySignal() && captureJoin(frames, music, &error)) return 0;
  if (int signal_number = captureStoppedBySignal()) {
    std::fprintf(stderr, "narvu: join interrupted by %s%s; every part is kept\n", endSignalName(signal_number),
                 error.empty() ? "" : (": " + error).c_str());
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

// --check N: one line a part on standard output, and one for the music part (which the join can do
// without: it then renders the music itself).
static int listParts(int parts, bool with_music) {
  bool all_done = true;
  if (with_music) {
    CaptureFrames interval = captureInterval(capture_settings);
    std::string why;
    bool usable = captureMusicPartUsable(captureMusicPartPath(interval), &why);
    std::printf("music frames %ld-%ld: %s%s%s\n", interval.first, interval.last, usable ? "done" : "missing",
                usable || why == "it is not there" ? "" : ": ", usable || why == "it is not there" ? "" : why.c_str());
  }
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
  if (options.check_parts > 0) return listParts(options.check_parts, withMusic(options));
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

// "a", "a and b", "a, b and c".
static std::string listInWords(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i)
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text;
}

// "frame 7", "frames 7-9", "frames 7-9 and 12".
static std::string framesList(const std::vector<CaptureFrames>& runs) {
  std::vector<std::string> items;
  for (const CaptureFrames& run : runs)
    items.push_back(std::to_string(run.first) + (run.first == run.last ? "" : "-" + std::to_string(run.last)));
  bool several = runs.size() > 1 || (!runs.empty() && runs[0].first != runs[0].last);
  return (several ? "frames " : "frame ") + listInWords(items);
}

// What a --jobs capture in `parts` that did not finish leaves to do after the frames it joined (none
// when `joined` is empty): the frames missing, the parts that make them, and what is kept on disk for a
// later --join. One sentence.
static std::string whatIsLeft(const CaptureFrames& joined, int parts) {
  CaptureFrames interval = captureInterval(capture_settings);
  CaptureFrames rest = {joined.last >= joined.first ? joined.last + 1 : interval.first, interval.last};
  std::vector<CaptureFrames> held = captureHeldFrames(rest), missing;
  long next = rest.first;
  for (const CaptureFrames& run : held) {
    if (run.first > next) missing.push_back({next, run.first - 1});
    next = run.last + 1;
  }
  if (next <= rest.last) missing.push_back({next, rest.last});
  std::vector<std::string> segments;
  CaptureSettings split = capture_settings;
  split.capture_segments = parts;
  for (int part = 1; part <= parts; ++part) {
    split.capture_segment = part;
    CaptureFrames frames = capturePart(split);
    for (const CaptureFrames& gap : missing)
      if (gap.first <= frames.last && gap.last >= frames.first) {
        segments.push_back(partName(part, parts));
        break;
      }
  }
  if (missing.empty()) return "every frame is there: put them together with --join " + capture_settings.capture_path;
  bool several = missing.size() > 1 || missing[0].first != missing[0].last;
  std::string text = framesList(missing) + (several ? " are missing; make them" : " is missing; make it") +
                     " with --segment " + listInWords(segments) +
                     " (the same options) and then --join " + capture_settings.capture_path +
                     ", or run the capture again";
  return text + (held.empty() ? "" : "; kept for that: " + framesList(held));
}

int runCaptureMusic(const CommandLineOptions& options) {
  prepareJoin();
  std::string error;
  if (!withMusic(options)) {
    std::fprintf(stderr, "narvu: the capture has no music (nosound): the music part has nothing to make\n");
    return 0;
  }
  if (!captureTargetUsable(&error)) {
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
    return 1;
  }
  CaptureFrames interval = captureInterval(capture_settings);
  std::string part = captureMusicPartPath(interval);
  // A WAV of its own: the join, or a capture of the same path, may render theirs meanwhile.
  std::string wav = part + ".unfinished.wav";
  bool rendered = renderIntervalMusic(interval, capture_settings.capture_to_seconds < 0, wav);
  bool made = rendered && (captureIsVideo() ? captureEncodeMusic(wav, part, &error)
                                            : (std::rename(wav.c_str(), part.c_str()) == 0 ||
                                               (error = "cannot name it " + part, false)));
  std::remove(wav.c_str());
  if (int signal_number = captureStoppedBySignal()) {
    std::fprintf(stderr, "narvu: the music part was interrupted: %s\n", error.c_str());
    return 128 + signal_number;
  }
  if (!made) {
    if (rendered) std::fprintf(stderr, "narvu: cannot make the music part %s: %s\n", part.c_str(), error.c_str());
    return 1;
  }
  std::fprintf(stderr, "narvu: the music of frames %ld-%ld in %s\n", interval.first, interval.last, part.c_str());
  return 0;
}

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

// The parts side by side: child K is part K of N; child 0 the music part, when there is music.
struct JobsRun {
  int parts = 0;
  bool with_music = false;
  std::vector<ChildProcess> children;
};

// Starts every part with its own --segment; false (with the reason) when one cannot be started.
static bool startParts(const std::vector<std::string>& words, JobsRun* run, std::string* error) {
  run->children.resize(size_t(run->parts + 1));
  for (int part = run->with_music ? 0 : 1; part <= run->parts; ++part) {
    std::vector<std::string> arguments = words;
    arguments.push_back("--segment");
    arguments.push_back(partName(part, run->parts));
    ChildProcess& child = run->children[size_t(part)];
    // The parts' progress lines come often enough for the combined one (see showJobsProgress).
    child.environment = {"NARVU_PROGRESS_SECONDS=1"};
    if (!startThisProgram(arguments, &child, error)) return false;
  }
  return true;
}

// A part's last words without its progress lines.
static std::string partWordsOf(const ChildProcess& child) {
  std::string words, line;
  std::istringstream lines(childWords(child, 4000));
  while (std::getline(lines, line))
    if (line.rfind("capture: ", 0) != 0) words += (words.empty() ? "" : "\n") + line;
  return words.size() > 2000 ? "..." + words.substr(words.size() - 2000) : words;
}

// Reports each part that failed (a part ended by a signal did not fail) with its own words; true when
// none did. The music part's failure is no part's: the join renders the music itself then.
static bool partsSucceeded(JobsRun* run) {
  bool succeeded = true;
  for (int part = 0; part <= run->parts; ++part) {
    ChildProcess& child = run->children[size_t(part)];
    bool failed = child.exit_code != 0 && child.exit_code != 130 && child.exit_code != 143;
    if (failed && child.log.handle >= 0 && part == 0)
      std::fprintf(stderr, "narvu: the music part failed; the join renders the music instead:\n%s\n",
                   partWordsOf(child).c_str());
    else if (failed && child.log.handle >= 0)
      std::fprintf(stderr, "narvu: part %s failed:\n%s\n", partName(part, run->parts).c_str(),
                   partWordsOf(child).c_str());
    succeeded = succeeded && (!failed || part == 0);
    forgetChild(&child);
  }
  return succeeded;
}

// One progress line for all the parts, from the last progress line each wrote into its log ("capture:
// frame N of M, ..."; a part still seeking has written none of its frames).
static void showJobsProgress(const JobsRun& run, bool final_line) {
  static const auto started = std::chrono::steady_clock::now();
  if (!captureProgressDue() && !final_line) return;
  long done = 0, total = 0;
  for (int part = 1; part <= run.parts; ++part) {
    std::string tail = childWords(run.children[size_t(part)], 400);
    size_t line = tail.rfind("capture: frame ");
    long frame = 0, frames = 0;
    if (line != std::string::npos) std::sscanf(tail.c_str() + line, "capture: frame %ld of %ld", &frame, &frames);
    CaptureSettings split = capture_settings;
    split.capture_segments = run.parts;
    split.capture_segment = part;
    CaptureFrames own = capturePart(split);
    total += own.last - own.first + 1;
    done += run.children[size_t(part)].exit_code == 0 ? own.last - own.first + 1 : frame;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  double rate = seconds >= 1 ? done / seconds : 0;
  char text[160];
  std::snprintf(text, sizeof text, "capture: %d parts, frame %ld of %ld (%.0f %%)", run.parts, done, total,
                total > 0 ? 100.0 * done / total : 0.0);
  std::string line = text;
  if (rate > 0 && done > 0 && done < total) {
    std::snprintf(text, sizeof text, ", %.1f frames/s, %.0f s left", rate, (total - done) / rate);
    line += text;
  }
  captureShowProgress(line);
}

int runCaptureJobs(int argc, char** argv, const CommandLineOptions& options) {
  prepareJoin();
  std::string error;
  if (!captureTargetUsable(&error) || !partsCanBeChecked(&error)) {
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
    return 1;
  }
  // The parts' words go to their logs: a pack passed over is said here, once, and no pack at all stops
  // the capture before N parts each find none.
  if (!packMounted()) return 1;
  JobsRun run;
  run.parts = options.jobs;
  run.with_music = withMusic(options);
  int processors = processorCount();
  if (run.parts > processors)
    std::fprintf(stderr,
                 "narvu: --jobs %d is more than the %d processors here: the parts will share them, each with its "
                 "own memory, and end no sooner than fewer would\n",
                 run.parts, processors);
  bool started = startParts(partWords(argc, argv), &run, &error);
  if (!started)
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
  else
    std::fprintf(stderr, "narvu: capturing in %d parts side by side\n", run.parts);
  waitForChildren(&run.children, [&run] { showJobsProgress(run, false); });
  if (started) showJobsProgress(run, true);
  captureEndProgressLine();

  int signal_number = endSignal();
  CaptureFrames none = {0, -1};
  if (!partsSucceeded(&run) || !started) {
    std::fprintf(stderr, "narvu: capture failed; %s\n", whatIsLeft(none, run.parts).c_str());
    return 1;
  }
  CaptureFrames covered;
  bool whole = captureJoinCoverage(&covered, &error);
  if (!whole && !signal_number) {
    std::fprintf(stderr, "narvu: capture failed: %s\n", error.c_str());
    return 1;
  }
  if (signal_number && covered.last < covered.first) {
    std::fprintf(stderr,
                 "narvu: capture interrupted by %s before the interval's first frame was written; nothing is "
                 "joined: %s\n",
                 endSignalName(signal_number), whatIsLeft(none, run.parts).c_str());
    return 128 + signal_number;
  }
  if (signal_number)
    std::fprintf(stderr, "narvu: capture interrupted by %s; joining the frames from the start that are written\n",
                 endSignalName(signal_number));
  if (int exit_code = joinParts(covered, withMusic(options))) return exit_code;
  std::fprintf(stderr, "narvu: %s\n", captureSummary().c_str());
  if (!whole) std::fprintf(stderr, "narvu: %s\n", whatIsLeft(covered, run.parts).c_str());
  return signal_number ? 128 + signal_number : 0;
}
