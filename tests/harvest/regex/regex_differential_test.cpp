// Differential test: the engine against Python's `re` module on generated patterns.
//
// A seeded generator writes random patterns from the part of the dialect that both engines
// read the same way: literals (and escaped punctuation), bracket classes without \s, \d \w \D
// \W and the dot, greedy, lazy and possessive quantifiers, capturing, non-capturing and atomic
// groups, alternation, the anchors ^ $ \A \Z \b \B, back-references to groups already closed,
// look-ahead, and fixed-width look-behind. It steers clear of the places where the two
// dialects differ on purpose: no quantifier over something that can match empty (an empty
// iteration is undone here, captures and all; Python keeps it), no \s (its left-to-right set
// lacks form feed and vertical tab here), no brace forms without a minimum, no letters in
// bracket classes when ignoring case (classes never ignore case here), no possessive marker
// after an exact count (here it has no effect), no LF at the end of a subject unless
// multi-line is on (Python's $ also matches before a final LF), no CR (line starts here also
// follow a lone CR), and no empty subject for \B (Python's \B never matches there).
//
// The seed is fixed; QUARRY_REGEX_DIFF_SEED=N runs another set of cases.
//
// Every pattern is run over a few generated subjects, searching again from the end of each
// match (one byte further after an empty match), and every match and group pair of both
// engines is compared. Python runs once, fed the whole batch through a temporary file.
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/regex/regex_engine.h"

namespace quarry {
namespace {

constexpr std::uint64_t kSeed = 20261207;
constexpr int kPatternCount = 4000;
constexpr int kSubjectsPerPattern = 4;
constexpr int kMaxReportedDisagreements = 25;

constexpr int kDotAll = kFlagDotAll;
constexpr int kMultiLine = kFlagMultiLine;
constexpr int kIgnoreCase = kFlagIgnoreCase;
static_assert(kDotAll == 1 && kMultiLine == 2 && kIgnoreCase == 8, "the reference script's bits");

// A pattern fragment in the engine's text and in the reference's text. They are the same but
// for possessive quantifiers, which the reference gets as atomic groups: Python 3.11's own
// possessive repeat misses matches whose minimum count needs backtracking inside the repeat
// ((?:a+){2,}+ finds nothing in aaaa).
struct Piece {
  std::string text;
  std::string reference;
  bool nullable = false;  // can match the empty string
};

Piece Same(const std::string& text, bool nullable) { return Piece{text, text, nullable}; }

Piece Wrap(const std::string& open, const Piece& inner, bool nullable) {
  return Piece{open + inner.text + ")", open + inner.reference + ")", nullable};
}

// Writes random patterns; recursion follows the generated nesting, which is capped.
class PatternGenerator {
public:
  PatternGenerator(std::mt19937_64& random, int flags) : m_random(random), m_flags(flags) {}

  Piece Generate() {
    m_groups = 0;
    m_closed.clear();
    return Alternation(0);
  }

private:
  static constexpr int kMaxDepth = 3;

