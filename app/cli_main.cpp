// quarry-cli: Quarry's engine without a window, for terminals and scripts.
//
// "run" plays the main window's part for one task: it loads the task files, adds the task as
// the add-task dialog would (task control starts it at once), follows its log and figures
// through views of its own, hands the end report from the runner's monitor to task control on
// the main thread, and shuts task control down, which writes both task files. "resume" does
// the same for the waiting and paused tasks of the home, as the run-all command does; "run
// --keywords-file" for the tasks of a keyword list, in its order; "add" only lists new tasks
// as waiting, as the dialog does with "立即下载" cleared. Ctrl+C, SIGTERM and SIGHUP (a closed
// terminal) shut down as closing the window does: the running task is saved unfinished, comes
// back paused and a later "resume" goes on with it; a second signal ends the program at once,
// which loses nothing either. Whatever task control reports
// as a problem (a task that cannot start, a full disk, a damaged task file) is printed on the
// error stream.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_reports.h"
#include "app/cli_views.h"
#include "app/common_options.h"
#include "engine/finished_queue.h"
#include "engine/keyword_list.h"
#include "engine/task_control.h"
#include "engine/task_files.h"
#include "harvest/search_pages.h"
#include "platform/home.h"
#include "records/record_store.h"

namespace {

using quarry::cli::CliInfoView;
using quarry::cli::PausingTaskFileIo;

const char kUsage[] =
    "Usage: quarry-cli [--home DIR] [--web-host H] [--image-host H] [--proxy URL] COMMAND\n"
    "       [OPTIONS]\n"
    "\n"
    "Harvests files of one kind from a web search engine, as the Quarry window does.\n"
    "\n"
    "Commands:\n"
    "  run --keyword K [--kind image|doc|ppt|pdf|xls] [--pages N] [--threads N]\n"
    "      [--folder DIR] [--live | --classic] [--verbose] [FILTERS]\n"
    "                adds a task and runs it to its end (kind image, 50 pages, 3 threads and\n"
    "                the home's DownData/ unless given); Ctrl+C, SIGTERM or SIGHUP pauses\n"
    "                it, and resume goes on with it.\n"
    "                --live searches the service as it answers today (https, cookies, JSON\n"
    "                image results, a link redirector), --classic as the classic result\n"
    "                pages describe it; without either, the mode set in the window is used\n"
    "  run --keywords-file F [the options above]\n"
    "                adds a task for each line of the UTF-8 file F (blank lines and lines\n"
    "                starting with # are skipped) and runs them one after another, with a\n"
    "                summary per task and a total; a bad line is reported with its number\n"
    "                and nothing is added. A keyword already waiting, running or paused in\n"
    "                the same folder for the same kind is skipped\n"
    "  add (--keyword K | --keywords-file F) [--kind K] [--pages N] [--threads N]\n"
    "      [--folder DIR] [FILTERS]\n"
    "                adds waiting tasks without running them; resume runs them\n"
    "  resume [--live | --classic] [--verbose]\n"
    "                runs the waiting and paused tasks one after another (a task cut off by a\n"
    "                crash is paused); files its database holds are not fetched again\n"
    "  list          prints the unfinished and the finished tasks\n"
    "  records FOLDER\n"
    "                prints the rows of a task folder's database: file, address, title\n"
    "  failures FOLDER\n"
    "                prints the addresses of a task folder that did not become files, with\n"
    "                their reasons, counted per reason\n"
    "  retry FOLDER [--live | --classic] [--verbose]\n"
    "                runs the task saving into FOLDER again over its failures worth a retry\n"
    "                (network errors, time limits, cut bodies, 5xx answers)\n"
    "  export FOLDER --format csv|json [--output FILE]\n"
    "                writes a task folder's files (name, address, title, size, SHA-256,\n"
    "                picture size) and failures, to standard output unless FILE is given\n"
    "  --help        show this text\n"
    "  --version     print the version\n"
    "\n"
    "Filters of run and add (the defaults are those set in the window: files of 2000 bytes\n"
    "or more, every picture, exact duplicates within the folder dropped):\n"
    "  --min-size N, --max-size N   bytes, or with k or m (thousands, millions); 0: no maximum\n"
    "  --min-width N, --min-height N   a picture's least size in pixels\n"
    "  --formats LIST    the picture formats kept: jpg, png, gif, bmp, webp (\"jpg,png\")\n"
    "  --dedupe-home     a file whose content any task folder of the home holds is a duplicate\n"
    "  --near-duplicates a picture nearly identical to one kept is a duplicate too\n"
    "\n"
    "Common options (each also read from the environment variable in brackets):\n"
    "  --home DIR        the home folder with sys/ and DownData/ [QUARRY_HOME]\n"
    "  --web-host H      web-search host, may carry a port [QUARRY_WEB_HOST]\n"
    "  --image-host H    image-search host, may carry a port [QUARRY_IMAGE_HOST]\n"
    "  --proxy URL       the proxy of every request: none, http://[user:password@]host:port\n"
    "                    or socks5://[user:password@]host:port; without it the proxy set in the\n"
    "                    window, else http_proxy, https_proxy and no_proxy\n"
    "  --test-authority FILE\n"
    "                    a certificate authority (PEM) trusted beside the system's, for test\n"
    "                    servers [QUARRY_TEST_AUTHORITY]\n"
    "\n"
    "Exit status: 0 done (a task run to its end or paused); 1 a task could not start (its\n"
    "folder or records database unusable) or stopped for a full disk, a saved file was not\n"
    "recorded, or the home or the task files could not be used; 2 bad arguments.\n";

constexpr int kUsageError = 2;

volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) { g_interrupts = g_interrupts + 1; }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quarry-cli: %s\nTry 'quarry-cli --help'.\n", message.c_str());
  return kUsageError;
}

