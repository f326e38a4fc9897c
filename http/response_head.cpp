// Head readers and file naming. Everything here works on bounded views of the stored head and
// copies with explicit sizes; no reader writes past the caller's buffer, and a value that does
// not fit is cut back to the start of a UTF-8 character.
#include "http/response_head.h"

#include "http/http_session.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

namespace quarry {
namespace {

// Bounds of the status line as the head reader takes it.
constexpr std::size_t kStatusLineSize = 256;
constexpr std::size_t kStatusWordSize = 20;
// The attachment name is gathered in a buffer of this size.
constexpr int kDispositionNameSize = 256;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view word, std::size_t from) {
  if (word.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
    if (SameIgnoringCase(text.substr(i, word.size()), word)) return i;
  }
  return std::string_view::npos;
}

// How many of the first `count` bytes of `text` can be kept without splitting a character.
std::size_t CharacterBoundary(std::string_view text, std::size_t count) {
  if (count >= text.size()) return text.size();
  while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80) --count;
  return count;
}

}  // namespace

ResponseHead::ResponseHead(const char* head, int length, int readPos) {
  if (head == nullptr || length < 0) return;
  m_readPos = readPos < 0 ? 0 : readPos;
  std::string_view bytes(head, static_cast<std::size_t>(length));
  m_text = bytes.substr(0, bytes.find('\0'));
  m_stored = true;
}

int ResponseHead::ReadLine(char* buffer, int size) {
  if (static_cast<std::size_t>(m_readPos) >= m_text.size()) {
    m_readPos = 0;
    return -1;
  }
  if (buffer == nullptr || size < 1) return 0;
  int count = 0;
  while (count < size - 1 && static_cast<std::size_t>(m_readPos) < m_text.size()) {
    char c = m_text[m_readPos++];
    buffer[count++] = c;
    if (c == '\n') break;
  }
  buffer[count] = '\0';
  return count;
}

int ResponseHead::StatusCode() const {
  if (!m_stored) return -1;
  std::string_view line = m_text.substr(0, kStatusLineSize);
  line = line.substr(0, line.find('\n'));
  std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return 0;
  std::string_view word = line.substr(blank + 1);
  word = word.substr(0, std::min(word.find(' '), kStatusWordSize));
  std::size_t digits = 0;
  while (digits < word.size() && word[digits] >= '0' && word[digits] <= '9') ++digits;
  int code = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + digits, code);
  (void)end;
  return error == std::errc() ? code : 0;
}

std::size_t ResponseHead::Find(const char* name, int start) const {
  if (!m_stored || name == nullptr || start < 0) return std::string_view::npos;
  const std::string_view wanted(name);
  if (wanted.empty()) return std::string_view::npos;
  for (std::size_t p = static_cast<std::size_t>(start); p + wanted.size() < m_text.size(); ++p) {
    // Only a line start can open a header name; a match inside another name or a value
    // (X-Content-Type-Options for Content-Type) is none.
    if (p != 0 && m_text[p - 1] != '\n') continue;
    if (m_text[p + wanted.size()] == ':' &&
        SameIgnoringCase(m_text.substr(p, wanted.size()), wanted)) {
      return p + wanted.size() + 1;
    }
  }
  return std::string_view::npos;
}

std::string ResponseHead::Value(const char* name) const {
  const std::size_t valueStart = Find(name, 0);
  if (valueStart == std::string_view::npos) return std::string();
  std::string_view value = m_text.substr(valueStart);
  return std::string(TrimHeaderBlanks(value.substr(0, value.find_first_of("\r\n"))));
}

