// The live road of an address, beside the classic one of classic_road.cpp.
//
// Result pages come one at a time: Seed queues the first, and each page read queues the next
// while the service says more follow and the task's page count allows. Every result-page
// request waits its turn: at most one per pageInterval per task, and none while the pages rest
// after a refusal. Before the first one the task's cookie jar fetches the service's session
// cookies; after a refusal it fetches them anew before the next page, at most once per
// cookieRefresh. A refusal rests the pages of this task only: each road holds its own pacing. A
// refused page is counted, told in one line and queued again, up to kMaxPageAttempts times in all,
// as is a page that did not arrive.
//
// A result link that is the service's redirector is resolved first (its answer names the
// address; the target is not downloaded). A file's address is then followed through its
// redirects with HEAD requests, with the task's identity and cookies, and the last of them says
// what the final address holds: the file is then fetched, saved and recorded under that
// address by the runner's SaveFile, as a classic file is. Only a final address with a query
// costs one more HEAD there (the classic one), for the name that Content-Disposition gives.
#include "engine/live_road.h"

#include <strings.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/fetch_steps.h"
#include "harvest/live_image_results.h"
#include "harvest/live_search.h"
#include "harvest/live_web_results.h"
#include "http/exchange.h"
#include "http/response_head.h"
#include "platform/format.h"

