// The pattern scanner: turns pattern bytes into tokens, one at a time, with the builder's
// look-ahead of two tokens (previous, current, next, next-but-one). A token is one character
// plus whether it carries its syntax meaning ("meta"); escapes, quote mode (\Q..\E, \L, \U),
// extended-mode white space and comments are resolved here so the builder sees only characters.
#pragma once

#include <string>

namespace quarry {

struct PatternToken {
  int m_char = 0;      // the byte, widened
  bool m_meta = true;  // true when the character has its syntax meaning
  int m_position = 0;  // index of its first pattern byte
  int m_length = 0;    // pattern bytes covered; the end marker is NUL, meta, length 0

  bool IsEnd() const { return m_meta && m_length == 0; }
  bool IsMeta(int ch) const { return m_meta && m_length > 0 && m_char == ch; }
};

class RegexScanner {
public:
  RegexScanner(const char* pattern, int length, int flags);

  // Shifts the tokens by one and scans a new next-but-one token.
  void Advance();
  // Makes the pattern end here: every token from now on is the end marker.
  void EndPattern();

  const PatternToken& Previous() const { return m_previous; }
  const PatternToken& Current() const { return m_current; }
  const PatternToken& Next() const { return m_next; }
  const PatternToken& NextButOne() const { return m_nextButOne; }
  const char* Pattern() const { return m_pattern; }

private:
  enum class CaseConversion { None, Lower, Upper };

  // Scans pattern bytes until a token is produced (skipped text produces none).
  PatternToken Scan();
  // Scans one step; false when the text passed produced no token.
  bool ScanOne(PatternToken& token);
  bool ScanEscape(PatternToken& token);
  // Makes `token` from the `length` pattern bytes at the scan position and moves past them.
  bool Produce(PatternToken& token, int ch, bool meta, int length);
  int ReadHex(int& at, int maxDigits) const;

  const char* m_pattern;
  int m_length;
  bool m_extended;
  int m_position = 0;
  int m_classDepth = 0;
  bool m_quoteMode = false;
  CaseConversion m_conversion = CaseConversion::None;
  PatternToken m_previous, m_current, m_next, m_nextButOne;
  // The last two tokens produced, which decide whether a colon or ^ is meta inside a class.
  PatternToken m_lastScanned, m_beforeLastScanned;
};

}  // namespace quarry
