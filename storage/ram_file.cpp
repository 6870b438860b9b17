// Memory file streams: a pack resource decoded whole at opening and then read, sought and told like a
// stdio stream, with no further file access. The scene reader, the picture decoder and the music
// library's file callbacks read everything through these.
#include <cstdlib>
#include <cstring>

#include "storage/storage.h"

RamFile* ramfopen(const char* name) {
  if (!name) return nullptr;
  PackEntry* entry = packFind(name);
  if (!entry) {
    pack_failure = PackFailure::missing;
    debugMessage(name, "ramfopen - not a file");
    return nullptr;
  }
  // Positions are 32-bit signed, so a resource of 2 GiB or more cannot be served as a stream; unless
  // its stored bytes cannot even reach that size, and then the entry is damaged.
  if (entry->unpacked_size > 0x7FFFFFFFu) {
    bool reachable = packSizeReachable(entry->stored_size, entry->unpacked_size, entry->method_word);
    pack_failure = reachable ? PackFailure::too_large : PackFailure::damaged;
    return nullptr;
  }
  RamFile* stream = static_cast<RamFile*>(calloc(1, sizeof(RamFile)));
  if (!stream) {
    pack_failure = PackFailure::out_of_memory;
    return nullptr;
  }
  stream->bytes = packRead(name);
  stream->position = 0;
  stream->size = int32_t(entry->unpacked_size);
  stream->end_flag = 0;
  if (!stream->bytes) {
    free(stream);
    return nullptr;
  }
  return stream;
}

int ramfread(void* destination, int element_size, int count, RamFile* stream) {
  if (!stream) return 0;
  stream->end_flag = 0;
  if (element_size <= 0 || count <= 0) return 0;
  int64_t wanted = int64_t(element_size) * count;
  int64_t left = int64_t(stream->size) - stream->position;
  int32_t n = int32_t(wanted < left ? wanted : left);
  if (n > 0) memcpy(destination, stream->bytes + stream->position, size_t(n));
  stream->position += n;
  // A trailing part of an element is consumed but not counted, as with fread.
  return n / element_size;
}

int ramfseek(RamFile* stream, int32_t offset, int origin) {
  if (!stream) return 1;
  stream->end_flag = 0;
  int64_t position = stream->position;
  if (origin == 0)
    position = offset;
  else if (origin == 1)
    position += offset;
  else if (origin == 2)
    position = int64_t(stream->size) + offset;
  if (position > stream->size) {
    position = stream->size;
    stream->end_flag = -1;
  } else if (position < 0) {
    position = 0;
    stream->end_flag = -1;
  }
  stream->position = int32_t(position);
  return 0;
}

int ramftell(RamFile* stream) { return stream ? stream->position : -1; }

int ramfclose(RamFile* stream) {
  if (!stream) return -1;
  free(stream->bytes);
  free(stream);
  return 0;
}
