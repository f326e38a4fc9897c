// The exchange core and the exchange of an absolute address. Exchange makes one connection per
// hop. The head is read by the session into its fixed buffer; when the blank line is not within
// it (a service that hands out many cookies writes long heads), the rest is read from the
// socket into a string of its own, so no Set-Cookie line is lost and no head byte is taken for
// the body. Its request is composed into a string: the Cookie line has its own bound, so no
// fixed buffer can overflow.
#include "http/exchange.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "http/chunked_body.h"
#include "http/response_head.h"
#include "http/split_url.h"
#include "platform/tcp_socket.h"

namespace quarry {
namespace {

constexpr std::size_t kDottedSize = 16;
constexpr int kReadChunk = 16 * 1024;

bool IsRedirect(int code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The Host line's value: the port only when it is not the scheme's own, as browsers write it.
std::string HostLine(const char* host, int port, bool secure) {
  if (port == (secure ? 443 : 80)) return host;
  return std::string(host) + ":" + std::to_string(port);
}

std::string ComposeRequest(const ExchangeRequest& request, const char* host, const char* path,
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
// when it broke off, ran out of time or grew beyond kMaxLongHeadBytes.
bool ReadRestOfHead(HttpSession& session, std::string& head, int limitMs) {
  session.SetReceiveDeadline(limitMs);
  char byte = 0;
  bool whole = false;
  while (!whole && head.size() < kMaxLongHeadBytes) {
    whole = head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
    if (whole) break;
    if (session.Receive(&byte, 1) != 1) break;
    head += byte;
  }
  session.SetReceiveDeadline(0);
  return whole;
}

// Reads the body of the answer in `session` into `answer`.body. A body that ends before its
// framing says it is whole (fewer bytes than Content-Length, chunks broken off) makes the
// answer Broken, so that a page cut short by the network is never read as a short page; a
// body cut at the caller's limit is still an answer.
void ReadBody(TransferContext& context, HttpSession& session, const ResponseHead& head,
              const ExchangeRequest& request, ExchangeAnswer& answer) {
  const bool chunked = strcasestr(head.Value("Transfer-Encoding").c_str(), "chunked") != nullptr;
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
  // Stopped at the limit while more was due: the body is larger than the caller takes.
  answer.bodyTooLarge = !context.IsStopped() && raw.size() >= limit &&
                        (chunked ? !whole
                                 : answer.contentLength < 0 || static_cast<unsigned long long>(
                                                                   answer.contentLength) > limit);
  if (!chunked) {
    const bool cut = answer.contentLength >= 0 ? raw.size() < wanted : false;
    answer.body = std::move(raw);
    if (cut) {
      answer.status = ExchangeStatus::Broken;
      answer.problem = "the answer broke off after " + std::to_string(answer.body.size()) + " of " +
                       std::to_string(answer.contentLength) + " bytes";
    }
    return;
  }
  if (!whole && !DecodeChunked(raw, answer.body) && raw.size() < limit) {
    answer.status = ExchangeStatus::Broken;
    answer.problem = "the chunked body broke off";
  }
  if (answer.body.size() > request.maxBody) answer.body.resize(request.maxBody);
}

// Sets `answer` for an exchange that did not start.
void NotStarted(ExchangeStart start, const HttpSession& session, ExchangeAnswer& answer) {
  switch (start) {
    case ExchangeStart::Untrusted:
      answer.status = ExchangeStatus::Untrusted;
      answer.problem = session.TlsProblem();
      return;
    case ExchangeStart::NoAnswer:
      answer.status = ExchangeStatus::NoAnswer;
      answer.problem = session.TlsProblem().empty() ? "no answer" : session.TlsProblem();
      return;
    case ExchangeStart::Broken:
      answer.status = ExchangeStatus::Broken;
      answer.problem = "no answer";
      return;
    case ExchangeStart::ProxyUnreachable:
      answer.status = ExchangeStatus::NoAnswer;
      answer.problem = "the proxy could not be reached";
      return;
    case ExchangeStart::ProxyCredentials:
      answer.status = ExchangeStatus::NoAnswer;
      answer.problem = "the proxy refused the credentials";
      return;
    case ExchangeStart::ProxyRefused:
      answer.status = ExchangeStatus::NoAnswer;
      answer.problem = "the proxy refused the target";
      return;
    case ExchangeStart::NoSocket:
    case ExchangeStart::NotConnected:
    case ExchangeStart::BadAddress:
    case ExchangeStart::Ready: break;
  }
  answer.status = ExchangeStatus::NoAnswer;
  answer.problem = "no connection";
}

// One hop up to its head: connects (with TLS for https), sends the request with the jar's
// cookies, reads the head whole into `head`, keeps its cookies and fills the code and header
// fields of `answer`. False, with the status and problem set, when no head came.
bool ExchangeHead(TransferContext& context, int thread, const ExchangeRequest& request,
                  HttpSession& session, ExchangeAnswer& answer, std::string& head) {
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  if (!SplitUrl(answer.url.c_str(), host, path, port)) {
    answer.status = ExchangeStatus::BadAddress;
    answer.problem = "the address does not split";
    return false;
  }
  const bool secure = IsHttpsUrl(answer.url.c_str());
  // Through a proxy the host is the proxy's to resolve.
  const ProxyChoice* proxies = context.Proxies();
  const ProxySetting* proxy = proxies != nullptr ? ProxyFor(*proxies, host, secure) : nullptr;
  const std::string resolved = proxy != nullptr ? std::string() : ResolveIpv4(host);
  if (proxy == nullptr && (resolved.empty() || resolved.size() >= kDottedSize)) {
    answer.status = ExchangeStatus::NoAddress;
    answer.problem = std::string("the host ") + host + " does not resolve";
    return false;
  }
  CookieOrigin origin;
  const bool hasOrigin = request.jar != nullptr && CookieOriginOf(answer.url, origin);
  const std::int64_t now = std::time(nullptr);
  const std::string cookie =
      hasOrigin ? request.jar->CookieLine(origin, now, kMaxCookieLineBytes) : std::string();
  const std::string text = ComposeRequest(request, host, path, port, secure, cookie);
  const ExchangeTarget target{host, path, resolved.c_str(), port, secure, nullptr, proxy};
  const ExchangeStart start = OpenExchange(session, target, &context, thread, nullptr, text.c_str(),
                                           static_cast<int>(text.size()));
  if (start != ExchangeStart::Ready) {
    NotStarted(start, session, answer);
    return false;
  }
  head.assign(session.Head(), static_cast<std::size_t>(session.HeadLength()));
  if (!ReadRestOfHead(session, head, session.Timeouts().headMs)) {
    answer.status = ExchangeStatus::Broken;
    answer.problem = "the answer's head broke off or is too large";
    return false;
  }
  if (hasOrigin) request.jar->StoreFromHead(origin, head, now);
  const ResponseHead reader(head.data(), static_cast<int>(head.size()));
  answer.code = reader.StatusCode();
  answer.location = reader.Value("Location");
  answer.contentType = reader.Value("Content-Type");
  const std::string length = reader.Value("Content-Length");
  answer.contentLength = length.empty() ? -1 : LengthValue(length);
  char name[kNameSize] = {};
  if (reader.DispositionName(name, static_cast<int>(sizeof name))) answer.dispositionName = name;
  return true;
}

// The address the answer redirects to when it is to be followed, else empty.
std::string NextHop(const ExchangeRequest& request, const ExchangeAnswer& answer) {
  if (!IsRedirect(answer.code) || answer.location.empty() || request.maxRedirects <= 0 ||
      request.redirectTo == nullptr) {
    return {};
  }
  return request.redirectTo(answer.url, answer.location);
}

// The outcome of an exchange that a proxy's reply stopped.
ExchangeStart FromProxyReply(ProxyReply reply) {
  switch (reply) {
    case ProxyReply::Go:
    case ProxyReply::WantsCredentials: return ExchangeStart::Ready;
    case ProxyReply::CredentialsRefused: return ExchangeStart::ProxyCredentials;
    case ProxyReply::TargetRefused: return ExchangeStart::ProxyRefused;
    case ProxyReply::TargetUnreachable: return ExchangeStart::NotConnected;
    case ProxyReply::Broken: break;
  }
  return ExchangeStart::ProxyUnreachable;
}

// Receives exactly `size` bytes into `out`; false when the proxy closed, failed or ran out of
// the session's receive deadline first.
bool ReceiveExactly(HttpSession& session, std::size_t size, std::string* out) {
  out->clear();
  char buffer[kMaxSocksHostBytes + 8];
  while (out->size() < size) {
    const std::size_t ask = std::min(sizeof buffer, size - out->size());
    const int got = session.Receive(buffer, static_cast<int>(ask));
    if (got <= 0) return false;
    out->append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

// The SOCKS5 handshake on a connection to the proxy, naming the target by its host.
ExchangeStart Socks5Handshake(HttpSession& session, const ExchangeTarget& target,
                              const ProxySetting& proxy) {
  constexpr std::size_t kChoiceBytes = 2;
  constexpr std::size_t kReplyStartBytes = 5;  // enough to know the bound address's length
  const std::string host = target.host;
  if (host.size() > kMaxSocksHostBytes) return ExchangeStart::BadAddress;
  std::string answer;
  auto step = [&](const std::string& out, std::size_t want) {
    return session.Send(out.data(), out.size()) == SessionResult::Done &&
           ReceiveExactly(session, want, &answer);
  };
  if (!step(Socks5Greeting(proxy), kChoiceBytes)) return ExchangeStart::ProxyUnreachable;
  ProxyReply reply = ReadSocks5Choice(answer);
  if (reply == ProxyReply::WantsCredentials) {
    if (proxy.user.empty()) return ExchangeStart::ProxyCredentials;
    if (!step(Socks5Credentials(proxy), kChoiceBytes)) return ExchangeStart::ProxyCredentials;
    reply = ReadSocks5Authentication(answer);
  }
  if (reply != ProxyReply::Go) return FromProxyReply(reply);
  if (!step(Socks5ConnectRequest(host, target.port), kReplyStartBytes))
    return ExchangeStart::ProxyUnreachable;
  reply = ReadSocks5Reply(answer);
  if (reply != ProxyReply::Go) return FromProxyReply(reply);
  const std::size_t whole = Socks5ReplyLength(answer);
  std::string rest;
  if (whole < kReplyStartBytes || !ReceiveExactly(session, whole - kReplyStartBytes, &rest))
    return ExchangeStart::ProxyUnreachable;
  return ExchangeStart::Ready;
}

// Connects `session` (made, not connected) to target.proxy and, for a SOCKS5 proxy or an https
// target, has the proxy open the way to the target: Ready then, the target being reached.
ExchangeStart ConnectThroughProxy(HttpSession& session, const ExchangeTarget& target) {
  const ProxySetting& proxy = *target.proxy;
  const std::string address = ResolveIpv4(proxy.host.c_str());
  if (address.empty() || address.size() >= kDottedSize) return ExchangeStart::ProxyUnreachable;
  if (session.Connect(address.c_str(), proxy.port) != SessionResult::Done)
    return ExchangeStart::ProxyUnreachable;
  if (proxy.kind == ProxyKind::Http && !target.secure) return ExchangeStart::Ready;
  // The handshake is bounded as a head is.
  session.SetReceiveDeadline(session.Timeouts().headMs);
  ExchangeStart result = ExchangeStart::ProxyUnreachable;
  if (proxy.kind == ProxyKind::Socks5) {
    result = Socks5Handshake(session, target, proxy);
  } else {
    const std::string connect = ConnectRequest(target.host, target.port, proxy);
    if (session.SendRequest(connect.c_str(), static_cast<int>(connect.size())) ==
        SessionResult::Done)
      result = FromProxyReply(ReadConnectStatus(session.StatusCode()));
  }
  session.SetReceiveDeadline(0);
  return result;
}

// OpenExchange without the telling of its proxy's part.
ExchangeStart StartExchange(HttpSession& session, const ExchangeTarget& target,
                            TransferContext* context, int thread, const char* connectingText,
                            const char* request, int length) {
  const auto log = [&](const std::string& text) {
    if (context != nullptr) context->Log(thread, text);
  };
  const int bodyMs = session.Timeouts().bodyMs;
  const ProxySetting* proxy = target.proxy;
  if (proxy != nullptr) {
    if (session.Create() != SessionResult::Done) return ExchangeStart::NoSocket;
    if (connectingText != nullptr) log(connectingText);
    const ExchangeStart reached = ConnectThroughProxy(session, target);
    if (reached != ExchangeStart::Ready) return reached;
  } else if (target.spare != nullptr && !target.secure &&
             session.TakeOver(*target.spare, target.address, target.port)) {
    if (connectingText != nullptr) log(connectingText);
    if (session.SendRequest(request, length) == SessionResult::Done) {
      if (session.SetTimeout(bodyMs, false) != SessionResult::Done) return ExchangeStart::NoSocket;
      return ExchangeStart::Ready;
    }
    session.Close();
    if (session.Create() != SessionResult::Done) return ExchangeStart::NoSocket;
  } else {
    if (session.Create() != SessionResult::Done) return ExchangeStart::NoSocket;
    if (connectingText != nullptr) log(connectingText);
  }
  if (proxy == nullptr) {
    switch (session.Connect(target.address, target.port)) {
      case SessionResult::Done: break;
      case SessionResult::NoAnswer: return ExchangeStart::NotConnected;
      case SessionResult::Failed: return ExchangeStart::BadAddress;
    }
  }
  if (target.secure) {
    const SessionResult secured = session.StartTls(target.host);
    if (secured != SessionResult::Done) {
      log(TlsFailureLine(session.TlsProblem()));
      return secured == SessionResult::NoAnswer ? ExchangeStart::NoAnswer
                                                : ExchangeStart::Untrusted;
    }
  }
  // An HTTP proxy takes an http request with the target's whole address and its credentials;
  // everything else goes as it would go direct.
  std::string absolute;
  if (proxy != nullptr && proxy->kind == ProxyKind::Http && !target.secure) {
    const std::string_view text = request != nullptr
                                      ? std::string_view(request, static_cast<std::size_t>(length))
                                      : std::string_view(session.Request());
    absolute = AbsoluteFormRequest(text, target.host, target.port, *proxy);
    request = absolute.c_str();
    length = static_cast<int>(absolute.size());
  }
  switch (session.SendRequest(request, length)) {
    case SessionResult::Done: break;
    case SessionResult::NoAnswer: return ExchangeStart::NoAnswer;
    case SessionResult::Failed: return ExchangeStart::Broken;
  }
  // The proxy's own refusal: the request never reached the target.
  if (!absolute.empty() && IsProxyCredentialRefusal(std::string_view(
                               session.Head(), static_cast<std::size_t>(session.HeadLength()))))
    return ExchangeStart::ProxyCredentials;
  if (session.SetTimeout(bodyMs, false) != SessionResult::Done) return ExchangeStart::NoSocket;
  return ExchangeStart::Ready;
}

}  // namespace

std::string TlsFailureLine(const std::string& problem) {
  return "安全连接（TLS）失败：" + problem + "...";
}

bool IsProxyFailure(ExchangeStart start) {
  return start == ExchangeStart::ProxyUnreachable || start == ExchangeStart::ProxyCredentials ||
         start == ExchangeStart::ProxyRefused;
}

std::string ProxyFailureText(ExchangeStart start, const ProxySetting& proxy) {
  const std::string name = ProxyShownText(proxy);
  switch (start) {
    case ExchangeStart::ProxyUnreachable: return "无法连接代理服务器 " + name;
    case ExchangeStart::ProxyCredentials: return "代理服务器 " + name + " 拒绝了用户名或密码";
    case ExchangeStart::ProxyRefused: return "代理服务器 " + name + " 拒绝连接目标";
    default: return "代理服务器 " + name;
  }
}

std::string ProxyFailureLine(ExchangeStart start, const ProxySetting& proxy) {
  return ProxyFailureText(start, proxy) + "...";
}

void TransferContext::OnProxyOutcome(int thread, const ProxySetting& proxy, ExchangeStart start) {
  if (IsProxyFailure(start)) Log(thread, ProxyFailureLine(start, proxy));
}

ExchangeStart OpenExchange(HttpSession& session, const ExchangeTarget& target,
                           TransferContext* context, int thread, const char* connectingText,
                           const char* request, int length) {
  const ExchangeStart start =
      StartExchange(session, target, context, thread, connectingText, request, length);
  if (target.proxy != nullptr && context != nullptr)
    context->OnProxyOutcome(thread, *target.proxy, start);
  return start;
}

ExchangeAnswer Exchange(TransferContext& context, int thread, const ExchangeRequest& request,
                        const HttpTimeouts& timeouts) {
  ExchangeAnswer answer;
  answer.url = request.url;
  for (;;) {
    if (context.IsStopped()) {
      answer.status = ExchangeStatus::Stopped;
      return answer;
    }
    HttpSession session(timeouts);
    std::string head;
    if (!ExchangeHead(context, thread, request, session, answer, head)) return answer;
    const std::string next = NextHop(request, answer);
    if (!next.empty()) {
      if (answer.hops >= request.maxRedirects) {
        answer.status = ExchangeStatus::TooManyRedirects;
        answer.problem = "more than " + std::to_string(request.maxRedirects) + " redirects";
        return answer;
      }
      ++answer.hops;
      context.Log(thread, "重定向（第 " + std::to_string(answer.hops) + " 次）：" + next + " ...");
      answer.url = next;
      continue;
    }
    answer.status = ExchangeStatus::Answered;
    if (request.head || answer.code == 204 || answer.code == 304) return answer;
    if (request.htmlBodyOnly && strcasestr(answer.contentType.c_str(), "text/html") == nullptr)
      return answer;
    ReadBody(context, session, ResponseHead(head.data(), static_cast<int>(head.size())), request,
             answer);
    if (context.IsStopped()) answer.status = ExchangeStatus::Stopped;
    return answer;
  }
}

}  // namespace quarry
