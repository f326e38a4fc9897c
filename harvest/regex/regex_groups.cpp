// The constructs of a pattern that open with a parenthesis (groups, option settings, named
// groups, recursions, conditionals) and back-references; see regex_builder.h.
#include "harvest/regex/regex_builder.h"

namespace quarry::regex_builder {
namespace {

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

}  // namespace

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

}  // namespace quarry::regex_builder
