// narvu-content OUT.dat [TUNE.txt]: makes every resource of the show and packs them.
// narvu-content --dump DIR [TUNE.txt]: writes every resource as a file of its own instead.
// narvu-content --icons DIR: writes the installed show's icons, which are no part of the pack.
// narvu-content --poster FRAME.png OUT.jpg: the web page's poster, from a frame the show captured.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "content.h"
#include "jpeg_writer.h"
#include "pack_writer.h"
#include "pictures.h"
#include "png_writer.h"

static const char kUsage[] =
    "usage: narvu-content OUT.dat [TUNE.txt]\n"
    "       narvu-content --dump DIR [TUNE.txt]\n"
    "       narvu-content --icons DIR\n"
    "       narvu-content --poster FRAME.png OUT.jpg\n"
    "Makes every resource of the show (scenes, pictures, the module) and writes them as one pack,\n"
    "or with --dump as one file each into DIR (made when missing). TUNE.txt is the module's score\n"
    "(default: %s).\n"
    "With --icons, writes the show's icon, made from its start logo, in the folders of an icon theme:\n"
    "DIR/SIZExSIZE/apps/narvu.png for the sizes 16, 32, 48, 64, 128 and 256; the pack is not touched.\n"
    "With --poster, writes the web page's poster: FRAME.png, a frame the show captured, as a JPEG.\n"
    "Exit code 0 on success, 1 when a resource cannot be made or written, 2 for a mistake in the\n"
    "arguments.\n";

// The score an installation keeps in its data folder (../share/narvu from the executable's folder),
// else the project's own: an installed generator makes the installed pack wherever the sources are.
static std::string defaultTune() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    std::filesystem::path installed = (self.parent_path() / NARVU_DATA_FROM_BIN / "song.txt").lexically_normal();
    if (std::filesystem::is_regular_file(installed, error)) return installed.string();
  }
  return NARVU_TUNE_PATH;
}

static void printUsage(FILE* stream) { std::fprintf(stream, kUsage, defaultTune().c_str()); }

static bool makeFolder(const char* folder) {
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made) std::fprintf(stderr, "narvu-content: cannot make the folder %s: %s\n", folder, made.message().c_str());
  return !made;
}

static bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) written = false;
  if (!written) std::fprintf(stderr, "narvu-content: cannot write %s\n", path.c_str());
  return written;
}

// In the layout of an icon theme, so that an installation copies the folder as it is; the sizes are
// those a theme's folders are usually given, and the desktop picks the nearest.
static int writeIcons(const char* folder) {
  for (int size : {16, 32, 48, 64, 128, 256}) {
    std::string apps = std::string(folder) + "/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
    if (!makeFolder(apps.c_str())) return 1;
    RgbaImage icon = makeIcon(size);
    std::vector<uint8_t> png = encodePng(icon.rgba.data(), icon.width, icon.height, 4);
    if (png.empty() || !writeBytes(apps + "/narvu.png", png)) return 1;
  }
  return 0;
}

// What the page shows before the show starts, as small as a picture of the show can be and still look
// like it: a progressive JPEG at quality 80 is a sixth of the frame's PNG.
static int writePoster(const char* frame, const char* out) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  if (png_image_begin_read_from_file(&image, frame)) {
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) rgb.clear();
  }
  if (rgb.empty()) {
    std::fprintf(stderr, "narvu-content: %s is no PNG picture that can be read: %s\n", frame, image.message);
    png_image_free(&image);
    return 1;
  }
  std::vector<uint8_t> jpeg = encodeJpeg(rgb.data(), int(image.width), int(image.height), 80, true);
  return !jpeg.empty() && writeBytes(out, jpeg) ? 0 : 1;
}

int main(int argc, char** argv) {
  // Every word is looked at first: a word that is asked for help, or an option this tool does not
  // know, must never become the name of the file it writes.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      printUsage(stdout);
      return 0;
    }
    if (argv[i][0] == '-' && std::strcmp(argv[i], "--dump") != 0 && std::strcmp(argv[i], "--icons") != 0 &&
        std::strcmp(argv[i], "--poster") != 0) {
      std::fprintf(stderr, "narvu-content: unknown option '%s'\n", argv[i]);
      printUsage(stderr);
      return 2;
    }
  }
  if (argc > 1 && std::strcmp(argv[1], "--icons") == 0) {
    if (argc != 3) {
      printUsage(stderr);
      return 2;
    }
    return writeIcons(argv[2]);
  }
  if (argc > 1 && std::strcmp(argv[1], "--poster") == 0) {
    if (argc != 4) {
      printUsage(stderr);
      return 2;
    }
    return writePoster(argv[2], argv[3]);
  }
  bool dump = argc > 1 && std::strcmp(argv[1], "--dump") == 0;
  int first = dump ? 2 : 1;
  if (argc < first + 1 || argc > first + 2) {
    printUsage(stderr);
    return 2;
  }
  std::string tune = argc > first + 1 ? argv[first + 1] : defaultTune();
  std::vector<ContentResource> resources;
  std::string error;
  if (!buildResources(tune, &resources, &error)) {
    std::fprintf(stderr, "narvu-content: %s\n", error.c_str());
    return 1;
  }
  if (dump) {
    if (!makeFolder(argv[first])) return 1;
    for (const ContentResource& r : resources)
      if (!writeBytes(std::string(argv[first]) + "/" + r.name, r.bytes)) return 1;
    return 0;
  }
  std::vector<PackItem> items;
  for (ContentResource& r : resources) items.push_back(PackItem{r.name, std::move(r.bytes)});
  if (!writePack(argv[first], items, PackMethod::zlib, &error)) {
    std::fprintf(stderr, "narvu-content: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
