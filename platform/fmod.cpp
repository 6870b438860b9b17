// The sound library, in place of the vendor's: module loading and playback by libopenmpt, output through
// SDL2 audio, or rendered offline into a WAV file when the show is captured.
//
// Use: FSOUND_Init opens the output; FSOUND_File_SetCallbacks installs the program's file access;
// FMUSIC_LoadSong reads a module through it (every byte goes through the callbacks, and the file is
// closed before the call returns); FMUSIC_PlaySong hands the song to the mixer; FMUSIC_FreeSong and
// FSOUND_Close undo it all.
//
// Threads: every call comes from the main thread. While a song plays live, SDL's audio thread renders
// it; the main thread takes the device lock for anything that touches the playing song. One song plays
// at a time (playing another stops the first), which is all the show asks of the library.
//
// Capture: with platform_settings.capture_path set at FSOUND_Init no device is opened. The song that
// FMUSIC_PlaySong starts is remembered with the tick count of that moment, and finishSoundCapture
// renders it from there to the current tick count, so sample k of DIR/audio.wav is the sound at
// k / rate seconds after the song started on the (virtual) clock, whatever the machine's speed. A video
// capture muxes that file in when it ends.
#include <SDL.h>
#include <libopenmpt/libopenmpt.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/gl_backend.h"
#include "platform/platform.h"

struct FMUSIC_MODULE {
  openmpt_module* player;
  bool looping;                 // FMOD songs loop by default, through the module's restart position
  bool started;                 // played before: a new PlaySong starts again from the beginning
  std::atomic<bool> playing;
  std::atomic<bool> finished;   // a song without looping reached its end
  std::atomic<uint64_t> frames_played;
};

int sound_library_calls = 0;

