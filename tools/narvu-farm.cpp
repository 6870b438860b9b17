// narvu-farm: a capture made in parts on a Slurm cluster, as an array job of `narvu --segment K/N` and a
// join that waits for every part.
//
//   narvu-farm submit OUT --parts N [--sbatch "OPTIONS"] [--narvu PATH] [--dry-run] -- CAPTURE-OPTIONS
//   narvu-farm status OUT
//   narvu-farm resume OUT [--dry-run]
//
// The cluster's nodes must all see OUT's folder and have narvu (with its pack) and ffmpeg at the same
// paths. Everything the farm needs to remember is in the folder OUT.farm beside OUT: the two batch
// scripts, farm.txt (how the capture was asked for and which jobs were submitted) and the jobs' logs.
// Which parts are done is never remembered: narvu says it (--join OUT --check N) from the files.
//
// Slurm is reached only through its programs (sbatch, squeue, sacct, scancel), run without a shell.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "capture/processes.h"
#include "shell/shell.h"

static const char kUsage[] =
    "usage: narvu-farm COMMAND OUT ...\n"
    "\n"
    "A capture of the show made in parts on a Slurm cluster: an array job whose task K runs\n"
    "narvu --capture OUT --segment K/N, and a join (narvu --join OUT) that waits for every part.\n"
    "\n"
    "  submit OUT --parts N [--sbatch \"OPTIONS\"] [--narvu PATH] [--dry-run] -- CAPTURE-OPTIONS\n"
    "      Writes the batch scripts into OUT.farm/ and submits them with sbatch; prints the job ids\n"
    "      and how to follow them. N is 1 to 10000. CAPTURE-OPTIONS are narvu's (--fps, --from,\n"
    "      --to, --size, --lossless, ...); --segment, --join and --jobs are the farm's own.\n"
    "      --sbatch   options for sbatch, separated by blanks (for example \"--partition=render\"),\n"
    "                 given to every job the farm submits\n"
    "      --narvu    the show's executable on every node (default: narvu beside narvu-farm)\n"
    "      --dry-run  print the scripts and the sbatch commands; write and submit nothing\n"
    "  status OUT\n"
    "      Says which parts are done, running, waiting, failed or missing, from the files and, where\n"
    "      Slurm answers, squeue and sacct; and where the join is.\n"
    "  resume OUT [--dry-run]\n"
    "      Submits again only the parts that are missing or broken, and a join that waits for them\n"
    "      (the join held by a failed part is cancelled).\n"
    "\n"
    "Every node must see OUT's folder and have narvu, its pack and ffmpeg at the same paths.\n"
    "Exit code 0 on success, 1 when what was asked failed, 2 for a mistake in the arguments.\n";

static const char kStateFile[] = "farm.txt";

// A mistake in the arguments, the farm's own or narvu's capture options: exit code 2, as every tool of
// the show gives for one.
static int usageError(const std::string& message) {
  std::fprintf(stderr, "narvu-farm: %s\n(narvu-farm --help shows the commands)\n", message.c_str());
  return kUsageExitCode;
}

static int failure(const std::string& message) {
  std::fprintf(stderr, "narvu-farm: %s\n", message.c_str());
  return 1;
}

// ---- What a farm capture is ----------------------------------------------------------------------------

struct Submission {
  std::string parts_job;  // the array job; empty when only a join was submitted
  std::string join_job;
  std::string parts;  // the array's task ids, as sbatch --array takes them ("1-4", "2,3")
};

struct Farm {
  std::string narvu;    // absolute path of the show on every node
  std::string capture;  // OUT, absolute
  int parts = 0;
  std::string sbatch_options;           // as given, split on blanks when used
  std::vector<std::string> options;     // the capture's options, one word each
  std::vector<Submission> submissions;  // in the order they were made
};

static std::string farmFolder(const std::string& capture) { return capture + ".farm"; }

