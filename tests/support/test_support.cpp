#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <png.h>

#include "storage/storage.h"

std::string scratchFolder() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "scratch";
  for (char& c : name)
    if (c == '/') c = '_';
  std::filesystem::path folder = std::filesystem::path(NARVU_BUILD_DIR) / "test-scratch" / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<unsigned char> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static void putWord(std::vector<unsigned char>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> packDeclaringTooMuch(const std::string& name, uint32_t declared_size) {
  const std::vector<unsigned char> empty_zlib = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  std::vector<unsigned char> directory(8 + 24, 0);
  putWord(directory, 0, 8);   // the records start at 8
  putWord(directory, 4, 1);   // one record
  putWord(directory, 8, 0);   // its name is the first of the names
  putWord(directory, 12, 28); // its stored bytes follow the header
  putWord(directory, 16, uint32_t(empty_zlib.size()));
  putWord(directory, 20, declared_size);
  putWord(directory, 24, 1);  // zlib
  putWord(directory, 28, 0);
  directory.insert(directory.end(), name.begin(), name.end());
  directory.push_back(0);
  std::vector<unsigned char> pack = {'Z', 'U', 'R', '2', 0, 0, 0, 0};
  pack.resize(28, 0);
  putWord(pack, 8, 28 + uint32_t(empty_zlib.size()));
  putWord(pack, 12, uint32_t(directory.size()));
  putWord(pack, 16, uint32_t(directory.size()));
  putWord(pack, 20, 0);
  putWord(pack, 24, packHash(directory.data(), uint32_t(directory.size())));
  pack.insert(pack.end(), empty_zlib.begin(), empty_zlib.end());
  pack.insert(pack.end(), directory.begin(), directory.end());
  return pack;
}

static bool outputHas(const std::string& path, const std::string& text) {
  std::vector<unsigned char> bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end()).find(text) != std::string::npos;
}

RunningChild startChild(const std::vector<std::string>& arguments, const std::string& folder,
                        const std::vector<std::string>& environment, const std::string& output_name) {
  RunningChild child;
  child.output_path = folder + "/" + output_name;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(child.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    int null_input = open("/dev/null", O_RDONLY);
    dup2(null_input, 0);
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  child.pid = pid;
  return child;
}

ChildResult waitChild(RunningChild* child, double timeout_seconds, const ChildSignal& signal) {
  ChildResult result{-1, "", 0, 0};
  if (child->pid <= 0) return result;
  auto started = std::chrono::steady_clock::now();
  auto deadline = started + std::chrono::duration<double>(timeout_seconds);
  int status = 0;
  struct rusage usage = {};
  bool signalled = signal.number == 0;
  while (true) {
    pid_t done = wait4(child->pid, &status, WNOHANG, &usage);
    if (done == child->pid) break;
    if (!signalled &&
        std::chrono::steady_clock::now() >= started + std::chrono::milliseconds(signal.after_milliseconds) &&
        (signal.when_exists.empty() || std::filesystem::exists(signal.when_exists)) &&
        (signal.when_output_has.empty() || outputHas(child->output_path, signal.when_output_has))) {
      kill(child->pid, signal.number);
      signalled = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child->pid, SIGKILL);
      wait4(child->pid, &status, 0, &usage);
      result.output = "(killed after timeout)\n";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  child->pid = -1;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.peak_memory_kb = long(usage.ru_maxrss);
  result.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::vector<unsigned char> text = readFile(child->output_path);
  result.output += std::string(text.begin(), text.end());
  return result;
}

ChildResult runChild(const std::vector<std::string>& arguments, const std::string& folder,
                     const std::vector<std::string>& environment, int timeout_seconds, const ChildSignal& signal) {
  RunningChild child = startChild(arguments, folder, environment, "child-output.txt");
  return waitChild(&child, timeout_seconds, signal);
}

Image readPng(const std::string& path) {
  Image image;
  png_image png = {};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
  png.format = PNG_FORMAT_RGB;
  image.width = int(png.width);
  image.height = int(png.height);
  image.rgb.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) image.rgb.clear();
  return image;
}

double meanDifference(const Image& a, const Image& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
  return sum / double(a.rgb.size());
}
