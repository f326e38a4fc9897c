// The views through which quarry-cli follows task control without a window: a task tree that
// only hands out ids, an information view that keeps the figures and the latest log line for
// the progress line (and prints every line when verbose), the queue that carries the monitor
// threads' end reports to the main thread, and the task-file writes that the crash tests pause.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "engine/search_task.h"
#include "engine/task_control.h"
#include "engine/task_files.h"

namespace quarry::cli {

inline constexpr int kProgressWidth = 100;  // bytes of the live line, cut on a character boundary

// `text` cut to at most `width` bytes without splitting a UTF-8 character.
inline std::string CutText(const std::string& text, std::size_t width) {
  return text.substr(0, CutOnCharacter(text, width));
}

// The task tree of a terminal: nothing to show, only ids to hand out.
class CliTree : public quarry::TaskTree {
public:
  quarry::TreeItemId InsertTaskItem(quarry::TaskRoot, const std::string&, int,
                                    quarry::Task*) override {
    return m_next++;
  }
  void DeleteItem(quarry::TreeItemId) override {}
  void ExpandRoot(quarry::TaskRoot) override {}

private:
  quarry::TreeItemId m_next = 1;
};

// Keeps the figures and the latest line for the progress line; prints every line when verbose.
class CliInfoView : public quarry::InfoView {
public:
  explicit CliInfoView(bool verbose) : m_verbose(verbose) {}
  void AppendLog(int thread, const std::string& text) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_activity = text;
    if (m_verbose) std::fprintf(stderr, "[%d] %s\n", thread, text.c_str());
  }
  void ShowTask(const quarry::SearchTask& task) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pages = task.pagesFetched;
    m_files = task.filesFetched;
  }
  void ResetThreadPages() override {}
  void AddThreadPages(int) override {}
  std::string ProgressLine() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::string line = "pages " + std::to_string(m_pages) + "  files " + std::to_string(m_files) +
                       "  " + m_activity;
    return CutText(line, kProgressWidth);
  }

private:
  std::mutex m_lock;
  const bool m_verbose;
  std::string m_activity;
  int m_pages = 0;
  int m_files = 0;
};

// The end reports of the monitor threads, queued for the main thread.
class CliFinishedQueue : public quarry::TaskFinishedSink {
public:
  void PostTaskFinished(quarry::SearchTask* task) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_tasks.push_back(task);
    m_ready.notify_all();
  }
  quarry::SearchTask* Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_ready.wait_for(guard, timeout, [this] { return !m_tasks.empty(); })) return nullptr;
    quarry::SearchTask* task = m_tasks.front();
    m_tasks.pop_front();
    return task;
  }

private:
  std::mutex m_lock;
  std::condition_variable m_ready;
  std::deque<quarry::SearchTask*> m_tasks;
};

// Pauses every task-file save after the new file is written and before it replaces the old
// one, for QUARRY_SAVE_PAUSE_MS milliseconds: the crash tests kill quarry-cli inside a save.
class PausingTaskFileIo : public quarry::TaskFileIo {
public:
  explicit PausingTaskFileIo(int milliseconds) : m_pause(milliseconds) {}
  int Rename(const char* from, const char* to) override {
    std::this_thread::sleep_for(m_pause);
    return quarry::TaskFileIo::Rename(from, to);
  }

private:
  std::chrono::milliseconds m_pause;
};

}  // namespace quarry::cli
