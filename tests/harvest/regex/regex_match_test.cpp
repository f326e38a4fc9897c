// Matching: tables grouped by element kind. Each row searches a subject and compares the
// reported pairs (group 0, then each group; -1 -1 for a group that took no part) or "no match".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harvest/regex/regex_engine.h"

namespace quarry {
namespace {

struct MatchCase {
  const char* pattern;
  int flags;
  std::string subject;
  int start;
  const char* expected;
};

std::string Pairs(const MatchResult& result) {
  if (!result.IsMatched()) return "no match";
  std::string out;
  for (int group = 0; group <= result.MaxGroupNumber(); ++group) {
    if (group > 0) out += ' ';
    out += std::to_string(result.Start(group)) + ' ' + std::to_string(result.End(group));
  }
  return out;
}

void ExpectMatches(const std::vector<MatchCase>& cases) {
  for (const MatchCase& c : cases) {
    RegexEngine engine(c.pattern, c.flags);
    const MatchResult result =
        engine.Match(c.subject.data(), static_cast<int>(c.subject.size()), c.start);
    EXPECT_EQ(Pairs(result), c.expected) << "pattern: " << c.pattern << " flags: " << c.flags
                                         << " subject: " << c.subject << " start: " << c.start;
  }
}

constexpr int kRightToLeft = kFlagRightToLeft;
constexpr int kIgnoreCase = kFlagIgnoreCase;

TEST(RegexMatchTest, EmptyMatchesAndTheSearchLoop) {
  ExpectMatches({
      {"a*", 0, "bbb", -1, "0 0"},
      {"a*", 0, "bbb", 0, "0 0"},  // searching again from an empty match finds it again
      {"a*", 0, "baa", 1, "1 3"},
      {"", 0, "abc", 2, "2 2"},
      {"a", 0, "aba", 1, "2 3"},
      {"a", 0, "aba", 3, "no match"},
      {"x", 0, "", -1, "no match"},
      {"$", 0, "ab", -1, "2 2"},
      {"a", kRightToLeft, "aba", -1, "2 3"},  // right to left starts at the end
      {"a", kRightToLeft, "aba", 2, "0 1"},
      {"a+", kRightToLeft, "aab", -1, "0 2"},
      {"(a)(b)", kRightToLeft, "xab", -1, "1 3 1 2 2 3"},  // pairs normalised to (smaller, larger)
      {"a*", kRightToLeft, "bb", -1, "2 2"},
  });
  const MatchResult empty;
  EXPECT_FALSE(empty.IsMatched());
  EXPECT_EQ(empty.Start(0), -1);
  EXPECT_EQ(empty.End(3), -1);
  EXPECT_EQ(empty.MaxGroupNumber(), -1);
  RegexEngine engine("a", 0);
  EXPECT_FALSE(engine.Match(nullptr).IsMatched());
  EXPECT_FALSE(engine.Match("a", 1, 2).IsMatched());  // a start past the end
  EXPECT_EQ(Pairs(engine.Match("xa")), "1 2");        // NUL-terminated entry point
}

TEST(RegexMatchTest, StringsAndCase) {
  ExpectMatches({
      {"abc", 0, "xxabcx", -1, "2 5"},
      {"ABC", kIgnoreCase, "xaBc", -1, "1 4"},
      {"abc", 0, "xaBc", -1, "no match"},
      {"ab", kRightToLeft, "abab", -1, "2 4"},
      {"a\\x00b", 0, std::string("xa\0b", 4), -1, "1 4"},
      {"[a]", kIgnoreCase, "A", -1, "no match"},  // classes never ignore case
  });
}

TEST(RegexMatchTest, ClassesAndStockElements) {
  ExpectMatches({
      {"[^\\s]*x", 0, "ab x", -1, "3 4"},
      {"[^\\s]*x", 0, "ab\tx", -1, "3 4"},
      {"[^\\s]*x", 0, "ab\fx", -1, "0 4"},  // left to right \s is space, tab, CR, LF only
      {"[^\\s]*x", kRightToLeft, "ab\fx", -1, "3 4"},  // right to left it also covers FF and VT
      {"\\s", 0, "a\vb", -1, "no match"},
      {"\\s", kRightToLeft, "a\vb", -1, "1 2"},
      {".", 0, "\n", -1, "no match"},
      {".", kFlagDotAll, "\n", -1, "0 1"},
      {"a.c", 0,
       "a\xE4"
       "c",
       -1, "0 3"},
      {"[^a]", 0, "a\xFF", -1, "1 2"},
      {"[z-a]", 0, "az", -1, "no match"},
      {"[a-\\xE9]", 0, "b\xE0", -1, "no match"},  // ranges compare bytes as signed values
      {"[\\x80-\\xFF]", 0, "\xA0", -1, "0 1"},
      {"[a-]+", 0, "x-a-y", -1, "1 4"},
      {"[[:digit:]]+", 0, "ab123", -1, "2 5"},
      {"[:^alpha:]", 0, "ab1", -1, "2 3"},
      {"[:nonsense:]", 0, "abc", -1, "no match"},
      {"\\w+\\W\\d\\D", 0, "__a9 7x", -1, "0 7"},
      {"[]", 0, "abc", -1, "no match"},
      {"[^]", 0, "\n", -1, "0 1"},
  });
}

TEST(RegexMatchTest, Boundaries) {
  ExpectMatches({
      {"\\bfoo\\b", 0, "afoo foo", -1, "5 8"},
      {"\\Bo", 0, "o foo", -1, "3 4"},
      {"\\B", 0, "", -1, "0 0"},
      {"^b", 0, "a\nb", -1, "no match"},
      {"^b", kFlagMultiLine, "a\nb", -1, "2 3"},
      {"^b", kFlagMultiLine, "a\rb", -1, "2 3"},
      {"a$", kFlagMultiLine, "a\r\nb", -1, "0 1"},
      {"a$", 0, "a\nb", -1, "no match"},
      {"\\Aa", 0, "aa", 1, "no match"},
      {"\\Ga", kFlagSearchStart, "ba", -1, "no match"},
      {"\\Ga", kFlagSearchStart, "ba", 1, "1 2"},
      {"\\Ga", 0, "ba", -1, "1 2"},  // without the flag \G matches anywhere
  });
}

TEST(RegexMatchTest, GroupsAndAlternatives) {
  ExpectMatches({
      {"a|ab", 0, "ab", -1, "0 1"},  // the first branch that succeeds wins
      {"(a)|b", 0, "b", -1, "0 1 -1 -1"},
      {"(a|ab)(c|bcd)(d*)", 0, "abcd", -1, "0 4 0 1 1 4 4 4"},
      {"(?:x(y)|x)z", 0, "xz", -1, "0 2 -1 -1"},
      {"(?<n>a)(?<n>b)?", 0, "a", -1, "0 1 0 1"},
      {"(?<n>a)|(?<n>b)", 0, "b", -1, "0 1 0 1"},
  });
}

TEST(RegexMatchTest, Repeats) {
  ExpectMatches({
      {"x*", 0, "xxx", -1, "0 3"},
      {"a{2,3}", 0, "aaaa", -1, "0 3"},
      {"a{3}", 0, "aab", -1, "no match"},
      {"(a|ab){2}c", 0, "ababc", -1, "0 5 2 4"},
      {"(ab)+", 0, "ababx", -1, "0 4 2 4"},
      {"(a|ab)*c", 0, "abac", -1, "0 4 2 3"},  // a later way of one iteration extends again
      {"(a*)*b", 0, "aab", -1, "0 3 0 2"},     // an empty iteration is undone
      {"(a?){3}b", 0, "ab", -1, "0 2 1 1"},
      {"x+?", 0, "xxx", -1, "0 1"},
      {"a.*?b", 0, "aXbYb", -1, "0 3"},
      {"a{2,}?", 0, "aaaa", -1, "0 2"},
      {"a{2,3}?b", 0, "aaaab", -1, "1 5"},
      {"a+?", kRightToLeft, "aaa", -1, "2 3"},
      {"b.*?", kRightToLeft, "abab", -1, "3 4"},
      {"a.*?b", kRightToLeft, "abab", -1, "2 4"},
      {"[ab]*?c", 0, "abab", -1, "no match"},
      {"(a|ab)*?c", 0, "abc", -1, "0 3 0 2"},
      {"(a|b)*?b", 0, "aab", -1, "0 3 1 2"},
      {"x++x", 0, "xxx", -1, "no match"},
      {"x*+y", 0, "xxy", -1, "0 3"},
      {"(?:ab)*+ab", 0, "ababab", -1, "no match"},
      {"[^\\s]*.jpg", 0, "http://a/b.jpg?s=1 x", -1, "0 14"},  // gives bytes back
      {"a*ab", 0, "aaab", -1, "0 4"},
      {"x[a-z]*[0-9]z", 0, "xab1zq", -1, "0 5"},
      {"(x)*", 0, "xx", -1, "0 2 1 2"},
      {"\\d+", kRightToLeft, "a123", -1, "1 4"},
      {"(a|ab)+", kRightToLeft, "abab", -1, "0 4 0 2"},
  });
}

TEST(RegexMatchTest, IndependentGroupsAndAssertions) {
  ExpectMatches({
      {"(?>x+)x", 0, "xxx", -1, "no match"},
      {"(?>a|ab)c", 0, "abc", -1, "no match"},
      {"(?>(a))b", 0, "ab", -1, "0 2 0 1"},
      {"a(?=b)", 0, "acab", -1, "2 3"},
      {"a(?!b)", 0, "abac", -1, "2 3"},
      {"(?<=a)b", 0, "cbab", -1, "3 4"},
      {"(?<!a)b", 0, "abcb", -1, "3 4"},
      {"(?<=\\d{3})x", 0, "12x123x", -1, "6 7"},
      {"(?=(a))a", 0, "a", -1, "0 1 0 1"},  // captures of a positive assertion remain
      {"(?!(a))b", 0, "b", -1, "0 1 -1 -1"},
  });
}

TEST(RegexMatchTest, BackReferences) {
  ExpectMatches({
      {"(a)\\1", kIgnoreCase, "xaA", -1, "1 3 1 2"},
      {"(a)\\1", 0, "aA", -1, "no match"},
      {"(\\w+) \\1", 0, "ab abc", -1, "0 5 0 2"},
      {"()\\1x", 0, "x", -1, "0 1 0 0"},  // an empty capture always matches
      {"\\1(a)", 0, "aa", -1, "no match"},
      {"\\1(a)", kRightToLeft, "aa", -1, "0 2 1 2"},
      {"\\k<nope>a", 0, "a", -1, "no match"},
      {"(?<x>b)\\k<X>", 0, "abb", -1, "1 3 1 2"},
      {"(a)\\2", 0, "aa", -1, "no match"},
      {"(a\\1)", 0, "aa", -1, "0 2 0 2"},  // an open capture ends at the current position
  });
}

TEST(RegexMatchTest, Conditionals) {
  ExpectMatches({
      {"(a)?(?(1)b|c)", 0, "ab", -1, "0 2 0 1"},
      {"(a)?(?(1)b|c)", 0, "c", -1, "0 1 -1 -1"},
      {"(?(?=a)ab|cd)", 0, "cd", -1, "0 2"},
      {"(?(?=a)ab|cd)", 0, "ab", -1, "0 2"},
      {"(?<q>\")?\\w+(?(q)\")", 0, "\"ab\"", -1, "0 4 0 1"},
      {"(a)?(?(1)b)", 0, "x", -1, "0 0 -1 -1"},  // a missing branch matches empty
      {"(?(zz)a|b)", 0, "zzb", -1, "2 3"},       // an unknown name stays an expression
  });
}

TEST(RegexMatchTest, Recursion) {
  ExpectMatches({
      {"\\((?:[^()]|(?R))*\\)", 0, "x(a(b)c)y", -1, "1 8"},
      {"(a(?1)?b)", 0, "aabb", -1, "0 4 0 4"},
      {"(?<p>a(?R<p>)?b)", 0, "aabbb", -1, "0 4 0 4"},
      {"(?R)", 0, "abc", -1, "no match"},  // re-entry without consuming input is bounded
      {"a|(?R)b", 0, "xxb", -1, "no match"},
      {"(?R)?a", 0, "ba", -1, "1 2"},
      {"(?9)a", 0, "a", -1, "0 1"},  // no such group: the recursion matches empty
  });
  // Deep but legitimate recursion: nested parentheses far beyond any native stack budget end
  // cleanly instead of overflowing.
  RegexEngine engine("\\((?R)?\\)", 0);
  std::string subject(5000, '(');
  subject += std::string(5000, ')');
  const MatchResult result = engine.Match(subject.data(), static_cast<int>(subject.size()), -1);
  EXPECT_TRUE(result.IsMatched());
}

TEST(RegexMatchTest, ImageLinks) {
  const char* pattern =
      "http://image.baidu.com/i\\?z=0&cl=2&ct=\\d+&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage"
      "&word=[^\\s]*&pn=\\d+|http://[^\\s]*.jpg|http://[^\\s]*.gif|http://[^\\s]*.bmp";
  ExpectMatches({
      {pattern, 0, "see http://a.cn/p.jpg now", -1, "4 21"},
      {pattern, 0, "see http://a.cn/p.jpg?s=1 now", -1, "4 21"},
      {pattern, 0, "\"http://a/1.jpg\"http://b/2.jpg\" x", -1, "1 30"},
      {pattern, 0, "\"http://a/1.jpg\"http://b/2.gif\" x", -1, "1 15"},
      {pattern, 0, "http://a/xjpg", -1, "0 13"},
      {pattern, 0, "http://a/b.png http://c", -1, "no match"},
      {pattern, 0,
       "<a href=\"http://image.baidu.com/i?z=0&cl=2&ct=201326592&sn=&lm=-1&cm=1&sc=0&bu=&rn=21"
       "&tn=baiduimage&word=cat&pn=21\">",
       -1, "9 114"},
  });
}

TEST(RegexMatchTest, StepLimitAndInterruptEndRunawayBacktracking) {
  // The back-reference keeps the search memo out, so this backtracks exponentially.
  RegexEngine engine("(a*)*b\\1", 0);
  const std::string subject(40, 'a');
  const int length = static_cast<int>(subject.size());
  MatchContext context;
  context.m_stepLimit = 100000;
  EXPECT_FALSE(engine.Match(subject.data(), length, -1, &context).IsMatched());
  EXPECT_EQ(context.Halt(), SearchHalt::StepLimit);
  EXPECT_GT(context.m_steps, context.m_stepLimit);
  EXPECT_LT(context.m_steps, context.m_stepLimit + 1000);  // only the way back out
  // The same context, reused, still finds real matches.
  EXPECT_EQ(Pairs(engine.Match("aabaa", 5, -1, &context)), "0 5 0 2");
  EXPECT_EQ(context.Halt(), SearchHalt::None);

  // Without a limit, the interrupt check is asked every few thousand steps and ends it.
  context.m_stepLimit = -1;
  int polls = 0;
  context.m_interrupt = [&] { return ++polls == 3; };
  EXPECT_FALSE(engine.Match(subject.data(), length, -1, &context).IsMatched());
  EXPECT_EQ(context.Halt(), SearchHalt::Interrupted);
  EXPECT_EQ(polls, 3);
  EXPECT_LT(context.m_steps, 3 * MatchContext::kInterruptCheckSteps + 1000);
}

}  // namespace
}  // namespace quarry
