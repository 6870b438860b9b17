// The capture's writer: a thread of its own that encodes the PNG files or feeds the ffmpeg program, so
// that drawing never waits for either. Frames come through a queue of kQueueLength frames in the order
// they were numbered, and are written in that order, byte for byte as they came; a full queue makes
// whoever queues wait, which bounds the memory. After a failure (failCapture) the frames still queued
// are dropped, and captureError tells the run.
//
// Threads: queueCaptureFrame, drainCaptureWriter and stopCaptureWriter are called from the thread that
// reads frames back (the main thread); the encoder and the folder belong to the writing thread until
// stopCaptureWriter has joined it, and to the caller of closeCaptureEncoder after.
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "capture/backend.h"

// Enough to even out a slow PNG or a busy encoder over a few frames; 25 MB at 1920 × 1080.
static const size_t kQueueLength = 4;

struct QueuedFrame {
  long index = 0;
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows top to bottom
};

struct Writer {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<QueuedFrame> waiting;
  std::vector<std::vector<uint8_t>> spare;  // pixel buffers of written frames, used again
  bool writing = false;                     // the thread holds a frame that is not in `waiting`
  bool stopping = false;
  std::thread thread;
};
// What the writer holds for one capture. The Writer is made with the first frame and freed only by
// resetCaptureWriter: a process that exits without finishing its capture (a test) leaves the thread
// waiting on it, which a static object's destruction would pull away.
struct WriterState {
  Writer* writer = nullptr;
  std::atomic<long> written_frames{0};
  FfmpegProcess encoder;
  bool encoder_running = false;
  bool folder_ready = false;
};
static WriterState state;

long captureFramesWritten() { return state.written_frames.load(); }

// ---- Writing one frame (the writing thread) ------------------------------------------------------------

static bool startEncoder(int width, int height) {
  std::string error;
  // ffmpeg -y would open whatever is there, a FIFO that nobody reads included, and wait for ever.
  std::remove(captureVideoStreamPath().c_str());
  if (!startFfmpeg(captureEncoderCommand(width, height, captureVideoStreamPath()), &state.encoder, &error))
    return failCapture(error);
  state.encoder_running = true;
  return true;
}

static bool writeFrame(const QueuedFrame& frame) {
  if (captureIsVideo()) {
    if (!state.encoder_running && !startEncoder(frame.width, frame.height)) return false;
    if (!writeToFfmpeg(&state.encoder, frame.rgb.data(), frame.rgb.size())) {
      std::string words;
      finishFfmpeg(&state.encoder, &words);
      state.encoder_running = false;
      return failCapture("ffmpeg stopped taking frames; " + words);
    }
    return true;
  }
  const std::string& folder = capture_settings.capture_path;
  if (!state.folder_ready && !makeFrameFolder(folder))
    return failCapture("cannot make the folder " + folder + ": " + std::strerror(errno));
  state.folder_ready = true;
  std::string path = captureFramePath(frame.index);
  if (!writePngFile(path, frame.rgb.data(), frame.width, frame.height))
    return failCapture("cannot write " + path + ": " + std::strerror(errno));
  return true;
}

static void writeQueuedFrames() {
  leaveEndSignalsToMainThread();
  std::unique_lock<std::mutex> hold(state.writer->lock);
  while (true) {
    state.writer->changed.wait(hold, [] { return state.writer->stopping || !state.writer->waiting.empty(); });
    if (state.writer->waiting.empty()) return;
    QueuedFrame frame = std::move(state.writer->waiting.front());
    state.writer->waiting.pop_front();
    state.writer->writing = true;
    hold.unlock();
    if (!captureError() && writeFrame(frame)) ++state.written_frames;
    hold.lock();
    state.writer->writing = false;
    state.writer->spare.push_back(std::move(frame.rgb));
    state.writer->changed.notify_all();
  }
}

// ---- The queue (the reading thread) ----------------------------------------------------------------------

bool queueCaptureFrame(long index, const uint8_t* rows, int width, int height, bool bottom_up) {
  if (captureError()) return false;
  if (state.writer && state.writer->stopping) return failCapture("a frame came after the capture was finished");
  if (!state.writer) {
    state.writer = new Writer;
    state.writer->thread = std::thread(writeQueuedFrames);
  }
  QueuedFrame frame;
  frame.index = index;
  frame.width = width;
  frame.height = height;
  {
    std::unique_lock<std::mutex> hold(state.writer->lock);
    state.writer->changed.wait(hold, [] { return state.writer->waiting.size() < kQueueLength; });
    if (!state.writer->spare.empty()) {
      frame.rgb = std::move(state.writer->spare.back());
      state.writer->spare.pop_back();
    }
  }
  copyRowsTopDown(rows, width, height, bottom_up, &frame.rgb);
  std::lock_guard<std::mutex> hold(state.writer->lock);
  state.writer->waiting.push_back(std::move(frame));
  state.writer->changed.notify_all();
  return true;
}

void drainCaptureWriter() {
  if (!state.writer) return;
  std::unique_lock<std::mutex> hold(state.writer->lock);
  state.writer->changed.wait(hold, [] { return state.writer->waiting.empty() && !state.writer->writing; });
}

void stopCaptureWriter() {
  if (!state.writer || !state.writer->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(state.writer->lock);
    state.writer->stopping = true;
    state.writer->changed.notify_all();
  }
  state.writer->thread.join();
}

bool closeCaptureEncoder(std::string* error) {
  if (!state.encoder_running) return true;
  state.encoder_running = false;
  return finishFfmpeg(&state.encoder, error);
}

void countJoinedFrames(long frames) { state.written_frames = frames; }

void resetCaptureWriter() {
  stopCaptureWriter();
  std::string ignored;
  closeCaptureEncoder(&ignored);
  delete state.writer;
  state.writer = nullptr;
  state.written_frames = 0;
  state.folder_ready = false;
}
