// The engine's life cycle and its search loop. Compile builds a fresh program (every element of
// the previous one is destroyed with it) and settles it. A search tries one attempt position
// after the other, leftmost first (rightmost first in right-to-left mode), emptying the stacks
// for each; the first position where the root matches wins. Left to right, positions that the
// settled hints prove hopeless (every match begins with a known text, or with one of a set of
// bytes) are skipped with a fast scan; the same positions would fail anyway, so results are
// unchanged. The context's memo starts empty at every call and keeps what the attempts of the
// call learn about hopeless states (search_memo.h); every attempt counts as a step, so a step
// limit or an interrupt also ends a search that skips through a long subject.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "harvest/regex/regex_engine.h"
#include "harvest/regex/regex_program.h"

namespace quarry {

RegexEngine::RegexEngine() = default;

RegexEngine::RegexEngine(const char* pattern, int flags) {
  const std::size_t length = pattern != nullptr ? std::strlen(pattern) : 0;
  const auto limit = static_cast<std::size_t>(std::numeric_limits<int>::max());
  Compile(pattern, static_cast<int>(std::min(length, limit)), flags);
}

RegexEngine::~RegexEngine() = default;

void RegexEngine::Compile(const char* pattern, int length, int flags) {
  m_program.reset();
  m_flags = flags;
  m_maxGroupNumber = 0;
  if (pattern == nullptr) return;
  auto program = std::make_unique<RegexProgram>();
  program->m_flags = flags;
  BuildPattern(*program, pattern, length < 0 ? 0 : length, flags);
  SettlePattern(*program);
  m_maxGroupNumber = program->m_maxGroupNumber;
  m_program = std::move(program);
}

const RegexElement* RegexEngine::Root() const {
  return m_program != nullptr ? m_program->m_root : nullptr;
}

std::string RegexEngine::Dump() const { return DumpElement(Root()); }

MatchResult RegexEngine::Match(const char* subject, int start, MatchContext* context) const {
  if (subject == nullptr) return {};
  const std::size_t length = std::strlen(subject);
  const auto limit = static_cast<std::size_t>(std::numeric_limits<int>::max());
  return Match(subject, static_cast<int>(std::min(length, limit)), start, context);
}

namespace {

MatchResult BuildResult(const MatchContext& context, int highest) {
  std::vector<std::int32_t> values(2 * (static_cast<std::size_t>(highest) + 1) + 2, -1);
  values[0] = 1;
  values[1] = highest;
  const auto& records = context.m_captures;
  values[2] = std::min(records[1], context.m_position);
  values[3] = std::max(records[1], context.m_position);
  for (int n = 1; n <= highest; ++n) {
    if (n >= static_cast<int>(context.m_captureIndex.size())) break;
    const int record = context.m_captureIndex[n];
    if (record < 0 || record >= context.CaptureSize()) continue;
    const int start = records[record + 1];
    const int end = records[record + 2];
    if (end < 0) continue;  // a capture still open took no finished part
    values[2 + 2 * n] = std::min(start, end);
    values[3 + 2 * n] = std::max(start, end);
  }
  return MatchResult(std::move(values));
}

// The first place from `from` on, and before `before`, where `literal` (of literal slot
// `slot`) begins; `before` when there is none. What was searched is kept, so that the attempts
// of one call, moving on through the subject, read each byte about once; a search that goes on
// from where the last one ended looks at least as far again, so that a rare literal costs few
// searches however many attempts ask for it.
int NextLiteral(MatchContext& context, std::string_view text, const std::string& literal, int slot,
                int from, int before) {
  constexpr int kLeastSearch = 256;
  constexpr std::size_t kShortLiteral = 8;
  SearchMemo::LiteralSearch& known = context.m_memo.Literal(slot);
  int searchFrom = from;
  if (known.from <= from && from <= known.to) {
    if (known.found) return known.to < before ? known.to : before;
    if (before <= known.to) return before;
    searchFrom = known.to;
  } else {
    known.from = from;
  }
  const std::int64_t reach = std::max<std::int64_t>(searchFrom - known.from, kLeastSearch);
  const int goal = static_cast<int>(std::min<std::int64_t>(
      context.m_length + std::int64_t{1}, std::max<std::int64_t>(before, searchFrom + reach)));
  // Occurrences that begin before `goal`.
  const std::size_t windowEnd =
      std::min(text.size(), static_cast<std::size_t>(goal) - 1 + literal.size());
  const std::size_t searched = windowEnd > static_cast<std::size_t>(searchFrom)
                                   ? windowEnd - static_cast<std::size_t>(searchFrom)
                                   : 0;
  // A short literal is found fastest from its first byte; a long one by memmem, which sets up a
  // table first but then skips by the literal's length.
  const char* found = nullptr;
  if (literal.size() <= kShortLiteral) {
    const std::size_t at = text.substr(0, windowEnd).find(literal, searchFrom);
    if (at != std::string_view::npos) found = text.data() + at;
  } else {
    found = static_cast<const char*>(
        memmem(text.data() + searchFrom, searched, literal.data(), literal.size()));
  }
  if (found != nullptr) {
    known.to = static_cast<int>(found - text.data());
    known.found = true;
    context.CountScan(known.to - searchFrom);
    return known.to < before ? known.to : before;
  }
  context.CountScan(goal - searchFrom);
  known.to = goal;
  known.found = false;
  return before;
}

// The first place from `from` on where some branch of the root may match: its literal must
// begin there, and when a memoised one-byte repeat follows the literal, the repeat must not be
// certain to fail. It is certain to fail when it would start inside the run it last scanned and
// every stop it could give back to in that run is known to fail: then the branch fails at
// every occurrence of its literal that ends inside the run, however many there are. Places are
// looked for in growing windows, so that a branch whose literal is rare is not searched for to
// the end of the subject when another branch may match close by.
int NextBranchPlace(MatchContext& context, std::string_view text,
                    const std::vector<BranchStart>& starts, int from) {
  constexpr std::int64_t kFirstWindow = 256;
  const std::int64_t end = static_cast<std::int64_t>(context.m_length) + 1;
  for (std::int64_t window = kFirstWindow;; window *= 2) {
    const int before = static_cast<int>(std::min(end, from + window));
    int first = before;
    for (int branch = 0; branch < static_cast<int>(starts.size()); ++branch) {
      const BranchStart& start = starts[branch];
      const int literal = static_cast<int>(start.m_literal.size());
      const int slot = start.m_literalSlot;
      int at = NextLiteral(context, text, start.m_literal, slot, from, first);
      while (at < first && start.m_repeat != nullptr) {
        const RepeatElement& repeat = *start.m_repeat;
        const SearchMemo::Range& run = context.m_memo.Run(repeat.m_runSlot);
        const SearchMemo::Range& failed = context.m_memo.FailedStops(repeat.m_memoSlot);
        const int runFrom = at + literal;
        const int lowestStop = runFrom + repeat.m_minimum;
        const bool hopeless =
            run.Has(runFrom) &&
            (lowestStop > run.high || (failed.low <= lowestStop && failed.high >= run.high));
        if (!hopeless) break;
        const int past = run.high - literal + 1;
        at = past < first ? NextLiteral(context, text, start.m_literal, slot, past, first) : first;
      }
      first = at;
    }
    if (first < before || before == end) return first;
  }
}

}  // namespace

MatchResult RegexEngine::Match(const char* subject, int length, int start,
                               MatchContext* context) const {
  const RegexElement* root = Root();
  if (root == nullptr || subject == nullptr || length < 0 || start > length) return {};
  MatchContext local;
  MatchContext& ctx = context != nullptr ? *context : local;
  const bool rightToLeft = (m_flags & kFlagRightToLeft) != 0;
  ctx.m_subject = reinterpret_cast<const unsigned char*>(subject);
  ctx.m_length = length;
  int position = start >= 0 ? start : (rightToLeft ? length : 0);
  ctx.m_searchStart = position;
  ctx.BeginSearch();
  ctx.m_recursionDepth = 0;
  ctx.m_memo.Reset(m_program->m_memoShape, length);
  const int end = rightToLeft ? -1 : length + 1;
  const int step = rightToLeft ? -1 : 1;
  const std::string_view text(subject, static_cast<std::size_t>(length));
  const std::string& prefix = m_program->m_prefix;
  const auto& branchStarts = m_program->m_branchStarts;
  const bool skipByBranch = !rightToLeft && !branchStarts.empty() && ctx.m_memo.m_enabled;
  const bool skipByPrefix = !rightToLeft && !skipByBranch && !prefix.empty();
  const bool skipByFirstByte =
      !rightToLeft && !skipByBranch && !skipByPrefix && m_program->m_firstBytesKnown;

  while (position != end) {
    if (skipByBranch) {
      position = NextBranchPlace(ctx, text, branchStarts, position);
      if (position > length) break;
    } else if (skipByPrefix) {
      const std::size_t found = text.find(prefix, static_cast<std::size_t>(position));
      if (found == std::string_view::npos) break;
      position = static_cast<int>(found);
    } else if (skipByFirstByte) {
      while (position < length && !m_program->m_firstBytes.Has(ctx.m_subject[position])) {
        ++position;
      }
      if (position >= length) break;  // a match needs at least one byte
    }
    if (!ctx.Step()) return {};
    ctx.m_backtrack.clear();
    ctx.m_captures.assign({0, position, -1, -1});
    ctx.m_captureIndex.assign(static_cast<std::size_t>(m_maxGroupNumber) + 1, -1);
    ctx.m_captureIndex[0] = 0;
    ctx.m_position = position;
    if (root->Match(ctx) && !ctx.Halted()) return BuildResult(ctx, m_maxGroupNumber);
    if (ctx.Halted()) return {};
    position += step;
  }
  return {};
}

}  // namespace quarry
