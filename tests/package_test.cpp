// The show as its Debian package installs it: the package is made from this build with cpack, unpacked
// with dpkg-deb into a folder that stands for the root of a user's system, and looked at there: the
// files, the programs running from there, the manual pages, the desktop entry, the completion, and
// what lintian says of the package. The package is made once for all the cases (ctest runs them in one
// process).
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kBuild = NARVU_BUILD_DIR;

// Runs a shell command line; its output is standard output and standard error together.
ChildResult shell(const std::string& command, const std::string& folder,
                  const std::vector<std::string>& environment = {}, int timeout_seconds = 300) {
  return runChild({"/bin/sh", "-c", command}, folder, environment, timeout_seconds);
}

std::string inQuotes(const std::string& text) { return "'" + text + "'"; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every distinct "--word" in a text, as --help lists options.
std::set<std::string> longOptions(const std::string& text) {
  std::set<std::string> options;
  std::regex option("--[a-z][a-z0-9-]*");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
    options.insert(it->str());
  return options;
}

std::set<std::string> words(const std::string& text) {
  std::set<std::string> all;
  std::regex word("[^\\s,()]+");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it)
    all.insert(it->str());
  return all;
}

class Package : public testing::Test {
 protected:
  static std::string folder, deb, root, failure;
  static std::vector<std::string> programs;  // usr/bin's, by name

  static void SetUpTestSuite() {
    if (!deb.empty() || !failure.empty()) return;  // made for an earlier fixture
    folder = kBuild + "/test-scratch/Package";
    fs::remove_all(folder);
    fs::create_directories(folder);
    ChildResult made = shell(inQuotes(NARVU_CPACK) + " -G DEB --config " + inQuotes(kBuild + "/CPackConfig.cmake") +
                                 " -B " + inQuotes(folder + "/cpack"),
                             folder);
    for (const auto& entry : fs::directory_iterator(folder + "/cpack"))
      if (entry.path().extension() == ".deb") deb = entry.path().string();
    if (made.exit_code != 0 || deb.empty()) {
      failure = "cpack made no package: " + made.output;
      return;
    }
    root = folder + "/root";
    ChildResult unpacked = shell("dpkg-deb -x " + inQuotes(deb) + " " + inQuotes(root), folder);
    if (unpacked.exit_code != 0) failure = "dpkg-deb cannot unpack " + deb + ": " + unpacked.output;
    for (const auto& entry : fs::directory_iterator(root + "/usr/bin")) programs.push_back(entry.path().filename());
    std::sort(programs.begin(), programs.end());
  }

  void SetUp() override { ASSERT_TRUE(failure.empty()) << failure; }

  std::string installed(const std::string& path) const { return root + "/usr/" + path; }
  std::string field(const std::string& name) const {
    return shell("dpkg-deb -f " + inQuotes(deb) + " " + name, folder).output;
  }
};

std::string Package::folder, Package::deb, Package::root, Package::failure;
std::vector<std::string> Package::programs;

// The show, every tool the build made, and what each of them reads, where a system looks for it.
TEST_F(Package, HoldsEveryProgramWithItsDataManualAndCompletion) {
  // Every tools/narvu-NAME.cpp is a tool, wherever the build puts it.
  std::vector<std::string> built = {"narvu", "narvu-content"};
  for (const auto& entry : fs::directory_iterator(std::string(NARVU_SOURCE_DIR) + "/tools"))
    if (entry.path().extension() == ".cpp" && entry.path().stem().string().rfind("narvu-", 0) == 0)
      built.push_back(entry.path().stem());
  std::sort(built.begin(), built.end());
  EXPECT_EQ(programs, built);

  for (const std::string& program : programs) {
    SCOPED_TRACE(program);
    std::string path = installed("bin/" + program);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0755));
    // Stripped: a package carries no symbol tables. The show stays a program of its own, without
    // its pack appended (strip would cut that off).
    EXPECT_TRUE(contains(shell("file -b " + inQuotes(path), folder).output, ", stripped"));
    std::string manual = program == "narvu" ? "share/man/man6/narvu.6.gz" : "share/man/man1/" + program + ".1.gz";
    EXPECT_TRUE(fs::is_regular_file(installed(manual))) << manual;
    std::string completion = installed("share/bash-completion/completions/" + program);
    EXPECT_TRUE(fs::is_regular_file(completion)) << completion;
    if (program != "narvu") {
      EXPECT_EQ(fs::read_symlink(completion), "narvu");
    }
  }
  EXPECT_EQ(readFile(installed("share/narvu/narvu.dat")), readFile(kBuild + "/narvu.dat"));
  EXPECT_EQ(readFile(installed("share/narvu/song.txt")),
            readFile(std::string(NARVU_SOURCE_DIR) + "/tools/content/music/song.txt"));
  for (int size : {16, 32, 48, 64, 128, 256}) {
    std::string name = std::to_string(size) + "x" + std::to_string(size);
    Image icon = readPng(installed("share/icons/hicolor/" + name + "/apps/narvu.png"));
    EXPECT_EQ(icon.width * 100000 + icon.height, size * 100000 + size) << name;
  }
  for (const char* paper :
       {"share/doc/narvu/copyright", "share/doc/narvu/changelog.gz", "share/applications/narvu.desktop"})
    EXPECT_TRUE(fs::is_regular_file(installed(paper))) << paper;

  // The libraries come from dpkg-shlibdeps; ffmpeg only makes video captures, so it is recommended.
  std::string depends = field("Depends");
  for (const char* library : {"libsdl2-2.0-0", "libopenmpt0", "libjpeg62-turbo", "libpng16-16", "libgl1", "libegl1"})
    EXPECT_TRUE(contains(depends, library)) << depends;
  EXPECT_FALSE(contains(depends, "ffmpeg")) << depends;
  EXPECT_EQ(field("Recommends"), "ffmpeg\n");
  EXPECT_EQ(field("Suggests"), "slurm-client\n");
}