namespace {

constexpr int kDefaultRate = 44100;

int last_error = FMOD_ERR_NONE;
bool initialised = false;
int mix_rate = kDefaultRate;
bool capturing = false;
SDL_AudioDeviceID audio_device = 0;
FMUSIC_MODULE* live_song = nullptr;  // the song SDL's audio thread renders; changed under the device lock

FSOUND_OPENCALLBACK open_callback = nullptr;
FSOUND_CLOSECALLBACK close_callback = nullptr;
FSOUND_READCALLBACK read_callback = nullptr;
FSOUND_SEEKCALLBACK seek_callback = nullptr;
FSOUND_TELLCALLBACK tell_callback = nullptr;

FMUSIC_MODULE* capture_song = nullptr;
DWORD capture_start_ms = 0;
bool capture_exit_handler_installed = false;

int fail(int code) {
  last_error = code;
  return 0;
}
signed char failed(int code) { return static_cast<signed char>(fail(code)); }

// ---- Files: the installed callbacks, or the standard streams when none are installed ----------------
FSOUND_FILEHANDLE standardOpen(const char* name) {
  return reinterpret_cast<FSOUND_FILEHANDLE>(std::fopen(name, "rb"));
}
void standardClose(FSOUND_FILEHANDLE handle) { std::fclose(reinterpret_cast<FILE*>(handle)); }
int standardRead(void* buffer, int size, FSOUND_FILEHANDLE handle) {
  return int(std::fread(buffer, 1, size_t(size), reinterpret_cast<FILE*>(handle)));
}
int standardSeek(FSOUND_FILEHANDLE handle, int position, signed char mode) {
  return std::fseek(reinterpret_cast<FILE*>(handle), position, mode);
}
int standardTell(FSOUND_FILEHANDLE handle) { return int(std::ftell(reinterpret_cast<FILE*>(handle))); }

struct FileAccess {
  FSOUND_OPENCALLBACK open;
  FSOUND_CLOSECALLBACK close;
  FSOUND_READCALLBACK read;
  FSOUND_SEEKCALLBACK seek;
  FSOUND_TELLCALLBACK tell;
  FSOUND_FILEHANDLE handle;
};

FileAccess fileAccess() {
  if (open_callback && close_callback && read_callback && seek_callback && tell_callback)
    return {open_callback, close_callback, read_callback, seek_callback, tell_callback, 0};
  return {standardOpen, standardClose, standardRead, standardSeek, standardTell, 0};
}

// libopenmpt's stream interface over the file callbacks. The callbacks count in int, libopenmpt in
// size_t and int64: reads are split, and positions that do not fit are refused.
size_t streamRead(void* stream, void* destination, size_t bytes) {
  FileAccess* file = static_cast<FileAccess*>(stream);
  size_t done = 0;
  while (done < bytes) {
    int chunk = int(std::min<size_t>(bytes - done, size_t(1) << 30));
    int got = file->read(static_cast<char*>(destination) + done, chunk, file->handle);
    if (got <= 0) break;
    done += size_t(got);
    if (got < chunk) break;
  }
  return done;
}

int streamSeek(void* stream, int64_t offset, int whence) {
  FileAccess* file = static_cast<FileAccess*>(stream);
  if (offset < INT_MIN || offset > INT_MAX) return -1;
  // OPENMPT_STREAM_SEEK_SET/CUR/END are 0, 1 and 2, the callback's modes.
  return file->seek(file->handle, int(offset), static_cast<signed char>(whence)) == 0 ? 0 : -1;
}

int64_t streamTell(void* stream) {
  FileAccess* file = static_cast<FileAccess*>(stream);
  return file->tell(file->handle);
}

// ---- Rendering ---------------------------------------------------------------------------------------
int renderRate() { return initialised ? mix_rate : kDefaultRate; }

size_t renderInto(FMUSIC_MODULE* module, int16_t* output, size_t frames) {
  size_t done = 0;
  if (!module->finished) {
    while (done < frames) {
      size_t got = openmpt_module_read_interleaved_stereo(module->player, int32_t(renderRate()), frames - done,
                                                          output + 2 * done);
      if (got == 0) {
        module->finished = true;
        break;
      }
      done += got;
    }
  }
  std::memset(output + 2 * done, 0, (frames - done) * 2 * sizeof(int16_t));
  module->frames_played += frames;
  return done;
}

void audioCallback(void*, Uint8* stream, int length) {
  int16_t* output = reinterpret_cast<int16_t*>(stream);
  size_t frames = size_t(length) / (2 * sizeof(int16_t));
  if (live_song && live_song->playing)
    renderInto(live_song, output, frames);
  else
    std::memset(stream, 0, size_t(length));
}

// Settings for playing a module as FastTracker 2 played it. libopenmpt recognises a module saved by
// FastTracker 2 by its header and then applies that tracker's playback rules and mixing levels itself
// (envelopes, fadeout, key-off, portamento and arpeggio quirks, and FT2's soft volume ramping); the
// render parameters below are its defaults for XM, set here so the choice is visible:
//   interpolation filter 0 (libopenmpt's recommended default, an 8-tap windowed sinc),
//   stereo separation 100 % (the module's own panning, unnarrowed), volume ramping -1 (the module's
//   tracker's own ramping), master gain 0 dB.
// At the end of the order table a looping song continues from the module's restart position (repeat
// count -1); a song without looping stops there ("play.at_end" = "stop", no fade added). The 16-bit
// output is not dithered ("dither" = 0, where libopenmpt's default adds random noise): the same song
// renders to the same samples every time, so a capture can be repeated bit for bit.
void applyPlaybackSettings(FMUSIC_MODULE* module) {
  openmpt_module_set_render_param(module->player, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 0);
  openmpt_module_set_render_param(module->player, OPENMPT_MODULE_RENDER_STEREOSEPARATION_PERCENT, 100);
  openmpt_module_set_render_param(module->player, OPENMPT_MODULE_RENDER_VOLUMERAMPING_STRENGTH, -1);
  openmpt_module_set_render_param(module->player, OPENMPT_MODULE_RENDER_MASTERGAIN_MILLIBEL, 0);
  openmpt_module_ctl_set_text(module->player, "play.at_end", "stop");
  openmpt_module_ctl_set_integer(module->player, "dither", 0);
  openmpt_module_set_repeat_count(module->player, module->looping ? -1 : 0);
}

// ---- Capture -------------------------------------------------------------------------------------------
void put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(uint8_t(value));
  out->push_back(uint8_t(value >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int rate) {
  std::vector<uint8_t> header;
  uint32_t data_bytes = uint32_t(samples.size() * sizeof(int16_t));
  for (char c : std::string("RIFF")) header.push_back(uint8_t(c));
  put32(&header, 36 + data_bytes);
  for (char c : std::string("WAVEfmt ")) header.push_back(uint8_t(c));
  put32(&header, 16);
  put16(&header, 1);  // PCM
  put16(&header, 2);
  put32(&header, uint32_t(rate));
  put32(&header, uint32_t(rate) * 4);
  put16(&header, 4);
  put16(&header, 16);
  for (char c : std::string("data")) header.push_back(uint8_t(c));
  put32(&header, data_bytes);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  if (!samples.empty())
    written = written && std::fwrite(samples.data(), sizeof(int16_t), samples.size(), file) == samples.size();
  return std::fclose(file) == 0 && written;
}

void finishCaptureAtExit() { finishSoundCapture(); }

}  // namespace

void finishSoundCapture() {
  FMUSIC_MODULE* module = capture_song;
  if (!module) return;
  capture_song = nullptr;
  if (platform_settings.capture_path.empty()) return;
  DWORD elapsed_ms = GetTickCount() - capture_start_ms;
  size_t frames = size_t(uint64_t(elapsed_ms) * uint64_t(renderRate()) / 1000);
  std::vector<int16_t> samples(frames * 2);
  renderSongFrames(module, samples.data(), frames);
  std::error_code ignored;
  if (!captureIsVideo()) std::filesystem::create_directories(platform_settings.capture_path, ignored);
  std::string file = captureAudioPath();
  if (!writeWav(file, samples, renderRate())) std::fprintf(stderr, "narvu: cannot write %s\n", file.c_str());
}

float FSOUND_GetVersion() {
  ++sound_library_calls;
  return 3.33f;
}

signed char FSOUND_Init(int rate, int max_software_channels, unsigned int flags) {
  ++sound_library_calls;
  (void)flags;  // no output or mixer options exist here
  // libopenmpt mixes every voice a module needs; the software channel count limits nothing.
  (void)max_software_channels;
  if (initialised) return failed(FMOD_ERR_BUSY);
  if (rate < 8000 || rate > 192000) return failed(FMOD_ERR_INVALID_PARAM);
  mix_rate = rate;
  capturing = !platform_settings.capture_path.empty();
  if (!capturing) {
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
      audio_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    }
    restoreStandardError(saved);
    if (audio_device == 0) {
      // The error code's text is all the show says; the reason SDL gives goes beside it.
      std::fprintf(stderr, "narvu: no sound output (%s); play the show with nosound\n", SDL_GetError());
      if (started) SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return failed(FMOD_ERR_INIT);
    }
    SDL_PauseAudioDevice(audio_device, 0);
  }
  initialised = true;
  last_error = FMOD_ERR_NONE;
  return 1;
}

