// The show as a program: turns the options of this port into platform settings, then runs the show
// with the whole argument string as its command line ("nosound" and "choosedrv" are found in it as
// substrings, as the show always did; words it does not know are ignored).
#include <cstdio>
#include <string>

#include "narvu_commit.h"
#include "shell/shell.h"

int runNarvu(int argc, char** argv) {
  attachParentConsole();
  CommandLineOptions options;
  std::string error;
  if (!parseCommandLine(argc, argv, &options, &error)) {
    std::fprintf(stderr, "narvu: %s\n", error.c_str());
    return kUsageExitCode;
  }
  for (const std::string& warning : options.warnings) std::fprintf(stderr, "narvu: %s\n", warning.c_str());
  if (options.help) {
    std::fputs(kCommandLineUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("narvu %s (%s)\n", NARVU_VERSION, NARVU_COMMIT_TEXT);
    return 0;
  }
  platform_settings = options.settings;
  capture_settings = options.capture;
  // Ctrl-C and kill end every mode through its own clean-up rather than in the middle of it.
  catchEndSignals();
  if (options.music_only) return runMusicOnly();
  timedemo_enabled = options.timedemo;
  if (options.join) return runCaptureJoin(options);
  if (options.jobs > 1) return runCaptureJobs(argc, argv, options);
  if (capture_settings.capture_segments > 0 && capture_settings.capture_segment == 0) return runCaptureMusic(options);
  // A part's music is rendered once for the whole interval when the parts are joined: a part leaves
  // the sound library alone.
  if (capture_settings.capture_segments > 0) options.command_line += " nosound";

  if (!capture_settings.capture_path.empty()) {
    std::string reason;
    if (!captureTargetUsable(&reason)) {
      std::fprintf(stderr, "narvu: %s\n", reason.c_str());
      return 1;
    }
    prepareCapture();
  } else if (std::string reason; !displayAvailable(&reason)) {
    std::fprintf(stderr, "narvu: no display to play on (%s); use --capture DIR to render off-screen\n", reason.c_str());
    return 1;
  }
  int exit_code = WinMain(nullptr, nullptr, &options.command_line[0], SW_SHOW);
  return capture_settings.capture_path.empty() ? exit_code : finishCaptureRun(exit_code);
}
