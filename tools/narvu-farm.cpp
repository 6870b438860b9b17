// narvu-farm: a capture made in parts on a Slurm cluster, as an array job of `narvu --segment K/N` (task
// 0 makes the music) and a join that waits for every task.
//
//   narvu-farm submit OUT --parts N [--sbatch "OPTIONS"] [--narvu PATH] [--force] [--dry-run] -- CAPTURE-OPTIONS
//   narvu-farm status OUT
//   narvu-farm resume OUT [--dry-run]
//   narvu-farm cancel OUT
//
// The cluster's nodes must all see OUT's folder and have narvu (with its pack) and ffmpeg at the same
// paths. Everything the farm needs to remember is in the folder OUT.farm beside OUT: the two batch
// scripts, farm.txt (how the capture was asked for and which jobs were submitted) and the jobs' logs.
// Which parts are done is never remembered: narvu says it (--join OUT --check N) from the files.
//
// Slurm is reached only through its programs (sbatch, squeue, sacct, scancel), run without a shell,
// each with a time limit and with only the start of what it prints read: a cluster that does not
// answer, or answers with garbage, makes the farm say so rather than wait or believe it.
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
    "narvu --capture OUT --segment K/N (task 0 makes the music), and a join (narvu --join OUT)\n"
    "that waits for every task and only copies what they made.\n"
    "\n"
    "  submit OUT --parts N [--sbatch \"OPTIONS\"] [--narvu PATH] [--force] [--dry-run] -- CAPTURE-OPTIONS\n"
    "      Writes the batch scripts into OUT.farm/ and submits them with sbatch; prints the job ids\n"
    "      and how to follow them. N is 1 to 10000. CAPTURE-OPTIONS are narvu's (--fps, --from,\n"
    "      --to, --size, --lossless, ...), checked as narvu checks them: a word narvu would only warn\n"
    "      about or ignore (a typo), and live play's options, are refused; --segment, --join and\n"
    "      --jobs are the farm's own.\n"
    "      --sbatch   options for sbatch, given to every job the farm submits (for example\n"
    "                 \"--partition=render --time=30\"); split into words as sh splits them: quotes\n"
    "                 and backslashes as in sh, no $, `, ;, &, |, < or > outside single quotes\n"
    "      --narvu    the show's executable on every node (default: narvu beside narvu-farm)\n"
    "      --force    replace OUT when it is there (it is removed when the jobs are submitted)\n"
    "      --dry-run  print the scripts and the sbatch commands; write and submit nothing\n"
    "  status OUT\n"
    "      Says which parts are done, running, waiting, failed or missing, from the files and, where\n"
    "      Slurm answers, squeue and sacct; and where the join is. Exit code 0 when OUT is joined,\n"
    "      3 while parts or the join wait or run, 1 when a part or the join failed.\n"
    "  resume OUT [--dry-run]\n"
    "      Submits again only the parts that are missing or broken, and a join that waits for them\n"
    "      (a join whose dependency can never be satisfied is cancelled; one that waits its turn is\n"
    "      left alone). The failed parts' logs are kept as part-K.log.1, .2, ...\n"
    "  cancel OUT\n"
    "      Cancels the farm's jobs: the parts and the join.\n"
    "\n"
    "Every node must see OUT's folder and have narvu, its pack and ffmpeg at the same paths.\n"
    "Slurm's programs get 60 s (sbatch, scancel) or 30 s (squeue, sacct) to answer\n"
    "(NARVU_FARM_SLURM_SECONDS=S gives each S seconds instead).\n"
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

// `status`: parts or the join still wait or run (0 is joined; 1, failed).
static const int kStillRunningExitCode = 3;
// farm.txt is a few hundred bytes; anything near this is not one.
static const uintmax_t kMostStateBytes = 1 << 20;

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

// A job id as Slurm gives it: 1 to 10 digits.
static bool isJobId(const std::string& text) {
  return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
}

// A whole number from `minimum` to `maximum`, all digits.
static bool wholeNumber(const std::string& text, long minimum, long maximum, long* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  long number = std::atol(text.c_str());
  if (number < minimum || number > maximum) return false;
  *value = number;
  return true;
}

