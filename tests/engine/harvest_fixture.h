// Test helpers for running whole tasks: the local search service started as a child process,
// a plain HTTP client to read its answers independently of Quarry's own, a temporary home,
// recording views, a task-finished queue, a tree that keeps its items in memory, and a TCP
// listener that accepts connections but never answers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/task_tree.h"
#include "engine/views.h"
#include "tests/support/temp_folder.h"

namespace quarry::testing {

// The Python search service of tests/servers on a free port of 127.0.0.1.
class SearchServiceProcess {
public:
  SearchServiceProcess() = default;
  ~SearchServiceProcess();
  SearchServiceProcess(const SearchServiceProcess&) = delete;
  SearchServiceProcess& operator=(const SearchServiceProcess&) = delete;
  // Starts it with `options` (e.g. "--results", "30"); false when it did not report a port.
  bool Start(const std::vector<std::string>& options);
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  static std::string ScriptPath();

private:
  pid_t m_pid = -1;
  int m_port = 0;
};

// GETs `target` (path and query) from 127.0.0.1:`port` over HTTP/1.0; returns the status (or
// -1) and fills `body`.
int HttpGet(int port, const std::string& target, std::string* body);
// The path and query of an http://127.0.0.1:PORT/... address.
std::string TargetOf(const std::string& url);
std::string ReadFile(const std::string& path);

class RecordingInfoView : public InfoView {
public:
  void AppendLog(int thread, const std::string& text) override;
  void ShowTask(const SearchTask& task) override;
  void ResetThreadPages() override;
  void AddThreadPages(int count) override;

  std::vector<std::pair<int, std::string>> Lines();
  std::vector<std::string> LinesOf(int thread);
  bool HasLine(const std::string& text);
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
class FinishedQueue : public TaskFinishedSink {
public:
  void PostTaskFinished(SearchTask* task) override;
  // The next reported task, or null after `timeout`.
  SearchTask* Wait(std::chrono::milliseconds timeout);
  // Called inside PostTaskFinished (from the monitor thread).
  std::function<void(SearchTask*)> onPost;

private:
  std::mutex m_lock;
  std::condition_variable m_ready;
  std::deque<SearchTask*> m_tasks;
};

// The tree of the main window, kept as a map of items.
class MemoryTree : public TaskTree {
public:
  struct Item {
    TaskRoot root;
    std::string text;
    Task* task;
  };
  TreeItemId InsertTaskItem(TaskRoot root, const std::string& text, int image, Task* task) override;
  void DeleteItem(TreeItemId item) override;
  void ExpandRoot(TaskRoot root) override;
  // The tasks under `root`, in insertion order.
  std::vector<Task*> Children(TaskRoot root) const;
  const Item* Find(TreeItemId item) const;
  // Called after an item is deleted, as the tree's selection change would be.
  std::function<void(TreeItemId)> onDelete;

private:
  std::map<TreeItemId, Item> m_items;
  TreeItemId m_next = 1;
};

// A listener on 127.0.0.1 that never accepts: requests sent to it are never answered.
class SilentListener {
public:
  SilentListener();
  ~SilentListener();
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
  int m_fd = -1;
  int m_port = 0;
};

// Polls `condition` every 5 ms until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace quarry::testing
