// A LinkSink that records what the extractors hand over: every Add call with its arguments,
// a queue that models front and back insertion the way the task's URL queue does (so a test
// can read the order in which the workers would be served), and the log lines per thread. It
// can play a task that stops, at once or after being asked a number of times.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/link_sink.h"

namespace quarry::testing {

struct AddedLink {
  bool front = false;
  std::string url;
  std::string title;
  bool hasTitle = false;
  std::string source;
  bool hasExtra = false;
  std::int32_t reserved1 = -1;
  std::int32_t reserved2 = -1;
  std::uint8_t reservedByte = 0xFF;
  std::int32_t isSearchPage = -1;
  bool check = true;
};

class FakeLinkSink : public LinkSink {
public:
  void Log(int thread, const std::string& text) override { logs.push_back({thread, text}); }
  bool IsStopped() const override {
    ++stopQuestions;
    return stopped || (stopAtQuestion > 0 && stopQuestions >= stopAtQuestion);
  }

  bool Add(bool front, const char* url, const char* title, const char* source, const char* extra,
           std::int32_t reserved1, std::int32_t reserved2, std::uint8_t reservedByte,
           std::int32_t isSearchPage, bool check) override {
    AddedLink link;
    link.front = front;
    link.url = url;
    link.hasTitle = title != nullptr;
    if (title) link.title = title;
    link.source = source;
    link.hasExtra = extra != nullptr && extra[0] != '\0';
    link.reserved1 = reserved1;
    link.reserved2 = reserved2;
    link.reservedByte = reservedByte;
    link.isSearchPage = isSearchPage;
    link.check = check;
    if (refuseUrl == link.url) return false;
    added.push_back(link);
    if (front) {
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
// front with `source`, no extra text, zero reserved values and no seen-address check.
inline void ExpectExtractedLinkArguments(const AddedLink& link, const std::string& source) {
  EXPECT_TRUE(link.front) << link.url;
  EXPECT_EQ(link.source, source) << link.url;
  EXPECT_FALSE(link.hasExtra) << link.url;
  EXPECT_EQ(link.reserved1, 0) << link.url;
  EXPECT_EQ(link.reserved2, 0) << link.url;
  EXPECT_EQ(link.reservedByte, 0) << link.url;
  EXPECT_EQ(link.isSearchPage, 0) << link.url;
  EXPECT_FALSE(link.check) << link.url;
}

}  // namespace quarry::testing
