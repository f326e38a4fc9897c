// Splitting an absolute address into what an HTTP exchange needs: the host name, the object
// path with its query (ready for the request line) and the TCP port. The caller's address is
// only read; the path written out is the wire form, with dot segments removed and every byte
// that may not stand raw in a request line (space, control bytes, bytes >= 0x80)
// percent-encoded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarry {

// Sizes of the caller's buffers, terminating zero included.
inline constexpr std::size_t kSplitHostSize = 128;   // host at most 127 bytes
inline constexpr std::size_t kSplitPathSize = 1024;  // path with query at most 1023 bytes

// Splits `address` (scheme://host[:port][/path][?query][#fragment], scheme in any case).
// On success writes `host` (kSplitHostSize bytes at the caller), `path` (kSplitPathSize bytes,
// starts with "/") and `port` (the address's own, else 80 for http, 443 for https) and returns
// true. Returns false, writing nothing, for a null or malformed address, an empty or oversized
// host, a bad port, a scheme other than http/https without an explicit port, or a path that
// does not fit once encoded.
bool SplitUrl(const char* address, char* host, char* path, std::uint16_t& port);

// True when `address` (leading blanks allowed, as SplitUrl takes it) has the scheme https in
// any case: its exchanges go over TLS, whatever port it names.
bool IsHttpsUrl(const char* address);

}  // namespace quarry
