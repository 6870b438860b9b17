// The capture's writer in the page, where there are no threads: each frame is written as it is handed
// over, into the page's file system, where narvu.FS reads it. Only folders of PNG frames: a video needs
// the ffmpeg program, which a browser cannot run (the page refuses such a capture before it starts).
#include <cerrno>
#include <cstring>

#include "capture/capture_local.h"

static long written_frames = 0;
static bool folder_ready = false;
static std::vector<uint8_t> top_down;  // a frame's rows turned top to bottom

long captureFramesWritten() { return written_frames; }

bool queueCaptureFrame(long index, const uint8_t* rows, int width, int height, bool bottom_up) {
  if (captureError()) return false;
  if (captureIsVideo())
    return failCapture("the page writes PNG frames only: a video needs ffmpeg, which a browser cannot run");
  const std::string& folder = capture_settings.capture_path;
  if (!folder_ready && !makeFrameFolder(folder))
    return failCapture("cannot make the folder " + folder + ": " + std::strerror(errno));
  folder_ready = true;
  const uint8_t* rgb = rows;
  if (bottom_up) {
    copyRowsTopDown(rows, width, height, true, &top_down);
    rgb = top_down.data();
  }
  std::string path = captureFramePath(index);
  if (!writePngFile(path, rgb, width, height)) return failCapture("cannot write " + path + ": " + std::strerror(errno));
  ++written_frames;
  return true;
}

// Every frame is written before queueCaptureFrame returns.
void drainCaptureWriter() {}
void stopCaptureWriter() {}

bool closeCaptureEncoder(std::string*) { return true; }

void countJoinedFrames(long frames) { written_frames = frames; }

void resetCaptureWriter() {
  written_frames = 0;
  folder_ready = false;
}
