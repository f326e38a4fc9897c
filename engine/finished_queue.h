// The end reports of the runners' monitor threads, queued for the one thread that plays the
// window's part without a window: quarry-cli's main thread, or a test's. That thread takes them
// with Wait and hands each to task control, as the window does on its own thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "engine/views.h"

namespace quarry {

class FinishedTaskQueue : public TaskFinishedSink {
public:
  void PostTaskFinished(SearchTask* task) override;
  // The next reported task, or null after `timeout`.
  SearchTask* Wait(std::chrono::milliseconds timeout);

private:
  std::mutex m_lock;
  std::condition_variable m_ready;
  std::deque<SearchTask*> m_tasks;
};

}  // namespace quarry
