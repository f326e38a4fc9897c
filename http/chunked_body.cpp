// See chunked_body.h.
#include "http/chunked_body.h"

namespace quarry {

bool DecodeChunked(const std::string& raw, std::string& body) {
  body.clear();
  std::size_t position = 0;
  for (;;) {
    const std::size_t lineEnd = raw.find("\r\n", position);
    if (lineEnd == std::string::npos) return false;
    // The size in hex; extensions after ';' are ignored.
    unsigned long long size = 0;
    std::size_t digits = 0;
    for (std::size_t i = position; i < lineEnd; ++i, ++digits) {
      const char c = raw[i];
      int value = -1;
      if (c >= '0' && c <= '9') value = c - '0';
      if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
      if (value < 0) break;
      // Once larger than anything that arrived it stays so, without overflowing.
      if (size <= raw.size()) size = size * 16 + static_cast<unsigned>(value);
    }
    if (digits == 0) return false;
    if (size == 0) return true;
    const std::size_t dataStart = lineEnd + 2;
    if (size > raw.size() - dataStart) {
      body.append(raw, dataStart, std::string::npos);
      return false;
    }
    body.append(raw, dataStart, static_cast<std::size_t>(size));
    position = dataStart + static_cast<std::size_t>(size);
    if (raw.compare(position, 2, "\r\n") != 0) return false;
    position += 2;
  }
}

bool EndsAsLastChunk(const std::string& raw) {
  return raw.size() >= 5 && raw.compare(raw.size() - 5, 5, "0\r\n\r\n") == 0;
}

}  // namespace quarry
