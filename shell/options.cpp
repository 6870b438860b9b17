// The command line: one table of options, each with the function that checks and applies
// its value, and the number parsing that all of them share. Nothing here prints or exits; main() does.
//
// The show itself only ever looked for "nosound" and "choosedrv" anywhere in its argument string and
// ignored everything else, so every word but the options' values also goes into the command line that
// WinMain receives.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/shell.h"

const char kCommandLineUsage[] =
    "usage: narvu [nosound] [choosedrv] [options]\n"
    "Plays the show: about 108 seconds of real-time 3D with music, then exits.\n"
    "  nosound              play without sound\n"
    "  choosedrv            approve the drawing device in yes/no questions\n"
    "  --windowed           a resizable 640 x 480 window instead of the full screen\n"
    "                       (Alt+Enter switches between the two while the show plays)\n"
    "  --display N          the display to play on (default 0, the primary one)\n"
    "  --vsync on|off       wait for the display's refresh (default on)\n"
    "  --capture DIR        render off-screen with a virtual clock, writing every frame to\n"
    "                       DIR/frame_NNNNNN.png and the music to DIR/audio.wav; no display needed\n"
    "                       (a name with an extension other than the videos' is refused)\n"
    "  --capture FILE.mp4   the same into a video file (.mp4, .mkv or .webm; needs ffmpeg)\n"
    "  --fps N              frames per second of a capture, 1 to 1000 (default 60)\n"
    "  --from S, --to S     capture only the frames from S to S seconds of the timeline, both\n"
    "                       included (0 to 107.5; the interval must hold a frame at --fps);\n"
    "                       without --capture, play live from S and end at S\n"
    "  --crf N              video quality, 0 to 51 (lower is better; default 12, near lossless)\n"
    "  --preset P           x264's preset for H.264 (ultrafast ... placebo; default veryfast)\n"
    "  --lossless           lossless video: H.264 in RGB (.mp4), FFV1 (.mkv), VP9 (.webm)\n"
    "  --segment K/N        capture only the K-th of N equal parts of the frames, N up to 10000\n"
    "                       (the parts of a video as PATH.frames-FIRST-LAST.mkv), without music;\n"
    "                       0/N makes the music beside them, which --join then only copies\n"
    "  --join PATH          put the parts of the capture PATH together and add its music; give\n"
    "                       the --fps, --from and --to the parts were made with\n"
    "  --check N            with --join: join nothing, list which of N parts are done, missing\n"
    "                       or broken (exit 0 when all are done, 3 when one is not)\n"
    "  --jobs N             capture in N parts at once, 1 to 64, then join them (default 1)\n"
    "  --size WxH           render at W x H instead of 640 x 480, each 16 to 16384\n"
    "  --msaa N             multisampling with 1 (none), 2, 4, 8 or 16 samples\n"
    "  --aniso N            anisotropic texture filtering, 1 (none) to 16\n"
    "  --music-only         print the module's facts and play only the music\n"
    "  --timedemo           play live, presenting every frame, and print frame times at the end\n"
    "  --help               this text\n"
    "  --version            the version of narvu and the commit it was built from\n"
    "Keys while the show plays: Space pauses and resumes, Left and Right go back and forward\n"
    "5 seconds, Home starts again, Alt+Enter switches full screen and window, Esc or F12 ends.\n"
    "Exit codes: 0 after the show, Esc/F12, closing the window or Ctrl-C; 1 after a failure;\n"
    "2 after a mistake in the options;\n"
    "a capture ends with 0 only when every file is complete, and with 130 or 143 when\n"
    "SIGINT or SIGTERM cut it short.\n";

// ---- Numbers ------------------------------------------------------------------------------------------

// A whole decimal number from `minimum` to `maximum`, the whole text and nothing else (no blanks, no
// plus sign). Out of range is refused, never wrapped.
static bool wholeNumber(const char* text, long minimum, long maximum, long* value) {
  if (!text || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return false;
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || number < minimum || number > maximum) return false;
  *value = number;
  return true;
}