const char* KindName(quarry::FileKind kind) {
  switch (kind) {
    case quarry::FileKind::Image: return "image";
    case quarry::FileKind::Word: return "doc";
    case quarry::FileKind::Slides: return "ppt";
    case quarry::FileKind::Pdf: return "pdf";
    case quarry::FileKind::Excel: return "xls";
  }
  return "?";
}

const char* StateName(quarry::TaskState state) {
  switch (state) {
    case quarry::TaskState::Waiting: return "waiting";
    case quarry::TaskState::Running: return "running";
    case quarry::TaskState::Paused: return "paused";
    case quarry::TaskState::Ended: return "ended";
  }
  return "unknown";
}

bool ParseKind(const std::string& text, quarry::FileKind* kind) {
  static const std::map<std::string, quarry::FileKind> kinds = {{"image", quarry::FileKind::Image},
                                                                {"doc", quarry::FileKind::Word},
                                                                {"ppt", quarry::FileKind::Slides},
                                                                {"pdf", quarry::FileKind::Pdf},
                                                                {"xls", quarry::FileKind::Excel}};
  auto found = kinds.find(text);
  if (found == kinds.end()) return false;
  *kind = found->second;
  return true;
}

bool ParseCount(const std::string& text, int low, int high, int* value) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::atoi(text.c_str());
  return *value >= low && *value <= high;
}

std::string HomeOf(const quarry::CommonOptions& options) {
  return quarry::ResolveHome(options.home, quarry::ExecutableFolder());
}

// The signals that stop a run: Ctrl+C, a polite kill, and the terminal going away.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The stop signals blocked on this thread while it lives: threads started meanwhile are born
// with them blocked, so a signal always lands on the main thread and never cuts short a
// worker's network wait or file write.
class InterruptsBlocked {
public:
  InterruptsBlocked() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal : kStopSignals) sigaddset(&interrupts, signal);
    pthread_sigmask(SIG_BLOCK, &interrupts, &m_saved);
  }
  ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }
  InterruptsBlocked(const InterruptsBlocked&) = delete;
  InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

private:
  sigset_t m_saved;
};

// The home of a harvest, held by this process, and the search hosts.
struct Harvest {
  std::string home;
  quarry::SearchHosts hosts;
  quarry::ProxyChoice proxies;
  std::unique_ptr<quarry::HomeLock> lock;
};

