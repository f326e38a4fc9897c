// The live mode's HTTP requests: a GET or HEAD of an absolute address that presents itself as
// a browser would (extra header lines, the task's cookies), follows redirects when asked (at
// most kMaxLiveRedirects hops, between http and https alike, each hop a log line) and reads the
// final answer's head whole, however many Set-Cookie lines make it longer than a classic head.
// A redirect to the service's verification host is never followed: it is the final answer, for
// the caller to read as a refusal.
//
// Bodies come as the server frames them (Content-Length, chunked, or up to the close) and are
// bounded. Each hop is a connection of its own with "Connection: close". Nothing here throws.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "http/cookie_jar.h"
#include "http/http_session.h"
#include "http/transfer_context.h"

namespace quarry {

inline constexpr int kMaxLiveRedirects = 5;
// A head longer than this is refused rather than read on.
inline constexpr std::size_t kMaxLiveHeadBytes = 64 * 1024;
// The Cookie line of one request is kept to this much.
inline constexpr std::size_t kMaxLiveCookieBytes = 4096;
// A body read by default stops here; the page download of the classic mode stops near it too.
inline constexpr std::size_t kMaxLiveBodyBytes = 4u << 20;

struct LiveFetchRequest {
  std::string url;                       // absolute http(s) address
  bool head = false;                     // HEAD rather than GET
  std::vector<std::string> headers;      // extra "Name: value" lines, without CR LF
  CookieJar* jar = nullptr;              // sends matching cookies and keeps new ones; may be null
  int maxRedirects = kMaxLiveRedirects;  // 0: the first answer is the final one
  std::size_t maxBody = kMaxLiveBodyBytes;
  bool htmlBodyOnly = false;  // read no body unless it is text/html (a redirector's page)
};

enum class LiveFetchStatus {
  Answered,          // a final answer came (any status; see `code`)
  BadAddress,        // an address that does not split
  NoAddress,         // its host does not resolve
  NoAnswer,          // no connection, or the server did not answer in time
  Untrusted,         // the secure connection was refused (certificate, handshake)
  Broken,            // the answer broke off or its head is too large
  TooManyRedirects,  // still redirected after kMaxLiveRedirects hops
  Stopped,           // the task stops
};

struct LiveFetchAnswer {
  LiveFetchStatus status = LiveFetchStatus::Broken;
  int code = -1;                 // status code of the final answer
  std::string url;               // the address that gave the final answer (or failed)
  std::string location;          // the final answer's Location, empty when none
  std::string contentType;       // its Content-Type, empty when none
  long long contentLength = -1;  // its Content-Length, -1 when none
  std::string body;              // decoded from chunks when chunked
  int hops = 0;                  // redirects followed
  std::string problem;           // what went wrong, in words, when not Answered
};

// Runs `request` on the calling thread; hop lines go to log page `thread` of `context`.
LiveFetchAnswer LiveFetch(TransferContext& context, int thread, const LiveFetchRequest& request,
                          const HttpTimeouts& timeouts);

// The value of header `name` (any case) in a response head, blanks around it removed; empty
// when absent. The first line that names it wins.
std::string LiveHeaderValue(const std::string& head, const char* name);

}  // namespace quarry
