// Frame capture (capture/capture.cpp, the writer, capture_join.cpp): every presented frame of a
// --capture run, written as DIR/frame_NNNNNN.png, or piped as raw RGB to the ffmpeg program, which
// encodes a video file; the music, rendered offline by the sound library into
// platform_settings.sound_capture_path, is muxed in by finishCapture.
//
// Capture sits above the platform: beginCapture installs its sink of presented frames in the rendering
// context (see PresentedFrameSink), which hands over every presented frame; nothing in platform/ knows
// about capture.
//
// Frames are numbered from the timeline's start: frame i shows moment i / fps (the virtual clock moves
// one frame period per drawn frame). --from and --to choose the interval; --segment K/N the part of it
// that this run writes. The run tells capture about every frame: the context hands over each presented
// one, and the run calls captureSkipFrame for each frame before its first that it does not draw.
//
// Writing never holds up drawing: a thread of its own encodes the PNG files or feeds ffmpeg from a queue
// of a few frames, and the GL context reads frames back two presentations late. finishCapture waits for
// both, so whatever ends the run, every frame counted is written.
//
// Videos: .mp4 and .mkv hold H.264 (x264 at --crf, 12 by default, near lossless, and --preset, veryfast
// by default), .webm holds VP9. --lossless writes H.264 in RGB at quantiser 0 into .mp4, FFV1 into .mkv
// and lossless VP9 into .webm.
//
// Parts (--segment): a part of a PNG capture is simply its frames, named as in a whole capture, so that
// the parts of one capture share its folder. A part of a video capture is the video stream alone, in
// PATH.frames-FIRST-LAST.mkv beside PATH (its first and last frame as written). Parts have no music:
// captureJoin makes the one video of them once the music of the whole interval is on disk.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// What a capture writes and which frames; main() fills it from the options, tests set it directly.
struct CaptureSettings {
  std::string capture_path;           // non-empty: write every presented frame (PNG folder or video file)
  int fps = 60;                       // frames per second (the virtual clock's rate during the capture)
  int video_crf = -1;                 // video capture quality (-1: the encoder's near-lossless default)
  std::string video_preset;           // x264's preset for H.264 (empty: the capture's default)
  bool video_lossless = false;        // lossless video (see above for the codec of each file kind)
  // --segment K/N: this run captures only the K-th (from 1) of N contiguous parts of the interval
  // (0 of 0: all of it). A video part is written beside the video as a file of its own; see captureJoin.
  int capture_segment = 0;
  int capture_segments = 0;
  double capture_from_seconds = 0;    // frames before this moment of the timeline are not written
  double capture_to_seconds = -1;     // frames after it are not written (-1: to the end)
  double capture_length_seconds = 0;  // how long the run presents frames, for the progress line
};
extern CaptureSettings capture_settings;

// Before the rendering context is created: the virtual clock at the capture's rate, no display, and
// the capture's sink of presented frames installed.
void beginCapture();
// After a capture: its sink uninstalled, the writer ended, and every count and failure forgotten, so
// that a capture begun afterwards in the same process starts as in a fresh one.
void endCapture();

// Whether capture_settings.capture_path names a video file (.mp4, .mkv, .webm) rather than a folder.
bool captureIsVideo();
// Whether `path` does.
bool captureNamesVideo(const std::string& path);
// Whether `path`, given to `option` (--capture, --join), names something a capture can write: a video
// (.mp4, .mkv, .webm) or a folder for PNG frames. A name with another extension (clip.avi) is refused,
// as is a control character (a newline would end a line of the join's list of parts). False with a
// message that names the path and says what to give instead.
bool capturePathAcceptable(const char* option, const std::string& path, std::string* error);
// Checked before anything is rendered: the folder can be made and written, or the video's folder
// written and the ffmpeg program found. False with the reason.
bool captureTargetUsable(std::string* error);

// Frames from `first` to `last`, both included.
struct CaptureFrames {
  long first;
  long last;
};
// The interval: the first frame at or after --from, the last at or before --to; without --to, the last
// is the one that ends the show (the first at or after settings.capture_length_seconds).
CaptureFrames captureInterval(const CaptureSettings& settings);
// The frames a run with these settings writes: the interval, or its K-th of N parts (--segment K/N),
// which split it into runs of frames as even as whole frames allow. A part holds no frame when the
// interval has fewer frames than parts (last < first).
CaptureFrames capturePart(const CaptureSettings& settings);

// This run's frames, as frame numbers: the first, and the last (-1 for a whole run without --to: the
// frames go on to the run's end).
long captureFirstFrame();
long captureLastFrame();
// Whether the next frame is one to write: false before the run's first frame.
bool captureWantsFrame();
// The next frame goes by undrawn: it counts in the numbering, and the progress line says "seeking".
void captureSkipFrame();
// True once the run's last frame has gone by.
bool captureComplete();
// Frames gone by, written or skipped: the number of the next one.
long captureFramesCounted();
// Frames written so far (after a join: the frames joined).
long captureFramesWritten();