// The words of sbatch's options as sh splits them: blanks between words, '...' taken as it is, "..."
// with backslash before ", \\, $ and `, a backslash outside quotes taking the next character. What sh
// would expand or run ($, `, ;, &, |, <, > outside single quotes) is refused rather than passed on as
// it is: a word that means one thing to a shell should not mean another here.
static bool splitLikeShell(const std::string& text, std::vector<std::string>* words, std::string* error) {
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote == '\'') {
      if (c == '\'') quote = 0; else word += c;
      continue;
    }
    if (c == '\\' && i + 1 < text.size() && (quote == 0 || std::strchr("\"\\$`", text[i + 1]))) {
      word += text[++i];
      in_word = true;
      continue;
    }
    if (quote == '"' && c == '"') {
      quote = 0;
      continue;
    }
    if (std::strchr("$`", c) || (quote == 0 && std::strchr(";&|<>", c))) {
      *error =
          std::string("--sbatch's options hold '") + c + "', which sh would expand or act on; give the value itself";
      return false;
    }
    if (quote == 0 && (c == '\'' || c == '"')) {
      quote = c;
      in_word = true;
    } else if (quote == 0 && (c == ' ' || c == '\t')) {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quote) {
    *error = std::string("--sbatch's options open a ") + (quote == '"' ? "double" : "single") +
             " quote that they do not close";
    return false;
  }
  if (in_word) words->push_back(word);
  return true;
}

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

