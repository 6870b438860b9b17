// Child processes of this program (capture/processes.cpp): the parts of a capture made side by side
// (this program again), ffmpeg when it muxes or joins, ffprobe when it checks a part, and the programs
// the tools run. Each is started without a shell from an argument vector, with its standard input from
// /dev/null and its standard error (and, unless asked for apart, its standard output) in a file of its
// own, so that children running together do not write over each other's lines and a failing child's own
// words can be shown.
//
// A child gets SIGTERM when the thread that started it ends (PR_SET_PDEATHSIG): start children from
// the main thread, which ends with the process, so that none outlives a show that was killed.
#pragma once

#include <string>
#include <vector>

// Why this build starts no other programs, or null where it starts them: a web page runs none, so it
// makes no video (ffmpeg) and no parts side by side (--jobs), which the options refuse before anything
// starts (the system backend).
extern const char* const kProgramsUnavailable;

struct ChildProcess {
  int pid = -1;
  std::string log_path;     // its standard error, and its standard output unless output_path is set
  std::string output_path;  // its standard output, when asked for apart
  int exit_code = -1;       // once waited for: its exit code, or 128 + the signal that ended it
};
// Starts `program` (a path, or a name looked for on the PATH) with `arguments` (without the program's
// name); with `separate_output`, its standard output goes to a file of its own (output_path). False
// with the reason.
bool startChild(const std::string& program, const std::vector<std::string>& arguments, bool separate_output,
                ChildProcess* child, std::string* error);
// The same for this program's own executable.
bool startThisProgram(const std::vector<std::string>& arguments, ChildProcess* child, std::string* error);
// Waits for one child. An end signal that comes while it waits (endSignalCount rises above
// `signals_before`) ends the child: SIGTERM, then SIGKILL if it has not ended after a grace of two
// seconds. Returns the signal that ended the wait so, or 0 when the child ended by itself.
int waitForChild(ChildProcess* child, int signals_before);
// Waits until every child has ended. When this process is asked to end (endSignal) meanwhile, every
// child still running is sent the same signal, once, so that each finishes what it has.
void waitForChildren(std::vector<ChildProcess>* children);
// The last lines of a child's log (at most `most` bytes), trailing blanks removed.
std::string childWords(const ChildProcess& child, size_t most);
// A child's standard output, when it went to a file of its own.
std::string childOutput(const ChildProcess& child);
// Removes a child's files.
void forgetChild(ChildProcess* child);

// A program run to its end: its exit code (128 + a signal; -1 when it could not be started), its
// standard output and its standard error. An end signal during the run ends it as waitForChild does.
struct ProgramRun {
  int exit_code = -1;
  int ended_by_signal = 0;  // the end signal that stopped the wait, or 0
  std::string output;
  std::string errors;  // its standard error, or why it could not be started
};
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments);

// The full path of `program` (a name looked for in the folders of PATH, or a path), empty when it is
// not there or cannot be run.
std::string findProgram(const std::string& program);
// The processors this process may run on.
int processorCount();
