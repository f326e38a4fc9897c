// Match and MatchNext of the elements that consume fixed text or mark places: strings, classes,
// boundaries, group markers and back-references, and of the two sequencing elements, lists and
// alternatives. A list keeps no state of its own: its members' entries lie on the backtrack
// stack in order, so backing up is "ask the last matched member for its next way". Repeats,
// look-around, conditionals and recursion are in regex_repeat.cpp.
#include <algorithm>

#include "harvest/regex/regex_elements.h"

namespace quarry {
namespace {

unsigned char UpperByte(unsigned char byte) {
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

bool IsWordByte(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '_';
}

// Compares `length` bytes of the subject at `at` with `text`, optionally ignoring case.
bool SameBytes(const unsigned char* subject, int at, const unsigned char* text, int length,
               bool ignoreCase) {
  for (int i = 0; i < length; ++i) {
    const unsigned char a = subject[at + i];
    const unsigned char b = text[i];
    if (a != b && (!ignoreCase || UpperByte(a) != UpperByte(b))) return false;
  }
  return true;
}

bool PosixHas(PosixTest test, unsigned char byte) {
  const bool upper = byte >= 'A' && byte <= 'Z';
  const bool lower = byte >= 'a' && byte <= 'z';
  const bool digit = byte >= '0' && byte <= '9';
  const bool graph = byte >= 33 && byte <= 126;
  switch (test) {
    case PosixTest::None: return false;
    case PosixTest::Alnum: return upper || lower || digit;
    case PosixTest::Alpha: return upper || lower;
    case PosixTest::Ascii: return byte < 128;
    case PosixTest::Cntrl: return byte < 32 || byte == 127;
    case PosixTest::Digit: return digit;
    case PosixTest::Graph: return graph;
    case PosixTest::Lower: return lower;
    case PosixTest::Print: return byte >= 32 && byte <= 126;
    case PosixTest::Punct: return graph && !(upper || lower || digit);
    case PosixTest::Space: return (byte >= 9 && byte <= 13) || byte == 32;
    case PosixTest::Upper: return upper;
    case PosixTest::Xdigit:
      return digit || (byte >= 'A' && byte <= 'F') || (byte >= 'a' && byte <= 'f');
    case PosixTest::Blank: return byte == ' ' || byte == '\t';
  }
  return false;
}

// Shared by classes: tests the byte before or at the position and steps over it.
bool MatchOneByte(const RegexElement& element, MatchContext& context) {
  const int at = element.m_rightToLeft ? context.m_position - 1 : context.m_position;
  if (at < 0 || at >= context.m_length) return false;
  if (!element.m_bytes.Has(context.m_subject[at])) return false;
  context.m_position += element.m_rightToLeft ? -1 : 1;
  return true;
}

bool UndoOneByte(const RegexElement& element, MatchContext& context) {
  context.m_position += element.m_rightToLeft ? 1 : -1;
  return false;
}

}  // namespace

StringElement::StringElement(std::string text, bool rightToLeft, bool ignoreCase)
    : RegexElement(ElementKind::String), m_text(std::move(text)), m_ignoreCase(ignoreCase) {
  m_rightToLeft = rightToLeft;
  if (m_text.size() == 1) {
    const auto byte = static_cast<unsigned char>(m_text[0]);
    m_singleByte = true;
    m_bytes.Add(byte);
    if (ignoreCase) {
      for (int other = 0; other < 256; ++other) {
        if (UpperByte(static_cast<unsigned char>(other)) == UpperByte(byte)) {
          m_bytes.Add(static_cast<unsigned char>(other));
        }
      }
    }
  }
}

bool StringElement::Match(MatchContext& context) const {
  const int length = static_cast<int>(m_text.size());
  const auto* text = reinterpret_cast<const unsigned char*>(m_text.data());
  if (m_rightToLeft) {
    if (context.m_position < length) return false;
    if (!SameBytes(context.m_subject, context.m_position - length, text, length, m_ignoreCase)) {
      return false;
    }
    context.m_position -= length;
  } else {
    if (length > context.m_length - context.m_position) return false;
    if (!SameBytes(context.m_subject, context.m_position, text, length, m_ignoreCase)) {
      return false;
    }
    context.m_position += length;
  }
  return true;
}

bool StringElement::MatchNext(MatchContext& context) const {
  const int length = static_cast<int>(m_text.size());
  context.m_position += m_rightToLeft ? length : -length;
  return false;
}

CharsetElement::CharsetElement(bool rightToLeft, bool include)
    : RegexElement(ElementKind::Charset), m_include(include) {
  m_rightToLeft = rightToLeft;
  m_singleByte = true;
}

void CharsetElement::Finish() {
  ByteSet set;
  for (int byte = 0; byte < 256; ++byte) {
    // Ranges compare bytes as signed values: bytes 128..255 sort below 0.
    const int value = static_cast<signed char>(byte);
    for (const auto& [low, high] : m_ranges) {
      if (static_cast<signed char>(low) <= value && value <= static_cast<signed char>(high)) {
        set.Add(static_cast<unsigned char>(byte));
        break;
      }
    }
  }
  for (int single : m_singles) set.Add(static_cast<unsigned char>(single));
  for (const RegexElement* nested : m_nested) {
    if (const ByteSet* nestedSet = nested->SingleByteSet()) set.AddAll(*nestedSet);
  }
  if (!m_include) set.Invert();
  m_bytes = set;
}

bool CharsetElement::Match(MatchContext& context) const { return MatchOneByte(*this, context); }
bool CharsetElement::MatchNext(MatchContext& context) const { return UndoOneByte(*this, context); }

PosixClassElement::PosixClassElement(PosixTest test, bool rightToLeft, bool include)
    : RegexElement(ElementKind::PosixClass), m_test(test), m_include(include) {
  m_rightToLeft = rightToLeft;
  m_singleByte = true;
  // A class without a test never matches, negated or not.
  if (test == PosixTest::None) return;
  for (int byte = 0; byte < 256; ++byte) {
    if (PosixHas(test, static_cast<unsigned char>(byte)) == include) {
      m_bytes.Add(static_cast<unsigned char>(byte));
    }
  }
}

bool PosixClassElement::Match(MatchContext& context) const { return MatchOneByte(*this, context); }
bool PosixClassElement::MatchNext(MatchContext& context) const {
  return UndoOneByte(*this, context);
}

bool BoundaryElement::Match(MatchContext& context) const {
  const int position = context.m_position;
  const unsigned char prev = position > 0 ? context.m_subject[position - 1] : 0;
  const unsigned char next = position < context.m_length ? context.m_subject[position] : 0;
  switch (m_boundary) {
    case BoundaryKind::StartOfText: return position <= 0;
    case BoundaryKind::EndOfText: return position >= context.m_length;
    case BoundaryKind::StartOfLine:
      return position <= 0 || prev == '\n' || (prev == '\r' && next != '\n');
    case BoundaryKind::EndOfLine:
      return position >= context.m_length || next == '\r' || (next == '\n' && prev != '\r');
    case BoundaryKind::WordBoundary: return (IsWordByte(prev) != IsWordByte(next)) == m_positive;
  }
  return false;
}

// Capture records are (group, start, end, re-entry depth). An opening marker that finds its
// group's latest record still open is being re-entered by recursion and only counts that.
bool GroupMarkerElement::Match(MatchContext& context) const {
  const int n = m_number;
  if (n < 0) return false;
  auto& index = context.m_captureIndex;
  auto& records = context.m_captures;
  if (static_cast<int>(index.size()) <= n) index.resize(n + 1, -1);
  const int record = index[n];
  const bool live = record >= 0 && record < context.CaptureSize();
  if (!m_closes) {
    if (live && record > 0 && records[record + 2] == -1) {
      --records[record + 3];
      return true;
    }
    index[n] = context.CaptureSize();
    records.insert(records.end(), {n, context.m_position, -1, 0});
    return true;
  }
  if (!live) return true;  // nothing open to close; leaves no trace to undo
  if (records[record + 3] < 0) {
    ++records[record + 3];
  } else {
    records[record + 2] = context.m_position;
  }
  return true;
}

bool GroupMarkerElement::MatchNext(MatchContext& context) const {
  const int n = m_number;
  if (n < 0 || n >= static_cast<int>(context.m_captureIndex.size())) return false;
  const int record = context.m_captureIndex[n];
  if (record < 0 || record >= context.CaptureSize()) return false;
  auto& records = context.m_captures;
  if (m_closes) {
    // A close that only counted down a re-entry left the end open.
    if (records[record + 2] == -1) {
      --records[record + 3];
    } else {
      records[record + 2] = -1;
      records[record + 3] = 0;
    }
    return false;
  }
  if (records[record + 3] < 0) {
    ++records[record + 3];
  } else if (record > 0) {  // record 0 is the whole match's and stays
    context.CutCaptures(record);
  }
  return false;
}

bool MatchByteRun(MatchContext& context, const ByteSet& set, bool leftwards, int count) {
  const int from = leftwards ? context.m_position - count : context.m_position;
  if (from < 0 || count > context.m_length - from) return false;
  for (int i = 0; i < count; ++i) {
    if (!set.Has(context.m_subject[from + i])) return false;
  }
  context.m_position += leftwards ? -count : count;
  return true;
}

BackrefElement::BackrefElement(int number, bool rightToLeft, bool ignoreCase)
    : RegexElement(ElementKind::Backref), m_number(number), m_ignoreCase(ignoreCase) {
  m_rightToLeft = rightToLeft;
}

bool BackrefElement::Match(MatchContext& context) const {
  const int n = m_number;
  if (n < 0 || n >= static_cast<int>(context.m_captureIndex.size())) return false;
  const int record = context.m_captureIndex[n];
  if (record < 0 || record >= context.CaptureSize()) return false;
  const int start = context.m_captures[record + 1];
  const int end =
      context.m_captures[record + 2] < 0 ? context.m_position : context.m_captures[record + 2];
  const int low = std::min(start, end);
  const int length = std::max(start, end) - low;
  const int position = context.m_position;
  const int at = m_rightToLeft ? position - length : position;
  if (at < 0 || length > context.m_length - at) return false;
  if (!SameBytes(context.m_subject, at, context.m_subject + low, length, m_ignoreCase)) {
    return false;
  }
  context.Push(position);
  context.m_position = m_rightToLeft ? at : position + length;
  return true;
}

bool BackrefElement::MatchNext(MatchContext& context) const {
  context.m_position = context.Pop();
  return false;
}

bool ListElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  const int count = static_cast<int>(m_elements.size());
  return RunSequence(context, count, 0, false,
                     [&](int i) { return m_elements[m_rightToLeft ? count - 1 - i : i]; });
}

bool ListElement::MatchNext(MatchContext& context) const {
  const int count = static_cast<int>(m_elements.size());
  if (count == 0) return false;
  return RunSequence(context, count, count, true,
                     [&](int i) { return m_elements[m_rightToLeft ? count - 1 - i : i]; });
}

bool AlternativeElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  const int count = static_cast<int>(m_branches.size());
  for (int i = 0; i < count; ++i) {
    if (m_branches[i]->Match(context)) {
      context.Push(i);
      return true;
    }
  }
  return false;
}

bool AlternativeElement::MatchNext(MatchContext& context) const {
  const int count = static_cast<int>(m_branches.size());
  const int taken = context.Pop();
  if (taken < 0 || taken >= count) return false;
  if (m_branches[taken]->MatchNext(context)) {
    context.Push(taken);
    return true;
  }
  for (int i = taken + 1; i < count; ++i) {
    if (m_branches[i]->Match(context)) {
      context.Push(i);
      return true;
    }
  }
  return false;
}

// FixedRepeat: the sub-element n times, exactly like a list of n copies.
bool FixedRepeatElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  if (const ByteSet* set = m_sub->SingleByteSet()) {
    return MatchByteRun(context, *set, m_sub->RightToLeft(), m_count);
  }
  return RunSequence(context, m_count, 0, false, [&](int) { return m_sub; });
}

bool FixedRepeatElement::MatchNext(MatchContext& context) const {
  if (m_sub->SingleByteSet()) {
    context.m_position += m_sub->RightToLeft() ? m_count : -m_count;
    return false;
  }
  if (m_count == 0) return false;
  return RunSequence(context, m_count, m_count, true, [&](int) { return m_sub; });
}

}  // namespace quarry
