// The whole show captured to an H.264 video through ffmpeg, as a multiple of real time (107.5 s of
// show), beside two floors measured in the same run:
//   draw only:   the show drawing the same frames with nothing read back, each frame flushed as a
//                display takes it and the last one finished (what capture adds to drawing is the rest);
//   encode only: ffmpeg encoding raw frames of the show from memory with the capture's own settings:
//                runs of consecutive frames from eight places of the timeline, rendered first (at most
//                512 MB of them) and fed again and again until as many frames went in as the show has.
//
//   bench_capture [--show NAME=FILE]... [--jobs N]... [--encode-only KIND]... [WxH@FPS ...]
//     WxH@FPS: default 640x480@25 and 1920x1080@60
//     --encode-only KIND: the encoding floor alone, into a video of that kind (mp4, mkv, webm), each
//     kind side by side with the same frames; the captures and the drawing floor are left out
//     every setting is captured by each --show (another build of narvu, for example the previous one,
//     run with its defaults), then by this build's narvu with --jobs 1, with its default, and with each
//     --jobs N, then the two floors
//
// Wall time of each run from start to exit, and the CPU time of it and the processes it waited for
// (ffmpeg, the parts); for the encoding floor, ffmpeg's own. Needs ffmpeg; writes into a temporary
// folder and removes it. The floors run as this program again: bench_capture --draw WxH@FPS and
// bench_capture --encode WxH@FPS FILE.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "headless.h"
#include "platform/test_hooks.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "test_support.h"
#include "thread_cpu.h"
#include "timeline_run.h"

using Clock = std::chrono::steady_clock;

static const double kShowSeconds = kShowLengthMs / 1000.0;

struct Setting {
  int width = 0, height = 0, fps = 0;
  std::string text;
};

static bool parseSetting(const std::string& text, Setting* setting) {
  setting->text = text;
  return std::sscanf(text.c_str(), "%dx%d@%d", &setting->width, &setting->height, &setting->fps) == 3 &&
         setting->width > 0 && setting->height > 0 && setting->fps > 0;
}

static std::string sizeText(const Setting& setting) {
  return std::to_string(setting.width) + "x" + std::to_string(setting.height);
}

static double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- The floors, in a process of their own ---------------------------------------------------------------

// The show's start-up as bench_show does it, headless at the setting's size; false without a GL device.
static bool startShow(const Setting& setting) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  platform_settings.headless = true;
  platform_settings.render_width = setting.width;
  platform_settings.render_height = setting.height;
  std::string pack = std::string(NARVU_BENCH_BUILD_DIR) + "/narvu.dat";
  if (!packMount(pack.c_str(), 0)) return false;
  D3DXInitialize();
  HWND window = openHeadlessWindow(640, 480);
  default_device_index = D3DX_HWLEVEL_RASTER;
  if (selectDevice(false, window) != 0) return false;
  loadScenes();
  overlay_hook = fadeOverlay;
  startTimelineOnVirtualClock(setting.fps);
  return true;
}

// Prints the wall seconds of the frame loop and its CPU split.
static int drawOnly(const Setting& setting) {
  if (!startShow(setting)) return 1;
  Clock::time_point start = Clock::now();
  ThreadCpu cpu_start = threadCpu();
  int frames = 0;
  do {
    drawSceneFrame(current_scene, timelineFrame(GetTickCount()));
    context->UpdateFrame(0);  // headless: flushed, the frame before waited for
    ++frames;
  } while (!exit_requested);
  endGlFrame(context, true);
  ThreadCpu cpu = cpuBetween(cpu_start, threadCpu());
  std::printf("figures: %.3f %d %.3f %.3f\n", secondsSince(start), frames, cpu.main_ms / frames,
              cpu.llvmpipe_ms / frames);
  return 0;
}

