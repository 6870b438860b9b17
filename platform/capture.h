// Frame capture (platform/capture.cpp, capture_writer.cpp): every presented frame of a
// --capture run, written as DIR/frame_NNNNNN.png, or piped as raw RGB to the ffmpeg program, which
// encodes a video file; the music, rendered offline by the sound library into
// platform_settings.sound_capture_path, is muxed in by finishCapture.
//
// Frames are numbered from the timeline's start: frame i shows moment i / fps (the virtual clock moves
// one frame period per drawn frame). --from and --to choose the frames that are written. The run tells
// capture about every frame: the context's UpdateFrame hands over each presented one, and the run calls
// captureSkipFrame for each frame before the interval that it does not draw.
//
// Writing never holds up drawing: a thread of its own encodes the PNG files or feeds ffmpeg from a queue
// of a few frames, and the GL context reads frames back two presentations late. finishCapture waits for
// both, so whatever ends the run, every frame counted is written.
//
// Videos: .mp4 and .mkv hold H.264 (x264 at --crf, 12 by default, near lossless, and --preset, veryfast
// by default), .webm holds VP9. --lossless writes H.264 in RGB at quantiser 0 into .mp4, FFV1 into .mkv
// and lossless VP9 into .webm.
#pragma once

#include <string>
#include <vector>


// Whether platform_settings.capture_path names a video file (.mp4, .mkv, .webm) rather than a folder.
bool captureIsVideo();
// Checked before anything is rendered: the folder can be made and written, or the video's folder
// written and the ffmpeg program found. False with the reason.
bool captureTargetUsable(std::string* error);

// The interval, as frame numbers: the first at or after --from, the last at or before --to (-1 without
// --to: the frames go on to the run's end).
long captureFirstFrame();
long captureLastFrame();
// Whether the next frame is one to write: false before the interval.
bool captureWantsFrame();
// The next frame goes by undrawn: it counts in the numbering, and the progress line says "seeking".
void captureSkipFrame();
// True once the interval's last frame has gone by.
bool captureComplete();
// Frames gone by, written or skipped: the number of the next one.
long captureFramesCounted();

// Null while the capture is sound; after a failure, why (frames after it are not written). The run
// checks it after every presented frame; a failure of the writing thread shows there a few frames late.
const char* captureError();
// Ends a capture: the frames still being read back or queued are written, the video stream is closed
// and the music muxed in (it must be on disk by then). The temporary files go. False, with the reason,
// when a file the capture was to write is not complete (also after an earlier failure). Only the first
// call does anything.
bool finishCapture(std::string* error);
// "N frames (S s of show) in W s, X x real time, B MB in PATH".
std::string captureSummary();

// The ffmpeg command line of a video capture of width × height, reading raw RGB frames on its standard
// input and writing the video stream to `output` (benchmarks time the encoder alone with it).
std::vector<std::string> captureEncoderCommand(int width, int height, const std::string& output);
