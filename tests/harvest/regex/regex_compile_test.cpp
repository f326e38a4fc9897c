// Compilation: each table pins the element tree a construct compiles to, through the one-line
// dump, so a change in how the builder reads a pattern shows up as a changed tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harvest/regex/regex_engine.h"

namespace quarry {
namespace {

struct TreeCase {
  const char* pattern;
  int flags;
  const char* tree;
};

void ExpectTrees(const std::vector<TreeCase>& cases) {
  for (const TreeCase& c : cases) {
    RegexEngine engine(c.pattern, c.flags);
    EXPECT_EQ(engine.Dump(), c.tree) << "pattern: " << c.pattern << " flags: " << c.flags;
  }
}

constexpr const char* kImageLinkPattern =
    "http://image.baidu.com/i\\?z=0&cl=2&ct=\\d+&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage"
    "&word=[^\\s]*&pn=\\d+|http://[^\\s]*.jpg|http://[^\\s]*.gif|http://[^\\s]*.bmp";

TEST(RegexCompileTest, ImageLinkPatternIsFourListsOfStockElements) {
  RegexEngine engine(kImageLinkPattern, 0);
  const std::string run = "Greedy(0,inf,NotSet(Stock(5)))";
  EXPECT_EQ(engine.Dump(),
            "Alt(List(Str(\"http://image\") Stock(2) Str(\"baidu\") Stock(2) "
            "Str(\"com/i?z=0&cl=2&ct=\") Greedy(1,inf,Stock(7)) "
            "Str(\"&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage&word=\") " +
                run +
                " Str(\"&pn=\") Greedy(1,inf,Stock(7))) | "
                "List(Str(\"http://\") " +
                run +
                " Stock(2) Str(\"jpg\")) | "
                "List(Str(\"http://\") " +
                run +
                " Stock(2) Str(\"gif\")) | "
                "List(Str(\"http://\") " +
                run + " Stock(2) Str(\"bmp\")))");
  EXPECT_EQ(engine.MaxGroupNumber(), 0);
}

TEST(RegexCompileTest, LiteralsAndEscapes) {
  ExpectTrees({
      {"abc", 0, "Str(\"abc\")"},
      {"a\\?b\\.c", 0, "Str(\"a?b.c\")"},
      {"\\t\\n\\r\\f\\v\\a\\e", 0, "Str(\"\\x09\\x0A\\x0D\\x0C\\x0B\\x07\\x1B\")"},
      {"\\x41\\x4a\\xZ", 0, "Str(\"AJxZ\")"},
      {"\\x{263a}\\u0042\\u{41}", 0, "Str(\":BA\")"},
      {"\\q\\-", 0, "Str(\"q-\")"},
      {"ab\\", 0, "Str(\"ab\\x5C\")"},
      {"\\Qa.b*\\E.", 0, "List(Str(\"a.b*\") Stock(2))"},
      {"\\Ua.b\\Ec\\LXY", 0, "Str(\"A.Bcxy\")"},
      {"\\Uab\\Lcd", 0, "Str(\"AB\\x5CLCD\")"},  // in quote mode only \\E is special
      {"a(?#note)b", 0, "Str(\"ab\")"},
      {"a b # note\nc", kFlagExtended, "Str(\"abc\")"},
      {"a b", 0, "Str(\"a b\")"},
      {"*a", 0, "Str(\"*a\")"},
      {"}", 0, "Str(\"}\")"},
      {"", 0, "Empty"},
  });
}

TEST(RegexCompileTest, Quantifiers) {
  ExpectTrees({
      {"ab*", 0, "List(Str(\"a\") Greedy(0,inf,Str(\"b\")))"},
      {"abc+d", 0, "List(Str(\"ab\") Greedy(1,inf,Str(\"c\")) Str(\"d\"))"},
      {"(ab)*", 0, "Greedy(0,inf,List(Open(1) Str(\"ab\") Close(1)))"},
      {"a?", 0, "Greedy(0,1,Str(\"a\"))"},
      {"a*?", 0, "Lazy(0,inf,Str(\"a\"))"},
      {"a++", 0, "Possessive(1,inf,Str(\"a\"))"},
      {"a{1000}", 0, "Fixed(100,Str(\"a\"))"},  // only three digits count
      {"a{1000,5}", 0, "Fixed(100,Str(\"a\"))"},
      {"a{,5}", 0, "Empty"},
      {"a{0}", 0, "Empty"},
      {"a{0,0}", 0, "Empty"},
      {"a{3,1}", 0, "Fixed(3,Str(\"a\"))"},
      {"a{3}?", 0, "Fixed(3,Str(\"a\"))"},
      {"a{ 2 , 4 }", 0, "Greedy(2,4,Str(\"a\"))"},
      {"a{2,}+", 0, "Possessive(2,inf,Str(\"a\"))"},
      {"a{2,4}?", 0, "Lazy(2,4,Str(\"a\"))"},
      {"a{2", 0, "Fixed(2,Str(\"a\"))"},
      {"a**", 0, "List(Greedy(0,inf,Str(\"a\")) Str(\"*\"))"},
      {"x{2}{3}", 0, "List(Fixed(2,Str(\"x\")) Str(\"{3\") Str(\"}\"))"},
  });
}

TEST(RegexCompileTest, ClassesAndStockElements) {
  ExpectTrees({
      {"[a-]", 0, "Set(a \\x2D)"},
      {"[z-a]", 0, "Set(z-a)"},
      {"[a-cx]", 0, "Set(a-c x)"},
      {"[^ab]", 0, "NotSet(a b)"},
      {"[\\b]", 0, "Set(\\x08)"},
      {"[\\d\\W.]", 0, "Set(. Stock(7) Stock(4))"},
      {"[]", 0, "Set()"},
      {"[^]", 0, "NotSet()"},
      {"[a^]", 0, "Set(a ^)"},
      {"[[:alpha:]_]", 0, "Set(_ Posix(alpha))"},
      {"[:^digit:]", 0, "NotPosix(digit)"},
      {"[:bogus:]", 0, "Posix(none)"},
      {"[a", 0, "Set(a)"},
      {".\\w\\W\\s\\S\\d\\D", 0,
       "List(Stock(2) Stock(3) Stock(4) Stock(5) Stock(6) Stock(7) Stock(8))"},
      {".", kFlagDotAll, "Stock(1)"},
      {".\\s", kFlagRightToLeft, "List/r(Stock(10) Stock(13))"},
      {"[a]", kFlagRightToLeft, "Set/r(a)"},
  });
}

TEST(RegexCompileTest, BoundariesAndSearchStart) {
  ExpectTrees({
      {"^a$", 0, "List(Bound(StartText) Str(\"a\") Bound(EndText))"},
      {"^$", kFlagMultiLine, "List(Bound(StartLine) Bound(EndLine))"},
      {"\\A\\Z\\b\\B", 0, "List(Bound(StartText) Bound(EndText) Bound(Word) Bound(NotWord))"},
      {"\\Ga", 0, "List(Empty Str(\"a\"))"},
      {"\\Ga", kFlagSearchStart, "List(SearchStart Str(\"a\"))"},
  });
}

TEST(RegexCompileTest, GroupsOfEveryKind) {
  ExpectTrees({
      {"(a)|b", 0, "Alt(List(Open(1) Str(\"a\") Close(1)) | Str(\"b\"))"},
      {"(?:ab)c", 0, "List(Str(\"ab\") Str(\"c\"))"},
      {"(?=a)(?!b)", 0, "List(Assert(Str(\"a\")) NotAssert(Str(\"b\")))"},
      {"(?<=ab)(?<!c)", 0, "List(Assert(Str/r(\"ab\")) NotAssert(Str/r(\"c\")))"},
      {"(?>a+)", 0, "Independent(Greedy(1,inf,Str(\"a\")))"},
      {"(?>a*)", 0, "Independent(Greedy(0,inf,Str(\"a\")))"},
      {"(a)", kFlagRightToLeft, "List/r(Close(1) Str/r(\"a\") Open(1))"},
      {"(?i)a|b", 0, "Alt(List(Empty Str/i(\"a\")) | Str/i(\"b\"))"},
      {"(?i:a)b", 0, "List(Str/i(\"a\") Str(\"b\"))"},
      {"(a(?i)b)c", 0,
       "List(List(Open(1) List(Str(\"a\") Empty Str/i(\"b\")) Close(1)) Str(\"c\"))"},
      {"(?i-i)a", 0, "List(Empty Str(\"a\"))"},
      {"(?s).(?-s).", 0, "List(Empty Stock(1) Empty Stock(2))"},
      {"(?m)^", 0, "List(Empty Bound(StartLine))"},
      {"(?i(a))", 0, "List(Open(1) Str/i(\"a\") Close(1))"},
      {"(?(1)a|b)", 0, "Cond(1,Str(\"a\"),Str(\"b\"))"},
      {"(?(x)a)", 0, "Cond(Assert(Str(\"x\")),Str(\"a\"),-)"},
      {"(?(?=x)a|b|c)", 0, "Cond(Assert(Str(\"x\")),Str(\"a\"),Alt(Str(\"b\") | Str(\"c\")))"},
      {"(?R)", 0, "Recurse(0)"},
      {"(a(?1)?b)", 0, "List(Open(1) List(Str(\"a\") Greedy(0,1,Recurse(1)) Str(\"b\")) Close(1))"},
      {"(?R 2)", 0, "Recurse(2)"},
      {"(?&x)", 0, "Empty"},  // an unknown option setting
  });
}

TEST(RegexCompileTest, NamesAreSettledAfterTheParse) {
  ExpectTrees({
      // Named groups are numbered after every unnamed one; equal names share a number.
      {"(?<x>a)(b)(?<x>c)(?'y'd)", 0,
       "List(List(Open(2,x) Str(\"a\") Close(2)) List(Open(1) Str(\"b\") Close(1)) "
       "List(Open(2,x) Str(\"c\") Close(2)) List(Open(3,y) Str(\"d\") Close(3)))"},
      {"(?P<N>a)(?P'n'b)", 0,
       "List(List(Open(1,N) Str(\"a\") Close(1)) List(Open(1,n) Str(\"b\") Close(1)))"},
      {"(?<7>a)", 0, "List(Open(7) Str(\"a\") Close(7))"},
      {"(?<x>a)\\k<x>\\k'X'\\g<1>\\k<nope>", 0,
       "List(List(Open(1,x) Str(\"a\") Close(1)) Backref(1,x) Backref(1,X) Backref(1) "
       "Backref(-3,nope))"},
      {"\\k", 0, "Backref(0)"},
      {"\\1234", 0, "List(Backref(123) Str(\"4\"))"},
      {"(a)\\1", kFlagIgnoreCase, "List(List(Open(1) Str/i(\"a\") Close(1)) Backref/i(1))"},
      {"(?<x>a)(?(x)b|c)", 0,
       "List(List(Open(1,x) Str(\"a\") Close(1)) Cond(1,Str(\"b\"),Str(\"c\")))"},
      {"(?(<x>)b)", 0, "Cond(Assert(Str(\"<x>\")),Str(\"b\"),-)"},
      {"(?R<x>)(?<x>a)", 0, "List(Recurse(1,x) List(Open(1,x) Str(\"a\") Close(1)))"},
      {"(?R<zz>)", 0, "Recurse(-3,zz)"},
  });
  RegexEngine engine("(a)(?<x>b)(?<x>c)(d)", 0);
  EXPECT_EQ(engine.MaxGroupNumber(), 3);
}

TEST(RegexCompileTest, MalformedPatternsDegrade) {
  ExpectTrees({
      {"abc)def", 0, "Str(\"abc\")"},
      {"a|b)c", 0, "Alt(Str(\"a\") | Str(\"b\"))"},
      {"(a", 0, "List(Open(1) Str(\"a\") Close(1))"},
      {"(", 0, "List(Open(1) Empty Close(1))"},
      {"(?", 0, "Empty"},
      {"[", 0, "Set()"},
      {"a{", 0, "Empty"},
      {"\\x", 0, "Str(\"x\")"},
  });
  RegexEngine none;
  EXPECT_EQ(none.Dump(), "none");
  none.Compile(nullptr, 5, 0);
  EXPECT_EQ(none.Root(), nullptr);
  EXPECT_FALSE(none.Match("abc").IsMatched());
  const char withNul[] = {'a', '\\', '\0', 'b'};
  none.Compile(withNul, 4, 0);
  EXPECT_EQ(none.Dump(), "Str(\"a\\x00b\")");
}

TEST(RegexCompileTest, RecompileReplacesTheTree) {
  RegexEngine engine("(a)(b)", kFlagIgnoreCase);
  EXPECT_EQ(engine.MaxGroupNumber(), 2);
  engine.Compile("x", 1, 0);
  EXPECT_EQ(engine.Dump(), "Str(\"x\")");
  EXPECT_EQ(engine.MaxGroupNumber(), 0);
  EXPECT_EQ(engine.Flags(), 0);
}

}  // namespace
}  // namespace quarry
