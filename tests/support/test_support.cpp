#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <png.h>

#include "storage/storage.h"

std::string scratchFolder() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "scratch";
  for (char& c : name)
    if (c == '/') c = '_';
  // A second run of a program beside its first (gl_device_on_gl33_only) keeps its folders apart.
  const char* root = std::getenv("NARVU_TEST_SCRATCH");
  std::filesystem::path folder =
      (root && *root ? std::filesystem::path(root) : std::filesystem::path(NARVU_BUILD_DIR) / "test-scratch") / name;
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
