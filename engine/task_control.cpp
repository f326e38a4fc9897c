// Task control. Each command takes the frame lock for its whole length; a task's runner is
// created and started here and destroyed only in OnTaskFinished (or at shut-down), after all of
// its threads have returned. A task is changed by its runner's workers only in its two
// counters, under the runner's counter lock; task control writes the state byte under the same
// lock, so a worker's copy of the record for the information view is never torn.
#include "engine/task_control.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/classic_road.h"
#include "records/file_facts.h"

namespace quarry {

namespace {

bool IsRunnable(const Task& task) {
  return task.record.state == TaskState::Waiting || task.record.state == TaskState::Paused;
}

}  // namespace

TaskControl::TaskControl(TaskEvents& events, TaskFinishedSink& finished,
                         TaskControlOptions options)
    : m_events(events), m_finished(finished), m_options(std::move(options)) {}

TaskControl::~TaskControl() { Shutdown(); }

void TaskControl::SetViews(InfoView* info, ResultView* result) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  m_info = info;
  m_result = result;
}

void TaskControl::LoadTaskFiles() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  std::vector<std::string> damage;
  LoadTaskLists(m_options.home, &m_unfinishedTasks, &m_finishedTasks, &damage);
  for (std::string& text : damage) Report(std::move(text));
  // A paused task shows under "运行": its run was cut off, not yet over.
  for (const auto& task : m_unfinishedTasks) {
    const bool paused = task->record.state == TaskState::Paused;
    m_events.OnTaskAdded(task.get(), task->record, paused ? TaskRoot::Running : TaskRoot::Waiting);
  }
  for (const auto& task : m_finishedTasks)
    m_events.OnTaskAdded(task.get(), task->record, TaskRoot::Finished);
  // Each task's own filters, from its folder's database (none yet: the defaults).
  for (TaskList* list : {&m_unfinishedTasks, &m_finishedTasks}) {
    for (auto& task : *list) {
      std::map<std::string, std::string> options;
      TaskFacts::ReadOptions(FieldText(task->record.folder), TaskOptionsKey(task->record),
                             &options);
      task->rules = FileRules::FromOptions(options);
    }
  }
}

bool TaskControl::AddTask(std::unique_ptr<Task> task, bool startIfIdle) {
  if (!task) return false;
  std::lock_guard<std::mutex> lock(m_frameLock);
  Task* added = task.get();
  // Filters of its own are kept with the task's records, so that they outlive the program; a
  // folder that is not there yet gets them when the task starts.
  if (added->rules != FileRules{}) {
    const std::string folder = FieldText(added->record.folder);
    if (::access(folder.c_str(), W_OK) == 0)
      TaskFacts::WriteOptions(folder, TaskOptionsKey(added->record), added->rules.ToOptions());
  }
  m_unfinishedTasks.push_back(std::move(task));
  // On disk before seeding starts: a crash from here on still finds the task.
  SaveUnfinishedFile();
  const bool start = m_runningCount == 0 && startIfIdle && PrepareRunner(added);
  // Told before the runner starts, so that nothing the run tells comes before the task.
  m_events.OnTaskAdded(added, added->record, start ? TaskRoot::Running : TaskRoot::Waiting);
  if (start) LaunchRunner(added);
  return true;
}

bool TaskControl::RunSelected(Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (m_runningCount >= 1) return false;
  if (!selected || !Contains(m_unfinishedTasks, selected) || selected->runner) return false;
  if (selected->record.state == TaskState::Running) return false;
  return StartTask(selected);
}

bool TaskControl::RetrySelected(Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (m_runningCount >= 1 || !selected || selected->runner) return false;
  if (selected->record.state == TaskState::Running) return false;
  std::unique_ptr<Task> finished = Remove(m_finishedTasks, selected);
  if (!finished && !Contains(m_unfinishedTasks, selected)) return false;
  selected->retryFromFinished = finished != nullptr;
  if (finished) m_unfinishedTasks.push_back(std::move(finished));
  selected->retrying = true;
  if (StartTask(selected)) {
    if (selected->retryFromFinished) SaveFinishedFile();
    return true;
  }
  selected->retrying = false;
  if (selected->retryFromFinished) m_finishedTasks.push_back(Remove(m_unfinishedTasks, selected));
  return false;
}