// farm.txt of the capture `capture` (OUT as given, absolute): a small regular file whose lines are
// read with their numbers' ranges checked, and which must be this capture's.
static bool readFarm(const std::string& capture, Farm* farm, std::string* error) {
  std::string path = farmFolder(capture) + "/" + kStateFile;
  std::error_code ignored;
  std::filesystem::file_status facts = std::filesystem::status(path, ignored);
  if (!std::filesystem::exists(facts)) {
    *error = "no farm capture of " + capture + " here (" + path +
             " is missing): give OUT as it was given to narvu-farm submit";
    return false;
  }
  uintmax_t bytes = std::filesystem::is_regular_file(facts) ? std::filesystem::file_size(path, ignored) : 0;
  if (!std::filesystem::is_regular_file(facts) || bytes > kMostStateBytes) {
    *error = path + " is " + (std::filesystem::is_regular_file(facts) ? "larger than 1 MB" : "not a regular file") +
             ", so no farm.txt that narvu-farm wrote: remove " + farmFolder(capture) + " and submit again";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  std::string text(size_t(bytes), '\0');
  file.read(&text[0], std::streamsize(bytes));
  text.resize(size_t(file.gcount()));
  std::istringstream lines(text);
  std::string damage;
  for (std::string line; std::getline(lines, line);) {
    size_t space = line.find(' ');
    std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
    long parts = 0;
    if (key == "narvu") farm->narvu = value;
    if (key == "capture") farm->capture = value;
    if (key == "parts" && !wholeNumber(value, 1, 10000, &parts)) damage = "parts '" + value + "' is not 1 to 10000";
    if (key == "parts") farm->parts = int(parts);
    if (key == "sbatch") farm->sbatch_options = value;
    if (key == "option") farm->options.push_back(value);
    if (key == "submitted") {
      std::vector<std::string> words = wordsOf(value);
      bool sound = words.size() == 3 && (words[0] == "-" || isJobId(words[0])) && isJobId(words[1]) &&
                   (words[2] == "-" || words[2].find_first_not_of("0123456789,-") == std::string::npos);
      if (!sound) damage = "a submitted line is not \"ARRAY JOIN TASKS\": '" + value.substr(0, 80) + "'";
      if (sound)
        farm->submissions.push_back({words[0] == "-" ? "" : words[0], words[1], words[2] == "-" ? "" : words[2]});
    }
  }
  if (damage.empty() && (farm->narvu.empty() || farm->capture.empty() || farm->parts < 1))
    damage = "it lacks narvu, capture or parts";
  if (!damage.empty()) {
    *error = path + " is damaged (" + damage + "): remove " + farmFolder(capture) + " and submit again";
    return false;
  }
  // A folder copied or moved elsewhere would have its parts looked for, and joined, where it was.
  if (farm->capture != capture) {
    *error = path + " is of the capture " + farm->capture + ", not of " + capture +
             ": the farm's folder was moved or copied; give the OUT it names, or submit " + capture + " anew";
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

// The array: task K makes part K of N, task 0 the music (narvu --segment 0/N), which runs beside the
// parts so that the join only copies streams. N is written here: SLURM_ARRAY_TASK_COUNT counts the
// tasks of the array submitted, which for a resumed part is not N.
static std::string partsScript(const Farm& farm) {
  std::string n = std::to_string(farm.parts);
  return "#!/bin/sh\n"
         "# Part K of the capture of " +
         farm.capture + " in " + n +
         " parts; K is the array task's id (0: the music).\n"
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

// Slurm's programs, each with a time limit and only the start of its output read. A controller that
// does not answer (a SLURM_CONF that names nothing, a network that is down) otherwise holds them for
// minutes, and a program gone wrong may print without end.
struct SlurmProgram {
  const char* name;
  int seconds;
  size_t output_bytes;
};
static const SlurmProgram kSbatch = {"sbatch", 60, 4096};
static const SlurmProgram kScancel = {"scancel", 60, 4096};
static const SlurmProgram kSqueue = {"squeue", 30, 1 << 20};
static const SlurmProgram kSacct = {"sacct", 30, 1 << 20};

// NARVU_FARM_SLURM_SECONDS, 1 to 3600, gives every program that many seconds instead (a cluster that is
// slow to answer; the tests' sick ones).
static int secondsFor(const SlurmProgram& program) {
  const char* text = std::getenv("NARVU_FARM_SLURM_SECONDS");
  long seconds = 0;
  return text && wholeNumber(text, 1, 3600, &seconds) ? int(seconds) : program.seconds;
}

static ProgramRun runSlurm(const SlurmProgram& program, const std::vector<std::string>& arguments) {
  ProgramLimits limits;
  limits.seconds = secondsFor(program);
  limits.output_bytes = program.output_bytes;
  return runProgram(program.name, arguments, limits);
}

// Why a run of a Slurm program did not give an answer: it did not end in time, could not start, or
// failed (with its words). Empty when it succeeded.
static std::string slurmTrouble(const SlurmProgram& program, const ProgramRun& run) {
  std::string name = program.name;
  if (run.timed_out) return name + " did not answer in " + std::to_string(secondsFor(program)) + " s";
  if (run.ended_by_signal) return name + " was stopped by " + endSignalName(run.ended_by_signal);
  if (run.exit_code < 0) return run.errors;
  if (run.exit_code != 0) return name + " failed: " + (run.errors.empty() ? "it said nothing" : run.errors);
  return "";
}

// sbatch --parsable prints "ID" or "ID;CLUSTER".
static bool submit(const std::vector<std::string>& arguments, std::string* job, std::string* error) {
  ProgramRun run = runSlurm(kSbatch, arguments);
  std::string trouble = slurmTrouble(kSbatch, run);
  std::string id = run.output.substr(0, run.output.find_first_of(";\n"));
  if (trouble.empty() && !run.output_cut && isJobId(id)) {
    *job = id;
    return true;
  }
  if (trouble.empty()) {
    std::string shown = run.output.substr(0, 60);
    for (char& c : shown)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    trouble = "sbatch printed no job id (1 to 10 digits) but '" + shown + (run.output.size() > 60 ? "...'" : "'");
  }
  *error = trouble + " (" + commandText("sbatch", arguments) + ")";
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
  std::vector<std::string> options;
  std::string ignored;
  splitLikeShell(farm.sbatch_options, &options, &ignored);  // checked when the farm was submitted
  words.insert(words.end(), options.begin(), options.end());
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
    if (!submission.parts_job.empty()) runSlurm(kScancel, {submission.parts_job});
    return false;
  }
  farm->submissions.push_back(submission);
  return writeFarm(*farm, error);
}

static void printFollowing(const Farm& farm) {
  const Submission& s = farm.submissions.back();
  std::string folder = farmFolder(farm.capture);
  if (!s.parts_job.empty())
    std::printf("narvu-farm: tasks %s of %s (parts of %d, and 0, the music): job %s, an array whose task K makes "
                "part K\n",
                s.parts.c_str(), farm.capture.c_str(), farm.parts, s.parts_job.c_str());
  std::printf("narvu-farm: the join: job %s%s\n", s.join_job.c_str(),
              s.parts_job.empty() ? "" : ", which waits until every task has succeeded (afterok)");
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

// Slurm's job states: a word that is none of them is garbage, not a state.
static bool isJobState(const std::string& word) {
  static const char* const kStates[] = {
      "PENDING",   "RUNNING",     "SUSPENDED",  "COMPLETING", "COMPLETED",     "CONFIGURING",   "CANCELLED",
      "FAILED",    "TIMEOUT",     "PREEMPTED",  "NODE_FAIL",  "BOOT_FAIL",     "DEADLINE",      "OUT_OF_MEMORY",
      "REQUEUED",  "RESIZING",    "REVOKED",    "SPECIAL_EXIT", "STOPPED",     "SIGNALING",     "REQUEUE_HOLD",
      "REQUEUE_FED", "RESV_DEL_HOLD", "STAGE_OUT", "UPDATE_DB", "POWER_UP_NODE", "LAUNCH_FAILED", "RECONFIG_FAIL"};
  for (const char* state : kStates)
    if (word == state) return true;
  return false;
}

// The fields of one line of sacct -P or squeue -o with '|' between them.
static std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream text(line);
  for (std::string field; std::getline(text, field, '|');) fields.push_back(field);
  return fields;
}

// States of the farm's jobs by "JOB" or "JOB_TASK"; *why says what Slurm did not answer (the states
// then come from what did). squeue knows jobs until a while after they end (MinJobAge); sacct, where
// accounting is kept, after that.
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
  ProgramRun accounting = runSlurm(kSacct, {"-n", "-P", "-X", "-j", list, "--format=JobID,State,NodeList"});
  if (accounting.exit_code == 0 && !accounting.timed_out) {
    std::istringstream lines(accounting.output);
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> fields = fieldsOf(line);
      if (fields.size() != 3) continue;
      std::vector<std::string> state = wordsOf(fields[1]);  // "CANCELLED by 1000": its first word
      if (!state.empty() && isJobState(state[0])) states[fields[0]] = {state[0], "", fields[2]};
    }
  }
  // All of this user's jobs, not -j: squeue refuses a list that names a job it has forgotten.
  ProgramRun queue = runSlurm(kSqueue, {"-h", "-t", "all", "--me", "-o", "%i|%T|%r|%N"});
  std::string trouble = slurmTrouble(kSqueue, queue);
  if (!trouble.empty()) {
    *why = accounting.timed_out ? trouble + ", nor sacct in " + std::to_string(secondsFor(kSacct)) + " s"
                                : "Slurm's queue cannot be read here (" + trouble + ")";
    return states;
  }
  std::istringstream lines(queue.output);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields = fieldsOf(line);
    if (fields.size() < 3 || !isJobState(fields[1]) || !ids.count(fields[0].substr(0, fields[0].find('_')))) continue;
    states[fields[0]] = {fields[1], fields[2], fields.size() > 3 ? fields[3] : ""};
  }
  return states;
}

