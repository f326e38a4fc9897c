// The live road on its own, on the scripted loopback server: a taken address goes in, and the
// requests it makes, the links it queues again and the files it hands to the runner come out.
// A redirector link is resolved and followed to the file's final address with the task's
// identity and cookies, where one HEAD comes before the GET; a redirector that answers with the
// verification page rests the result pages for the refusal pause; a result page that does not
// arrive is asked for again, paced, until its attempts run out.
#include "engine/live_road.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "harvest/live_search.h"
#include "tests/http/scripted_server.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using testing::ScriptedServer;
using Clock = std::chrono::steady_clock;

// The runner as the road sees it: it records what the road asks of it, and saves a file with
// the download every road uses.
class RecordingHost : public RoadHost, public TransferContext {
public:
  struct SavedFile {
    std::string url;
    std::string title;
    std::string name;
    int length = 0;
    FileResult result = FileResult::Broken;
  };

  explicit RecordingHost(std::string folder) : m_folder(std::move(folder)) {}

  void Log(int, const std::string& text) override {
    std::lock_guard<std::mutex> guard(m_lock);
    lines.push_back(text);
  }
  bool IsStopped() const override { return false; }
  bool Add(int, QueueEnd, const LinkToQueue& link) override {
    added.emplace_back(link.url);
    return true;
  }
  bool Requeue(int, QueueEnd, const LinkToQueue& link) override {
    requeued.emplace_back(link.url);
    return true;
  }
  TransferContext& Transfers() override { return *this; }
  const HttpTimeouts& Timeouts() const override { return m_timeouts; }
  std::int32_t PageCount() override { return 5; }
  void CountPage(int) override { ++pages; }
  void CountRefusal() override { ++refusals; }
  bool IsRecorded(const std::string&) override { return false; }
  bool IsGivenUp(const char*) override { return false; }
  void NoteReached(const char*) override {}
  void NoteUnreachable(int, const char*, const char*) override {}
  void NoteFailure(int, std::string_view address, FailureReason reason,
                   const std::string&) override {
    failures.emplace_back(std::string(address), reason);
  }
  void SaveFile(int thread, const TakenUrl& taken, const ExchangeTarget& target,
                const HeadAnswer& head, RecordWriter&, const FileRequestExtras& extras) override {
    std::string path = m_folder + head.name;
    const FileResult result =
        DownloadFile(*this, thread, target, static_cast<std::uint32_t>(head.length), path,
                     m_timeouts, nullptr, extras);
    saved.push_back({taken.url, taken.title, head.name, head.length, result});
  }

  bool Logged(const std::string& part) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<std::string> lines;
  std::vector<std::pair<std::string, FailureReason>> failures;
  std::vector<std::string> added;
  std::vector<std::string> requeued;
  std::vector<SavedFile> saved;
  int pages = 0;
  int refusals = 0;

private:
  std::mutex m_lock;
  std::string m_folder;
  HttpTimeouts m_timeouts{2000, 2000, 2000, 2000};  // connect, send, head, body
};

TakenUrl Taken(const std::string& url, bool resultPage, const std::string& title = "",
               const std::string& source = "") {
  TakenUrl taken{};
  url.copy(taken.url, sizeof taken.url - 1);
  title.copy(taken.title, sizeof taken.title - 1);
  source.copy(taken.source, sizeof taken.source - 1);
  taken.isSearchPage = resultPage;
  return taken;
}

SearchTask PdfTask() {
  SearchTask task{};
  task.kind = FileKind::Pdf;
  SetFieldText(task.keyword, sizeof task.keyword, "report");
  return task;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class LiveRoadTest : public testing::ScriptedServerTest {
protected:
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(server.Port()); }
  std::string Host() const { return "127.0.0.1:" + std::to_string(server.Port()); }

  testing::TempFolder m_folder;
};