void TaskControl::StopSelected(Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!selected || !Contains(m_unfinishedTasks, selected)) return;
  if (selected->record.state != TaskState::Running) return;
  m_runAll = false;  // the user stopped a task: the run of all waiting tasks ends here
  if (selected->runner) selected->runner->Stop();
  SetState(selected, TaskState::Ended);
  SaveUnfinishedFile();
}

void TaskControl::StopAll() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  m_runAll = false;
  for (auto& task : m_unfinishedTasks) {
    if (task->record.state != TaskState::Running) continue;
    SetState(task.get(), TaskState::Ended);
    if (task->runner) task->runner->Stop();
  }
  SaveUnfinishedFile();
}

bool TaskControl::DeleteSelected(Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!selected || !Known(selected)) return true;
  if (selected->record.state == TaskState::Running || selected->runner) return false;
  // The list the task is really in decides, not the caption of its item's root: a task loaded
  // as paused sits under "运行" but belongs to the unfinished list.
  std::unique_ptr<Task> freed = Remove(m_unfinishedTasks, selected);
  if (freed) SaveUnfinishedFile();
  if (!freed) {
    freed = Remove(m_finishedTasks, selected);
    if (freed) SaveFinishedFile();
  }
  if (!freed) return true;  // not one of ours: nothing is freed or deleted
  if (m_current == selected) m_current = nullptr;
  std::erase(m_passedOver, selected);
  m_events.OnTaskRemoved(selected);
  return true;
}

bool TaskControl::RerunSelected(Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!CanRerunLocked(selected)) return false;
  std::unique_ptr<Task> owned = Remove(m_finishedTasks, selected);
  selected->record.state = TaskState::Waiting;
  selected->record.pagesFetched = 0;
  m_unfinishedTasks.push_back(std::move(owned));
  Move(selected, TaskRoot::Waiting);
  m_events.OnStateChanged(selected, TaskState::Waiting);
  // Unfinished first: a crash between the two saves leaves the task in both files, never in
  // neither.
  SaveUnfinishedFile();
  SaveFinishedFile();
  return true;
}

void TaskControl::DeleteAll() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  std::vector<std::unique_ptr<Task>> freed;
  for (std::size_t i = m_unfinishedTasks.size(); i-- > 0;) {
    Task* task = m_unfinishedTasks[i].get();
    if (task->record.state == TaskState::Running || task->runner) continue;
    freed.push_back(std::move(m_unfinishedTasks[i]));
    m_unfinishedTasks.erase(m_unfinishedTasks.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (std::size_t i = m_finishedTasks.size(); i-- > 0;) {
    freed.push_back(std::move(m_finishedTasks[i]));
  }
  m_finishedTasks.clear();
  SaveUnfinishedFile();
  SaveFinishedFile();
  for (auto& task : freed) {
    if (m_current == task.get()) m_current = nullptr;
    std::erase(m_passedOver, task.get());
  }
  for (auto& task : freed) m_events.OnTaskRemoved(task.get());
}

void TaskControl::RunAll() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (m_unfinishedTasks.empty()) return;
  m_runAll = true;
  m_passedOver.clear();
  if (m_runningCount >= 1) return;  // the next one starts when the running task ends
  StartNextWaiting();
}

void TaskControl::StartNextWaiting() {
  while (Task* next = NextWaitingTask()) {
    if (StartTask(next)) return;
    m_passedOver.push_back(next);  // it stays waiting; the run goes on with the others
  }
  m_runAll = false;
  m_passedOver.clear();
}

