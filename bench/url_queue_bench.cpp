// Adds and takes per second through the URL queue when it spills and reloads: 100,000 entries
// go in at the tail (spilling 4800 at a time to the task folder) and all come back out
// (reloading each spill file in turn). Items processed counts both the adds and the takes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/url_queue.h"

namespace {

constexpr int kEntries = 100000;

void BM_UrlQueueSpillAndReload(benchmark::State& state) {
  char pattern[] = "/tmp/quarry-queue-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string folder = std::string(pattern) + "/";
  const int front = static_cast<int>(state.range(0));
  quarry::UrlQueue queue;
  quarry::TakenUrl taken{};
  char url[64];
  for (auto _ : state) {
    queue.Reset(folder);
    for (int i = 0; i < kEntries; ++i) {
      std::snprintf(url, sizeof(url), "http://host.example/file/%d.doc", i);
      queue.Add(1, front != 0 ? quarry::QueueEnd::Front : quarry::QueueEnd::Back,
                {.url = url, .title = "a title", .source = "http://"});
    }
    int served = 0;
    while (queue.Take(1, &taken)) ++served;
    if (served != kEntries) state.SkipWithError("entries lost");
    benchmark::DoNotOptimize(taken.url[0]);
  }
  state.SetItemsProcessed(state.iterations() * 2 * kEntries);
  std::filesystem::remove_all(folder);
}

}  // namespace

// 0: adds at the tail (result pages); 1: adds at the head (harvested links).
BENCHMARK(BM_UrlQueueSpillAndReload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