// 0 with `harvest` ready, else the exit status.
int PrepareHarvest(const quarry::CommonOptions& options, Harvest* harvest) {
  std::string error;
  if (!quarry::MakeSearchHosts(options.webHost, options.imageHost, &harvest->hosts, &error))
    return UsageError(error);
  harvest->home = HomeOf(options);
  if (!quarry::CreateHomeFolders(harvest->home, &error)) {
    std::fprintf(stderr, "quarry-cli: %s\n", error.c_str());
    return 1;
  }
  harvest->lock = quarry::HomeLock::Acquire(harvest->home, &error);
  if (!harvest->lock) {
    std::fprintf(stderr, "quarry-cli: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> notes;
  harvest->proxies = quarry::ProxiesOf(options, harvest->home + "sys/quarry.ini", &notes);
  for (const std::string& note : notes) std::fprintf(stderr, "quarry-cli: %s\n", note.c_str());
  return 0;
}

// Reads --live or --classic into `mode`; false for any other argument.
bool TakeModeFlag(const std::string& arg, std::optional<quarry::SearchMode>* mode) {
  if (arg == "--live") {
    *mode = quarry::SearchMode::Live;
  } else if (arg == "--classic") {
    *mode = quarry::SearchMode::Classic;
  } else {
    return false;
  }
  return true;
}

// The mode a flag asked for, else the one the window keeps in the home's settings.
quarry::SearchMode ModeOf(const Harvest& harvest, std::optional<quarry::SearchMode> asked) {
  if (asked) return *asked;
  return quarry::ReadSearchMode(harvest.home + "sys/quarry.ini");
}

void PrintTaskHeading(const quarry::SearchTask& task) {
  std::printf("Task '%s' (%s, %d pages, %d threads) in %s\n",
              quarry::FieldText(task.keyword).c_str(), KindName(task.kind), task.pageCount,
              task.threadCount, quarry::FieldText(task.folder).c_str());
  std::fflush(stdout);
}

// "saved" counts the files written whole, "recorded" those of them whose row was stored.
void PrintSummary(const char* how, const quarry::SearchTask& figures,
                  const quarry::RunOutcome& outcome) {
  std::printf("%s: %d pages fetched, %d files fetched, %d saved, %d recorded in %s\n", how,
              figures.pagesFetched, figures.filesFetched, outcome.saved, outcome.recorded,
              quarry::FieldText(figures.folder).c_str());
  if (outcome.mode == quarry::SearchMode::Live) {
    std::printf("Live search: %d result pages refused by the service\n", outcome.refusedPages);
  }
  if (outcome.failed > 0) {
    std::printf("Not kept: %d addresses (%d duplicates); see quarry-cli failures %s\n",
                outcome.failed, outcome.duplicates, quarry::FieldText(figures.folder).c_str());
  }
  if (!outcome.proxyProblem.empty()) {
    std::printf("Proxy: %s\n", outcome.proxyProblem.c_str());
  }
  if (outcome.nothingArrived) {
    std::printf(
        "Failed: no result page arrived (the search service could not be reached, "
        "refused the secure connection or refused every page)\n");
  }
  std::fflush(stdout);
}

// Prints what task control has to tell; true when there was anything.
bool PrintProblems(quarry::TaskControl& control) {
  const std::vector<std::string> problems = control.TakeProblems();
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "quarry-cli: %s\n", problem.c_str());
  }
  std::fflush(stderr);
  return !problems.empty();
}

// The finished task whose record is `record`; null when there is none.
const quarry::Task* FinishedTask(quarry::TaskControl& control, const quarry::SearchTask* record) {
  for (const auto& task : control.FinishedTasks()) {
    if (&task->record == record) return task.get();
  }
  return nullptr;
}

// Figures summed over the tasks a command ran, for its last line.
struct Total {
  int tasks = 0;
  int pages = 0;
  int files = 0;
  int saved = 0;
  int recorded = 0;
  void Add(const quarry::SearchTask& figures, const quarry::RunOutcome& outcome) {
    ++tasks;
    pages += figures.pagesFetched;
    files += figures.filesFetched;
    saved += outcome.saved;
    recorded += outcome.recorded;
  }
};

void PrintTotal(const Total& total) {
  std::printf("Total: %d tasks, %d pages fetched, %d files fetched, %d saved, %d recorded\n",
              total.tasks, total.pages, total.files, total.saved, total.recorded);
  std::fflush(stdout);
}

