// Data storage: the pack file that holds every resource, the decoding of its stored blocks, and
// memory file streams over its resources.
//
// Start-up mounts one pack (packMount); afterwards resources are found by name, without regard to the
// case of ASCII letters, and read whole (packRead) or as memory files (ramfopen ...). Buffers returned
// by packRead and packDecode are malloc'd and belong to the caller (free). The index is built on the
// main thread during start-up and only read afterwards.
#pragma once

#include <cstdint>

// ---- The debug trace sink, shared by every subsystem -------------------------------------------------
// Receives fixed phrases ("added resource", "VARK ERROR", ...) and discards them.
void debugMessage(const char* text, const char* caption);
// Tests install a hook to see the traces; null (the default) sees nothing.
typedef void (*DebugTraceHook)(const char* text, const char* caption);
extern DebugTraceHook debug_trace_hook;

// ---- Entry decoding ---------------------------------------------------------------------------------
// Rotate-left-by-3 sum of the bytes; length 0xFFFFFFFF means "up to the first zero byte".
uint32_t packHash(const void* bytes, uint32_t length);
// LZSS with a 4096-byte window pre-filled with spaces, writing from 4078, flags least significant bit
// first, lengths 3 to 18. Returns the bytes written; never writes past `capacity`: a stream that would
// produce more returns capacity + 1 (64-bit, so it cannot wrap even for capacity 0xFFFFFFFF).
uint64_t lzssDecode(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t capacity);
// Takes over `stored` (malloc'd; may be null when `stored_size` is 0) and frees it on every path.
// Returns a malloc'd buffer of exactly `unpacked_size` bytes (at least one byte is allocated), or null
// after a "VARK ERROR" trace. An unpacked size that the stored bytes cannot reach by their method fails
// as "Decompression failed" before anything is allocated: a stored block holds no more than its
// `stored_size` bytes, a zlib stream no more than 1032 * stored_size + 258, an LZSS stream no more
// than 9 * stored_size. So does a size that cannot be allocated.
uint8_t* packDecode(uint8_t* stored, uint32_t stored_size, uint32_t unpacked_size, int32_t method_word,
                    uint32_t checksum);
// Whether `stored_size` bytes can unpack to `unpacked_size` by the method the word names (the bounds
// above); false for a word that names no method.
bool packSizeReachable(uint32_t stored_size, uint32_t unpacked_size, int32_t method_word);
// Nonzero: packDecode tests the checksum. Nothing in the show changes it.
extern int pack_checksums_enabled;

// Why the last packDecode, packRead or ramfopen gave nothing (none after one that gave something), so
// that a message can tell a damaged resource from a missing one.
enum class PackFailure {
  none,
  missing,        // no entry of that name
  unreadable,     // the pack file cannot be opened, or the stored bytes lie outside it
  damaged,        // decoding or the checksum failed, or the declared size cannot be reached
  too_large,      // 2 GiB or more: no memory file can hold it
  out_of_memory,  // a size the stored bytes can reach, but more than can be allocated
};
extern PackFailure pack_failure;
// A few words for a message, e.g. "damaged (checksum or decoding failed)".
const char* packFailureText(PackFailure failure);

// ---- The pack file and its index --------------------------------------------------------------------
struct PackMount {
  PackMount* next;
  PackMount* previous;
  char* file_name;      // as passed to packMount, not case-folded
  uint32_t base_offset; // position of the begin tag in the file
};

struct PackEntry {
  PackEntry* next;
  PackEntry* previous;
  PackMount* pack;
  uint32_t name_hash;   // packHash of the upper-cased name, zero-terminated form
  char* name;           // upper-cased
  uint32_t data_offset; // from the pack's base offset
  uint32_t stored_size;
  uint32_t unpacked_size;
  int32_t method_word;
  uint32_t checksum;
};

// Heads of the two lists (no tail pointers); written by packMount only.
extern PackMount* pack_mounts;
extern PackEntry* pack_entries;

// 1 when the pack was found (begin tag at `offset`, else through the trailer) and its directory read.
// Only a regular file is opened: a named pipe or a device is no pack and fails at once.
// A directory whose table, records or names lie outside the decoded directory fails the mount. A
// failed mount leaves the index as it was.
int packMount(const char* file_name, uint32_t offset);
PackEntry* packFind(const char* name);
int packExists(const char* name);
// Unpacked size, 0 when absent; a size beyond 0x7FFFFFFF (which no memory file can hold) gives that.
int packSize(const char* name);
// malloc'd, exactly the unpacked size; null when absent, when the stored bytes lie outside the pack
// file or when they fail to decode (pack_failure says which). Opens the pack file anew for every read.
uint8_t* packRead(const char* name);
// Empties the index (tests and tools that mount several packs in one process).
void packReset();

// ---- Memory file streams ----------------------------------------------------------------------------
struct RamFile {
  uint8_t* bytes;    // owned, released by ramfclose
  int32_t position;  // 0 .. size
  int32_t size;
  int32_t end_flag;  // -1 after a clamped seek, else 0; reported by nothing
};

// None (after a trace) when the name is absent; none when the resource fails to decode or is 2 GiB or
// larger. pack_failure says which. The arguments of the others follow fread, fseek, ftell and fclose; a null stream is allowed.
RamFile* ramfopen(const char* name);
int ramfread(void* destination, int element_size, int count, RamFile* stream);
int ramfseek(RamFile* stream, int32_t offset, int origin);
int ramftell(RamFile* stream);
int ramfclose(RamFile* stream);
