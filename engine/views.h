// What a running task shows, as the engine sees it: the information view (task figures and
// one log page per worker), the result view (the saved files) and the owner of task control,
// which learns that a task has ended. The Qt windows, the command-line front end and the tests
// implement these interfaces; the engine never touches a widget.
//
// Workers call the views while they hold their runner's view lock, and the user-interface
// thread takes that lock itself to attach or detach them. So an implementation must hand the
// work over without waiting for the user-interface thread (a queued call, a buffer drained by a
// timer); the lines of one thread must arrive in the order written.
#pragma once

#include <string>

#include "engine/search_task.h"

namespace quarry {

class InfoView {
public:
  virtual ~InfoView() = default;
  // One line on the log page of worker `thread` (1 to 6), newest first on the page.
  virtual void AppendLog(int thread, const std::string& text) = 0;
  // Shows the figures of a task; `task` is a copy taken under the runner's counter lock.
  virtual void ShowTask(const SearchTask& task) = 0;
  // Removes every thread log page.
  virtual void ResetThreadPages() = 0;
  // Adds the log pages of threads 1 to `count`.
  virtual void AddThreadPages(int count) = 0;
};

class ResultView {
public:
  virtual ~ResultView() = default;
  // A file of kind `kind` was saved at `localPath` from `url`, reached through a link titled
  // `title` (empty for pictures).
  virtual void OnRecordAdded(FileKind kind, const std::string& localPath, const std::string& url,
                             const std::string& title) = 0;
  // Shows the saved files of the task whose folder is `folder`.
  virtual void ShowTask(FileKind kind, const std::string& folder) = 0;
};

// Receives the end of a task from the runner's monitor thread, once per run, with the record
// the runner was bound to. Must return at once: it queues the call for the thread of task
// control, which then calls TaskControl::OnTaskFinished with the same record.
class TaskFinishedSink {
public:
  virtual ~TaskFinishedSink() = default;
  virtual void PostTaskFinished(SearchTask* task) = 0;
};

}  // namespace quarry