namespace quarry {

namespace {

// A redirector's page and a cookie hand-out are small; more is not read.
constexpr std::size_t kSmallAnswerBytes = 256 * 1024;
// A result page may be this large; a larger one is told as too large, not read as cut.
constexpr std::size_t kMaxResultPageBytes = 16u << 20;
constexpr std::chrono::milliseconds kTurnPoll{100};
// A name with this extension (any case) is a page to search for links, as in a classic head.
constexpr const char* kTextExtension = ".txt";

constexpr const char* kRefusalText =
    "the search service refused the request and asks for a verification; result pages paused "
    "for 5 minutes";

// Where a redirect of a live request leads. One to the service's verification host is not
// followed: it is the final answer, for the caller to read as a refusal.
std::string LiveRedirectTarget(const std::string& from, const std::string& location) {
  if (IsLiveRefusalLocation(location)) return {};
  return ResolveLiveAddress(from, location);
}

// The `pn` offset written in a live result-page address, or -1.
int OffsetOf(const std::string& url) {
  for (const char* mark : {"?pn=", "&pn="}) {
    const std::size_t at = url.find(mark);
    if (at == std::string::npos) continue;
    return std::atoi(url.c_str() + at + std::strlen(mark));
  }
  return -1;
}

// A HEAD answered so may still be served by GET: forbidden, not allowed, not implemented.
bool RefusesHead(int code) { return code == 403 || code == 405 || code == 501; }

// What the final answer of a file's HEAD chain says, read as a classic head reads it: a
// text/html answer is a page; otherwise the name is the last segment of `path` (of its
// Content-Disposition for an address with a query), and a name without an extension, or a text
// file, is a page too. False when the answer cannot tell: no Content-Type, or no name.
bool HeadFromLiveAnswer(const ExchangeAnswer& answer, std::string_view path, HeadAnswer* head) {
  if (answer.contentType.empty()) return false;
  // A length that is no 32-bit number counts as absent, as in a classic head.
  const long long length = answer.contentLength;
  head->length = length > 0 && length <= INT32_MAX ? static_cast<int>(length) : 0;
  std::memcpy(head->extension, "html", 5);
  if (answer.contentType.find("text/html") != std::string::npos) {
    head->isPage = true;
    return true;
  }
  // An address with a query is named by its Content-Disposition alone, as in a classic head.
  const std::string_view named =
      path.find('?') == std::string_view::npos ? path : std::string_view(answer.dispositionName);
  if (named.empty() || !NameFromText(named, head->name, head->extension)) return false;
  head->isPage = head->extension[0] != '.' || strcasecmp(head->extension, kTextExtension) == 0;
  return true;
}

// The failure of an exchange that brought no answer.
FailureReason ExchangeFailure(ExchangeStatus status) {
  switch (status) {
    case ExchangeStatus::BadAddress:
    case ExchangeStatus::TooManyRedirects: return FailureReason::NotAFile;
    default: return FailureReason::Unreachable;
  }
}

}  // namespace

std::string LiveRoad::RefererOf(const TakenUrl& taken) const {
  // Pictures are asked for as the image service's page would; documents name the result page
  // they were found on. Image hosts commonly refuse a file request without a Referer.
  if (m_kind == FileKind::Image) return "https://" + m_live.imageHost + "/";
  if (std::strncmp(taken.source, "http", 4) == 0 && std::strlen(taken.source) > 8) {
    return taken.source;
  }
  return {};
}

std::vector<std::string> LiveRoad::FileChainHeaders(const TakenUrl& taken) const {
  std::vector<std::string> headers = Identity();
  const std::string referer = RefererOf(taken);
  if (!referer.empty()) headers.push_back("Referer: " + referer);
  return headers;
}

FileRequestExtras LiveRoad::FileExtras(const TakenUrl& taken, const std::string& url) const {
  FileRequestExtras extras;
  extras.referer = RefererOf(taken);
  CookieOrigin origin;
  if (CookieOriginOf(url, origin)) {
    extras.cookie = m_cookies.CookieLine(origin, std::time(nullptr), kMaxCookieLineBytes);
  }
  return extras;
}

std::vector<std::string> LiveRoad::Identity() const {
  return {std::string("User-Agent: ") + kLiveUserAgent,
          std::string("Accept-Language: ") + kLiveAcceptLanguage};
}

void LiveRoad::Bind(RoadHost& host, const SearchTask& task, const RoadStart&) {
  m_host = &host;
  m_kind = task.kind;
  m_keyword = FieldText(task.keyword);
}

void LiveRoad::Seed(RoadHost& host, const SearchTask& task, const RoadStart& start) {
  Bind(host, task, start);
  if (!QueuePage(1, 0)) host.Log(1, "无法生成结果页地址（检查搜索主机）...");
}

bool LiveRoad::QueuePage(int thread, int index) {
  const int offset = LiveResultPageOffset(m_kind, index);
  if (offset < 0) return false;
  const std::string url =
      LiveResultPageUrl(m_kind, m_live.webHost, m_live.imageHost, m_keyword, offset);
  if (url.empty()) return false;
  return m_host->Add(thread, QueueEnd::Back, {.url = url, .isSearchPage = true});
}

void LiveRoad::Fetch(int n, const TakenUrl& taken, RecordWriter& records) {
  if (taken.isSearchPage) {
    FetchResultPage(n, taken);
  } else {
    FetchFile(n, taken, records);
  }
}

bool LiveRoad::AwaitResultPageTurn() {
  for (;;) {
    if (m_host->IsStopped()) return false;
    Clock::duration wait{};
    {
      std::lock_guard<std::mutex> guard(m_lock);
      const Clock::time_point now = Clock::now();
      const Clock::time_point turn = std::max(m_pagesPausedUntil, m_nextPageAt);
      if (now >= turn) {
        m_nextPageAt = now + m_live.pacing.pageInterval;
        return true;
      }
      wait = turn - now;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(wait, kTurnPoll));
  }
}

bool LiveRoad::FetchCookies(int n) {
  bool refresh = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    const Clock::time_point now = Clock::now();
    if (m_cookiesFetched) {
      const bool recently =
          m_cookiesRefreshed && now - m_lastCookieRefresh < m_live.pacing.cookieRefresh;
      if (!m_cookieRefreshDue || recently) return false;
      refresh = true;
      m_cookiesRefreshed = true;
      m_lastCookieRefresh = now;
    }
    m_cookiesFetched = true;
    m_cookieRefreshDue = false;
  }
  if (refresh) m_cookies.Clear();
  const std::string url = LiveCookieUrl(m_kind, m_live.webHost, m_live.imageHost);
  m_host->Log(n, Format("获取会话 Cookie：%s ...", url));
  ExchangeRequest request;
  request.redirectTo = LiveRedirectTarget;
  request.url = url;
  request.headers = Identity();
  request.jar = &m_cookies;
  request.maxBody = kSmallAnswerBytes;
  const ExchangeAnswer answer = Exchange(m_host->Transfers(), n, request, m_host->Timeouts());
  // The cookies come with the head: a front page that broke off later still handed them out.
  const std::size_t count = m_cookies.Cookies(std::time(nullptr)).size();
  if (count == 0) {
    m_host->Log(n, Format("未能获取会话 Cookie（%s）...",
                          answer.problem.empty() ? "no cookie handed out" : answer.problem));
  }
  return true;
}

void LiveRoad::PauseResultPages() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_pagesPausedUntil = Clock::now() + m_live.pacing.refusalPause;
  // The cookies are fetched anew right before the next page, once the pause is over.
  m_cookieRefreshDue = true;
}

void LiveRoad::OnRefusal(int n, const std::string& url, const std::string& problem) {
  m_host->Log(n, kRefusalText);
  if (!problem.empty()) m_host->Log(n, Format("（%s）", problem));
  m_host->CountRefusal();
  PauseResultPages();
  RetryPage(n, url);
}

