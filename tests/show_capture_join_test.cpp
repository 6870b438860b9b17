// Joining the parts of a video capture: a part that is not what its name says stops the join with its
// name and every part kept; a part made again after a cancelled run joins; the joined video is the
// video of one run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/shell.h"
#include "test_support.h"

namespace {

const std::string kShow = std::string(NARVU_BUILD_DIR) + "/narvu";

bool ffmpegAvailable() {
  return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
}

bool occursIn(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Frames 200 to 210 of a lossless capture at 10 frames a second, with or without more options.
std::vector<std::string> partWords(const std::string& video, const std::vector<std::string>& more) {
  std::vector<std::string> words = {kShow,    "--capture", video,  "--fps", "10",
                                    "--from", "20",        "--to", "21",    "--lossless"};
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

std::vector<std::string> joinWords(const std::string& video) {
  return {kShow, "--join", video, "--fps", "10", "--from", "20", "--to", "21"};
}

// The names in a folder.
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Two good parts, made once: frames 200 to 204 and 205 to 210.
class BrokenParts : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!ffmpegAvailable()) return;
    // ctest runs every case as a process of its own, side by side: each makes its own.
    made = std::string(NARVU_BUILD_DIR) + "/test-scratch/BrokenParts.made-" + std::to_string(getpid());
    std::filesystem::remove_all(made);
    std::filesystem::create_directories(made);
    for (const char* part : {"1/2", "2/2"}) {
      ChildResult run = runChild(partWords(made + "/v.mkv", {"--segment", part}), made, {}, 300);
      ASSERT_EQ(run.exit_code, 0) << run.output;
    }
  }
  static void TearDownTestSuite() {
    if (!made.empty()) std::filesystem::remove_all(made);
  }
  void SetUp() override {
    if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
    folder = scratchFolder();
    for (const char* name : {kFirst, kSecond}) std::filesystem::copy_file(made + "/" + name, folder + "/" + name);
  }
  // Joins, and checks that it failed naming `part` and `why`, with every part left as it was.
  void expectRefused(const std::string& part, const std::string& why) {
    std::vector<std::string> before = namesIn(folder);
    ChildResult run = runChild(joinWords(folder + "/v.mkv"), folder, {}, 120);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_TRUE(occursIn(run.output, "narvu: cannot join the parts: " + folder + "/" + part + ": " + why))
        << run.output;
    EXPECT_TRUE(occursIn(run.output, "every part is kept")) << run.output;
    std::filesystem::remove(folder + "/child-output.txt");
    EXPECT_EQ(namesIn(folder), before);
  }

  static constexpr const char* kFirst = "v.mkv.frames-000200-000204.mkv";
  static constexpr const char* kSecond = "v.mkv.frames-000205-000210.mkv";
  static std::string made;
  std::string folder;
};
std::string BrokenParts::made;

TEST_F(BrokenParts, AFolderOrAFifoNamedLikeAPartIsNoPart) {
  std::filesystem::remove(folder + "/" + kSecond);
  std::filesystem::create_directory(folder + "/" + kSecond);
  expectRefused(kSecond, "it is a folder, not a file");

  // A link to a FIFO, which ffmpeg would open and wait on for ever.
  std::filesystem::remove(folder + "/" + kSecond);
  ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(folder + "/fifo", folder + "/" + kSecond);
  expectRefused(kSecond, "it is a FIFO, not a file");
}

// A join stopped while it checks the parts (here an ffprobe that never ends) says so, keeps every part
// and tells nobody to delete one: the parts are good.
TEST_F(BrokenParts, AnInterruptedJoinKeepsEveryPartAndBlamesNone) {
  std::string bin = folder + "/bin";
  std::filesystem::create_directories(bin);
  std::string hang = "#!/bin/sh\nexec sleep 60\n";
  writeFile(bin + "/ffprobe", std::vector<unsigned char>(hang.begin(), hang.end()));
  std::filesystem::permissions(bin + "/ffprobe", std::filesystem::perms::owner_all);
  std::vector<std::string> before = namesIn(folder);
  ChildSignal terminate = {SIGTERM, "", "", 1500};
  ChildResult run = runChild(joinWords(folder + "/v.mkv"), folder,
                             {"PATH=" + bin + ":" + std::getenv("PATH"), "TMPDIR=" + folder}, 60, terminate);
  EXPECT_EQ(run.exit_code, 143) << run.output;
  EXPECT_TRUE(occursIn(run.output, "narvu: join interrupted by SIGTERM: the parts' check was interrupted"))
      << run.output;
  EXPECT_TRUE(occursIn(run.output, "every part is kept")) << run.output;
  EXPECT_FALSE(occursIn(run.output, "delete")) << run.output;
  std::filesystem::remove(folder + "/child-output.txt");
  EXPECT_EQ(namesIn(folder), before);
}

TEST_F(BrokenParts, AnEmptyOrTruncatedPartIsNamedWithWhatItHolds) {
  std::vector<unsigned char> bytes = readFile(folder + "/" + kSecond);
  writeFile(folder + "/" + kSecond, {});
  expectRefused(kSecond, "it is no video ffprobe can read");
  // Cut to a third, as a copy to a shared folder cut short leaves it.
  bytes.resize(bytes.size() / 3);
  writeFile(folder + "/" + kSecond, bytes);
  expectRefused(kSecond, "it holds 2 frames where its name says 6 (frames 205 to 210): it was cut short or damaged");
  std::vector<std::string> check = joinWords(folder + "/v.mkv");
  check.insert(check.end(), {"--check", "2"});
  ChildResult listed = runChild(check, folder, {}, 120);
  EXPECT_EQ(listed.exit_code, kPartsNotDoneExitCode) << listed.output;
  EXPECT_TRUE(occursIn(listed.output, "part 2/2 frames 205-210: broken: " + folder + "/" + kSecond + ": it holds 2"))
      << listed.output;
}