// Starts the next task of a command's own list when the previous one ended by itself; false
// when none is left that could start.
using NextTask = std::function<bool(quarry::TaskControl&)>;

// Plays the main window for the tasks that `start` sets going (it returns false when it
// started none), and for those that `next` starts one after another: hands the monitor's end
// reports to task control, keeps the running task's figures saved, shows the progress line and a
// summary for each task that ends, and turns the stop signals into a shut-down that keeps the
// running task unfinished. Shutting down writes both task files. Returns the exit status: 1 when a
// task could not start or stopped by itself, when a task saved files it did not record, or when the
// task files could not be written. A total follows the summaries when more than one task ended.
int DriveTasks(const Harvest& harvest, bool verbose, quarry::SearchMode mode,
               const std::function<bool(quarry::TaskControl&)>& start,
               const NextTask& next = nullptr) {
  quarry::NoTaskEvents events;
  quarry::FinishedTaskQueue finished;
  CliInfoView info(verbose);
  std::unique_ptr<PausingTaskFileIo> pausingIo;
  if (const char* pause = std::getenv("QUARRY_SAVE_PAUSE_MS")) {
    pausingIo = std::make_unique<PausingTaskFileIo>(std::atoi(pause));
  }
  quarry::TaskControlOptions controlOptions;
  controlOptions.home = harvest.home;
  controlOptions.hosts = harvest.hosts;
  controlOptions.followStartedTask = true;
  controlOptions.taskFileIo = pausingIo.get();
  controlOptions.mode = mode;
  controlOptions.livePacing = quarry::LivePacingFromEnvironment();
  controlOptions.proxies = harvest.proxies;
  quarry::TaskControl control(events, finished, controlOptions);
  control.SetViews(&info, nullptr);
  control.LoadTaskFiles();
  PrintProblems(control);  // damaged task files: told, but no reason to stop

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);

  const bool live = !verbose && ::isatty(STDOUT_FILENO);
  quarry::Task* shown = nullptr;  // the task whose heading was printed last
  auto headRunningTask = [&] {
    quarry::Task* current = control.CurrentTask();
    if (current == nullptr || current == shown) return;
    shown = current;
    PrintTaskHeading(current->record);
  };
  bool failed = false;
  Total total;
  {
    InterruptsBlocked blocked;
    const bool started = start(control);
    failed = PrintProblems(control);
    if (!started) return control.Shutdown() && !failed ? 0 : 1;
  }
  headRunningTask();
  bool ended = false;
  while (!ended && g_interrupts == 0) {
    if (quarry::SearchTask* record = finished.Wait(std::chrono::milliseconds(200))) {
      {
        InterruptsBlocked blocked;  // the end of a task may start the next one
        control.OnTaskFinished(record);
      }
      if (live) std::printf("\r\033[K");
      // The runner is gone: the record is read on this thread alone.
      const quarry::Task* task = FinishedTask(control, record);
      const quarry::RunOutcome outcome = task != nullptr ? task->lastRun : quarry::RunOutcome{};
      PrintSummary(outcome.fault.empty() ? "Finished" : "Stopped", *record, outcome);
      total.Add(*record, outcome);
      if (outcome.saved != outcome.recorded) failed = true;
      if (PrintProblems(control)) failed = true;
      if (next && control.RunningCount() == 0 && outcome.fault.empty()) {
        InterruptsBlocked blocked;
        next(control);
        if (PrintProblems(control)) failed = true;
      }
      ended = control.RunningCount() == 0;
      headRunningTask();
    }
    if (g_interrupts != 0) break;
    control.SaveRunningFigures();
    if (live && !ended) {
      std::printf("\r\033[K%s", info.ProgressLine().c_str());
      std::fflush(stdout);
    }
  }
  quarry::Task* cutOff = ended ? nullptr : control.CurrentTask();
  if (!ended) {
    // A stop signal: shut down as the window does when it closes, so the running task stays
    // unfinished and the next start finds it paused. Another signal ends the program at once;
    // the task files on disk already hold the task as running.
    for (int signal : kStopSignals) ::signal(signal, SIG_DFL);
    if (live) std::printf("\r\033[K");
    std::printf("Stopping...\n");
    std::fflush(stdout);
  }
  std::string error;
  const bool saved = control.Shutdown(&error);
  if (cutOff != nullptr) {
    const quarry::RunOutcome outcome = control.Outcome(cutOff);
    PrintSummary("Stopped", control.Snapshot(cutOff), outcome);
    std::printf("The task is paused: 'quarry-cli resume' goes on with it.\n");
    std::fflush(stdout);
    if (outcome.saved != outcome.recorded) failed = true;
    total.Add(control.Snapshot(cutOff), outcome);
  }
  if (total.tasks > 1) PrintTotal(total);
  if (!saved) {
    std::fprintf(stderr, "quarry-cli: the task files were not saved: %s\n", error.c_str());
    return 1;
  }
  return failed ? 1 : 0;
}

