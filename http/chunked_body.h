// The chunked framing of an HTTP/1.1 body ("Transfer-Encoding: chunked"): sizes in hex, each on
// its own line before its data, ended by a chunk of size 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarry {

// The body of a chunked answer: the chunks joined. False when the framing breaks off (the
// chunks read so far are kept in `body`).
bool DecodeChunked(const std::string& raw, std::string& body);

// True when `raw` ends the way a last chunk does; only DecodeChunked can tell that it is one,
// since data may end like it too.
bool EndsAsLastChunk(const std::string& raw);

}  // namespace quarry

namespace quarry {

// The chunked framing undone as the bytes arrive, for a body too large to hold whole (a file).
// Chunk extensions and trailer fields are read over and dropped.
class ChunkedDecoder {
public:
  // Appends the data carried by `size` raw bytes to `out`. False once the framing is broken
  // (a size that is no hex number or overflows, a chunk not followed by CR LF); bytes after the
  // last chunk's trailer are ignored.
  bool Feed(const char* data, std::size_t size, std::string& out);
  // True once the last chunk and its trailer have arrived.
  bool Done() const { return m_state == State::Done; }

private:
  enum class State { Size, Extension, SizeEnd, Data, DataEnd, DataEndLf, Trailer, TrailerLf, Done };
  State m_state = State::Size;
  std::uint64_t m_left = 0;       // size being read, then data bytes of the chunk still due
  std::size_t m_digits = 0;       // hex digits of the size line so far
  std::size_t m_trailerLine = 0;  // bytes of the trailer line being read
  bool m_broken = false;
};

}  // namespace quarry