// Whether `task` (a part number) is among an --array list such as "1-4" or "2,5,7-9".
static bool arrayHolds(const std::string& tasks, int task) {
  std::stringstream ranges(tasks);
  for (std::string range; std::getline(ranges, range, ',');) {
    range = range.substr(0, range.find('%'));  // "0-4%2": at most 2 at once
    size_t dash = range.find('-');
    long low = 0, high = 0;
    bool read = dash == std::string::npos
                    ? wholeNumber(range, 0, 10000, &low) && (high = low, true)
                    : wholeNumber(range.substr(0, dash), 0, 10000, &low) &&
                          wholeNumber(range.substr(dash + 1), 0, 10000, &high);
    if (read && task >= low && task <= high) return true;
  }
  return false;
}

// What Slurm says of part K (0: the music): its task in the latest array that held it. A pending array
// is listed as one line, "JOB_[0-4]", until its tasks start.
static JobState partJob(const Farm& farm, const std::map<std::string, JobState>& states, int part) {
  for (auto s = farm.submissions.rbegin(); s != farm.submissions.rend(); ++s) {
    if (s->parts_job.empty() || !arrayHolds(s->parts, part)) continue;
    auto task = states.find(s->parts_job + "_" + std::to_string(part));
    if (task != states.end()) return task->second;
    for (const auto& entry : states)
      if (entry.first.rfind(s->parts_job + "_[", 0) == 0 && entry.first.back() == ']' &&
          arrayHolds(entry.first.substr(s->parts_job.size() + 2, entry.first.size() - s->parts_job.size() - 3), part))
        return entry.second;
    return {};
  }
  return {};
}

struct PartFiles {
  int part = 0;       // 0: the music
  std::string range;  // "FIRST-LAST"
  std::string state;  // done, missing, broken
  std::string detail;
};

