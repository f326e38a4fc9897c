// CTaskEventQueue: the window's listener of task control and the runners. Every event, from
// whatever thread, is copied into a buffer under a short lock of its own; the first of a batch
// posts one queued call to the GUI thread, which then hands the whole batch, in the order told,
// to the window. Nothing here ever waits for the GUI thread, and nothing is applied while task
// control holds its lock: even an event told on the GUI thread waits for the next Drain, which
// the window also calls itself once a command has returned.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/task_events.h"

namespace quarry {

struct TaskEvent {
  enum class Kind { Added, Moved, Removed, State, Progress, FileSaved, Failure };
  Kind kind = Kind::Added;
  const Task* task = nullptr;  // an identity only, never followed
  TaskRoot root = TaskRoot::Waiting;
  TaskState state = TaskState::Waiting;
  SearchTask record{};  // Added and Progress
  TaskProgress progress;
  ProgressClock::time_point at{};  // Progress: when it was told
  FileKind fileKind = FileKind::Image;
  std::string path;  // FileSaved
  std::string url;   // FileSaved and Failure
  FailureReason reason = FailureReason::Unreachable;
};

}  // namespace quarry

class CTaskEventQueue : public QObject, public quarry::TaskEvents {
  Q_OBJECT

public:
  using Consumer = std::function<void(std::vector<quarry::TaskEvent>&)>;

  explicit CTaskEventQueue(QObject* parent = nullptr) : QObject(parent) {}
  // Where the batches go, on the GUI thread.
  void SetConsumer(Consumer consumer) { m_consumer = std::move(consumer); }
  // Hands what is buffered to the consumer now (GUI thread).
  void Drain();

  void OnTaskAdded(const quarry::Task* task, const quarry::SearchTask& record,
                   quarry::TaskRoot root) override;
  void OnTaskMoved(const quarry::Task* task, quarry::TaskRoot root) override;
  void OnTaskRemoved(const quarry::Task* task) override;
  void OnStateChanged(const quarry::Task* task, quarry::TaskState state) override;
  void OnProgress(const quarry::Task* task, const quarry::SearchTask& record,
                  const quarry::TaskProgress& progress) override;
  void OnFileSaved(const quarry::Task* task, quarry::FileKind kind, const std::string& localPath,
                   const std::string& url) override;
  void OnFailure(const quarry::Task* task, const std::string& url,
                 quarry::FailureReason reason) override;

private:
  void Push(quarry::TaskEvent event);

  std::mutex m_lock;  // m_pending and m_wakePosted; held only to copy in or swap out
  std::vector<quarry::TaskEvent> m_pending;
  bool m_wakePosted = false;
  Consumer m_consumer;  // GUI thread
};