void LiveRoad::RetryPage(int n, const std::string& url) {
  int attempts = 0;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    attempts = ++m_pageAttempts[url];
  }
  if (attempts >= kMaxPageAttempts) {
    m_host->Log(n, Format("结果页多次未能取得，不再请求：%s ...", url));
    return;
  }
  m_host->Requeue(n, QueueEnd::Back, {.url = url, .isSearchPage = true});
}

void LiveRoad::FetchResultPage(int n, const TakenUrl& taken) {
  const std::string url = taken.url;
  // Each turn is counted from the request that took the one before: the front page's, when
  // the cookies are fetched first, or the previous result page's.
  if (!AwaitResultPageTurn()) return;
  if (FetchCookies(n) && !AwaitResultPageTurn()) return;
  m_host->Log(n, Format("开始下载网页：%s ...", url));
  ExchangeRequest request;
  request.redirectTo = LiveRedirectTarget;
  request.url = url;
  request.headers = LiveResultPageHeaders(m_kind, m_live.imageHost);
  request.jar = &m_cookies;
  request.maxBody = kMaxResultPageBytes;
  const ExchangeAnswer answer = Exchange(m_host->Transfers(), n, request, m_host->Timeouts());
  m_host->Log(n, "下载完成...");
  if (answer.status == ExchangeStatus::Stopped) return;
  if (answer.bodyTooLarge) {
    // Not read as a page cut in the middle: no result page of the service comes near it.
    m_host->Log(n, answer.contentLength > 0
                       ? Format("结果页过大（%lld 字节，上限 16 MiB），不再请求：%s ...",
                                answer.contentLength, url)
                       : Format("结果页过大（超过 16 MiB），不再请求：%s ...", url));
    return;
  }
  if (answer.status != ExchangeStatus::Answered) {
    // The next page follows from this one: a page lost to the network is asked for again.
    m_host->Log(n, Format("结果页下载失败（%s）...", answer.problem));
    RetryPage(n, url);
    return;
  }

  const int offset = OffsetOf(url);
  const int pageCount = m_host->PageCount();
  const int index = offset < 0                  ? pageCount
                    : m_kind == FileKind::Image ? offset / kLiveImagePageStep
                                                : offset / kLiveWebPageStep;
  bool more = false;
  m_host->Log(n, "开始解析连接...");
  if (m_kind == FileKind::Image) {
    const LiveImagePage page =
        answer.code == 200 ? ParseLiveImagePage(answer.body) : LiveImagePage{};
    if (page.status == LiveImagePageStatus::Refused) return OnRefusal(n, url, page.problem);
    if (page.status != LiveImagePageStatus::Ok) {
      m_host->Log(
          n, Format("结果页无法识别（%s）...",
                    answer.code == 200 ? page.problem : "status " + std::to_string(answer.code)));
      return;
    }
    m_host->CountPage(n);  // only a page that was served counts, not a refusal
    for (const LiveImageItem& item : page.items) {
      m_host->Add(n, QueueEnd::Front, {.url = item.url, .title = item.title, .source = "null"});
    }
    more = LiveImagePagingGoesOn(page, offset);
  } else {
    const LiveWebPage page =
        ParseLiveWebAnswer(answer.url, answer.code, answer.location, answer.body);
    if (page.status == LiveWebPageStatus::Refused) return OnRefusal(n, url, page.problem);
    if (page.status == LiveWebPageStatus::NoResults) {
      m_host->Log(n, "没有更多结果...");
    } else if (page.status != LiveWebPageStatus::Ok) {
      m_host->Log(n, Format("结果页无法识别（%s）...", page.problem));
      return;
    }
    m_host->CountPage(n);
    if (page.adsSkipped + page.serviceLinksSkipped > 0) {
      m_host->Log(n, Format("跳过广告 %d 条、站内链接 %d 条（不请求）...", page.adsSkipped,
                            page.serviceLinksSkipped));
    }
    // A document's result page goes with it as its source: the file request names it as its
    // Referer, as a browser following the link would.
    for (const LiveWebResult& result : page.results) {
      m_host->Add(n, QueueEnd::Front,
                  {.url = result.url, .title = result.title, .source = answer.url});
    }
    more = page.status == LiveWebPageStatus::Ok && page.hasNextPage;
  }
  if (more && index + 1 < pageCount) QueuePage(n, index + 1);
  m_host->Log(n, "解析连接完成...");
}

