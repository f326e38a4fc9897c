// The one HTTP exchange: a request sent to a server and its answer read. Every request of
// Quarry goes through OpenExchange, which makes (or takes over) the connection, speaks TLS for
// an https target, sends the request and reads the head. On it stand the classic exchanges of
// transfer.h (a HEAD, a page, a file, with requests composed by HttpSession) and Exchange: a
// GET or HEAD of an absolute address that presents itself as a browser would (extra header
// lines, a cookie jar), follows redirects when asked (each hop a connection of its own with
// "Connection: close", and a log line) and reads the final answer's head whole, however many
// Set-Cookie lines make it longer than a classic head. Its body comes as the server frames it
// (Content-Length, chunked, or up to the close) and is bounded. Nothing here throws.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "http/cookie_jar.h"
#include "http/http_session.h"
#include "http/proxy.h"
#include "http/transfer_context.h"

namespace quarry {

inline constexpr int kMaxRedirects = 5;
// A head longer than this is refused rather than read on.
inline constexpr std::size_t kMaxLongHeadBytes = 64 * 1024;
// The Cookie line of one request is kept to this much.
inline constexpr std::size_t kMaxCookieLineBytes = 4096;
// A body read by default stops here.
inline constexpr std::size_t kMaxBodyBytes = 4u << 20;

// Where an exchange goes: the host and the path with its query as SplitUrl gives them, the
// host's IPv4 address as dotted text, the port, and whether TLS is spoken. `spare`, when
// given, carries a connection from one exchange with the target to the next: an answered HEAD
// leaves its connection there when the server keeps it open, and the next exchange sends its
// request on it instead of connecting (on a new connection after all when that one turns out
// closed). A TLS connection is not kept. `proxy`, when given, is the proxy the exchange goes
// through: `address` is then not used (the proxy resolves `host`), and no connection is kept.
struct ExchangeTarget {
  const char* host;
  const char* path;
  const char* address;
  int port;
  bool secure = false;  // an https address: TLS with the server's certificate checked for `host`
  SpareConnection* spare = nullptr;
  const ProxySetting* proxy = nullptr;  // null: a direct connection
};

// How the start of an exchange (connection, TLS, request, head) ended.
enum class ExchangeStart {
  Ready,         // the head is read and the body time limit set
  NoSocket,      // no socket, or the body time limit could not be set
  NotConnected,  // the connection was refused or not made in time
  BadAddress,    // the target's address or port is not one to connect to
  Untrusted,     // the certificate was refused or the handshake failed
  NoAnswer,      // the send, the head read or the handshake timed out, or the peer went away
  Broken,        // the head broke off, or the request could not be sent
  // Through a proxy (a target the proxy cannot reach is NotConnected):
  ProxyUnreachable,  // the proxy does not resolve, refuses or never takes the connection, or
                     // breaks off its handshake
  ProxyCredentials,  // the proxy wants credentials, or refused the ones given
  ProxyRefused,      // the proxy does not allow the target
};

// Starts an exchange with `target` on `session`: takes over target.spare or connects (through
// target.proxy when given: the absolute-form request for an http target, a CONNECT tunnel or a
// SOCKS5 connection otherwise), starts TLS for a secure target, sends `request` (`length` bytes;
// the session's composed request when null) and reads the head. A failed TLS start is logged on
// page `thread` of `context` when `context` is given, and so is `connectingText` (when given)
// before connecting; an exchange through a proxy is told to `context` (OnProxyOutcome). A kept
// connection that fails the request is replaced by a new one, so it never makes an exchange fail
// that a new connection would have made.
ExchangeStart OpenExchange(HttpSession& session, const ExchangeTarget& target,
                           TransferContext* context, int thread, const char* connectingText,
                           const char* request = nullptr, int length = 0);

// Where a redirect from address `from` to `location` (its raw Location value) leads: the
// absolute address to follow, or empty when the redirect is to be kept as the final answer.
using RedirectRule = std::string (*)(const std::string& from, const std::string& location);

struct ExchangeRequest {
  std::string url;                    // absolute http(s) address
  bool head = false;                  // HEAD rather than GET
  std::vector<std::string> headers;   // extra "Name: value" lines, without CR LF
  CookieJar* jar = nullptr;           // sends matching cookies and keeps new ones; may be null
  int maxRedirects = kMaxRedirects;   // 0: the first answer is the final one
  RedirectRule redirectTo = nullptr;  // null: no redirect is followed
  std::size_t maxBody = kMaxBodyBytes;
  bool htmlBodyOnly = false;  // read no body unless it is text/html (a redirector's page)
};

enum class ExchangeStatus {
  Answered,          // a final answer came (any status; see `code`)
  BadAddress,        // an address that does not split
  NoAddress,         // its host does not resolve
  NoAnswer,          // no connection, or the server did not answer in time
  Untrusted,         // the secure connection was refused (certificate, handshake)
  Broken,            // the answer broke off or its head is too large
  TooManyRedirects,  // still redirected after maxRedirects hops
  Stopped,           // the task stops
};

struct ExchangeAnswer {
  ExchangeStatus status = ExchangeStatus::Broken;
  int code = -1;                 // status code of the final answer
  std::string url;               // the address that gave the final answer (or failed)
  std::string location;          // the final answer's Location, empty when none
  std::string contentType;       // its Content-Type, empty when none
  long long contentLength = -1;  // its Content-Length, -1 when none
  std::string dispositionName;   // the attachment name of its Content-Disposition, or ""
  bool bodyTooLarge = false;     // the body goes on past maxBody: `body` holds its start only
  std::string body;              // decoded from chunks when chunked
  int hops = 0;                  // redirects followed
  std::string problem;           // what went wrong, in words, when not Answered
};

// Runs `request` on the calling thread; hop lines and a failed TLS start go to log page
// `thread` of `context`, which also says when to stop.
ExchangeAnswer Exchange(TransferContext& context, int thread, const ExchangeRequest& request,
                        const HttpTimeouts& timeouts);

// True for the outcomes that tell a proxy's failure.
bool IsProxyFailure(ExchangeStart start);

// What stopped an exchange that a proxy stopped (one of the Proxy outcomes), naming the proxy;
// its log line ends with "...".
std::string ProxyFailureText(ExchangeStart start, const ProxySetting& proxy);
std::string ProxyFailureLine(ExchangeStart start, const ProxySetting& proxy);

// The log line of an exchange whose secure connection failed, `problem` saying why.
std::string TlsFailureLine(const std::string& problem);

}  // namespace quarry
