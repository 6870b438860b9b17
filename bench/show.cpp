// The show's own figures, on its real content: start-up split into its steps beside its floor, then the
// frame loop over the whole timeline on the null device (CPU time per frame) and on the GL device
// (frames per second, presented off-screen at the render size asked for, and the longest frames).
//
//   bench_show [--pack FILE] [--size WxH] [--no-gl] [--every N] [--finish]
//     N: draw every Nth frame of the timeline
//     Every presented frame is flushed, and the one before it waited for, as presenting on a display
//     does (headless presentation does that itself, showing nothing): a live figure.
//     --finish: every frame is read back before the next, as a capture without a ring of buffers reads
//     it: a capture figure, in which a frame's own time is the whole of its work. CPU time is split into
//     the main thread's and llvmpipe's threads'.
//
// Runs headless (SDL's offscreen driver). The start-up figures follow the show's own order, split by
// the trace points the loader passes. The floor is the work no start-up can skip, each part measured
// alone in the same run: libjpeg decoding every picture from memory, reading and inflating every pack
// entry, a window with its GL context (in a process of its own, which loads the driver as the show's
// start-up does) and building every shader program the show used (after the timeline, on the show's
// own device, the driver's code generation included); the last two are the median of three.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/test_hooks.h"
#include "headless.h"
#include "test_support.h"
#include "thread_cpu.h"
#include "timeline_run.h"
#include "render/render.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "texture/texture.h"

using Clock = std::chrono::steady_clock;

static double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

static double cpuMilliseconds() { return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC; }

static const char* const kSkyboxNames[6] = {"skybox0000.jpg", "skybox0001.jpg", "skybox0002.jpg",
                                     "skybox0003.jpg", "skybox0004.jpg", "skybox0005.jpg"};

// The loading step is split by the trace points it passes: a texture load runs from its "load texture"
// trace to the next trace, the octrees from "objects.." to the next trace; the logos and skyboxes from
// their own trace points to the next. Everything else inside a scene load is reading the scene file.
struct LoadSplit {
  double pictures_ms = 0, octrees_ms = 0, scene_files_ms = 0;
  int pictures = 0;
};

struct Trace {
  std::string text, caption;
  Clock::time_point at;
};
static std::vector<Trace> traces;

static void recordTrace(const char* text, const char* caption) { traces.push_back({text, caption, Clock::now()}); }

static LoadSplit splitLoading(Clock::time_point end) {
  LoadSplit split;
  bool in_scene = false;
  for (size_t i = 0; i < traces.size(); ++i) {
    const Trace& trace = traces[i];
    Clock::time_point next = i + 1 < traces.size() ? traces[i + 1].at : end;
    double span = std::chrono::duration<double, std::milli>(next - trace.at).count();
    if (trace.caption == "DEMO loadScene DEBUG" && trace.text != "objects..") {
      if (trace.text == "mv.vyl" || trace.text == "credanim.vyl") in_scene = true;
      if (in_scene) split.scene_files_ms += span;
    } else if (trace.caption == "DEMO loadScene load texture DEBUG" ||
               trace.text == "load particle textures" || trace.text == "loadSkybox") {
      split.pictures_ms += span;
      split.pictures += trace.text == "load particle textures" ? 2 : trace.text == "loadSkybox" ? 12 : 1;
    } else if (trace.text == "objects..") {
      split.octrees_ms += span;
    } else if (trace.caption == "DEMO DEBUG") {
      in_scene = false;
    }
  }
  return split;
}

// Every picture the start-up decodes: scene textures, logos, the skybox once per scene.
static std::vector<std::string> startUpPictures(Scene* first, Scene* second) {
  std::vector<std::string> names;
  for (Scene* scene : {first, second})
    for (int i = 0; i < scene->texture_count; ++i) names.push_back(scene->textures[i].file_name);
  names.push_back("vuurlogo.jpg");
  names.push_back("endlogo.jpg");
  for (int copy = 0; copy < 2; ++copy)
    for (const char* name : kSkyboxNames) names.push_back(name);
  return names;
}