// narvu --join OUT --check N: what the files hold, the music and part by part. False with why.
static bool partFiles(const Farm& farm, std::vector<PartFiles>* found, std::string* error) {
  std::vector<std::string> arguments = {"--join", farm.capture, "--check", std::to_string(farm.parts)};
  arguments.insert(arguments.end(), farm.options.begin(), farm.options.end());
  ProgramRun run = runProgram(farm.narvu, arguments);
  std::istringstream lines(run.output);
  int parts_found = 0;
  for (std::string line; std::getline(lines, line);) {
    PartFiles part;
    char range[64] = {}, state[16] = {};
    int parts = 0, used = 0;
    bool music = std::sscanf(line.c_str(), "music frames %63s %15[a-z]%n", range, state, &used) >= 2;
    if (!music && std::sscanf(line.c_str(), "part %d/%d frames %63s %15[a-z]%n", &part.part, &parts, range, state,
                              &used) < 4)
      continue;
    part.range = range;
    if (!part.range.empty() && part.range.back() == ':') part.range.pop_back();
    part.state = state;
    if (size_t(used) + 2 <= line.size()) part.detail = line.substr(size_t(used) + 2);
    parts_found += music ? 0 : 1;
    found->push_back(part);
  }
  if ((run.exit_code == 0 || run.exit_code == kPartsNotDoneExitCode) && parts_found == farm.parts) return true;
  *error = "cannot tell which parts are done: " + commandText(farm.narvu, arguments) + " said " +
           (run.errors.empty() ? "nothing" : run.errors);
  return false;
}

// The capture is joined when OUT is there (a video) or holds its music (a folder of PNG frames): the
// join gives either its name only once it is whole, and submit refuses an OUT that is there already.
static bool joined(const Farm& farm) {
  std::error_code ignored;
  if (std::filesystem::is_directory(farm.capture, ignored))
    return std::filesystem::is_regular_file(farm.capture + "/audio.wav", ignored);
  return std::filesystem::is_regular_file(farm.capture, ignored);
}

static bool running(const JobState& job) {
  return job.state == "PENDING" || job.state == "RUNNING" || job.state == "CONFIGURING" || job.state == "COMPLETING" ||
         job.state == "REQUEUED" || job.state == "SUSPENDED";
}

static std::string logOf(const Farm& farm, int part) {
  return farmFolder(farm.capture) + "/part-" + std::to_string(part) + ".log";
}

// ": " and why a part failed, in one line: narvu's last "narvu:" line and what follows it (the words
// of ffmpeg, say, that say the cause), from the end of its log.
static std::string lastWords(const std::string& log) {
  std::ifstream file(log, std::ios::binary);
  file.seekg(0, std::ios::end);
  std::streamoff size = file.tellg();
  const std::streamoff kMost = 16384;
  file.seekg(size > kMost ? size - kMost : 0);
  std::string line, last;
  while (std::getline(file, line)) {
    if (line.rfind("narvu: ", 0) == 0)
      last = line;
    else if (!last.empty() && !line.empty() && line.rfind("capture: ", 0) != 0)
      last += " " + line;
  }
  for (char& c : last)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  if (last.size() > 400) last = last.substr(0, 400) + "...";
  return last.empty() ? "" : ": " + last;
}

static std::string partTitle(const Farm& farm, const PartFiles& files) {
  if (files.part == 0) return "music (task 0, frames " + files.range + "): ";
  return "part " + std::to_string(files.part) + "/" + std::to_string(farm.parts) + " (frames " + files.range + "): ";
}

// How a part (or the music) stands: done, running, waiting, failed or missing.
enum class Standing { kDone, kBusy, kFailed };

// One part's line, with what tells it.
static std::string partLine(const Farm& farm, const PartFiles& files, const JobState& job, Standing* standing) {
  std::string head = partTitle(farm, files);
  std::string node = job.node.empty() || job.node == "(null)" ? "" : " on " + job.node;
  *standing = Standing::kDone;
  if (files.state == "done") return head + "done" + node;
  *standing = Standing::kBusy;
  if (job.state == "RUNNING" || job.state == "COMPLETING" || job.state == "CONFIGURING") return head + "running" + node;
  if (running(job))
    return head + "waiting (" + job.state + (job.reason.empty() || job.reason == "None" ? "" : ", " + job.reason) + ")";
  *standing = Standing::kFailed;
  std::error_code ignored;
  bool logged = std::filesystem::exists(logOf(farm, files.part), ignored);
  if (files.state == "broken") return head + "failed: " + files.detail;
  if (!job.state.empty() || logged)
    return head + "failed" + (job.state.empty() ? "" : " (" + job.state + node + ")") +
           lastWords(logOf(farm, files.part)) + "; its log: " + logOf(farm, files.part) +
           (files.detail.empty() ? "" : "; " + files.detail);
  return head + "missing" + (files.detail.empty() ? "" : " (" + files.detail + ")");
}