// Renders the sample into memory, then prints the wall seconds ffmpeg takes to encode the show's number
// of frames from it.
static int encodeOnly(const Setting& setting, const std::string& video) {
  if (!startShow(setting)) return 1;
  const size_t kBudget = size_t(512) << 20, kRuns = 8;
  size_t frame_bytes = size_t(setting.width) * setting.height * 3;
  long show_frames = long(std::ceil(kShowSeconds * setting.fps - 1e-9)) + 1;
  long per_run = std::max(1L, std::min(show_frames / long(kRuns), long(kBudget / frame_bytes / kRuns)));
  std::vector<std::vector<uint8_t>> sample;
  long frame = 0;
  do {
    long run_start = long(sample.size() / size_t(per_run)) * show_frames / long(kRuns);
    bool kept = sample.size() < kRuns * size_t(per_run) && frame >= run_start;
    setDeviceDrawing(device, kept);
    drawSceneFrame(current_scene, timelineFrame(GetTickCount()));
    if (kept) {
      context->UpdateFrame(0);
      std::vector<uint8_t> rgb;
      int width = 0, height = 0;
      readGlRenderTarget(context, &rgb, &width, &height);
      sample.push_back(std::move(rgb));
    }
    ++frame;
  } while (!exit_requested);
  capture_settings.capture_path = video;
  capture_settings.fps = setting.fps;
  std::string command;
  for (const std::string& word : captureEncoderCommand(setting.width, setting.height, video))
    command += "'" + word + "' ";
  Clock::time_point start = Clock::now();
  FILE* encoder = popen(command.c_str(), "w");
  if (!encoder) return 1;
  for (long i = 0; i < show_frames; ++i) std::fwrite(sample[size_t(i) % sample.size()].data(), 1, frame_bytes, encoder);
  bool encoded = pclose(encoder) == 0;
  double seconds = secondsSince(start);
  struct rusage usage = {};
  getrusage(RUSAGE_CHILDREN, &usage);
  double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("figures: %.3f %zu %.3f\n", seconds, sample.size(), cpu);
  return encoded ? 0 : 1;
}

// ---- The table ---------------------------------------------------------------------------------------

struct Run {
  std::string name;
  std::vector<std::string> command;
};

static std::string selfPath() {
  char path[4096];
  return GetModuleFileNameA(nullptr, path, sizeof path) ? path : "";
}

// A floor's line of figures in a child's output, which may hold the libraries' words too.
static const char* figuresIn(const std::string& output) {
  size_t at = output.find("figures: ");
  return at == std::string::npos ? "" : output.c_str() + at;
}

static void printRow(const Setting& setting, const std::string& name, double seconds, double cpu, const char* note) {
  std::printf("%-14s %-28s %9.1f %12.3f %9.1f  %s\n", setting.text.c_str(), name.c_str(), seconds,
              kShowSeconds / seconds, cpu, note);
  std::fflush(stdout);
}

// The encoding floor into each kind of video, one after the other on the same frames.
static void encodeFloors(const Setting& setting, const std::string& folder, const std::vector<std::string>& kinds) {
  double first_cpu = 0;
  for (const std::string& kind : kinds) {
    std::string video = folder + "/show." + kind;
    ChildResult encode =
        runChild({selfPath(), "--encode", setting.text, video}, folder, {"SDL_VIDEODRIVER=offscreen"}, 7200);
    double seconds = 0, cpu = 0;
    size_t sample = 0;
    std::sscanf(figuresIn(encode.output), "figures: %lf %zu %lf", &seconds, &sample, &cpu);
    if (first_cpu == 0) first_cpu = cpu;
    char note[128];
    std::snprintf(note, sizeof note, "%.2f x the CPU of .%s", first_cpu > 0 ? cpu / first_cpu : 0.0, kinds[0].c_str());
    printRow(setting, "encode only, ." + kind, seconds, cpu, encode.exit_code == 0 && seconds > 0 ? note : "(failed)");
    std::filesystem::remove(video);
  }
}

