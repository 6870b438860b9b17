// libFuzzer target: the input is a module resource, served from a pack image and loaded by the sound
// library through the show's five file callbacks onto memory files, as start-up loads music.xm. A
// module that loads gives its facts and renders a little of its start offline.
// fuzz-link: narvu_shell narvu_texture narvu_storage narvu_tools
#include "fuzz_support.h"
#include "shell/shell.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=256"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    // Rendering offline, the library opens no audio device.
    platform_settings.sound_capture_path = "/tmp/narvu-module-fuzz-capture.wav";
    FSOUND_Init(44100, 32, 0);
    FSOUND_File_SetCallbacks(musicOpen, musicClose, musicRead, musicSeek, musicTell);
    return true;
  }();
  (void)started;

  if (!mountFuzzedEntry("music.xm", data, size)) return 0;
  FMUSIC_MODULE* module = FMUSIC_LoadSong("music.xm");
  if (module) {
    SongFacts facts;
    songFacts(module, &facts);
    FMUSIC_SetLooping(module, 0);
    static int16_t frames[2 * 2048];
    renderSongFrames(module, frames, 2048);
    FMUSIC_FreeSong(module);
  }
  packReset();
  return 0;
}