static std::vector<std::string> wordsOf(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

static bool hasControlCharacter(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

// farm.txt: one "KEY VALUE" a line; "option" once a word, "submitted" once a submission.
static bool writeFarm(const Farm& farm, std::string* error) {
  std::string path = farmFolder(farm.capture) + "/" + kStateFile;
  std::ofstream file(path + ".new");
  file << "narvu " << farm.narvu << "\ncapture " << farm.capture << "\nparts " << farm.parts << "\nsbatch "
       << farm.sbatch_options << "\n";
  for (const std::string& option : farm.options) file << "option " << option << "\n";
  for (const Submission& s : farm.submissions)
    file << "submitted " << (s.parts_job.empty() ? "-" : s.parts_job) << " " << s.join_job << " "
         << (s.parts.empty() ? "-" : s.parts) << "\n";
  file.close();
  if (!file.good() || std::rename((path + ".new").c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

static bool readFarm(const std::string& capture, Farm* farm, std::string* error) {
  std::string path = farmFolder(capture) + "/" + kStateFile;
  std::ifstream file(path);
  if (!file) {
    *error = "no farm capture of " + capture + " here (" + path +
             " is missing): give OUT as it was given to narvu-farm submit";
    return false;
  }
  for (std::string line; std::getline(file, line);) {
    size_t space = line.find(' ');
    std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "narvu") farm->narvu = value;
    if (key == "capture") farm->capture = value;
    if (key == "parts") farm->parts = std::atoi(value.c_str());
    if (key == "sbatch") farm->sbatch_options = value;
    if (key == "option") farm->options.push_back(value);
    if (key == "submitted") {
      std::vector<std::string> words = wordsOf(value);
      if (words.size() != 3) continue;
      farm->submissions.push_back({words[0] == "-" ? "" : words[0], words[1], words[2] == "-" ? "" : words[2]});
    }
  }
  if (farm->narvu.empty() || farm->capture.empty() || farm->parts < 1) {
    *error =
        path + " is damaged (it lacks narvu, capture or parts): remove " + farmFolder(capture) + " and submit again";
    return false;
  }
  return true;
}

// ---- The batch scripts -----------------------------------------------------------------------------------

// A word for sh, in single quotes.
static std::string quoted(const std::string& word) {
  std::string text = "'";
  for (char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return text + "'";
}

static std::string optionWords(const Farm& farm) {
  std::string text;
  for (const std::string& option : farm.options) text += " " + quoted(option);
  return text;
}

// The array: task K makes part K of N. N is written here: SLURM_ARRAY_TASK_COUNT counts the tasks of
// the array submitted, which for a resumed part is not N.
static std::string partsScript(const Farm& farm) {
  std::string n = std::to_string(farm.parts);
  return "#!/bin/sh\n"
         "# Part K of the capture of " +
         farm.capture + " in " + n +
         " parts; K is the array task's id.\n"
         "echo \"narvu-farm: part $SLURM_ARRAY_TASK_ID of " +
         n +
         " on node ${SLURMD_NODENAME:-?}\"\n"
         "exec " +
         quoted(farm.narvu) + " --capture " + quoted(farm.capture) + " --segment \"$SLURM_ARRAY_TASK_ID/" + n + "\"" +
         optionWords(farm) + "\n";
}

static std::string joinScript(const Farm& farm) {
  return "#!/bin/sh\n"
         "# The parts of " +
         farm.capture +
         " joined, with the music, once every part is done.\n"
         "echo \"narvu-farm: join on node ${SLURMD_NODENAME:-?}\"\n"
         "exec " +
         quoted(farm.narvu) + " --join " + quoted(farm.capture) + optionWords(farm) + "\n";
}

static bool writeText(const std::string& path, const std::string& text, std::string* error) {
  std::ofstream file(path);
  file << text;
  file.close();
  if (file.good()) return true;
  *error = "cannot write " + path;
  return false;
}

// ---- Slurm's programs ----------------------------------------------------------------------------------

static std::string commandText(const std::string& program, const std::vector<std::string>& arguments) {
  std::string text = program;
  for (const std::string& argument : arguments) text += " " + quoted(argument);
  return text;
}

// sbatch --parsable prints "ID" or "ID;CLUSTER".
static bool submit(const std::vector<std::string>& arguments, std::string* job, std::string* error) {
  ProgramRun run = runProgram("sbatch", arguments);
  std::string id = run.output.substr(0, run.output.find_first_of(";\n"));
  if (run.exit_code == 0 && !id.empty() && id.find_first_not_of("0123456789") == std::string::npos) {
    *job = id;
    return true;
  }
  *error = "sbatch failed: " + (run.errors.empty() ? "it said nothing" : run.errors) + " (" +
           commandText("sbatch", arguments) + ")";
  return false;
}

// A log's path for sbatch --output, where % starts a pattern (%a the array task, %j the job).
static std::string logPattern(const Farm& farm, const std::string& name) {
  std::string pattern;
  for (char c : farmFolder(farm.capture)) pattern += c == '%' ? std::string("%%") : std::string(1, c);
  return pattern + "/" + name;
}

// The names and logs are given on sbatch's command line, not in the scripts: a path with blanks would
// not survive a #SBATCH line.
static std::vector<std::string> sbatchWords(const Farm& farm, const char* job, std::vector<std::string> more) {
  std::vector<std::string> words = {
      "--parsable", std::string("--job-name=narvu-") + job,
      "--output=" + logPattern(farm, std::string(job) == "parts" ? "part-%a.log" : "join-%j.log")};
  for (const std::string& option : wordsOf(farm.sbatch_options)) words.push_back(option);
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

// Submits the array of `tasks` (may be empty: then only the join) and a join that waits for it.
static bool submitJobs(Farm* farm, const std::string& tasks, bool dry_run, std::string* error) {
  std::string folder = farmFolder(farm->capture);
  std::vector<std::string> array = sbatchWords(*farm, "parts", {"--array=" + tasks, folder + "/parts.sbatch"});
  std::vector<std::string> join = sbatchWords(*farm, "join", {folder + "/join.sbatch"});
  if (dry_run) {
    if (!tasks.empty()) join.insert(join.end() - 1, "--dependency=afterok:ARRAY");
    if (!tasks.empty()) std::printf("%s\n", commandText("sbatch", array).c_str());
    std::printf("%s\n", commandText("sbatch", join).c_str());
    return true;
  }
  Submission submission;
  submission.parts = tasks;
  if (!tasks.empty() && !submit(array, &submission.parts_job, error)) return false;
  if (!tasks.empty()) join.insert(join.end() - 1, "--dependency=afterok:" + submission.parts_job);
  if (!submit(join, &submission.join_job, error)) {
    // A part array without its join would make parts that nothing joins.
    if (!submission.parts_job.empty()) runProgram("scancel", {submission.parts_job});
    return false;
  }
  farm->submissions.push_back(submission);
  return writeFarm(*farm, error);
}

static void printFollowing(const Farm& farm) {
  const Submission& s = farm.submissions.back();
  std::string folder = farmFolder(farm.capture);
  if (!s.parts_job.empty())
    std::printf("narvu-farm: parts %s (of %d) of %s: job %s, an array whose task K makes part K\n", s.parts.c_str(),
                farm.parts, farm.capture.c_str(), s.parts_job.c_str());
  std::printf("narvu-farm: the join: job %s%s\n", s.join_job.c_str(),
              s.parts_job.empty() ? "" : ", which waits until every part has succeeded (afterok)");
  std::string jobs = s.parts_job.empty() ? s.join_job : s.parts_job + "," + s.join_job;
  std::printf(
      "follow them:      squeue -j %s\n"
      "which parts:      narvu-farm status %s\n"
      "logs:             %s/part-K.log, %s/join-%s.log\n"
      "after a failure:  narvu-farm resume %s\n",
      jobs.c_str(), farm.capture.c_str(), folder.c_str(), folder.c_str(), s.join_job.c_str(), farm.capture.c_str());
}

// ---- What is where ------------------------------------------------------------------------------------

// What Slurm says of a job or an array task.
struct JobState {
  std::string state;   // PENDING, RUNNING, COMPLETED, FAILED, CANCELLED, ...
  std::string reason;  // why it waits (Dependency, DependencyNeverSatisfied, ...)
  std::string node;
};

// The fields of one line of sacct -P or squeue -o with '|' between them.
static std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream text(line);
  for (std::string field; std::getline(text, field, '|');) fields.push_back(field);
  return fields;
}

// States of the farm's jobs by "JOB" or "JOB_TASK"; empty with *why when Slurm does not answer. squeue
// knows jobs until a while after they end (MinJobAge); sacct, where accounting is kept, after that.
static std::map<std::string, JobState> jobStates(const Farm& farm, std::string* why) {
  std::set<std::string> ids;
  for (const Submission& s : farm.submissions) {
    if (!s.parts_job.empty()) ids.insert(s.parts_job);
    ids.insert(s.join_job);
  }
  std::map<std::string, JobState> states;
  if (ids.empty()) return states;
  std::string list;
  for (const std::string& id : ids) list += (list.empty() ? "" : ",") + id;
  ProgramRun accounting = runProgram("sacct", {"-n", "-P", "-X", "-j", list, "--format=JobID,State,NodeList"});
  if (accounting.exit_code == 0) {
    std::istringstream lines(accounting.output);
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> fields = fieldsOf(line);
      if (fields.size() != 3) continue;
      std::vector<std::string> state = wordsOf(fields[1]);  // "CANCELLED by 1000": its first word
      states[fields[0]] = {state.empty() ? "" : state[0], "", fields[2]};
    }
  }
  // All of this user's jobs, not -j: squeue refuses a list that names a job it has forgotten.
  ProgramRun queue = runProgram("squeue", {"-h", "-t", "all", "--me", "-o", "%i|%T|%r|%N"});
  if (queue.exit_code != 0) {
    if (states.empty()) *why = "Slurm's queue cannot be read here (squeue: " + queue.errors + ")";
    return states;
  }
  std::istringstream lines(queue.output);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields = fieldsOf(line);
    if (fields.size() < 3 || !ids.count(fields[0].substr(0, fields[0].find('_')))) continue;
    states[fields[0]] = {fields[1], fields[2], fields.size() > 3 ? fields[3] : ""};
  }
  return states;
}

// Whether `task` (a part number) is among an --array list such as "1-4" or "2,5,7-9".
static bool arrayHolds(const std::string& tasks, int task) {
  std::stringstream ranges(tasks);
  for (std::string range; std::getline(ranges, range, ',');) {
    int low = 0, high = 0;
    if (std::sscanf(range.c_str(), "%d-%d", &low, &high) == 2 ? task >= low && task <= high
                                                              : std::atoi(range.c_str()) == task)
      return true;
  }
  return false;
}

// What Slurm says of part K: its task in the latest array that held it. A pending array is listed as
// one line, "JOB_[1-4]", until its tasks start.
static JobState partJob(const Farm& farm, const std::map<std::string, JobState>& states, int part) {
  for (auto s = farm.submissions.rbegin(); s != farm.submissions.rend(); ++s) {
    if (s->parts_job.empty() || !arrayHolds(s->parts, part)) continue;
    auto task = states.find(s->parts_job + "_" + std::to_string(part));
    if (task != states.end()) return task->second;
    for (const auto& entry : states)
      if (entry.first.rfind(s->parts_job + "_[", 0) == 0 &&
          arrayHolds(entry.first.substr(s->parts_job.size() + 2, entry.first.size() - s->parts_job.size() - 3), part))
        return entry.second;
    return {};
  }
  return {};
}

struct PartFiles {
  int part = 0;
  std::string range;  // "FIRST-LAST"
  std::string state;  // done, missing, broken
  std::string detail;
};

// narvu --join OUT --check N: what the files hold, part by part. False with why.
static bool partFiles(const Farm& farm, std::vector<PartFiles>* found, std::string* error) {
  std::vector<std::string> arguments = {"--join", farm.capture, "--check", std::to_string(farm.parts)};
  arguments.insert(arguments.end(), farm.options.begin(), farm.options.end());
  ProgramRun run = runProgram(farm.narvu, arguments);
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    PartFiles part;
    char range[64] = {}, state[16] = {};
    int parts = 0, used = 0;
    if (std::sscanf(line.c_str(), "part %d/%d frames %63s %15[a-z]%n", &part.part, &parts, range, state, &used) < 4)
      continue;
    part.range = range;
    if (!part.range.empty() && part.range.back() == ':') part.range.pop_back();
    part.state = state;
    if (size_t(used) + 2 <= line.size()) part.detail = line.substr(size_t(used) + 2);
    found->push_back(part);
  }
  if ((run.exit_code == 0 || run.exit_code == kPartsNotDoneExitCode) && int(found->size()) == farm.parts) return true;
  *error = "cannot tell which parts are done: " + commandText(farm.narvu, arguments) + " said " +
           (run.errors.empty() ? "nothing" : run.errors);
  return false;
}

// The capture is joined when OUT is there (a video) or holds its music (a folder of PNG frames).
static bool joined(const Farm& farm) {
  std::error_code ignored;
  if (std::filesystem::is_directory(farm.capture, ignored))
    return std::filesystem::exists(farm.capture + "/audio.wav", ignored);
  return std::filesystem::is_regular_file(farm.capture, ignored);
}

static bool running(const JobState& job) {
  return job.state == "PENDING" || job.state == "RUNNING" || job.state == "CONFIGURING" || job.state == "COMPLETING" ||
         job.state == "REQUEUED" || job.state == "SUSPENDED";
}

static std::string logOf(const Farm& farm, int part) {
  return farmFolder(farm.capture) + "/part-" + std::to_string(part) + ".log";
}

// ": " and the last line narvu wrote in a part's log (why it failed), when there is one.
static std::string lastWords(const std::string& log) {
  std::ifstream file(log);
  std::string line, last;
  while (std::getline(file, line))
    if (line.rfind("narvu: ", 0) == 0) last = line;
  if (last.size() > 300) last = last.substr(0, 300) + "...";
  return last.empty() ? "" : ": " + last;
}

// One part's line: done, running, waiting, failed or missing, with what tells it.
static std::string partLine(const Farm& farm, const PartFiles& files, const JobState& job) {
  std::string head =
      "part " + std::to_string(files.part) + "/" + std::to_string(farm.parts) + " (frames " + files.range + "): ";
  std::string node = job.node.empty() || job.node == "(null)" ? "" : " on " + job.node;
  if (files.state == "done") return head + "done" + node;
  if (job.state == "RUNNING" || job.state == "COMPLETING" || job.state == "CONFIGURING") return head + "running" + node;
  if (running(job))
    return head + "waiting (" + job.state + (job.reason.empty() || job.reason == "None" ? "" : ", " + job.reason) + ")";
  std::error_code ignored;
  bool logged = std::filesystem::exists(logOf(farm, files.part), ignored);
  if (files.state == "broken") return head + "failed: " + files.detail;
  if (!job.state.empty() || logged)
    return head + "failed" + (job.state.empty() ? "" : " (" + job.state + node + ")") +
           lastWords(logOf(farm, files.part)) + "; its log: " + logOf(farm, files.part) +
           (files.detail.empty() ? "" : "; " + files.detail);
  return head + "missing" + (files.detail.empty() ? "" : " (" + files.detail + ")");
}

static std::string joinLine(const Farm& farm, const std::map<std::string, JobState>& states) {
  if (farm.submissions.empty()) return "join: never submitted";
  const std::string& id = farm.submissions.back().join_job;
  auto found = states.find(id);
  std::string log = farmFolder(farm.capture) + "/join-" + id + ".log";
  if (found == states.end()) return "join: job " + id + " (Slurm says nothing of it now); its log: " + log;
  const JobState& job = found->second;
  if (job.reason == "DependencyNeverSatisfied")
    return "join: job " + id + " is held: a part failed; run narvu-farm resume " + farm.capture;
  if (job.state == "PENDING") return "join: job " + id + " waits (" + job.reason + ")";
  if (job.state == "COMPLETED") return "join: job " + id + " done";
  return "join: job " + id + " " + job.state + "; its log: " + log;
}

// ---- The commands -----------------------------------------------------------------------------------

// narvu beside this program (the build puts both in its top folder), else on the PATH.
static std::string defaultNarvu() {
  char self[4096];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length > 0 && length < sizeof self) {
    std::string beside = std::filesystem::path(self).parent_path().string() + "/narvu";
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return findProgram("narvu");
}

// The capture's options must be ones narvu takes, and the farm's own (--segment, --join, --jobs) its own.
static bool checkCaptureOptions(const Farm& farm, std::string* error) {
  for (const std::string& option : farm.options) {
    if (option == "--segment" || option == "--join" || option == "--jobs" || option == "--capture" ||
        option == "--check") {
      *error = option + " is the farm's own: give OUT and --parts instead, and narvu's other options after --";
      return false;
    }
    if (hasControlCharacter(option)) {
      *error = "a capture option holds a control character (a newline?): '" + option + "'";
      return false;
    }
  }
  std::vector<std::string> words = {"narvu", "--capture", farm.capture, "--segment", "1/" + std::to_string(farm.parts)};
  words.insert(words.end(), farm.options.begin(), farm.options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  CommandLineOptions options;
  std::string why;
  if (parseCommandLine(int(argv.size()), argv.data(), &options, &why)) return true;
  *error = "narvu would refuse these options: " + why;
  return false;
}

static int submitCommand(const std::vector<std::string>& args) {
  Farm farm;
  bool dry_run = false;
  size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& a = args[i];
    // An option's value: the next word, unless it is missing, empty or the end of the farm's options.
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size() || args[i + 1] == "--" || args[i + 1].empty()) return false;
      *out = args[++i];
      return true;
    };
    std::string text;
    if (a == "--parts") {
      if (!value(&text)) return usageError("--parts needs a number of parts");
      char* end = nullptr;
      long parts = std::strtol(text.c_str(), &end, 10);
      if (*end != '\0' || parts < 1 || parts > 10000 || !std::isdigit(static_cast<unsigned char>(text[0])))
        return usageError("--parts takes a whole number from 1 to 10000, not '" + text + "'");
      farm.parts = int(parts);
    } else if (a == "--sbatch") {
      if (!value(&farm.sbatch_options)) return usageError("--sbatch needs sbatch's options, in quotes");
      if (hasControlCharacter(farm.sbatch_options)) return usageError("--sbatch's options hold a control character");
    } else if (a == "--narvu") {
      if (!value(&farm.narvu)) return usageError("--narvu needs the path of the show");
    } else if (a == "--dry-run") {
      dry_run = true;
    } else if (a.rfind("-", 0) == 0) {
      return usageError("unknown option '" + a + "' (narvu's own options go after --)");
    } else if (farm.capture.empty()) {
      farm.capture = a;
    } else {
      return usageError("submit takes one OUT, not '" + farm.capture + "' and '" + a + "'");
    }
  }
  if (farm.capture.empty()) return usageError("submit needs OUT, the capture's video file or folder");
  if (farm.parts == 0) return usageError("submit needs --parts N");
  if (i == args.size()) return usageError("submit needs -- before the capture's options (-- alone for none)");
  farm.options.assign(args.begin() + long(i) + 1, args.end());
  std::error_code ignored;
  farm.capture = std::filesystem::absolute(farm.capture, ignored).lexically_normal().string();
  if (farm.narvu.empty()) farm.narvu = defaultNarvu();
  if (farm.narvu.empty() || access(farm.narvu.c_str(), X_OK) != 0)
    return failure("cannot find narvu (looked beside narvu-farm and on the PATH): give its path with --narvu");
  farm.narvu = std::filesystem::absolute(farm.narvu, ignored).lexically_normal().string();
  std::string error;
  if (!checkCaptureOptions(farm, &error)) return usageError(error);

  std::string folder = farmFolder(farm.capture);
  if (dry_run) {
    std::printf("# %s/parts.sbatch\n%s\n# %s/join.sbatch\n%s\n", folder.c_str(), partsScript(farm).c_str(),
                folder.c_str(), joinScript(farm).c_str());
    return submitJobs(&farm, "1-" + std::to_string(farm.parts), true, &error) ? 0 : failure(error);
  }
  if (std::filesystem::exists(folder + "/" + kStateFile, ignored))
    return failure("a farm capture of " + farm.capture + " was submitted already (" + folder +
                   "): see narvu-farm status or resume, or remove " + folder + " to start again");
  std::filesystem::create_directories(folder, ignored);
  if (!std::filesystem::is_directory(folder, ignored)) return failure("cannot make the folder " + folder);
  if (!writeText(folder + "/parts.sbatch", partsScript(farm), &error) ||
      !writeText(folder + "/join.sbatch", joinScript(farm), &error) ||
      !submitJobs(&farm, "1-" + std::to_string(farm.parts), false, &error))
    return failure(error);
  printFollowing(farm);
  return 0;
}