static double libjpegAloneMilliseconds(const std::vector<std::string>& names) {
  double total = 0;
  for (const std::string& name : names) {
    uint8_t* bytes = packRead(name.c_str());
    if (!bytes) continue;
    int size = packSize(name.c_str());
    Clock::time_point start = Clock::now();
    jpeg_decompress_struct decompressor;
    jpeg_error_mgr errors;
    decompressor.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decompressor);
    jpeg_mem_src(&decompressor, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&decompressor, TRUE);
    decompressor.out_color_space = JCS_RGB;
    jpeg_start_decompress(&decompressor);
    std::vector<JSAMPLE> row(size_t(decompressor.output_width) * decompressor.output_components);
    JSAMPROW rows[1] = {row.data()};
    while (decompressor.output_scanline < decompressor.output_height) jpeg_read_scanlines(&decompressor, rows, 1);
    jpeg_finish_decompress(&decompressor);
    jpeg_destroy_decompress(&decompressor);
    total += millisecondsSince(start);
    std::free(bytes);
  }
  return total;
}

// Reading and inflating every entry of the pack, each once.
static double inflatingAloneMilliseconds(int* entries) {
  double total = 0;
  *entries = 0;
  for (PackEntry* entry = pack_entries; entry; entry = entry->next) {
    Clock::time_point start = Clock::now();
    uint8_t* bytes = packRead(entry->name);
    total += millisecondsSince(start);
    std::free(bytes);
    ++*entries;
  }
  return total;
}

// `bench_show --context-alone`: a window and its GL context as the show asks for them, in a fresh
// process; prints the milliseconds.
static int contextAlone() {
  Clock::time_point start = Clock::now();
  D3DXInitialize();
  HWND window = openHeadlessWindow(640, 480);
  ID3DXContext* alone = nullptr;
  if (FAILED(D3DXCreateContextEx(D3DX_HWLEVEL_RASTER, D3DX_CONTEXT_FULLSCREEN, window, nullptr, 24, 0, 32, 0, 2, 640,
                                 480, D3DX_DEFAULT, &alone)))
    return 1;
  std::printf("%.3f\n", millisecondsSince(start));
  return 0;
}

