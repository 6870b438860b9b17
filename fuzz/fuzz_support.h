// What the fuzz targets that read through the show's loaders share: the fuzzed bytes as the one entry
// of a pack that is then mounted, as the show mounts its own, and a recording device (with message boxes
// answered quietly) for the loaders that make textures.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack_writer.h"
#include "platform/devices.h"
#include "platform/test_hooks.h"
#include "shell/rendering_objects.h"
#include "storage/storage.h"

// The pack file of this process's inputs. The pack is read by its name, entry by entry, so it stays
// named while the process runs; it goes when the process exits (libFuzzer's runs end with exit).
struct FuzzPackFile {
  std::string path;
  FuzzPackFile() {
    const char* folder = std::getenv("TMPDIR");
    path = std::string(folder && *folder ? folder : "/tmp") + "/narvu-fuzz-" + std::to_string(getpid()) + ".dat";
  }
  ~FuzzPackFile() { std::remove(path.c_str()); }
};

// Mounts a pack whose only entry `name` holds the bytes; false when it does not mount.
inline bool mountFuzzedEntry(const char* name, const uint8_t* data, size_t size) {
  static const FuzzPackFile pack;
  const std::string& path = pack.path;
  std::vector<PackItem> items = {{name, std::vector<uint8_t>(data, data + size)}};
  if (!writePack(path, items, PackMethod::stored, nullptr)) return false;
  packReset();
  return packMount(path.c_str(), 0) != 0;
}

inline int answerQuietly(const char*, const char*, UINT) { return IDOK; }

// The show's device, once: a recording device that keeps state and logs nothing.
inline void useRecordingDevice() {
  static RecordingDevice* recording = [] {
    RecordingDevice* created = new RecordingDevice;
    created->recording = false;
    device = created;
    setMessageBoxResponder(answerQuietly);
    return created;
  }();
  (void)recording;
}
