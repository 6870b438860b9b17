// narvu-content OUT.dat [TUNE.txt]: makes every resource of the show and packs them.
// narvu-content --dump DIR [TUNE.txt]: writes every resource as a file of its own instead.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "content.h"
#include "pack_writer.h"

static const char kUsage[] =
    "usage: narvu-content OUT.dat [TUNE.txt]\n"
    "       narvu-content --dump DIR [TUNE.txt]\n"
    "Makes every resource of the show (scenes, pictures, the module) and writes them as one pack,\n"
    "or with --dump as one file each into DIR (made when missing). TUNE.txt is the module's score\n"
    "(default: the project's tools/content/music/song.txt).\n"
    "Exit code 0 on success, 1 when a resource cannot be made or written, 2 for a mistake in the\n"
    "arguments.\n";

int main(int argc, char** argv) {
  // Every word is looked at first: a word that is asked for help, or an option this tool does not
  // know, must never become the name of the file it writes.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argv[i][0] == '-' && std::strcmp(argv[i], "--dump") != 0) {
      std::fprintf(stderr, "narvu-content: unknown option '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }
  bool dump = argc > 1 && std::strcmp(argv[1], "--dump") == 0;
  int first = dump ? 2 : 1;
  if (argc < first + 1 || argc > first + 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string tune = argc > first + 1 ? argv[first + 1] : NARVU_TUNE_PATH;
  std::vector<ContentResource> resources;
  std::string error;
  if (!buildResources(tune, &resources, &error)) {
    std::fprintf(stderr, "narvu-content: %s\n", error.c_str());
    return 1;
  }
  if (dump) {
    std::error_code made;
    std::filesystem::create_directories(argv[first], made);
    if (made) {
      std::fprintf(stderr, "narvu-content: cannot make the folder %s: %s\n", argv[first], made.message().c_str());
      return 1;
    }
    for (const ContentResource& r : resources) {
      std::string path = std::string(argv[first]) + "/" + r.name;
      FILE* f = std::fopen(path.c_str(), "wb");
      if (!f || std::fwrite(r.bytes.data(), 1, r.bytes.size(), f) != r.bytes.size()) {
        std::fprintf(stderr, "narvu-content: cannot write %s\n", path.c_str());
        if (f) std::fclose(f);
        return 1;
      }
      std::fclose(f);
    }
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
