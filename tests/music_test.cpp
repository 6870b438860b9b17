// The music: modules written by the XM writer, the sound library's loading, playback and capture, and
// the show's callbacks onto the pack.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "headless.h"
#include "platform/test_hooks.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "pack_writer.h"
#include "test_support.h"
#include "xm_writer.h"

namespace {

// Two channels, two orders of a 16-row pattern at 3 ticks per row, 125 BPM: 32 rows × 60 ms = 1.92 s.
// A looped sine plays in channel 0 with a volume envelope; channel 1 adds a fifth with a volume slide.
XmModule smallModule(bool sixteen_bit = true) {
  XmModule module;
  module.name = "little tune";
  module.channels = 2;
  module.tempo = 3;
  module.bpm = 125;
  XmPattern pattern;
  pattern.rows = 16;
  pattern.cells.resize(32);
  pattern.cells[0] = {xmNote(4, 0), 1, xmVolume(48), 0, 0};
  pattern.cells[2 * 4 + 1] = {xmNote(4, 7), 1, 0, kXmVolumeSlide, 0x01};
  pattern.cells[2 * 12] = {kXmKeyOff, 0, 0, 0, 0};
  module.patterns = {pattern};
  module.orders = {0, 0};
  XmInstrument instrument;
  instrument.name = "sine";
  XmSample sample;
  sample.sixteen_bit = sixteen_bit;
  for (int i = 0; i < 64; ++i) sample.frames.push_back(int16_t(20000 * std::sin(i * 2 * 3.14159265358979 / 64)));
  sample.loop_type = kXmForwardLoop;
  sample.loop_length = 64;
  sample.relative_note = 24;
  instrument.samples = {sample};
  instrument.volume_envelope.points = {{0, 64}, {8, 40}, {30, 20}};
  instrument.volume_envelope.sustain = true;
  instrument.volume_envelope.sustain_point = 1;
  instrument.fadeout = 1024;
  module.instruments = {instrument};
  return module;
}

std::vector<uint8_t> writeOrDie(const XmModule& module) {
  std::string error;
  std::vector<uint8_t> bytes = writeXm(module, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

// A file in memory behind the library's callbacks: one name, "song.xm".
std::vector<uint8_t> memory_file;
size_t memory_position = 0;
FSOUND_FILEHANDLE memoryOpen(const char* name) {
  memory_position = 0;
  return std::strcmp(name, "song.xm") == 0 ? 1 : 0;
}
void memoryClose(FSOUND_FILEHANDLE) {}
int memoryRead(void* buffer, int size, FSOUND_FILEHANDLE) {
  size_t count = std::min(size_t(size), memory_file.size() - memory_position);
  std::memcpy(buffer, memory_file.data() + memory_position, count);
  memory_position += count;
  return int(count);
}
int memorySeek(FSOUND_FILEHANDLE, int position, signed char mode) {
  long base = mode == 0 ? 0 : mode == 1 ? long(memory_position) : long(memory_file.size());
  memory_position = size_t(std::max(0L, std::min(long(memory_file.size()), base + position)));
  return 0;
}
int memoryTell(FSOUND_FILEHANDLE) { return int(memory_position); }

FMUSIC_MODULE* loadFromMemory(const std::vector<uint8_t>& bytes) {
  memory_file = bytes;
  FSOUND_File_SetCallbacks(memoryOpen, memoryClose, memoryRead, memorySeek, memoryTell);
  return FMUSIC_LoadSong("song.xm");
}

// The whole song once, without looping.
std::vector<int16_t> renderWhole(FMUSIC_MODULE* module) {
  FMUSIC_SetLooping(module, 0);
  std::vector<int16_t> all, block(2 * 4096);
  size_t got;
  while ((got = renderSongFrames(module, block.data(), 4096)) > 0) all.insert(all.end(), block.begin(), block.begin() + 2 * got);
  return all;
}

int peak(const std::vector<int16_t>& samples) {
  int level = 0;
  for (int16_t value : samples) level = std::max(level, std::abs(int(value)));
  return level;
}

// The library with no audio device: rendering and loading only.
class SoundLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  }
  void TearDown() override {
    FSOUND_Close();
    platform_settings = PlatformSettings();
  }
};

}  // namespace

