// Task-control settings for tests that run real tasks: both search hosts at one address, short
// time limits (a stop or a silent server ends a task within a second), and no pause between
// the result pages queued at a task's start.
#pragma once

#include <chrono>
#include <string>

#include "engine/task_control.h"
#include "harvest/search_pages.h"

namespace quarry::testing {

// False in `hostsMade` when `host` is no usable host.
inline TaskControlOptions QuickOptions(const std::string& home, const std::string& host,
                                       bool* hostsMade = nullptr) {
  TaskControlOptions options;
  options.home = home;
  const bool made = MakeSearchHosts(host, host, &options.hosts, nullptr);
  if (hostsMade != nullptr) *hostsMade = made;
  options.timing = RunnerTiming{5, 10, 5, 5};
  options.http = HttpTimeouts{300, 300, 300, 300};
  options.shutdownWaitMs = 3000;
  return options;
}

}  // namespace quarry::testing
