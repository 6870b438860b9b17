// Music: the sound library's start-up, its five file callbacks onto the pack's memory files, loading of
// "music.xm", and the texts of the library's error codes.
//
// The callbacks run on the main thread inside FMUSIC_LoadSong. A file handle is the RamFile pointer,
// carried through the library as a pointer-sized integer; 0 means no file.
#include <cstdio>

#include "shell/shell.h"
#include "storage/storage.h"

static RamFile* ramFile(FSOUND_FILEHANDLE handle) { return reinterpret_cast<RamFile*>(handle); }

// Why the last open failed, for the reason that the library's "File not found" cannot give.
static PackFailure open_failure = PackFailure::none;

FSOUND_FILEHANDLE musicOpen(const char* name) {
  RamFile* file = ramfopen(name);
  open_failure = file ? PackFailure::none : pack_failure;
  return reinterpret_cast<FSOUND_FILEHANDLE>(file);
}

const char* musicOpenFailure() {
  return open_failure == PackFailure::none || open_failure == PackFailure::missing ? nullptr
                                                                                   : packFailureText(open_failure);
}

void musicClose(FSOUND_FILEHANDLE handle) {
  if (handle) ramfclose(ramFile(handle));
}

int musicRead(void* buffer, int size, FSOUND_FILEHANDLE handle) {
  if (!handle) return 0;
  return ramfread(buffer, 1, size, ramFile(handle));
}

// Positions past either end are clamped by the memory file and still count as success.
int musicSeek(FSOUND_FILEHANDLE handle, int position, signed char mode) {
  if (!handle) return 1;
  ramfseek(ramFile(handle), position, mode);
  return 0;
}

int musicTell(FSOUND_FILEHANDLE handle) {
  if (!handle) return -1;
  return ramftell(ramFile(handle));
}

static const char* const kErrorTexts[] = {
    "No errors",
    "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
    "This command failed because FSOUND_Init was not called",
    "Error initializing output device.",
    "The output device is already in use and cannot be reused.",
    "Playing the sound failed.",
    "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
    "Error setting cooperative level for hardware.",
    "Error creating hardware sound buffer.",
    "File not found",
    "Unknown file format",
    "Error loading file",
    "Not enough memory ",
    "The version number of this file format is not supported",
    "An invalid parameter was passed to this function",
    "Tried to use an EAX command on a non EAX enabled channel or output.",
    "Tried to use an advanced EAX2 command on a non EAX2 enabled channel or output.",
    "Failed to allocate a new channel",
    "Recording not supported on this device",
    "Required Mediaplayer codec is not installed",
};

// Taken as unsigned, so negative codes fall outside the table too.
const char* fmodErrorText(int code) {
  uint32_t index = static_cast<uint32_t>(code);
  if (index >= sizeof(kErrorTexts) / sizeof(kErrorTexts[0])) return "Unknown error";
  return kErrorTexts[index];
}

int startMusic() {
  if (!FSOUND_Init(44100, 32, 0)) {
    MessageBoxA(nullptr, fmodErrorText(FSOUND_GetError()), "DEMO - FMOD error", MB_ICONERROR);
    return 1;
  }
  FSOUND_File_SetCallbacks(musicOpen, musicClose, musicRead, musicSeek, musicTell);
  open_failure = PackFailure::none;
  song = FMUSIC_LoadSong("music.xm");
  if (!song) {
    // The library can only say "File not found" when the open callback gives nothing; the box keeps
    // its words and the real reason goes to standard error.
    if (const char* reason = musicOpenFailure()) std::fprintf(stderr, "narvu: music.xm is %s\n", reason);
    MessageBoxA(nullptr, fmodErrorText(FSOUND_GetError()), "DEMO - FMOD LOAD error", MB_ICONERROR);
    return 1;
  }
  return 0;
}
