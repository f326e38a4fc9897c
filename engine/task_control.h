// Task control: the task commands of the main window (add, run, stop and delete one task, stop,
// delete and run all) and the handling of a task's end. It owns both task lists, tells every
// change of them through TaskEvents (task_events.h), creates and destroys each task's
// TaskRunner, and decides which running task the information and result views follow. At most
// one task runs at a time.
//
// Every operation runs on the thread that owns task control (the user-interface thread) under
// the frame lock. The listener hears of a change while that lock is held and must not call
// back: the window queues what it hears and applies it afterwards, so a selection that moves
// because a task went reaches SelectTask as a call of its own. Worker threads never call in
// here: a runner's monitor reports the end of its task through TaskFinishedSink, and the owner
// calls OnTaskFinished on its own thread.
//
// Commands take the task the owner has selected (null when nothing or a root is selected). A
// task the lists no longer hold (the owner's selection may lag behind a removal) is never
// followed: the commands refuse it.
//
// The task files follow every change, so that a crash loses nothing the user did: each
// command that changes a list or a task's state rewrites the files it touched, and
// SaveRunningFigures, called by the owner every few hundred milliseconds, keeps the counters
// of a running task current on disk. A running task is saved from a copy taken under its
// runner's counter lock.
//
// What the user must be told and that no command's result carries is kept as a problem text
// until the owner takes it (TakeProblems): a task that could not start (its folder or database
// unusable; it stays waiting), a task that stopped by itself (a full disk), a task file that
// was damaged at start-up. The owner takes them after LoadTaskFiles, after every command that
// may start a task (AddTask, RunSelected, RunAll) and after OnTaskFinished, and shows each:
// the window in a message box, the command line on its error stream.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/live_road.h"
#include "engine/task.h"
#include "engine/task_files.h"
#include "engine/task_runner.h"
#include "engine/task_events.h"
#include "engine/views.h"
#include "harvest/search_pages.h"
#include "http/http_session.h"

namespace quarry {

inline constexpr int kShutdownWaitMs = 5000;  // how long shutting down waits for a task's threads
inline constexpr int kFigureSaveMs = 2000;    // how often a running task's counters are saved

struct TaskControlOptions {
  std::string home;       // the home folder, ending with '/'
  SearchHosts hosts;      // the bases and the image link pattern of every task
  RunnerTiming timing{};  // the limits of the runners' waits (tests shorten them)
  HttpTimeouts http{};    // the time limits of the runners' exchanges
  int shutdownWaitMs = kShutdownWaitMs;
  // The views follow every task that starts, from its first line on, as if it had been
  // selected just before its threads began (the command line's single task).
  bool followStartedTask = false;
  int figureSaveMs = kFigureSaveMs;
  TaskFileIo* taskFileIo = nullptr;  // the system calls of the task-file saves; null: the real ones
  FileIo* fileIo = nullptr;          // the system calls of the runners' folder checks and downloads
  SearchMode mode = SearchMode::Classic;  // how the tasks started from now on search
  LivePacing livePacing{};                // the live mode's pacing (tests shorten it)
  ProxyChoice proxies{};  // the proxies of the tasks started from now on; none filled in: direct
  bool homeIndex = true;  // the runners keep the home's content index (sys/contents.sqlite)
};

// The retryable failures in the database of `folder`; 0 when it cannot be read.
int RetryableFailures(const std::string& folder);

class TaskControl {
public:
  // `events` and `finished` must outlive task control.
  TaskControl(TaskEvents& events, TaskFinishedSink& finished, TaskControlOptions options);
  // Shuts down (see Shutdown) when that was not done yet.
  ~TaskControl();
  TaskControl(const TaskControl&) = delete;
  TaskControl& operator=(const TaskControl&) = delete;

  // The frame's two views; either may be null (the command line has no result view).
  void SetViews(InfoView* info, ResultView* result);

  // Start-up: reads both task files of the home into the lists, and tells each task as added.
  // A damaged file (kept aside as .broken) is a problem.
  void LoadTaskFiles();

