// A road: how a task reaches its search service and what it does with each address a worker
// takes. The runner keeps what every task has (the queue, the threads, the counters, the views,
// the records, the seen set and the unreachable hosts) and hands each taken address to the one
// road it holds; the road asks the runner for the rest through RoadHost.
//
// A road holds its own state (a cookie jar, its pacing) under its own lock: the workers call
// Fetch from several threads at once. Seed runs once, before any worker.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/search_task.h"
#include "engine/task.h"
#include "engine/url_queue.h"
#include "harvest/link_sink.h"
#include "http/http_session.h"
#include "http/transfer.h"
#include "http/transfer_context.h"
#include "records/file_facts.h"
#include "records/record_store.h"

namespace quarry {

// What a road needs of the runner that drives it. LinkSink::Add queues a link unless this run
// queued its address before; Log writes on a worker's log page; IsStopped reads the stop flag.
class RoadHost : public LinkSink {
public:
  // Queues `link` without the seen test: a result page asked for again after a failure.
  virtual bool Requeue(int thread, QueueEnd end, const LinkToQueue& link) = 0;
  // The downloads' file writes, log and stop flag.
  virtual TransferContext& Transfers() = 0;
  virtual const HttpTimeouts& Timeouts() const = 0;
  // The task's result-page count, as it runs (1 to 500).
  virtual std::int32_t PageCount() = 0;
  // Counts a page that worker `thread` received as a result page, and one that the service
  // refused.
  virtual void CountPage(int thread) = 0;
  virtual void CountRefusal() = 0;
  // True when the task's database held `address` at the start or this run stored it.
  virtual bool IsRecorded(const std::string& address) = 0;
  // The unreachable hosts of the run: a host given up is not asked again.
  virtual bool IsGivenUp(const char* host) = 0;
  virtual void NoteReached(const char* host) = 0;
  virtual void NoteUnreachable(int thread, const char* host, const char* address) = 0;
  // Saves the file `taken` at `target`, which `head` describes, and records it once whole
  // (through `records`, the worker's own connection); its request carries `extras`. The same
  // step for every road.
  virtual void SaveFile(int thread, const TakenUrl& taken, const ExchangeTarget& target,
                        const HeadAnswer& head, RecordWriter& records,
                        const FileRequestExtras& extras) = 0;
  // Keeps `address`, which worker `thread` took for a file (or reached from the address it
  // took), in the task's failure list with why it did not become one; a line on the worker's
  // log page says so. Nothing for a result page, or once the task stops.
  virtual void NoteFailure(int thread, std::string_view address, FailureReason reason,
                           const std::string& detail) = 0;
};

// The failure of an answer with error status `status`.
FailureReason StatusFailure(int status);

// Where the task's result pages are, as the task was given them: the search base for its kind
// and the image link pattern. A road may take its service from elsewhere.
struct RoadStart {
  const char* base = "";
  const char* pattern = "";
};

class Road {
public:
  virtual ~Road() = default;

  virtual SearchMode Mode() const = 0;
  // Binds the road to `host` for `task`. Called once, before the threads start; `host`
  // outlives the road's use.
  virtual void Bind(RoadHost& host, const SearchTask& task, const RoadStart& start) = 0;
  // Binds the road and queues the first result pages of the task there.
  virtual void Seed(RoadHost& host, const SearchTask& task, const RoadStart& start) = 0;
  // True when `url`, found on a page, is one of this road's result pages: those are known by
  // their offset in the seen test, not by their whole address.
  virtual bool IsResultPage(std::string_view url) const = 0;
  // How many result pages of its own `task` asks this road for, at most.
  virtual std::int32_t ResultPagesPlanned(const SearchTask& task) const = 0;
  // Follows one taken address on worker `thread`: a page's links go to the queue, a file is
  // saved and recorded through `records`.
  virtual void Fetch(int thread, const TakenUrl& taken, RecordWriter& records) = 0;
};

}  // namespace quarry