static std::string joinLine(const Farm& farm, const std::map<std::string, JobState>& states, Standing* standing) {
  *standing = Standing::kFailed;
  if (farm.submissions.empty()) return "join: never submitted";
  const std::string& id = farm.submissions.back().join_job;
  auto found = states.find(id);
  std::string log = farmFolder(farm.capture) + "/join-" + id + ".log";
  if (found == states.end()) return "join: job " + id + " (Slurm says nothing of it now); its log: " + log;
  const JobState& job = found->second;
  if (job.reason == "DependencyNeverSatisfied")
    return "join: job " + id + " is held: a part failed; run narvu-farm resume " + farm.capture;
  *standing = running(job) ? Standing::kBusy : job.state == "COMPLETED" ? Standing::kDone : Standing::kFailed;
  if (job.state == "PENDING") return "join: job " + id + " waits (" + job.reason + ")";
  if (job.state == "RUNNING") return "join: job " + id + " running";
  if (job.state == "COMPLETED") return "join: job " + id + " done";
  return "join: job " + id + " " + job.state + lastWords(log) + "; its log: " + log;
}

// ---- The commands -----------------------------------------------------------------------------------

// narvu beside this program (the build puts both in its top folder), else on the PATH.
static std::string defaultNarvu() {
  std::string self = programPath();
  if (!self.empty()) {
    std::string beside = std::filesystem::path(self).parent_path().string() + "/narvu";
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return findProgram("narvu");
}

// The capture's options must be ones narvu takes for a capture, every word of them (a typo would
// otherwise cost the whole cluster's time for the wrong capture), and the farm's own (--segment,
// --join, --jobs) its own.
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
  if (!parseCommandLine(int(argv.size()), argv.data(), &options, &why)) {
    *error = "narvu would refuse these options: " + why;
    return false;
  }
  if (captureOptionsFitForParts(options, &why)) return true;
  *error = "refused before submitting: " + why;
  return false;
}

// Slurm's programs find the controller through SLURM_CONF; one that names nothing makes each of them
// try for minutes before it says so.
static bool slurmConfigurationThere(std::string* error) {
  const char* configuration = std::getenv("SLURM_CONF");
  if (!configuration || !*configuration) return true;
  std::error_code ignored;
  if (std::filesystem::is_regular_file(configuration, ignored) && access(configuration, R_OK) == 0) return true;
  *error = std::string("SLURM_CONF names ") + configuration +
           ", which is no file that can be read: Slurm's programs would find no cluster";
  return false;
}

// What is at OUT already: "" for nothing (an empty folder is nothing), else what, for a message.
static std::string whatIsAt(const std::string& capture) {
  std::error_code ignored;
  std::filesystem::file_status facts = std::filesystem::symlink_status(capture, ignored);
  if (!std::filesystem::exists(facts)) return "";
  if (!std::filesystem::is_directory(facts)) return "a file";
  for (const auto& entry : std::filesystem::directory_iterator(capture, ignored)) {
    std::string name = entry.path().filename().string();
    if ((name.rfind("frame_", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) ||
        name == "audio.wav")
      return "a folder with frames or music";
  }
  return "";
}

// Removes OUT (--force): the video, or a folder's frames and music.
static void removeCapture(const std::string& capture) {
  std::error_code ignored;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(capture, ignored))) {
    std::filesystem::remove(capture, ignored);
    return;
  }
  std::vector<std::filesystem::path> old;
  for (const auto& entry : std::filesystem::directory_iterator(capture, ignored)) {
    std::string name = entry.path().filename().string();
    if ((name.rfind("frame_", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) ||
        name == "audio.wav")
      old.push_back(entry.path());
  }
  for (const std::filesystem::path& path : old) std::filesystem::remove(path, ignored);
}