// Null while the capture is sound; after a failure, why (frames after it are not written). The run
// checks it after every presented frame; a failure of the writing thread shows there a few frames late.
const char* captureError();
// The end signal that stopped ffmpeg or ffprobe while the capture waited for it after its frames (a
// mux, a join, a part's check), or 0. The run then ends with 128 + it rather than 1.
int captureStoppedBySignal();
// Ends a capture: the frames still being read back or queued are written, the video stream is closed
// and the music muxed in (it must be on disk by then); a part's stream is given its part's name. The
// temporary files go. False, with the reason, when a file the capture was to write is not complete (also
// after an earlier failure). A run `interrupted` by a signal before its first frame has nothing to
// write, which is no failure. Only the first call does anything.
bool finishCapture(bool interrupted, std::string* error);
// "N frames (S s of show) in W s, X x real time, B MB in PATH": PATH is what the run wrote (the video,
// a video part's own file, or the folder of PNG frames), B the bytes of its frames and music there.
std::string captureSummary();
// On a terminal the progress line is rewritten in place; a message after it starts a line of its own.
void captureEndProgressLine();
// Whether a progress line is due now: on a terminal four times a second, otherwise every ten seconds
// (every NARVU_PROGRESS_SECONDS seconds where that is set: --jobs sets it for its parts).
bool captureProgressDue();
// Shows `line` as the progress line: rewritten in place on a terminal, else a line of its own.
void captureShowProgress(const std::string& line);

// The ffmpeg command line of a video capture of width × height, reading raw RGB frames on its standard
// input and writing the video stream to `output` (benchmarks time the encoder alone with it).
std::vector<std::string> captureEncoderCommand(int width, int height, const std::string& output);

// Where the music of a capture is rendered: DIR/audio.wav beside a folder's frames, PATH.audio.wav
// beside a video (a file of the run's own, muxed in and removed at its end).
std::string captureMusicPath();
// The music part of a capture in parts (--segment 0/N): the music of `frames` (the interval) made
// beside the parts, so that the join only copies it. A video's is encoded as the video's own music, in
// a file of its kind: PATH.music-FIRST-LAST.EXT; a folder's is the WAV file DIR/music-FIRST-LAST.wav.
std::string captureMusicPartPath(const CaptureFrames& frames);
// Encodes the WAV file `wav` as the music of capture_path's kind of video into `out`, written under
// another name and renamed when ffmpeg has finished. False with the reason.
bool captureEncodeMusic(const std::string& wav, const std::string& out, std::string* error);

// ---- Joining parts (capture_join.cpp) ------------------------------------------------------------------
// Whether `file_name` is the name of a video part of the capture named `capture_name` (both without
// folders): capture_name.frames-FIRST-LAST.mkv, each number of 1 to 9 digits, FIRST <= LAST. The frames
// it names into *frames.
bool captureParsePartName(const std::string& file_name, const std::string& capture_name, CaptureFrames* frames);
// With capture_path, fps, --from and --to as the parts were made with: the frames from the interval's
// first that the parts on disk hold without a gap, by their names, into *covered (last < first for
// none). True when that is the whole interval; false with what is missing, held twice (and which file
// to delete) or outside the interval.
bool captureJoinCoverage(CaptureFrames* covered, std::string* error);
// Whether the parts that hold `frames` are what their names say: regular files (no folder, FIFO or
// device), each a video of exactly its frames at --fps (ffprobe counts them), all of one size; for a
// PNG capture, every frame a PNG picture of one size. False naming the part and what it holds instead.
bool captureCheckParts(const CaptureFrames& frames, std::string* error);
// Puts the parts holding `frames` (the interval, or its start after an interrupted capture) into the
// one video at capture_path without encoding them again, with `music` (a WAV file, encoded now; or the
// music part, copied; none when empty), counts the frames of the video made, and only then gives it its
// name and removes the parts it holds and the music. Parts after `frames` (what an interrupted capture
// made beyond a gap) are kept for a later join. A PNG capture's frames are its parts already: its music
// is renamed to DIR/audio.wav. The summary counts `frames`. False with the reason (every part stays).
bool captureJoin(const CaptureFrames& frames, const std::string& music, std::string* error);
// Whether the music part at `path` can be joined: a regular file holding the capture kind's music alone
// (a WAV file for a folder). False with why.
bool captureMusicPartUsable(const std::string& path, std::string* why);
// The frames within `within` that parts on disk hold (video parts, or PNG frames), as runs in order.
std::vector<CaptureFrames> captureHeldFrames(const CaptureFrames& within);

// One part of the interval split in N (as --segment K/N splits it), as it is on disk: "done" (all its
// frames there, as its name says), "missing" (none, or some: `detail` says) or "broken" (a file of its
// name that holds something else: `detail` names it and says what).
struct CapturePartState {
  int part = 0;  // K, from 1
  CaptureFrames frames = {0, -1};
  std::string state;
  std::string detail;
};
// Every part of the interval split in `parts`, in order (--join PATH --check N).
std::vector<CapturePartState> captureSplitStates(int parts);
