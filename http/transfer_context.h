// What the page and file downloads need of the task that runs them: a place for their log
// lines and the task's stop flag. The task runner implements it; tests implement it with a
// recording stub, so the downloads are exercised without any threads.
#pragma once

#include <string>

namespace quarry {

class TransferContext {
public:
  virtual ~TransferContext() = default;

  // Writes one line on the log page of worker `thread` (1 to 6). Must not block for long:
  // it is called twice for every received chunk.
  virtual void Log(int thread, const std::string& text) = 0;

  // True once the task has been asked to stop; read before every receive.
  virtual bool IsStopped() const = 0;
};

}  // namespace quarry