  int Pick(int n) { return static_cast<int>(m_random() % static_cast<std::uint64_t>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  bool IgnoringCase() const { return (m_flags & kIgnoreCase) != 0; }

  Piece Alternation(int depth) {
    const int branches = depth < kMaxDepth && Chance(30) ? 2 + Pick(2) : 1;
    Piece out;
    for (int i = 0; i < branches; ++i) {
      Piece branch = Sequence(depth);
      if (i > 0) {
        out.text += '|';
        out.reference += '|';
      }
      out.text += branch.text;
      out.reference += branch.reference;
      out.nullable = out.nullable || branch.nullable;
    }
    return out;
  }

  Piece Sequence(int depth) {
    const int items = 1 + Pick(depth == 0 ? 4 : 3);
    Piece out = Same("", true);
    for (int i = 0; i < items; ++i) {
      Piece item = Item(depth);
      out.text += item.text;
      out.reference += item.reference;
      out.nullable = out.nullable && item.nullable;
    }
    return out;
  }

  Piece Item(int depth) {
    bool quantifiable = true;
    Piece atom = Atom(depth, quantifiable);
    if (!quantifiable || atom.nullable || !Chance(35)) return atom;
    static const char* const kForms[] = {"*", "+", "?", "{2}", "{1,}", "{0,2}", "{1,3}", "{2,}"};
    const int form = Pick(8);
    std::string quantifier = kForms[form];
    const int kind = Pick(10);
    const bool optional = form == 0 || form == 2 || form == 5;
    // An exact count ignores a following + here; in Python it would make the repeat atomic.
    if (kind == 3 && form != 3) {
      return Piece{atom.text + quantifier + '+', "(?>" + atom.reference + quantifier + ")",
                   optional};
    }
    if (kind < 3) quantifier += '?';
    return Piece{atom.text + quantifier, atom.reference + quantifier, optional};
  }

  Piece Atom(int depth, bool& quantifiable) {
    const int roll = Pick(100);
    if (roll < 35) return Same(Literal(), false);
    if (roll < 40) return Same(EscapedPunctuation(), false);
    if (roll < 52) return Same(ClassAtom(), false);
    if (roll < 56) return Same(".", false);
    if (depth >= kMaxDepth) return Same(Literal(), false);
    if (roll < 68) {
      const int group = ++m_groups;
      Piece inner = Alternation(depth + 1);
      m_closed.push_back(group);
      return Wrap("(", inner, inner.nullable);
    }
    if (roll < 74) {
      Piece inner = Alternation(depth + 1);
      return Wrap("(?:", inner, inner.nullable);
    }
    if (roll < 77) {
      Piece inner = Alternation(depth + 1);
      return Wrap("(?>", inner, inner.nullable);
    }
    quantifiable = false;
    if (roll < 84) {
      static const char* const kAnchors[] = {"^", "$", "\\b", "\\B", "\\A", "\\Z"};
      return Same(kAnchors[Pick(6)], true);
    }
    if (roll < 89 && !m_closed.empty()) {
      // Wrapped so that a digit after it cannot join the group number.
      return Same("(?:\\" + std::to_string(m_closed[Pick(static_cast<int>(m_closed.size()))]) + ")",
                  true);
    }
    if (roll < 95) {
      Piece inner = Alternation(depth + 1);
      return Wrap(Chance(50) ? "(?=" : "(?!", inner, true);
    }
    return Same((Chance(50) ? "(?<=" : "(?<!") + FixedWidth() + ")", true);
  }

  // Look-behind body of one width, possibly two branches of that width; no groups.
  std::string FixedWidth() {
    const int width = 1 + Pick(2);
    const int branches = Chance(30) ? 2 : 1;
    std::string out;
    for (int b = 0; b < branches; ++b) {
      if (b > 0) out += '|';
      for (int i = 0; i < width; ++i) {
        const int roll = Pick(10);
        out += roll < 6 ? Literal() : roll < 9 ? ClassAtom() : std::string(".");
      }
    }
    return out;
  }

  std::string Literal() {
    static const char kLetters[] = "aabbcx1 -";
    std::string c(1, kLetters[Pick(9)]);
    if (IgnoringCase() && Chance(30) && c[0] >= 'a' && c[0] <= 'z') c[0] = c[0] - 'a' + 'A';
    return c;
  }

  std::string EscapedPunctuation() {
    static const char kPunct[] = ".*+?()[]{}|^$\\";
    return std::string("\\") + kPunct[Pick(14)];
  }

  std::string ClassAtom() {
    const int roll = Pick(10);
    if (roll < 3) {
      static const char* const kShort[] = {"\\d", "\\w", "\\D", "\\W"};
      return kShort[Pick(4)];
    }
    // Members; letters only when case matters, since classes never fold case here.
    static const char* const kCased[] = {"a",   "b", "c", "x",   "a-c", "b-x", "1", "0-9",
                                         "\\-", " ", ".", "\\d", "(",   "\\w", "*"};
    static const char* const kUncased[] = {"1",   "0-9", "\\-", " ", ".",
                                           "\\d", "(",   "_",   "*", "\\]"};
    std::string out = "[";
    if (Chance(35)) out += '^';
    const int members = 1 + Pick(3);
    for (int i = 0; i < members; ++i) {
      out += IgnoringCase() ? kUncased[Pick(10)] : kCased[Pick(15)];
    }
    return out + "]";
  }

  std::mt19937_64& m_random;
  int m_flags;
  int m_groups = 0;
  std::vector<int> m_closed;
};

// Python's \B never matches in an empty subject; here it does (no word boundary there).
std::string MakeSubject(std::mt19937_64& random, int flags, bool nonEmpty) {
  std::string alphabet = "aaabbbccx11 -._(*";
  alphabet += '\xE4';  // a byte of a multi-byte character: no letter, no digit, no space
  if (flags & kIgnoreCase) alphabet += "ABX";
  if (flags & (kMultiLine | kDotAll)) alphabet += "\n\n";
  const int length = static_cast<int>(random() % 13) + (nonEmpty ? 1 : 0);
  std::string subject;
  for (int i = 0; i < length; ++i) subject += alphabet[random() % alphabet.size()];
  // Without multi-line Python's $ also matches before a final LF; keep LF off the end.
  if (!(flags & kMultiLine) && !subject.empty() && subject.back() == '\n') subject.back() = 'a';
  return subject;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\n') {
      out += "\\n";
    } else if (c < 32 || c >= 127) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Every match of the engine, searching on from each match's end, as "s e s e ...;" per match.
std::string EngineMatches(const std::string& pattern, int flags, const std::string& subject) {
  RegexEngine engine(pattern.c_str(), flags);
  std::string out;
  int start = 0;
  const int length = static_cast<int>(subject.size());
  while (start <= length) {
    const MatchResult result = engine.Match(subject.data(), length, start);
    if (!result.IsMatched()) break;
    const int groups = engine.MaxGroupNumber();
    for (int g = 0; g <= groups; ++g) {
      out += std::to_string(result.Start(g)) + ' ' + std::to_string(result.End(g));
      out += g < groups ? ' ' : ';';
    }
    const int end = result.End(0);
    start = end > result.Start(0) ? end : end + 1;
  }
  return out.empty() ? "none" : out;
}

// The reference: reads "flags pattern-hex subject-hex" lines, writes one line per input line
// in the format of EngineMatches, or "error ..." when Python refuses the pattern.
const char kReferenceScript[] = R"PY(
import re, sys
cache = {}
out = []
for line in open(sys.argv[1]):
    fields = line.split()
    flags, pattern = int(fields[0]), bytes.fromhex(fields[1])
    subject = bytes.fromhex(fields[2]) if len(fields) > 2 else b""
    key = (flags, pattern)
    try:
        if key not in cache:
            py = 0
            if flags & 1: py |= re.DOTALL
            if flags & 2: py |= re.MULTILINE
            if flags & 8: py |= re.IGNORECASE
            cache[key] = re.compile(pattern, py)
        rx = cache[key]
    except re.error as e:
        out.append("error " + str(e))
        continue
    parts = []
    pos = 0
    while pos <= len(subject):
        m = rx.search(subject, pos)
        if not m:
            break
        parts.append(" ".join("%d %d" % m.span(g) for g in range(rx.groups + 1)) + ";")
        pos = m.end() if m.end() > m.start() else m.end() + 1
    out.append("".join(parts) if parts else "none")
sys.stdout.write("\n".join(out) + "\n")
)PY";

struct Case {
  std::string pattern;
  std::string reference;  // the same pattern as Python writes it
  int flags;
  std::string subject;
};

bool HavePython() { return std::system("python3 -c pass >/dev/null 2>&1") == 0; }

std::vector<std::string> RunReference(const std::vector<Case>& cases) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string tag = "quarry_regex_diff_" + std::to_string(::getpid());
  const auto script = dir / (tag + ".py");
  const auto input = dir / (tag + ".txt");
  const auto output = dir / (tag + ".out");
  std::ofstream(script) << kReferenceScript;
  {
    std::ofstream in(input);
    for (const Case& c : cases) {
      in << c.flags << ' ' << Hex(c.reference) << ' ' << Hex(c.subject) << '\n';
    }
  }
  const std::string command =
      "python3 " + script.string() + ' ' + input.string() + " > " + output.string();
  std::vector<std::string> lines;
  if (std::system(command.c_str()) == 0) {
    std::ifstream out(output);
    for (std::string line; std::getline(out, line);) lines.push_back(line);
  }
  std::filesystem::remove(script);
  std::filesystem::remove(input);
  std::filesystem::remove(output);
  return lines;
}

std::vector<Case> GenerateCases() {
  const char* seed = std::getenv("QUARRY_REGEX_DIFF_SEED");
  std::mt19937_64 random(seed && *seed ? std::strtoull(seed, nullptr, 10) : kSeed);
  static const int kFlagChoices[] = {
      0, 0, 0, kIgnoreCase, kMultiLine, kDotAll, kMultiLine | kIgnoreCase};
  std::vector<Case> cases;
  for (int p = 0; p < kPatternCount; ++p) {
    const int flags = kFlagChoices[random() % 7];
    PatternGenerator generator(random, flags);
    const Piece pattern = generator.Generate();
    for (int s = 0; s < kSubjectsPerPattern; ++s) {
      const bool nonEmpty = pattern.text.find("\\B") != std::string::npos;
      cases.push_back(
          {pattern.text, pattern.reference, flags, MakeSubject(random, flags, nonEmpty)});
    }
  }
  return cases;
}

TEST(RegexDifferentialTest, AgreesWithPythonOnGeneratedPatterns) {
  if (!HavePython()) GTEST_SKIP() << "python3 is not installed: the reference is missing";
  const std::vector<Case> cases = GenerateCases();
  const std::vector<std::string> expected = RunReference(cases);
  ASSERT_EQ(expected.size(), cases.size()) << "the python3 reference run failed";

  struct Disagreement {
    const Case* c;
    std::string want;
    std::string got;
  };
  std::vector<Disagreement> disagreements;
  int refused = 0;
  std::size_t matched = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    if (expected[i].rfind("error", 0) == 0) {
      ++refused;
      ADD_FAILURE() << "generator wrote a pattern Python refuses: " << Printable(c.reference)
                    << " (" << expected[i] << ")";
      continue;
    }
    const std::string got = EngineMatches(c.pattern, c.flags, c.subject);
    if (got != expected[i]) disagreements.push_back({&c, expected[i], got});
    if (expected[i] != "none") ++matched;
  }
  // Shortest first: those are the easiest to read.
  std::stable_sort(disagreements.begin(), disagreements.end(), [](const auto& a, const auto& b) {
    return a.c->pattern.size() + a.c->subject.size() < b.c->pattern.size() + b.c->subject.size();
  });
  std::ostringstream report;
  for (std::size_t i = 0; i < disagreements.size() && i < kMaxReportedDisagreements; ++i) {
    const Disagreement& d = disagreements[i];
    report << "  flags " << d.c->flags << "  pattern " << Printable(d.c->pattern) << "  subject \""
           << Printable(d.c->subject) << "\"\n    python: " << d.want << "\n    engine: " << d.got
           << '\n';
  }
  EXPECT_TRUE(disagreements.empty())
      << disagreements.size() << " of " << cases.size() << " searches disagree; shortest:\n"
      << report.str();
  EXPECT_EQ(refused, 0);
  // A generator that stopped producing matches would compare nothing of interest.
  EXPECT_GT(matched, cases.size() / 5) << matched << " of " << cases.size() << " searches match";
}

}  // namespace
}  // namespace quarry
