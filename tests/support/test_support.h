// Helpers shared by the tests: scratch folders, files, and running the show as a child process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh empty folder under the build tree (or under NARVU_TEST_SCRATCH), named after the running test.
std::string scratchFolder();
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> readFile(const std::string& path);
// A 70-byte pack: a stored directory of one entry `name`, whose 8 stored bytes are the zlib stream of
// nothing and whose record declares `declared_size` unpacked bytes and a checksum of 0, the hash of
// any run of zeros.
std::vector<unsigned char> packDeclaringTooMuch(const std::string& name, uint32_t declared_size);

// Sets an environment variable of this process, or removes it when `value` is null (support/posix/ or
// support/windows/).
void setEnvironmentVariable(const char* name, const char* value);

struct ChildResult {
  int exit_code;       // -1 when the child did not exit normally
  std::string output;  // standard output and standard error, interleaved
  long peak_memory_kb;  // the child's largest resident set
  double cpu_seconds;   // user and system time of the child and of the children it waited for
};
// The sanitizers' shadow memory and quarantine add to every process's resident set; a memory bound
// checked in a test allows for them in a sanitizer build.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kSanitizerMemoryKb = 400 * 1024;
#else
constexpr long kSanitizerMemoryKb = 0;
#endif
// A signal sent to a running child once `when_exists` (a path) exists, or once its output holds
// `when_output_has`; no signal when `number` is 0.
struct ChildSignal {
  int number = 0;
  std::string when_exists;
  std::string when_output_has;
  int after_milliseconds = 0;  // and no sooner than this after the start
};
// Runs `arguments[0]` with the rest as its arguments in `folder`, with extra environment settings
// ("NAME=value"), and waits for it at most `timeout_seconds`.
ChildResult runChild(const std::vector<std::string>& arguments, const std::string& folder,
                     const std::vector<std::string>& environment = {}, int timeout_seconds = 120,
                     const ChildSignal& signal = ChildSignal());
// The same in two steps, for a child that runs while the test looks at it: startChild returns at once
// (its output goes to `folder`/`output_name`), waitChild waits at most `timeout_seconds` and kills it
// after that (0: at once). A child waited for has pid -1.
struct RunningChild {
  int pid = -1;
  std::string output_path;
};
RunningChild startChild(const std::vector<std::string>& arguments, const std::string& folder,
                        const std::vector<std::string>& environment, const std::string& output_name);
ChildResult waitChild(RunningChild* child, double timeout_seconds, const ChildSignal& signal = ChildSignal());

// A PNG file as 8-bit RGB rows (empty when it cannot be read).
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};
Image readPng(const std::string& path);
// Mean absolute difference per colour sample; huge when the sizes differ.
double meanDifference(const Image& a, const Image& b);
