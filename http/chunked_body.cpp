// See chunked_body.h.
#include "http/chunked_body.h"

#include <algorithm>

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

namespace quarry {

bool ChunkedDecoder::Feed(const char* data, std::size_t size, std::string& out) {
  // A chunk larger than this is no framing a sane server sends; it also keeps the size's
  // arithmetic far from overflowing.
  constexpr std::uint64_t kLargestChunk = std::uint64_t{1} << 48;
  std::size_t at = 0;
  while (at < size && !m_broken && m_state != State::Done) {
    const char c = data[at];
    switch (m_state) {
      case State::Size: {
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (value >= 0) {
          m_left = m_left * 16 + static_cast<unsigned>(value);
          ++m_digits;
          m_broken = m_left > kLargestChunk;
        } else if (m_digits == 0) {
          m_broken = true;
        } else {
          m_state = c == '\r' ? State::SizeEnd : State::Extension;
          m_broken = c != '\r' && c != ';' && c != ' ' && c != '\t';
        }
        ++at;
        break;
      }
      case State::Extension:
        if (c == '\r') m_state = State::SizeEnd;
        ++at;
        break;
      case State::SizeEnd:
        m_broken = c != '\n';
        m_digits = 0;
        m_trailerLine = 0;
        m_state = m_left == 0 ? State::Trailer : State::Data;
        ++at;
        break;
      case State::Data: {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_left, size - at));
        out.append(data + at, take);
        at += take;
        m_left -= take;
        if (m_left == 0) m_state = State::DataEnd;
        break;
      }
      case State::DataEnd:
        m_broken = c != '\r';
        m_state = State::DataEndLf;
        ++at;
        break;
      case State::DataEndLf:
        m_broken = c != '\n';
        m_state = State::Size;
        ++at;
        break;
      case State::Trailer:
        // Trailer fields end with an empty line; the last chunk's own line ended just before.
        if (c == '\r') {
          m_state = State::TrailerLf;
        } else {
          ++m_trailerLine;
        }
        ++at;
        break;
      case State::TrailerLf:
        m_broken = c != '\n';
        m_state = m_trailerLine == 0 ? State::Done : State::Trailer;
        m_trailerLine = 0;
        ++at;
        break;
      case State::Done: break;
    }
  }
  return !m_broken;
}

}  // namespace quarry
