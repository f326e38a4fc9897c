// The image link pattern over a whole image result page of a few hundred KB, every match in
// turn as the link extractor takes them, with four engines in the same run: Quarry's own,
// PCRE2's interpreter, PCRE2's JIT and std::regex. Each iteration compiles the pattern once and
// searches from the end of each match, the way a worker treats one page. Before measuring, the
// engines' match lists are compared; at the end the times are printed as ratios.
//
// The second group is the hostile page: "http://x" repeated without a blank, 64 KB and 1 MB.
// Every "http://" starts an attempt whose [^\s]* runs to the end of the page, so a plain
// backtracker takes time that grows with the square of the length. Quarry is measured through
// the whole link extractor (its step budget and stop checks included), PCRE2 with the same
// search loop as above; PCRE2's interpreter only on the 64 KB page, as it needs tens of
// minutes for 1 MB.
#define PCRE2_CODE_UNIT_WIDTH 8

#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <pcre2.h>

#include "bench/discarding_sink.h"
#include "bench/result_pages.h"
#include "harvest/link_extraction.h"
#include "harvest/regex/match_context.h"
#include "harvest/regex/regex_engine.h"
#include "harvest/search_pages.h"

namespace quarry {
namespace {

using Spans = std::vector<std::pair<int, int>>;

const std::string& Page() {
  static const std::string page = bench::ImageResultPage();
  return page;
}
const std::string& Pattern() {
  static const std::string pattern = BuildImageLinkPattern(bench::kImageHost);
  return pattern;
}

Spans QuarryMatches(const std::string& page) {
  RegexEngine engine;
  engine.Compile(Pattern().data(), static_cast<int>(Pattern().size()), 0);
  MatchContext context;
  Spans spans;
  const int length = static_cast<int>(page.size());
  MatchResult result = engine.Match(page.data(), length, 0, &context);
  while (result.IsMatched() && result.End(0) > result.Start(0)) {
    spans.emplace_back(result.Start(0), result.End(0));
    result = engine.Match(page.data(), length, result.End(0), &context);
  }
  return spans;
}

struct Pcre2CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct Pcre2DataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

Spans Pcre2Search(const std::string& page, bool jit) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  std::unique_ptr<pcre2_code, Pcre2CodeDeleter> code(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(Pattern().data()), Pattern().size(), 0, &error,
                    &offset, nullptr));
  if (!code) return {};
  if (jit && pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE) != 0) return {};
  std::unique_ptr<pcre2_match_data, Pcre2DataDeleter> data(
      pcre2_match_data_create_from_pattern(code.get(), nullptr));
  Spans spans;
  PCRE2_SIZE start = 0;
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(page.data());
  while (pcre2_match(code.get(), subject, page.size(), start, 0, data.get(), nullptr) > 0) {
    const PCRE2_SIZE* pairs = pcre2_get_ovector_pointer(data.get());
    if (pairs[1] == pairs[0]) break;
    spans.emplace_back(static_cast<int>(pairs[0]), static_cast<int>(pairs[1]));
    start = pairs[1];
  }
  return spans;
}

Spans Pcre2Matches(const std::string& page) { return Pcre2Search(page, false); }
Spans Pcre2JitMatches(const std::string& page) { return Pcre2Search(page, true); }

Spans StdRegexMatches(const std::string& page) {
  const std::regex pattern(Pattern());
  Spans spans;
  std::smatch match;
  auto from = page.begin();
  auto flags = std::regex_constants::match_default;
  while (std::regex_search(from, page.end(), match, pattern, flags)) {
    const int start = static_cast<int>(match[0].first - page.begin());
    const int end = static_cast<int>(match[0].second - page.begin());
    if (end == start) break;
    spans.emplace_back(start, end);
    from = match[0].second;
    flags = std::regex_constants::match_prev_avail;
  }
  return spans;
}

// Quarry through the link extractor; the spans are left empty, only the count is kept.
Spans QuarryExtraction(const std::string& page) {
  bench::DiscardingSink sink;
  const int links = ExtractImageLinks(sink, 1, Pattern(), page);
  return Spans(static_cast<std::size_t>(links));
}

// "http://x" repeated to `kilobytes` KB: no blank, no link.
const std::string& RunPage(int kilobytes) {
  static std::map<int, std::string> pages;
  std::string& page = pages[kilobytes];
  if (page.empty()) {
    for (int i = 0; i < kilobytes * 128; ++i) page += "http://x";
  }
  return page;
}

