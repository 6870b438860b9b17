// The sound output natively: SDL2's audio device, 16-bit stereo, whose own thread asks the mixer for
// each buffer as it plays it (see "The sound output" in platform/backend.h).
#include <SDL.h>

#include "platform/sdl/sdl_local.h"

struct SdlSoundOutput {
  SDL_AudioDeviceID device = 0;
  SoundMixer mix = nullptr;
};
static SdlSoundOutput output;

static void audioCallback(void*, Uint8* stream, int length) {
  output.mix(reinterpret_cast<int16_t*>(stream), size_t(length) / (2 * sizeof(int16_t)));
}

bool openSoundOutput(int rate, SoundMixer mix, std::string* reason) {
  output.mix = mix;
  int saved = quietStandardError();
  bool started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (started) {
    SDL_AudioSpec wanted = {};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 2048;  // 46 ms at 44100 Hz
    wanted.callback = audioCallback;
    SDL_AudioSpec obtained = {};
    output.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  }
  restoreStandardError(saved);
  if (output.device == 0) {
    *reason = SDL_GetError();
    if (started) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  SDL_PauseAudioDevice(output.device, 0);
  return true;
}

void closeSoundOutput() {
  SDL_CloseAudioDevice(output.device);
  output.device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void lockSoundOutput() { SDL_LockAudioDevice(output.device); }
void unlockSoundOutput() { SDL_UnlockAudioDevice(output.device); }

// SDL holds one buffer ahead, 46 ms, and the mixer itself plays silence while the song is paused.
void soundOutputMoved() {}
void pauseSoundOutput(bool) {}
