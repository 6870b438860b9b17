// narvu-farm without a cluster: its arguments, and the batch scripts it writes, run by sh as Slurm runs
// them. (On a real cluster: tests/farm_slurm_test.sh.)
#include <gtest/gtest.h>

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
      {{"submit", "out.avi", "--parts", "2", "--"}, "narvu would refuse these options: --capture"},
      {{"submit", "out.mkv", "--parts", "40", "--", "--fps", "10", "--from", "20", "--to", "21"},
       "the interval holds 11 frames, too few for 40 parts"},
      {{"submit", "out.mkv", "--parts", "2", "--narvu", folder + "/none", "--"}, "cannot find narvu", 1},
      {{"status"}, "status needs OUT, as it was given to submit"},
      {{"status", folder + "/never.mkv"}, "no farm capture of " + folder + "/never.mkv here", 1},
      {{"resume", folder + "/never.mkv", "--now"}, "unknown option '--now' for resume"},
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
  ChildResult dry = runChild({kFarm, "submit", out, "--parts", "3", "--narvu", fake, "--dry-run", "--", "--fps", "10",
                              "--preset", "veryfast", "nosound"},
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
                             "]\n[--segment]\n[2/3]\n[--fps]\n[10]\n[--preset]\n[veryfast]\n[nosound]\n");
  EXPECT_TRUE(occursIn(dry.output, "'--array=1-3'")) << dry.output;
  EXPECT_TRUE(occursIn(dry.output, "'--dependency=afterok:ARRAY'")) << dry.output;
}

}  // namespace
