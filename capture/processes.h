// Child processes of this program (capture/processes.cpp): a capture made in parts side by side runs
// each part as this program again. Started without a shell from an argument vector; each child's
// standard output and error go to a file of its own, so that parts running together do not write over
// each other's progress lines, and a failing part's own words can be shown.
#pragma once

#include <string>
#include <vector>

struct ChildProcess {
  int pid = -1;
  std::string log_path;  // its standard output and error
  int exit_code = -1;    // after waitForChildren: its exit code, or 128 + the signal that ended it
};
// Starts this program's executable with `arguments` (without the program's name). False with the reason.
bool startThisProgram(const std::vector<std::string>& arguments, ChildProcess* child, std::string* error);
// Waits until every child has ended. When this process is asked to end (endSignal) meanwhile, every
// child still running is sent the same signal, once, so that each finishes what it has.
void waitForChildren(std::vector<ChildProcess>* children);
// The last lines of a child's log (at most `most` bytes), trailing blanks removed.
std::string childWords(const ChildProcess& child, size_t most);
// Removes a child's log.
void forgetChild(ChildProcess* child);
