// The element tree as one readable line, for tests and the quarry-regex tool. Each element is
// its kind with its fields in parentheses, e.g. List(Str("ab") Greedy(0,inf,Stock(7))); a
// suffix /r marks a right-to-left element and /i an ignore-case one. Stock elements print as
// Stock(slot) so that sharing is visible. Bytes outside printable ASCII print as \xHH.
#include <cstdio>

#include "harvest/regex/regex_engine.h"
#include "harvest/regex/regex_program.h"

namespace quarry {
namespace {

void AppendByte(std::string& out, int byte, const char* special) {
  const bool printable = byte > 32 && byte < 127;
  bool escape = !printable || byte == '\\';
  for (const char* s = special; *s != '\0'; ++s) escape = escape || byte == *s;
  if (!escape) {
    out.push_back(static_cast<char>(byte));
    return;
  }
  if (byte == ' ' && special[0] == '"') {  // spaces read fine inside quotes
    out.push_back(' ');
    return;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte & 0xFF);
  out += hex;
}

std::string Suffix(bool rightToLeft, bool ignoreCase = false) {
  std::string suffix;
  if (rightToLeft || ignoreCase) suffix = "/";
  if (rightToLeft) suffix += "r";
  if (ignoreCase) suffix += "i";
  return suffix;
}

std::string Bound(int value) { return value == kUnbounded ? "inf" : std::to_string(value); }

std::string Optional(const RegexElement* element) {
  return element != nullptr ? DumpElement(element) : "-";
}

const char* PosixName(PosixTest test) {
  static constexpr const char* kNames[] = {"none",  "alnum", "alpha",  "ascii", "cntrl",
                                           "digit", "graph", "lower",  "print", "punct",
                                           "space", "upper", "xdigit", "blank"};
  return kNames[static_cast<int>(test)];
}

const char* BoundaryName(const BoundaryElement& boundary) {
  switch (boundary.m_boundary) {
    case BoundaryKind::StartOfText: return "StartText";
    case BoundaryKind::EndOfText: return "EndText";
    case BoundaryKind::StartOfLine: return "StartLine";
    case BoundaryKind::EndOfLine: return "EndLine";
    case BoundaryKind::WordBoundary: return boundary.m_positive ? "Word" : "NotWord";
  }
  return "?";
}

std::string WithName(int number, const std::string& name) {
  std::string out = std::to_string(number);
  if (!name.empty()) {
    out += ",";
    for (char c : name) AppendByte(out, static_cast<unsigned char>(c), "(),");
  }
  return out;
}

}  // namespace

std::string DumpElement(const RegexElement* element) {
  if (element == nullptr) return "none";
  if (element->m_stockSlot > 0) return "Stock(" + std::to_string(element->m_stockSlot) + ")";
  switch (element->Kind()) {
    case ElementKind::Empty: return "Empty";
    case ElementKind::String: {
      const auto* string = static_cast<const StringElement*>(element);
      std::string out = "Str" + Suffix(string->m_rightToLeft, string->m_ignoreCase) + "(\"";
      for (char c : string->m_text) AppendByte(out, static_cast<unsigned char>(c), "\"");
      return out + "\")";
    }
    case ElementKind::Charset: {
      const auto* set = static_cast<const CharsetElement*>(element);
      std::string out = (set->m_include ? "Set" : "NotSet") + Suffix(set->m_rightToLeft) + "(";
      std::string members;
      auto separate = [&] {
        if (!members.empty()) members.push_back(' ');
      };
      for (const auto& [low, high] : set->m_ranges) {
        separate();
        AppendByte(members, low, "()-");
        members.push_back('-');
        AppendByte(members, high, "()-");
      }
      for (int single : set->m_singles) {
        separate();
        AppendByte(members, single, "()-");
      }
      for (const RegexElement* nested : set->m_nested) {
        separate();
        members += DumpElement(nested);
      }
      return out + members + ")";
    }
    case ElementKind::PosixClass: {
      const auto* posix = static_cast<const PosixClassElement*>(element);
      return std::string(posix->m_include ? "Posix" : "NotPosix") + Suffix(posix->m_rightToLeft) +
             "(" + PosixName(posix->m_test) + ")";
    }
    case ElementKind::Boundary:
      return std::string("Bound(") + BoundaryName(*static_cast<const BoundaryElement*>(element)) +
             ")";
    case ElementKind::SearchStart: return "SearchStart";
    case ElementKind::GroupMarker: {
      const auto* marker = static_cast<const GroupMarkerElement*>(element);
      return (marker->m_closes ? "Close(" : "Open(") + WithName(marker->m_number, marker->m_name) +
             ")";
    }
    case ElementKind::Backref: {
      const auto* backref = static_cast<const BackrefElement*>(element);
      return "Backref" + Suffix(backref->m_rightToLeft, backref->m_ignoreCase) + "(" +
             WithName(backref->m_number, backref->m_name) + ")";
    }
    case ElementKind::List: {
      const auto* list = static_cast<const ListElement*>(element);
      std::string out = "List" + Suffix(list->m_rightToLeft) + "(";
      for (std::size_t i = 0; i < list->m_elements.size(); ++i) {
        if (i > 0) out.push_back(' ');
        out += DumpElement(list->m_elements[i]);
      }
      return out + ")";
    }
    case ElementKind::Alternative: {
      const auto& branches = static_cast<const AlternativeElement*>(element)->m_branches;
      std::string out = "Alt(";
      for (std::size_t i = 0; i < branches.size(); ++i) {
        if (i > 0) out += " | ";
        out += DumpElement(branches[i]);
      }
      return out + ")";
    }
    case ElementKind::FixedRepeat: {
      const auto* fixed = static_cast<const FixedRepeatElement*>(element);
      return "Fixed(" + std::to_string(fixed->m_count) + "," + DumpElement(fixed->m_sub) + ")";
    }
    case ElementKind::GreedyRepeat:
    case ElementKind::LazyRepeat:
    case ElementKind::PossessiveRepeat: {
      const auto* repeat = static_cast<const RepeatElement*>(element);
      const char* name = element->Kind() == ElementKind::GreedyRepeat ? "Greedy("
                         : element->Kind() == ElementKind::LazyRepeat ? "Lazy("
                                                                      : "Possessive(";
      return name + std::to_string(repeat->m_minimum) + "," + Bound(repeat->Maximum()) + "," +
             DumpElement(repeat->m_sub) + ")";
    }
    case ElementKind::Independent:
      return "Independent(" + DumpElement(static_cast<const IndependentElement*>(element)->m_sub) +
             ")";
    case ElementKind::Assert: {
      const auto* assertion = static_cast<const AssertElement*>(element);
      return (assertion->m_positive ? "Assert(" : "NotAssert(") + DumpElement(assertion->m_sub) +
             ")";
    }
    case ElementKind::Conditional: {
      const auto* conditional = static_cast<const ConditionalElement*>(element);
      const std::string test = conditional->m_number >= 0 ? std::to_string(conditional->m_number)
                                                          : Optional(conditional->m_condition);
      return "Cond(" + test + "," + Optional(conditional->m_yes) + "," +
             Optional(conditional->m_no) + ")";
    }
    case ElementKind::Recursion: {
      const auto* recursion = static_cast<const RecursionElement*>(element);
      return "Recurse(" + WithName(recursion->m_number, recursion->m_name) + ")";
    }
  }
  return "?";
}

}  // namespace quarry
