// The rates and the time left of a task, from timed samples of its progress.
#include "engine/task_progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarry {
namespace {

using namespace std::chrono_literals;

struct Look {
  std::chrono::milliseconds at;
  int pagesDone;
  int pagesTotal;
  int links;
  int saved;
  int failed;
  std::int64_t bytes;
};

TEST(TaskProgressTest, RatesAndTimeLeftFollowTheLastSeconds) {
  struct Case {
    const char* name;
    std::vector<Look> looks;
    double files;
    double bytes;
    std::int64_t secondsLeft;
  };
  const Case cases[] = {
      {"no look", {}, 0, 0, -1},
      {"one look", {{0ms, 1, 10, 20, 5, 0, 1000}}, 0, 0, -1},
      {"two looks at one moment", {{0ms, 1, 10, 20, 5, 0, 1000}, {0ms, 1, 10, 20, 6, 0, 2000}}, 0,
       0, -1},
      // 20 links a page over 10 pages: 200 expected, 10 handled, 2 a second.
      {"steady", {{0ms, 1, 10, 20, 0, 0, 0}, {5000ms, 1, 10, 20, 8, 2, 50000}}, 1.6, 10000, 95},
      // Only the last five seconds count: the burst at the start is forgotten.
      {"burst forgotten",
       {{0ms, 1, 2, 10, 0, 0, 0},
        {1000ms, 1, 2, 10, 8, 0, 80000},
        {4000ms, 2, 2, 20, 9, 0, 90000},
        {6000ms, 2, 2, 20, 10, 0, 100000}},
       0.4, 4000, 25},
      // Before a result page arrived nothing can be said of the time left.
      {"no page yet", {{0ms, 0, 5, 0, 0, 0, 0}, {1000ms, 0, 5, 0, 0, 0, 4096}}, 0, 4096, -1},
      {"nothing handled lately", {{0ms, 1, 5, 10, 3, 0, 0}, {2000ms, 1, 5, 10, 3, 0, 0}}, 0, 0, -1},
      // Duplicates and failures use up links as saved files do.
      {"failures count as handled", {{0ms, 2, 2, 10, 0, 0, 0}, {2000ms, 2, 2, 10, 2, 4, 0}}, 1, 0,
       2},
      // More handled than found (links found before the run, a retry): nothing left.
      {"all handled", {{0ms, 1, 1, 4, 3, 0, 0}, {1000ms, 1, 1, 4, 5, 0, 0}}, 2, 0, 0},
      // A window with a single look in it measures from the look before.
      {"long pause", {{0ms, 1, 1, 10, 0, 0, 0}, {60000ms, 1, 1, 10, 6, 0, 6000}}, 0.1, 100, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgressClock::time_point start{};
    ProgressMeter meter;
    for (const Look& look : c.looks) {
      TaskProgress progress;
      progress.resultPagesDone = look.pagesDone;
      progress.resultPagesTotal = look.pagesTotal;
      progress.linksFound = look.links;
      progress.saved = look.saved;
      progress.failed = look.failed;
      progress.bytesReceived = look.bytes;
      meter.Add(progress, start + look.at);
    }
    const ProgressRates rates = meter.Rates();
    EXPECT_DOUBLE_EQ(rates.filesPerSecond, c.files);
    EXPECT_DOUBLE_EQ(rates.bytesPerSecond, c.bytes);
    EXPECT_EQ(rates.secondsLeft, c.secondsLeft);
  }
}

// What the user reads: the page being read and the links found until the first file is
// handled, then the counts, the rates and the time left, with the share done for the bar.
TEST(TaskProgressTest, SummaryAndShareDone) {
  struct Case {
    TaskProgress progress;
    ProgressRates rates;
    const char* summary;
    int percent;
  };
  const auto progress = [](int reading, int done, int total, int links, int saved, int failed,
                           int duplicates) {
    TaskProgress made;
    made.resultPageReading = reading;
    made.resultPagesDone = done;
    made.resultPagesTotal = total;
    made.linksFound = links;
    made.saved = saved;
    made.failed = failed;
    made.duplicates = duplicates;
    return made;
  };
  const Case cases[] = {
      {progress(0, 0, 51, 0, 0, 0, 0), {}, "正在读取结果页 1/51，已找到 0 个链接", 0},
      {progress(4, 3, 51, 90, 0, 0, 0), {}, "正在读取结果页 4/51，已找到 90 个链接", 0},
      {progress(6, 5, 10, 50, 20, 5, 2), {2.5, 51200, 75},
       "结果页 5/10，已保存 20，失败 3，重复 2，2.5 个/秒，50 KB/秒，剩余约 01:15", 25},
      {progress(10, 10, 10, 40, 1, 0, 0), {0, 0, -1},
       "结果页 10/10，已保存 1，失败 0，重复 0，0.0 个/秒，0 KB/秒，剩余时间未知", 2},
      {progress(2, 1, 2, 10, 10, 0, 0), {1, 1024, 3725},
       "结果页 1/2，已保存 10，失败 0，重复 0，1.0 个/秒，1 KB/秒，剩余约 1:02:05", 50},
      // A retry has no result pages of its own.
      {progress(0, 0, 0, 0, 3, 1, 0), {}, "结果页 0/0，已保存 3，失败 1，重复 0，0.0 个/秒，0 KB/秒，剩余时间未知", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressSummary(c.progress, c.rates), c.summary);
    EXPECT_EQ(ProgressPercent(c.progress), c.percent) << c.summary;
  }
}

}  // namespace
}  // namespace quarry
