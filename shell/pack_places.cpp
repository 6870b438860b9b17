// Where the show looks for its pack, and what it says about the places it passed over.
//
// A pack appended to the executable comes first, as the show always had it; then "narvu.dat" in the
// working folder, then beside the executable, then in the data folder of an installation
// (NARVU_DATA_FROM_BIN, the way from the executable's folder to it, fixed when the show is built).
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/shell.h"
#include "storage/storage.h"

PackPlaces packPlaces(HINSTANCE instance) {
  PackPlaces places;
  char path[1024] = {};
  GetModuleFileNameA(instance, path, sizeof path);
  places.executable = path;
  std::error_code error;
  std::filesystem::path folder = std::filesystem::current_path(error);
  places.working_folder_pack = (folder / "narvu.dat").u8string();
  if (places.executable.empty()) return places;
  std::filesystem::path executable_folder = std::filesystem::u8path(places.executable).parent_path();
  std::string beside = (executable_folder / "narvu.dat").u8string();
  if (beside != places.working_folder_pack) places.beside_executable_pack = beside;
  std::string installed = (executable_folder / NARVU_DATA_FROM_BIN / "narvu.dat").lexically_normal().u8string();
  if (installed != places.working_folder_pack && installed != beside) places.installed_pack = installed;
  return places;
}

// ---- Why a file did not mount --------------------------------------------------------------------------

// The storage layer says why a mount failed only through its trace: the first failure traced.
static std::string traced_failure;
static DebugTraceHook outer_trace_hook = nullptr;

static void noteTracedFailure(const char* text, const char* caption) {
  if (traced_failure.empty() && std::strcmp(caption, "VARK ERROR") == 0) traced_failure = text;
  if (outer_trace_hook) outer_trace_hook(text, caption);
}

// The trace's phrase in words for someone who made the file.
static std::string failureText(const std::string& trace) {
  if (trace == "can't find BTAG anywhere" || trace == "can't find ETAG anywhere")
    return "no pack at its start nor one appended at its end";
  if (trace.empty() || trace == "OPEN FAILED") return "its directory lies outside the file or is damaged";
  std::string lowered = trace;
  lowered[0] = char(std::tolower(static_cast<unsigned char>(lowered[0])));
  return "its directory does not decode: " + lowered;
}

// Mounts the file at `path`: false with the reason in *why when the file is there but no pack, with
// *why empty when nothing is there.
static bool mountFile(const std::string& path, std::string* why) {
  why->clear();
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::u8path(path), error)) return false;
  if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), error)) {
    *why = "not a regular file";
    return false;
  }
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    *why = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  traced_failure.clear();
  outer_trace_hook = debug_trace_hook;
  debug_trace_hook = noteTracedFailure;
  bool mounted = packMount(path.c_str(), 0) == 1;
  debug_trace_hook = outer_trace_hook;
  if (!mounted) *why = failureText(traced_failure);
  return mounted;
}

bool mountPack(HINSTANCE instance) {
  PackPlaces places = packPlaces(instance);
  if (!places.executable.empty() && packMount(places.executable.c_str(), 0)) return true;
  // Someone trying a pack of their own must not watch another one unawares: a file that is there but
  // does not mount is named, with the reason, once a later place gives the pack.
  struct Place {
    std::string shown, path;
  };
  const Place files[] = {{"./narvu.dat", "narvu.dat"},
                         {places.beside_executable_pack, places.beside_executable_pack},
                         {places.installed_pack, places.installed_pack}};
  std::vector<std::string> passed_over;
  for (const Place& place : files) {
    if (place.path.empty()) continue;
    std::string why;
    if (mountFile(place.path, &why)) {
      for (const std::string& line : passed_over)
        std::fprintf(stderr, "narvu: %s; using %s\n", line.c_str(), place.path.c_str());
      return true;
    }
    if (!why.empty()) passed_over.push_back(place.shown + " is not a pack or is damaged (" + why + ")");
  }
  return false;
}

// A file that is there and did not mount is no pack or a damaged one: worth telling apart from none.
static std::string placeText(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::u8path(path), error) ? path + " (there, but not a pack or damaged)"
                                                                       : path;
}

std::string packPlacesText(const PackPlaces& places) {
  std::vector<std::string> files = {placeText(places.working_folder_pack)};
  if (!places.beside_executable_pack.empty()) files.push_back(placeText(places.beside_executable_pack));
  if (!places.installed_pack.empty()) files.push_back(placeText(places.installed_pack));
  std::string text = "looked for one appended to " + places.executable + ", then for " + files[0];
  for (size_t i = 1; i < files.size(); ++i) text += (i + 1 == files.size() ? " and " : ", ") + files[i];
  return text;
}
