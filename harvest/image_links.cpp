// Image result pages: the search that queues every match of the image link pattern.
//
// The pattern is compiled afresh for every page (each worker has its own engine, so nothing is
// shared between threads) and searched from the end of each match onwards. Every alternative
// of the image pattern starts with "http://", so a match is never empty; for any other pattern
// an empty match is stepped over by one byte, or the search would find it again for ever.
//
// The engine's memo keeps the image pattern linear on any page, but the host inside the
// pattern comes from the configuration, so the searches of one page share a step budget in
// proportion to its length: past it the page ends with a log line, keeping the links found so
// far. The searches also ask the sink every few thousand steps whether the task stops, so a
// stopping task never waits for a page.
#include <cstdint>
#include <string>
#include <string_view>

#include "harvest/link_extraction.h"
#include "harvest/regex/match_context.h"
#include "harvest/regex/regex_engine.h"

namespace quarry {

int ExtractImageLinks(LinkSink& sink, int thread, std::string_view pattern, std::string_view page) {
  // The engine addresses subjects with int positions; a page beyond that is not a result page.
  if (page.size() > static_cast<std::size_t>(INT32_MAX - 1)) return 0;
  RegexEngine engine;
  engine.Compile(pattern.data(), static_cast<int>(pattern.size()), 0);
  MatchContext context;  // one set of stacks for all the searches over this page
  context.m_interrupt = [&sink] { return sink.IsStopped(); };
  const int length = static_cast<int>(page.size());
  std::int64_t budget = kImageStepsPerByte * (std::int64_t{length} + 1);
  // Each search may use what the earlier ones of this page left of the budget.
  const auto search = [&](int from) {
    context.m_stepLimit = budget;
    MatchResult found = engine.Match(page.data(), length, from, &context);
    budget -= context.m_steps < budget ? context.m_steps : budget;
    return found;
  };
  int queued = 0;
  MatchResult result = search(0);
  while (result.IsMatched() && !sink.IsStopped()) {
    const int start = result.Start(0);
    const int end = result.End(0);
    if (end == start) {
      if (end >= length) break;
      result = search(end + 1);
      continue;
    }
    const std::string link(page.substr(start, end - start));
    result = search(end);
    if (link.size() > kMaxLinkBytes) continue;  // a cut address would point elsewhere
    if (sink.Add(thread, QueueEnd::Front, {.url = link, .source = kImageLinkSource})) {
      ++queued;
      sink.Log(thread, "解析到：" + link + " ...");
    }
  }
  if (context.Halt() == SearchHalt::StepLimit)
    sink.Log(thread, "解析步数超出上限，本页解析中止...");
  return queued;
}

}  // namespace quarry