int FSOUND_GetError() {
  ++sound_library_calls;
  return last_error;
}

void FSOUND_File_SetCallbacks(FSOUND_OPENCALLBACK open, FSOUND_CLOSECALLBACK close, FSOUND_READCALLBACK read,
                              FSOUND_SEEKCALLBACK seek, FSOUND_TELLCALLBACK tell) {
  ++sound_library_calls;
  open_callback = open;
  close_callback = close;
  read_callback = read;
  seek_callback = seek;
  tell_callback = tell;
}

FMUSIC_MODULE* FMUSIC_LoadSong(const char* name) {
  ++sound_library_calls;
  if (!initialised) return fail(FMOD_ERR_UNINITIALIZED), nullptr;
  if (!name) return fail(FMOD_ERR_INVALID_PARAM), nullptr;
  FileAccess file = fileAccess();
  file.handle = file.open(name);
  if (file.handle == 0) return fail(FMOD_ERR_FILE_NOTFOUND), nullptr;
  openmpt_stream_callbacks stream = {streamRead, streamSeek, streamTell};
  int error = OPENMPT_ERROR_OK;
  openmpt_module* player = openmpt_module_create2(stream, &file, openmpt_log_func_silent, nullptr,
                                                  openmpt_error_func_store, nullptr, &error, nullptr, nullptr);
  file.close(file.handle);
  if (!player) return fail(error == OPENMPT_ERROR_OUT_OF_MEMORY ? FMOD_ERR_MEMORY : FMOD_ERR_FILE_FORMAT), nullptr;
  // libopenmpt reads many more formats than the tracker modules this library knows; the rest are refused
  // as the library refused them.
  const char* type = openmpt_module_get_metadata(player, "type");
  bool known = false;
  for (const char* format : {"mod", "s3m", "xm", "it"}) known = known || std::strcmp(type, format) == 0;
  openmpt_free_string(type);
  if (!known) {
    openmpt_module_destroy(player);
    return fail(FMOD_ERR_FILE_FORMAT), nullptr;
  }
  FMUSIC_MODULE* module = new FMUSIC_MODULE{player, true, false, {false}, {false}, {0}};
  applyPlaybackSettings(module);
  last_error = FMOD_ERR_NONE;
  return module;
}

