// How far a running task has come, as its runner counts it, and the rates and the time left
// that follow from a few timed looks at those counts.
//
// The runner keeps the counts under its counter lock and hands out a copy (TaskRunner::Progress).
// Rates are taken over the last kRateWindow of samples, so that a burst of small files at the
// start does not promise a speed the task never keeps. The time left is a guess: the links the
// task's result pages have yielded so far, scaled to all of its result pages, less the links
// already handled, at the rate links are being handled now. It is unknown (negative) until a
// result page has arrived and something has been handled within the window.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace quarry {

struct TaskProgress {
  std::int32_t resultPagesDone = 0;     // the task's own result pages that arrived
  std::int32_t resultPagesTotal = 0;    // the result pages the task asks for (0 for a retry)
  std::int32_t resultPageReading = 0;   // the latest own result page begun (1-based), 0 before
  std::int32_t saved = 0;               // files written whole and committed
  std::int32_t failed = 0;              // addresses that did not become files (duplicates among them)
  std::int32_t duplicates = 0;          // files not kept because their content was held already
  std::int64_t bytesReceived = 0;       // bytes of files received, kept or not
  std::int32_t linksFound = 0;          // file links found on pages and queued, not yet recorded

  bool operator==(const TaskProgress&) const = default;
  // Links taken to the end one way or the other.
  std::int32_t Handled() const { return saved + failed; }
};

using ProgressClock = std::chrono::steady_clock;

struct ProgressSample {
  ProgressClock::time_point at;
  TaskProgress progress;
};

struct ProgressRates {
  double filesPerSecond = 0;
  double bytesPerSecond = 0;
  std::int64_t secondsLeft = -1;  // negative: unknown
};

inline constexpr std::chrono::seconds kRateWindow{5};

// The rates between the newest sample and the oldest one at most kRateWindow before it, and the
// time left at the newest one. `samples` are oldest first; fewer than two, or two at the same
// moment, give zero rates and an unknown time.
ProgressRates EstimateRates(const std::deque<ProgressSample>& samples);

// The links a run is expected to handle in all: those found so far, scaled from the result
// pages read to all of the task's. 0 before a result page arrived.
double ExpectedLinks(const TaskProgress& progress);
// How much of the run is done, 0 to 100, by the links handled of those expected.
int ProgressPercent(const TaskProgress& progress);
// The run's progress in one line for the user. Until the first file is handled: the result
// page being read and the links found so far; then the pages, the files saved, failed and
// repeated, the rates and the time left.
std::string ProgressSummary(const TaskProgress& progress, const ProgressRates& rates);

// Keeps the samples of one task for EstimateRates, dropping those too old to matter.
class ProgressMeter {
public:
  // Adds a look at `progress` taken at `at` (never earlier than the previous one).
  void Add(const TaskProgress& progress, ProgressClock::time_point at);
  ProgressRates Rates() const { return EstimateRates(m_samples); }
  void Clear() { m_samples.clear(); }
  bool Empty() const { return m_samples.empty(); }
  const TaskProgress& Latest() const { return m_samples.back().progress; }

private:
  std::deque<ProgressSample> m_samples;
};

}  // namespace quarry