TEST_F(BrokenParts, APartOfAnotherSizeOrRateIsNamed) {
  std::string other = folder + "/other";
  std::filesystem::create_directory(other);
  ChildResult small = runChild(partWords(other + "/v.mkv", {"--segment", "2/2", "--size", "320x240"}), other, {}, 300);
  ASSERT_EQ(small.exit_code, 0) << small.output;
  std::filesystem::rename(other + "/" + kSecond, folder + "/" + kSecond);
  expectRefused(kSecond, "it holds 320x240 pictures, " + folder + "/" + kFirst + " 640x480");

  // Frames 205 to 210 at 20 frames a second (10.25 to 10.5 s): the names match, the rate does not.
  ChildResult fast = runChild({kShow, "--capture", other + "/v.mkv", "--fps", "20", "--from", "10.25", "--to", "10.5",
                               "--lossless", "--segment", "1/1"},
                              other, {}, 300);
  ASSERT_EQ(fast.exit_code, 0) << fast.output;
  std::filesystem::rename(other + "/" + kSecond, folder + "/" + kSecond);
  std::filesystem::remove_all(other);
  expectRefused(kSecond, "it was made at 20 frames a second, not at --fps 10");
}

// The decoded stream `stream` ("v" or "a") of a video, as raw samples.
std::vector<unsigned char> decoded(const std::string& video, const std::string& stream) {
  std::string raw = video + "." + stream + ".raw";
  std::string command = "ffmpeg -v error -y -i '" + video + "' -map 0:" + stream +
                        (stream == "v" ? " -f rawvideo -pix_fmt rgb24 '" : " -f s16le '") + raw + "'";
  if (std::system(command.c_str()) != 0) return {};
  return readFile(raw);
}

// A part cancelled part-way leaves the frames it had as a part of their own; the part made again takes
// its place, and the join is the video of one run.
TEST(PartsMadeAgain, ACancelledPartMadeAgainJoinsIntoTheVideoOfOneRun) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  std::string folder = scratchFolder();
  auto words = [&folder](const char* option, const char* video, std::vector<std::string> more) {
    std::vector<std::string> run = {kShow, option, folder + "/" + video, "--fps", "10", "--from", "20", "--to", "24"};
    if (std::string(option) == "--capture") run.push_back("--lossless");
    run.insert(run.end(), more.begin(), more.end());
    return run;
  };
  ChildResult one = runChild(words("--capture", "one.mkv", {}), folder, {}, 300);
  ASSERT_EQ(one.exit_code, 0) << one.output;
  ChildResult first = runChild(words("--capture", "parts.mkv", {"--segment", "1/2"}), folder, {}, 300);
  ASSERT_EQ(first.exit_code, 0) << first.output;
  // Part 2 holds frames 220 to 240; it is cancelled once its encoder has started.
  ChildSignal cancel = {SIGTERM, folder + "/parts.mkv.segment-2-of-2.mkv", "", 0};
  ChildResult cancelled = runChild(words("--capture", "parts.mkv", {"--segment", "2/2"}), folder, {}, 300, cancel);
  ASSERT_EQ(cancelled.exit_code, 143) << cancelled.output;
  std::string left;
  for (const std::string& name : namesIn(folder))
    if (name.rfind("parts.mkv.frames-000220-", 0) == 0) left = name;
  ASSERT_FALSE(left.empty()) << cancelled.output;
  ASSERT_NE(left, "parts.mkv.frames-000220-000240.mkv") << "the part ended before it was cancelled";

  // --check says which part to make again (a farm's resume asks it).
  ChildResult check = runChild(words("--join", "parts.mkv", {"--check", "2"}), folder, {}, 120);
  EXPECT_EQ(check.exit_code, kPartsNotDoneExitCode) << check.output;
  EXPECT_TRUE(occursIn(check.output, "part 1/2 frames 200-219: done\n")) << check.output;
  EXPECT_TRUE(occursIn(check.output, "part 2/2 frames 220-240: missing: a part cut short holds frames 220 to "))
      << check.output;

  ChildResult again = runChild(words("--capture", "parts.mkv", {"--segment", "2/2"}), folder, {}, 300);
  ASSERT_EQ(again.exit_code, 0) << again.output;
  EXPECT_FALSE(std::filesystem::exists(folder + "/" + left));
  check = runChild(words("--join", "parts.mkv", {"--check", "2"}), folder, {}, 120);
  EXPECT_EQ(check.exit_code, 0) << check.output;
  ChildResult join = runChild(words("--join", "parts.mkv", {}), folder, {}, 300);
  ASSERT_EQ(join.exit_code, 0) << join.output;
  for (const char* stream : {"v", "a"}) {
    std::vector<unsigned char> whole = decoded(folder + "/one.mkv", stream);
    EXPECT_GT(whole.size(), 0u) << stream;
    EXPECT_TRUE(whole == decoded(folder + "/parts.mkv", stream)) << stream;
  }
  for (const std::string& name : namesIn(folder)) EXPECT_EQ(name.find(".frames-"), std::string::npos) << name;
}

}  // namespace
