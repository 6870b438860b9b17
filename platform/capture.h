// Frame capture (platform/capture.cpp): every presented frame of a --capture run, written as
// DIR/frame_NNNNNN.png, or piped as raw RGB to the ffmpeg program, which encodes a video file; the
// music, rendered offline by the sound library into platform_settings.sound_capture_path, is muxed in
// by finishCapture.
//
// The context's UpdateFrame hands every presented frame over. Frame i shows moment i / fps of the
// timeline (the virtual clock moves one frame period per drawn frame and every drawn frame is
// presented), so the index alone places a frame in time; --from and --to choose the frames that are
// written, and the sound is cut to the same moments.
#pragma once

#include <string>

// Whether platform_settings.capture_path names a video file (.mp4, .mkv, .webm) rather than a folder.
bool captureIsVideo();
// False, with the reason, when the capture target cannot be made (a video without ffmpeg).
bool captureTargetUsable(std::string* error);
// Null while the capture is sound; after a failure, why (frames after it are not written). The shell
// checks it after every presented frame.
const char* captureError();
// Ends a capture: closes the video stream and muxes in the music, which must be on disk by then.
void finishCapture();
