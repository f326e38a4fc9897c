// CTaskEventQueue: see task_event_queue.h.
#include "ui/bars/task_event_queue.h"

using quarry::TaskEvent;

void CTaskEventQueue::Push(TaskEvent event) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    // A newer count of the same task replaces one not yet shown: only the latest matters.
    if (event.kind == TaskEvent::Kind::Progress && !m_pending.empty() &&
        m_pending.back().kind == TaskEvent::Kind::Progress && m_pending.back().task == event.task) {
      m_pending.back() = std::move(event);
      return;
    }
    m_pending.push_back(std::move(event));
    wake = !m_wakePosted;
    m_wakePosted = true;
  }
  if (wake) QMetaObject::invokeMethod(this, &CTaskEventQueue::Drain, Qt::QueuedConnection);
}

void CTaskEventQueue::Drain() {
  std::vector<TaskEvent> batch;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    batch.swap(m_pending);
    m_wakePosted = false;
  }
  if (!batch.empty() && m_consumer) m_consumer(batch);
}

void CTaskEventQueue::OnTaskAdded(const quarry::Task* task, const quarry::SearchTask& record,
                                  quarry::TaskRoot root) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::Added;
  event.task = task;
  event.record = record;
  event.root = root;
  Push(std::move(event));
}

void CTaskEventQueue::OnTaskMoved(const quarry::Task* task, quarry::TaskRoot root) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::Moved;
  event.task = task;
  event.root = root;
  Push(std::move(event));
}

void CTaskEventQueue::OnTaskRemoved(const quarry::Task* task) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::Removed;
  event.task = task;
  Push(std::move(event));
}

void CTaskEventQueue::OnStateChanged(const quarry::Task* task, quarry::TaskState state) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::State;
  event.task = task;
  event.state = state;
  Push(std::move(event));
}

void CTaskEventQueue::OnProgress(const quarry::Task* task, const quarry::SearchTask& record,
                                 const quarry::TaskProgress& progress) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::Progress;
  event.task = task;
  event.record = record;
  event.progress = progress;
  event.at = quarry::ProgressClock::now();
  Push(std::move(event));
}

void CTaskEventQueue::OnFileSaved(const quarry::Task* task, quarry::FileKind kind,
                                  const std::string& localPath, const std::string& url) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::FileSaved;
  event.task = task;
  event.fileKind = kind;
  event.path = localPath;
  event.url = url;
  Push(std::move(event));
}

void CTaskEventQueue::OnFailure(const quarry::Task* task, const std::string& url,
                                quarry::FailureReason reason) {
  TaskEvent event;
  event.kind = TaskEvent::Kind::Failure;
  event.task = task;
  event.url = url;
  event.reason = reason;
  Push(std::move(event));
}
