// The rates and the time left of a task: see task_progress.h.
#include "engine/task_progress.h"

#include <algorithm>
#include <cmath>

namespace quarry {

ProgressRates EstimateRates(const std::deque<ProgressSample>& samples) {
  ProgressRates rates;
  if (samples.size() < 2) return rates;
  const ProgressSample& newest = samples.back();
  const ProgressSample* oldest = &samples.front();
  for (const ProgressSample& sample : samples) {
    if (newest.at - sample.at <= kRateWindow) {
      oldest = &sample;
      break;
    }
  }
  if (oldest == &newest) oldest = &samples[samples.size() - 2];  // one sample in the window
  const double seconds = std::chrono::duration<double>(newest.at - oldest->at).count();
  if (seconds <= 0) return rates;
  const TaskProgress& now = newest.progress;
  const TaskProgress& then = oldest->progress;
  rates.filesPerSecond = (now.saved - then.saved) / seconds;
  rates.bytesPerSecond = static_cast<double>(now.bytesReceived - then.bytesReceived) / seconds;

  const double handledPerSecond = (now.Handled() - then.Handled()) / seconds;
  if (now.resultPagesDone == 0 || handledPerSecond <= 0) return rates;
  // The pages still to come are expected to yield as many links as those read did.
  const std::int32_t pages = std::max(now.resultPagesTotal, now.resultPagesDone);
  const double expected =
      static_cast<double>(now.linksFound) * pages / static_cast<double>(now.resultPagesDone);
  const double left = std::max(0.0, expected - now.Handled());
  rates.secondsLeft = static_cast<std::int64_t>(std::ceil(left / handledPerSecond));
  return rates;
}

void ProgressMeter::Add(const TaskProgress& progress, ProgressClock::time_point at) {
  m_samples.push_back({at, progress});
  // One sample older than the window stays: it may be the only one before a long pause.
  while (m_samples.size() > 2 && at - m_samples[1].at > kRateWindow) m_samples.pop_front();
}

}  // namespace quarry