void TaskControl::OnTaskFinished(SearchTask* record) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  Task* task = nullptr;
  for (auto& candidate : m_unfinishedTasks) {
    if (&candidate->record == record) task = candidate.get();
  }
  if (!task || !task->runner) return;  // a second report of one end, or no task of ours
  TaskRunner* runner = task->runner.get();
  runner->Stop();
  task->lastRun = runner->Outcome();
  task->lastProgress = runner->Progress();
  if (task->retrying && !task->retryFromFinished) {
    // A retry of an unfinished task: its own pages are still to come.
    task->retrying = false;
    if (m_current == task) runner->AttachViews(nullptr, nullptr);
    task->runner.reset();
    SetState(task, TaskState::Paused);
    --m_runningCount;
    Move(task, TaskRoot::Waiting);
    SaveUnfinishedFile();
    if (m_current == task && m_info) m_info->ShowTask(task->record);
    return;
  }
  task->retrying = false;
  std::unique_ptr<Task> owned = Remove(m_unfinishedTasks, task);
  SetState(task, TaskState::Ended);
  if (!task->lastRun.fault.empty()) {
    // The same fault would stop the next task too: a full disk or a proxy that cannot be reached
    // ends run-all as a stop does. A run that got no result page is told, but the next task may
    // search elsewhere; a proxy's failure may be why, and is named.
    const RunOutcome& run = task->lastRun;
    if (!run.nothingArrived) m_runAll = false;
    std::string told = "任务“" + FieldText(task->record.keyword) + "”已停止：" + run.fault;
    if (run.nothingArrived && !run.proxyProblem.empty()) told += "；" + run.proxyProblem;
    Report(told + "。");
  }
  if (m_current == task) runner->AttachViews(nullptr, nullptr);
  task->runner.reset();  // joins its threads; the monitor posted after the last worker went idle
  --m_runningCount;
  m_finishedTasks.push_back(std::move(owned));
  Move(task, TaskRoot::Finished);
  // Finished first: a crash between the two saves leaves the task in both files, never in
  // neither.
  SaveFinishedFile();
  SaveUnfinishedFile();
  if (m_current == task && m_info) m_info->ShowTask(task->record);

  if (m_runAll && m_runningCount == 0) StartNextWaiting();
}

void TaskControl::SelectTask(Task* task) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!task || task == m_current) return;
  if (!Known(task)) return;
  if (m_current && m_current->runner) m_current->runner->AttachViews(nullptr, nullptr);
  m_current = nullptr;
  if (m_info) m_info->ResetThreadPages();
  auto showRecords = [&] {
    if (m_result) m_result->ShowTask(task->record.kind, FieldText(task->record.folder));
  };
  if (task->record.state == TaskState::Running && task->runner) {
    if (m_info) m_info->AddThreadPages(RunnableThreadCount(task->record));
    task->runner->AttachViews(m_info, m_result, showRecords);
    m_current = task;
  } else {
    showRecords();
  }
  if (m_info) m_info->ShowTask(SnapshotLocked(task));
}

bool TaskControl::Shutdown(std::string* error) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (m_shutDown) return true;
  m_shutDown = true;
  m_runAll = false;
  for (auto& task : m_unfinishedTasks) {
    TaskRunner* runner = task->runner.get();
    if (!runner) continue;
    // Nothing of the front end may be reached once it goes: detach the views and the end
    // report before the threads are told to stop.
    runner->AttachViews(nullptr, nullptr);
    runner->DetachFinishedSink();
    runner->SetEvents(nullptr, nullptr);
    runner->Stop();
    const bool joined = runner->WaitForThreads(m_options.shutdownWaitMs);
    task->lastRun = runner->Outcome();  // what the cut-off run did, for the owner to tell
    task->lastProgress = runner->Progress();
    if (joined) {
      task->runner.reset();
    } else {
      // A thread is stuck in a network wait; leave the runner to it rather than free memory
      // it still uses. The process is ending anyway.
      TaskRunner::Abandon(std::move(task->runner));
    }
    --m_runningCount;
  }
  m_current = nullptr;
  // An empty list is no failure: its file is removed and the reason stays empty.
  std::string unfinishedError;
  std::string finishedError;
  SaveUnfinished(m_options.home, m_unfinishedTasks, &unfinishedError, m_options.taskFileIo);
  SaveFinished(m_options.home, m_finishedTasks, &finishedError, m_options.taskFileIo);
  if (error) *error = unfinishedError.empty() ? finishedError : unfinishedError;
  return unfinishedError.empty() && finishedError.empty();
}

