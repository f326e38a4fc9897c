// Locate and AskHead, shared by the roads. Neither holds a lock across its network wait.
#include "engine/fetch_steps.h"

#include <cstdio>
#include <string>

#include "platform/format.h"
#include "platform/tcp_socket.h"

namespace quarry {
bool Locate(RoadHost& host, int thread, const char* address, Destination* where) {
  if (!SplitUrl(address, where->host, where->path, where->port)) return false;
  // A host given up for this run is not asked again, nor told again: it was told once.
  if (host.IsGivenUp(where->host)) return false;
  where->secure = IsHttpsUrl(address);
  if (const ProxyChoice* proxies = host.Transfers().Proxies()) {
    where->proxy = ProxyFor(*proxies, where->host, where->secure);
    if (where->proxy != nullptr) return true;  // the host is the proxy's to resolve
  }
  const std::string resolved = ResolveIpv4(where->host);
  if (resolved.empty() || resolved.size() >= sizeof(where->dotted)) {
    host.Log(thread, Format("解析 %s IP地址失败...", address));
    host.NoteUnreachable(thread, where->host, address);
    return false;
  }
  resolved.copy(where->dotted, sizeof(where->dotted) - 1);
  return true;
}

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
    return false;
  }
  host.Log(thread, "请求信息头成功...");
  return true;
}

}  // namespace quarry
