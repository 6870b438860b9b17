// The program's entry: turns the options of this port into platform settings, then runs the show
// with the whole argument string as its command line ("nosound" and "choosedrv" are found in it as
// substrings, as the show always did; words it does not know are ignored).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/shell.h"

static const char kUsage[] =
    "usage: narvu [nosound] [choosedrv] [options]\n"
    "Plays the show: about 108 seconds of real-time 3D with music, then exits.\n"
    "  nosound              play without sound\n"
    "  choosedrv            approve the drawing device in yes/no questions\n"
    "  --windowed           a 640 x 480 window instead of the full screen\n"
    "  --capture DIR        render off-screen with a virtual clock, writing every frame to\n"
    "                       DIR/frame_NNNNNN.png and the music to DIR/audio.wav; no display needed\n"
    "  --capture FILE.mp4   the same into a video file (.mp4, .mkv or .webm; needs ffmpeg)\n"
    "  --fps N              frames per second of a capture (default 60)\n"
    "  --from S, --to S     capture only the frames from S to S seconds of the timeline\n"
    "  --crf N              video quality (lower is better)\n"
    "  --size WxH           render at W x H instead of 640 x 480\n"
    "  --msaa N             N-times multisampling\n"
    "  --aniso N            N-times anisotropic texture filtering\n"
    "  --music-only         print the module's facts and play only the music\n"
    "  --help               this text\n"
    "Exit codes: 0 after the show or Esc/F12/closing the window, 1 after a start-up failure.\n";

// Reads the value after option `name`; exits with a message when it is missing.
static const char* optionValue(int argc, char** argv, int* index, const char* name) {
  if (*index + 1 >= argc || argv[*index + 1][0] == '\0' || std::strncmp(argv[*index + 1], "--", 2) == 0) {
    std::fprintf(stderr, "narvu: %s needs a value (see --help)\n", name);
    std::exit(1);
  }
  return argv[++*index];
}

static int positiveNumber(const char* text, const char* name) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 0 || value > 100000) {
    std::fprintf(stderr, "narvu: %s takes a whole number, not '%s'\n", name, text);
    std::exit(1);
  }
  return int(value);
}

static double seconds(const char* text, const char* name) {
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (*end != '\0' || !(value >= 0)) {
    std::fprintf(stderr, "narvu: %s takes a number of seconds, not '%s'\n", name, text);
    std::exit(1);
  }
  return value;
}

static void parseSize(const char* text) {
  int width = 0, height = 0;
  char tail = 0;
  if (std::sscanf(text, "%dx%d%c", &width, &height, &tail) != 2 || width < 16 || height < 16 ||
      width > 16384 || height > 16384) {
    std::fprintf(stderr, "narvu: --size takes WIDTHxHEIGHT, for example 1920x1080, not '%s'\n", text);
    std::exit(1);
  }
  platform_settings.render_width = width;
  platform_settings.render_height = height;
}

int main(int argc, char** argv) {
  bool music_only = false;
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (!command_line.empty()) command_line += ' ';
    command_line += word;
    if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(word, "--capture") == 0) {
      platform_settings.capture_path = optionValue(argc, argv, &i, word);
    } else if (std::strcmp(word, "--fps") == 0) {
      platform_settings.fps = positiveNumber(optionValue(argc, argv, &i, word), word);
      if (platform_settings.fps == 0) {
        std::fprintf(stderr, "narvu: --fps takes at least 1 frame a second\n");
        return 1;
      }
    } else if (std::strcmp(word, "--windowed") == 0) {
      platform_settings.windowed = true;
    } else if (std::strcmp(word, "--size") == 0) {
      parseSize(optionValue(argc, argv, &i, word));
    } else if (std::strcmp(word, "--msaa") == 0) {
      platform_settings.msaa_samples = positiveNumber(optionValue(argc, argv, &i, word), word);
    } else if (std::strcmp(word, "--aniso") == 0) {
      platform_settings.anisotropy = positiveNumber(optionValue(argc, argv, &i, word), word);
    } else if (std::strcmp(word, "--crf") == 0) {
      platform_settings.video_crf = positiveNumber(optionValue(argc, argv, &i, word), word);
    } else if (std::strcmp(word, "--from") == 0) {
      platform_settings.capture_from_seconds = seconds(optionValue(argc, argv, &i, word), word);
    } else if (std::strcmp(word, "--to") == 0) {
      platform_settings.capture_to_seconds = seconds(optionValue(argc, argv, &i, word), word);
    } else if (std::strcmp(word, "--music-only") == 0) {
      music_only = true;
    }
  }
  if (music_only) return runMusicOnly();

  if (!platform_settings.capture_path.empty()) {
    std::string reason;
    if (!captureTargetUsable(&reason)) {
      std::fprintf(stderr, "narvu: %s\n", reason.c_str());
      return 1;
    }
    prepareCapture();
  } else if (!displayAvailable()) {
    std::fprintf(stderr,
                 "narvu: no display to show the show on; run it with --capture DIR to render it "
                 "off-screen into PNG frames\n");
    return 1;
  }
  return WinMain(nullptr, nullptr, &command_line[0], SW_SHOW);
}
