// narvu-content OUT.dat [TUNE.txt]: makes every resource of the show and packs them.
// narvu-content --dump DIR [TUNE.txt]: writes every resource as a file of its own instead.
#include <cstdio>
#include <cstring>
#include <string>

#include "content.h"
#include "pack_writer.h"

int main(int argc, char** argv) {
  bool dump = argc > 1 && std::strcmp(argv[1], "--dump") == 0;
  int first = dump ? 2 : 1;
  if (argc < first + 1 || argc > first + 2) {
    std::fprintf(stderr, "usage: narvu-content OUT.dat [TUNE.txt]\n       narvu-content --dump DIR [TUNE.txt]\n");
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