static int submitCommand(const std::vector<std::string>& args) {
  Farm farm;
  bool dry_run = false, force = false;
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
      long parts = 0;
      if (!wholeNumber(text, 1, 10000, &parts))
        return usageError("--parts takes a whole number from 1 to 10000, not '" + text + "'");
      farm.parts = int(parts);
    } else if (a == "--sbatch") {
      if (!value(&farm.sbatch_options)) return usageError("--sbatch needs sbatch's options, in quotes");
      if (hasControlCharacter(farm.sbatch_options)) return usageError("--sbatch's options hold a control character");
      std::vector<std::string> words;
      if (!splitLikeShell(farm.sbatch_options, &words, &text)) return usageError(text);
    } else if (a == "--narvu") {
      if (!value(&farm.narvu)) return usageError("--narvu needs the path of the show");
    } else if (a == "--dry-run") {
      dry_run = true;
    } else if (a == "--force") {
      force = true;
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
  std::string error;
  if (!checkCaptureOptions(farm, &error)) return usageError(error);
  if (farm.narvu.empty()) farm.narvu = defaultNarvu();
  if (farm.narvu.empty() || access(farm.narvu.c_str(), X_OK) != 0)
    return failure("cannot find narvu (looked beside narvu-farm and on the PATH): give its path with --narvu");
  farm.narvu = std::filesystem::absolute(farm.narvu, ignored).lexically_normal().string();

  std::string folder = farmFolder(farm.capture);
  std::string tasks = "0-" + std::to_string(farm.parts);
  if (dry_run) {
    std::printf("# %s/parts.sbatch\n%s\n# %s/join.sbatch\n%s\n", folder.c_str(), partsScript(farm).c_str(),
                folder.c_str(), joinScript(farm).c_str());
    return submitJobs(&farm, tasks, true, &error) ? 0 : failure(error);
  }
  if (std::filesystem::exists(folder + "/" + kStateFile, ignored))
    return failure("a farm capture of " + farm.capture + " was submitted already (" + folder +
                   "): see narvu-farm status or resume, or remove " + folder + " to start again");
  if (!slurmConfigurationThere(&error)) return failure(error);
  std::string there = whatIsAt(farm.capture);
  if (!there.empty() && !force)
    return failure(farm.capture + " is there already (" + there +
                   "): choose another OUT, or give --force to replace it");
  std::filesystem::create_directories(folder, ignored);
  if (!std::filesystem::is_directory(folder, ignored)) return failure("cannot make the folder " + folder);
  if (!writeText(folder + "/parts.sbatch", partsScript(farm), &error) ||
      !writeText(folder + "/join.sbatch", joinScript(farm), &error) || !submitJobs(&farm, tasks, false, &error))
    return failure(error);
  if (!there.empty()) {
    removeCapture(farm.capture);
    std::printf("narvu-farm: %s was there (%s); removed, as --force asked, for the capture to replace it\n",
                farm.capture.c_str(), there.c_str());
  }
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

// The farm of OUT as given on the command line; false having said why (the exit code in *exit_code).
static bool farmOf(const std::vector<std::string>& args, const char* command, bool* dry_run, Farm* farm,
                   int* exit_code) {
  std::string capture, error;
  if (!oneCapture(args, command, dry_run, &capture, &error)) {
    *exit_code = usageError(error);
    return false;
  }
  if (!readFarm(capture, farm, &error) || !slurmConfigurationThere(&error)) {
    *exit_code = failure(error);
    return false;
  }
  return true;
}

static int statusCommand(const std::vector<std::string>& args) {
  Farm farm;
  int exit_code = 0;
  if (!farmOf(args, "status", nullptr, &farm, &exit_code)) return exit_code;
  std::string error;
  std::map<std::string, JobState> states = jobStates(farm, &error);
  if (!error.empty()) std::printf("narvu-farm: %s; the parts' states come from the files alone\n", error.c_str());
  Standing join_standing;
  std::string join_line = joinLine(farm, states, &join_standing);
  if (joined(farm)) {
    std::printf("%s is joined: all %d parts are done\n%s\n", farm.capture.c_str(), farm.parts, join_line.c_str());
    return 0;
  }
  std::vector<PartFiles> parts;
  if (!partFiles(farm, &parts, &error)) return failure(error);
  bool busy = join_standing == Standing::kBusy, failed = join_standing == Standing::kFailed && parts.empty();
  for (const PartFiles& part : parts) {
    Standing standing;
    std::printf("%s\n", partLine(farm, part, partJob(farm, states, part.part), &standing).c_str());
    busy = busy || standing == Standing::kBusy;
    failed = failed || standing == Standing::kFailed;
  }
  std::printf("%s\n", join_line.c_str());
  failed = failed || (join_standing == Standing::kFailed && !busy);
  return failed ? 1 : kStillRunningExitCode;
}

// A log kept before a part is made again: part-K.log becomes part-K.log.1 (or .2, ... the first free).
static void keepOldLog(const std::string& log) {
  std::error_code ignored;
  if (!std::filesystem::exists(log, ignored)) return;
  for (int generation = 1; generation < 1000; ++generation) {
    std::string kept = log + "." + std::to_string(generation);
    if (std::filesystem::exists(kept, ignored)) continue;
    std::filesystem::rename(log, kept, ignored);
    return;
  }
}

static int resumeCommand(const std::vector<std::string>& args) {
  bool dry_run = false;
  Farm farm;
  int exit_code = 0;
  if (!farmOf(args, "resume", &dry_run, &farm, &exit_code)) return exit_code;
  std::string error;
  if (joined(farm)) {
    std::printf("narvu-farm: nothing to resume: %s is joined\n", farm.capture.c_str());
    return 0;
  }
  std::map<std::string, JobState> states = jobStates(farm, &error);
  if (!error.empty()) return failure(error + "; resume needs it, to submit nothing that is still running");
  std::vector<PartFiles> parts;
  if (!partFiles(farm, &parts, &error)) return failure(error);
  std::string tasks, busy;
  std::vector<int> again;
  for (const PartFiles& part : parts) {
    if (part.state == "done") continue;
    JobState job = partJob(farm, states, part.part);
    std::string& list = running(job) ? busy : tasks;
    list += (list.empty() ? "" : ",") + std::to_string(part.part);
    if (!running(job)) again.push_back(part.part);
  }
  if (!busy.empty())
    return failure("tasks " + busy + " are still waiting or running: resume once they have ended (narvu-farm status " +
                   farm.capture + ")");
  if (!farm.submissions.empty()) {
    auto held = states.find(farm.submissions.back().join_job);
    if (held != states.end() && held->second.state == "RUNNING")
      return failure("the join (job " + held->first + ") is running; let it end first");
    // Only a join whose dependency can never be met is in the way; one that waits its turn will run.
    if (held != states.end() && held->second.state == "PENDING") {
      if (held->second.reason != "DependencyNeverSatisfied") {
        std::printf("narvu-farm: the join (job %s) is waiting (%s): nothing to resume\n", held->first.c_str(),
                    held->second.reason.c_str());
        return 0;
      }
      std::printf("narvu-farm: cancelling the join held by the failed parts (job %s)\n", held->first.c_str());
      if (!dry_run) {
        ProgramRun run = runSlurm(kScancel, {held->first});
        std::string trouble = slurmTrouble(kScancel, run);
        if (!trouble.empty()) return failure("cannot cancel the held join: " + trouble);
      }
    }
  }
  std::printf("narvu-farm: %s\n", tasks.empty() ? "every part is done; submitting the join again"
                                                : ("submitting tasks " + tasks + " again").c_str());
  if (!dry_run)
    for (int part : again) keepOldLog(logOf(farm, part));
  if (!submitJobs(&farm, tasks, dry_run, &error)) return failure(error);
  if (!dry_run) printFollowing(farm);
  return 0;
}

static int cancelCommand(const std::vector<std::string>& args) {
  Farm farm;
  int exit_code = 0;
  if (!farmOf(args, "cancel", nullptr, &farm, &exit_code)) return exit_code;
  std::vector<std::string> jobs;
  for (const Submission& s : farm.submissions) {
    if (!s.parts_job.empty()) jobs.push_back(s.parts_job);
    jobs.push_back(s.join_job);
  }
  if (jobs.empty()) return failure("no job of " + farm.capture + " was submitted");
  ProgramRun run = runSlurm(kScancel, jobs);
  std::string trouble = slurmTrouble(kScancel, run);
  if (!trouble.empty()) return failure("cannot cancel the jobs of " + farm.capture + ": " + trouble);
  std::string list;
  for (const std::string& job : jobs) list += (list.empty() ? "" : ", ") + job;
  std::printf("narvu-farm: cancelled the jobs of %s (%s); the parts made are kept for narvu-farm resume\n",
              farm.capture.c_str(), list.c_str());
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
  if (command == "cancel") return cancelCommand(args);
  return usageError("unknown command '" + command + "'");
}
