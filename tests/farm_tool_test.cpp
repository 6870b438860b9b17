// narvu-farm without a cluster: its arguments, and the batch scripts it writes, run by sh as Slurm runs
// them. (On a real cluster: tests/farm_slurm_test.sh.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kFarm = std::string(NARVU_BUILD_DIR) + "/narvu-farm";

bool occursIn(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(FarmTool, EveryBadArgumentIsNamedWithWhatToDo) {
  std::string folder = scratchFolder();
  // A mistake in the arguments exits with 2; what cannot be done as asked, with 1.
  struct Case {
    std::vector<std::string> words;
    std::string message;
    int exit_code = 2;
  } cases[] = {
      {{}, "narvu-farm: no command given"},
      {{"render"}, "narvu-farm: unknown command 'render'"},
      {{"submit", "out.mkv", "--", "--fps", "10"}, "submit needs --parts N"},
      {{"submit", "--parts", "2", "--"}, "submit needs OUT, the capture's video file or folder"},
      {{"submit", "out.mkv", "--parts", "2"}, "submit needs -- before the capture's options (-- alone for none)"},
      {{"submit", "out.mkv", "--parts", "0", "--"}, "--parts takes a whole number from 1 to 10000, not '0'"},
      {{"submit", "out.mkv", "--parts", "2x", "--"}, "--parts takes a whole number from 1 to 10000, not '2x'"},
      {{"submit", "out.mkv", "--parts", "--"}, "--parts needs a number of parts"},
      {{"submit", "out.mkv", "--parts", "2", "--sbatch", "--"}, "--sbatch needs sbatch's options, in quotes"},
      {{"submit", "out.mkv", "--parts", "2", "--fps", "10", "--"},
       "unknown option '--fps' (narvu's own options go after --)"},
      {{"submit", "a.mkv", "b.mkv", "--parts", "2", "--"}, "submit takes one OUT, not"},
      {{"submit", "out.mkv", "--parts", "2", "--", "--segment", "1/2"},
       "--segment is the farm's own: give OUT and --parts instead"},
      {{"submit", "out.mkv", "--parts", "2", "--", "--fps", "zero"}, "narvu would refuse these options: --fps takes"},
      // What narvu would only warn about, or take without a word, would cost the cluster a wrong capture.
      {{"submit", "out.mkv", "--parts", "2", "--", "--fsp", "10"}, "narvu does not know '--fsp' (a typo?)"},
      {{"submit", "out.mkv", "--parts", "2", "--", "--fps", "10", "nosound"}, "'nosound' is for live play"},
      {{"submit", "out.mkv", "--parts", "2", "--", "--windowed"}, "--windowed is for live play"},
      {{"submit", "out.mkv", "--parts", "2", "--", "sizes"}, "narvu would ignore the word 'sizes'"},
      {{"submit", "out.mkv", "--parts", "2", "--sbatch", "--comment=\"a b", "--"},
       "--sbatch's options open a double quote that they do not close"},
      {{"submit", "out.mkv", "--parts", "2", "--sbatch", "--comment=$HOME", "--"}, "hold '$', which sh would expand"},
      {{"submit", "out.avi", "--parts", "2", "--"}, "narvu would refuse these options: --capture"},
      {{"submit", "out.mkv", "--parts", "40", "--", "--fps", "10", "--from", "20", "--to", "21"},
       "the interval holds 11 frames, too few for 40 parts"},
      {{"submit", "out.mkv", "--parts", "2", "--narvu", folder + "/none", "--"}, "cannot find narvu", 1},
      {{"status"}, "status needs OUT, as it was given to submit"},
      {{"status", folder + "/never.mkv"}, "no farm capture of " + folder + "/never.mkv here", 1},
      {{"resume", folder + "/never.mkv", "--now"}, "unknown option '--now' for resume"},
      {{"cancel", folder + "/never.mkv"}, "no farm capture of " + folder + "/never.mkv here", 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = {kFarm};
    words.insert(words.end(), c.words.begin(), c.words.end());
    ChildResult run = runChild(words, folder);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.message;
    EXPECT_TRUE(occursIn(run.output, c.message)) << run.output;
  }
  ChildResult help = runChild({kFarm, "--help"}, folder);
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(occursIn(help.output, "submit OUT --parts N")) << help.output;
}

// The part script as --dry-run prints it, run by sh as Slurm runs task 2 of the array: narvu gets the
// capture's path and every option as one word each, however they are spelt, and part 2 of N.
TEST(FarmTool, ThePartScriptRunsNarvuWithEveryWordAsGiven) {
  std::string folder = scratchFolder();
  std::string fake = folder + "/narvu";
  std::string echo = "#!/bin/sh\nfor word in \"$@\"; do echo \"[$word]\"; done\n";
  writeFile(fake, std::vector<unsigned char>(echo.begin(), echo.end()));
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  std::string out = folder + "/it's a $HOME `x`.mkv";
  ChildResult dry = runChild({kFarm, "submit", out, "--parts", "3", "--narvu", fake, "--dry-run", "--sbatch",
                              "--comment='a b' --time=30", "--", "--fps", "10", "--preset", "veryfast"},
                             folder);
  ASSERT_EQ(dry.exit_code, 0) << dry.output;
  size_t start = dry.output.find("#!/bin/sh");
  size_t end = dry.output.find("\n# " + out + ".farm/join.sbatch", start);
  ASSERT_NE(start, std::string::npos) << dry.output;
  std::string script = dry.output.substr(start, end - start);
  EXPECT_FALSE(std::filesystem::exists(out + ".farm")) << "a dry run writes nothing";
  writeFile(folder + "/parts.sh", std::vector<unsigned char>(script.begin(), script.end()));
  ChildResult task =
      runChild({"/bin/sh", folder + "/parts.sh"}, folder, {"SLURM_ARRAY_TASK_ID=2", "SLURMD_NODENAME=n7"});
  ASSERT_EQ(task.exit_code, 0) << task.output;
  EXPECT_EQ(task.output, "narvu-farm: part 2 of 3 on node n7\n[--capture]\n[" + out +
                             "]\n[--segment]\n[2/3]\n[--fps]\n[10]\n[--preset]\n[veryfast]\n");
  // sbatch's options split as sh splits them, quotes and all.
  EXPECT_TRUE(occursIn(dry.output, "'--comment=a b' '--time=30'")) << dry.output;
  EXPECT_TRUE(occursIn(dry.output, "'--array=0-3'")) << dry.output;
  EXPECT_TRUE(occursIn(dry.output, "'--dependency=afterok:ARRAY'")) << dry.output;
}

// A cluster whose programs are stand-ins: scripts first on the PATH (sbatch, squeue, sacct, scancel and
// narvu itself), each writing its arguments to a file of calls.
class SickCluster : public testing::Test {
 protected:
  void SetUp() override {
    folder = scratchFolder();
    bin = folder + "/bin";
    std::filesystem::create_directories(bin);
    out = folder + "/show.mkv";
    // The files say the music and part 1 are done, and part 2 is missing.
    program("narvu", "echo 'music frames 0-10: done'\necho 'part 1/2 frames 0-4: done'\n"
                     "echo 'part 2/2 frames 5-10: missing'\nexit 3");
    program("sacct", "exit 1");
    program("scancel", "exit 0");
  }
  // A stand-in for `name` that records its arguments and then runs `body`.
  void program(const std::string& name, const std::string& body) {
    std::string text = "#!/bin/sh\necho \"" + name + " $*\" >> " + folder + "/calls\n" + body + "\n";
    writeFile(bin + "/" + name, std::vector<unsigned char>(text.begin(), text.end()));
    std::filesystem::permissions(bin + "/" + name, std::filesystem::perms::owner_all);
  }
  // A farm.txt as submit writes it, with `more` lines after it.
  void farmFile(const std::string& more) {
    std::filesystem::create_directories(out + ".farm");
    std::string text =
        "narvu " + bin + "/narvu\ncapture " + out + "\nparts 2\nsbatch \noption --fps\noption 10\n" + more;
    writeFile(out + ".farm/farm.txt", std::vector<unsigned char>(text.begin(), text.end()));
  }
  ChildResult farm(const std::vector<std::string>& words, int seconds = 60) {
    std::vector<std::string> command = {kFarm};
    command.insert(command.end(), words.begin(), words.end());
    return runChild(command, folder,
                    {"PATH=" + bin + ":" + std::getenv("PATH"), "NARVU_FARM_SLURM_SECONDS=2", "TMPDIR=" + folder},
                    seconds);
  }
  std::string calls() {
    std::vector<unsigned char> text = readFile(folder + "/calls");
    return std::string(text.begin(), text.end());
  }
  // The temporary files the farm's programs left in TMPDIR: none, whatever happened.
  int leftovers() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      count += entry.path().filename().string().rfind("narvu-", 0) == 0;
    return count;
  }
  std::string folder, bin, out;
};

// sbatch that never answers, answers with garbage, or with a flood: submit ends within the time limit
// with a line that says what Slurm did, and leaves nothing queued or behind.
TEST_F(SickCluster, SubmitEndsWithinTheLimitWhateverSbatchDoes) {
  struct Case {
    std::string body;
    std::string said;
  } cases[] = {
      {"exec sleep 100", "sbatch did not answer in 2 s"},
      {"echo 'Submitted batch job 12'", "sbatch printed no job id (1 to 10 digits) but 'Submitted batch job 12'"},
      {"echo 12345678901", "sbatch printed no job id"},
      {"head -c 20000000 /dev/zero | tr '\\0' 7", "sbatch printed no job id (1 to 10 digits) but '777"},
      {"echo 'sbatch: error: invalid partition' >&2; exit 1", "sbatch failed: sbatch: error: invalid partition"},
  };
  for (const Case& c : cases) {
    program("sbatch", c.body);
    std::filesystem::remove_all(out + ".farm");
    auto started = std::chrono::steady_clock::now();
    ChildResult run = farm({"submit", out, "--parts", "2", "--narvu", bin + "/narvu", "--", "--fps", "10"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_TRUE(occursIn(run.output, c.said)) << run.output;
    EXPECT_LT(run.output.size(), 1000u) << "a flood is not shown";
    EXPECT_LT(seconds, 10) << c.said;
    EXPECT_LT(run.peak_memory_kb, 64 * 1024 + kSanitizerMemoryKb) << c.said;
  }
  EXPECT_EQ(leftovers(), 0);
}

// squeue and sacct that never answer: status says so and tells the parts from the files alone.
TEST_F(SickCluster, StatusFallsBackToTheFilesWhenSlurmDoesNotAnswer) {
  farmFile("submitted 41 42 0-2\n");
  program("squeue", "exec sleep 100");
  program("sacct", "exec sleep 100");
  ChildResult run = farm({"status", out});
  EXPECT_EQ(run.exit_code, 1) << run.output;
  EXPECT_TRUE(occursIn(run.output, "squeue did not answer in 2 s, nor sacct in 2 s; the parts' states come from the "
                                   "files alone")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "part 1/2 (frames 0-4): done")) << run.output;
  EXPECT_TRUE(occursIn(run.output, "part 2/2 (frames 5-10): missing")) << run.output;
  // Garbage in squeue's table is no state.
  program("squeue", "echo '41_2|RUNN|x'; echo '|||||'; echo '41_[1-99999999999999999]|PENDING|None|'");
  ChildResult garbage = farm({"status", out});
  EXPECT_TRUE(occursIn(garbage.output, "part 2/2 (frames 5-10): missing")) << garbage.output;
  EXPECT_EQ(leftovers(), 0);
}

// What status exits with, and what resume does with a join: one that waits its turn is left alone;
// one that can never run is cancelled and replaced, the failed part's log kept.
TEST_F(SickCluster, StatusAndResumeGoByWhatSlurmSaysOfTheJoin) {
  farmFile("submitted 41 42 0-2\n");
  program("squeue", "echo '41_0|COMPLETED|None|n1'; echo '41_1|COMPLETED|None|n1'; echo '41_2|RUNNING|None|n2';"
                    " echo '42|PENDING|Dependency|'");
  ChildResult busy = farm({"status", out});
  EXPECT_EQ(busy.exit_code, 3) << busy.output;
  EXPECT_TRUE(occursIn(busy.output, "part 2/2 (frames 5-10): running on n2")) << busy.output;

  // The part failed; the join waits, though not on it (Priority): resume submits nothing.
  program("squeue", "echo '41_2|FAILED|None|n2'; echo '42|PENDING|Priority|'");
  std::string log = "narvu: capture failed: ffmpeg stopped taking frames; ffmpeg says:\nfile:x: Is a directory\n";
  writeFile(out + ".farm/part-2.log", std::vector<unsigned char>(log.begin(), log.end()));
  ChildResult failed = farm({"status", out});
  EXPECT_EQ(failed.exit_code, 1) << failed.output;
  // The cause, not only the line before it.
  EXPECT_TRUE(occursIn(failed.output, "ffmpeg says: file:x: Is a directory")) << failed.output;
  program("sbatch", "echo 50");
  ChildResult waiting = farm({"resume", out});
  EXPECT_EQ(waiting.exit_code, 0) << waiting.output;
  EXPECT_TRUE(occursIn(waiting.output, "the join (job 42) is waiting (Priority): nothing to resume")) << waiting.output;
  EXPECT_FALSE(occursIn(calls(), "scancel")) << calls();
  EXPECT_FALSE(occursIn(calls(), "sbatch")) << calls();

  program("squeue", "echo '41_2|FAILED|None|n2'; echo '42|PENDING|DependencyNeverSatisfied|'");
  ChildResult resumed = farm({"resume", out});
  EXPECT_EQ(resumed.exit_code, 0) << resumed.output;
  EXPECT_TRUE(occursIn(calls(), "scancel 42")) << calls();
  EXPECT_TRUE(occursIn(calls(), "--array=2")) << calls();
  EXPECT_TRUE(std::filesystem::exists(out + ".farm/part-2.log.1")) << "the failed part's log is kept";

  ChildResult cancelled = farm({"cancel", out});
  EXPECT_EQ(cancelled.exit_code, 0) << cancelled.output;
  EXPECT_TRUE(occursIn(calls(), "scancel 41 42 50 50")) << calls();
}

// farm.txt that is not one submit wrote, or not this OUT's: refused at once, naming what is wrong.
TEST_F(SickCluster, AFarmFileThatIsNotOneIsRefused) {
  std::string state = out + ".farm/farm.txt";
  farmFile("parts 4294967299\n");
  EXPECT_TRUE(occursIn(farm({"status", out}).output, "is damaged (parts '4294967299' is not 1 to 10000)"));
  farmFile("submitted 41 4242424242424242 0-2\n");
  EXPECT_TRUE(occursIn(farm({"status", out}).output, "is damaged (a submitted line is not"));

  std::filesystem::remove(state);
  ASSERT_EQ(mkfifo(state.c_str(), 0600), 0);
  ChildResult fifo = farm({"status", out}, 20);
  EXPECT_EQ(fifo.exit_code, 1) << fifo.output;
  EXPECT_TRUE(occursIn(fifo.output, "is not a regular file")) << fifo.output;
  std::filesystem::remove(state);
  std::filesystem::create_symlink("/dev/zero", state);
  EXPECT_TRUE(occursIn(farm({"status", out}, 20).output, "is not a regular file"));
  std::filesystem::remove(state);
  writeFile(state, std::vector<unsigned char>(2 << 20, 'x'));
  EXPECT_TRUE(occursIn(farm({"resume", out}, 20).output, "is larger than 1 MB"));

  // A copy elsewhere names its old OUT: it is not this one's.
  farmFile("submitted 41 42 0-2\n");
  std::string copy = folder + "/copy";
  std::filesystem::create_directories(copy);
  std::filesystem::copy(out + ".farm", copy + "/show.mkv.farm");
  ChildResult moved = farm({"status", copy + "/show.mkv"});
  EXPECT_EQ(moved.exit_code, 1) << moved.output;
  EXPECT_TRUE(occursIn(moved.output, "is of the capture " + out + ", not of " + copy + "/show.mkv")) << moved.output;
  EXPECT_FALSE(occursIn(calls(), "narvu --join")) << "nothing acted on the other path";
}

// An OUT that is there is not overwritten unless --force says so; SLURM_CONF that names nothing is
// said at once, not after minutes of Slurm's own retries.
TEST_F(SickCluster, SubmitRefusesWhatWouldGoWrongBeforeAnythingIsQueued) {
  program("sbatch", "echo 7");
  writeFile(out, {1, 2, 3});
  ChildResult there = farm({"submit", out, "--parts", "2", "--narvu", bin + "/narvu", "--", "--fps", "10"});
  EXPECT_EQ(there.exit_code, 1) << there.output;
  EXPECT_TRUE(occursIn(there.output, out + " is there already (a file): choose another OUT, or give --force"))
      << there.output;
  std::vector<std::string> words = {"submit", out, "--parts", "2", "--narvu", bin + "/narvu", "--", "--fps", "10"};
  std::vector<std::string> with_conf = {kFarm};
  with_conf.insert(with_conf.end(), words.begin(), words.end());
  ChildResult conf = runChild(with_conf, folder,
                              {"PATH=" + bin + ":" + std::getenv("PATH"), "SLURM_CONF=" + folder + "/none.conf"});
  EXPECT_TRUE(occursIn(conf.output, "SLURM_CONF names " + folder + "/none.conf, which is no file that can be read"))
      << conf.output;
  EXPECT_FALSE(occursIn(calls(), "sbatch")) << calls();

  words.insert(words.begin() + 4, "--force");
  ChildResult forced = farm(words);
  EXPECT_EQ(forced.exit_code, 0) << forced.output;
  EXPECT_TRUE(occursIn(forced.output, "removed, as --force asked")) << forced.output;
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
