// What the engine tells about its tasks, for whoever shows them: the window's task tree and
// status bar, the command line's progress line, the tests' recorders. The engine says what
// happened and keeps no trace of how it is shown: it holds no tree items and calls no widget.
//
// Task control tells the changes of its lists (a task added, moved between the three roots,
// removed) and of a task's state, on its own thread and while it holds its lock; the runner of
// a task tells its progress, each saved file and each failure from its threads. So a listener
// must return at once, must not wait for another thread and must never call back into task
// control from inside a call: a window queues each call for its own thread. A task is named by
// its address only, as an identity; a listener must not follow the pointer, since the task may
// be freed right after it is removed.
#pragma once

#include <cstdint>
#include <string>

#include "engine/search_task.h"
#include "engine/task_progress.h"
#include "records/file_facts.h"

namespace quarry {

struct Task;

// The three roots of the task tree, in the order they are shown.
enum class TaskRoot { Waiting, Running, Finished };

// The root's caption: "等待", "运行" or "完成".
inline const char* TaskRootText(TaskRoot root) {
  switch (root) {
    case TaskRoot::Waiting: return "等待";
    case TaskRoot::Running: return "运行";
    case TaskRoot::Finished: return "完成";
  }
  return "";
}

class TaskEvents {
public:
  virtual ~TaskEvents() = default;
  // A task joined the lists under `root`; `record` is a copy of its record then.
  virtual void OnTaskAdded(const Task* task, const SearchTask& record, TaskRoot root) = 0;
  // The task now belongs under `root`, last.
  virtual void OnTaskMoved(const Task* task, TaskRoot root) = 0;
  // The task left the lists and is freed.
  virtual void OnTaskRemoved(const Task* task) = 0;
  virtual void OnStateChanged(const Task* task, TaskState state) = 0;
  // The running task's counters: its record (copied under the runner's counter lock) and its
  // progress. Told a few times a second while anything changes, and once at its end.
  virtual void OnProgress(const Task* task, const SearchTask& record,
                          const TaskProgress& progress) = 0;
  // A file was kept, its row committed.
  virtual void OnFileSaved(const Task* task, FileKind kind, const std::string& localPath,
                           const std::string& url) = 0;
  // An address did not become a file, for `reason`.
  virtual void OnFailure(const Task* task, const std::string& url, FailureReason reason) = 0;
};

// Hears nothing: the runner's and task control's listener until one is attached.
class NoTaskEvents : public TaskEvents {
public:
  void OnTaskAdded(const Task*, const SearchTask&, TaskRoot) override {}
  void OnTaskMoved(const Task*, TaskRoot) override {}
  void OnTaskRemoved(const Task*) override {}
  void OnStateChanged(const Task*, TaskState) override {}
  void OnProgress(const Task*, const SearchTask&, const TaskProgress&) override {}
  void OnFileSaved(const Task*, FileKind, const std::string&, const std::string&) override {}
  void OnFailure(const Task*, const std::string&, FailureReason) override {}
};

}  // namespace quarry