// A count option (--display): a whole number from 0 to 100000.
static bool countOption(const char* name, const char* text, int* value, std::string* error) {
  long number = 0;
  if (!wholeNumber(text, 0, 100000, &number)) {
    *error = std::string(name) + " takes a whole number, not '" + text + "'";
    return false;
  }
  *value = int(number);
  return true;
}

// A whole number from `minimum` to `maximum`; the message names the range and what it is for.
static bool rangeOption(const char* name, const char* text, long minimum, long maximum, const char* unit, int* value,
                        std::string* error) {
  long number = 0;
  if (!wholeNumber(text, minimum, maximum, &number)) {
    *error = std::string(name) + " takes a whole number from " + std::to_string(minimum) + " to " +
             std::to_string(maximum) + unit + ", not '" + text + "'";
    return false;
  }
  *value = int(number);
  return true;
}

// A moment of the timeline: seconds from 0 to the show's length. Anything beyond could only capture
// nothing, and a huge value would overflow the frame arithmetic of the capture.
static bool secondsOption(const char* name, const char* text, double* value, std::string* error) {
  char* end = nullptr;
  double number = std::strtod(text, &end);
  if (*end != '\0' || !(number >= 0)) {
    *error = std::string(name) + " takes a number of seconds, not '" + text + "'";
    return false;
  }
  if (!(number <= kShowLengthMs / 1000.0)) {
    char length[32];
    std::snprintf(length, sizeof length, "%g", kShowLengthMs / 1000.0);
    *error = std::string(name) + " takes seconds from 0 to " + length + " (the length of the show), not '" + text + "'";
    return false;
  }
  *value = number;
  return true;
}

// Parts need a capture to be parts of, and one way of making them at a time.
static bool checkParts(const CommandLineOptions& options, std::string* error) {
  const CaptureSettings& s = options.capture;
  if (options.join && options.capture_given) {
    *error = "--join takes the path of the capture whose parts it joins; give it without --capture";
  } else if ((s.capture_segments > 0 || options.jobs > 1) && s.capture_path.empty()) {
    *error = std::string(s.capture_segments > 0 ? "--segment" : "--jobs") + " needs --capture";
  } else if (options.join && (s.capture_segments > 0 || options.jobs > 1)) {
    *error = "--join puts parts together; it does not make them (--segment, --jobs)";
  } else if (options.check_parts > 0 && !options.join) {
    *error = "--check lists the parts that --join would join; give it with --join PATH";
  } else if (s.capture_segments > 0 && options.jobs > 1) {
    *error = "--jobs makes the parts itself; it does not go with --segment";
  } else if (s.capture_segments > 0 || options.jobs > 1 || options.check_parts > 0) {
    // Every part must hold a frame.
    CaptureSettings whole = s;
    whole.capture_length_seconds = kShowLengthMs / 1000.0;
    CaptureFrames interval = captureInterval(whole);
    long parts = s.capture_segments > 0    ? s.capture_segments
                 : options.check_parts > 0 ? options.check_parts
                                           : options.jobs;
    if (interval.last - interval.first + 1 >= parts) return true;
    long frames = interval.last - interval.first + 1;
    *error = "the interval holds " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") + ", too few for " +
             std::to_string(parts) + " parts";
  } else {
    return true;
  }
  return false;
}

// Frames fall every 1 / fps seconds; an interval narrower than that may hold none, which no kind of
// capture could write.
static bool checkIntervalHoldsAFrame(const CaptureSettings& settings, std::string* error) {
  CaptureSettings whole = settings;
  whole.capture_length_seconds = kShowLengthMs / 1000.0;
  CaptureFrames interval = captureInterval(whole);
  if (interval.first <= interval.last) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "--from %g --to %g holds no frame at %d frames a second (one every %g s); widen the interval or "
                "raise --fps",
                settings.capture_from_seconds, settings.capture_to_seconds, settings.fps, 1.0 / settings.fps);
  *error = text;
  return false;
}

