// Locate and AskHead, shared by the roads. Neither holds a lock across its network wait.
#include "engine/fetch_steps.h"

#include <cstdio>
#include <string>

#include "platform/format.h"
#include "platform/tcp_socket.h"

namespace quarry {

FailureReason StatusFailure(int status) {
  if (status == 404 || status == 410) return FailureReason::NotFound;
  if (status >= 500 && status <= 599) return FailureReason::ServerError;
  if (status >= 400 && status <= 499) return FailureReason::Refused;
  return FailureReason::NotAFile;  // a redirect the road does not follow, or a stray status
}

bool Locate(RoadHost& host, int thread, const char* address, Destination* where) {
  if (!SplitUrl(address, where->host, where->path, where->port)) {
    host.NoteFailure(thread, address, FailureReason::NotAFile, "地址无法使用");
    return false;
  }
  // A host given up for this run is not asked again, nor told again: it was told once.
  if (host.IsGivenUp(where->host)) {
    host.NoteFailure(thread, address, FailureReason::Unreachable, "主机无法连接，本次不再尝试");
    return false;
  }
  where->secure = IsHttpsUrl(address);
  if (const ProxyChoice* proxies = host.Transfers().Proxies()) {
    where->proxy = ProxyFor(*proxies, where->host, where->secure);
    if (where->proxy != nullptr) return true;  // the host is the proxy's to resolve
  }
  const std::string resolved = ResolveIpv4(where->host);
  if (resolved.empty() || resolved.size() >= sizeof(where->dotted)) {
    host.Log(thread, Format("解析 %s IP地址失败...", address));
    host.NoteUnreachable(thread, where->host, address);
    host.NoteFailure(thread, address, FailureReason::Unreachable, "主机名无法解析");
    return false;
  }
  resolved.copy(where->dotted, sizeof(where->dotted) - 1);
  return true;
}

namespace {

void NoteHeadFailure(RoadHost& host, int thread, const char* address, HeadResult result,
                     const HeadAnswer& head, const ExchangeTarget& target) {
  if (target.proxy != nullptr && IsProxyFailure(head.start)) {
    host.NoteFailure(thread, address, FailureReason::Unreachable,
                     ProxyFailureLine(head.start, *target.proxy));
    return;
  }
  switch (result) {
    case HeadResult::NoAnswer:
      if (!head.problem.empty()) {
        host.NoteFailure(thread, address, FailureReason::Unreachable, "安全连接失败：" + head.problem);
      } else {
        host.NoteFailure(thread, address, FailureReason::TimeLimit, "等待应答头超时");
      }
      return;
    case HeadResult::NotConnected:
    case HeadResult::NoSocket:
      host.NoteFailure(thread, address, FailureReason::Unreachable, "无法连接服务器");
      return;
    case HeadResult::Redirect302:
      host.NoteFailure(thread, address, FailureReason::NotAFile, "状态 302（重定向）");
      return;
    case HeadResult::ZeroLength:
      host.NoteFailure(thread, address, FailureReason::TooSmall, "长度为 0");
      return;
    case HeadResult::BadStatus:
      host.NoteFailure(thread, address, StatusFailure(head.status),
                       Format("状态 %d", head.status));
      return;
    case HeadResult::Unusable:
      host.NoteFailure(thread, address, FailureReason::NotAFile, "没有可用的文件名或类型");
      return;
    case HeadResult::Answered: return;
  }
}

}  // namespace

bool AskHead(RoadHost& host, int thread, const char* address, const ExchangeTarget& target,
             HeadAnswer* head) {
  host.Log(thread, Format("请求信息头：%s", address));
  const HeadResult result = HeadExchange(target, *head, host.Timeouts());
  if (target.proxy != nullptr) host.Transfers().OnProxyOutcome(thread, *target.proxy, head->start);
  if (result == HeadResult::NotConnected) {
    host.NoteUnreachable(thread, target.host, address);
  } else {
    host.NoteReached(target.host);
  }
  if (result != HeadResult::Answered) {
    if (!head->problem.empty()) host.Log(thread, TlsFailureLine(head->problem));
    if (result == HeadResult::NotConnected) host.Log(thread, "无法连接服务器（被拒绝或超时）...");
    if (result == HeadResult::NoAnswer && head->problem.empty()) {
      host.Log(thread, "等待应答头超时...");
    }
    host.Log(thread, "请求信息头失败...");
    NoteHeadFailure(host, thread, address, result, *head, target);
    return false;
  }
  host.Log(thread, "请求信息头成功...");
  return true;
}

}  // namespace quarry
