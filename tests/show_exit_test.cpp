// The show as a user starts it: exit codes and messages of the start-up failures, the options of this
// port, and a captured run checked frame by frame.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "pack_writer.h"
#include "test_support.h"

namespace {

const std::string kBareShow = std::string(NARVU_BUILD_DIR) + "/narvu-bare";
const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

// The bare show copied into a folder of its own: nothing lies beside it, so the only pack it can find
// is the working folder's narvu.dat.
std::string showAlone(const std::string& folder) {
  std::filesystem::create_directories(folder + "/bin");
  std::string copy = folder + "/bin/narvu-bare";
  std::filesystem::copy_file(kBareShow, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ShowStartUp, WithoutAPackTheShowSaysSoOnceAndExitsWithOne) {
  std::string folder = scratchFolder();
  std::string show = showAlone(folder);
  ChildResult run = runChild({show, "--capture", folder + "/frames", "--fps", "25"}, folder);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_EQ(occurrences(run.output, "Demo Problem Report: Unable to mount data file storage!\n"), 1) << run.output;
  EXPECT_FALSE(std::filesystem::exists(folder + "/frames"));
  // Beside the box, every place that was looked at, in order.
  EXPECT_NE(run.output.find("narvu: no pack found (looked for one appended to " + show + ", then for " + folder +
                            "/narvu.dat, " + folder + "/bin/narvu.dat and " + folder + "/share/narvu/narvu.dat)\n"),
            std::string::npos)
      << run.output;
  // A file of that name that is no pack is named as such.
  writeFile(folder + "/narvu.dat", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'a', 'c', 'k'});
  run = runChild({show, "--capture", folder + "/frames", "--fps", "25"}, folder);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_NE(run.output.find("then for " + folder + "/narvu.dat (there, but not a pack or damaged), "),
            std::string::npos)
      << run.output;
}

// Someone trying a pack of their own in the working folder must not watch another one unawares: when
// it does not mount, one line says so and names the pack used instead, beside the executable or in
// the data folder of an installation (bin/../share/narvu).
TEST(ShowStartUp, AWorkingFolderPackThatDoesNotMountIsNamedBeforeAnotherIsUsed) {
  std::string folder = scratchFolder();
  std::string show = showAlone(folder);
  std::vector<unsigned char> pack = makePack({{"readme.txt", {'h', 'i'}}}, PackMethod::stored);
  std::vector<unsigned char> damaged_directory = pack;
  damaged_directory[damaged_directory.size() - 10] ^= 0x40;  // the stored directory comes last
  const std::string installed = folder + "/share/narvu/narvu.dat";
  std::filesystem::create_directories(folder + "/share/narvu");
  writeFile(installed, pack);
  struct Case {
    std::vector<unsigned char> working_folder_pack;
    bool beside;  // a pack beside the executable too
    std::string said;  // "" for nothing said
  } cases[] = {
      {{'n', 'o', 't', ' ', 'a', ' ', 'p', 'a', 'c', 'k'}, true,
       "narvu: ./narvu.dat is not a pack or is damaged (no pack at its start nor one appended at its end); using " +
           folder + "/bin/narvu.dat\n"},
      {damaged_directory, false,
       "narvu: ./narvu.dat is not a pack or is damaged (its directory does not decode: checksum failed); using " +
           installed + "\n"},
      {pack, true, ""},
  };
  for (const Case& c : cases) {
    writeFile(folder + "/narvu.dat", c.working_folder_pack);
    std::filesystem::remove(folder + "/bin/narvu.dat");
    if (c.beside) writeFile(folder + "/bin/narvu.dat", pack);
    ChildResult run = runChild({show, "nosound", "--capture", "frames"}, folder);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    // Mounted: start-up goes on to the scenes, which these packs do not hold.
    EXPECT_NE(run.output.find("Cannot load the scene mv.vyl"), std::string::npos) << run.output;
    if (c.said.empty()) {
      EXPECT_EQ(run.output.find("is not a pack"), std::string::npos) << run.output;
    } else {
      EXPECT_EQ(occurrences(run.output, c.said), 1) << run.output;
      EXPECT_EQ(occurrences(run.output, "is not a pack"), 1) << run.output;
    }
  }
}

// The pack beside the executable is found from any working folder.
TEST(ShowStartUp, ThePackBesideTheExecutableIsFoundFromAnyFolder) {
  std::string folder = scratchFolder();
  std::string show = showAlone(folder);
  std::filesystem::create_directories(folder + "/elsewhere");
  writeFile(folder + "/bin/narvu.dat", makePack({{"readme.txt", {'h', 'i'}}}, PackMethod::stored));
  ChildResult run = runChild({show, "nosound", "--capture", "frames"}, folder + "/elsewhere");
  EXPECT_EQ(run.exit_code, 1) << run.output;
  // Mounted: start-up goes on to the scenes, which this pack does not hold.
  EXPECT_EQ(run.output.find("Unable to mount"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Cannot load the scene mv.vyl: the scene resource is missing"), std::string::npos)
      << run.output;
}

// A named pipe where the pack should be is no pack: the show does not wait for a writer.
TEST(ShowStartUp, ANamedPipeAsThePackIsRefusedAtOnce) {
  std::string folder = scratchFolder();
  ASSERT_EQ(mkfifo((folder + "/narvu.dat").c_str(), 0644), 0);
  ChildResult run = runChild({showAlone(folder), "nosound", "--capture", folder + "/frames"}, folder, {}, 20);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_NE(run.output.find("Unable to mount data file storage!"), std::string::npos) << run.output;
}

// Sizes that the stored bytes cannot reach: a directory whose header declares 4 GiB, and a module entry
// of 8 stored bytes that declares 2 GiB. The show refuses both before allocating them.
TEST(ShowStartUp, PacksDeclaringGigabytesAreRefusedInLittleMemory) {
  std::string folder = scratchFolder();
  std::vector<unsigned char> directory_bomb =
      makePack({{"music.xm", std::vector<uint8_t>(1000, 7)}}, PackMethod::zlib);
  for (int i = 0; i < 4; ++i) directory_bomb[16 + i] = 0xFF;  // the directory's unpacked size
  writeFile(folder + "/narvu.dat", directory_bomb);
  std::string show = showAlone(folder);
  ChildResult run = runChild({show, "nosound", "--capture", folder + "/frames"}, folder);
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_EQ(occurrences(run.output, "Demo Problem Report: Unable to mount data file storage!\n"), 1) << run.output;
  EXPECT_LT(run.peak_memory_kb, 50 * 1024 + kSanitizerMemoryKb);

  writeFile(folder + "/narvu.dat", packDeclaringTooMuch("music.xm", 0x7FFFFFF0u));
  run = runChild({show, "--capture", folder + "/frames"}, folder, {"SDL_AUDIODRIVER=dummy"});
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_NE(run.output.find("DEMO - FMOD LOAD error: File not found"), std::string::npos) << run.output;
  EXPECT_LT(run.peak_memory_kb, 50 * 1024 + kSanitizerMemoryKb);
}

// Without a sound card the library behind SDL's audio (ALSA) prints its own diagnostics while a device
// is looked for; the user sees the show's message and its reason. (The offscreen driver is named, so
// that the show gets as far as the sound.)
TEST(ShowStartUp, NoSoundCardGivesTheShowsMessageWithoutLibraryNoise) {
  std::string folder = scratchFolder();
  writeFile(folder + "/narvu.dat", makePack({{"readme.txt", {'h', 'i'}}}, PackMethod::stored));
  ChildResult run =
      runChild({showAlone(folder)}, folder,
               {"SDL_VIDEODRIVER=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=", "SDL_AUDIODRIVER=alsa",
                "ALSA_CARD=99"});
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_EQ(run.output.find("ALSA lib"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("XDG_RUNTIME_DIR"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("narvu: no sound output ("), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("); play the show with nosound\nDEMO - FMOD error: Error initializing output device.\n"),
            std::string::npos)
      << run.output;
}

TEST(ShowStartUp, WithoutADisplayAndWithoutCaptureTheShowNamesTheWayOut) {
  std::string folder = scratchFolder();
  ChildResult run = runChild({kBareShow}, folder, {"SDL_VIDEODRIVER=x11", "DISPLAY=", "WAYLAND_DISPLAY="});
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_NE(run.output.find("--capture"), std::string::npos) << run.output;
}

// With nothing to show on, SDL still offers its offscreen driver, and a live show would play for two
// minutes into nothing. It is refused at once, before the pack or the sound is touched, in one line
// without the diagnostics of the display libraries SDL tried (Wayland's, without XDG_RUNTIME_DIR); a
// capture, which needs no display, still renders.
TEST(ShowStartUp, WithoutADisplayALiveRunEndsAtOnceAndACaptureStillRenders) {
  std::string folder = scratchFolder();
  const std::vector<std::string> no_display = {
      "SDL_VIDEODRIVER=", "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=", "SDL_AUDIODRIVER=dummy"};
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{kShow, "nosound"}, {kShow}}) {
    auto start = std::chrono::steady_clock::now();
    ChildResult run = runChild(arguments, folder, no_display, 30);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(run.output,
              "narvu: no display to play on (neither DISPLAY nor WAYLAND_DISPLAY is set); use --capture DIR to "
              "render off-screen\n");
    EXPECT_LT(seconds, 1.0);
  }

  RunningChild capture =
      startChild({kShow, "nosound", "--capture", folder + "/frames", "--fps", "1"}, folder, no_display, "capture.txt");
  Image first;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (first.rgb.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first = readPng(folder + "/frames/frame_000000.png");  // empty while it is being written
  }
  ChildResult stopped = waitChild(&capture, 0);
  ASSERT_EQ(first.width, 640) << stopped.output;
  double sum = 0;
  for (unsigned char c : first.rgb) sum += c;
  EXPECT_GT(sum / double(first.rgb.size()), 20.0) << "the first frame is nearly black";
}

TEST(ShowOptions, HelpListsTheOptionsAndAMistakeInThemExitsWithTwo) {
  std::string folder = scratchFolder();
  ChildResult help = runChild({kBareShow, "--help"}, folder);
  EXPECT_EQ(help.exit_code, 0);
  for (const char* option :
       {"nosound", "choosedrv", "--capture", "--fps", "--windowed", "--display", "--vsync", "--size", "Alt+Enter"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  ChildResult missing = runChild({kBareShow, "--capture"}, folder);
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_NE(missing.output.find("--capture needs a value"), std::string::npos) << missing.output;
  ChildResult bad_size = runChild({kBareShow, "--size", "big"}, folder);
  EXPECT_EQ(bad_size.exit_code, 2);
  EXPECT_NE(bad_size.output.find("--size"), std::string::npos) << bad_size.output;
  ChildResult far = runChild({kBareShow, "--capture", folder + "/frames", "--from", "1e300"}, folder);
  EXPECT_EQ(far.exit_code, 2);
  EXPECT_NE(far.output.find("narvu: --from takes seconds from 0 to 107.5"), std::string::npos) << far.output;
}

// --version names the version and the commit the show was built from; without git, it says so.
TEST(ShowOptions, VersionNamesTheCommitAndAMistypedOptionIsWarnedAbout) {
  std::string folder = scratchFolder();
  ChildResult run = runChild({kBareShow, "--capure", "frames", "--version"}, folder);
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("narvu: unknown option '--capure' ignored; see --help\n"), std::string::npos)
      << run.output;
  ChildResult head =
      runChild({"/bin/sh", "-c", std::string("git -C '") + NARVU_SOURCE_DIR + "' rev-parse --short=12 HEAD"}, folder);
  if (head.exit_code == 0) {
    std::string commit = head.output.substr(0, 12);
    EXPECT_NE(run.output.find(std::string("narvu ") + NARVU_VERSION + " (commit " + commit), std::string::npos)
        << run.output;
  }

  // The header the build writes, for sources that are no git checkout, and for a packager who names it.
  const std::string script = std::string(NARVU_SOURCE_DIR) + "/cmake/narvu_commit.cmake";
  std::filesystem::create_directories(folder + "/sources");
  for (const std::string& commit : {std::string(), std::string("1.0.0-from-an-archive")}) {
    std::string header = folder + "/narvu_commit.h";
    ChildResult made = runChild({"/bin/sh", "-c",
                                 "cmake -DSOURCE_DIR='" + folder + "/sources' -DOUTPUT='" + header + "' -DCOMMIT='" +
                                     commit + "' -P '" + script + "'"},
                                folder, {"GIT_CEILING_DIRECTORIES=" + folder});
    EXPECT_EQ(made.exit_code, 0) << made.output;
    std::vector<unsigned char> text = readFile(header);
    EXPECT_NE(std::string(text.begin(), text.end())
                  .find(commit.empty() ? "\"commit unknown: not built from a git checkout\""
                                       : "\"commit 1.0.0-from-an-archive\""),
              std::string::npos);
  }
}

// Without --capture, --from and --to play that interval live: the timed frames span its one second, on
// the real clock however slow the frames (from 100 s to the end would be 7.5 s, and from the start
// would outlast the test's minute).
TEST(ShowOptions, FromAndToPlayThatIntervalLive) {
  std::string folder = scratchFolder();
  ChildResult run = runChild({kShow, "nosound", "--timedemo", "--from", "100", "--to", "101"}, folder,
                             {"SDL_VIDEODRIVER=offscreen"}, 60);
  EXPECT_EQ(run.exit_code, 0) << run.output;
  double seconds = 0;
  size_t at = run.output.find("frames presented in ");
  ASSERT_NE(at, std::string::npos) << run.output;
  seconds = std::atof(run.output.c_str() + at + std::strlen("frames presented in "));
  EXPECT_GE(seconds, 0.95) << run.output;
  EXPECT_LT(seconds, 3.0) << "live play went on past --to: " << run.output;
}

TEST(ShowOptions, VideoCaptureWithoutFfmpegFailsAtOnce) {
  std::string folder = scratchFolder();
  ChildResult run = runChild({kShow, "--capture", folder + "/show.mp4"}, folder, {"PATH=/nonexistent"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("install ffmpeg"), std::string::npos) << run.output;
}

}  // namespace
