// `narvu --music-only`: plays "music.xm" from the pack with nothing else, after printing what the
// module says about itself, for people who want to hear or check the music.
#include <cstdio>

#include "shell/shell.h"

int runMusicOnly() {
  if (!mountPack(nullptr)) {
    std::fprintf(stderr, "narvu: no pack found (%s)\n", packPlacesText(packPlaces(nullptr)).c_str());
    return 1;
  }
  if (!FSOUND_Init(44100, 32, 0)) {
    std::fprintf(stderr, "narvu: cannot start the sound: %s\n", fmodErrorText(FSOUND_GetError()));
    return 1;
  }
  FSOUND_File_SetCallbacks(musicOpen, musicClose, musicRead, musicSeek, musicTell);
  FMUSIC_MODULE* module = FMUSIC_LoadSong("music.xm");
  if (!module) {
    const char* damaged = musicOpenFailure();
    std::fprintf(stderr, "narvu: cannot load music.xm: %s\n", damaged ? damaged : fmodErrorText(FSOUND_GetError()));
    FSOUND_Close();
    return 1;
  }
  SongFacts facts;
  songFacts(module, &facts);
  int seconds = int(facts.length_seconds + 0.5);
  std::printf("title:    %s\n", facts.title.c_str());
  std::printf("format:   %s (%s)\n", facts.format.c_str(), facts.tracker.c_str());
  std::printf("channels: %d\n", facts.channels);
  std::printf("patterns: %d in %d orders; %d instruments, %d samples\n", facts.patterns, facts.orders,
              facts.instruments, facts.samples);
  std::printf("length:   %d:%02d (%.2f s)\n", seconds / 60, seconds % 60, facts.length_seconds);
  std::fflush(stdout);

  FMUSIC_SetLooping(module, 0);
  int exit_code = 0;
  if (!FMUSIC_PlaySong(module)) {
    std::fprintf(stderr, "narvu: cannot play the music: %s\n", fmodErrorText(FSOUND_GetError()));
    exit_code = 1;
  } else {
    std::printf("playing...\n");
    std::fflush(stdout);
    // The sound runs in its own thread; this one only waits for the end. A second more than the
    // module's length is allowed before giving up, in case the end is never reported.
    DWORD start = GetTickCount();
    DWORD limit = DWORD(facts.length_seconds * 1000) + 1000;
    // Ctrl-C or SIGTERM ends it as the end of the music does, with the sound closed properly.
    while (!FMUSIC_IsFinished(module) && GetTickCount() - start < limit && !endSignal()) Sleep(50);
    std::printf(endSignal() ? "stopped after %.1f s\n" : "done after %.1f s\n", (GetTickCount() - start) / 1000.0);
  }
  FMUSIC_FreeSong(module);
  FSOUND_Close();
  return exit_code;
}