static bool oneCapture(const std::vector<std::string>& args, const char* command, bool* dry_run, std::string* capture,
                       std::string* error) {
  for (const std::string& a : args) {
    if (a == "--dry-run" && dry_run) {
      *dry_run = true;
    } else if (a.rfind("-", 0) == 0) {
      *error = "unknown option '" + a + "' for " + command;
      return false;
    } else if (!capture->empty()) {
      *error = std::string(command) + " takes one OUT";
      return false;
    } else {
      *capture = a;
    }
  }
  if (capture->empty()) *error = std::string(command) + " needs OUT, as it was given to submit";
  std::error_code ignored;
  *capture = std::filesystem::absolute(*capture, ignored).lexically_normal().string();
  return error->empty();
}

static int statusCommand(const std::vector<std::string>& args) {
  std::string capture, error;
  Farm farm;
  if (!oneCapture(args, "status", nullptr, &capture, &error)) return usageError(error);
  if (!readFarm(capture, &farm, &error)) return failure(error);
  std::map<std::string, JobState> states = jobStates(farm, &error);
  if (!error.empty()) std::printf("narvu-farm: %s; the parts' states come from the files alone\n", error.c_str());
  if (joined(farm)) {
    std::printf("%s is joined: all %d parts are done\n%s\n", farm.capture.c_str(), farm.parts,
                joinLine(farm, states).c_str());
    return 0;
  }
  std::vector<PartFiles> parts;
  if (!partFiles(farm, &parts, &error)) return failure(error);
  for (const PartFiles& part : parts)
    std::printf("%s\n", partLine(farm, part, partJob(farm, states, part.part)).c_str());
  std::printf("%s\n", joinLine(farm, states).c_str());
  return 0;
}

