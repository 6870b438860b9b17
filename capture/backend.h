// What a system backend gives capture. capture.cpp, capture_join.cpp, ffmpeg.cpp and processes.cpp are
// the same in every build; beneath them each build compiles the folders of its system:
//
//   capture/posix/      Linux: child processes by fork and exec, the encoder's pipe, temporary files
//   capture/threaded/   the capture's writer on a thread of its own (every build that has threads)
//   capture/web/        the page: its writer, which writes each frame as it comes, and child processes
//                       that cannot be started (a browser runs no programs)
//
// The top CMakeLists.txt chooses the folders (narvu_capture_backends). Besides what is declared here a
// system backend defines findProgram and processorCount (capture/processes.h), and a writer folder the
// writer's calls in capture_local.h (queueCaptureFrame to closeCaptureEncoder).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_local.h"

// ---- Files --------------------------------------------------------------------------------------------
// Temporary files (children's logs and output, the encoder's log) must not outlive the show, even one
// killed by SIGKILL, which runs no clean-up of its own. So each is a file without a name from the
// moment it is made: a backend opens it and gives up its name at once, and the system deletes it with
// the last handle to it, whoever holds it (this process, or a child writing into it). POSIX: mkstemp in
// TMPDIR (or /tmp), then unlink while it is open. Windows: CreateFile in the temporary folder with
// FILE_FLAG_DELETE_ON_CLOSE and FILE_SHARE_DELETE, its handle inheritable for the child that writes it.
// This process reads it at explicit offsets, whatever position the child's writes have reached.
//
// A new empty temporary file, its handle in *file; `stem` is for the system's own listings
// (narvu-STEM-XXXXXX where a name shows). False when none can be made (errno says why).
bool openTemporaryFile(const char* stem, TemporaryFile* file);
// At most `most` bytes of the file as it is now: its first ones, or its last ones when `tail`.
std::string readTemporaryFile(const TemporaryFile& file, size_t most, bool tail);
// Gives up this process's handle (the file goes once no child holds it either); none is a no-op.
void closeTemporaryFile(TemporaryFile* file);
// Whether this process may make files in `folder`, which is there.
bool folderIsWritable(const std::string& folder);
// Whether standard error is a terminal, where a progress line may be rewritten in place.
bool standardErrorIsTerminal();

// ---- Child processes (processes.cpp) --------------------------------------------------------------------
// Starts the program at `path` (as findProgram gives it) with `arguments`, its standard input empty,
// its standard output into child->output (or child->log when that is not open) and its standard error
// into child->log, temporary files that are open; its environment is this process's with
// child->environment's settings added. The child takes the end signals as a fresh
// process does, and ends when this process ends, however it ends. False with the reason.
bool launchChild(const std::string& path, const std::vector<std::string>& arguments, ChildProcess* child,
                 std::string* error);
// Whether the child has ended: then its exit_code is set (128 + the signal that ended it) and pid is -1.
bool childEnded(ChildProcess* child);
// Asks the child to end, as `signal_number` (SIGINT or SIGTERM) asks this process.
void askChildToEnd(const ChildProcess& child, int signal_number);
// Ends the child at once.
void endChildAtOnce(const ChildProcess& child);

// ---- The encoder (ffmpeg.cpp) ---------------------------------------------------------------------------
// Starts ffmpeg with `arguments` (arguments[0] is "ffmpeg", looked for on the PATH), reading the frames
// from a pipe (process->input), its standard error into process->log (a temporary file, or none when
// it is not open). It does not take SIGINT or SIGTERM, so that a terminal's Ctrl-C leaves it to finish
// the frames it has; it ends when the pipe closes. False with the reason.
bool launchEncoder(const std::vector<std::string>& arguments, FfmpegProcess* process, std::string* error);
// Writes all of `bytes` into the pipe; false when it no longer takes them (ffmpeg has ended).
bool writeToFfmpeg(FfmpegProcess* process, const uint8_t* bytes, size_t count);
// Closes the pipe and waits for ffmpeg: whether it exited with success.
bool closeEncoder(FfmpegProcess* process);
