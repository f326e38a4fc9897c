// The rates and the time left of a task: see task_progress.h.
#include "engine/task_progress.h"

#include <algorithm>
#include <cmath>

#include "platform/format.h"

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
  const double left = std::max(0.0, ExpectedLinks(now) - now.Handled());
  rates.secondsLeft = static_cast<std::int64_t>(std::ceil(left / handledPerSecond));
  return rates;
}

double ExpectedLinks(const TaskProgress& progress) {
  if (progress.resultPagesDone <= 0) return 0;
  // The pages still to come are expected to yield as many links as those read did.
  const std::int32_t pages = std::max(progress.resultPagesTotal, progress.resultPagesDone);
  return static_cast<double>(progress.linksFound) * pages /
         static_cast<double>(progress.resultPagesDone);
}

int ProgressPercent(const TaskProgress& progress) {
  const double expected = ExpectedLinks(progress);
  if (expected <= 0) return 0;
  return static_cast<int>(std::min(100.0, 100.0 * progress.Handled() / expected));
}

std::string ProgressSummary(const TaskProgress& progress, const ProgressRates& rates) {
  const int total = progress.resultPagesTotal;
  if (progress.Handled() == 0 && total > 0) {
    return Format("正在读取结果页 %d/%d，已找到 %d 个链接", std::max(1, progress.resultPageReading),
                  total, progress.linksFound);
  }
  const long long seconds = rates.secondsLeft;
  std::string left = "剩余时间未知";
  if (seconds >= 3600) {
    left = Format("剩余约 %lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else if (seconds >= 0) {
    left = Format("剩余约 %02lld:%02lld", seconds / 60, seconds % 60);
  }
  return Format("结果页 %d/%d，已保存 %d，失败 %d，重复 %d，%.1f 个/秒，%.0f KB/秒，%s",
                progress.resultPagesDone, total, progress.saved,
                progress.failed - progress.duplicates, progress.duplicates, rates.filesPerSecond,
                rates.bytesPerSecond / 1024.0, left);
}

void ProgressMeter::Add(const TaskProgress& progress, ProgressClock::time_point at) {
  m_samples.push_back({at, progress});
  // One sample older than the window stays: it may be the only one before a long pause.
  while (m_samples.size() > 2 && at - m_samples[1].at > kRateWindow) m_samples.pop_front();
}

}  // namespace quarry