// A build that starts no other programs (the page: kProgramsUnavailable) makes no video, which needs
// ffmpeg, and no parts side by side.
static bool checkProgramsAvailable(const CommandLineOptions& options, std::string* error) {
  if (!kProgramsUnavailable) return true;
  const std::string& path = options.capture.capture_path;
  if (captureNamesVideo(path)) {
    *error = std::string(options.join ? "--join " : "--capture ") + path + ": a video needs the ffmpeg program, and " +
             kProgramsUnavailable + "; capture PNG frames and audio.wav into a folder (--capture DIR)";
    return false;
  }
  if (options.jobs > 1) {
    *error = std::string("--jobs runs this program several times side by side, and ") + kProgramsUnavailable +
             "; capture in one run";
    return false;
  }
  return true;
}

// Checks that need every option: an interval that holds at least one moment, a timedemo that plays live,
// a video quality that can be had, parts of a capture, the programs a capture would start.
static bool checkTogether(const CommandLineOptions& options, std::string* error) {
  const CaptureSettings& s = options.capture;
  if (!checkProgramsAvailable(options, error) || !checkParts(options, error)) return false;
  if (s.video_lossless && s.video_crf >= 0) {
    *error = "--lossless and --crf do not go together: lossless video has no quality to choose";
    return false;
  }
  if (options.timedemo && !s.capture_path.empty()) {
    *error = "--timedemo times live play on the real clock; it does not go with --capture";
    return false;
  }
  if (s.capture_to_seconds >= 0 && s.capture_from_seconds > s.capture_to_seconds) {
    char text[96];
    std::snprintf(text, sizeof text, "--from %g is after --to %g: the interval holds nothing", s.capture_from_seconds,
                  s.capture_to_seconds);
    *error = text;
    return false;
  }
  return checkIntervalHoldsAFrame(s, error);
}

// ---- The options --------------------------------------------------------------------------------------

static bool applyCapture(const char* value, CommandLineOptions* options, std::string* error) {
  if (!capturePathAcceptable("--capture", value, error)) return false;
  options->capture.capture_path = value;
  options->capture_given = true;
  return true;
}

static bool applyJoin(const char* value, CommandLineOptions* options, std::string* error) {
  if (!capturePathAcceptable("--join", value, error)) return false;
  options->capture.capture_path = value;
  options->join = true;
  return true;
}

// x264's own names, so that a misspelt one is refused here rather than by ffmpeg after the show loaded.
static const char* const kX264Presets[] = {"ultrafast", "superfast", "veryfast", "faster",   "fast",
                                           "medium",    "slow",      "slower",   "veryslow", "placebo"};

static bool applyPreset(const char* value, CommandLineOptions* options, std::string* error) {
  std::string names;
  for (const char* preset : kX264Presets) {
    if (std::strcmp(value, preset) == 0) {
      options->capture.video_preset = value;
      return true;
    }
    names += std::string(names.empty() ? "" : ", ") + preset;
  }
  *error = "--preset takes one of x264's presets (" + names + "), not '" + value + "'";
  return false;
}

static bool applySegment(const char* value, CommandLineOptions* options, std::string* error) {
  std::string text = value;
  size_t slash = text.find('/');
  long part = 0, parts = 0;
  // Part 0 is the music of the whole capture, made beside the others.
  if (slash == std::string::npos || !wholeNumber(text.substr(slash + 1).c_str(), 1, 10000, &parts) ||
      !wholeNumber(text.substr(0, slash).c_str(), 0, parts, &part)) {
    *error = "--segment takes K/N, a part K from 1 to N (0: the music), for example 2/4, not '" + text + "'";
    return false;
  }
  options->capture.capture_segment = int(part);
  options->capture.capture_segments = int(parts);
  return true;
}

