// Readers over a stored HTTP response head (also the head readers of HttpSession), and the
// reduction of a path or an attachment name to a file name and an extension. The head is searched
// as one zero-terminated text; every value is copied into a caller's buffer, always zero-terminated
// and never past its size. Header names are matched only where a header line starts and only when
// the colon follows directly: a search that matched anywhere in the text took
// "X-Content-Type-Options" for "Content-Type" and turned every page into a file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarry {

// Sizes of the outputs of a HEAD exchange, as the worker holds them.
constexpr int kLastModifiedSize = 40;
constexpr int kExtensionSize = 20;
constexpr int kNameSize = 260;

// How a header's value was read into a caller's buffer.
enum class HeaderRead {
  Copied,   // the whole value is in the buffer
  TooLong,  // it needs more room: the buffer holds its start, cut on a character boundary
  Absent,   // no head stored, or no such header
};

class ResponseHead {
public:
  // A reader with no head stored: every query answers -1.
  ResponseHead() = default;
  // Reads the first `length` bytes at `head`; the text ends early at a zero byte. The line
  // reader starts at `readPos`.
  ResponseHead(const char* head, int length, int readPos = 0);

  // Where the line reader stands (to be kept between readers of one head).
  int ReadPos() const { return m_readPos; }

  // Copies the next line (its LF included) into `buffer`, at most `size` - 1 bytes, and
  // zero-terminates it. Returns the byte count, or -1 when the reader was at the end, which
  // also rewinds it to the start.
  int ReadLine(char* buffer, int size);

  // The status code of the first line (leading digits of its second word, 0 when none), or -1
  // when no head is stored. Does not move the line reader.
  int StatusCode() const;

  // Finds header `name` (a line start at or after offset `start`, then the name in any case,
  // then ':') and copies its value, from just after the colon up to CR, LF or ';', into
  // `buffer` (at most `size` - 1 bytes, zero-terminated). On Copied, `next` (when given) gets
  // the offset in the head just behind the value, where a search for a later one may start.
  HeaderRead HeaderField(const char* name, char* buffer, int size, int start = 0,
                         int* next = nullptr) const;

  // The same search from the head's start, copying up to the end of the line.
  HeaderRead HeaderLine(const char* name, char* buffer, int size) const;

  // The whole value of header `name` (searched from the head's start as HeaderLine does), the
  // blanks around it removed; empty when there is no such header or no head.
  std::string Value(const char* name) const;

  // Reads the file name of an attachment from Content-Disposition into `buffer`. False when
  // there is no such header, no "attachment", no "filename", or the name does not fit (255
  // bytes or more, or `size`).
  bool DispositionName(char* buffer, int size) const;

private:
  // Where the value of header `name` starts (just after the colon), from offset `start` on;
  // npos when no head or no such header.
  std::size_t Find(const char* name, int start) const;
  HeaderRead Search(const char* name, char* buffer, int size, int start, bool stopAtSemicolon,
                    int* next) const;

  std::string_view m_text;  // the head up to its first zero byte
  bool m_stored = false;
  int m_readPos = 0;
};

// Reduces `name` in place to its last component (after the last '/' or '\') and, when that
// component has a dot, writes the text from its last dot into `extension`; a component without
// one leaves `extension` as it was. False when the extension would be 20 bytes or more, or the
// component is shorter than 2 bytes or does not fit `name`.
bool NameFromPath(char (&name)[kNameSize], char (&extension)[kExtensionSize]);

// The same, reading the name from `text`, which may be longer than the name buffer: only the
// last component has to fit. `name` is written only on success.
bool NameFromText(std::string_view text, char (&name)[kNameSize],
                  char (&extension)[kExtensionSize]);

// `text` without the spaces and tabs around it: how header values and their attributes are read.
std::string_view TrimHeaderBlanks(std::string_view text);

// The value of a Content-Length text, blanks around it ignored; -1 for anything that is not a
// plain decimal number fitting a signed 32-bit integer (such a length counts as absent).
int LengthValue(std::string_view text);

}  // namespace quarry
