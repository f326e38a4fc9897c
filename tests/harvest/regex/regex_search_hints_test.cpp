// The search skips attempt positions that cannot start a match (a required literal prefix, a
// set of possible first bytes) and lets a greedy one-byte repeat skip stopping places where what
// follows it cannot match. These shortcuts must never change a result. Each random pattern is
// compared with a twin that means the same but defeats every shortcut: an always-true
// conditional, which the analysis cannot see through, in front of the pattern and after every
// quantifier.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "harvest/regex/regex_engine.h"

namespace quarry {
namespace {

constexpr const char* kOpaque = "(?(?=)|)";  // matches empty, hides what follows from analysis

struct Twin {
  std::string pattern;
  std::string plain;
};

Twin RandomSequence(std::mt19937& random, int depth) {
  static const std::vector<std::string> atoms = {"http://", "a",   "b",    "ab",   ".", "[^\\s]",
                                                 "\\d",     "jpg", ".jpg", "[ab]", "x", "\\b"};
  static const std::vector<std::string> quantifiers = {"", "", "*", "+", "?", "*?", "{1,2}"};
  std::uniform_int_distribution<std::size_t> atom(0, atoms.size() - 1);
  std::uniform_int_distribution<std::size_t> quantifier(0, quantifiers.size() - 1);
  std::uniform_int_distribution<int> items(1, 5);
  std::uniform_int_distribution<int> percent(0, 99);
  Twin twin;
  for (int i = items(random); i > 0; --i) {
    std::string text;
    std::string plain;
    std::string q = quantifiers[quantifier(random)];
    if (depth < 1 && percent(random) < 20) {
      const Twin inner = RandomSequence(random, depth + 1);
      text = "(" + inner.pattern + ")";
      plain = "(" + inner.plain + ")";
      // Unbounded repeats of groups that may match empty backtrack exponentially in any
      // backtracking engine; bounded ones keep the test fast.
      if (q == "*" || q == "+" || q == "*?") q = "?";
    } else {
      text = plain = atoms[atom(random)];
      if (text == "\\b") q.clear();
    }
    twin.pattern += text + q;
    twin.plain += plain + q + (q.empty() ? "" : kOpaque);
  }
  if (percent(random) < 30) {
    const Twin other = RandomSequence(random, depth + 1);
    twin.pattern += "|" + other.pattern;
    twin.plain += "|" + other.plain;
  }
  return twin;
}

std::string RandomSubject(std::mt19937& random) {
  static const std::vector<std::string> parts = {"http://", "a", "b", "x",  ".", "jpg", " ",
                                                 "\n",      "1", "2", "\"", "/", "h",   "ab"};
  std::uniform_int_distribution<std::size_t> part(0, parts.size() - 1);
  std::uniform_int_distribution<int> count(0, 14);
  std::string subject;
  for (int i = count(random); i > 0; --i) subject += parts[part(random)];
  return subject;
}

// Every match from the start, searching again from each end (one further after an empty one).
std::string AllMatches(const RegexEngine& engine, const std::string& subject) {
  std::string out;
  const int length = static_cast<int>(subject.size());
  int start = -1;
  for (;;) {
    const MatchResult result = engine.Match(subject.data(), length, start);
    if (!result.IsMatched()) break;
    for (int group = 0; group <= result.MaxGroupNumber(); ++group) {
      out += std::to_string(result.Start(group)) + "," + std::to_string(result.End(group)) + " ";
    }
    out += "; ";
    start = result.End() > result.Start() ? result.End() : result.End() + 1;
    if (start > length) break;
  }
  return out;
}

TEST(RegexSearchHintsTest, ShortcutsNeverChangeAResult) {
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    const Twin twin = RandomSequence(random, 0);
    const RegexEngine fast(twin.pattern.c_str(), 0);
    const RegexEngine plain((std::string(kOpaque) + "(?:" + twin.plain + ")").c_str(), 0);
    ASSERT_EQ(fast.MaxGroupNumber(), plain.MaxGroupNumber()) << twin.pattern;
    for (int s = 0; s < 6; ++s) {
      const std::string subject = RandomSubject(random);
      ASSERT_EQ(AllMatches(fast, subject), AllMatches(plain, subject))
          << "pattern: " << twin.pattern << "\nsubject: " << subject;
    }
  }
}

}  // namespace
}  // namespace quarry
