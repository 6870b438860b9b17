// narvu-pack: makes, lists, extracts and checks the pack files that hold the show's resources, and
// appends a pack to an executable so that the show finds its content inside itself.
//
// Every read of a pack goes through storage/ (packMount, packRead), so the tool sees a pack exactly as
// the show does: names come out upper-cased, as the show's index holds them.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pack_writer.h"
#include "storage/storage.h"

static const char kUsage[] =
    "usage: narvu-pack COMMAND ...\n"
    "\n"
    "  create OUT [--method stored|zlib|lzss|best] FILE...\n"
    "      Writes a pack holding each FILE. An entry is named after the file's base name, or\n"
    "      give NAME=PATH. 'best' (the default) keeps the smallest of the three for each entry.\n"
    "  list PACK\n"
    "      One line per entry: name, stored size, unpacked size, method, checksum; then totals.\n"
    "  extract PACK [NAME...] [-C DIR]\n"
    "      Writes the named entries (all when none is named) into DIR (default: here; made when\n"
    "      missing).\n"
    "  verify PACK\n"
    "      Decodes every entry and tests its checksum; exit code 1 and the failing names on failure.\n"
    "  append EXE PACK OUT\n"
    "      Writes a copy of EXE with PACK appended (keeping EXE's permissions); the show then\n"
    "      mounts the pack from its own file. OUT is replaced, not overwritten, so it may be playing.\n"
    "\n"
    "PACK may also be an executable with a pack appended. Names are matched without regard to\n"
    "letter case and listed upper-cased, as the show sees them.\n"
    "Exit code 0 on success, 1 on any error, 2 for a mistake in the arguments.\n";

static int usageError(const std::string& message) {
  fprintf(stderr, "narvu-pack: %s\n(narvu-pack --help shows the commands)\n", message.c_str());
  return 2;
}

static int error(const std::string& message) {
  fprintf(stderr, "narvu-pack: %s\n", message.c_str());
  return 1;
}

static bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    *why = "cannot read '" + path + "': " + strerror(errno);
    return false;
  }
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  bool ok = !ferror(file);
  if (!ok) *why = "cannot read '" + path + "': " + strerror(errno);
  fclose(file);
  return ok;
}

// Written in pieces straight from `bytes`: an entry of gigabytes needs no second copy on its way out.
static bool writeBytes(const std::string& path, const uint8_t* bytes, size_t size, std::string* why) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    *why = "cannot create '" + path + "': " + strerror(errno);
    return false;
  }
  const size_t kPiece = size_t(1) << 20;
  bool ok = true;
  for (size_t done = 0; ok && done < size; done += kPiece) {
    size_t piece = size - done < kPiece ? size - done : kPiece;
    ok = fwrite(bytes + done, 1, piece, file) == piece;
  }
  ok = fclose(file) == 0 && ok;
  if (!ok) *why = "cannot write '" + path + "': " + strerror(errno);
  return ok;
}

static bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* why) {
  return writeBytes(path, bytes.data(), bytes.size(), why);
}

static std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

// The reason packDecode gives for the last failed read, caught from the trace sink.
static std::string last_failure;
static void catchFailure(const char* text, const char* caption) {
  if (strcmp(caption, "VARK ERROR") == 0) last_failure = text;
}

// Why packRead just failed on `entry`: the decoder's words, or what the storage layer recorded.
static std::string readFailure(const PackEntry* entry) {
  if (pack_failure == PackFailure::out_of_memory)
    return "not enough memory for its " + std::to_string(entry->unpacked_size) + " bytes";
  if (pack_failure == PackFailure::unreadable || last_failure.empty()) return "stored bytes lie outside the file";
  return last_failure;
}

static bool mount(const std::string& path, std::string* why) {
  // Opening a named pipe would wait for a writer; the storage layer refuses it anyway.
  std::error_code status_error;
  if (std::filesystem::exists(path, status_error) && !std::filesystem::is_regular_file(path, status_error)) {
    *why = "'" + path + "' is not a regular file";
    return false;
  }
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    *why = "cannot read '" + path + "': " + strerror(errno);
    return false;
  }
  fclose(file);
  last_failure.clear();
  debug_trace_hook = catchFailure;
  bool ok = packMount(path.c_str(), 0) == 1;
  if (!ok) {
    *why = "'" + path + "' is not a pack file";
    if (!last_failure.empty() && last_failure != "OPEN FAILED") *why += " (" + last_failure + ")";
  }
  return ok;
}