signed char FMUSIC_PlaySong(FMUSIC_MODULE* module) {
  ++sound_library_calls;
  if (!initialised) return failed(FMOD_ERR_UNINITIALIZED);
  if (!module) return failed(FMOD_ERR_INVALID_PARAM);
  if (capturing) {
    if (capture_song && capture_song != module) finishSoundCapture();
    capture_song = module;
    capture_start_ms = GetTickCount();
    if (!capture_exit_handler_installed) {
      // An early end (Esc, closing the window) leaves through exit(): the sound so far is still written.
      std::atexit(finishCaptureAtExit);
      capture_exit_handler_installed = true;
    }
  }
  if (audio_device) SDL_LockAudioDevice(audio_device);
  if (live_song && live_song != module) live_song->playing = false;
  if (module->started) openmpt_module_set_position_seconds(module->player, 0);
  module->started = true;
  module->finished = false;
  module->frames_played = 0;
  module->playing = true;
  if (!capturing) live_song = module;
  if (audio_device) SDL_UnlockAudioDevice(audio_device);
  return 1;
}

signed char FMUSIC_StopSong(FMUSIC_MODULE* module) {
  ++sound_library_calls;
  if (!module) return failed(FMOD_ERR_INVALID_PARAM);
  if (module == capture_song) finishSoundCapture();
  if (audio_device) SDL_LockAudioDevice(audio_device);
  module->playing = false;
  if (live_song == module) live_song = nullptr;
  if (audio_device) SDL_UnlockAudioDevice(audio_device);
  return 1;
}

signed char FMUSIC_FreeSong(FMUSIC_MODULE* module) {
  ++sound_library_calls;
  if (!module) return failed(FMOD_ERR_INVALID_PARAM);
  FMUSIC_StopSong(module);
  openmpt_module_destroy(module->player);
  delete module;
  return 1;
}

signed char FMUSIC_SetLooping(FMUSIC_MODULE* module, signed char looping) {
  ++sound_library_calls;
  if (!module) return failed(FMOD_ERR_INVALID_PARAM);
  if (audio_device) SDL_LockAudioDevice(audio_device);
  module->looping = looping != 0;
  openmpt_module_set_repeat_count(module->player, module->looping ? -1 : 0);
  if (audio_device) SDL_UnlockAudioDevice(audio_device);
  return 1;
}

signed char FMUSIC_IsFinished(FMUSIC_MODULE* module) {
  ++sound_library_calls;
  if (!module) return failed(FMOD_ERR_INVALID_PARAM);
  return module->finished ? 1 : 0;
}

int FMUSIC_GetTime(FMUSIC_MODULE* module) {
  ++sound_library_calls;
  if (!module) return fail(FMOD_ERR_INVALID_PARAM), -1;
  // A captured song is rendered only when the capture ends; until then its time is the clock's.
  if (module == capture_song) return int(GetTickCount() - capture_start_ms);
  return int(module->frames_played * 1000 / uint64_t(renderRate()));
}

void FSOUND_Close() {
  ++sound_library_calls;
  finishSoundCapture();
  if (audio_device) {
    SDL_LockAudioDevice(audio_device);
    if (live_song) live_song->playing = false;
    live_song = nullptr;
    SDL_UnlockAudioDevice(audio_device);
    SDL_CloseAudioDevice(audio_device);
    audio_device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  initialised = false;
  capturing = false;
}

size_t renderSongFrames(FMUSIC_MODULE* module, int16_t* output, size_t frames) {
  if (!module || !output) return 0;
  return renderInto(module, output, frames);
}

bool songFacts(FMUSIC_MODULE* module, SongFacts* facts) {
  if (!module || !facts) return false;
  openmpt_module* player = module->player;
  auto metadata = [player](const char* key) {
    const char* text = openmpt_module_get_metadata(player, key);
    std::string value = text ? text : "";
    openmpt_free_string(text);
    return value;
  };
  facts->title = metadata("title");
  facts->format = metadata("type_long");
  facts->tracker = metadata("tracker");
  facts->channels = openmpt_module_get_num_channels(player);
  facts->patterns = openmpt_module_get_num_patterns(player);
  facts->orders = openmpt_module_get_num_orders(player);
  facts->instruments = openmpt_module_get_num_instruments(player);
  facts->samples = openmpt_module_get_num_samples(player);
  facts->length_seconds = openmpt_module_get_duration_seconds(player);
  return true;
}