int main(int argc, char** argv) {
  std::vector<Setting> settings;
  std::vector<Run> others;
  std::vector<int> jobs;
  std::vector<std::string> kinds;
  for (int i = 1; i < argc; ++i) {
    Setting setting;
    if ((!std::strcmp(argv[i], "--draw") || !std::strcmp(argv[i], "--encode")) && i + 1 < argc &&
        parseSetting(argv[i + 1], &setting)) {
      if (argv[i][2] == 'd') return drawOnly(setting);
      return i + 2 < argc ? encodeOnly(setting, argv[i + 2]) : 2;
    }
    const char* equals = i + 1 < argc ? std::strchr(argv[i + 1], '=') : nullptr;
    if (!std::strcmp(argv[i], "--show") && equals) {
      others.push_back({std::string(argv[i + 1], size_t(equals - argv[i + 1])), {equals + 1}});
      ++i;
    } else if (!std::strcmp(argv[i], "--jobs") && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      jobs.push_back(std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--encode-only") && i + 1 < argc) {
      kinds.push_back(argv[++i]);
    } else if (parseSetting(argv[i], &setting)) {
      settings.push_back(setting);
    } else {
      std::fprintf(stderr,
                   "usage: bench_capture [--show NAME=FILE]... [--jobs N]... [--encode-only KIND]... [WxH@FPS ...]\n");
      return 2;
    }
  }
  if (settings.empty())
    for (const char* text : {"640x480@25", "1920x1080@60"}) parseSetting(text, &settings.emplace_back());
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "bench_capture: needs the ffmpeg program\n");
    return 1;
  }
  char folder_name[] = "/tmp/narvu-capture-XXXXXX";
  if (!mkdtemp(folder_name)) return 1;
  std::string folder = folder_name, video = folder + "/show.mp4";
  std::string narvu = std::string(NARVU_BENCH_BUILD_DIR) + "/narvu";
  std::vector<Run> runs = others;
  runs.push_back({"this build, --jobs 1", {narvu, "--jobs", "1"}});
  runs.push_back({"this build, default", {narvu}});
  for (int n : jobs) runs.push_back({"this build, --jobs " + std::to_string(n), {narvu, "--jobs", std::to_string(n)}});

  std::printf("%-14s %-28s %9s %12s %9s\n", "capture", "run", "seconds", "x real time", "CPU s");
  for (const Setting& setting : settings) {
    if (!kinds.empty()) {
      encodeFloors(setting, folder, kinds);
      continue;
    }
    for (const Run& run : runs) {
      std::string fps = std::to_string(setting.fps);
      std::string size = sizeText(setting);
      std::vector<std::string> command = {run.command[0], "--capture", video, "--fps", fps, "--size", size};
      command.insert(command.end(), run.command.begin() + 1, run.command.end());
      Clock::time_point start = Clock::now();
      ChildResult result = runChild(command, folder, {"SDL_VIDEODRIVER=offscreen"}, 7200);
      double seconds = secondsSince(start);
      printRow(setting, run.name, seconds, result.cpu_seconds, result.exit_code == 0 ? "" : "(failed)");
      std::filesystem::remove(video);
    }
    Clock::time_point start = Clock::now();
    ChildResult draw = runChild({selfPath(), "--draw", setting.text}, folder, {"SDL_VIDEODRIVER=offscreen"}, 7200);
    double seconds = secondsSince(start);
    double loop = 0, main_ms = 0, llvmpipe_ms = 0;
    int frames = 0;
    std::sscanf(figuresIn(draw.output), "figures: %lf %d %lf %lf", &loop, &frames, &main_ms, &llvmpipe_ms);
    char note[128];
    std::snprintf(note, sizeof note, "CPU per frame: main %.1f ms, llvmpipe %.1f ms", main_ms, llvmpipe_ms);
    printRow(setting, "floor: draw only", seconds, draw.cpu_seconds, draw.exit_code == 0 ? note : "(failed)");
    ChildResult encode =
        runChild({selfPath(), "--encode", setting.text, video}, folder, {"SDL_VIDEODRIVER=offscreen"}, 7200);
    double encode_seconds = 0, encode_cpu = 0;
    size_t sample = 0;
    std::sscanf(figuresIn(encode.output), "figures: %lf %zu %lf", &encode_seconds, &sample, &encode_cpu);
    std::snprintf(note, sizeof note, "from %zu frames in memory", sample);
    printRow(setting, "floor: encode only", encode_seconds, encode_cpu,
             encode.exit_code == 0 && encode_seconds > 0 ? note : "(failed)");
    std::filesystem::remove(video);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
