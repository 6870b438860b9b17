// The whole show captured to a video file, as a multiple of real time: how long a capture of the
// 107.5 s timeline takes at 640 × 480 and 25 frames a second, and at 1920 × 1080 and 60.
//
//   bench_capture [WxH@FPS ...]      default: 640x480@25 1920x1080@60
//
// Needs ffmpeg (the capture encodes H.264 through it); writes into a temporary folder and removes it.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::string> settings;
  for (int i = 1; i < argc; ++i) settings.push_back(argv[i]);
  if (settings.empty()) settings = {"640x480@25", "1920x1080@60"};
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "bench_capture: needs the ffmpeg program\n");
    return 1;
  }
  char folder[] = "/tmp/narvu-capture-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const double show_seconds = 107.5;
  std::printf("%-14s %10s %10s %12s\n", "capture", "seconds", "frames/s", "x real time");
  for (const std::string& setting : settings) {
    int width = 0, height = 0, fps = 0;
    if (std::sscanf(setting.c_str(), "%dx%d@%d", &width, &height, &fps) != 3 || fps <= 0) {
      std::fprintf(stderr, "bench_capture: '%s' is not WxH@FPS\n", setting.c_str());
      continue;
    }
    std::string video = std::string(folder) + "/show.mp4";
    std::string command = std::string(NARVU_BENCH_BUILD_DIR) + "/narvu --capture " + video + " --fps " +
                          std::to_string(fps) + " --size " + std::to_string(width) + "x" +
                          std::to_string(height) + " > /dev/null 2>&1";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
      std::printf("%-14s failed (exit status %d)\n", setting.c_str(), status);
      continue;
    }
    double frames = show_seconds * fps + 1;
    std::printf("%-14s %10.1f %10.1f %12.3f\n", setting.c_str(), seconds, frames / seconds, show_seconds / seconds);
    std::fflush(stdout);
    std::remove(video.c_str());
  }
  rmdir(folder);
  return 0;
}
