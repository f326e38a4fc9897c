// What the transfer tests share: short time limits, a transfer context that records its log
// lines and file errors, test data, and response heads for the scripted server.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "http/transfer.h"
#include "tests/support/failing_file_io.h"

namespace quarry::testing {

// Short limits so that every time-out case ends in a fraction of a second.
inline constexpr HttpTimeouts kFastTimeouts{500, 300, 300, 300};  // connect, send, head, body

// Records every log line; raises its stop flag when `stopWhen` says so.
class RecordingContext : public TransferContext {
public:
  void Log(int thread, const std::string& text) override {
    EXPECT_EQ(thread, 3);
    lines.push_back(text);
    if (onLine) onLine(text);
    if (stopWhen && stopWhen(text)) stopped = true;
  }
  bool IsStopped() const override { return stopped; }
  FileIo& Disk() override { return disk; }
  void OnFileError(int thread, int error) override {
    EXPECT_EQ(thread, 3);
    fileErrors.push_back(error);
  }

  FailingFileIo disk;
  std::vector<int> fileErrors;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> onLine;
  std::function<bool(const std::string&)> stopWhen;
  std::atomic<bool> stopped{false};
};

inline std::string Bytes(std::size_t count) {
  std::string data(count, '\0');
  for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return data;
}

inline std::string Head(const std::string& status, const std::string& fields) {
  return "HTTP/1.1 " + status + "\r\n" + fields + "\r\n";
}

}  // namespace quarry::testing
