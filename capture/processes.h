// Child processes of this program (capture/processes.cpp): the parts of a capture made side by side
// (this program again), ffmpeg when it muxes or joins, ffprobe when it checks a part, and the programs
// the tools run. Each is started without a shell from an argument vector, with its standard input from
// /dev/null and its standard error (and, unless asked for apart, its standard output) in a temporary
// file of its own, so that children running together do not write over each other's lines and a
// failing child's own words can be shown. Those files have no name (capture/backend.h says how each
// system makes them): they go with the last process that holds them, even when the show is killed.
//
// A child gets SIGTERM when the thread that started it ends (PR_SET_PDEATHSIG): start children from
// the main thread, which ends with the process, so that none outlives a show that was killed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A temporary file without a name, open until closeTemporaryFile (capture/backend.h).
struct TemporaryFile {
  intptr_t handle = -1;  // the system's handle of the open file; -1 for none
};

// Why this build starts no other programs, or null where it starts them: a web page runs none, so it
// makes no video (ffmpeg) and no parts side by side (--jobs), which the options refuse before anything
// starts (the system backend).
extern const char* const kProgramsUnavailable;

struct ChildProcess {
  int pid = -1;
  TemporaryFile log;     // its standard error, and its standard output unless `output` is open
  TemporaryFile output;  // its standard output, when asked for apart
  std::vector<std::string> environment;  // "NAME=value" settings it gets besides this process's own
  int exit_code = -1;      // once waited for: its exit code, or 128 + the signal that ended it
  bool timed_out = false;  // this process ended it after its time limit (waitForChild)
};
// Starts `program` (a path, or a name looked for on the PATH) with `arguments` (without the program's
// name); with `separate_output`, its standard output goes to a file of its own (`output`). False
// with the reason.
bool startChild(const std::string& program, const std::vector<std::string>& arguments, bool separate_output,
                ChildProcess* child, std::string* error);
// The same for this program's own executable.
bool startThisProgram(const std::vector<std::string>& arguments, ChildProcess* child, std::string* error);
// Waits for one child. An end signal that comes while it waits (endSignalCount rises above
// `signals_before`) ends the child: SIGTERM, then SIGKILL if it has not ended after a grace of two
// seconds; so does running longer than `seconds_allowed` (0: no limit), which sets child->timed_out.
// Returns the end signal that ended the wait, or 0.
int waitForChild(ChildProcess* child, int signals_before, int seconds_allowed = 0);
// Waits until every child has ended, calling `each_turn` (when given) a few times a second meanwhile.
// When this process is asked to end (endSignal) meanwhile, every child still running is sent the same
// signal, once, so that each finishes what it has.
void waitForChildren(std::vector<ChildProcess>* children, const std::function<void()>& each_turn = nullptr);
// The last lines of a child's log (at most `most` bytes), trailing blanks removed.
std::string childWords(const ChildProcess& child, size_t most);
// A child's standard output, when it went to a file of its own: at most its first `most` bytes.
std::string childOutput(const ChildProcess& child, size_t most);
// Closes a child's files, which then go.
void forgetChild(ChildProcess* child);

// What a program may take: seconds before it is ended (0: no limit), and the bytes of its standard
// output that are read (the rest is not looked at: a program that prints without end cannot fill
// this one's memory).
struct ProgramLimits {
  int seconds = 0;
  size_t output_bytes = size_t(1) << 20;
};
// A program run to its end: its exit code (128 + a signal; -1 when it could not be started), its
// standard output and its standard error. An end signal during the run, or its time limit, ends it as
// waitForChild does.
struct ProgramRun {
  int exit_code = -1;
  int ended_by_signal = 0;  // the end signal that stopped the wait, or 0
  bool timed_out = false;   // it ran past its time limit and was ended
  bool output_cut = false;  // it printed more than the limit; `output` holds the first part
  std::string output;
  std::string errors;  // the end of its standard error, or why it could not be started
};
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramLimits& limits = ProgramLimits());

// The full path of `program` (a name looked for in the folders of PATH, or a path), empty when it is
// not there or cannot be run.
std::string findProgram(const std::string& program);
// The processors this process may run on.
int processorCount();
