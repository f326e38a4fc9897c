// See finished_queue.h.
#include "engine/finished_queue.h"

namespace quarry {

void FinishedTaskQueue::PostTaskFinished(SearchTask* task) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_tasks.push_back(task);
  m_ready.notify_all();
}

SearchTask* FinishedTaskQueue::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(m_lock);
  if (!m_ready.wait_for(guard, timeout, [this] { return !m_tasks.empty(); })) return nullptr;
  SearchTask* task = m_tasks.front();
  m_tasks.pop_front();
  return task;
}

}  // namespace quarry