// ---- The XM writer -------------------------------------------------------------------------------------

TEST_F(SoundLibrary, WrittenModuleLoadsWithItsFactsAsAFastTracker2Module) {
  FMUSIC_MODULE* module = loadFromMemory(writeOrDie(smallModule()));
  ASSERT_NE(module, nullptr) << FSOUND_GetError();
  SongFacts facts;
  ASSERT_TRUE(songFacts(module, &facts));
  EXPECT_EQ(facts.title, "little tune");
  EXPECT_EQ(facts.format, "FastTracker 2 v1.04");
  // Recognised as FastTracker 2's own file, so it is played by that tracker's rules.
  EXPECT_EQ(facts.tracker, "FastTracker 2 or compatible");
  EXPECT_EQ(facts.channels, 2);
  EXPECT_EQ(facts.patterns, 1);
  EXPECT_EQ(facts.orders, 2);
  EXPECT_EQ(facts.instruments, 1);
  EXPECT_EQ(facts.samples, 1);
  EXPECT_NEAR(facts.length_seconds, 1.92, 0.001);
  std::vector<int16_t> sound = renderWhole(module);
  EXPECT_NEAR(sound.size() / 2 / 44100.0, 1.92, 0.01);
  EXPECT_GT(peak(sound), 1000);
  FMUSIC_FreeSong(module);
}

TEST_F(SoundLibrary, PackedAndFullCellsAnd8And16BitSamplesSoundAlike) {
  XmModule module = smallModule();
  FMUSIC_MODULE* packed = loadFromMemory(writeOrDie(module));
  module.packed = false;
  FMUSIC_MODULE* full = loadFromMemory(writeOrDie(module));
  FMUSIC_MODULE* eight_bit = loadFromMemory(writeOrDie(smallModule(false)));
  ASSERT_TRUE(packed && full && eight_bit);
  std::vector<int16_t> reference = renderWhole(packed);
  EXPECT_EQ(renderWhole(full), reference);
  std::vector<int16_t> coarse = renderWhole(eight_bit);
  ASSERT_EQ(coarse.size(), reference.size());
  int largest_difference = 0;
  for (size_t i = 0; i < coarse.size(); ++i)
    largest_difference = std::max(largest_difference, std::abs(coarse[i] - reference[i]));
  EXPECT_LT(largest_difference, peak(reference) / 20);  // only 8-bit quantisation apart
  for (FMUSIC_MODULE* song_module : {packed, full, eight_bit}) FMUSIC_FreeSong(song_module);
}

TEST(XmWriter, HeaderFieldsAndDeltaEncodedSamples) {
  XmModule module = smallModule();
  module.restart_position = 1;
  module.linear_frequencies = false;
  module.instruments[0].samples[0].frames = {100, -100, 0, 32767, -32768};
  module.instruments[0].samples[0].loop_type = kXmNoLoop;
  std::vector<uint8_t> bytes = writeOrDie(module);
  ASSERT_GT(bytes.size(), 336u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 17), "Extended Module: ");
  EXPECT_EQ(std::string(bytes.begin() + 17, bytes.begin() + 37), "little tune         ");
  EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 58), "FastTracker v2.00   ");
  EXPECT_EQ(bytes[66], 1);  // restart position
  EXPECT_EQ(bytes[74], 0);  // Amiga periods
  // The last 10 bytes are the 16-bit sample as differences: 100, -200, 100, 32767, 1 (wrapped).
  std::vector<uint8_t> tail(bytes.end() - 10, bytes.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{0x64, 0x00, 0x38, 0xFF, 0x64, 0x00, 0xFF, 0x7F, 0x01, 0x00}));
  module.instruments[0].samples[0].sixteen_bit = false;
  bytes = writeOrDie(module);
  // 8-bit keeps the rounded high byte, held within -128..127: 0, 0, 0, 127, -128.
  tail.assign(bytes.end() - 5, bytes.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x7F, 0x01}));
}

