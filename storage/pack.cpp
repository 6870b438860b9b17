// The pack file and its in-memory index.
//
// A pack is a begin tag "ZUR2", a skip length and skipped bytes, a five-word header naming the stored
// directory, the stored blocks, and optionally a trailer (pack length, end tag "2ZUR") that finds a pack
// appended to another file. Mounting decodes the directory and adds one PackEntry per record to the
// shared index; packRead opens the pack file anew for every read.
//
// Every offset and size in a pack is checked before it is used: against the file's size when the file
// is read, against the decoded directory when records and names are taken from it. A pack that fails a
// check does not mount, and the index stays exactly as it was.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/little_endian.h"
#include "storage/storage.h"

PackMount* pack_mounts = nullptr;
PackEntry* pack_entries = nullptr;

static constexpr uint32_t kRecordSize = 24;

// Reads exactly `count` bytes at `position`; false when any of them lies outside the file.
static bool readAt(FILE* file, uint64_t file_size, uint64_t position, void* destination, uint64_t count) {
  if (position > file_size || count > file_size - position) return false;
  if (count == 0) return true;
  if (fseek(file, long(position), SEEK_SET) != 0) return false;
  return fread(destination, 1, size_t(count), file) == size_t(count);
}

// Only a regular file can be a pack. Opening a named pipe waits for a writer that may never come, and
// a device may never end, so anything else is refused before it is opened.
static FILE* openPackFile(const char* file_name) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::u8path(file_name), error)) return nullptr;
  return fopen(file_name, "rb");
}

// False when the file cannot be measured (a pipe, a folder) or is beyond what fseek can address.
static bool fileSize(FILE* file, uint64_t* size) {
  if (fseek(file, 0, SEEK_END) != 0) return false;
  long end = ftell(file);
  if (end < 0) return false;
  *size = uint64_t(end);
  return true;
}

