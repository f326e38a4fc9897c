// The engine's views and listeners played by recorders, for tests that run tasks without a
// window: the information and result views keep what they were told, the finished queue hands
// task ends to the test thread, and the event recorder keeps the tree the events build and the
// events themselves. All of them may be called from the runner's threads.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/finished_queue.h"
#include "engine/task_events.h"
#include "engine/views.h"

namespace quarry::testing {

class RecordingInfoView : public InfoView {
public:
  void AppendLog(int thread, const std::string& text) override;
  void ShowTask(const SearchTask& task) override;
  void ResetThreadPages() override;
  void AddThreadPages(int count) override;

  std::vector<std::pair<int, std::string>> Lines();
  std::vector<std::string> LinesOf(int thread);
  bool HasLine(const std::string& text);
  bool HasLineContaining(const std::string& part);
  int Resets();
  int Pages();
  int Shown();
  // Called with every line, under the view's own lock (tests use it to act at a given line).
  std::function<void(int, const std::string&)> onLine;

private:
  std::mutex m_lock;
  std::vector<std::pair<int, std::string>> m_lines;
  int m_resets = 0;
  int m_pages = 0;
  int m_shown = 0;
};

class RecordingResultView : public ResultView {
public:
  void OnRecordAdded(FileKind kind, const std::string& localPath, const std::string& url,
                     const std::string& title) override;
  void ShowTask(FileKind kind, const std::string& folder) override;
  std::vector<std::string> Added();
  std::vector<std::string> Shown();

private:
  std::mutex m_lock;
  std::vector<std::string> m_added;
  std::vector<std::string> m_shown;
};

// Collects task ends; `Wait` hands them to the test thread, which plays the window's part.
class FinishedQueue : public FinishedTaskQueue {
public:
  void PostTaskFinished(SearchTask* task) override {
    if (onPost) onPost(task);
    FinishedTaskQueue::PostTaskFinished(task);
  }
  // Called inside PostTaskFinished (from the monitor thread).
  std::function<void(SearchTask*)> onPost;
};

// Keeps every event in order, as a line ("added 等待 kw", "moved 运行 kw", "removed kw",
// "state kw 1", "progress kw", "saved kw", "failed kw"), and the tree they build: the tasks under
// each root in the order they came there.
class RecordingEvents : public TaskEvents {
public:
  void OnTaskAdded(const Task* task, const SearchTask& record, TaskRoot root) override;
  void OnTaskMoved(const Task* task, TaskRoot root) override;
  void OnTaskRemoved(const Task* task) override;
  void OnStateChanged(const Task* task, TaskState state) override;
  void OnProgress(const Task* task, const SearchTask& record,
                  const TaskProgress& progress) override;
  void OnFileSaved(const Task* task, FileKind kind, const std::string& localPath,
                   const std::string& url) override;
  void OnFailure(const Task* task, const std::string& url, FailureReason reason) override;

  std::vector<const Task*> Children(TaskRoot root);
  std::vector<std::string> TextsUnder(TaskRoot root);
  // The root of `task`; false when no root holds it.
  bool RootOf(const Task* task, TaskRoot* root);
  std::vector<std::string> Lines();
  // The progress told last, and the files saved as told.
  TaskProgress LastProgress();
  std::vector<std::string> SavedUrls();

private:
  struct Item {
    const Task* task;
    TaskRoot root;
    std::string text;
  };
  std::string TextOf(const Task* task) const;  // call with the lock held
  void Line(std::string line);                  // call with the lock held

  std::mutex m_lock;
  std::vector<Item> m_items;
  std::vector<std::string> m_lines;
  std::vector<std::pair<const Task*, std::string>> m_names;  // every task ever added
  TaskProgress m_progress;
  std::vector<std::string> m_saved;
};

// Polls `condition` every 5 ms until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace quarry::testing
