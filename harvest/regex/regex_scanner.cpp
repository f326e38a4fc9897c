// Scanning works byte by byte with a fixed priority of rules: the pattern end, quote mode,
// extended-mode white space and comments, the syntax characters (whose meaning depends on
// whether a bracket class is open), and escapes. The scanner tracks the class depth itself, so
// the same byte can be a literal inside [...] and meta outside. Escape values above one byte
// (\x{...}, \u) keep their low 8 bits, since every character is one byte.
#include "harvest/regex/regex_scanner.h"

#include "harvest/regex/regex_engine.h"

namespace quarry {
namespace {

constexpr int kEndMarkerChar = 0;

bool IsPatternSpace(unsigned char byte) { return (byte >= 9 && byte <= 13) || byte == ' '; }

int HexValue(unsigned char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  return -1;
}

PatternToken MakeToken(int ch, bool meta, int position, int length) {
  PatternToken token;
  token.m_char = ch;
  token.m_meta = meta;
  token.m_position = position;
  token.m_length = length;
  return token;
}

}  // namespace

RegexScanner::RegexScanner(const char* pattern, int length, int flags)
    : m_pattern(pattern),
      m_length(length < 0 ? 0 : length),
      m_extended((flags & kFlagExtended) != 0) {
  m_previous = m_current = m_next = m_nextButOne = MakeToken(kEndMarkerChar, true, 0, 0);
}

void RegexScanner::Advance() {
  m_previous = m_current;
  m_current = m_next;
  m_next = m_nextButOne;
  m_nextButOne = Scan();
}

void RegexScanner::EndPattern() {
  m_position = m_length;
  m_quoteMode = false;
  m_current = m_next = m_nextButOne = MakeToken(kEndMarkerChar, true, m_length, 0);
}

PatternToken RegexScanner::Scan() {
  PatternToken token;
  while (!ScanOne(token)) {
  }
  m_beforeLastScanned = m_lastScanned;
  m_lastScanned = token;
  return token;
}

bool RegexScanner::Produce(PatternToken& token, int ch, bool meta, int length) {
  token = MakeToken(ch, meta, m_position, length);
  m_position += length;
  return true;
}

int RegexScanner::ReadHex(int& at, int maxDigits) const {
  unsigned value = 0;
  for (int digits = 0; digits < maxDigits && at < m_length; ++digits) {
    const int digit = HexValue(static_cast<unsigned char>(m_pattern[at]));
    if (digit < 0) break;
    value = (value << 4) | static_cast<unsigned>(digit);
    ++at;
  }
  return static_cast<int>(value & 0xFFU);  // only the low byte is ever used
}

bool RegexScanner::ScanOne(PatternToken& token) {
  const int start = m_position;
  if (start >= m_length) {
    token = MakeToken(kEndMarkerChar, true, m_length, 0);
    return true;
  }
  const auto byte = static_cast<unsigned char>(m_pattern[start]);
  auto literal = [&](int ch, int length) { return Produce(token, ch, false, length); };
  auto meta = [&](int ch, int length) { return Produce(token, ch, true, length); };

  if (m_quoteMode) {
    if (byte == '\\' && start + 1 < m_length && m_pattern[start + 1] == 'E') {
      m_quoteMode = false;
      m_conversion = CaseConversion::None;
      m_position = start + 2;
      return false;
    }
    int ch = byte;
    if (m_conversion == CaseConversion::Lower && ch >= 'A' && ch <= 'Z') ch += 'a' - 'A';
    if (m_conversion == CaseConversion::Upper && ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
    return literal(ch, 1);
  }
  if (IsPatternSpace(byte)) {
    if (m_extended) {
      m_position = start + 1;
      return false;
    }
    return literal(byte, 1);
  }
  if (byte == '#' && m_extended) {
    int at = start;
    while (at < m_length && m_pattern[at] != '\n' && m_pattern[at] != '\r') ++at;
    m_position = at;
    return false;
  }
  switch (byte) {
    case '$':
    case ')':
    case '*':
    case '+':
    case '.':
    case '?':
    case '{':
    case '}':
    case '|': return m_classDepth == 0 ? meta(byte, 1) : literal(byte, 1);
    case '(':
      if (start + 2 < m_length && m_pattern[start + 1] == '?' && m_pattern[start + 2] == '#') {
        int at = start + 3;
        while (at < m_length && m_pattern[at] != ')') ++at;
        m_position = at < m_length ? at + 1 : at;
        return false;
      }
      return m_classDepth == 0 ? meta(byte, 1) : literal(byte, 1);
    case '-': return m_classDepth > 0 ? meta(byte, 1) : literal(byte, 1);
    case ':': return m_lastScanned.IsMeta('[') ? meta(byte, 1) : literal(byte, 1);
    case '[': ++m_classDepth; return meta(byte, 1);
    case ']':
      if (m_classDepth >= 1) {
        --m_classDepth;
        return meta(byte, 1);
      }
      return literal(byte, 1);
    case '^': {
      const bool afterOpen = m_lastScanned.IsMeta('[') ||
                             (m_lastScanned.IsMeta(':') && m_beforeLastScanned.IsMeta('['));
      return m_classDepth == 0 || afterOpen ? meta(byte, 1) : literal(byte, 1);
    }
    case '\\': return ScanEscape(token);
    default: return literal(byte, 1);
  }
}

bool RegexScanner::ScanEscape(PatternToken& token) {
  const int start = m_position;
  auto literal = [&](int ch, int length) { return Produce(token, ch, false, length); };
  auto meta = [&](int ch, int length) { return Produce(token, ch, true, length); };
  auto skip = [&](int length) {
    m_position = start + length;
    return false;
  };
  if (start + 1 >= m_length) return literal('\\', 1);
  const auto escaped = static_cast<unsigned char>(m_pattern[start + 1]);
  if (escaped >= '0' && escaped <= '9') return meta('\\', 1);  // digits follow as literals
  switch (escaped) {
    case 0: return literal(0, 2);
    case 'E':
      m_conversion = CaseConversion::None;
      m_quoteMode = false;
      return skip(2);
    case 'Q': m_quoteMode = true; return skip(2);
    case 'L':
    case 'U':
      if (m_conversion == CaseConversion::None) {
        m_conversion = escaped == 'L' ? CaseConversion::Lower : CaseConversion::Upper;
      }
      m_quoteMode = true;
      return skip(2);
    case 'G': return m_classDepth > 0 ? skip(2) : meta('G', 2);
    case 'A':
    case 'B':
    case 'D':
    case 'S':
    case 'W':
    case 'Z':
    case 'd':
    case 'g':
    case 'k':
    case 's':
    case 'w': return meta(escaped, 2);
    case 'b': return m_classDepth == 0 ? meta('b', 2) : literal(8, 2);
    case 'a': return literal(7, 2);
    case 'e': return literal(27, 2);
    case 'f': return literal(12, 2);
    case 'n': return literal(10, 2);
    case 'r': return literal(13, 2);
    case 't': return literal(9, 2);
    case 'v': return literal(11, 2);
    case 'x':
    case 'u': {
      if (start + 2 < m_length && m_pattern[start + 2] == '{') {
        int at = start + 3;
        const int value = ReadHex(at, 8);
        while (at < m_length && m_pattern[at] != '}') ++at;
        if (at < m_length) ++at;
        return literal(value & 0xFF, at - start);
      }
      int at = start + 2;
      const int value = ReadHex(at, escaped == 'x' ? 2 : 4);
      if (at == start + 2) return literal(escaped, 2);
      return literal(value & 0xFF, at - start);
    }
    default: return literal(escaped, 2);
  }
}

}  // namespace quarry