void TaskControl::SaveRunningFigures() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (m_shutDown || m_runningCount == 0) return;
  const auto due = m_unfinishedSavedAt + std::chrono::milliseconds(m_options.figureSaveMs);
  if (std::chrono::steady_clock::now() < due) return;
  const std::vector<SearchTask> records = UnfinishedRecords();
  const bool unchanged = m_unfinishedSaved && records.size() == m_savedUnfinished.size() &&
                         std::memcmp(records.data(), m_savedUnfinished.data(),
                                     records.size() * sizeof(SearchTask)) == 0;
  if (!unchanged) SaveUnfinishedFile();
}

bool TaskControl::CanRunSelected(const Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return selected && Contains(m_unfinishedTasks, selected) && IsRunnable(*selected);
}

bool TaskControl::CanStopSelected(const Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return selected && Known(selected) && selected->record.state == TaskState::Running;
}

bool TaskControl::CanDeleteSelected(const Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return selected != nullptr && Known(selected);
}

bool TaskControl::CanRetrySelected(const Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!selected || !Known(selected) || selected->runner || m_runningCount >= 1) return false;
  if (selected->record.state == TaskState::Running) return false;
  return RetryableFailures(FieldText(selected->record.folder)) > 0;
}

int RetryableFailures(const std::string& folder) {
  std::vector<FailureRow> failures;
  if (!TaskFacts::ReadFailures(folder, &failures)) return 0;
  return static_cast<int>(std::count_if(failures.begin(), failures.end(),
                                        [](const FailureRow& row) { return IsRetryable(row.reason); }));
}

bool TaskControl::CanRerunSelected(const Task* selected) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return CanRerunLocked(selected);
}

bool TaskControl::CanRerunLocked(const Task* selected) const {
  return selected && Contains(m_finishedTasks, selected) && !selected->runner;
}

bool TaskControl::Known(const Task* task) const {
  return Contains(m_unfinishedTasks, task) || Contains(m_finishedTasks, task);
}

bool TaskControl::CanStopAll() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return !m_unfinishedTasks.empty();
}

SearchTask TaskControl::Snapshot(const Task* task) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return SnapshotLocked(task);
}

SearchTask TaskControl::SnapshotLocked(const Task* task) {
  if (task->runner) return task->runner->TaskCopy();
  return task->record;
}

TaskProgress TaskControl::Progress(const Task* task) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!task || !Known(task)) return TaskProgress{};
  if (task->runner) return task->runner->Progress();
  return task->lastProgress;
}

RunOutcome TaskControl::Outcome(const Task* task) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  if (!task || !Known(task)) return RunOutcome{};
  if (task->runner) return task->runner->Outcome();
  return task->lastRun;
}

std::vector<std::string> TaskControl::TakeProblems() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  std::vector<std::string> taken;
  taken.swap(m_problems);
  return taken;
}

void TaskControl::Report(std::string problem) { m_problems.push_back(std::move(problem)); }

int TaskControl::RunningCount() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return m_runningCount;
}

Task* TaskControl::CurrentTask() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return m_current;
}

void TaskControl::SetSearchMode(SearchMode mode) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  m_options.mode = mode;
}

SearchMode TaskControl::Mode() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return m_options.mode;
}

void TaskControl::SetProxies(const ProxyChoice& proxies) {
  std::lock_guard<std::mutex> lock(m_frameLock);
  m_options.proxies = proxies;
}

bool TaskControl::RunAllActive() {
  std::lock_guard<std::mutex> lock(m_frameLock);
  return m_runAll;
}

