// The live road: the search service as it answers today (https, cookies, JSON image results, a
// link redirector). It holds the task's session with the service (its cookie jar), the pacing
// of its result pages, the pause after a refusal and the attempts per page, under its own lock.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/road.h"
#include "http/cookie_jar.h"

namespace quarry {

// The live road's politeness towards the search service, per task. The defaults are the real
// ones; tests shorten them.
struct LivePacing {
  std::chrono::milliseconds pageInterval{1000};       // between two result-page requests
  std::chrono::milliseconds refusalPause{5 * 60000};  // result pages rest after a refusal
  std::chrono::milliseconds cookieRefresh{3600000};   // cookies fetched anew at most this often
};

// What a live run needs beyond the task: the service's hosts (a host may carry ":port") and
// the pacing.
struct LiveSetup {
  std::string webHost;
  std::string imageHost;
  LivePacing pacing{};
};

class LiveRoad : public Road {
public:
  // A result page refused or failed this often is given up: the service will not serve it now.
  static constexpr int kMaxPageAttempts = 3;

  explicit LiveRoad(const LiveSetup& setup) : m_live(setup) {}

  SearchMode Mode() const override { return SearchMode::Live; }
  // Queues the first result page only; every further one follows from the page before it.
  void Bind(RoadHost& host, const SearchTask& task, const RoadStart& start) override;
  void Seed(RoadHost& host, const SearchTask& task, const RoadStart& start) override;
  // Live result pages are all queued as such; the service's other addresses are no pages.
  bool IsResultPage(std::string_view) const override { return false; }
  // The pages follow one another until the service has no more or pageCount are read.
  std::int32_t ResultPagesPlanned(const SearchTask& task) const override {
    return RunnablePageCount(task);
  }
  void Fetch(int thread, const TakenUrl& taken, RecordWriter& records) override;

private:
  using Clock = std::chrono::steady_clock;

  void FetchResultPage(int n, const TakenUrl& taken);
  void FetchFile(int n, const TakenUrl& taken, RecordWriter& records);
  // Waits for the next result-page turn; false when the task stops meanwhile.
  bool AwaitResultPageTurn();
  // Fetches the session cookies when they are due; true when it made a request.
  bool FetchCookies(int n);
  // Rests the result pages after a refusal and has the cookies fetched anew before the next.
  void PauseResultPages();
  void OnRefusal(int n, const std::string& url, const std::string& problem);
  void RetryPage(int n, const std::string& url);
  bool QueuePage(int thread, int index);
  std::vector<std::string> Identity() const;
  // What the request of the file `taken`, at its final address `url`, carries: the session's
  // cookies for that address and the Referer a browser would send.
  FileRequestExtras FileExtras(const TakenUrl& taken, const std::string& url) const;
  // The Referer of the requests for the file `taken` ("" for none), and the header lines of
  // the request chain that leads to it: the task's identity and that Referer.
  std::string RefererOf(const TakenUrl& taken) const;
  std::vector<std::string> FileChainHeaders(const TakenUrl& taken) const;

  const LiveSetup m_live;
  RoadHost* m_host = nullptr;  // fixed by Bind
  FileKind m_kind = FileKind::Image;
  std::string m_keyword;
  CookieJar m_cookies;  // the task's session with the service (locks itself)

  // Guards the pacing times, the refusal counts per page and the cookie times; never held
  // across a request.
  std::mutex m_lock;
  Clock::time_point m_pagesPausedUntil{};
  Clock::time_point m_nextPageAt{};
  Clock::time_point m_lastCookieRefresh{};
  bool m_cookiesFetched = false;              // the first hand-out was asked for
  bool m_cookieRefreshDue = false;            // a refusal came since
  bool m_cookiesRefreshed = false;            // m_lastCookieRefresh holds a time
  std::map<std::string, int> m_pageAttempts;  // result-page address -> refused or failed
};

}  // namespace quarry