TEST(XmWriter, RefusesRecordsTheFormatCannotHold) {
  auto refused = [](void (*change)(XmModule*)) {
    XmModule module = smallModule();
    change(&module);
    std::string error;
    bool empty = writeXm(module, &error).empty();
    return empty && !error.empty();
  };
  EXPECT_TRUE(refused([](XmModule* m) { m->channels = 3; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->orders = {0, 1}; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->restart_position = 2; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->patterns[0].cells.pop_back(); }));
  EXPECT_TRUE(refused([](XmModule* m) { m->patterns[0].rows = 257; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->instruments[0].volume_envelope.points[0].tick = 1; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->instruments[0].volume_envelope.sustain_point = 3; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->instruments[0].samples[0].loop_start = 1; }));
  EXPECT_TRUE(refused([](XmModule* m) { m->instruments[0].note_sample[40] = 1; }));
  EXPECT_FALSE(refused([](XmModule*) {}));
}

// ---- Output and capture --------------------------------------------------------------------------------

namespace {

// Sets an environment variable for one test and restores the old value after it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setEnvironmentVariable(name, value.c_str());
  }
  ~ScopedEnvironment() { setEnvironmentVariable(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

// Plays a short song (the small module with one order) through the opened device to its end.
void playToTheEnd() {
  XmModule short_module = smallModule();
  short_module.orders = {0};
  FMUSIC_MODULE* module = loadFromMemory(writeOrDie(short_module));
  ASSERT_NE(module, nullptr);
  FMUSIC_SetLooping(module, 0);
  ASSERT_TRUE(FMUSIC_PlaySong(module));
  for (int waited = 0; waited < 5000 && !FMUSIC_IsFinished(module); waited += 20) Sleep(20);
  EXPECT_TRUE(FMUSIC_IsFinished(module)) << "the device never rendered the song to its end";
  EXPECT_GE(FMUSIC_GetTime(module), 900);
  FMUSIC_FreeSong(module);
}

std::vector<int16_t> wavSamples(const std::vector<unsigned char>& wav, int* rate) {
  EXPECT_GE(wav.size(), 44u);
  if (wav.size() < 44) return {};
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  auto field = [&wav](size_t at) { return uint32_t(wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 | wav[at + 3] << 24); };
  EXPECT_EQ(field(22) & 0xFFFF, 2u);  // stereo
  EXPECT_EQ(field(34) & 0xFFFF, 16u);  // bits
  *rate = int(field(24));
  EXPECT_EQ(field(40), wav.size() - 44);
  std::vector<int16_t> samples((wav.size() - 44) / 2);
  std::memcpy(samples.data(), wav.data() + 44, samples.size() * 2);
  return samples;
}

}  // namespace

TEST(SoundOutput, DummyDevicePlaysTheSongThroughInRealTime) {
  ScopedEnvironment driver("SDL_AUDIODRIVER", "dummy");
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0)) << FSOUND_GetError();
  playToTheEnd();
  FSOUND_Close();
}

// The disk driver writes in real time (SDL_DISKAUDIODELAY is left alone: on Windows SDL reads every
// variable into one buffer, and the delay's value would stand in for the file's name).
TEST(SoundOutput, DiskDeviceRecordsAudibleMusic) {
  std::string recording = scratchFolder() + "/played.raw";
  ScopedEnvironment driver("SDL_AUDIODRIVER", "disk");
  ScopedEnvironment file("SDL_DISKAUDIOFILE", recording);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0)) << FSOUND_GetError();
  playToTheEnd();
  FSOUND_Close();
  std::vector<unsigned char> bytes = readFile(recording);
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  EXPECT_GE(samples.size(), size_t(2 * 44100));  // at least the song's 0.96 s, in stereo
  EXPECT_GT(peak(samples), 1000);
}