void LiveRoad::FetchFile(int n, const TakenUrl& taken, RecordWriter& records) {
  m_host->Log(n, Format("请求下载：%s", taken.url));
  std::string url = taken.url;
  if (m_kind != FileKind::Image && IsLiveRedirectorLink(url)) {
    ExchangeRequest request;
    request.redirectTo = LiveRedirectTarget;
    request.url = url;
    request.headers = FileChainHeaders(taken);
    request.jar = &m_cookies;
    request.maxRedirects = 0;  // the answer names the address; the target is not fetched
    request.maxBody = kSmallAnswerBytes;
    request.htmlBodyOnly = true;
    const ExchangeAnswer answer = Exchange(m_host->Transfers(), n, request, m_host->Timeouts());
    if (answer.status != ExchangeStatus::Answered) {
      m_host->Log(n, Format("跳转链接解析失败（%s）...", answer.problem));
      m_host->NoteFailure(n, url, ExchangeFailure(answer.status), answer.problem);
      return;
    }
    const LiveRedirect redirect =
        ParseRedirectorAnswer(url, answer.code, answer.location, answer.body);
    if (redirect.status != LiveRedirectStatus::Resolved) {
      if (redirect.status == LiveRedirectStatus::Refused) {
        // Not a result page, but the same verification: the pages rest too, and the cookies
        // are fetched anew before the next one.
        m_host->Log(n, kRefusalText);
        PauseResultPages();
      }
      m_host->Log(n, Format("跳转链接解析失败（%s）...", redirect.problem));
      m_host->NoteFailure(n, url,
                          redirect.status == LiveRedirectStatus::Refused ? FailureReason::Refused
                                                                         : FailureReason::NotAFile,
                          redirect.problem);
      return;
    }
    url = redirect.url;
    m_host->Log(n, Format("跳转链接指向：%s ...", url));
  }

  // Through the redirects to the file's own address, without fetching it.
  ExchangeRequest request;
  request.redirectTo = LiveRedirectTarget;
  request.url = url;
  request.head = true;
  request.headers = FileChainHeaders(taken);
  request.jar = &m_cookies;
  ExchangeAnswer answer = Exchange(m_host->Transfers(), n, request, m_host->Timeouts());
  if (answer.status == ExchangeStatus::Answered && RefusesHead(answer.code)) {
    // Some file hosts answer HEAD with a refusal that GET does not meet: the head of a GET
    // decides instead, and its body is left unread (a file's is fetched below, a page's never).
    m_host->Log(n, Format("服务器不接受 HEAD（状态 %d），改用 GET 的应答头...", answer.code));
    request.url = answer.url;
    request.head = false;
    request.maxBody = 0;
    answer = Exchange(m_host->Transfers(), n, request, m_host->Timeouts());
  }
  if (answer.status != ExchangeStatus::Answered || answer.code < 200 || answer.code > 299) {
    const bool answered = answer.status == ExchangeStatus::Answered;
    m_host->Log(n, Format("请求信息头失败（%s）...",
                          answered ? "status " + std::to_string(answer.code) : answer.problem));
    m_host->NoteFailure(n, taken.url,
                        answered ? StatusFailure(answer.code) : ExchangeFailure(answer.status),
                        answered ? Format("状态 %d", answer.code) : answer.problem);
    return;
  }
  TakenUrl final = taken;
  if (answer.url.size() >= sizeof final.url) {
    m_host->Log(n, Format("地址过长，跳过：%s ...", answer.url));
    m_host->NoteFailure(n, taken.url, FailureReason::NotAFile, "地址过长");
    return;
  }
  std::memcpy(final.url, answer.url.c_str(), answer.url.size() + 1);
  if (answer.url != taken.url && m_host->IsRecorded(answer.url)) {
    m_host->Log(n, Format("跳过重复的文件：%s ...", answer.url));
    return;
  }
  Destination where;
  if (!Locate(*m_host, n, final.url, &where)) return;
  const ExchangeTarget target = where.Target();
  HeadAnswer head;
  // The chain's last HEAD tells page or file, length and name; only a name that Content-
  // Disposition alone gives is asked for again, with the classic head at the final address.
  if (!HeadFromLiveAnswer(answer, where.path, &head) &&
      !AskHead(*m_host, n, final.url, target, &head)) {
    return;
  }
  if (head.isPage) {
    m_host->Log(n, Format("不是文件，跳过：%s ...", answer.url));
    m_host->NoteFailure(n, taken.url, FailureReason::NotAFile, "网页，不是文件");
    return;
  }
  m_host->SaveFile(n, final, target, head, records, FileExtras(taken, answer.url));
}

}  // namespace quarry