// What "run" and "add" read from their arguments.
struct TaskArguments {
  quarry::NewTaskValues values;
  // The filter options in their order, and the duplicate flags: applied over the window's
  // defaults once the home is known.
  std::vector<std::pair<std::string, std::string>> ruleOptions;
  std::vector<std::string> ruleFlags;
  quarry::FileRules rules;
  bool verbose = false;
  std::optional<quarry::SearchMode> mode;
  bool haveKeyword = false;
  std::string keywordsFile;  // --keywords-file F; empty: --keyword
  std::string folder;
};

// Reads the options of `command` ("run" or "add", which takes neither a mode nor --verbose):
// 0 with `out` filled, else the exit status.
int ParseTaskArguments(const std::string& command, const std::vector<std::string>& args,
                       TaskArguments* out) {
  const bool run = command == "run";
  quarry::NewTaskValues& values = out->values;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (run && arg == "--verbose") {
      out->verbose = true;
      continue;
    }
    if (run && TakeModeFlag(arg, &out->mode)) continue;
    if (quarry::cli::TakeRuleFlag(arg, &out->rules)) {
      out->ruleFlags.push_back(arg);
      continue;
    }
    if (quarry::cli::IsRuleOption(arg)) {
      if (i + 1 >= args.size()) return UsageError(command + ": option " + arg + " needs a value");
      std::string error;
      if (!quarry::cli::TakeRuleOption(arg, args[i + 1], &out->rules, &error))
        return UsageError(command + ": " + error);
      out->ruleOptions.emplace_back(arg, args[++i]);
      continue;
    }
    if (arg != "--keyword" && arg != "--keywords-file" && arg != "--kind" && arg != "--pages" &&
        arg != "--threads" && arg != "--folder") {
      return UsageError(command + ": unknown option '" + arg + "'");
    }
    if (i + 1 >= args.size()) return UsageError(command + ": option " + arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == "--keyword") {
      values.keyword = value;
      out->haveKeyword = true;
    } else if (arg == "--keywords-file") {
      if (value.empty()) return UsageError(command + ": --keywords-file needs a file name");
      out->keywordsFile = value;
    } else if (arg == "--kind") {
      if (!ParseKind(value, &values.kind))
        return UsageError(command + ": --kind must be image, doc, ppt, pdf or xls");
    } else if (arg == "--pages") {
      if (!ParseCount(value, quarry::kMinPageCount, quarry::kMaxPageCount, &values.pageCount))
        return UsageError(command + ": --pages must be a number from 1 to 500");
    } else if (arg == "--threads") {
      if (!ParseCount(value, quarry::kMinThreadCount, quarry::kMaxThreadCount, &values.threadCount))
        return UsageError(command + ": --threads must be a number from 1 to 6");
    } else {
      out->folder = value;
    }
  }
  if (out->haveKeyword && !out->keywordsFile.empty())
    return UsageError(command + ": give --keyword or --keywords-file, not both");
  if (!out->haveKeyword && out->keywordsFile.empty())
    return UsageError(command + ": --keyword or --keywords-file is required");
  return 0;
}

// The parent folder of the new tasks: --folder made absolute, or the home's DownData/.
std::string ParentFolder(const TaskArguments& arguments, const Harvest& harvest) {
  std::string folder = arguments.folder.empty() ? harvest.home + "DownData/" : arguments.folder;
  folder = quarry::AbsolutePath(folder);
  if (folder.back() != '/') folder += '/';
  return folder;
}