static const char* methodName(int32_t word) {
  switch (word % 100) {
    case 0: return "stored";
    case 1:
    case 2: return "zlib";
    case 3: return "lzss";
    default: return "unknown";
  }
}

static int createCommand(const std::vector<std::string>& args) {
  if (args.empty()) return usageError("create needs an output file and input files");
  std::string out = args[0];
  PackMethod method = PackMethod::best;
  std::vector<PackItem> items;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--method" || a.rfind("--method=", 0) == 0) {
      std::string value;
      if (a == "--method") {
        if (++i == args.size()) return usageError("--method needs a value");
        value = args[i];
      } else {
        value = a.substr(9);
      }
      if (value == "stored") method = PackMethod::stored;
      else if (value == "zlib") method = PackMethod::zlib;
      else if (value == "lzss") method = PackMethod::lzss;
      else if (value == "best") method = PackMethod::best;
      else return usageError("unknown method '" + value + "' (stored, zlib, lzss or best)");
      continue;
    }
    if (a.rfind("--", 0) == 0) return usageError("unknown option '" + a + "'");
    std::string name, path;
    size_t equals = a.find('=');
    if (equals != std::string::npos) {
      name = a.substr(0, equals);
      path = a.substr(equals + 1);
    } else {
      path = a;
      size_t slash = a.find_last_of('/');
      name = slash == std::string::npos ? a : a.substr(slash + 1);
    }
    if (name.empty()) return usageError("'" + a + "' gives an empty entry name");
    for (const PackItem& item : items)
      if (upper(item.name) == upper(name)) return usageError("two entries named '" + name + "'");
    PackItem item{name, {}};
    std::string why;
    if (!readWholeFile(path, &item.bytes, &why)) return error(why);
    if (item.bytes.size() > 0x7FFFFFFFu) return error("'" + path + "' is too large for a pack entry");
    items.push_back(std::move(item));
  }
  if (items.empty()) return usageError("create needs at least one input file");
  std::vector<uint8_t> image = makePack(items, method);
  if (image.size() > 0xFFFFFFFFu) return error("the pack would be larger than 4 GiB");
  std::string why;
  if (!writeWholeFile(out, image, &why)) return error(why);
  return 0;
}

static int listCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return usageError("list takes one pack file");
  std::string why;
  if (!mount(args[0], &why)) return error(why);
  uint64_t stored = 0, unpacked = 0, count = 0;
  printf("%-32s %12s %12s %-12s %10s\n", "NAME", "STORED", "UNPACKED", "METHOD", "CHECKSUM");
  for (PackEntry* e = pack_entries; e; e = e->next) {
    char method[32];
    snprintf(method, sizeof method, "%s (%d)", methodName(e->method_word), int(e->method_word));
    printf("%-32s %12u %12u %-12s 0x%08x\n", e->name, e->stored_size, e->unpacked_size, method, e->checksum);
    stored += e->stored_size;
    unpacked += e->unpacked_size;
    ++count;
  }
  printf("%llu entries, %llu bytes stored, %llu bytes unpacked\n", (unsigned long long)count,
         (unsigned long long)stored, (unsigned long long)unpacked);
  return 0;
}

// An entry name is written as one file in the target folder, never elsewhere.
static bool safeFileName(const char* name) {
  return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/');
}

