// Link extraction speed: whole result pages per second, for an image result page (the image
// pattern compiled and searched to the end, as a worker does for every page) and for a
// document result page (the anchor scan). The sink keeps nothing, so the figures are the
// extractors' own cost.
#include <string>

#include <benchmark/benchmark.h>

#include "bench/discarding_sink.h"
#include "bench/result_pages.h"
#include "harvest/link_extraction.h"
#include "harvest/search_pages.h"

namespace quarry {
namespace {

// The figures both benchmarks give: pages per second, links per page and the page size.
void Report(benchmark::State& state, int links, const std::string& page) {
  state.counters["pages/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["links/page"] = links;
  state.counters["page KB"] = static_cast<double>(page.size()) / 1024.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_ImageResultPage(benchmark::State& state) {
  const std::string page = bench::ImageResultPage();
  const std::string pattern = BuildImageLinkPattern(bench::kImageHost);
  int links = 0;
  for (auto _ : state) {
    bench::DiscardingSink sink;
    links = ExtractImageLinks(sink, 1, pattern, page);
    benchmark::DoNotOptimize(links);
  }
  Report(state, links, page);
}
BENCHMARK(BM_ImageResultPage)->Unit(benchmark::kMillisecond);

void BM_DocumentResultPage(benchmark::State& state) {
  const std::string page = bench::DocumentResultPage();
  int links = 0;
  for (auto _ : state) {
    bench::DiscardingSink sink;
    links = ExtractDocumentLinks(sink, 1, FileKind::Word, page);
    benchmark::DoNotOptimize(links);
  }
  Report(state, links, page);
}
BENCHMARK(BM_DocumentResultPage)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quarry