TEST(SoundOutput, NoDeviceIsAnInitFailureWithCode3) {
  ScopedEnvironment driver("SDL_AUDIODRIVER", "no-such-driver");
  EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INIT);
  EXPECT_EQ(FMUSIC_LoadSong("song.xm"), nullptr);  // nothing works before a successful start
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
}

// Capture opens no device (so even a missing driver does not matter) and writes the song from the
// moment it started to the tick count at which it is freed: sample k is the sound at k / 44100 s.
TEST(SoundCapture, WavHoldsExactlyTheCapturedTimeOfTheSong) {
  ScopedEnvironment driver("SDL_AUDIODRIVER", "no-such-driver");
  ScopedPlatformSettings restored;
  std::string folder = scratchFolder();
  platform_settings.sound_capture_path = folder + "/audio.wav";
  platform_settings.virtual_clock = true;
  platform_settings.fps = 60;
  resetVirtualClock(5000);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  std::vector<uint8_t> bytes = writeOrDie(smallModule());
  FMUSIC_MODULE* module = loadFromMemory(bytes);
  ASSERT_NE(module, nullptr);
  for (int i = 0; i < 7; ++i) advanceVirtualClock();  // time before the song starts is not captured
  DWORD start_ms = GetTickCount();
  FMUSIC_PlaySong(module);
  for (int i = 0; i < 151; ++i) advanceVirtualClock();  // past the song's end
  DWORD elapsed_ms = GetTickCount() - start_ms;
  FMUSIC_FreeSong(module);
  FSOUND_Close();

  int rate = 0;
  std::vector<int16_t> captured = wavSamples(readFile(folder + "/audio.wav"), &rate);
  EXPECT_EQ(rate, 44100);
  EXPECT_EQ(captured.size(), size_t(elapsed_ms) * 441 / 10 * 2);
  // The song loops on as it would in the show: its second pass starts at 1.92 s.
  FSOUND_Init(44100, 32, 0);
  FMUSIC_MODULE* fresh = loadFromMemory(bytes);
  std::vector<int16_t> expected(captured.size());
  renderSongFrames(fresh, expected.data(), expected.size() / 2);
  EXPECT_TRUE(captured == expected);
  EXPECT_GT(peak(std::vector<int16_t>(captured.end() - 2 * 4410, captured.end())), 1000);
  FMUSIC_FreeSong(fresh);
  FSOUND_Close();
}

// The song an early exit leaves behind, as the show leaves it (reachable, so not a leak).
FMUSIC_MODULE* abandoned_song = nullptr;