static char* copyString(const char* text, size_t length) {
  char* copy = static_cast<char*>(malloc(length + 1));
  if (!copy) return nullptr;
  memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

static void upperCase(char* text) {
  for (; *text; ++text)
    if (*text >= 'a' && *text <= 'z') *text = char(*text - 'a' + 'A');
}

static void releaseEntry(PackEntry* entry) {
  free(entry->name);
  free(entry);
}

// Finds the begin tag: at `offset`, else through the trailer. False after the trace that says why.
static bool findBase(FILE* file, uint64_t file_size, uint32_t offset, uint32_t* base) {
  uint8_t tag[4];
  if (readAt(file, file_size, offset, tag, 4) && memcmp(tag, "ZUR2", 4) == 0) {
    *base = offset;
    return true;
  }
  uint8_t trailer[8];
  if (file_size < 8 || !readAt(file, file_size, file_size - 8, trailer, 8) ||
      memcmp(trailer + 4, "2ZUR", 4) != 0) {
    debugMessage("can't find BTAG anywhere", "VARK ERROR");
    return false;
  }
  uint32_t length = loadLittleEndian32(trailer);
  uint64_t start = file_size - length;  // only meaningful when length <= file_size
  if (length > file_size || start > 0xFFFFFFFFu || !readAt(file, file_size, start, tag, 4) ||
      memcmp(tag, "ZUR2", 4) != 0) {
    debugMessage("can't find ETAG anywhere", "VARK ERROR");
    return false;
  }
  *base = uint32_t(start);
  return true;
}

// Reads and decodes the directory of the pack at `base`; null when it is not there or fails to decode.
static uint8_t* readDirectory(FILE* file, uint64_t file_size, uint32_t base, uint32_t* directory_size) {
  uint8_t word[4];
  if (!readAt(file, file_size, uint64_t(base) + 4, word, 4)) return nullptr;
  uint64_t header_position = uint64_t(base) + 8 + loadLittleEndian32(word);
  uint8_t header[20];
  if (!readAt(file, file_size, header_position, header, 20)) return nullptr;
  uint32_t offset = loadLittleEndian32(header);
  uint32_t stored_size = loadLittleEndian32(header + 4);
  uint32_t unpacked_size = loadLittleEndian32(header + 8);
  int32_t method_word = int32_t(loadLittleEndian32(header + 12));
  uint32_t checksum = loadLittleEndian32(header + 16);

  uint64_t position = uint64_t(base) + offset;
  if (position > file_size || stored_size > file_size - position) return nullptr;
  uint8_t* stored = static_cast<uint8_t*>(malloc(stored_size ? stored_size : 1));
  if (!stored) return nullptr;
  if (!readAt(file, file_size, position, stored, stored_size)) {
    free(stored);
    return nullptr;
  }
  *directory_size = unpacked_size;
  return packDecode(stored, stored_size, unpacked_size, method_word, checksum);
}

// Makes the entries of a decoded directory as an unlinked chain (through `next`), or returns false
// when a record or name lies outside the directory or memory runs out. Nothing is registered here, so
// a bad directory cannot leave half of itself in the index.
static bool makeEntries(const uint8_t* directory, uint32_t size, PackEntry** first) {
  *first = nullptr;
  if (size < 8) return false;
  uint32_t table = loadLittleEndian32(directory);
  uint32_t count = loadLittleEndian32(directory + 4);
  uint64_t names = uint64_t(table) + uint64_t(count) * kRecordSize;
  if (names > size) return false;
  const char* name_table = reinterpret_cast<const char*>(directory + names);
  uint64_t name_table_size = size - names;

  PackEntry** link = first;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = directory + table + uint64_t(i) * kRecordSize;
    uint32_t name_offset = loadLittleEndian32(record);
    const void* end = name_offset < name_table_size
                          ? memchr(name_table + name_offset, 0, size_t(name_table_size - name_offset))
                          : nullptr;
    PackEntry* entry = end ? static_cast<PackEntry*>(calloc(1, sizeof(PackEntry))) : nullptr;
    char* name = entry ? copyString(name_table + name_offset,
                                    size_t(static_cast<const char*>(end) - (name_table + name_offset)))
                       : nullptr;
    if (!name) {
      free(entry);
      while (*first) {
        PackEntry* next = (*first)->next;
        releaseEntry(*first);
        *first = next;
      }
      return false;
    }
    upperCase(name);
    entry->name = name;
    entry->name_hash = packHash(name, 0xFFFFFFFFu);
    entry->data_offset = loadLittleEndian32(record + 4);
    entry->stored_size = loadLittleEndian32(record + 8);
    entry->unpacked_size = loadLittleEndian32(record + 12);
    entry->method_word = int32_t(loadLittleEndian32(record + 16));
    entry->checksum = loadLittleEndian32(record + 20);
    *link = entry;
    link = &entry->next;
  }
  return true;
}

// Puts `record` at the tail of the list that starts at *head (the lists keep no tail pointer).
template <typename Record>
static void appendToList(Record** head, Record* record) {
  Record* last = *head;
  while (last && last->next) last = last->next;
  record->next = nullptr;
  record->previous = last;
  if (last)
    last->next = record;
  else
    *head = record;
}

// The record already mounted under this file name (byte for byte), else `pack` appended at the tail.
static PackMount* registerPack(PackMount* pack) {
  for (PackMount* m = pack_mounts; m; m = m->next) {
    if (strcmp(m->file_name, pack->file_name) == 0) {
      free(pack->file_name);
      free(pack);
      return m;
    }
  }
  appendToList(&pack_mounts, pack);
  return pack;
}

// A namesake already in the index is replaced in place, so list order stays the order of first
// appearance; otherwise the entry goes to the tail.
static void registerEntry(PackEntry* entry) {
  for (PackEntry* e = pack_entries; e; e = e->next) {
    if (e->name_hash == entry->name_hash && strcmp(e->name, entry->name) == 0) {
      entry->next = e->next;
      entry->previous = e->previous;
      if (e->next) e->next->previous = entry;
      if (e->previous)
        e->previous->next = entry;
      else
        pack_entries = entry;
      releaseEntry(e);
      return;
    }
  }
  appendToList(&pack_entries, entry);
}

