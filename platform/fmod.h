// The sound library as the show calls it (FSOUND_ and FMUSIC_ calls), on libopenmpt for the module and
// SDL2 audio for output; in the page, an AudioWorklet (platform/fmod.cpp).
//
// Threads: every call comes from the main thread. The library mixes in SDL's audio thread (in the page,
// on the main thread whenever the browser gets its turn) and calls the installed file callbacks only
// while FMUSIC_LoadSong runs, on the main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FMUSIC_MODULE;
// A file handle passed through the library: pointer-sized here, so a pointer survives the trip.
typedef uintptr_t FSOUND_FILEHANDLE;
typedef FSOUND_FILEHANDLE (*FSOUND_OPENCALLBACK)(const char* name);
typedef void (*FSOUND_CLOSECALLBACK)(FSOUND_FILEHANDLE handle);
typedef int (*FSOUND_READCALLBACK)(void* buffer, int size, FSOUND_FILEHANDLE handle);
typedef int (*FSOUND_SEEKCALLBACK)(FSOUND_FILEHANDLE handle, int position, signed char mode);
typedef int (*FSOUND_TELLCALLBACK)(FSOUND_FILEHANDLE handle);

enum FMOD_ERRORS {
  FMOD_ERR_NONE = 0,
  FMOD_ERR_BUSY = 1,
  FMOD_ERR_UNINITIALIZED = 2,
  FMOD_ERR_INIT = 3,
  FMOD_ERR_ALLOCATED = 4,
  FMOD_ERR_PLAY = 5,
  FMOD_ERR_OUTPUT_FORMAT = 6,
  FMOD_ERR_COOPERATIVELEVEL = 7,
  FMOD_ERR_CREATEBUFFER = 8,
  FMOD_ERR_FILE_NOTFOUND = 9,
  FMOD_ERR_FILE_FORMAT = 10,
  FMOD_ERR_FILE_BAD = 11,
  FMOD_ERR_MEMORY = 12,
  FMOD_ERR_VERSION = 13,
  FMOD_ERR_INVALID_PARAM = 14,
};

float FSOUND_GetVersion();
signed char FSOUND_Init(int mix_rate, int max_software_channels, unsigned int flags);
int FSOUND_GetError();
void FSOUND_File_SetCallbacks(FSOUND_OPENCALLBACK open, FSOUND_CLOSECALLBACK close, FSOUND_READCALLBACK read,
                              FSOUND_SEEKCALLBACK seek, FSOUND_TELLCALLBACK tell);
FMUSIC_MODULE* FMUSIC_LoadSong(const char* name);
signed char FMUSIC_PlaySong(FMUSIC_MODULE* module);
signed char FMUSIC_FreeSong(FMUSIC_MODULE* module);
void FSOUND_Close();
// The library's other song calls, for the music-only check and the tests.
signed char FMUSIC_StopSong(FMUSIC_MODULE* module);
signed char FMUSIC_SetLooping(FMUSIC_MODULE* module, signed char looping);  // songs loop by default
signed char FMUSIC_SetPaused(FMUSIC_MODULE* module, signed char pause);  // silence, the song held where it is
signed char FMUSIC_GetPaused(FMUSIC_MODULE* module);
signed char FMUSIC_IsFinished(FMUSIC_MODULE* module);  // a song without looping has played to its end
int FMUSIC_GetTime(FMUSIC_MODULE* module);             // milliseconds since PlaySong, -1 for none

// This port's additions: facts for people checking a module, and offline rendering.
struct SongFacts {
  std::string title;
  std::string format;   // e.g. "FastTracker 2 v1.04"
  std::string tracker;  // the tracker the module says it was made with, as the player reads it
  int channels = 0;
  int patterns = 0;
  int orders = 0;
  int instruments = 0;
  int samples = 0;
  double length_seconds = 0;  // one pass through the order table
};
bool songFacts(FMUSIC_MODULE* module, SongFacts* facts);
// Moves the song to `milliseconds` after its start (through the order table, by time, as the module
// plays); false for no song. A viewer's seek uses it.
bool setSongPosition(FMUSIC_MODULE* module, int milliseconds);
// Renders the next `frames` stereo frames (interleaved 16-bit, the FSOUND_Init mixing rate, 44100 Hz
// before it) from the song's current position into `output`; frames after the song's end are silent.
// Returns the frames that held music. Only for a song that is not playing through the audio device.
size_t renderSongFrames(FMUSIC_MODULE* module, int16_t* output, size_t frames);
// Offline rendering (platform_settings.sound_capture_path set before FSOUND_Init): no audio device is
// opened, and the song started by FMUSIC_PlaySong is rendered offline into that WAV file: the sound of
// the capture's picture frames from settings.sound_capture_first_frame to the start of
// settings.sound_capture_end_frame, or, without an end frame, to GetTickCount now. FMUSIC_StopSong,
// FMUSIC_FreeSong and FSOUND_Close call it; once per song. Whoever ends a capture early calls it too.
// False (with a line on standard error) when the file could not be written.
bool finishSoundCapture();
