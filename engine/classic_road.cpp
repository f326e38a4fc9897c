// The classic road of an address: Locate, AskHead, then FetchPage or the runner's SaveFile.
//
// Seeding hands every result-page address (built by harvest/search_pages) to the queue, which
// refuses an address that does not fit its 1024-byte field rather than cutting it.
#include "engine/classic_road.h"

#include <cstdio>
#include <string>

#include "engine/fetch_steps.h"
#include "harvest/link_extraction.h"
#include "harvest/search_pages.h"
#include "platform/format.h"

namespace quarry {
namespace {

// "scheme://host[:port]/" of `address`, or "" when it has no "://".
std::string OriginOf(std::string_view address) {
  const std::size_t scheme = address.find("://");
  if (scheme == std::string_view::npos) return std::string();
  const std::size_t path = address.find('/', scheme + 3);
  return std::string(address.substr(0, path)) + "/";
}

}  // namespace

void ClassicRoad::Bind(RoadHost& host, const SearchTask& task, const RoadStart& start) {
  m_host = &host;
  m_kind = task.kind;
  m_linkPattern = start.pattern != nullptr ? start.pattern : "";
  // A pattern too long for the task file's field is none at all, as it was when read from one.
  if (m_linkPattern.size() >= kLinkPatternSize) m_linkPattern.clear();
  m_searchOrigin = OriginOf(start.base != nullptr ? start.base : "");
}

void ClassicRoad::Seed(RoadHost& host, const SearchTask& task, const RoadStart& start) {
  Bind(host, task, start);
  const char* base = start.base != nullptr ? start.base : "";
  const std::string keyword = FieldText(task.keyword);
  const auto queue = [&](QueueEnd end, std::int32_t index) {
    const std::string url = ResultPageUrl(base, task.kind, keyword, index);
    host.Add(1, end, {.url = url, .isSearchPage = true});
  };
  // No worker runs before Start, so the first page is taken first without a pause here.
  queue(QueueEnd::Front, 0);
  // A record read from a file may carry any count; it runs as one of 1 to 500, like the
  // thread count.
  const std::int32_t pages = RunnablePageCount(task);
  for (std::int32_t i = 1; i <= pages; ++i) queue(QueueEnd::Back, i);
}

bool ClassicRoad::IsResultPage(std::string_view url) const {
  return !m_searchOrigin.empty() && url.starts_with(m_searchOrigin);
}

void ClassicRoad::Fetch(int n, const TakenUrl& taken, RecordWriter& records) {
  m_host->Log(n, Format("请求下载：%s", taken.url));
  Destination where;
  if (!Locate(*m_host, n, taken.url, &where)) return;
  const ExchangeTarget target = where.Target();
  HeadAnswer head;
  if (!AskHead(*m_host, n, taken.url, target, &head)) return;
  if (head.isPage) {
    FetchPage(n, taken.url, target);
  } else {
    m_host->SaveFile(n, taken, target, head, records, FileRequestExtras{});
  }
}

// Only a page that arrived counts as fetched.
void ClassicRoad::FetchPage(int n, const char* address, const ExchangeTarget& target) {
  RoadHost& host = *m_host;
  host.Log(n, Format("开始下载网页：%s ...", address));
  std::string page;
  const PageResult result = DownloadPage(host.Transfers(), n, target, page, host.Timeouts());
  host.Log(n, "下载完成...");
  if (result == PageResult::NotConnected) host.NoteUnreachable(n, target.host, address);
  if (result != PageResult::Received) return;
  host.CountPage(n);
  host.Log(n, "开始解析连接...");
  if (m_kind == FileKind::Image) {
    ExtractImageLinks(host, n, m_linkPattern, page);
  } else {
    ExtractDocumentLinks(host, n, m_kind, page);
  }
  host.Log(n, "解析连接完成...");
}

}  // namespace quarry
