// Helpers shared by the tests: scratch folders, files, and running the show as a child process.
#pragma once

#include <string>
#include <vector>

// A fresh empty folder under the build tree, named after the running test.
std::string scratchFolder();
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> readFile(const std::string& path);

struct ChildResult {
  int exit_code;       // -1 when the child did not exit normally
  std::string output;  // standard output and standard error, interleaved
};
// Runs `arguments[0]` with the rest as its arguments in `folder`, with extra environment settings
// ("NAME=value"), and waits for it at most `timeout_seconds`.
ChildResult runChild(const std::vector<std::string>& arguments, const std::string& folder,
                     const std::vector<std::string>& environment = {}, int timeout_seconds = 120);

// A PNG file as 8-bit RGB rows (empty when it cannot be read).
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};
Image readPng(const std::string& path);
// Mean absolute difference per colour sample; huge when the sizes differ.
double meanDifference(const Image& a, const Image& b);
