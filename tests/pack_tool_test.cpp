// narvu-pack as its users run it: packs made by it read back the same through every command, an
// appended pack mounts from the executable, and bad files end with exit code 1, bad arguments with 2.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pack_writer.h"
#include "storage/storage.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kTool = std::string(NARVU_BUILD_DIR) + "/tools/narvu-pack";

ChildResult tool(const std::vector<std::string>& arguments, const std::string& folder) {
  std::vector<std::string> all = {kTool};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return runChild(all, folder, {}, 60);
}

Bytes text(size_t size) {
  std::string line = "frame 25 camera 2 light 1 mesh 40 faces 12000\n";
  Bytes out;
  for (size_t i = 0; out.size() < size; ++i) {
    std::string l = line + std::to_string(i * 7919 % 1000) + "\n";
    out.insert(out.end(), l.begin(), l.end());
  }
  out.resize(size);
  return out;
}

Bytes noise(size_t size) {
  std::mt19937 random(5);
  Bytes out(size);
  for (auto& b : out) b = static_cast<unsigned char>(random());
  return out;
}

TEST(PackTool, EveryMethodRoundTripsThroughCreateVerifyAndExtract) {
  std::string folder = scratchFolder();
  writeFile(folder + "/text.txt", text(30000));
  writeFile(folder + "/zeros.bin", Bytes(20000, 0));
  writeFile(folder + "/noise.bin", noise(20000));
  writeFile(folder + "/big.bin", text(1 << 20));
  writeFile(folder + "/empty", {});
  for (std::string method : {"stored", "zlib", "lzss", "best"}) {
    SCOPED_TRACE(method);
    ChildResult made = tool({"create", "p.dat", "--method", method, "text.txt", "zeros.bin", "noise.bin",
                             "Music.XM=big.bin", folder + "/empty"},
                            folder);
    ASSERT_EQ(made.exit_code, 0) << made.output;
    ChildResult verified = tool({"verify", "p.dat"}, folder);
    EXPECT_EQ(verified.exit_code, 0) << verified.output;
    EXPECT_NE(verified.output.find("5 entries ok"), std::string::npos) << verified.output;

    ChildResult listed = tool({"list", "p.dat"}, folder);
    EXPECT_EQ(listed.exit_code, 0);
    EXPECT_NE(listed.output.find("MUSIC.XM"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("5 entries"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find(std::to_string(30000 + 20000 + 20000 + (1 << 20)) + " bytes unpacked"),
              std::string::npos)
        << listed.output;

    std::string out = folder + "/out-" + method;
    mkdir(out.c_str(), 0755);
    ChildResult extracted = tool({"extract", "p.dat", "-C", out}, folder);
    ASSERT_EQ(extracted.exit_code, 0) << extracted.output;
    EXPECT_EQ(readFile(out + "/TEXT.TXT"), text(30000));
    EXPECT_EQ(readFile(out + "/ZEROS.BIN"), Bytes(20000, 0));
    EXPECT_EQ(readFile(out + "/NOISE.BIN"), noise(20000));
    EXPECT_EQ(readFile(out + "/MUSIC.XM"), text(1 << 20));
    EXPECT_EQ(readFile(out + "/EMPTY"), Bytes{});
  }
  // Only the named entries come out, by any case; a folder that is not there yet is made.
  std::string some = folder + "/some/deeper";
  ASSERT_EQ(tool({"extract", "p.dat", "noise.BIN", "-C", some}, folder).exit_code, 0);
  EXPECT_EQ(readFile(some + "/NOISE.BIN"), noise(20000));
  struct stat info;
  EXPECT_NE(stat((some + "/TEXT.TXT").c_str(), &info), 0);
}

TEST(PackTool, AnAppendedPackMountsFromTheExecutable) {
  std::string folder = scratchFolder();
  writeFile(folder + "/music.xm", text(5000));
  ASSERT_EQ(tool({"create", "content.dat", "music.xm"}, folder).exit_code, 0);
  // The tool itself serves as the executable: afterwards it must still run and hold the pack.
  ChildResult appended = tool({"append", kTool, "content.dat", "show"}, folder);
  ASSERT_EQ(appended.exit_code, 0) << appended.output;
  struct stat info;
  ASSERT_EQ(stat((folder + "/show").c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IXUSR);
  EXPECT_EQ(runChild({folder + "/show", "--help"}, folder).exit_code, 0);

  packReset();
  ASSERT_EQ(packMount((folder + "/show").c_str(), 0), 1);
  struct stat tool_info;
  ASSERT_EQ(stat(kTool.c_str(), &tool_info), 0);
  EXPECT_EQ(pack_mounts->base_offset, uint32_t(tool_info.st_size));
  uint8_t* bytes = packRead("MUSIC.XM");
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(Bytes(bytes, bytes + 5000), text(5000));
  free(bytes);
  packReset();
}

// Appending over a show that is playing replaces the file instead of writing into it, which the
// system refuses for a running executable ("Text file busy").
TEST(PackTool, AppendReplacesAnExecutableThatIsRunning) {
  std::string folder = scratchFolder();
  writeFile(folder + "/music.xm", text(5000));
  ASSERT_EQ(tool({"create", "content.dat", "music.xm"}, folder).exit_code, 0);
  std::string running = folder + "/show";
  ASSERT_EQ(tool({"append", kTool, "content.dat", running}, folder).exit_code, 0);
  // The show as it runs: the tool itself, waiting on a named pipe that nobody writes.
  ASSERT_EQ(mkfifo((folder + "/never.dat").c_str(), 0644), 0);
  pid_t pid = fork();
  if (pid == 0) {
    execl(running.c_str(), running.c_str(), "create", "out.dat", (folder + "/never.dat").c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  usleep(200 * 1000);
  ChildResult again = tool({"append", kTool, "content.dat", running}, folder);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(again.exit_code, 0) << again.output;
  struct stat info;
  ASSERT_EQ(stat(running.c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IXUSR);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) left.push_back(entry.path().filename());
  EXPECT_EQ(left.size(), 5u);  // music.xm, content.dat, show, never.dat, child-output.txt: no temporary
}

TEST(PackTool, BadArgumentsAndFilesEndWithExitCodeOne) {
  std::string folder = scratchFolder();
  writeFile(folder + "/a.txt", text(100));
  writeFile(folder + "/junk", noise(100));
  ASSERT_EQ(tool({"create", "p.dat", "a.txt"}, folder).exit_code, 0);
  // A mistake in the arguments exits with 2, a command that fails with 1.
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
    int exit_code;
  } cases[] = {
      {{}, "no command", 2},
      {{"pack"}, "unknown command 'pack'", 2},
      {{"create", "q.dat"}, "at least one input", 2},
      {{"create", "q.dat", "missing.txt"}, "cannot read 'missing.txt'", 1},
      {{"create", "q.dat", "--method", "rar", "a.txt"}, "unknown method 'rar'", 2},
      {{"create", "q.dat", "--method"}, "--method needs a value", 2},
      {{"create", "q.dat", "a.txt", "x/a.txt=a.txt", "A.TXT=a.txt"}, "two entries named", 2},
      {{"create", "q.dat", "=a.txt"}, "empty entry name", 2},
      {{"create", "no-such-folder/q.dat", "a.txt"}, "cannot create", 1},
      {{"list"}, "list takes one pack file", 2},
      {{"list", "junk"}, "'junk' is not a pack file", 1},
      {{"verify", "missing.dat"}, "cannot read 'missing.dat'", 1},
      {{"extract", "p.dat", "absent", "-C", "."}, "no entry 'absent'", 1},
      {{"extract", "p.dat", "-C", "a.txt"}, "cannot make the folder 'a.txt'", 1},
      {{"append", "junk", "p.dat"}, "append takes EXE PACK OUT", 2},
      {{"append", "junk", "junk", "out"}, "is not a pack file", 1},
  };
  for (const Case& c : cases) {
    ChildResult r = tool(c.arguments, folder);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
  // A named pipe or a device is no pack: refused at once, not waited on.
  ASSERT_EQ(mkfifo((folder + "/pipe.dat").c_str(), 0644), 0);
  for (const char* path : {"pipe.dat", "/dev/zero"}) {
    for (const char* command : {"list", "verify"}) {
      ChildResult r = runChild({kTool, command, path}, folder, {}, 10);
      EXPECT_EQ(r.exit_code, 1) << command << " " << path << ": " << r.output;
      EXPECT_NE(r.output.find("is not a regular file"), std::string::npos) << r.output;
    }
  }
  ChildResult help = tool({"--help"}, folder);
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("append EXE PACK OUT"), std::string::npos);
}

TEST(PackTool, VerifyNamesTheEntriesThatFailAndExtractStaysInItsFolder) {
  std::string folder = scratchFolder();
  writeFile(folder + "/a.txt", text(1000));
  writeFile(folder + "/b.txt", text(2000));
  ASSERT_EQ(tool({"create", "p.dat", "--method", "stored", "a.txt", "b.txt", "../escape=a.txt"}, folder).exit_code, 0);
  // A flipped byte inside b.txt's stored bytes (the stored blocks follow the 28-byte header in order).
  Bytes pack = readFile(folder + "/p.dat");
  pack[28 + 1000 + 10] ^= 0x40;
  writeFile(folder + "/p.dat", pack);
  ChildResult r = tool({"verify", "p.dat"}, folder);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("FAILED B.TXT: Checksum failed"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("FAILED A.TXT"), std::string::npos) << r.output;

  std::string inside = folder + "/inside";
  mkdir(inside.c_str(), 0755);
  ChildResult x = tool({"extract", "p.dat", "-C", inside}, folder);
  EXPECT_EQ(x.exit_code, 1);
  EXPECT_NE(x.output.find("'../ESCAPE' is not a plain file name"), std::string::npos) << x.output;
  struct stat info;
  EXPECT_NE(stat((folder + "/ESCAPE").c_str(), &info), 0);
  EXPECT_EQ(readFile(inside + "/A.TXT"), text(1000));
}

// A few bytes must not make the tool allocate, zero and hash gigabytes, nor call the entry good.
TEST(PackTool, ASizeTheStoredBytesCannotReachIsRefusedInLittleMemory) {
  std::string folder = scratchFolder();
  writeFile(folder + "/bomb.dat", packDeclaringTooMuch("a", 0xFFFFFFF0u));
  ChildResult verified = tool({"verify", "bomb.dat"}, folder);
  EXPECT_EQ(verified.exit_code, 1) << verified.output;
  EXPECT_NE(verified.output.find("FAILED A: Decompression failed"), std::string::npos) << verified.output;
  EXPECT_LT(verified.peak_memory_kb, 50 * 1024 + kSanitizerMemoryKb);

  ChildResult extracted = tool({"extract", "bomb.dat", "-C", "."}, folder);
  EXPECT_EQ(extracted.exit_code, 1) << extracted.output;
  EXPECT_NE(extracted.output.find("cannot read entry 'A' (Decompression failed)"), std::string::npos)
      << extracted.output;
  EXPECT_LT(extracted.peak_memory_kb, 50 * 1024 + kSanitizerMemoryKb);
}

// Under an address-space limit that holds one copy of an entry but not two, extract still writes it;
// an entry beyond the limit is an error with its reason, not a crash.
TEST(PackTool, ExtractWritesLargeEntriesFromOneCopyAndReportsWhatDoesNotFit) {
  if (kSanitizerMemoryKb > 0) GTEST_SKIP() << "the sanitizers' shadow memory does not run under ulimit -v";
  std::string folder = scratchFolder();
  const size_t kFits = size_t(64) << 20, kTooBig = size_t(160) << 20;
  writeFile(folder + "/big.dat", makePack({{"fits.bin", Bytes(kFits, 0)}, {"toobig.bin", Bytes(kTooBig, 1)}},
                                          PackMethod::zlib));
  ChildResult r = runChild({"/bin/sh", "-c", "ulimit -v 102400 && exec " + kTool + " extract big.dat -C ."}, folder);
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("cannot read entry 'TOOBIG.BIN' (not enough memory for its 167772160 bytes)"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(readFile(folder + "/FITS.BIN"), Bytes(kFits, 0));
}

}  // namespace