static bool applyJobs(const char* value, CommandLineOptions* options, std::string* error) {
  long jobs = 0;
  if (!wholeNumber(value, 1, 64, &jobs)) {
    *error = std::string("--jobs takes a number of parts from 1 to 64, not '") + value + "'";
    return false;
  }
  options->jobs = int(jobs);
  return true;
}

static bool applyCheck(const char* value, CommandLineOptions* options, std::string* error) {
  return rangeOption("--check", value, 1, 10000, " parts", &options->check_parts, error);
}

// The show's clock counts milliseconds: above 1000 frames a second, frames would repeat moments.
static bool applyFps(const char* value, CommandLineOptions* options, std::string* error) {
  return rangeOption("--fps", value, 1, 1000, " frames a second (the show's clock counts milliseconds)",
                     &options->capture.fps, error);
}

static bool applyDisplay(const char* value, CommandLineOptions* options, std::string* error) {
  return countOption("--display", value, &options->settings.display, error);
}

static bool applyVsync(const char* value, CommandLineOptions* options, std::string* error) {
  if (std::strcmp(value, "on") != 0 && std::strcmp(value, "off") != 0) {
    *error = std::string("--vsync takes on or off, not '") + value + "'";
    return false;
  }
  options->settings.vsync = std::strcmp(value, "on") == 0;
  return true;
}

static bool applySize(const char* value, CommandLineOptions* options, std::string* error) {
  std::string text = value;
  size_t cross = text.find('x');
  long width = 0, height = 0;
  if (cross == std::string::npos || !wholeNumber(text.substr(0, cross).c_str(), 16, 16384, &width) ||
      !wholeNumber(text.substr(cross + 1).c_str(), 16, 16384, &height)) {
    *error = "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not '" + text + "'";
    return false;
  }
  options->settings.render_width = int(width);
  options->settings.render_height = int(height);
  return true;
}

// Multisampled render targets come in powers of two; any other count would quietly be rounded.
static bool applyMsaa(const char* value, CommandLineOptions* options, std::string* error) {
  long samples = 0;
  if (!wholeNumber(value, 1, 16, &samples) || (samples & (samples - 1)) != 0) {
    *error = std::string("--msaa takes 1 (none), 2, 4, 8 or 16 samples, not '") + value + "'";
    return false;
  }
  options->settings.msaa_samples = int(samples);
  return true;
}

static bool applyAniso(const char* value, CommandLineOptions* options, std::string* error) {
  return rangeOption("--aniso", value, 1, 16, " (1 is none)", &options->settings.anisotropy, error);
}

// x264's range; lower is better.
static bool applyCrf(const char* value, CommandLineOptions* options, std::string* error) {
  return rangeOption("--crf", value, 0, 51, " (lower is better)", &options->capture.video_crf, error);
}

static bool applyFrom(const char* value, CommandLineOptions* options, std::string* error) {
  return secondsOption("--from", value, &options->capture.capture_from_seconds, error);
}

static bool applyTo(const char* value, CommandLineOptions* options, std::string* error) {
  return secondsOption("--to", value, &options->capture.capture_to_seconds, error);
}

// An option without a value that turns one of the command line's switches on.
template <bool CommandLineOptions::*flag>
static bool applySwitch(const char*, CommandLineOptions* options, std::string*) {
  options->*flag = true;
  return true;
}

// The same for a switch among the platform's settings, and among the capture's.
template <bool PlatformSettings::*flag>
static bool applySettingSwitch(const char*, CommandLineOptions* options, std::string*) {
  options->settings.*flag = true;
  return true;
}

template <bool CaptureSettings::*flag>
static bool applyCaptureSwitch(const char*, CommandLineOptions* options, std::string*) {
  options->capture.*flag = true;
  return true;
}