// The programs run from the unpacked root as from /usr: the show finds its pack in the data folder
// from any working folder, and every program answers --help, and a mistake in its arguments with 2.
TEST_F(Package, TheProgramsRunFromTheInstalledTree) {
  std::string show = installed("bin/narvu");
  ChildResult version = runChild({show, "--version"}, folder);
  EXPECT_EQ(version.exit_code, 0) << version.output;
  EXPECT_EQ(version.output.rfind(std::string("narvu ") + NARVU_VERSION + " (commit ", 0), 0u) << version.output;

  fs::create_directories(folder + "/elsewhere");
  ChildResult capture = runChild({show, "nosound", "--capture", "frames", "--fps", "1", "--to", "1"},
                                 folder + "/elsewhere", {"SDL_VIDEODRIVER=offscreen"}, 300);
  EXPECT_EQ(capture.exit_code, 0) << capture.output;
  EXPECT_EQ(readPng(folder + "/elsewhere/frames/frame_000001.png").width, 640) << capture.output;

  for (const std::string& program : programs) {
    SCOPED_TRACE(program);
    ChildResult help = runChild({installed("bin/" + program), "--help"}, folder);
    EXPECT_EQ(help.exit_code, 0) << help.output;
    EXPECT_TRUE(contains(help.output, "usage: " + program)) << help.output;
    // The show takes words it does not know; a value it cannot take is its mistake to refuse.
    std::vector<std::string> mistake = {installed("bin/" + program), "--no-such-option"};
    if (program == "narvu") mistake = {show, "--fps", "many"};
    ChildResult wrong = runChild(mistake, folder);
    EXPECT_EQ(wrong.exit_code, 2) << wrong.output;
  }
  // The generator installed makes the installed pack: its score is the installed one.
  ChildResult generator = runChild({installed("bin/narvu-content"), "--help"}, folder);
  EXPECT_TRUE(contains(generator.output, "(default: " + installed("share/narvu/song.txt") + ")")) << generator.output;
}