TEST_F(LiveRoadTest, ARedirectorLinkIsFollowedToItsFileWithTheTasksIdentityAndCookies) {
  const std::string body(3000, 'x');
  const std::string fileHead =
      "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: 3000\r\n"
      "Connection: close\r\n\r\n";
  // The redirector names the address and hands out a cookie; that address redirects once.
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 302 Found\r\nLocation: /hop\r\nSet-Cookie: S=1; path=/\r\n"
      "Content-Length: 0\r\n\r\n");
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 302 Found\r\nLocation: /files/report.pdf\r\nContent-Length: 0\r\n\r\n");
  server.Connection().ReadRequest().Send(fileHead);
  server.Connection().ReadRequest().Send(fileHead + body);
  // A final address with a query is named by its Content-Disposition: still one HEAD.
  const std::string namedHead =
      "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: 3000\r\n"
      "Content-Disposition: attachment; filename=\"named.pdf\"\r\nConnection: close\r\n\r\n";
  server.Connection().ReadRequest().Send(namedHead);
  server.Connection().ReadRequest().Send(namedHead + body);
  ASSERT_TRUE(server.Start());

  RecordingHost host(m_folder.Path());
  LiveRoad road({Host(), Host(), {}});
  road.Seed(host, PdfTask(), {});
  ASSERT_EQ(host.added.size(), 1u);  // the first result page only
  EXPECT_EQ(host.added[0].rfind("https://" + Host() + "/s?wd=report", 0), 0u) << host.added[0];
  host.added.clear();

  RecordWriter records;
  road.Fetch(2,
             Taken(Base() + "/link?url=abc", false, "The report",
                   "https://" + Host() + "/s?wd=report&pn=0"),
             records);

  ASSERT_EQ(host.saved.size(), 1u);
  EXPECT_EQ(host.saved[0].url, Base() + "/files/report.pdf");  // recorded at its final address
  EXPECT_EQ(host.saved[0].title, "The report");
  EXPECT_EQ(host.saved[0].name, "report.pdf");
  EXPECT_EQ(host.saved[0].length, 3000);
  EXPECT_EQ(host.saved[0].result, FileResult::Complete);
  EXPECT_TRUE(host.added.empty());

  // One HEAD at the final address, then the GET.
  ASSERT_EQ(server.Accepted(), 4u);
  EXPECT_EQ(server.Received(0).rfind("GET /link?url=abc HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Received(1).rfind("HEAD /hop HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Received(2).rfind("HEAD /files/report.pdf HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Received(3).rfind("GET /files/report.pdf HTTP/1.1\r\n", 0), 0u);
  // The chain to the final address presents the task's browser identity, and the cookie the
  // redirector handed out goes with every request after it.
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NE(server.Received(i).find(std::string("User-Agent: ") + kLiveUserAgent),
              std::string::npos)
        << i;
  }
  EXPECT_EQ(server.Received(0).find("Cookie:"), std::string::npos);
  EXPECT_NE(server.Received(1).find("Cookie: S=1"), std::string::npos);
  EXPECT_NE(server.Received(2).find("Cookie: S=1"), std::string::npos);
  // The file's own request carries the session's cookie and the page it was found on.
  EXPECT_NE(server.Received(3).find("Cookie:S=1\r\n"), std::string::npos) << server.Received(3);
  EXPECT_NE(server.Received(3).find("Referer:https://" + Host() + "/s?wd=report"),
            std::string::npos)
      << server.Received(3);

  road.Fetch(2, Taken(Base() + "/get?id=7", false), records);
  ASSERT_EQ(host.saved.size(), 2u);
  EXPECT_EQ(host.saved[1].url, Base() + "/get?id=7");
  EXPECT_EQ(host.saved[1].name, "named.pdf");
  EXPECT_EQ(host.saved[1].result, FileResult::Complete);
  std::string all;
  for (std::size_t i = 0; i < server.Accepted(); ++i) all += server.Received(i);
  EXPECT_EQ(Count(all, "HEAD /files/report.pdf "), 1u);
  EXPECT_EQ(Count(all, "HEAD /get?id=7 "), 1u);
  EXPECT_EQ(Count(all, "GET /get?id=7 "), 1u);
}

// Hosts that refuse HEAD (403, 405, 501) but serve GET: the head of a GET decides, a file is
// then fetched and a page dropped unread.
TEST_F(LiveRoadTest, AHeadRefusedIsDecidedByTheHeadOfAGet) {
  const std::string body(3000, 'y');
  const std::string fileHead =
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 3000\r\n"
      "Connection: close\r\n\r\n";
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  server.Connection().ReadRequest().Send(fileHead + body);  // read for its head only
  server.Connection().ReadRequest().Send(fileHead + body);
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5000\r\n"
      "Connection: close\r\n\r\n" +
      std::string(5000, '<'));
  ASSERT_TRUE(server.Start());

  RecordingHost host(m_folder.Path());
  LiveRoad road({Host(), Host(), {}});
  road.Seed(host, PdfTask(), {});
  RecordWriter records;
  road.Fetch(2, Taken(Base() + "/pictures/a.jpg", false), records);
  road.Fetch(2, Taken(Base() + "/pictures/b.html", false), records);
  ASSERT_EQ(host.saved.size(), 1u);
  EXPECT_EQ(host.saved[0].name, "a.jpg");
  EXPECT_EQ(host.saved[0].result, FileResult::Complete);
  EXPECT_TRUE(host.Logged("不是文件，跳过："));
  server.Stop();
  ASSERT_EQ(server.Accepted(), 5u);
  const char* methods[] = {"HEAD /pictures/a.jpg", "GET /pictures/a.jpg", "GET /pictures/a.jpg",
                           "HEAD /pictures/b.html", "GET /pictures/b.html"};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(server.Received(i).rfind(std::string(methods[i]) + " HTTP/1.1\r\n", 0), 0u) << i;
  }
}

