// ./run.sh as someone who only wants to watch runs it: the build's progress stays out of sight unless
// the build fails or --verbose asks for it. The script runs in a copy of its tree, where cmake and the
// show are stand-ins that say what they did, so the test builds nothing.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

void writeScript(const std::string& path, const std::string& text) {
  writeFile(path, std::vector<unsigned char>(text.begin(), text.end()));
  chmod(path.c_str(), 0755);
}

// A tree holding run.sh, an install step with nothing to install, a cmake that prints a progress line
// and fails the build with FAKE_BUILD_STATUS, and a show that prints its arguments.
std::string scriptTree() {
  std::string folder = scratchFolder();
  for (const char* sub : {"/scripts", "/bin", "/build"}) std::filesystem::create_directories(folder + sub);
  std::filesystem::copy_file(std::string(NARVU_SOURCE_DIR) + "/run.sh", folder + "/run.sh");
  writeScript(folder + "/scripts/install-deps.sh", "#!/bin/sh\nexit 0\n");
  writeScript(folder + "/bin/cmake",
              "#!/bin/sh\necho '[ 50%] Built target narvu_platform'\n"
              "if [ \"$1\" = --build ]; then exit \"${FAKE_BUILD_STATUS:-0}\"; fi\n");
  writeScript(folder + "/build/narvu", "#!/bin/sh\necho \"played $*\"\n");
  return folder;
}

ChildResult runScript(const std::string& folder, const std::vector<std::string>& arguments, int build_status) {
  std::vector<std::string> words = {folder + "/run.sh"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return runChild(words, folder,
                  {"PATH=" + folder + "/bin:/usr/bin:/bin", "FAKE_BUILD_STATUS=" + std::to_string(build_status)}, 60);
}

TEST(RunScript, ShowsTheBuildOnlyWhenItFailsOrWhenAskedTo) {
  std::string folder = scriptTree();
  ChildResult quiet = runScript(folder, {"--windowed"}, 0);
  EXPECT_EQ(quiet.exit_code, 0) << quiet.output;
  EXPECT_EQ(quiet.output, "played --windowed\n");

  ChildResult failed = runScript(folder, {"--windowed"}, 3);
  EXPECT_EQ(failed.exit_code, 3) << failed.output;
  EXPECT_NE(failed.output.find("[ 50%] Built target narvu_platform\n"), std::string::npos) << failed.output;
  EXPECT_NE(failed.output.find("run.sh: the build failed (exit code 3); its output is above\n"), std::string::npos)
      << failed.output;
  EXPECT_EQ(failed.output.find("played"), std::string::npos) << failed.output;

  // --verbose is the script's own word: the show never sees it.
  ChildResult verbose = runScript(folder, {"--verbose", "--windowed"}, 0);
  EXPECT_EQ(verbose.exit_code, 0) << verbose.output;
  EXPECT_NE(verbose.output.find("Built target"), std::string::npos) << verbose.output;
  EXPECT_NE(verbose.output.find("played --windowed\n"), std::string::npos) << verbose.output;
}

}  // namespace