// The records of the keyword file, or of the one keyword, checked whole before any is added:
// 0 with `tasks` filled, else the exit status.
int MakeTasks(const std::string& command, const TaskArguments& arguments,
              const quarry::NewTaskValues& values, std::vector<quarry::SearchTask>* tasks) {
  std::vector<quarry::KeywordLine> lines;
  std::string error;
  if (arguments.keywordsFile.empty()) {
    lines.push_back({1, values.keyword});
  } else if (!quarry::ReadKeywordFile(arguments.keywordsFile, &lines, &error)) {
    return UsageError(command + ": " + error);
  }
  if (!quarry::MakeSearchTasks(values, lines, std::time(nullptr), tasks, &error)) {
    if (arguments.keywordsFile.empty()) return UsageError(command + ": " + error);
    return UsageError(command + ": " + arguments.keywordsFile + ": " + error);
  }
  return 0;
}

// Leaves out of `tasks` those that are already unfinished in `control`, saying so.
void SkipUnfinishedTwins(quarry::TaskControl& control, std::vector<quarry::SearchTask>* tasks) {
  std::vector<quarry::SearchTask> unfinished;
  for (const auto& task : control.UnfinishedTasks())
    unfinished.push_back(control.Snapshot(task.get()));
  for (const std::string& keyword : quarry::DropUnfinishedTwins(tasks, unfinished)) {
    std::printf("Skipped '%s': the same task is already waiting, running or paused\n",
                keyword.c_str());
  }
  std::fflush(stdout);
}

// Lists `record` as a waiting task that keeps what `rules` let through; returns it.
quarry::Task* AddWaiting(quarry::TaskControl& control, const quarry::SearchTask& record,
                         const quarry::FileRules& rules) {
  auto task = std::make_unique<quarry::Task>();
  task->record = record;
  task->rules = rules;
  quarry::Task* added = task.get();
  control.AddTask(std::move(task), /*startIfIdle=*/false);
  return added;
}

// The start of the commands that add tasks: their arguments read, the home prepared and one
// task record made for each keyword. A non-zero exit status when one of them fails.
int PrepareTaskRecords(const char* command, const quarry::CommonOptions& options,
                       const std::vector<std::string>& args, TaskArguments* arguments,
                       Harvest* harvest, std::vector<quarry::SearchTask>* records) {
  if (int status = ParseTaskArguments(command, args, arguments)) return status;
  if (int status = PrepareHarvest(options, harvest)) return status;
  // The window's default filters, then the options given.
  arguments->rules = quarry::ReadDefaultRules(harvest->home + "sys/quarry.ini");
  for (const std::string& flag : arguments->ruleFlags)
    quarry::cli::TakeRuleFlag(flag, &arguments->rules);
  std::string error;
  for (const auto& [option, value] : arguments->ruleOptions)
    quarry::cli::TakeRuleOption(option, value, &arguments->rules, &error);
  if (arguments->rules.maxBytes > 0 && arguments->rules.maxBytes < arguments->rules.minBytes)
    return UsageError(std::string(command) + ": the maximum size is below the minimum size");
  quarry::NewTaskValues values = arguments->values;
  values.folder = ParentFolder(*arguments, *harvest);
  return MakeTasks(command, *arguments, values, records);
}

int RunCommand(const quarry::CommonOptions& options, const std::vector<std::string>& args) {
  TaskArguments arguments;
  Harvest harvest;
  std::vector<quarry::SearchTask> records;
  if (int status = PrepareTaskRecords("run", options, args, &arguments, &harvest, &records))
    return status;
  const quarry::SearchMode mode = ModeOf(harvest, arguments.mode);
  if (arguments.keywordsFile.empty()) {
    auto task = std::make_unique<quarry::Task>();
    task->record = records.front();
    task->rules = arguments.rules;
    return DriveTasks(harvest, arguments.verbose, mode, [&task](quarry::TaskControl& control) {
      control.AddTask(std::move(task));
      return control.RunningCount() > 0;  // not when its folder or database cannot be used
    });
  }
  // The file's tasks are listed at once, all waiting, and run in the file's order; other
  // waiting tasks of the home are left for "resume".
  std::vector<quarry::Task*> queue;
  std::size_t nextIndex = 0;
  auto startNext = [&](quarry::TaskControl& control) {
    while (nextIndex < queue.size()) {
      if (control.RunSelected(queue[nextIndex++])) return true;
    }
    return false;
  };
  return DriveTasks(
      harvest, arguments.verbose, mode,
      [&](quarry::TaskControl& control) {
        SkipUnfinishedTwins(control, &records);
        for (const quarry::SearchTask& record : records)
          queue.push_back(AddWaiting(control, record, arguments.rules));
        if (queue.empty()) std::printf("No new task to run.\n");
        return startNext(control);
      },
      startNext);
}

