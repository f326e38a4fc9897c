// RegexEngine: Quarry's own backtracking regular-expression engine over 8-bit text (every byte
// is one character). Compile turns a pattern into a tree of elements owned by the engine (the
// scanner, builder and settling stages live in their own files); Match searches a subject for
// the leftmost match and reports it with its capture groups in a MatchResult. Compilation never
// fails: malformed constructs degrade to defined trees. Searching never modifies the engine, so
// one engine may be searched any number of times, by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harvest/regex/match_context.h"

namespace quarry {

// Compile flags, combinable.
inline constexpr int kFlagDotAll = 0x01;       // the dot also matches LF
inline constexpr int kFlagMultiLine = 0x02;    // ^ and $ also match at line breaks
inline constexpr int kFlagSearchStart = 0x04;  // \G is honoured (else it matches anywhere)
inline constexpr int kFlagIgnoreCase = 0x08;   // literals and back-references ignore case
inline constexpr int kFlagRightToLeft = 0x10;  // the whole pattern matches right to left
inline constexpr int kFlagExtended = 0x20;     // pattern white space and # comments ignored

class RegexElement;
struct RegexProgram;

// The outcome of one search: empty when nothing matched, else [0] = 1, [1] = the highest group
// number G, then start and end of groups 0..G (-1, -1 for a group that took no part). Start is
// always the smaller position of a pair, also for right-to-left searches.
class MatchResult {
public:
  MatchResult() = default;  // the empty result: no match
  explicit MatchResult(std::vector<std::int32_t> values) : m_values(std::move(values)) {}

  // True when the result holds a match.
  bool IsMatched() const { return !m_values.empty() && m_values[0] != 0; }
  // Highest group number G of the match (0 without groups); -1 for the empty result.
  int MaxGroupNumber() const { return m_values.size() >= 2 ? m_values[1] : -1; }
  // Start of group n (group 0 is the whole match); -1 when absent or the group took no part.
  int Start(int group = 0) const { return At(2 + 2 * static_cast<std::int64_t>(group)); }
  // End of group n (one past its last byte); -1 when absent or the group took no part.
  int End(int group = 0) const { return At(3 + 2 * static_cast<std::int64_t>(group)); }
  // The raw array described above.
  const std::vector<std::int32_t>& Values() const { return m_values; }

private:
  int At(std::int64_t index) const {
    return index >= 2 && index < static_cast<std::int64_t>(m_values.size()) ? m_values[index] : -1;
  }
  std::vector<std::int32_t> m_values;
};

class RegexEngine {
public:
  // An engine without a pattern: every search reports no match.
  RegexEngine();
  // Compiles the NUL-terminated `pattern` (null leaves the engine without a pattern).
  explicit RegexEngine(const char* pattern, int flags = 0);
  ~RegexEngine();
  RegexEngine(const RegexEngine&) = delete;
  RegexEngine& operator=(const RegexEngine&) = delete;

  // Discards the previous compile, then compiles `length` bytes of `pattern` (which need stay
  // valid only during the call). A null pattern leaves the engine without root. Never fails.
  void Compile(const char* pattern, int length, int flags);

  // Searches the NUL-terminated `subject` from `start` (start < 0: from 0, or from the end in
  // right-to-left mode). `context` may be null; a caller's context lends its storage.
  MatchResult Match(const char* subject, int start = -1, MatchContext* context = nullptr) const;
  // The same over `length` bytes of `subject`, which may hold NUL bytes. A start above the
  // length, a negative length or a null subject yield the empty result.
  MatchResult Match(const char* subject, int length, int start,
                    MatchContext* context = nullptr) const;

  // The root of the element tree, or null when nothing was compiled.
  const RegexElement* Root() const;
  // The flags given to the last compile.
  int Flags() const { return m_flags; }
  // Highest group number of the pattern (0 when it has no groups).
  int MaxGroupNumber() const { return m_maxGroupNumber; }
  // The element tree as one readable line, e.g. List(Str("ab") Greedy(0,inf,Stock(7))); "none"
  // when nothing was compiled.
  std::string Dump() const;

private:
  std::unique_ptr<RegexProgram> m_program;
  int m_flags = 0;
  int m_maxGroupNumber = 0;
};

}  // namespace quarry
