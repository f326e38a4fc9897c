// The chunked framing of an HTTP/1.1 body ("Transfer-Encoding: chunked"): sizes in hex, each on
// its own line before its data, ended by a chunk of size 0.
#pragma once

#include <string>

namespace quarry {

// The body of a chunked answer: the chunks joined. False when the framing breaks off (the
// chunks read so far are kept in `body`).
bool DecodeChunked(const std::string& raw, std::string& body);

// True when `raw` ends the way a last chunk does; only DecodeChunked can tell that it is one,
// since data may end like it too.
bool EndsAsLastChunk(const std::string& raw);

}  // namespace quarry
