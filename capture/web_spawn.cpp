// The page starts no programs, and emscripten's C library has no posix_spawn: it fails here as on a
// system without it, so that ffmpeg.cpp and processes.cpp build unchanged for the page. The page refuses
// what would need them (a video capture, --jobs) before the show starts.
#include <spawn.h>

#include <cerrno>

extern "C" int posix_spawn(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                           char* const[], char* const[]) {
  return ENOSYS;
}

extern "C" int posix_spawnp(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                            char* const[], char* const[]) {
  return ENOSYS;
}
