// The search skips attempt positions that cannot start a match (a required literal prefix, a
// set of possible first bytes) and lets a greedy one-byte repeat skip stopping places where what
// follows it cannot match. These shortcuts must never change a result. Each random pattern is
// compared with a twin that means the same but defeats every shortcut: an always-true
// conditional, which the analysis cannot see through, in front of the pattern and after every
// quantifier.
//
// The search memo (failures remembered per repeat and position, and the attempt positions the
// root's branches skip by) is checked the same way, against the same search with the memo off,
// on patterns rich in nested and lazy repeats, look-around and literal branches, over subjects
// with long runs. Pathological inputs then show the memo's point: they finish in a number of
// steps that grows about linearly, with the results of the plain search.
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
// With a context, a search that halts ends the list with "halted".
std::string AllMatches(const RegexEngine& engine, const std::string& subject,
                       MatchContext* context = nullptr) {
  std::string out;
  const int length = static_cast<int>(subject.size());
  int start = -1;
  for (;;) {
    const MatchResult result = engine.Match(subject.data(), length, start, context);
    if (context != nullptr && context->Halted()) return out + "halted";
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

// Patterns built to exercise the memo: repeats of groups that may match empty, nested and lazy
// repeats, atomic groups, look-around, alternatives that begin with literals.
std::string MemoPattern(std::mt19937& random, int depth) {
  static const std::vector<std::string> atoms = {"a", "b",   "ab",      ".",   "[^\\s]", "[ab]",
                                                 "x", "\\d", "http://", "jpg", "\\b",    "$"};
  static const std::vector<std::string> quantifiers = {"",   "",   "*",  "+",    "?",
                                                       "*?", "+?", "*+", "{2,}", "{1,3}"};
  std::uniform_int_distribution<std::size_t> atom(0, atoms.size() - 1);
  std::uniform_int_distribution<std::size_t> quantifier(0, quantifiers.size() - 1);
  std::uniform_int_distribution<int> items(1, 4);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string pattern;
  for (int i = items(random); i > 0; --i) {
    std::string item;
    const int kind = percent(random);
    if (depth < 2 && kind < 30) {
      static const std::vector<std::string> openers = {"(", "(?:", "(?>", "(?=", "(?!", "(?<=a)("};
      std::uniform_int_distribution<std::size_t> opener(0, openers.size() - 1);
      item = openers[opener(random)] + MemoPattern(random, depth + 1) + ")";
    } else {
      item = atoms[atom(random)];
    }
    if (item != "\\b" && item != "$" && item.rfind("(?=", 0) != 0 && item.rfind("(?!", 0) != 0) {
      item += quantifiers[quantifier(random)];
    }
    pattern += item;
  }
  if (percent(random) < 35) pattern += "|" + MemoPattern(random, depth + 1);
  return pattern;
}

// Alternatives that each begin with a literal, mostly followed by a greedy run of a class, as
// the image link pattern does: the search loop skips attempt positions by these.
std::string LiteralBranches(std::mt19937& random) {
  static const std::vector<std::string> literals = {"a", "b", "ab", "x", "http://"};
  static const std::vector<std::string> runs = {"[^\\s]*", "[^\\s]*", "[ab]*",
                                                "\\d+",    "[^\\s]+", ""};
  std::uniform_int_distribution<std::size_t> literal(0, literals.size() - 1);
  std::uniform_int_distribution<std::size_t> run(0, runs.size() - 1);
  std::uniform_int_distribution<int> branches(1, 4);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string pattern;
  for (int i = branches(random); i > 0; --i) {
    if (!pattern.empty()) pattern += "|";
    pattern += literals[literal(random)] + runs[run(random)];
    if (percent(random) < 80) pattern += MemoPattern(random, 2);
  }
  return pattern;
}

std::string MemoSubject(std::mt19937& random) {
  static const std::vector<std::string> parts = {"a",  "aaaa",    "b",        "ab",
                                                 "x",  "http://", ".jpg",     " ",
                                                 "\n", "1",       "http://x", "aaaaaaaaaaaaaaaa"};
  std::uniform_int_distribution<std::size_t> part(0, parts.size() - 1);
  std::uniform_int_distribution<int> count(0, 12);
  std::string subject;
  for (int i = count(random); i > 0; --i) subject += parts[part(random)];
  return subject;
}

TEST(RegexSearchHintsTest, TheMemoNeverChangesAResult) {
  std::mt19937 random(20261208);
  MatchContext remembering;
  MatchContext plain;
  plain.m_memo.m_enabled = false;
  plain.m_stepLimit = 50000;  // without the memo, some of these backtrack exponentially
  remembering.m_stepLimit = 1000000;
  int compared = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string pattern = i % 2 == 0 ? MemoPattern(random, 0) : LiteralBranches(random);
    const RegexEngine engine(pattern.c_str(), 0);
    for (int s = 0; s < 6; ++s) {
      const std::string subject = MemoSubject(random);
      const std::string expected = AllMatches(engine, subject, &plain);
      if (expected.find("halted") != std::string::npos) continue;
      ASSERT_EQ(AllMatches(engine, subject, &remembering), expected)
          << "pattern: " << pattern << "\nsubject: " << subject;
      ++compared;
    }
  }
  EXPECT_GT(compared, 17500) << compared;  // nearly every case finished without the memo too
}

TEST(RegexSearchHintsTest, PathologicalInputsFinishInFewStepsWithThePlainResults) {
  const std::string image =  // the image link pattern of the link extractor
      "http://image.baidu.com/i\\?z=0&cl=2&ct=\\d+&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage"
      "&word=[^\\s]*&pn=\\d+|http://[^\\s]*.jpg|http://[^\\s]*.gif|http://[^\\s]*.bmp";
  // Linear cases run on 64 KB with a budget per byte; nested repeats stay quadratic (every way
  // of an iteration is still tried once from each place) and run on 400 bytes with a budget
  // per byte squared. Without the memo each of them is beyond any such budget.
  struct Case {
    const char* name;
    std::string pattern;
    std::string unit;  // the subject is this, repeated
    bool linear;
    int budget;  // steps per byte, or per byte squared
  };
  const Case cases[] = {
      {"image links on a run without blanks", image, "http://x", true, 8},
      {"the same run of result-page addresses", image,
       "http://image.baidu.com/i?z=0&cl=2&ct=1&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage&word=x",
       true, 8},
      {"a greedy run before a missing literal", "[^\\s]*y", "ab", true, 8},
      {"a repeat of a repeat", "(a*)*b", "a", false, 2},
      {"a lazy repeat of a repeat", "(a*)*?b", "a", false, 2},
      {"a repeat of a one-or-two choice", "(a|aa)+b", "a", false, 2},
      {"nested plus", "(?:a+)+b", "a", false, 2},
  };
  for (const Case& c : cases) {
    const RegexEngine engine(c.pattern.c_str(), 0);
    // Small enough for the plain search to finish: the two agree.
    std::string small;
    while (small.size() < 12) small += c.unit;
    MatchContext plain;
    plain.m_memo.m_enabled = false;
    MatchContext remembering;
    EXPECT_EQ(AllMatches(engine, small, &remembering), AllMatches(engine, small, &plain)) << c.name;
    // Large: the memo finishes within the budget and finds nothing, as the subject never holds
    // what the pattern needs at its end.
    std::string large;
    while (large.size() < (c.linear ? 64 * 1024u : 400u)) large += c.unit;
    const std::int64_t length = static_cast<std::int64_t>(large.size());
    remembering.m_stepLimit = c.budget * (c.linear ? length : length * length);
    const MatchResult result =
        engine.Match(large.data(), static_cast<int>(large.size()), -1, &remembering);
    EXPECT_FALSE(remembering.Halted()) << c.name << ": " << remembering.m_steps << " steps";
    EXPECT_FALSE(result.IsMatched()) << c.name;
    // The plain search runs out of the same budget.
    plain.m_stepLimit = remembering.m_stepLimit;
    engine.Match(large.data(), static_cast<int>(large.size()), -1, &plain);
    EXPECT_TRUE(plain.Halted()) << c.name;
  }
}

}  // namespace
}  // namespace quarry
