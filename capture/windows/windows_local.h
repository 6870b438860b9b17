// Inside the Windows capture backend only (capture/windows/): what its files ask of each other. The
// calls into Windows are made in windows_calls.cpp, the one file that includes <windows.h>; its
// DWORD and HWND would clash with the stand-ins' (platform/win32.h), which capture/backend.h brings,
// so this header speaks in plain types. Text is UTF-8 throughout, as the show's manifest makes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- Command lines (windows_command_line.cpp) ---------------------------------------------------------
// The command line that Windows' C runtime (and CommandLineToArgvW) splits back into exactly `words`:
// words[0], the program's path, in quotes; each argument after it as it is, or quoted where a blank, a
// quote or nothing at all must be kept, with the backslashes before a quote doubled.
std::string windowsCommandLine(const std::vector<std::string>& words);

// ---- Child processes (windows_calls.cpp) -------------------------------------------------------------
// Every child is started in a job object that ends it when this process ends, however that ends.
struct ChildStreams {
  intptr_t output_file = -1;  // its standard output: an open temporary file's handle (-1: nowhere)
  intptr_t log_file = -1;     // its standard error: an open temporary file's handle (-1: nowhere)
  bool input_pipe = false;    // its standard input: a pipe this process writes into (else nothing)
  std::vector<std::string> environment;  // "NAME=value" settings it gets besides this process's own
  // Whether it takes the console's Ctrl-C: the encoder does not (it ends when its pipe closes). A
  // child that does not is kept off the console.
  bool takes_ctrl_c = true;
};
// Starts `program` (a full path) with `command_line`: its process id, or -1 with the reason in
// *error. With input_pipe, *input is the C runtime's descriptor of the pipe's end to write to.
int startProcess(const std::string& program, const std::string& command_line, const ChildStreams& streams, int* input,
                 std::string* error);
// Whether the process has ended; then its *exit_code is set, and the process forgotten.
bool processEnded(int id, int* exit_code);
// Waits until the process has ended: its exit code.
int waitForProcess(int id);
// Ctrl-Break, sent to it alone (each child is the first of its own console group), as SIGTERM asks a
// process on Linux. Without a console to send it by (or under Wine, which sends no Ctrl-Break) nothing
// happens: every end request on Windows comes through the console, which the parts and ffmpeg's runs
// share, and a wait that asked ends the child at once after its grace.
void askProcessToEnd(int id);
// Ended at once, with exit code 137, as SIGKILL ends a process on Linux.
void endProcessAtOnce(int id);
// Writes all of `bytes` into the pipe; false when its reader has gone.
bool writeToPipe(int input, const uint8_t* bytes, size_t count);
void closePipe(int input);

// ---- The system (windows_calls.cpp) --------------------------------------------------------------------
// The full path of an executable (.exe, .com) named `program`, looked for in the folders of PATH, or
// `program` itself when it is a path to one; empty when there is none.
std::string findExecutable(const std::string& program);
// The processors this process may run on.
int allowedProcessors();
// A new empty file narvu-STEM-XXXXXX in Windows' temporary folder (TMP, TEMP), open for reading and
// writing and deleted when its last handle closes: its handle, or -1 with errno set.
intptr_t createTemporaryFile(const char* stem);
// At most `most` bytes of the temporary file: its first ones, or its last ones when `tail`. Read
// through a handle of its own, so that the position a child writes at is never moved.
std::string readTemporaryFileAt(intptr_t file, size_t most, bool tail);
void closeTemporaryFileHandle(intptr_t file);
// Whether a file can be made in `folder`: Windows' access lists decide, so one is made and removed.
bool folderTakesFiles(const std::string& folder);
bool standardErrorIsConsole();