void Measure(benchmark::State& state, Spans (*matcher)(const std::string&),
             const std::string& page = Page()) {
  std::size_t count = 0;
  for (auto _ : state) {
    const Spans spans = matcher(page);
    count = spans.size();
    benchmark::DoNotOptimize(count);
  }
  state.counters["matches"] = static_cast<double>(count);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_ImagePage_Quarry(benchmark::State& state) { Measure(state, QuarryMatches); }
void BM_ImagePage_Pcre2Interpreter(benchmark::State& state) { Measure(state, Pcre2Matches); }
void BM_ImagePage_StdRegex(benchmark::State& state) { Measure(state, StdRegexMatches); }
BENCHMARK(BM_ImagePage_Quarry)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImagePage_Pcre2Interpreter)->Unit(benchmark::kMillisecond);
void BM_ImagePage_Pcre2Jit(benchmark::State& state) { Measure(state, Pcre2JitMatches); }
BENCHMARK(BM_ImagePage_StdRegex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImagePage_Pcre2Jit)->Unit(benchmark::kMillisecond);

void BM_RunPage_QuarryExtraction(benchmark::State& state) {
  Measure(state, QuarryExtraction, RunPage(static_cast<int>(state.range(0))));
}
void BM_RunPage_Pcre2Interpreter(benchmark::State& state) {
  Measure(state, Pcre2Matches, RunPage(static_cast<int>(state.range(0))));
}
void BM_RunPage_Pcre2Jit(benchmark::State& state) {
  Measure(state, Pcre2JitMatches, RunPage(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_RunPage_QuarryExtraction)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunPage_Pcre2Interpreter)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunPage_Pcre2Jit)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        m_times[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      }
    }
  }
  // Wall-clock and CPU time per iteration of `name`; zeros when it did not run.
  std::pair<double, double> Get(const std::string& name) const {
    const auto it = m_times.find(name);
    return it == m_times.end() ? std::pair<double, double>{0.0, 0.0} : it->second;
  }

private:
  std::map<std::string, std::pair<double, double>> m_times;
};

}  // namespace
}  // namespace quarry

int main(int argc, char** argv) {
  using namespace quarry;
  const std::string& page = Page();
  const Spans own = QuarryMatches(page);
  const Spans pcre = Pcre2Matches(page);
  const Spans jit = Pcre2JitMatches(page);
  const Spans standard = StdRegexMatches(page);
  std::printf(
      "page: %zu bytes, pattern: %zu bytes; matches: Quarry %zu, PCRE2 %zu, PCRE2 JIT %zu, "
      "std::regex %zu; lists %s\n",
      page.size(), Pattern().size(), own.size(), pcre.size(), jit.size(), standard.size(),
      own == pcre && own == jit && own == standard ? "identical" : "DIFFER");

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // CPU time ratios against Quarry in the same run; 0.00 for a benchmark that did not run.
  const auto ratio = [&](const std::string& other, const std::string& own) {
    const double base = reporter.Get(own).second;
    return base > 0 ? reporter.Get(other).second / base : 0.0;
  };
  if (reporter.Get("BM_ImagePage_Quarry").second > 0) {
    std::printf(
        "result page, CPU time ratios (other / Quarry): PCRE2 interpreter %.3g, PCRE2 JIT %.3g, "
        "std::regex %.3g\n",
        ratio("BM_ImagePage_Pcre2Interpreter", "BM_ImagePage_Quarry"),
        ratio("BM_ImagePage_Pcre2Jit", "BM_ImagePage_Quarry"),
        ratio("BM_ImagePage_StdRegex", "BM_ImagePage_Quarry"));
  }
  for (const char* size : {"64", "1024"}) {
    const std::string own = std::string("BM_RunPage_QuarryExtraction/") + size;
    if (reporter.Get(own).second <= 0) continue;
    std::printf(
        "run page %s KB: Quarry %.3f ms CPU; ratios (other / Quarry): PCRE2 interpreter %.3g, "
        "PCRE2 JIT %.3g\n",
        size, reporter.Get(own).second,
        ratio(std::string("BM_RunPage_Pcre2Interpreter/") + size, own),
        ratio(std::string("BM_RunPage_Pcre2Jit/") + size, own));
  }
  benchmark::Shutdown();
  return 0;
}
