// What quarry-cli adds to task control to follow it without a window: an information view that
// keeps the figures and the latest log line for the progress line (and prints every line when
// verbose), and the task-file writes that the crash tests pause. The tree and the queue of end
// reports are the engine's plain ones.
#pragma once

#include <chrono>
#include <cstdio>
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