// The same in a process of its own; negative when it cannot be had.
static double contextAloneMilliseconds() {
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 ("bench_show." + std::to_string(Clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  ChildResult child = runChild({"/proc/self/exe", "--context-alone"}, folder.string());
  std::filesystem::remove_all(folder);
  return child.exit_code == 0 ? std::atof(child.output.c_str()) : -1;
}

template <typename Measure>
static double medianOfThree(Measure measure) {
  double times[3] = {measure(), measure(), measure()};
  std::sort(times, times + 3);
  return times[1];
}

// Every pass of the timeline at 25 frames a second, as a real-time run at 25 fps would draw them.
struct FrameTime {
  double ms;
  double cpu_ms;  // every thread's: on a busy machine a stall shows here when wall time hides it
  DWORD at_ms;    // timeline time of the pass
  bool second_scene;
};

struct LoopFigures {
  int frames;
  double wall_ms;
  double cpu_ms;
  std::vector<FrameTime> times;  // each pass's draw, presentation and read-back or flush
  ThreadCpu threads;
};

static LoopFigures runTimeline(bool present, bool finish, int every) {
  overlay_hook = fadeOverlay;
  startTimelineOnVirtualClock(25);
  LoopFigures figures = {0, 0, 0, {}, {}};
  std::vector<uint8_t> read_back;
  int width = 0, height = 0;
  // The read-back's own first use (the driver readies its copy then) is not the show's.
  if (present && finish) readGlRenderTarget(context, &read_back, &width, &height);
  Clock::time_point start = Clock::now();
  double cpu_start = cpuMilliseconds();
  ThreadCpu threads_start = threadCpu();
  do {
    Clock::time_point frame_start = Clock::now();
    double frame_cpu_start = cpuMilliseconds();
    DWORD now = GetTickCount();
    int frame = timelineFrame(now);
    drawSceneFrame(current_scene, frame);
    if (present) context->UpdateFrame(0);
    if (present && finish) readGlRenderTarget(context, &read_back, &width, &height);
    figures.times.push_back({millisecondsSince(frame_start), cpuMilliseconds() - frame_cpu_start, now - demo_start_ms,
                             current_scene == second_scene});
    ++figures.frames;
    for (int skip = 1; skip < every; ++skip) advanceVirtualClock();
  } while (!exit_requested);
  // The last flushed frames are rasterised before the clock stops.
  if (present) endGlFrame(context, true);
  figures.wall_ms = millisecondsSince(start);
  figures.cpu_ms = cpuMilliseconds() - cpu_start;
  figures.threads = cpuBetween(threads_start, threadCpu());
  return figures;
}

// The median frame and the four longest, by wall time and by CPU time.
static void printLongestFrames(const LoopFigures& loop) {
  for (bool cpu : {false, true}) {
    auto time = [cpu](const FrameTime& frame) { return cpu ? frame.cpu_ms : frame.ms; };
    std::vector<FrameTime> sorted = loop.times;
    std::sort(sorted.begin(), sorted.end(), [&](const FrameTime& a, const FrameTime& b) { return time(a) > time(b); });
    std::printf("  %s: median frame %.1f ms; the longest:", cpu ? "CPU " : "wall", time(sorted[sorted.size() / 2]));
    for (size_t i = 0; i < sorted.size() && i < 4; ++i)
      std::printf(" %.1f ms (%.2f s, %s)", time(sorted[i]), sorted[i].at_ms / 1000.0,
                  sorted[i].second_scene ? "second" : "first");
    std::printf("\n");
  }
}

int main(int argc, char** argv) {
  std::string pack = std::string(NARVU_BENCH_BUILD_DIR) + "/narvu.dat";
  bool with_gl = true, finish = false;
  int every = 1;
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  platform_settings.headless = true;
  if (argc == 2 && !std::strcmp(argv[1], "--context-alone")) return contextAlone();
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--pack") && i + 1 < argc) pack = argv[++i];
    else if (!std::strcmp(argv[i], "--no-gl")) with_gl = false;
    else if (!std::strcmp(argv[i], "--finish")) finish = true;
    else if (!std::strcmp(argv[i], "--every") && i + 1 < argc && (every = std::atoi(argv[++i])) > 0) {
    }
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc &&
             std::sscanf(argv[++i], "%dx%d", &platform_settings.render_width, &platform_settings.render_height) == 2) {
    } else {
      std::fprintf(stderr, "usage: bench_show [--pack FILE] [--size WxH] [--no-gl] [--every N] [--finish]\n");
      return 1;
    }
  }

  Clock::time_point program_start = Clock::now();
  Clock::time_point step = Clock::now();
  if (!packMount(pack.c_str(), 0)) {
    std::fprintf(stderr, "bench_show: cannot mount %s (build the show first)\n", pack.c_str());
    return 1;
  }
  double mount_ms = millisecondsSince(step);
  step = Clock::now();
  if (startMusic() != 0) return 1;
  double music_ms = millisecondsSince(step);
  step = Clock::now();
  D3DXInitialize();
  HWND window = openHeadlessWindow(640, 480);
  default_device_index = with_gl ? D3DX_HWLEVEL_RASTER : D3DX_HWLEVEL_NULL;
  if (selectDevice(false, window) != 0) {
    std::fprintf(stderr, "bench_show: no device\n");
    return 1;
  }
  double context_ms = millisecondsSince(step);
  step = Clock::now();
  debug_trace_hook = recordTrace;
  loadScenes();
  debug_trace_hook = nullptr;
  Clock::time_point loaded = Clock::now();
  double load_ms = millisecondsSince(step);
  LoadSplit split = splitLoading(loaded);
  step = Clock::now();
  GlDeviceCounters before_preparing = glDeviceCounters(device);
  prepareDrawing();
  GlDeviceCounters prepared = glDeviceCounters(device);
  double prepare_ms = millisecondsSince(step);
  step = Clock::now();
  FMUSIC_PlaySong(song);
  // As WinMain starts the timeline: the first frame has the opening fade over it.
  fade_half_length = 250;
  fade_start_ms = int32_t(GetTickCount() - 10000);
  overlay_hook = fadeOverlay;
  startTimeline(GetTickCount());
  drawSceneFrame(current_scene, timelineFrame(GetTickCount()));
  context->UpdateFrame(0);
  double first_frame_ms = millisecondsSince(step);
  double to_first_frame_ms = millisecondsSince(program_start);
  FMUSIC_FreeSong(song);
  FSOUND_Close();

  std::vector<std::string> pictures = startUpPictures(first_scene, second_scene);
  double libjpeg_ms = libjpegAloneMilliseconds(pictures);
  int entries = 0;
  double inflating_ms = inflatingAloneMilliseconds(&entries);
  // The two parts that vary most from one measurement to the next: the median of three.
  double context_alone_ms = with_gl ? medianOfThree(contextAloneMilliseconds) : 0;

  std::printf("start-up (%s device, render target %dx%d)\n", with_gl ? "GL" : "null", platform_settings.render_width,
              platform_settings.render_height);
  std::printf("  pack mount                 %8.1f ms\n", mount_ms);
  std::printf("  music load                 %8.1f ms\n", music_ms);
  std::printf("  context and device         %8.1f ms\n", context_ms);
  std::printf("  content (scenes, logos, skyboxes) %8.1f ms, of which\n", load_ms);
  std::printf("    pictures (%d decodes into textures) %8.1f ms\n", split.pictures, split.pictures_ms);
  std::printf("    octrees                  %8.1f ms\n", split.octrees_ms);
  std::printf("    scene files              %8.1f ms\n", split.scene_files_ms);
  std::printf("  drawing prepared (%d shader programs built) %8.1f ms\n",
              int(prepared.program_builds - before_preparing.program_builds), prepare_ms);
  std::printf("  first frame drawn and presented %8.1f ms\n", first_frame_ms);
  std::printf("  program start to first presented frame %8.1f ms\n", to_first_frame_ms);

  LoopFigures loop = runTimeline(with_gl, finish, every);
  std::printf("timeline: %d frames, every %d. of the 25 fps timeline (107.5 s of show)\n", loop.frames, every);
  std::printf("  CPU time per frame         %8.3f ms: main thread %.3f, llvmpipe %.3f, other threads %.3f\n",
              loop.cpu_ms / loop.frames, loop.threads.main_ms / loop.frames, loop.threads.llvmpipe_ms / loop.frames,
              loop.threads.other_ms / loop.frames);
  std::printf("  wall time per frame        %8.3f ms  (%.1f frames/s%s)\n", loop.wall_ms / loop.frames,
              loop.frames * 1000.0 / loop.wall_ms,
              !with_gl ? "" : finish ? ", presented and read back" : ", presented and flushed");
  printLongestFrames(loop);

  // Every program the show used is built by now, whenever it was first needed.
  int programs = 0;
  double programs_ms = medianOfThree([&programs] {
    Clock::time_point start = Clock::now();
    programs = rebuildGlPrograms(device);
    return millisecondsSince(start);
  });
  double floor_ms = libjpeg_ms + inflating_ms + context_alone_ms + programs_ms;
  std::printf("floor: the work no start-up can skip, each part alone\n");
  std::printf("  libjpeg decoding the same %zu pictures from memory %8.1f ms\n", pictures.size(), libjpeg_ms);
  std::printf("  reading and inflating every pack entry (%d) %8.1f ms\n", entries, inflating_ms);
  if (with_gl) {
    std::printf("  a window and its GL context, in a process of their own %8.1f ms\n", context_alone_ms);
    std::printf("  building the %d shader programs the show used, the driver's code included %8.1f ms\n", programs,
                programs_ms);
  }
  std::printf("  floor                      %8.1f ms\n", floor_ms);
  std::printf("  program start to first presented frame %8.1f ms = %.2f x the floor\n", to_first_frame_ms,
              to_first_frame_ms / floor_ms);
  return 0;
}
