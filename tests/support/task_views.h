// The engine's views and tree played by recorders, for tests that run tasks without a window:
// the information and result views keep what they were told, the finished queue hands task
// ends to the test thread, and the tree keeps its items in memory. All of them may be called
// from the runner's threads.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/finished_queue.h"
#include "engine/task_tree.h"
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

// The tree of the main window, kept in memory: its items in insertion order, and what the
// engine deleted and expanded.
class MemoryTree : public TaskTree {
public:
  struct Item {
    TreeItemId id;
    TaskRoot root;
    std::string text;
    int image;
    Task* task;
  };
  TreeItemId InsertTaskItem(TaskRoot root, const std::string& text, int image, Task* task) override;
  void DeleteItem(TreeItemId item) override;
  void ExpandRoot(TaskRoot root) override;
  // The tasks under `root`, and their texts, in insertion order.
  std::vector<Task*> Children(TaskRoot root) const;
  std::vector<std::string> TextsUnder(TaskRoot root) const;
  const Item* Find(TreeItemId item) const;
  // Called after an item is deleted, as the tree's selection change would be.
  std::function<void(TreeItemId)> onDelete;

  std::vector<Item> items;          // the items present
  std::vector<TreeItemId> deleted;  // every DeleteItem, unknown ids too
  std::vector<TaskRoot> expanded;   // every ExpandRoot

private:
  TreeItemId m_lastId = 0;
};

// Polls `condition` every 5 ms until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace quarry::testing