// Each page renders without a warning from man and groff, and names every option its program's --help
// lists, so that neither is changed without the other.
TEST_F(Package, EveryManualPageRendersWithoutWarningsAndNamesEveryOption) {
  for (const std::string& program : programs) {
    SCOPED_TRACE(program);
    std::string page = program == "narvu" ? installed("share/man/man6/narvu.6.gz")
                                          : installed("share/man/man1/" + program + ".1.gz");
    ChildResult checked = shell("man --warnings -E UTF-8 -l -Tutf8 -Z " + inQuotes(page) + " >/dev/null", folder,
                                {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(checked.exit_code, 0) << checked.output;
    EXPECT_EQ(checked.output, "");
    std::string text = shell("man -l " + inQuotes(page) + " | col -b", folder, {"LC_ALL=C", "MANWIDTH=200"}).output;
    EXPECT_TRUE(contains(text, "EXIT STATUS")) << text;
    std::string help = runChild({installed("bin/" + program), "--help"}, folder).output;
    for (const std::string& option : longOptions(help)) EXPECT_TRUE(contains(text, option)) << option;
  }
}

TEST_F(Package, TheDesktopEntryValidatesAndStartsTheInstalledShowWithItsIcon) {
  std::string entry = installed("share/applications/narvu.desktop");
  ChildResult validated = runChild({"/usr/bin/desktop-file-validate", entry}, folder);
  EXPECT_EQ(validated.exit_code, 0) << validated.output;
  EXPECT_EQ(validated.output, "");
  std::vector<unsigned char> bytes = readFile(entry);
  std::string text(bytes.begin(), bytes.end());
  for (const char* line : {"\nExec=narvu\n", "\nIcon=narvu\n", "\nExec=narvu --windowed\n"})
    EXPECT_TRUE(contains(text, line)) << line;
}

// Lintian's errors fail the package; its warnings and notes are printed for whoever reads the log.
TEST_F(Package, LintianFindsNoError) {
  ChildResult lint = shell("lintian --tag-display-limit 0 --display-info --pedantic " + inQuotes(deb), folder);
  std::cout << "lintian says:\n" << lint.output;
  std::regex error("(^|\\n)E: ");
  EXPECT_FALSE(std::regex_search(lint.output, error)) << lint.output;
}

// What bash offers after each word, with the installed completion loaded as bash-completion loads it.
class Completion : public Package {
 protected:
  std::set<std::string> offered(const std::vector<std::string>& line) {
    std::string assignment = "COMP_WORDS=(";
    for (const std::string& word : line) assignment += inQuotes(word) + " ";
    std::string script = "source " + inQuotes(installed("share/bash-completion/completions/narvu")) + "; " +
                         assignment + "); COMP_CWORD=" + std::to_string(line.size() - 1) +
                         "; _narvu; printf '%s\\n' \"${COMPREPLY[@]}\"";
    ChildResult run = runChild({"/bin/bash", "-c", script}, folder, {"PATH=" + installed("bin") + ":/usr/bin:/bin"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    return words(run.output);
  }
};

TEST_F(Completion, OffersEveryOptionAndTheFixedValuesTheProgramsTake) {
  std::string show = installed("bin/narvu");
  EXPECT_EQ(offered({"narvu", "--"}), longOptions(runChild({show, "--help"}, folder).output));
  EXPECT_EQ(offered({"narvu", "no"}), std::set<std::string>{"nosound"});
  EXPECT_EQ(offered({"narvu", "ch"}), std::set<std::string>{"choosedrv"});
  // The values as the show's own refusals list them.
  std::string presets = runChild({show, "--preset", "none"}, folder).output;
  std::smatch listed;
  ASSERT_TRUE(std::regex_search(presets, listed, std::regex("presets \\(([^)]*)\\)"))) << presets;
  EXPECT_EQ(offered({"narvu", "--preset", ""}), words(listed[1].str()));
  EXPECT_EQ(offered({"narvu", "--vsync", ""}), (std::set<std::string>{"on", "off"}));
  EXPECT_EQ(offered({"/usr/bin/narvu", "--capture", folder + "/cpack/narvu_"}), std::set<std::string>{deb});

  std::string pack = installed("bin/narvu-pack");
  std::set<std::string> commands;
  std::string pack_help = runChild({pack, "--help"}, folder).output;
  std::regex command_line("\\n  ([a-z]+) ");
  for (auto it = std::sregex_iterator(pack_help.begin(), pack_help.end(), command_line); it != std::sregex_iterator();
       ++it)
    commands.insert((*it)[1].str());
  commands.insert("--help");
  EXPECT_EQ(offered({"narvu-pack", ""}), commands);
  std::string methods = runChild({pack, "create", "p.dat", "--method", "none", "x"}, folder).output;
  ASSERT_TRUE(std::regex_search(methods, listed, std::regex("\\(([a-z, ]*) or ([a-z]+)\\)"))) << methods;
  std::set<std::string> method_names = words(listed[1].str());
  method_names.insert(listed[2].str());
  EXPECT_EQ(offered({"narvu-pack", "create", "p.dat", "--method", ""}), method_names);

  EXPECT_EQ(offered({"narvu-scene", ""}), (std::set<std::string>{"info", "--help"}));
  EXPECT_EQ(offered({"narvu-farm", ""}), (std::set<std::string>{"submit", "status", "resume", "cancel", "--help"}));
  EXPECT_EQ(offered({"narvu-farm", "submit", "out.mkv", "--"}),
            (std::set<std::string>{"--parts", "--sbatch", "--narvu", "--force", "--dry-run", "--"}));
  // After "--", narvu's own capture options.
  EXPECT_EQ(offered({"narvu-farm", "submit", "out.mkv", "--parts", "2", "--", "--pre"}),
            std::set<std::string>{"--preset"});
  std::set<std::string> content = offered({"narvu-content", "--"});
  for (const std::string& option : longOptions(runChild({installed("bin/narvu-content"), "--help"}, folder).output))
    EXPECT_EQ(content.count(option), 1u) << option;
}

}  // namespace
