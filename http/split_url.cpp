// SplitUrl: a small parser for absolute http(s) addresses. It reads the scheme, the authority
// (user information is dropped, the port checked) and the path, query and fragment; then
// removes the path's dot segments, percent-encodes what may not appear raw in a request line
// and checks that host and path fit the caller's buffers. Only when everything fits is
// anything written out, so a refused address leaves the caller's buffers as they were.
// Everything is one left-to-right pass with explicit loops; nothing recurses.
#include "http/split_url.h"

#include <cstring>
#include <string>
#include <string_view>

namespace quarry {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Leading and trailing blanks and control bytes, as links copied out of pages often carry.
std::string_view Trimmed(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A byte that cannot stand in a host name: it would break the Host line or the name lookup.
bool IsBadHostByte(unsigned char c) {
  return c <= 0x20 || c == 0x7F || c == '\\' || c == '[' || c == ']' || c == '%' || c == '"' ||
         c == '<' || c == '>' || c == '^' || c == '`' || c == '{' || c == '}' || c == '|';
}

// Removes "." and ".." segments from an absolute path (the usual algorithm for references):
// a ".." takes away the segment before it and never climbs above the root.
std::string WithoutDotSegments(std::string_view path) {
  std::string output;
  std::size_t position = 0;
  while (position < path.size()) {
    // `path[position]` is '/'; the segment runs to the next '/'.
    std::size_t next = path.find('/', position + 1);
    if (next == std::string_view::npos) next = path.size();
    const std::string_view segment = path.substr(position + 1, next - position - 1);
    const bool last = next == path.size();
    if (segment == ".") {
      if (last) output += '/';
    } else if (segment == "..") {
      const std::size_t cut = output.rfind('/');
      output.erase(cut == std::string::npos ? 0 : cut);
      if (last) output += '/';
    } else {
      output += '/';
      output.append(segment);
    }
    position = next;
  }
  return output.empty() ? std::string("/") : output;
}

// Appends `text`, with space, control bytes and bytes >= 0x80 as %XX.
void AppendForWire(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
}

}  // namespace

bool SplitUrl(const char* address, char* host, char* path, std::uint16_t& port) {
  if (address == nullptr || host == nullptr || path == nullptr) return false;
  std::string_view rest = Trimmed(address);

  // Scheme: letters, then "://".
  std::size_t schemeEnd = 0;
  while (schemeEnd < rest.size() && IsLetter(rest[schemeEnd])) ++schemeEnd;
  if (schemeEnd == 0 || rest.substr(schemeEnd, 3) != "://") return false;
  const std::string_view scheme = rest.substr(0, schemeEnd);
  rest.remove_prefix(schemeEnd + 3);

  // Authority: up to the first '/', '?' or '#'.
  std::size_t authorityEnd = rest.find_first_of("/?#");
  if (authorityEnd == std::string_view::npos) authorityEnd = rest.size();
  std::string_view authority = rest.substr(0, authorityEnd);
  rest.remove_prefix(authorityEnd);
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);

  std::string_view hostText = authority;
  long portNumber = -1;
  const std::size_t colon = authority.find(':');
  if (colon != std::string_view::npos) {
    hostText = authority.substr(0, colon);
    const std::string_view digits = authority.substr(colon + 1);
    if (!digits.empty()) {  // "host:" with nothing after it means the scheme's port
      if (digits.size() > 5) return false;
      portNumber = 0;
      for (const char c : digits) {
        if (!IsDigit(c)) return false;
        portNumber = portNumber * 10 + (c - '0');
      }
      if (portNumber < 1 || portNumber > 65535) return false;
    }
  }
  if (hostText.empty() || hostText.size() >= kSplitHostSize) return false;
  for (const char c : hostText) {
    if (IsBadHostByte(static_cast<unsigned char>(c))) return false;
  }
  if (portNumber < 0) {
    if (EqualsIgnoringCase(scheme, "http")) {
      portNumber = 80;
    } else if (EqualsIgnoringCase(scheme, "https")) {
      portNumber = 443;
    } else {
      return false;  // no known default port to speak to
    }
  }

  // Path, query, fragment.
  const std::size_t hash = rest.find('#');
  if (hash != std::string_view::npos) rest = rest.substr(0, hash);
  std::string_view pathText = rest;
  std::string_view query;
  const std::size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    pathText = rest.substr(0, question);
    query = rest.substr(question);
  }
  std::string wire;
  AppendForWire(wire, pathText.empty() ? std::string("/") : WithoutDotSegments(pathText));
  AppendForWire(wire, query);
  if (wire.size() >= kSplitPathSize) return false;

  std::memcpy(host, hostText.data(), hostText.size());
  host[hostText.size()] = '\0';
  std::memcpy(path, wire.c_str(), wire.size() + 1);
  port = static_cast<std::uint16_t>(portNumber);
  return true;
}

bool IsHttpsUrl(const char* address) {
  if (address == nullptr) return false;
  const std::string_view text = Trimmed(address);
  const std::size_t colon = text.find("://");
  return colon != std::string_view::npos && EqualsIgnoringCase(text.substr(0, colon), "https");
}

}  // namespace quarry
