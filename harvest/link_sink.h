// The link extractors' view of the task runner that called them: where found links go, where
// the per-thread log lines go and whether the task is stopping. The harvest library sits below
// the engine, so it cannot see the runner or its queue; the runner implements this interface
// and forwards the calls (Add straight to its URL queue, Log to the attached information view,
// IsStopped to its stop flag). Implementations must be safe to call from several worker threads
// at once.
#pragma once

#include <cstdint>
#include <string>

namespace quarry {

class LinkSink {
public:
  virtual ~LinkSink() = default;

  // Writes one line on the log page of worker `thread` (1..6).
  virtual void Log(int thread, const std::string& text) = 0;

  // True once the task has been asked to stop: extraction then ends early, keeping the links
  // already queued. Read often during a page, so it must be cheap.
  virtual bool IsStopped() const = 0;

  // Queues one address, with the arguments of the URL queue's Add: front or back, the address,
  // the link text (may be null), the origin marker, the extra text (may be null), the reserved
  // values, the search-page flag and the seen-address check. False when the queue refused it.
  virtual bool Add(bool front, const char* url, const char* title, const char* source,
                   const char* extra, std::int32_t reserved1, std::int32_t reserved2,
                   std::uint8_t reservedByte, std::int32_t isSearchPage, bool check) = 0;
};

}  // namespace quarry
