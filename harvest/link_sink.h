// The link extractors' view of the task runner that called them: where found links go, where
// the per-thread log lines go and whether the task is stopping. The harvest library sits below
// the engine, so it cannot see the runner or its queue; the runner implements this interface
// and forwards the calls (Add straight to its URL queue, Log to the attached information view,
// IsStopped to its stop flag). Implementations must be safe to call from several worker threads
// at once.
#pragma once

#include <string>
#include <string_view>

namespace quarry {

// The end of the queue a link is put at: the front is served next, the back last.
enum class QueueEnd { Front, Back };

// One address to queue and what the queue keeps beside it. The texts are read up to their
// first zero byte.
struct LinkToQueue {
  std::string_view url{};     // the address to fetch; refused over 1023 bytes, never cut
  std::string_view title{};   // the link's text; cut to 255 bytes on a character boundary
  std::string_view source{};  // "" a result page, "http://" a document link, "null" an image
                              // link; refused over 1023 bytes
  bool isSearchPage = false;  // a result page of the search
  bool checkSeen = false;     // dropped when its seen key is marked already (result pages)
};

class LinkSink {
public:
  virtual ~LinkSink() = default;

  // Writes one line on the log page of worker `thread` (1..6).
  virtual void Log(int thread, const std::string& text) = 0;

  // True once the task has been asked to stop: extraction then ends early, keeping the links
  // already queued. Read often during a page, so it must be cheap.
  virtual bool IsStopped() const = 0;

  // Queues `link` at `end` for worker `thread`, whose log page hears of any trouble of the
  // queue. False when the queue refused it (too long, or seen before).
  virtual bool Add(int thread, QueueEnd end, const LinkToQueue& link) = 0;
};

}  // namespace quarry
