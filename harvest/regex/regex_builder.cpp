// The builder: a recursive-descent parser over the scanner's tokens with four levels. An
// Alternative is Lists joined by |; a List is a run of Repeats; a Repeat is a Simple followed by
// an optional quantifier; a Simple is a run of literal characters or one construct (boundary,
// class, back-reference, group). Option settings such as (?i) change the flags of the enclosing
// Alternative from there on, so flags travel by reference below the Alternative level.
// The builder never backs up in the pattern. Its recursion follows the nesting of groups and is
// bounded by kMaxNesting: a group opened deeper than that ends the pattern there, as if the
// pattern stopped, so no input can exhaust the stack.
#include <string>

#include "harvest/regex/regex_engine.h"
#include "harvest/regex/regex_program.h"
#include "harvest/regex/regex_scanner.h"

namespace quarry {
namespace {

constexpr int kMaxNesting = 200;  // deepest group nesting the builder follows
constexpr int kMaxDigits = 3;     // repeat bounds, group numbers and back-references

bool IsSpaceByte(int ch) { return (ch >= 9 && ch <= 13) || ch == ' '; }
bool IsDigit(int ch) { return ch >= '0' && ch <= '9'; }

// A name that is 1 to 3 decimal digits, white space around allowed, is a group number.
bool SmallNumber(const std::string& text, int& number) {
  std::size_t at = 0;
  while (at < text.size() && IsSpaceByte(static_cast<unsigned char>(text[at]))) ++at;
  int digits = 0;
  int value = 0;
  while (at < text.size() && IsDigit(text[at]) && digits < kMaxDigits) {
    value = value * 10 + (text[at] - '0');
    ++digits;
    ++at;
  }
  while (at < text.size() && IsSpaceByte(static_cast<unsigned char>(text[at]))) ++at;
  if (digits == 0 || at != text.size()) return false;
  number = value;
  return true;
}

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

RegexElement* RegexBuilder::Backref(int flags) {
  Advance();
  int number = 0;
  std::string name;
  bool byName = false;
  const int opener = Current().m_char;
  if (!Current().IsEnd() && (opener == '<' || opener == '\'')) {
    Advance();
    name = ReadName(opener == '<' ? '>' : '\'');
    byName = !SmallNumber(name, number);
    if (!byName) name.clear();
  } else {
    for (int digits = 0; digits < kMaxDigits && !Current().IsEnd() && IsDigit(Current().m_char) &&
                         !Current().m_meta;
         ++digits) {
      number = number * 10 + (Current().m_char - '0');
      Advance();
    }
  }
  auto* backref = m_program.Make<BackrefElement>(byName ? -3 : number, RightToLeft(flags),
                                                 (flags & kFlagIgnoreCase) != 0);
  if (byName) {
    backref->m_name = std::move(name);
    m_program.m_pendingBackrefs.push_back(backref);
  }
  return backref;
}

ListElement* RegexBuilder::CaptureList(GroupMarkerElement*& left, GroupMarkerElement*& right,
                                       int number, int flags) {
  // Right to left, the right-hand marker is met first and opens the capture.
  const bool rightToLeft = RightToLeft(flags);
  left = m_program.Make<GroupMarkerElement>(number, rightToLeft);
  right = m_program.Make<GroupMarkerElement>(number, !rightToLeft);
  return m_program.Make<ListElement>(rightToLeft);
}

RegexElement* RegexBuilder::Group(int& flags) {
  if (m_depth >= kMaxNesting) {
    m_scanner.EndPattern();
    return Empty();
  }
  struct DepthGuard {
    int& depth;
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
  } guard(m_depth);

  Advance();
  if (!Current().IsMeta('?')) {
    const int number = ++m_numberedGroups;
    GroupMarkerElement* left;
    GroupMarkerElement* right;
    ListElement* list = CaptureList(left, right, number, flags);
    RegexElement* body = Alternative(flags);
    list->m_elements = {left, body, right};
    if (static_cast<int>(m_program.m_groupTable.size()) <= number) {
      m_program.m_groupTable.resize(number + 1, nullptr);
    }
    m_program.m_groupTable[number] = list;
    Advance();
    return list;
  }
  Advance();
  const PatternToken& token = Current();
  const int ch = token.IsEnd() ? 0 : token.m_char;
  const int next = m_scanner.Next().m_char;
  if (ch == '!' || ch == '=') {
    Advance();
    RegexElement* body = Alternative(flags & ~kFlagRightToLeft);
    Advance();
    return m_program.Make<AssertElement>(body, ch == '=');
  }
  if (ch == '<' && (next == '!' || next == '=')) {
    Advance();
    Advance();
    // The look-behind matches backwards from the current position.
    RegexElement* body = Alternative(flags | kFlagRightToLeft);
    Advance();
    return m_program.Make<AssertElement>(body, next == '=');
  }
  if (ch == '<' || ch == '\'' || (ch == 'P' && (next == '<' || next == '\''))) {
    return NamedGroupOf(flags);
  }
  if (ch == '>') {
    Advance();
    RegexElement* body = Alternative(flags);
    Advance();
    return m_program.Make<IndependentElement>(body);
  }
  if (token.IsMeta('(')) return Conditional(flags);
  if (ch == 'R') {
    Advance();
    while (!Current().IsEnd() && !Current().m_meta && IsSpaceByte(Current().m_char)) Advance();
    return RecursionByNumberOrName();
  }
  return OptionSetting(flags);
}

// (?imsg-imsg) changes the flags for the rest of the enclosing Alternative; (?i:...) and
// (?i(...)) apply them to a group of their own. A digit instead starts a recursion by number.
RegexElement* RegexBuilder::OptionSetting(int& flags) {
  while (!Current().IsEnd() && !Current().m_meta && IsSpaceByte(Current().m_char)) Advance();
  if (!Current().IsEnd() && !Current().m_meta && IsDigit(Current().m_char)) {
    return RecursionByNumberOrName();
  }
  int changed = flags;
  bool clear = false;
  while (!Current().IsEnd() && !Current().IsMeta(')') && !Current().IsMeta('(') &&
         Current().m_char != ':') {
    int bit = 0;
    switch (Current().m_char) {
      case '-': clear = true; break;
      case 'i':
      case 'I': bit = kFlagIgnoreCase; break;
      case 'm':
      case 'M': bit = kFlagMultiLine; break;
      case 's':
      case 'S': bit = kFlagDotAll; break;
      case 'g':
      case 'G': bit = kFlagSearchStart; break;
      default: break;
    }
    changed = clear ? (changed & ~bit) : (changed | bit);
    Advance();
  }
  if (!Current().IsEnd() && Current().m_char == ':') {
    Advance();
    RegexElement* body = Alternative(changed);
    Advance();
    return body;
  }
  if (Current().IsMeta('(')) {
    RegexElement* body = Alternative(changed);
    Advance();
    return body;
  }
  flags = changed;  // holds to the end of the enclosing Alternative
  Advance();
  return Empty();
}

RegexElement* RegexBuilder::NamedGroupOf(int flags) {
  if (Current().m_char == 'P') Advance();
  const int terminator = Current().m_char == '<' ? '>' : '\'';
  Advance();
  GroupMarkerElement* left;
  GroupMarkerElement* right;
  ListElement* list = CaptureList(left, right, -1, flags);
  GroupMarkerElement* opening = RightToLeft(flags) ? right : left;
  GroupMarkerElement* closing = opening == left ? right : left;
  std::string name = ReadName(terminator);
  int number = 0;
  if (SmallNumber(name, number)) {
    left->m_number = right->m_number = number;
  } else {
    opening->m_name = std::move(name);
  }
  RegexElement* body = Alternative(flags);
  list->m_elements = {left, body, right};
  m_program.m_namedGroups.push_back({list, opening, closing});
  Advance();
  return list;
}

RegexElement* RegexBuilder::RecursionByNumberOrName() {
  int number = 0;
  std::string name;
  const int opener = Current().IsEnd() ? 0 : Current().m_char;
  if (opener == '<' || opener == '\'') {
    Advance();
    name = ReadName(opener == '<' ? '>' : '\'');
    if (SmallNumber(name, number)) {
      name.clear();
    } else {
      number = -3;
    }
  } else {
    std::string text;
    while (!Current().IsEnd() && !Current().IsMeta(')')) {
      text.push_back(static_cast<char>(Current().m_char));
      Advance();
    }
    std::size_t at = 0;
    while (at < text.size() && IsSpaceByte(static_cast<unsigned char>(text[at]))) ++at;
    for (int digits = 0; digits < kMaxDigits && at < text.size() && IsDigit(text[at]);
         ++digits, ++at) {
      number = number * 10 + (text[at] - '0');
    }
  }
  auto* recursion = m_program.Make<RecursionElement>(number, std::move(name));
  m_program.m_pendingRecursions.push_back(recursion);
  Advance();
  return recursion;
}

RegexElement* RegexBuilder::Conditional(int flags) {
  auto* conditional = m_program.Make<ConditionalElement>();
  if (m_scanner.Next().IsMeta('?')) {
    int conditionFlags = flags;  // an option setting in the condition stays inside it
    conditional->m_condition = Group(conditionFlags);
  } else {
    Advance();
    const int from = Current().m_position;
    RegexElement* body = Alternative(flags);
    const int to = Current().m_position;
    std::string name(m_scanner.Pattern() + from, to > from ? to - from : 0);
    int number = 0;
    if (SmallNumber(name, number)) {
      conditional->m_number = number;  // a capture test; the assertion is dropped
    } else {
      conditional->m_condition = m_program.Make<AssertElement>(body, true);
      conditional->m_name = std::move(name);
      m_program.m_pendingConditions.push_back(conditional);
    }
    Advance();
  }
  int yesFlags = flags;
  conditional->m_yes = List(yesFlags);
  if (Current().IsMeta('|')) {
    Advance();
    conditional->m_no = Alternative(flags);
  }
  Advance();
  return conditional;
}

}  // namespace

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
  RegexBuilder builder(program, pattern, length, flags);
  program.m_groupTable.assign(1, nullptr);
  program.m_root = builder.Build(flags);
  program.m_numberedGroups = builder.NumberedGroups();
}

}  // namespace quarry
