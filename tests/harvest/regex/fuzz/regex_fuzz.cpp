// libFuzzer target for the regex engine, built by `scripts/test --fuzz` with clang and the
// address and undefined-behaviour sanitizers. Input layout: byte 0 holds the compile flags,
// byte 1 the pattern length (the pattern follows), the rest is the subject. Every input is
// compiled, dumped and searched from several starts, and walked match by match as the link
// extractor does; a step limit keeps exponential backtracking from stalling the run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "harvest/regex/regex_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int flags = data[0] & 0x3F;
  std::size_t patternLength = data[1];
  if (patternLength > size - 2) patternLength = size - 2;
  const std::string pattern(reinterpret_cast<const char*>(data + 2), patternLength);
  std::string subject(reinterpret_cast<const char*>(data + 2 + patternLength),
                      size - 2 - patternLength);
  if (subject.size() > 512) subject.resize(512);
  const int length = static_cast<int>(subject.size());

  quarry::RegexEngine engine;
  engine.Compile(pattern.data(), static_cast<int>(pattern.size()), flags);
  const std::string tree = engine.Dump();
  if (tree.empty()) __builtin_trap();

  quarry::MatchContext context;
  context.m_stepLimit = 200000;
  for (int start : {-1, 0, length / 2, length}) {
    const quarry::MatchResult result = engine.Match(subject.data(), length, start, &context);
    if (result.IsMatched() &&
        (result.Start() < 0 || result.Start() > result.End() || result.End() > length)) {
      __builtin_trap();
    }
  }
  if ((flags & quarry::kFlagRightToLeft) == 0) {
    int start = -1;
    for (int found = 0; found < 64; ++found) {
      const quarry::MatchResult result = engine.Match(subject.data(), length, start, &context);
      if (!result.IsMatched()) break;
      start = result.End() > result.Start() ? result.End() : result.End() + 1;
      if (start > length) break;
    }
  }
  return 0;
}
