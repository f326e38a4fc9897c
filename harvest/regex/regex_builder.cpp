// The builder: a recursive-descent parser over the scanner's tokens with four levels. An
// Alternative is Lists joined by |; a List is a run of Repeats; a Repeat is a Simple followed by
// an optional quantifier; a Simple is a run of literal characters or one construct (boundary,
// class, back-reference, group). Option settings such as (?i) change the flags of the enclosing
// Alternative from there on, so flags travel by reference below the Alternative level.
// The builder never backs up in the pattern. Its recursion follows the nesting of groups and is
// bounded by kMaxNesting: a group opened deeper than that ends the pattern there, as if the
// pattern stopped, so no input can exhaust the stack.
#include "harvest/regex/regex_builder.h"

namespace quarry {
namespace regex_builder {

RegexElement* RegexBuilder::Alternative(int flags) {
  if (Current().IsEnd()) return Empty();
  RegexElement* first = List(flags);
  if (!Current().IsMeta('|')) return first;
  auto* alternative = m_program.Make<AlternativeElement>();
  alternative->m_branches.push_back(first);
  while (Current().IsMeta('|')) {
    Advance();
    alternative->m_branches.push_back(List(flags));
  }
  return alternative;
}

RegexElement* RegexBuilder::List(int& flags) {
  if (AtListEnd()) return Empty();
  RegexElement* first = Repeat(flags);
  if (AtListEnd()) return first;
  auto* list = m_program.Make<ListElement>(RightToLeft(flags));
  list->m_elements.push_back(first);
  while (!AtListEnd()) list->m_elements.push_back(Repeat(flags));
  return list;
}

namespace {

// Parses the text between braces: [ws] digits [ws] [, [ws] [digits]]. Only 3 digits of a number
// count; whatever follows them is ignored.
void ParseBraces(const std::string& text, int& minimum, int& maximum) {
  std::size_t at = 0;
  auto skipSpace = [&] {
    while (at < text.size() && IsSpaceByte(static_cast<unsigned char>(text[at]))) ++at;
  };
  auto readNumber = [&](int& value) {
    int digits = 0;
    value = 0;
    while (at < text.size() && IsDigit(text[at]) && digits < kMaxDigits) {
      value = value * 10 + (text[at] - '0');
      ++digits;
      ++at;
    }
    return digits;
  };
  skipSpace();
  if (readNumber(minimum) == 0) {
    minimum = maximum = 0;
    return;
  }
  maximum = minimum;
  if (at < text.size() && IsDigit(text[at])) return;  // a fourth digit: the rest is ignored
  skipSpace();
  if (at >= text.size() || text[at] != ',') return;
  ++at;
  skipSpace();
  int upper = 0;
  if (readNumber(upper) == 0) {
    maximum = kUnbounded;
    return;
  }
  maximum = upper < minimum ? minimum : upper;
}

}  // namespace

RegexElement* RegexBuilder::Repeat(int& flags) {
  RegexElement* atom = Simple(flags);
  if (!Current().m_meta || Current().IsEnd()) return atom;
  int minimum = 0;
  int maximum = kUnbounded;
  bool braces = false;
  switch (Current().m_char) {
    case '*': Advance(); break;
    case '+':
      minimum = 1;
      Advance();
      break;
    case '?':
      maximum = 1;
      Advance();
      break;
    case '{': {
      braces = true;
      Advance();
      std::string text;
      while (!Current().IsEnd() && !Current().IsMeta('}')) {
        text.push_back(static_cast<char>(Current().m_char));
        Advance();
      }
      Advance();
      ParseBraces(text, minimum, maximum);
      break;
    }
    default: return atom;
  }
  if (braces) {
    if (maximum == 0) return Empty();
    if (minimum == maximum) {
      if (Current().IsMeta('?') || Current().IsMeta('+')) Advance();
      return m_program.Make<FixedRepeatElement>(atom, minimum);
    }
  }
  const int extra = maximum - minimum;
  if (Current().IsMeta('?')) {
    Advance();
    return m_program.Make<LazyRepeatElement>(atom, minimum, extra);
  }
  if (Current().IsMeta('+')) {
    Advance();
    return m_program.Make<PossessiveRepeatElement>(atom, minimum, extra);
  }
  return m_program.Make<GreedyRepeatElement>(atom, minimum, extra);
}

RegexElement* RegexBuilder::Simple(int& flags) {
  std::string run;
  while (!Current().IsEnd()) {
    const PatternToken& token = Current();
    if (token.m_meta) {
      if (token.m_char == ')' || token.m_char == '|' || !run.empty()) break;
      switch (token.m_char) {
        case '$':
        case 'A':
        case 'B':
        case 'G':
        case 'Z':
        case '^':
        case 'b': return Boundary(flags);
        case '(': return Group(flags);
        case '.':
        case 'D':
        case 'S':
        case 'W':
        case '[':
        case 'd':
        case 's':
        case 'w': return Charset(flags);
        case '\\':
        case 'g':
        case 'k': return Backref(flags);
        default:
          // A quantifier or } with nothing before it stands for itself.
          run.push_back(static_cast<char>(token.m_char));
          Advance();
          continue;
      }
    }
    const PatternToken& next = m_scanner.Next();
    if (next.IsMeta('{') || next.IsMeta('?') || next.IsMeta('*') || next.IsMeta('+')) {
      // The quantifier binds to this one character alone.
      if (run.empty()) {
        run.push_back(static_cast<char>(token.m_char));
        Advance();
      }
      break;
    }
    run.push_back(static_cast<char>(token.m_char));
    Advance();
  }
  if (run.empty()) return Empty();
  return m_program.Make<StringElement>(std::move(run), RightToLeft(flags),
                                       (flags & kFlagIgnoreCase) != 0);
}

RegexElement* RegexBuilder::Boundary(int flags) {
  Advance();
  const bool multiLine = (flags & kFlagMultiLine) != 0;
  switch (m_scanner.Previous().m_char) {
    case '^':
      return m_program.Make<BoundaryElement>(
          multiLine ? BoundaryKind::StartOfLine : BoundaryKind::StartOfText, true);
    case '$':
      return m_program.Make<BoundaryElement>(
          multiLine ? BoundaryKind::EndOfLine : BoundaryKind::EndOfText, true);
    case 'A': return m_program.Make<BoundaryElement>(BoundaryKind::StartOfText, true);
    case 'Z': return m_program.Make<BoundaryElement>(BoundaryKind::EndOfText, true);
    case 'b': return m_program.Make<BoundaryElement>(BoundaryKind::WordBoundary, true);
    case 'B': return m_program.Make<BoundaryElement>(BoundaryKind::WordBoundary, false);
    default:  // G
      if (flags & kFlagSearchStart) return m_program.Make<SearchStartElement>();
      return Empty();
  }
}

RegexElement* RegexBuilder::Charset(int flags) {
  Advance();
  switch (m_scanner.Previous().m_char) {
    case '.': return StockFor((flags & kFlagDotAll) ? 1 : 2, flags);
    case 'd': return StockFor(7, flags);
    case 'D': return StockFor(8, flags);
    case 'w': return StockFor(3, flags);
    case 'W': return StockFor(4, flags);
    case 's': return StockFor(5, flags);
    case 'S': return StockFor(6, flags);
    default:  // [
      if (Current().IsMeta(':')) return PosixClass(flags);
      return BracketClass(flags);
  }
}

RegexElement* RegexBuilder::BracketClass(int flags) {
  bool negated = false;
  if (Current().IsMeta('^')) {
    negated = true;
    Advance();
  }
  auto* set = m_program.Make<CharsetElement>(RightToLeft(flags), !negated);
  while (!Current().IsEnd() && !Current().IsMeta(']')) {
    const PatternToken& token = Current();
    const bool nested =
        token.m_meta &&
        ((token.m_char == '[' && m_scanner.Next().IsMeta(':')) || token.m_char == '.' ||
         token.m_char == 'D' || token.m_char == 'S' || token.m_char == 'W' || token.m_char == 'd' ||
         token.m_char == 's' || token.m_char == 'w');
    if (nested) {
      set->m_nested.push_back(Charset(flags));
      continue;
    }
    const int low = token.m_char;
    if (m_scanner.Next().IsMeta('-') && !m_scanner.NextButOne().m_meta) {
      set->m_ranges.emplace_back(low, m_scanner.NextButOne().m_char);
      Advance();
      Advance();
    } else {
      set->m_singles.push_back(low);
    }
    Advance();
  }
  Advance();
  set->Finish();
  return set;
}

RegexElement* RegexBuilder::PosixClass(int flags) {
  std::string text;
  while (!Current().IsEnd() && !Current().IsMeta(']')) {
    text.push_back(static_cast<char>(Current().m_char));
    Advance();
  }
  Advance();
  // text begins with the colon; a ^ after it negates.
  std::size_t at = 1;
  bool include = true;
  if (at < text.size() && text[at] == '^') {
    include = false;
    ++at;
  }
  static constexpr const char* kNames[] = {
      "alnum:", "alpha:", "ascii:", "cntrl:", "digit:",  "graph:", "lower:",
      "print:", "punct:", "space:", "upper:", "xdigit:", "blank:"};
  const std::string rest = text.substr(at < text.size() ? at : text.size());
  PosixTest test = PosixTest::None;
  for (int i = 0; i < 13; ++i) {
    if (rest.rfind(kNames[i], 0) == 0) {
      test = static_cast<PosixTest>(i + 1);
      break;
    }
  }
  return m_program.Make<PosixClassElement>(test, RightToLeft(flags), include);
}

}  // namespace regex_builder

RegexElement* RegexProgram::Stock(int slot) {
  if (slot < 0 || slot >= kStockSlots) slot = 0;
  if (m_stock[slot] != nullptr) return m_stock[slot];
  RegexElement* element;
  if (slot == 0) {
    element = Make<EmptyElement>();
  } else {
    const bool rightToLeft = slot >= 9;
    const int kind =
        rightToLeft ? slot - 8 : slot;  // 1 any, 2 not LF, 3/4 \w\W, 5/6 \s\S, 7/8 \d\D
    const bool include = kind == 3 || kind == 5 || kind == 7;
    auto* set = Make<CharsetElement>(rightToLeft, include);
    switch (kind) {
      case 2: set->m_singles = {'\n'}; break;
      case 3:
      case 4:
        set->m_ranges = {{'A', 'Z'}, {'a', 'z'}, {'0', '9'}};
        set->m_singles = {'_'};
        break;
      case 5:
      case 6:
        // Right to left, \s also takes form feed and vertical tab.
        set->m_singles = {' ', '\t', '\r', '\n'};
        if (rightToLeft) set->m_singles.insert(set->m_singles.end(), {'\f', '\v'});
        break;
      case 7:
      case 8: set->m_ranges = {{'0', '9'}}; break;
      default: break;  // 1: the negated empty class
    }
    set->Finish();
    element = set;
  }
  element->m_stockSlot = slot;
  m_stock[slot] = element;
  return element;
}

void BuildPattern(RegexProgram& program, const char* pattern, int length, int flags) {
  regex_builder::RegexBuilder builder(program, pattern, length, flags);
  program.m_groupTable.assign(1, nullptr);
  program.m_root = builder.Build(flags);
  program.m_numberedGroups = builder.NumberedGroups();
}

}  // namespace quarry