TEST(SoundCapture, AnEarlyExitStillWritesTheMusicSoFar) {
  std::string folder = scratchFolder();
  EXPECT_EXIT(
      {
        capture_settings.capture_path = folder;
        capture_settings.fps = 50;
        prepareCapture();
        FSOUND_Init(44100, 32, 0);
        abandoned_song = loadFromMemory(writeOrDie(smallModule()));
        FMUSIC_PlaySong(abandoned_song);
        for (int i = 0; i < 25; ++i) advanceVirtualClock();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  int rate = 0;
  EXPECT_EQ(wavSamples(readFile(folder + "/audio.wav"), &rate).size(), size_t(500 * 441 / 10 * 2));
}

// ---- The show's music from its pack ---------------------------------------------------------------------

namespace {

struct ShownBox {
  std::string text, caption;
  UINT type;
};
std::vector<ShownBox> shown_boxes;
int recordBox(const char* text, const char* caption, UINT type) {
  shown_boxes.push_back({text, caption, type});
  return IDOK;
}

class ShowMusic : public ::testing::Test {
 protected:
  void SetUp() override {
    shown_boxes.clear();
    setMessageBoxResponder(recordBox);
  }
  void TearDown() override {
    setMessageBoxResponder(nullptr);
    if (song) FMUSIC_FreeSong(song);
    song = nullptr;
    FSOUND_Close();
    packReset();
  }
  void mountPackWith(const std::vector<PackItem>& items) {
    std::string path = scratchFolder() + "/narvu.dat";
    std::string error;
    ASSERT_TRUE(writePack(path, items, PackMethod::best, &error)) << error;
    packReset();
    ASSERT_TRUE(packMount(path.c_str(), 0));
  }
  // startMusic's one message box, as "caption: text".
  std::string startMusicFailure() {
    EXPECT_EQ(startMusic(), 1);
    EXPECT_EQ(song, nullptr);
    if (shown_boxes.size() != 1) return "boxes shown: " + std::to_string(shown_boxes.size());
    EXPECT_EQ(shown_boxes[0].type, MB_ICONERROR);
    return shown_boxes[0].caption + ": " + shown_boxes[0].text;
  }
  ScopedEnvironment driver{"SDL_AUDIODRIVER", "dummy"};
};

}  // namespace

TEST(ShowMusicErrors, EveryCodeHasItsTextAndAnythingElseIsUnknown) {
  EXPECT_STREQ(fmodErrorText(0), "No errors");
  EXPECT_STREQ(fmodErrorText(1), "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.");
  EXPECT_STREQ(fmodErrorText(3), "Error initializing output device.");
  EXPECT_STREQ(fmodErrorText(9), "File not found");
  EXPECT_STREQ(fmodErrorText(10), "Unknown file format");
  EXPECT_STREQ(fmodErrorText(12), "Not enough memory ");
  EXPECT_STREQ(fmodErrorText(19), "Required Mediaplayer codec is not installed");
  for (int code : {20, -1, -2147483647 - 1, 1000}) EXPECT_STREQ(fmodErrorText(code), "Unknown error") << code;
}

TEST_F(ShowMusic, CallbacksServeThePackEntryAndClampSeeks) {
  std::vector<uint8_t> module = writeOrDie(smallModule());
  mountPackWith({{"readme.txt", {'h', 'i'}}, {"Music.XM", module}});
  EXPECT_EQ(musicOpen("no such file"), 0u);
  FSOUND_FILEHANDLE handle = musicOpen("music.xm");
  ASSERT_NE(handle, 0u);
  int size = int(module.size());
  char header[17];
  EXPECT_EQ(musicRead(header, 17, handle), 17);
  EXPECT_EQ(std::string(header, 17), "Extended Module: ");
  EXPECT_EQ(musicTell(handle), 17);
  EXPECT_EQ(musicSeek(handle, size + 100, 0), 0);
  EXPECT_EQ(musicTell(handle), size);
  EXPECT_EQ(musicSeek(handle, -50, 1), 0);
  EXPECT_EQ(musicTell(handle), size - 50);
  EXPECT_EQ(musicSeek(handle, -(size + 10), 1), 0);
  EXPECT_EQ(musicTell(handle), 0);
  EXPECT_EQ(musicSeek(handle, -10, 2), 0);
  std::vector<uint8_t> rest(100);
  EXPECT_EQ(musicRead(rest.data(), 100, handle), 10);  // only what remains
  EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + 10, module.end() - 10));
  EXPECT_EQ(musicRead(rest.data(), 100, handle), 0);
  musicClose(handle);
  // A null handle: nothing read, seek fails with 1, position -1, closing does nothing.
  EXPECT_EQ(musicRead(rest.data(), 100, 0), 0);
  EXPECT_EQ(musicSeek(0, 0, 0), 1);
  EXPECT_EQ(musicTell(0), -1);
  musicClose(0);
}

TEST_F(ShowMusic, StartMusicLoadsTheModuleFromThePack) {
  XmModule module = smallModule();
  module.name = "from the pack";
  mountPackWith({{"music.xm", writeOrDie(module)}});
  EXPECT_EQ(startMusic(), 0);
  ASSERT_NE(song, nullptr);
  EXPECT_TRUE(shown_boxes.empty());
  SongFacts facts;
  songFacts(song, &facts);
  EXPECT_EQ(facts.title, "from the pack");
  EXPECT_TRUE(FMUSIC_PlaySong(song));
}