int AddCommand(const quarry::CommonOptions& options, const std::vector<std::string>& args) {
  TaskArguments arguments;
  Harvest harvest;
  std::vector<quarry::SearchTask> records;
  if (int status = PrepareTaskRecords("add", options, args, &arguments, &harvest, &records))
    return status;
  quarry::NoTaskEvents events;
  quarry::FinishedTaskQueue finished;
  quarry::TaskControlOptions controlOptions;
  controlOptions.home = harvest.home;
  controlOptions.hosts = harvest.hosts;
  quarry::TaskControl control(events, finished, controlOptions);
  control.LoadTaskFiles();
  bool failed = PrintProblems(control);
  SkipUnfinishedTwins(control, &records);
  for (const quarry::SearchTask& record : records) {
    AddWaiting(control, record, arguments.rules);
    std::printf("Added: ");
    PrintTaskHeading(record);
  }
  std::string error;
  if (!control.Shutdown(&error)) {
    std::fprintf(stderr, "quarry-cli: the task files were not saved: %s\n", error.c_str());
    return 1;
  }
  if (PrintProblems(control)) failed = true;
  return failed ? 1 : 0;
}

int ResumeCommand(const quarry::CommonOptions& options, const std::vector<std::string>& args) {
  bool verbose = false;
  std::optional<quarry::SearchMode> mode;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (TakeModeFlag(args[i], &mode)) continue;
    if (args[i] != "--verbose") return UsageError("resume: unknown option '" + args[i] + "'");
    verbose = true;
  }
  Harvest harvest;
  if (int status = PrepareHarvest(options, &harvest)) return status;
  return DriveTasks(harvest, verbose, ModeOf(harvest, mode), [](quarry::TaskControl& control) {
    const bool any = std::any_of(control.UnfinishedTasks().begin(), control.UnfinishedTasks().end(),
                                 [](const auto& task) {
                                   return task->record.state == quarry::TaskState::Waiting ||
                                          task->record.state == quarry::TaskState::Paused;
                                 });
    control.RunAll();
    if (control.RunningCount() > 0) return true;
    if (!any) std::printf("No waiting or paused task to resume.\n");
    return false;
  });
}

// "retry FOLDER": runs the task saving into FOLDER again over its retryable failures.
int RetryCommand(const quarry::CommonOptions& options, const std::vector<std::string>& args) {
  bool verbose = false;
  std::optional<quarry::SearchMode> mode;
  std::string folder;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (TakeModeFlag(args[i], &mode)) continue;
    if (args[i] == "--verbose") {
      verbose = true;
    } else if (args[i].empty() || args[i][0] == '-' || !folder.empty()) {
      return UsageError("retry: give one task folder (and --live, --classic or --verbose)");
    } else {
      folder = quarry::cli::FolderArgument(quarry::AbsolutePath(args[i]));
    }
  }
  if (folder.empty()) return UsageError("retry: give a task folder");
  Harvest harvest;
  if (int status = PrepareHarvest(options, &harvest)) return status;
  return DriveTasks(harvest, verbose, ModeOf(harvest, mode), [&](quarry::TaskControl& control) {
    // The failures belong to the folder: the first task of the home that saves there retries
    // them.
    for (const quarry::TaskList* list : {&control.FinishedTasks(), &control.UnfinishedTasks()}) {
      for (const auto& task : *list) {
        if (quarry::cli::FolderArgument(quarry::FieldText(task->record.folder)) != folder)
          continue;
        if (!control.CanRetrySelected(task.get())) {
          std::printf("Nothing to retry in %s\n", folder.c_str());
          return false;
        }
        return control.RetrySelected(task.get());
      }
    }
    std::fprintf(stderr, "quarry-cli: no task of the home saves into %s\n", folder.c_str());
    return false;
  });
}

