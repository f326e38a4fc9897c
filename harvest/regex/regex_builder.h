// The builder of the regex engine, shared by its two source files: regex_builder.cpp parses
// alternatives, lists, repeats and the simple constructs; regex_groups.cpp parses the
// constructs that open with a parenthesis (groups, option settings, recursions, conditionals)
// and back-references. See regex_builder.cpp for the grammar.
#pragma once

#include <string>

#include "harvest/regex/regex_engine.h"
#include "harvest/regex/regex_program.h"
#include "harvest/regex/regex_scanner.h"

namespace quarry::regex_builder {

inline constexpr int kMaxNesting = 200;  // deepest group nesting the builder follows
inline constexpr int kMaxDigits = 3;     // repeat bounds, group numbers and back-references

inline bool IsSpaceByte(int ch) { return (ch >= 9 && ch <= 13) || ch == ' '; }
inline bool IsDigit(int ch) { return ch >= '0' && ch <= '9'; }

class RegexBuilder {
public:
  RegexBuilder(RegexProgram& program, const char* pattern, int length, int flags)
      : m_program(program), m_scanner(pattern, length, flags) {}

  RegexElement* Build(int flags) {
    m_scanner.Advance();
    m_scanner.Advance();
    m_scanner.Advance();
    // An unmatched ) makes the top-level Alternative return: the rest is ignored.
    return Alternative(flags);
  }

  int NumberedGroups() const { return m_numberedGroups; }

private:
  const PatternToken& Current() const { return m_scanner.Current(); }
  void Advance() { m_scanner.Advance(); }
  bool AtListEnd() const {
    return Current().IsEnd() || Current().IsMeta('|') || Current().IsMeta(')');
  }
  RegexElement* Empty() { return m_program.Stock(0); }
  RegexElement* StockFor(int leftSlot, int flags) {
    return m_program.Stock((flags & kFlagRightToLeft) ? leftSlot + 8 : leftSlot);
  }
  static bool RightToLeft(int flags) { return (flags & kFlagRightToLeft) != 0; }

  // Reads token characters up to `terminator` (or the end) and advances past the terminator.
  std::string ReadName(int terminator) {
    std::string name;
    while (!Current().IsEnd() && Current().m_char != terminator) {
      name.push_back(static_cast<char>(Current().m_char));
      Advance();
    }
    Advance();
    return name;
  }

  RegexElement* Alternative(int flags);
  RegexElement* List(int& flags);
  RegexElement* Repeat(int& flags);
  RegexElement* Simple(int& flags);
  RegexElement* Boundary(int flags);
  RegexElement* Charset(int flags);
  RegexElement* BracketClass(int flags);
  RegexElement* PosixClass(int flags);
  RegexElement* Backref(int flags);
  RegexElement* Group(int& flags);
  RegexElement* OptionSetting(int& flags);
  RegexElement* NamedGroupOf(int flags);
  RegexElement* RecursionByNumberOrName();
  RegexElement* Conditional(int flags);
  ListElement* CaptureList(GroupMarkerElement*& left, GroupMarkerElement*& right, int number,
                           int flags);

  RegexProgram& m_program;
  RegexScanner m_scanner;
  int m_numberedGroups = 0;
  int m_depth = 0;
};

}  // namespace quarry::regex_builder
