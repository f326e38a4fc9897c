// The engine's life cycle and its search loop. Compile builds a fresh program (every element of
// the previous one is destroyed with it) and settles it. A search tries one attempt position
// after the other, leftmost first (rightmost first in right-to-left mode), emptying the stacks
// for each; the first position where the root matches wins. Left to right, positions that the
// settled hints prove hopeless (every match begins with a known text, or with one of a set of
// bytes) are skipped with a fast scan; the same positions would fail anyway, so results are
// unchanged.
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

}  // namespace

MatchResult RegexEngine::Match(const char* subject, int length, int start,
                               MatchContext* context) const {
  const RegexElement* root = Root();
  if (root == nullptr || subject == nullptr || length < 0 || start > length) return {};
  MatchContext local;
  MatchContext& ctx = context != nullptr ? *context : local;
  const bool rightToLeft = (m_flags & FLAG_RIGHT_TO_LEFT) != 0;
  ctx.m_subject = reinterpret_cast<const unsigned char*>(subject);
  ctx.m_length = length;
  int position = start >= 0 ? start : (rightToLeft ? length : 0);
  ctx.m_searchStart = position;
  ctx.m_steps = 0;
  ctx.m_recursionDepth = 0;
  const int end = rightToLeft ? -1 : length + 1;
  const int step = rightToLeft ? -1 : 1;
  const std::string_view text(subject, static_cast<std::size_t>(length));
  const std::string& prefix = m_program->m_prefix;
  const bool skipByPrefix = !rightToLeft && !prefix.empty();
  const bool skipByFirstByte = !rightToLeft && !skipByPrefix && m_program->m_firstBytesKnown;

  while (position != end) {
    if (skipByPrefix) {
      const std::size_t found = text.find(prefix, static_cast<std::size_t>(position));
      if (found == std::string_view::npos) break;
      position = static_cast<int>(found);
    } else if (skipByFirstByte) {
      while (position < length && !m_program->m_firstBytes.Has(ctx.m_subject[position])) {
        ++position;
      }
      if (position >= length) break;  // a match needs at least one byte
    }
    ctx.m_backtrack.clear();
    ctx.m_captures.assign({0, position, -1, -1});
    ctx.m_captureIndex.assign(static_cast<std::size_t>(m_maxGroupNumber) + 1, -1);
    ctx.m_captureIndex[0] = 0;
    ctx.m_position = position;
    if (root->Match(ctx) && !ctx.Exhausted()) return BuildResult(ctx, m_maxGroupNumber);
    if (ctx.Exhausted()) return {};
    position += step;
  }
  return {};
}

}  // namespace quarry