  // Lists a new task; starts it at once when none runs and `startIfIdle` is set, else it waits
  // under "等待". False for a null task. A task that cannot start waits as well, and why is a
  // problem.
  bool AddTask(std::unique_ptr<Task> task, bool startIfIdle = true);
  // Runs the selected waiting (or paused) task when no task runs; otherwise does nothing.
  // True when it started; a task that cannot start keeps its state, and why is a problem.
  bool RunSelected(Task* selected);
  // Runs the selected task again over its retryable failures only (network errors, time
  // limits, cut bodies, 5xx answers), when no task runs; a finished task ends finished again,
  // an unfinished one goes back to waiting, paused. False when it did not start.
  bool RetrySelected(Task* selected);
  // Stops the selected running task: its state becomes Ended at once, its end comes later.
  void StopSelected(Task* selected);
  // Stops every running task.
  void StopAll();
  // Deletes the selected task. False, changing nothing, when it runs or still stops: the caller
  // then shows "正在运行的任务不能删除！".
  bool DeleteSelected(Task* selected);
  // Puts the selected finished task back under "等待", its page count starting again from 0: a
  // run then fetches the result pages anew, and its records leave out the files it saved
  // before. False, changing nothing, for a task that is not finished or still stops.
  bool RerunSelected(Task* selected);
  // Deletes every task except a running (or still stopping) one, and rewrites finished.tsk.
  void DeleteAll();
  // Runs the waiting tasks one after another: starts the first now when none runs, and the
  // next each time a task ends by itself, until none is left, the user stops a task or a task
  // stops for a full disk. A task that cannot start is passed over (a problem says why).
  void RunAll();
  // The end of the task with `record`, reported by its runner's monitor: the task moves to the
  // finished list and finished.tsk is rewritten. An unknown task or one without a runner is
  // ignored, so a repeated report does no harm.
  void OnTaskFinished(SearchTask* record);
  // The owner's selection moved to `task` (null for a root): the views follow it.
  void SelectTask(Task* task);
  // Rewrites unfinished.tsk when a task runs, figureSaveMs have passed since the file was last
  // written and the records changed since then (a running task's counters). The owner calls it
  // from its own thread every few hundred milliseconds: the window's timer, the wait loop of
  // the command line.
  void SaveRunningFigures();
  // Stops the running task, waits up to shutdownWaitMs for its threads, and writes both task
  // files; the running task is stored with state Running (the next start takes it as paused)
  // and keeps what its run did as its Outcome. False, with the reason in `error`,
  // when a task file could not be written (the previous file is then left as it was). Later
  // calls do nothing and return true.
  bool Shutdown(std::string* error = nullptr);

  // The enabling rules of the command table.
  bool CanRunSelected(const Task* selected);
  bool CanStopSelected(const Task* selected);
  bool CanDeleteSelected(const Task* selected);
  // The task is not running, none runs, and its database holds retryable failures (read here).
  bool CanRetrySelected(const Task* selected);
  bool CanRerunSelected(const Task* selected);
  bool CanStopAll();  // also delete all and run all
  bool CanDeleteAll() { return CanStopAll(); }
  bool CanRunAll() { return CanStopAll(); }

  // A copy of the task's record, read under its runner's counter lock while it runs.
  SearchTask Snapshot(const Task* task);
  // How far the task's current run has come; the latest told of a task that does not run.
  TaskProgress Progress(const Task* task);
  // The files saved and recorded by the task's current run, or by its latest one.
  RunOutcome Outcome(const Task* task);
  // How tasks started from now on search; a running task keeps the mode it started with.
  void SetSearchMode(SearchMode mode);
  SearchMode Mode();
  // The proxies of the tasks started from now on; a running task keeps those it started with.
  void SetProxies(const ProxyChoice& proxies);
  // The problems gathered since the last call, oldest first, each a text for the user.
  std::vector<std::string> TakeProblems();

  // Figures for the front ends and tests; call on the owning thread.
  int RunningCount();
  Task* CurrentTask();
  const TaskList& UnfinishedTasks() const { return m_unfinishedTasks; }
  const TaskList& FinishedTasks() const { return m_finishedTasks; }
  bool RunAllActive();

private:
  // Creates and checks a runner for `task` and binds it to the task; it is not started yet.
  // False, with a problem, when its folder or database cannot be used: the task then has no
  // runner and keeps its state.
  bool PrepareRunner(Task* task);
  // Starts the prepared runner: the task's state, the running count and unfinished.tsk.
  void LaunchRunner(Task* task);
  // PrepareRunner, the task under "运行", then LaunchRunner.
  bool StartTask(Task* task);
  // True when the lists hold `task`.
  bool Known(const Task* task) const;
  SearchTask SnapshotLocked(const Task* task);
  bool CanRerunLocked(const Task* selected) const;
  // Starts the first waiting task that run-all has not passed over; ends run-all when none
  // could start.
  void StartNextWaiting();
  void Report(std::string problem);
  void SetState(Task* task, TaskState state);
  void Move(Task* task, TaskRoot root);
  Task* NextWaitingTask();
  // Removes `task` from `list`; returns it (null when absent).
  static std::unique_ptr<Task> Remove(TaskList& list, const Task* task);
  static bool Contains(const TaskList& list, const Task* task);
  // Both rewrite their file from the list as it is now; failures are not reported (shutting
  // down reports its own).
  void SaveFinishedFile();
  void SaveUnfinishedFile();
  // The unfinished records, running ones copied under their runner's counter lock.
  std::vector<SearchTask> UnfinishedRecords();

  std::mutex m_frameLock;
  TaskEvents& m_events;
  TaskFinishedSink& m_finished;
  TaskControlOptions m_options;
  InfoView* m_info = nullptr;
  ResultView* m_result = nullptr;
  TaskList m_unfinishedTasks;
  TaskList m_finishedTasks;
  int m_runningCount = 0;
  Task* m_current = nullptr;
  bool m_runAll = false;
  std::vector<const Task*> m_passedOver;  // tasks the current run-all could not start
  std::vector<std::string> m_problems;    // not yet taken by the owner
  bool m_shutDown = false;
  std::vector<SearchTask> m_savedUnfinished;  // what unfinished.tsk holds since the last save
  bool m_unfinishedSaved = false;             // and that save succeeded
  std::chrono::steady_clock::time_point m_unfinishedSavedAt{};
};

}  // namespace quarry
