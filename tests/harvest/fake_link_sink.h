// A LinkSink that records what the extractors hand over: every Add call with its arguments,
// a queue that models front and back insertion the way the task's URL queue does (so a test
// can read the order in which the workers would be served), and the log lines per thread. It
// can play a task that stops, at once or after being asked a number of times.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/link_sink.h"

namespace quarry::testing {

struct AddedLink {
  QueueEnd end = QueueEnd::Back;
  std::string url;
  std::string title;
  std::string source;
  bool isSearchPage = true;
  bool checkSeen = true;
};

class FakeLinkSink : public LinkSink {
public:
  void Log(int thread, const std::string& text) override { logs.push_back({thread, text}); }
  bool IsStopped() const override {
    ++stopQuestions;
    return stopped || (stopAtQuestion > 0 && stopQuestions >= stopAtQuestion);
  }

  bool Add(int, QueueEnd end, const LinkToQueue& toQueue) override {
    AddedLink link{end,
                   std::string(toQueue.url),
                   std::string(toQueue.title),
                   std::string(toQueue.source),
                   toQueue.isSearchPage,
                   toQueue.checkSeen};
    if (refuseUrl == link.url) return false;
    added.push_back(link);
    if (end == QueueEnd::Front) {
      queue.push_front(link.url);
    } else {
      queue.push_back(link.url);
    }
    return true;
  }

  std::vector<std::string> Urls() const {
    std::vector<std::string> urls;
    for (const AddedLink& link : added) urls.push_back(link.url);
    return urls;
  }

  struct LogLine {
    int thread;
    std::string text;
  };
  std::vector<AddedLink> added;   // accepted links, in the order they were found
  std::deque<std::string> queue;  // the order in which a worker would take them
  std::vector<LogLine> logs;
  std::string refuseUrl;   // an address this queue refuses, as a full queue would
  bool stopped = false;    // what IsStopped answers, unless stopAtQuestion says otherwise
  int stopAtQuestion = 0;  // when above 0: IsStopped answers true from this question on
  mutable int stopQuestions = 0;
};

// Checks what every extracted link carries besides its address and title: queued at the
// front with `source`, not as a result page and without the seen-address check.
inline void ExpectExtractedLinkArguments(const AddedLink& link, const std::string& source) {
  EXPECT_EQ(link.end, QueueEnd::Front) << link.url;
  EXPECT_EQ(link.source, source) << link.url;
  EXPECT_FALSE(link.isSearchPage) << link.url;
  EXPECT_FALSE(link.checkSeen) << link.url;
}

}  // namespace quarry::testing