TEST_F(LiveRoadTest, ARefusalRestsTheResultPagesAndAFailedPageIsAskedForAgainPaced) {
  // The redirector sends to the verification page: a refusal. Then every https connection
  // (the cookie hand-out, three tries of a result page) meets a server that speaks no TLS.
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 302 Found\r\nLocation: https://wappass.baidu.com/static/captcha\r\n"
      "Content-Length: 0\r\n\r\n");
  for (int i = 0; i < 4; ++i) server.Connection().Close();
  ASSERT_TRUE(server.Start());

  RecordingHost host(m_folder.Path());
  const LivePacing pacing{.pageInterval = std::chrono::milliseconds(200),
                          .refusalPause = std::chrono::milliseconds(600),
                          .cookieRefresh = std::chrono::milliseconds(3600000)};
  LiveRoad road({Host(), Host(), pacing});
  road.Seed(host, PdfTask(), {});
  RecordWriter records;

  const Clock::time_point refused = Clock::now();
  road.Fetch(3, Taken(Base() + "/link?url=abc", false), records);
  EXPECT_TRUE(host.Logged("refused the request"));
  EXPECT_TRUE(host.saved.empty());
  EXPECT_EQ(server.Accepted(), 1u);  // nothing is asked for after a refusal
  // The refused link is kept as a failure; a result page never is.
  using Failure = std::pair<std::string, FailureReason>;
  EXPECT_EQ(host.failures,
            (std::vector<Failure>{{Base() + "/link?url=abc", FailureReason::Refused}}));

  const std::string page = "https://" + Host() + "/s?wd=report%20filetype%3Apdf&pn=10";
  road.Fetch(3, Taken(page, true), records);
  // The page waited out the pause before its first request, the cookie hand-out.
  EXPECT_GE(Clock::now() - refused, pacing.refusalPause);
  EXPECT_EQ(server.Accepted(), 3u);  // the cookies, then the page
  EXPECT_EQ(host.requeued, std::vector<std::string>{page});

  const Clock::time_point second = Clock::now();
  road.Fetch(3, Taken(page, true), records);
  road.Fetch(3, Taken(page, true), records);
  EXPECT_GE(Clock::now() - second, pacing.pageInterval);  // two turns, one interval apart at least
  EXPECT_EQ(server.Accepted(), 5u);  // the cookies are not fetched again without a refusal
  // Asked for kMaxPageAttempts times in all: queued again twice, then given up.
  EXPECT_EQ(host.requeued, (std::vector<std::string>{page, page}));
  EXPECT_TRUE(host.Logged("不再请求"));
  EXPECT_EQ(host.pages, 0);
  EXPECT_EQ(host.refusals, 0);  // a refused redirector is no refused result page
}

}  // namespace
}  // namespace quarry
