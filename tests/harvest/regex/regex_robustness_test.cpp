// No input may crash the engine: patterns nested far deeper than the builder follows, patterns
// that re-enter groups without consuming input, and many thousands of random patterns (from
// syntax fragments and from raw bytes), each compiled, dumped and searched on short subjects.
// Run under AddressSanitizer and UndefinedBehaviorSanitizer by scripts/test.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "harvest/regex/regex_engine.h"

namespace quarry {
namespace {

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

void SearchAll(const RegexEngine& engine, const std::vector<std::string>& subjects) {
  MatchContext context;
  context.m_stepLimit = 5000;  // random patterns may backtrack exponentially
  for (const std::string& subject : subjects) {
    const int length = static_cast<int>(subject.size());
    for (int start : {-1, 0, length / 2, length}) {
      const MatchResult result = engine.Match(subject.data(), length, start, &context);
      if (!result.IsMatched()) continue;
      ASSERT_LE(0, result.Start());
      ASSERT_LE(result.Start(), result.End());
      ASSERT_LE(result.End(), length);
      ASSERT_EQ(result.MaxGroupNumber(), engine.MaxGroupNumber());
    }
  }
}

TEST(RegexRobustnessTest, DeepNestingEndsThePatternInsteadOfTheStack) {
  const std::vector<std::string> subjects = {"", "a", "((((a))))", "abc(def)"};
  for (const std::string opener :
       {"(", "(?:", "(?=", "(?<=", "(?>", "(?i", "(?(", "(?<n>", "(?(?=", "a|(", "[", "(a*"}) {
    std::string pattern;
    for (int i = 0; i < 100000; ++i) pattern += opener;
    RegexEngine engine;
    engine.Compile(pattern.data(), static_cast<int>(pattern.size()), 0);
    ASSERT_NE(engine.Root(), nullptr) << opener;
    EXPECT_LE(Count(engine.Dump(), "("), 2000) << opener;
    SearchAll(engine, subjects);
  }
  RegexEngine plain(std::string(100000, '(').c_str(), 0);
  EXPECT_EQ(plain.MaxGroupNumber(), 200);  // the groups the builder followed
  // Nesting within the bound still compiles and matches normally.
  const std::string nested = std::string(150, '(') + "a" + std::string(150, ')');
  RegexEngine engine(nested.c_str(), 0);
  const MatchResult result = engine.Match("xa");
  ASSERT_TRUE(result.IsMatched());
  EXPECT_EQ(result.Start(150), 1);
  EXPECT_EQ(result.End(150), 2);
}

TEST(RegexRobustnessTest, RecursionWithoutProgressIsBounded) {
  const std::vector<std::string> subjects = {"", "a", "aaaa", "(()())", std::string(3000, 'a')};
  for (const char* pattern : {"(?R)", "(?R)*", "a|(?R)", "(?R)a|b", "((?1))", "(a|(?1)b)",
                              "(?<x>(?&x)?)", "(?1)(?2)((?2))((?1))", "((?R)*)+", "(?>(?R))",
                              "(?=(?R))", "(?(?=(?R))a|b)", "(a(?1)*)+b"}) {
    RegexEngine engine(pattern, 0);
    SearchAll(engine, subjects);
  }
}

// Random patterns built from the dialect's pieces, so that most of them exercise real syntax.
std::string RandomPattern(std::mt19937& random) {
  static const std::vector<std::string> pieces = {
      "a",      "b",      "ab",        "x",          ".",     "\\d",     "\\w",   "\\s",   "\\S",
      "\\b",    "\\B",    "^",         "$",          "\\A",   "\\Z",     "\\G",   "[",     "]",
      "[^",     "-",      "[:alpha:]", "[:^digit:]", "(",     ")",       "(?:",   "(?i)",  "(?-i)",
      "(?s:",   "(?m)",   "(?=",       "(?!",        "(?<=",  "(?<!",    "(?>",   "(?<n>", "(?'m'",
      "(?P<n>", "(?(1)",  "(?(n)",     "(?(?=a)",    "(?R)",  "(?1)",    "(?2)",  "(?&n)", "\\1",
      "\\2",    "\\k<n>", "\\g1",      "*",          "+",     "?",       "*?",    "+?",    "??",
      "*+",     "++",     "{2}",       "{1,3}",      "{,2}",  "{3,}",    "{0}",   "|",     "|",
      "\\Q",    "\\E",    "\\L",       "\\U",        "\\x4",  "\\x{41}", "\\u00", "#",     " ",
      "\\",     "\\0",    "{",         "}",          "(?#c)", "\\t",     ":",     "^",     "a{999}",
      "(?R)?"};
  std::uniform_int_distribution<int> count(1, 12);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string pattern;
  for (int i = count(random); i > 0; --i) pattern += pieces[pick(random)];
  return pattern;
}

TEST(RegexRobustnessTest, ThousandsOfRandomPatternsCompileAndSearch) {
  std::mt19937 random(20261207);
  const std::vector<std::string> subjects = {
      "", "a", "ab ab", "aaaaaaaa", "xAbB_12 \t\r\n(a)", std::string("a\0b\xFF", 4)};
  std::uniform_int_distribution<int> flagBits(0, 63);
  for (int i = 0; i < 10000; ++i) {
    const std::string pattern = RandomPattern(random);
    RegexEngine engine;
    engine.Compile(pattern.data(), static_cast<int>(pattern.size()), flagBits(random));
    ASSERT_NE(engine.Root(), nullptr) << pattern;
    ASSERT_FALSE(engine.Dump().empty());
    SearchAll(engine, subjects);
  }
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 16);
  for (int i = 0; i < 5000; ++i) {
    std::string pattern;
    for (int n = length(random); n > 0; --n) pattern.push_back(static_cast<char>(byte(random)));
    RegexEngine engine;
    engine.Compile(pattern.data(), static_cast<int>(pattern.size()), flagBits(random));
    SearchAll(engine, subjects);
  }
}

}  // namespace
}  // namespace quarry
