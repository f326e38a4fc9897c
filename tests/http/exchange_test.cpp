// Exchanges of absolute addresses on a scripted loopback server: a long head full of cookies
// read whole, the cookies sent on the next hop, a relative redirect followed and logged, a
// chunked body joined, the hop limit, a redirect the rule keeps as the answer and one without a
// rule, a body that is not a page left unread, bodies cut short.
#include "http/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/http/scripted_server.h"

namespace quarry {
namespace {

using testing::ScriptedServer;

class Lines : public TransferContext {
public:
  void Log(int, const std::string& text) override { lines.push_back(text); }
  bool IsStopped() const override { return false; }
  std::vector<std::string> lines;
};

HttpTimeouts Short() { return {2000, 2000, 2000, 2000}; }  // connect, send, head, body

// The redirect rule of these tests: a path is followed on the same server, an absolute address
// as it is; one to the verification host is kept as the answer.
std::string Follow(const std::string& from, const std::string& location) {
  if (location.rfind("https://verify.test/", 0) == 0) return {};
  if (location.rfind("/", 0) != 0) return location;
  return from.substr(0, from.find('/', from.find("//") + 2)) + location;
}

std::string Redirect(const std::string& location, const std::string& extra = "") {
  return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + extra +
         "Content-Length: 0\r\n\r\n";
}

TEST(UrlExchangeTest, LongCookieHeadRedirectAndChunkedBody) {
  ScriptedServer server;
  std::string cookies;
  for (int i = 0; i < 40; ++i) {
    cookies += "Set-Cookie: C" + std::to_string(i) + "=" + std::string(100, 'v') + "; path=/\r\n";
  }
  ASSERT_GT(cookies.size(), 2 * HttpSession::kHeadSize);
  server.Connection().ReadRequest().Send(Redirect("/next?x=1", cookies));
  server.Connection().ReadRequest().Send(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5;ext=1\r\nhello\r\n7\r\n, world\r\n0\r\n\r\n");
  ASSERT_TRUE(server.Start());
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());

  CookieJar jar;
  Lines log;
  ExchangeRequest request;
  request.url = base + "/first";
  request.headers = {"User-Agent: Test/1.0", "Accept: text/html"};
  request.jar = &jar;
  request.redirectTo = Follow;
  const ExchangeAnswer answer = Exchange(log, 2, request, Short());
  ASSERT_EQ(answer.status, ExchangeStatus::Answered) << answer.problem;
  EXPECT_EQ(answer.code, 200);
  EXPECT_EQ(answer.url, base + "/next?x=1");
  EXPECT_EQ(answer.hops, 1);
  EXPECT_EQ(answer.body, "hello, world");
  EXPECT_EQ(log.lines, std::vector<std::string>{"重定向（第 1 次）：" + base + "/next?x=1 ..."});
  EXPECT_EQ(jar.Cookies(0).size(), 40u);

  const std::string second = server.Received(1);
  EXPECT_EQ(second.rfind("GET /next?x=1 HTTP/1.1\r\nHost: 127.0.0.1:", 0), 0u) << second;
  EXPECT_NE(second.find("\r\nCookie: C0=" + std::string(100, 'v') + "; C1="), std::string::npos);
  EXPECT_NE(second.find("\r\nUser-Agent: Test/1.0\r\nAccept: text/html\r\n"), std::string::npos);
  EXPECT_EQ(second.find("Accept: */*"), std::string::npos);  // the caller's Accept stands alone
  EXPECT_NE(second.find("\r\nConnection: close\r\n\r\n"), std::string::npos);
}

TEST(UrlExchangeTest, RedirectLimitRefusalHostAndBodiesLeftUnread) {
  struct Case {
    const char* what;
    std::vector<std::string> answers;
    int maxRedirects;
    bool htmlBodyOnly;
    ExchangeStatus status;
    int code;
    int hops;
    std::string body;
    std::size_t maxBody = kMaxBodyBytes;
    bool oneAnswerInTwo = false;  // the two strings of `answers` are one answer, sent apart
    RedirectRule rule = Follow;
  } cases[] = {
      {"six redirects", std::vector<std::string>(6, Redirect("/again")), 5, false,
       ExchangeStatus::TooManyRedirects, 302, 5, ""},
      {"none followed", {Redirect("/elsewhere")}, 0, false, ExchangeStatus::Answered, 302, 0, ""},
      {"kept by the rule",
       {Redirect("https://verify.test/static/captcha?x")},
       5,
       false,
       ExchangeStatus::Answered,
       302,
       0,
       ""},
      {"no rule",
       {Redirect("/elsewhere")},
       5,
       false,
       ExchangeStatus::Answered,
       302,
       0,
       "",
       kMaxBodyBytes,
       false,
       nullptr},
      {"not a page",
       {"HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n\r\n%PDF-1.4"},
       0,
       true,
       ExchangeStatus::Answered,
       200,
       0,
       ""},
      {"a page",
       {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\n<p>x"},
       0,
       true,
       ExchangeStatus::Answered,
       200,
       0,
       "<p>x"},
      // A body that ends before its framing does is no answer: a page cut short must not be
      // read as a short page. One cut at the caller's limit still is.
      {"cut short",
       {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10\r\n\r\n<p>x"},
       0,
       false,
       ExchangeStatus::Broken,
       200,
       0,
       "<p>x"},
      {"chunks cut short",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n<p>x\r\n"},
       0,
       false,
       ExchangeStatus::Broken,
       200,
       0,
       "<p>x"},
      {"longer than asked",
       {"HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n" + std::string(20, 'b')},
       0,
       false,
       ExchangeStatus::Answered,
       200,
       0,
       std::string(16, 'b'),
       16},
      // The first read ends inside a chunk whose data ends like the last chunk.
      {"data like a last chunk",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7\r\nab0\r\n\r\n",
        "\r\n2\r\nyz\r\n0\r\n\r\n"},
       0,
       false,
       ExchangeStatus::Answered,
       200,
       0,
       "ab0\r\n\r\nyz",
       kMaxBodyBytes,
       true},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    if (c.oneAnswerInTwo) {
      server.Connection().ReadRequest().Send(c.answers[0]).Pause(300).Send(c.answers[1]);
    } else {
      for (const std::string& answer : c.answers) server.Connection().ReadRequest().Send(answer);
    }
    ASSERT_TRUE(server.Start());
    Lines log;
    ExchangeRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/start";
    request.maxRedirects = c.maxRedirects;
    request.htmlBodyOnly = c.htmlBodyOnly;
    request.maxBody = c.maxBody;
    request.redirectTo = c.rule;
    const ExchangeAnswer answer = Exchange(log, 1, request, Short());
    EXPECT_EQ(answer.status, c.status) << c.what;
    EXPECT_EQ(answer.code, c.code) << c.what;
    EXPECT_EQ(answer.hops, c.hops) << c.what;
    EXPECT_EQ(answer.body, c.body) << c.what;
    EXPECT_EQ(log.lines.size(), static_cast<std::size_t>(c.hops)) << c.what;
  }
}

// A body past the caller's limit is told as too large, never passed off as a short answer; one
// that fits to the byte is not.
TEST(UrlExchangeTest, BodiesPastTheLimitAreToldAsTooLarge) {
  const std::string body(3000, 'b');
  struct Case {
    const char* what;
    std::string answer;
    bool tooLarge;
  };
  const Case cases[] = {
      {"length over", "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + body, true},
      {"length to the byte",
       "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + body.substr(0, 1000), false},
      {"no length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, true},
      {"chunks",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nbb8\r\n" + body + "\r\n0\r\n\r\n",
       true},
      {"small chunks",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    server.Connection().ReadRequest().Send(c.answer).Close();
    ASSERT_TRUE(server.Start());
    Lines log;
    ExchangeRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/page";
    request.maxBody = 1000;
    const ExchangeAnswer answer = Exchange(log, 1, request, Short());
    EXPECT_EQ(answer.bodyTooLarge, c.tooLarge) << c.what;
    EXPECT_LE(answer.body.size(), 1000u) << c.what;
  }
}

}  // namespace
}  // namespace quarry