struct OptionRule {
  const char* name;
  bool takes_value;
  // Checks and applies the value (null for an option without one); false with the message in *error.
  bool (*apply)(const char* value, CommandLineOptions* options, std::string* error);
};

static const OptionRule kOptionRules[] = {
    {"--help", false, applySwitch<&CommandLineOptions::help>},
    {"-h", false, applySwitch<&CommandLineOptions::help>},
    {"--capture", true, applyCapture},
    {"--fps", true, applyFps},
    {"--windowed", false, applySettingSwitch<&PlatformSettings::windowed>},
    {"--display", true, applyDisplay},
    {"--vsync", true, applyVsync},
    {"--size", true, applySize},
    {"--msaa", true, applyMsaa},
    {"--aniso", true, applyAniso},
    {"--crf", true, applyCrf},
    {"--from", true, applyFrom},
    {"--to", true, applyTo},
    {"--music-only", false, applySwitch<&CommandLineOptions::music_only>},
    {"--version", false, applySwitch<&CommandLineOptions::version>},
    {"--timedemo", false, applySwitch<&CommandLineOptions::timedemo>},
    {"--preset", true, applyPreset},
    {"--lossless", false, applyCaptureSwitch<&CaptureSettings::video_lossless>},
    {"--segment", true, applySegment},
    {"--join", true, applyJoin},
    {"--jobs", true, applyJobs},
    {"--check", true, applyCheck},
};

// A word the show finds as a substring ("--nosound") does something, so it is not reported as ignored.
static bool showWord(const char* word) {
  return std::strstr(word, "nosound") != nullptr || std::strstr(word, "choosedrv") != nullptr;
}

bool parseCommandLine(int argc, char** argv, CommandLineOptions* out, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (!out->command_line.empty()) out->command_line += ' ';
    out->command_line += word;
    const OptionRule* rule = nullptr;
    for (const OptionRule& candidate : kOptionRules)
      if (std::strcmp(word, candidate.name) == 0) rule = &candidate;
    if (!rule) {
      // The show ignores words it does not know; one that looks like an option is most likely mistyped.
      if (std::strncmp(word, "--", 2) == 0 && !showWord(word))
        out->warnings.push_back(std::string("unknown option '") + word + "' ignored; see --help");
      out->other_words.push_back(word);
      continue;
    }
    out->options_given.push_back(rule->name);
    const char* value = nullptr;
    if (rule->takes_value) {
      // A missing value, or the next option in its place, is a mistake rather than a value.
      if (i + 1 >= argc || argv[i + 1][0] == '\0' || std::strncmp(argv[i + 1], "--", 2) == 0) {
        *error = std::string(word) + " needs a value (see --help)";
        return false;
      }
      // Values stay out of the command line: "--capture /tmp/nosound" must not silence the show.
      value = argv[++i];
    }
    if (!rule->apply(value, out, error)) return false;
    if (out->help) return true;  // the rest of the line does not matter then
  }
  return checkTogether(*out, error);
}

// Options that only live play, or the program's own use, looks at: a capture takes them without a word.
static const char* const kLiveOnlyOptions[] = {"--windowed", "--display", "--vsync", "--timedemo", "--music-only",
                                               "--help", "-h", "--version"};

bool captureOptionsFitForParts(const CommandLineOptions& options, std::string* error) {
  for (const std::string& word : options.other_words) {
    if (showWord(word.c_str()))
      *error = "'" + word + "' is for live play (the farm's capture always has its music, made beside the parts)";
    else if (word.rfind("--", 0) == 0)
      *error = "narvu does not know '" + word + "' (a typo?): it would only warn, and capture without it";
    else
      *error = "narvu would ignore the word '" + word + "'";
    return false;
  }
  for (const std::string& name : options.options_given)
    for (const char* live : kLiveOnlyOptions)
      if (name == live) {
        *error = name + " is for live play; a capture does nothing with it";
        return false;
      }
  return true;
}