static int resumeCommand(const std::vector<std::string>& args) {
  std::string capture, error;
  bool dry_run = false;
  Farm farm;
  if (!oneCapture(args, "resume", &dry_run, &capture, &error)) return usageError(error);
  if (!readFarm(capture, &farm, &error)) return failure(error);
  if (joined(farm)) {
    std::printf("narvu-farm: nothing to resume: %s is joined\n", farm.capture.c_str());
    return 0;
  }
  std::map<std::string, JobState> states = jobStates(farm, &error);
  if (!error.empty()) return failure(error + "; resume needs it, to submit nothing that is still running");
  std::vector<PartFiles> parts;
  if (!partFiles(farm, &parts, &error)) return failure(error);
  std::string tasks, busy;
  for (const PartFiles& part : parts) {
    if (part.state == "done") continue;
    JobState job = partJob(farm, states, part.part);
    std::string& list = running(job) ? busy : tasks;
    list += (list.empty() ? "" : ",") + std::to_string(part.part);
  }
  if (!busy.empty())
    return failure("parts " + busy + " are still waiting or running: resume once they have ended (narvu-farm status " +
                   farm.capture + ")");
  if (!farm.submissions.empty()) {
    auto held = states.find(farm.submissions.back().join_job);
    if (held != states.end() && held->second.state == "RUNNING")
      return failure("the join (job " + held->first + ") is running; let it end first");
    // A join still waiting can only be one that failed parts hold: a new one takes its place.
    if (held != states.end() && held->second.state == "PENDING") {
      std::printf("narvu-farm: cancelling the join held by the failed parts (job %s)\n", held->first.c_str());
      if (!dry_run) runProgram("scancel", {held->first});
    }
  }
  std::printf("narvu-farm: %s\n", tasks.empty() ? "every part is done; submitting the join again"
                                                : ("submitting parts " + tasks + " again").c_str());
  if (!submitJobs(&farm, tasks, dry_run, &error)) return failure(error);
  if (!dry_run) printFollowing(farm);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return usageError("no command given");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (command == "submit") return submitCommand(args);
  if (command == "status") return statusCommand(args);
  if (command == "resume") return resumeCommand(args);
  return usageError("unknown command '" + command + "'");
}