TEST_F(ShowMusic, MissingModuleIsFileNotFound) {
  mountPackWith({{"mv.vyl", {1, 2, 3}}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(startMusicFailure(), "DEMO - FMOD LOAD error: File not found");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The box keeps the sound library's own text; standard error says what really happened.
TEST_F(ShowMusic, ADamagedModuleKeepsTheLibraryTextAndSaysWhyOnStandardError) {
  std::vector<uint8_t> pack = makePack({{"music.xm", writeOrDie(smallModule())}}, PackMethod::stored);
  pack[28 + 100] ^= 0x40;  // inside the first stored block, which follows the 28-byte header
  std::string path = scratchFolder() + "/narvu.dat";
  writeFile(path, pack);
  ASSERT_TRUE(packMount(path.c_str(), 0));
  testing::internal::CaptureStderr();
  EXPECT_EQ(startMusicFailure(), "DEMO - FMOD LOAD error: File not found");
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("narvu: music.xm is damaged (checksum or decoding failed)\n"), std::string::npos) << said;
}

TEST_F(ShowMusic, BytesThatAreNoModuleAreAnUnknownFormat) {
  std::string text = "These bytes are a letter, not a tracker module. ";
  std::vector<uint8_t> letter;
  for (int i = 0; i < 40; ++i) letter.insert(letter.end(), text.begin(), text.end());
  mountPackWith({{"music.xm", letter}});
  EXPECT_EQ(startMusicFailure(), "DEMO - FMOD LOAD error: Unknown file format");
}

TEST_F(ShowMusic, NoAudioDeviceShowsTheInitError) {
  ScopedEnvironment driver("SDL_AUDIODRIVER", "no-such-driver");
  mountPackWith({{"music.xm", writeOrDie(smallModule())}});
  EXPECT_EQ(startMusicFailure(), "DEMO - FMOD error: Error initializing output device.");
}

int runMusicOnly();  // shell/music_only.cpp

TEST_F(ShowMusic, MusicOnlyPrintsTheFactsAndPlaysToTheEnd) {
  XmModule module = smallModule();
  module.orders = {0};
  std::string folder = scratchFolder();
  std::string error;
  ASSERT_TRUE(writePack(folder + "/narvu.dat", {{"music.xm", writeOrDie(module)}}, PackMethod::zlib, &error));
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  testing::internal::CaptureStdout();
  int exit_code = runMusicOnly();
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(exit_code, 0);
  EXPECT_NE(printed.find("title:    little tune\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("format:   FastTracker 2 v1.04"), std::string::npos) << printed;
  EXPECT_NE(printed.find("channels: 2\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("length:   0:01 (0.96 s)\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("done after"), std::string::npos) << printed;
  // Without a pack there is nothing to play.
  packReset();
  std::remove("narvu.dat");
  testing::internal::CaptureStderr();
  EXPECT_EQ(runMusicOnly(), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("no pack found"), std::string::npos);
  ASSERT_EQ(chdir(previous), 0);
}

// "nosound" anywhere in the command line, even inside a word, keeps the library untouched: not even its
// version is asked for. The run ends at the missing pack, before anything else is started.
TEST_F(ShowMusic, NosoundTouchesNoSoundFunction) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(scratchFolder().c_str()), 0);
  packReset();
  int calls_before = sound_library_calls;
  char quiet[] = "choosedrv xnosoundx";
  EXPECT_EQ(WinMain(nullptr, nullptr, quiet, SW_SHOW), 1);
  EXPECT_EQ(sound_library_calls, calls_before);
  char loud[] = "choosedrv";
  EXPECT_EQ(WinMain(nullptr, nullptr, loud, SW_SHOW), 1);
  EXPECT_EQ(sound_library_calls, calls_before + 1);  // the version check, before the pack
  ASSERT_EQ(shown_boxes.size(), 2u);
  EXPECT_EQ(shown_boxes[1].text, "Unable to mount data file storage!");
  ASSERT_EQ(chdir(previous), 0);
}
