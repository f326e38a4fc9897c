// The image link pattern over a whole image result page of a few hundred KB, every match in
// turn as the link extractor takes them, with three engines in the same run: Quarry's own,
// PCRE2's interpreter (no JIT) and std::regex. Each iteration compiles the pattern once and
// searches from the end of each match, the way a worker treats one page. Before measuring, the
// three engines' match lists are compared; at the end the times are printed as ratios.
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

#include "bench/result_pages.h"
#include "harvest/link_extraction.h"
#include "harvest/regex/match_context.h"
#include "harvest/regex/regex_engine.h"

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

Spans Pcre2Matches(const std::string& page) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  std::unique_ptr<pcre2_code, Pcre2CodeDeleter> code(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(Pattern().data()), Pattern().size(), 0, &error,
                    &offset, nullptr));
  if (!code) return {};
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

void Measure(benchmark::State& state, Spans (*matcher)(const std::string&)) {
  const std::string& page = Page();
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
BENCHMARK(BM_ImagePage_StdRegex)->Unit(benchmark::kMillisecond);

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
  const Spans standard = StdRegexMatches(page);
  std::printf(
      "page: %zu bytes, pattern: %zu bytes; matches: Quarry %zu, PCRE2 %zu, "
      "std::regex %zu; lists %s\n",
      page.size(), Pattern().size(), own.size(), pcre.size(), standard.size(),
      own == pcre && own == standard ? "identical" : "DIFFER");

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto quarry = reporter.Get("BM_ImagePage_Quarry");
  const auto pcre2 = reporter.Get("BM_ImagePage_Pcre2Interpreter");
  const auto stdRegex = reporter.Get("BM_ImagePage_StdRegex");
  if (quarry.first > 0 && quarry.second > 0) {
    std::printf(
        "time ratios (other / Quarry), wall clock: PCRE2 interpreter %.2f, std::regex "
        "%.2f; CPU: PCRE2 interpreter %.2f, std::regex %.2f\n",
        pcre2.first / quarry.first, stdRegex.first / quarry.first, pcre2.second / quarry.second,
        stdRegex.second / quarry.second);
  }
  benchmark::Shutdown();
  return 0;
}