static int extractCommand(const std::vector<std::string>& args) {
  std::string pack, folder = ".";
  std::vector<std::string> names;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-C") {
      if (++i == args.size()) return usageError("-C needs a folder");
      folder = args[i];
    } else if (pack.empty()) {
      pack = args[i];
    } else {
      names.push_back(args[i]);
    }
  }
  if (pack.empty()) return usageError("extract needs a pack file");
  // Like tar -C, but a folder that is not there yet is made.
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made || !std::filesystem::is_directory(folder, made))
    return error("cannot make the folder '" + folder + "'" + (made ? ": " + made.message() : ""));
  std::string why;
  if (!mount(pack, &why)) return error(why);
  if (names.empty())
    for (PackEntry* e = pack_entries; e; e = e->next) names.push_back(e->name);
  int status = 0;
  for (const std::string& name : names) {
    PackEntry* entry = packFind(name.c_str());
    if (!entry) {
      status = error("no entry '" + name + "' in '" + pack + "'");
      continue;
    }
    if (!safeFileName(entry->name)) {
      status = error("entry '" + std::string(entry->name) + "' is not a plain file name; skipped");
      continue;
    }
    last_failure.clear();
    uint8_t* bytes = packRead(entry->name);
    if (!bytes) {
      status = error("cannot read entry '" + std::string(entry->name) + "' (" + readFailure(entry) + ")");
      continue;
    }
    bool written = writeBytes(folder + "/" + entry->name, bytes, entry->unpacked_size, &why);
    free(bytes);
    if (!written) status = error(why);
  }
  return status;
}

static int verifyCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return usageError("verify takes one pack file");
  std::string why;
  if (!mount(args[0], &why)) return error(why);
  int failures = 0, count = 0;
  for (PackEntry* e = pack_entries; e; e = e->next, ++count) {
    last_failure.clear();
    uint8_t* bytes = packRead(e->name);
    if (bytes) {
      free(bytes);
      continue;
    }
    ++failures;
    printf("FAILED %s: %s\n", e->name, readFailure(e).c_str());
  }
  if (failures) {
    fprintf(stderr, "narvu-pack: %d of %d entries of '%s' failed\n", failures, count, args[0].c_str());
    return 1;
  }
  printf("%d entries ok\n", count);
  return 0;
}

static int appendCommand(const std::vector<std::string>& args) {
  if (args.size() != 3) return usageError("append takes EXE PACK OUT");
  const std::string &exe = args[0], &pack = args[1], &out = args[2];
  std::vector<uint8_t> image, packed;
  std::string why;
  if (!readWholeFile(exe, &image, &why) || !readWholeFile(pack, &packed, &why)) return error(why);
  // Appended, a pack is found only through its trailer, which must cover the whole pack file.
  size_t n = packed.size();
  if (n < 16 || memcmp(packed.data(), "ZUR2", 4) != 0 || memcmp(packed.data() + n - 4, "2ZUR", 4) != 0 ||
      (uint32_t(packed[n - 8]) | uint32_t(packed[n - 7]) << 8 | uint32_t(packed[n - 6]) << 16 |
       uint32_t(packed[n - 5]) << 24) != n)
    return error("'" + pack + "' is not a pack file that starts with its begin tag and ends with its trailer");
  if (image.size() + n > 0xFFFFFFFFu) return error("the result would be larger than 4 GiB");
  struct stat info;
  if (stat(exe.c_str(), &info) != 0) return error("cannot read '" + exe + "': " + strerror(errno));
  image.insert(image.end(), packed.begin(), packed.end());
  // Written beside OUT and renamed over it: OUT may be a show that is playing, which the system does
  // not let anyone write into, and a reader never sees a half-written file.
  std::string partial = out + ".partial";
  if (!writeWholeFile(partial, image, &why)) {
    std::remove(partial.c_str());
    return error(why);
  }
  if (chmod(partial.c_str(), info.st_mode & 07777) != 0) {
    why = "cannot set the permissions of '" + partial + "': " + strerror(errno);
    std::remove(partial.c_str());
    return error(why);
  }
  if (std::rename(partial.c_str(), out.c_str()) != 0) {
    why = "cannot replace '" + out + "': " + strerror(errno);
    std::remove(partial.c_str());
    return error(why);
  }
  if (!mount(out, &why)) return error("'" + out + "' was written but does not mount: " + why);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return usageError("no command given");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
  if (command == "create") return createCommand(args);
  if (command == "list") return listCommand(args);
  if (command == "extract") return extractCommand(args);
  if (command == "verify") return verifyCommand(args);
  if (command == "append") return appendCommand(args);
  return usageError("unknown command '" + command + "'");
}