int packMount(const char* file_name, uint32_t offset) {
  FILE* file = openPackFile(file_name);
  if (!file) return 0;
  uint64_t file_size = 0;
  uint32_t base = 0;
  uint32_t directory_size = 0;
  uint8_t* directory = nullptr;
  bool found = fileSize(file, &file_size) && findBase(file, file_size, offset, &base);
  if (found) directory = readDirectory(file, file_size, base, &directory_size);
  fclose(file);

  PackEntry* entries = nullptr;
  PackMount* pack = nullptr;
  char* name_copy = nullptr;
  bool ok = directory && makeEntries(directory, directory_size, &entries) &&
            (pack = static_cast<PackMount*>(calloc(1, sizeof(PackMount)))) != nullptr &&
            (name_copy = copyString(file_name, strlen(file_name))) != nullptr;
  free(directory);
  if (!ok) {
    free(pack);
    while (entries) {
      PackEntry* next = entries->next;
      releaseEntry(entries);
      entries = next;
    }
    debugMessage("OPEN FAILED", "VARK ERROR");
    return 0;
  }

  pack->file_name = name_copy;
  pack->base_offset = base;
  pack = registerPack(pack);
  while (entries) {
    PackEntry* next = entries->next;
    entries->pack = pack;
    debugMessage(entries->name, "added resource");
    registerEntry(entries);
    entries = next;
  }
  return 1;
}

PackEntry* packFind(const char* name) {
  if (!name || !pack_entries) return nullptr;
  char* key = copyString(name, strlen(name));
  if (!key) return nullptr;
  upperCase(key);
  uint32_t hash = packHash(key, 0xFFFFFFFFu);
  PackEntry* found = nullptr;
  for (PackEntry* e = pack_entries; e && !found; e = e->next)
    if (e->name_hash == hash && strcmp(e->name, key) == 0) found = e;
  free(key);
  return found;
}

int packExists(const char* name) { return packFind(name) ? 1 : 0; }

int packSize(const char* name) {
  PackEntry* entry = packFind(name);
  if (!entry) return 0;
  // No memory file can hold more than 2^31 - 1 bytes; a larger size is reported as that much.
  return entry->unpacked_size > 0x7FFFFFFFu ? 0x7FFFFFFF : int(entry->unpacked_size);
}

uint8_t* packRead(const char* name) {
  PackEntry* entry = packFind(name);
  pack_failure = PackFailure::missing;
  if (!entry) return nullptr;
  pack_failure = PackFailure::unreadable;
  FILE* file = openPackFile(entry->pack->file_name);
  if (!file) return nullptr;
  uint64_t file_size = 0;
  uint64_t position = uint64_t(entry->pack->base_offset) + entry->data_offset;
  uint8_t* stored = nullptr;
  bool inside = fileSize(file, &file_size) && position <= file_size &&
                entry->stored_size <= file_size - position;
  if (inside) {
    stored = static_cast<uint8_t*>(malloc(entry->stored_size ? entry->stored_size : 1));
    if (!stored) pack_failure = PackFailure::out_of_memory;
  }
  bool ok = stored && readAt(file, file_size, position, stored, entry->stored_size);
  fclose(file);
  if (!ok) {
    free(stored);
    return nullptr;
  }
  return packDecode(stored, entry->stored_size, entry->unpacked_size, entry->method_word,
                    entry->checksum);
}

void packReset() {
  while (pack_entries) {
    PackEntry* next = pack_entries->next;
    releaseEntry(pack_entries);
    pack_entries = next;
  }
  while (pack_mounts) {
    PackMount* next = pack_mounts->next;
    free(pack_mounts->file_name);
    free(pack_mounts);
    pack_mounts = next;
  }
}