// `shownRunning`: whether a task stored as running is shown so; when no copy of Quarry holds
// the home it is not running but cut off, and shown paused, as the next start takes it.
void PrintTasks(const char* heading, const quarry::TaskList& list, bool shownRunning) {
  std::printf("%s (%zu)\n", heading, list.size());
  for (const auto& task : list) {
    const quarry::SearchTask& t = task->record;
    const quarry::TaskState state = t.state == quarry::TaskState::Running && !shownRunning
                                        ? quarry::TaskState::Paused
                                        : t.state;
    std::printf("  %-20s %-5s %-8s %s  pages %d/%d  files %d  threads %d  %s\n",
                quarry::FieldText(t.keyword).c_str(), KindName(t.kind), StateName(state),
                quarry::FieldText(t.createdAt).c_str(), t.pagesFetched, t.pageCount, t.filesFetched,
                t.threadCount, quarry::FieldText(t.folder).c_str());
  }
}

int ListCommand(const quarry::CommonOptions& options, const std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError("list: unexpected argument '" + args[1] + "'");
  const std::string home = HomeOf(options);
  std::error_code ec;
  if (std::filesystem::exists(home, ec) && !std::filesystem::is_directory(home, ec)) {
    std::fprintf(stderr, "quarry-cli: the home %s is not a folder\n", home.c_str());
    return 1;
  }
  // A copy of Quarry at work in the home runs the tasks stored as running.
  const bool held = quarry::HomeLock::IsHeld(home);
  bool unreadable = false;
  auto load = [&](const std::string& path, quarry::TaskList* list) {
    std::string damage;
    // False with a reason: the file is there but could not be read at all.
    if (!quarry::LoadTaskFile(path, list, &damage) && !damage.empty()) unreadable = true;
    if (!damage.empty()) std::fprintf(stderr, "quarry-cli: %s\n", damage.c_str());
  };
  quarry::TaskList unfinished;
  quarry::TaskList finished;
  load(quarry::UnfinishedTaskPath(home), &unfinished);
  load(quarry::FinishedTaskPath(home), &finished);
  PrintTasks("Unfinished tasks", unfinished, held);
  PrintTasks("Finished tasks", finished, held);
  return unreadable ? 1 : 0;
}

int RecordsCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) return UsageError("records: give exactly one task folder");
  std::string folder = args[1];
  if (folder.empty()) return UsageError("records: the folder is empty");
  if (folder.back() != '/') folder += '/';
  for (int page = 1;; ++page) {
    quarry::RecordPage result;
    if (!quarry::RecordStore::ReadRecordPage(folder, page, result)) {
      std::fprintf(stderr, "quarry-cli: cannot read the records of %s\n", folder.c_str());
      return 1;
    }
    if (result.page != page) break;
    for (const quarry::Record& row : result.records) {
      std::printf("%s\t%s\t%s\n", row.fileName.c_str(), row.url.c_str(), row.title.c_str());
    }
    if (page >= result.pageCount) break;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  quarry::CommonOptions options;
  std::string error;
  if (!quarry::TakeCommonOptions(args, &options, &error)) return UsageError(error);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (args[0] == "--version") {
    std::printf("quarry-cli %s\n", QUARRY_VERSION);
    return 0;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args[0] == "run") return RunCommand(options, args);
  if (args[0] == "add") return AddCommand(options, args);
  if (args[0] == "resume") return ResumeCommand(options, args);
  if (args[0] == "list") return ListCommand(options, args);
  if (args[0] == "records") return RecordsCommand(args);
  if (args[0] == "failures") return quarry::cli::FailuresCommand(args);
  if (args[0] == "export") return quarry::cli::ExportCommand(args);
  if (args[0] == "retry") return RetryCommand(options, args);
  return UsageError("unknown command '" + args[0] + "'");
}