bool TaskControl::PrepareRunner(Task* task) {
  auto runner = std::make_unique<TaskRunner>();
  runner->SetTiming(m_options.timing);
  runner->SetHttpTimeouts(m_options.http);
  runner->SetProxies(m_options.proxies);
  runner->SetFileIo(m_options.fileIo);
  runner->SetFileRules(task->rules);
  runner->SetRetry(task->retrying);
  if (m_options.homeIndex && !m_options.home.empty()) runner->SetHomeIndex(m_options.home + "sys/");
  if (m_options.mode == SearchMode::Live) {
    runner->SetRoad(std::make_unique<LiveRoad>(
        LiveSetup{m_options.hosts.webHost, m_options.hosts.imageHost, m_options.livePacing}));
  } else {
    runner->SetRoad(std::make_unique<ClassicRoad>());
  }
  const bool images = task->record.kind == FileKind::Image;
  const std::string& base =
      images ? m_options.hosts.imageSearchBase : m_options.hosts.webSearchBase;
  if (m_options.followStartedTask) {
    // Followed from before Init, so that the reason of a failed start is a line on its page.
    if (m_current && m_current->runner) m_current->runner->AttachViews(nullptr, nullptr);
    m_current = nullptr;
    if (m_info) {
      m_info->ResetThreadPages();
      m_info->AddThreadPages(RunnableThreadCount(task->record));
    }
    runner->AttachViews(m_info, m_result);
  }
  if (!runner->Init(&task->record, base.c_str(), m_options.hosts.imageLinkPattern.c_str())) {
    runner->AttachViews(nullptr, nullptr);
    Report("任务“" + FieldText(task->record.keyword) + "”不能开始：" + runner->Fault() + "。");
    return false;
  }
  runner->SetFinishedSink(&m_finished);
  runner->SetEvents(&m_events, task);
  if (m_options.followStartedTask) m_current = task;
  task->runner = std::move(runner);
  return true;
}

void TaskControl::LaunchRunner(Task* task) {
  SetState(task, TaskState::Running);
  task->runner->Start();
  ++m_runningCount;
  // Saved while the threads already work: the file says Running from their start on.
  SaveUnfinishedFile();
}

bool TaskControl::StartTask(Task* task) {
  if (!PrepareRunner(task)) return false;
  Move(task, TaskRoot::Running);
  LaunchRunner(task);
  return true;
}

void TaskControl::SetState(Task* task, TaskState state) {
  if (task->runner) {
    task->runner->SetTaskState(state);
  } else {
    task->record.state = state;
  }
  m_events.OnStateChanged(task, state);
}

void TaskControl::Move(Task* task, TaskRoot root) { m_events.OnTaskMoved(task, root); }

Task* TaskControl::NextWaitingTask() {
  for (auto& task : m_unfinishedTasks) {
    if (task->runner || !IsRunnable(*task)) continue;
    if (std::find(m_passedOver.begin(), m_passedOver.end(), task.get()) != m_passedOver.end())
      continue;
    return task.get();
  }
  return nullptr;
}

std::unique_ptr<Task> TaskControl::Remove(TaskList& list, const Task* task) {
  auto found = std::find_if(list.begin(), list.end(),
                            [task](const std::unique_ptr<Task>& t) { return t.get() == task; });
  if (found == list.end()) return nullptr;
  std::unique_ptr<Task> owned = std::move(*found);
  list.erase(found);
  return owned;
}

bool TaskControl::Contains(const TaskList& list, const Task* task) {
  return std::any_of(list.begin(), list.end(),
                     [task](const std::unique_ptr<Task>& t) { return t.get() == task; });
}

void TaskControl::SaveFinishedFile() {
  SaveFinished(m_options.home, m_finishedTasks, nullptr, m_options.taskFileIo);
}

void TaskControl::SaveUnfinishedFile() {
  std::vector<SearchTask> records = UnfinishedRecords();
  std::string error;
  SaveTaskRecords(UnfinishedTaskPath(m_options.home), records, &error, m_options.taskFileIo);
  m_unfinishedSaved = error.empty();  // after a failure the next look at the figures tries again
  m_savedUnfinished = std::move(records);
  m_unfinishedSavedAt = std::chrono::steady_clock::now();
}

std::vector<SearchTask> TaskControl::UnfinishedRecords() {
  std::vector<SearchTask> records;
  records.reserve(m_unfinishedTasks.size());
  for (const auto& task : m_unfinishedTasks) {
    records.push_back(task->runner ? task->runner->TaskCopy() : task->record);
  }
  return records;
}

}  // namespace quarry