HeaderRead ResponseHead::Search(const char* name, char* buffer, int size, int start,
                                bool stopAtSemicolon, int* next) const {
  if (buffer != nullptr && size > 0) std::memset(buffer, 0, static_cast<std::size_t>(size));
  const std::size_t valueStart = Find(name, start);
  if (valueStart == std::string_view::npos) return HeaderRead::Absent;
  std::size_t valueEnd = m_text.find_first_of(stopAtSemicolon ? "\r\n;" : "\r\n", valueStart);
  if (valueEnd == std::string_view::npos) valueEnd = m_text.size();
  std::string_view value = m_text.substr(valueStart, valueEnd - valueStart);
  if (buffer == nullptr || size < 1) return HeaderRead::TooLong;
  if (value.size() > static_cast<std::size_t>(size - 1)) {
    std::size_t kept = CharacterBoundary(value, static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, value.data(), kept);
    return HeaderRead::TooLong;
  }
  std::memcpy(buffer, value.data(), value.size());
  if (next != nullptr) *next = static_cast<int>(valueEnd);
  return HeaderRead::Copied;
}

HeaderRead ResponseHead::HeaderField(const char* name, char* buffer, int size, int start,
                                     int* next) const {
  return Search(name, buffer, size, start, true, next);
}

HeaderRead ResponseHead::HeaderLine(const char* name, char* buffer, int size) const {
  return Search(name, buffer, size, 0, false, nullptr);
}

bool ResponseHead::DispositionName(char* buffer, int size) const {
  if (HeaderLine("Content-Disposition", buffer, size) != HeaderRead::Copied) return false;
  std::string_view value(buffer);
  std::size_t attachment = FindIgnoringCase(value, "attachment", 0);
  if (attachment == std::string_view::npos) return false;
  std::size_t filename = FindIgnoringCase(value, "filename", attachment + 10);
  if (filename == std::string_view::npos) return false;

  // '=' is dropped wherever it stands; a quotation mark opens the name while nothing has been
  // taken and closes it afterwards; an unquoted name runs to the end of the value.
  std::string taken;
  for (std::size_t i = filename + 8; i < value.size(); ++i) {
    char c = value[i];
    if (c == '=') continue;
    if (c == '"' || c == '\'') {
      if (taken.empty()) continue;
      break;
    }
    taken.push_back(c);
    if (taken.size() >= static_cast<std::size_t>(kDispositionNameSize - 1)) return false;
  }
  if (taken.size() >= static_cast<std::size_t>(size)) return false;
  std::memset(buffer, 0, static_cast<std::size_t>(size));
  std::memcpy(buffer, taken.data(), taken.size());
  return true;
}

// No head is stored until a read has completed (m_headDone).
ResponseHead HttpSession::StoredHead() const {
  return m_headDone != 0 ? ResponseHead(m_head, m_headLength) : ResponseHead();
}

bool NameFromText(std::string_view text, char (&name)[kNameSize],
                  char (&extension)[kExtensionSize]) {
  // Walk back from the end: the first dot met gives the extension, the first separator ends
  // the last component. A dot in a folder name therefore never counts.
  std::size_t componentStart = 0;
  bool dotSeen = false;
  for (std::size_t i = text.size(); i-- > 0;) {
    char c = text[i];
    if (c == '/' || c == '\\') {
      componentStart = i + 1;
      break;
    }
    if (c == '.' && !dotSeen) {
      dotSeen = true;
      std::size_t length = text.size() - i;
      if (length >= static_cast<std::size_t>(kExtensionSize)) return false;
      std::memset(extension, 0, sizeof extension);
      std::memcpy(extension, text.data() + i, length);
    }
  }
  std::string_view component = text.substr(componentStart);
  // The name buffer's bound is tighter than any other limit on a component.
  if (component.size() < 2 || component.size() >= static_cast<std::size_t>(kNameSize)) {
    return false;
  }
  std::memset(name, 0, sizeof name);
  std::memcpy(name, component.data(), component.size());
  return true;
}

bool NameFromPath(char (&name)[kNameSize], char (&extension)[kExtensionSize]) {
  std::string copy(name, strnlen(name, sizeof name));
  return NameFromText(copy, name, extension);
}

std::string_view TrimHeaderBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int LengthValue(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return -1;
  std::size_t last = text.find_last_not_of(" \t");
  std::string_view digits = text.substr(first, last - first + 1);
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
  }
  int value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return -1;
  return value;
}

}  // namespace quarry
