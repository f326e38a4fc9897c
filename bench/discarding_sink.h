// A link sink for the benchmarks that keeps nothing it is handed, so that what they measure is
// the extractors' own cost.
#pragma once

#include <string>

#include <benchmark/benchmark.h>

#include "harvest/link_sink.h"

namespace quarry::bench {

class DiscardingSink : public LinkSink {
public:
  void Log(int, const std::string& text) override { benchmark::DoNotOptimize(text.data()); }
  bool IsStopped() const override { return false; }
  bool Add(int, QueueEnd, const LinkToQueue& link) override {
    benchmark::DoNotOptimize(link.url.data());
    return true;
  }
};

}  // namespace quarry::bench
