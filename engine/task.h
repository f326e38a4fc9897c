// The run-time task the main frame owns: the file record plus what only means something while
// the program runs (its runner, its latest run). They live beside the record because a 64-bit
// pointer does not fit the record's 4-byte fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/search_task.h"
#include "engine/task_progress.h"
#include "records/file_facts.h"

namespace quarry {

class TaskRunner;

// What a run of a task came to beyond the counters of its record. Kept in memory only: the task
// files hold the record alone.
// How a run talks to the search service: as the classic result pages describe it, or as the
// service answers today (https, cookies, JSON image results, a link redirector).
enum class SearchMode : std::uint8_t { Classic, Live };

struct RunOutcome {
  std::int32_t saved = 0;     // files written whole into the task folder
  std::int32_t recorded = 0;  // of those, the ones whose row reached the task's database
  std::string fault;          // why the run stopped by itself (a full disk); empty if it did not
  SearchMode mode = SearchMode::Classic;  // how the run searched
  bool ran = false;                       // a run began in this program (mode says how)
  std::int32_t refusedPages = 0;          // live mode: result pages the service refused
  bool nothingArrived = false;            // the run ended by itself without any result page
  std::string proxyProblem;  // the first proxy failure of the run, naming the proxy, or empty
  std::int32_t failed = 0;      // addresses that did not become files (duplicates among them)
  std::int32_t duplicates = 0;  // files not kept because the task or the home held their content
  bool retry = false;           // the run tried the task's failures again
};

struct Task {
  // Both defined beside the runner (task_runner.cpp), whose type is only declared here.
  Task();
  ~Task();

  SearchTask record{};
  std::unique_ptr<TaskRunner> runner;  // while the task runs; freed once its threads returned
  RunOutcome lastRun;                  // of the latest run that ended in this program
  TaskProgress lastProgress;           // how far that run came
  FileRules rules;                     // what the task keeps, stored in its database
  // The run under way tries the task's failures again; a task taken from the unfinished list
  // goes back there, paused, when it ends.
  bool retrying = false;
  bool retryFromFinished = false;
};

// The key of a task's own options in its folder's database: tasks of several keywords and
// kinds may share a folder.
std::string TaskOptionsKey(const SearchTask& task);

// unfinishedTasks / finishedTasks: tasks in insertion order; a task is in at most one list.
using TaskList = std::vector<std::unique_ptr<Task>>;

}  // namespace quarry
