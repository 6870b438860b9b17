// Inside capture/ only: what the capture's files ask of each other. The rest of the program sees
// capture/capture.h and capture/processes.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/processes.h"

// ---- The ffmpeg program (ffmpeg.cpp) -------------------------------------------------------------------
struct FfmpegProcess {
  int pid = -1;
  int input = -1;        // its standard input, when it reads frames from us; -1 otherwise
  TemporaryFile log;     // its standard error, kept until it has finished
};
// "file:" and the absolute path: a name ffmpeg takes for nothing but a file.
std::string ffmpegFileArgument(const std::string& path);
// Starts the encoder: ffmpeg with `arguments` (arguments[0] is "ffmpeg"), reading a pipe we write to,
// with SIGINT and SIGTERM blocked (see ffmpeg.cpp). False with the reason when it cannot be started.
bool startFfmpeg(const std::vector<std::string>& arguments, FfmpegProcess* process, std::string* error);
// Runs ffmpeg with `arguments` (arguments[0] is "ffmpeg") on files, to its end: true when it succeeded,
// else false with its words, or with "stopped by SIGTERM" when an end signal ended it (the capture then
// ends with 128 + it; see noteCaptureStopped).
bool runFfmpeg(const std::vector<std::string>& arguments, std::string* error);
// writeToFfmpeg, which feeds it, is the system backend's (capture/backend.h).
// Closes its input and waits for it: true when it succeeded, else `error` holds what it said.
bool finishFfmpeg(FfmpegProcess* process, std::string* error);

// ---- Capture (capture.cpp, and the writer: threaded/ or web/) -----------------------------------------
// The sink's frame_presented, for every presented frame: counts it, and returns its number when it is
// one to write, -1 when not (outside the run's frames, or after a failure).
long capturePresentedFrame();
// A frame to write, numbered by capturePresentedFrame, in that order: 3 bytes a pixel (R, G, B), rows
// bottom to top when `bottom_up` (as GL reads them). The pixels are copied into the writing thread's
// queue; the call waits while the queue is full. False after a failure; captureError says why.
bool queueCaptureFrame(long index, const uint8_t* rows, int width, int height, bool bottom_up);
// Waits until every queued frame is written, then ends the writing thread (finishCapture).
void stopCaptureWriter();
// Waits until every queued frame is written (a context that goes leaves nothing unwritten).
void drainCaptureWriter();
// Ends the writer as stopCaptureWriter does and forgets the capture it wrote (endCapture).
void resetCaptureWriter();
// A join's frames, counted as written for the summary.
void countJoinedFrames(long frames);
// What the summary reports: the file or folder written, and the first of its frames.
void setCaptureOutput(const std::string& path, long first_frame);
// Remembers the first failure (any thread); false, for the caller to return.
bool failCapture(const std::string& what);
// An end signal stopped a program the capture waited for (its output is removed): the capture failed,
// and the run ends with 128 + the signal.
void noteCaptureStopped(int signal_number);
// Closes the encoder's pipe once the writing thread has ended and waits for ffmpeg: false with its
// words when it failed; true when none ran.
bool closeCaptureEncoder(std::string* error);
// Where the video stream of this run goes while it is encoded.
std::string captureVideoStreamPath();
// A video part's name: the frames it holds (see capture/capture.h).
std::string capturePartPath(long first, long last);
// Removes the video parts (regular files) whose frames lie within `frames`, but `kept`: what is left of
// earlier runs of a part that has now been made whole.
void removePartsWithin(const CaptureFrames& frames, const std::string& kept);
// Frame `index` of a folder capture: capture_path/frame_NNNNNN.png.
std::string captureFramePath(long index);
// A folder capture's files (frame_files.cpp): the folder made, with its parents; a frame of 3 bytes a
// pixel, rows top to bottom, as an 8-bit RGB PNG file. False when the system refuses (errno says why).
bool makeFrameFolder(const std::string& path);
bool writePngFile(const std::string& path, const uint8_t* rgb, int width, int height);
// A check of a video written under `path` before it takes its own name: false with why.
using CaptureCheck = std::function<bool(const std::string& path, std::string* error)>;
// Writes capture_path from the video stream that `video_input` opens (ffmpeg's input arguments) and
// `music` when it is there (sound_capture_path's WAV, encoded now; or a music part, copied), copying the
// video. The video is written under another name beside capture_path, checked by `check` (none: null),
// and only then named capture_path. Removes what it wrote when it fails.
bool muxCaptureVideo(const std::vector<std::string>& video_input, const std::string& music,
                     const CaptureCheck& check, std::string* error);
// The ffmpeg arguments that choose the codec of capture_path's kind and the quality.
std::vector<std::string> captureEncoderOptions();
// Whether capture_path ends in `tail` (lower case), whatever the case of its letters.
bool capturePathEndsWith(const char* tail);
// The capture's frames a second (60 when none is set).
double captureFramesPerSecond(const CaptureSettings& settings);

