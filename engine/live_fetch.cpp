// LiveFetch: one hop per connection. The head is read by the session into its fixed buffer;
// when the blank line is not within it (a service that hands out many cookies writes long
// heads), the rest is read from the socket into a string of its own, so no Set-Cookie line is
// lost and no head byte is taken for the body. The request is composed into a string: the
// Cookie line has its own bound, so no fixed buffer can overflow.
#include "engine/live_fetch.h"

#include <strings.h>

#include <cstring>
#include <ctime>

#include "harvest/live_search.h"
#include "http/chunked_body.h"
#include "http/split_url.h"
#include "http/transfer.h"
#include "platform/tcp_socket.h"

namespace quarry {
namespace {

constexpr std::size_t kDottedSize = 16;
constexpr int kReadChunk = 16 * 1024;

bool IsRedirect(int code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

std::string Trim(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

// The Host line's value: the port only when it is not the scheme's own, as browsers write it.
std::string HostLine(const char* host, int port, bool secure) {
  if (port == (secure ? 443 : 80)) return host;
  return std::string(host) + ":" + std::to_string(port);
}

std::string ComposeRequest(const LiveFetchRequest& request, const char* host, const char* path,
                           int port, bool secure, const std::string& cookie) {
  std::string text = request.head ? "HEAD " : "GET ";
  text += path;
  text += " HTTP/1.1\r\nHost: " + HostLine(host, port, secure) + "\r\n";
  bool accepts = false;
  for (const std::string& line : request.headers) {
    text += line + "\r\n";
    accepts = accepts || strncasecmp(line.c_str(), "Accept:", 7) == 0;
  }
  if (!accepts) text += "Accept: */*\r\n";
  if (!cookie.empty()) text += "Cookie: " + cookie + "\r\n";
  text += "Connection: close\r\n\r\n";
  return text;
}

// Reads the rest of a head that filled the session's buffer, within `limitMs` all told; false
// when it broke off, ran out of time or grew beyond kMaxLiveHeadBytes.
bool ReadRestOfHead(HttpSession& session, std::string& head, int limitMs) {
  session.SetReceiveDeadline(limitMs);
  char byte = 0;
  bool whole = false;
  while (!whole && head.size() < kMaxLiveHeadBytes) {
    whole = head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
    if (whole) break;
    if (session.Receive(&byte, 1) != 1) break;
    head += byte;
  }
  session.SetReceiveDeadline(0);
  return whole;
}

int StatusOf(const std::string& head) {
  // "HTTP/1.1 200 ...": the digits after the first blank.
  const std::size_t blank = head.find(' ');
  if (blank == std::string::npos || blank + 4 > head.size()) return -1;
  int code = 0;
  for (std::size_t i = blank + 1; i < blank + 4; ++i) {
    if (head[i] < '0' || head[i] > '9') return -1;
    code = code * 10 + (head[i] - '0');
  }
  return code;
}

// Reads the body of the answer in `session` into `answer`.body. A body that ends before its
// framing says it is whole (fewer bytes than Content-Length, chunks broken off) makes the
// answer Broken, so that a page cut short by the network is never read as a short page; a
// body cut at the caller's limit is still an answer.
void ReadBody(TransferContext& context, HttpSession& session, const std::string& head,
              const LiveFetchRequest& request, LiveFetchAnswer& answer) {
  const bool chunked =
      strcasestr(LiveHeaderValue(head, "Transfer-Encoding").c_str(), "chunked") != nullptr;
  // The framing of chunks costs bytes of its own; a chunked body is read with some room.
  const std::size_t limit = chunked ? request.maxBody + request.maxBody / 8 + 64 : request.maxBody;
  std::size_t wanted = limit;
  if (!chunked && answer.contentLength >= 0 &&
      static_cast<unsigned long long>(answer.contentLength) < wanted)
    wanted = static_cast<std::size_t>(answer.contentLength);
  std::string raw;
  char buffer[kReadChunk];
  bool whole = false;  // a chunked body's last chunk came
  while (raw.size() < wanted && !context.IsStopped()) {
    const std::size_t ask = std::min<std::size_t>(sizeof buffer, wanted - raw.size());
    const int got = session.Receive(buffer, static_cast<int>(ask));
    if (got <= 0) break;
    raw.append(buffer, static_cast<std::size_t>(got));
    // A server that keeps the connection open despite the request is done at the last chunk;
    // data that merely ends like one is no last chunk.
    if (chunked && EndsAsLastChunk(raw) && DecodeChunked(raw, answer.body)) {
      whole = true;
      break;
    }
  }
  if (!chunked) {
    const bool cut = answer.contentLength >= 0 ? raw.size() < wanted : false;
    answer.body = std::move(raw);
    if (cut) {
      answer.status = LiveFetchStatus::Broken;
      answer.problem = "the answer broke off after " + std::to_string(answer.body.size()) + " of " +
                       std::to_string(answer.contentLength) + " bytes";
    }
    return;
  }
  if (!whole && !DecodeChunked(raw, answer.body) && raw.size() < limit) {
    answer.status = LiveFetchStatus::Broken;
    answer.problem = "the chunked body broke off";
  }
  if (answer.body.size() > request.maxBody) answer.body.resize(request.maxBody);
}

// One hop up to its head: connects (with TLS for https), sends the request with the jar's
// cookies, reads the head whole, keeps its cookies and fills the code and header fields of
// `answer`. False, with the status and problem set, when no head came.
bool ExchangeHead(TransferContext& context, int thread, const LiveFetchRequest& request,
                  HttpSession& session, LiveFetchAnswer& answer, std::string& head) {
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  if (!SplitUrl(answer.url.c_str(), host, path, port)) {
    answer.status = LiveFetchStatus::BadAddress;
    answer.problem = "the address does not split";
    return false;
  }
  const bool secure = IsHttpsUrl(answer.url.c_str());
  const std::string resolved = ResolveIpv4(host);
  if (resolved.empty() || resolved.size() >= kDottedSize) {
    answer.status = LiveFetchStatus::NoAddress;
    answer.problem = std::string("the host ") + host + " does not resolve";
    return false;
  }
  if (session.Create() != 1 || session.Connect(resolved.c_str(), port) != 1) {
    answer.status = LiveFetchStatus::NoAnswer;
    answer.problem = "no connection";
    return false;
  }
  if (secure) {
    const int secured = session.StartTls(host);
    if (secured != 1) {
      answer.status = secured < 0 ? LiveFetchStatus::Untrusted : LiveFetchStatus::NoAnswer;
      answer.problem = session.TlsProblem();
      context.Log(thread, TlsFailureLine(answer.problem));
      return false;
    }
  }
  CookieOrigin origin;
  const bool hasOrigin = request.jar != nullptr && CookieOriginOf(answer.url, origin);
  const std::int64_t now = std::time(nullptr);
  const std::string cookie =
      hasOrigin ? request.jar->CookieLine(origin, now, kMaxLiveCookieBytes) : std::string();
  const std::string text = ComposeRequest(request, host, path, port, secure, cookie);
  const int sent = session.SendRequest(text.c_str(), static_cast<int>(text.size()));
  if (sent != 1) {
    answer.status = sent == 0 ? LiveFetchStatus::NoAnswer : LiveFetchStatus::Broken;
    answer.problem = "no answer";
    return false;
  }
  head.assign(session.Head(), static_cast<std::size_t>(session.HeadLength()));
  if (!ReadRestOfHead(session, head, session.Timeouts().headMs)) {
    answer.status = LiveFetchStatus::Broken;
    answer.problem = "the answer's head broke off or is too large";
    return false;
  }
  if (hasOrigin) request.jar->StoreFromHead(origin, head, now);
  answer.code = StatusOf(head);
  answer.location = LiveHeaderValue(head, "Location");
  answer.contentType = LiveHeaderValue(head, "Content-Type");
  const std::string length = LiveHeaderValue(head, "Content-Length");
  answer.contentLength = length.empty() ? -1 : LengthValue(length);
  return true;
}

// The address the answer redirects to when it is to be followed, else empty.
std::string NextHop(const LiveFetchRequest& request, const LiveFetchAnswer& answer) {
  if (!IsRedirect(answer.code) || answer.location.empty() || request.maxRedirects <= 0 ||
      IsLiveRefusalLocation(answer.location)) {
    return {};
  }
  return ResolveLiveAddress(answer.url, answer.location);
}

}  // namespace

std::string LiveHeaderValue(const std::string& head, const char* name) {
  const std::size_t length = std::strlen(name);
  std::size_t line = head.find('\n');  // the status line is no header
  while (line != std::string::npos && line + 1 < head.size()) {
    const std::size_t start = line + 1;
    const std::size_t end = head.find('\n', start);
    const std::size_t stop = end == std::string::npos ? head.size() : end;
    if (stop - start > length && head[start + length] == ':' &&
        strncasecmp(head.c_str() + start, name, length) == 0) {
      return Trim(head.substr(start + length + 1, stop - start - length - 1));
    }
    line = end;
  }
  return std::string();
}

LiveFetchAnswer LiveFetch(TransferContext& context, int thread, const LiveFetchRequest& request,
                          const HttpTimeouts& timeouts) {
  LiveFetchAnswer answer;
  answer.url = request.url;
  for (;;) {
    if (context.IsStopped()) {
      answer.status = LiveFetchStatus::Stopped;
      return answer;
    }
    HttpSession session(timeouts);
    std::string head;
    if (!ExchangeHead(context, thread, request, session, answer, head)) return answer;
    session.SetTimeout(timeouts.bodyMs, false);
    const std::string next = NextHop(request, answer);
    if (!next.empty()) {
      if (answer.hops >= request.maxRedirects) {
        answer.status = LiveFetchStatus::TooManyRedirects;
        answer.problem = "more than " + std::to_string(request.maxRedirects) + " redirects";
        return answer;
      }
      ++answer.hops;
      context.Log(thread, "重定向（第 " + std::to_string(answer.hops) + " 次）：" + next + " ...");
      answer.url = next;
      continue;
    }
    answer.status = LiveFetchStatus::Answered;
    if (request.head || answer.code == 204 || answer.code == 304) return answer;
    if (request.htmlBodyOnly && strcasestr(answer.contentType.c_str(), "text/html") == nullptr)
      return answer;
    ReadBody(context, session, head, request, answer);
    if (context.IsStopped()) answer.status = LiveFetchStatus::Stopped;
    return answer;
  }
}

}  // namespace quarry
