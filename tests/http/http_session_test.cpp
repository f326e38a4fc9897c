// HttpSession: the exact request bytes, and the socket operations against a scripted
// loopback server with short time limits (the real limits are checked once, as values).
#include "http/http_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "http/split_url.h"
#include "tests/http/scripted_server.h"

namespace quarry {
namespace {

using testing::ScriptedServer;
using testing::ScriptedServerTest;

const char kHeadAgent[] = "User-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";

// Short limits so that every time-out case ends within a fraction of a second.
constexpr HttpTimeouts kFastTimeouts{300, 150, 150, 150};  // connect, send, head, body

std::string Head(const char* host, const char* path, const char* cookie, const char* referer) {
  HttpSession session;
  int length = -1;
  const std::string text = session.ComposeHead(host, path, length, cookie, referer);
  EXPECT_EQ(length, static_cast<int>(text.size()));
  return text;
}

std::string Get(const char* host, const char* path, const char* cookie, const char* referer,
                std::int32_t from, std::int32_t to) {
  HttpSession session;
  int length = -1;
  const std::string text = session.ComposeGet(host, path, length, cookie, referer, from, to);
  EXPECT_EQ(length, static_cast<int>(text.size()));
  return text;
}

TEST(HttpSessionTest, RealTimeLimitsAreTheDefaults) {
  const HttpTimeouts real;
  EXPECT_EQ(real.connectMs, 60000);
  EXPECT_EQ(real.sendMs, 10000);
  EXPECT_EQ(real.headMs, 10000);
  EXPECT_EQ(real.bodyMs, 20000);
  HttpSession session;
  EXPECT_EQ(session.Timeouts().connectMs, 60000);
  EXPECT_EQ(session.Timeouts().bodyMs, 20000);
  EXPECT_EQ(session.Port(), 80);
  EXPECT_EQ(session.HeadLength(), -1);
  EXPECT_FALSE(session.HeadDone());
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(session.SocketDescriptor(), kNoSocket);
}

TEST(HttpSessionTest, ComposesHeadByteForByte) {
  EXPECT_EQ(Head("www.example.com", "/docs/a.doc", nullptr, nullptr),
            std::string("HEAD /docs/a.doc HTTP/1.1\r\nHost:www.example.com\r\nAccept:*/*\r\n") +
                kHeadAgent + "\r\n");
  EXPECT_EQ(Head("h", "/", "", nullptr),  // an empty cookie adds no line
            std::string("HEAD / HTTP/1.1\r\nHost:h\r\nAccept:*/*\r\n") + kHeadAgent + "\r\n");
  EXPECT_EQ(Head("h", "/", "id=1", "http://r/"),
            std::string("HEAD / HTTP/1.1\r\nHost:h\r\nReferer:http://r/\r\nAccept:*/*\r\n") +
                kHeadAgent + "Cookie:id=1\r\n\r\n");
}

TEST(HttpSessionTest, ComposesGetWithItsRangeLine) {
  const std::string start =
      "GET /f.pdf HTTP/1.1\r\nHost:h\r\nAccept:*/*\r\nUser-Agent:Trawler\r\n"
      "Connection:Keep-Alive\r\n";
  struct RangeCase {
    std::int32_t from, to;
    const char* line;
  } cases[] = {
      {0, 0, ""},
      {0, 9999, ""},
      {-5, 10, ""},
      {5000, 0, "Range: bytes=5000-\r\n"},
      {5000, 5000, "Range: bytes=5000-\r\n"},
      {5000, 4000, "Range: bytes=5000-\r\n"},
      {5000, 9999, "Range: bytes=5000-9999\r\n"},
      {2147483646, 2147483647, "Range: bytes=2147483646-2147483647\r\n"},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(Get("h", "/f.pdf", nullptr, nullptr, c.from, c.to), start + c.line + "\r\n");
  }
  EXPECT_EQ(Get("h", "/f.pdf", "", nullptr, 0, 0), start + "\r\n");
  EXPECT_EQ(
      Get("h", "/f.pdf", "k=v", "http://r/", 10, 0),
      "GET /f.pdf HTTP/1.1\r\nHost:h\r\nReferer:http://r/\r\nAccept:*/*\r\n"
      "User-Agent:Trawler\r\nConnection:Keep-Alive\r\nCookie:k=v\r\nRange: bytes=10-\r\n\r\n");
}

TEST(HttpSessionTest, SplitAddressesComposeWithBareHostAndQuery) {
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  ASSERT_TRUE(SplitUrl("http://files.example.com:8080/s?wd=a b&pn=10", host, path, port));
  EXPECT_EQ(port, 8080);
  EXPECT_EQ(Get(host, path, nullptr, nullptr, 0, 0),
            "GET /s?wd=a%20b&pn=10 HTTP/1.1\r\nHost:files.example.com\r\nAccept:*/*\r\n"
            "User-Agent:Trawler\r\nConnection:Keep-Alive\r\n\r\n");
  EXPECT_EQ(
      Head(host, path, nullptr, nullptr),
      std::string("HEAD /s?wd=a%20b&pn=10 HTTP/1.1\r\nHost:files.example.com\r\nAccept:*/*\r\n") +
          kHeadAgent + "\r\n");
}

TEST(HttpSessionTest, LongestRequestsFitAndComposingAgainStartsClean) {
  const std::string host(127, 'h');
  const std::string path = "/" + std::string(1022, 'p');
  HttpSession session;
  int length = 0;
  session.ComposeGet(host.c_str(), path.c_str(), length, nullptr, nullptr, 2147483646, 2147483647);
  EXPECT_EQ(length, 1265);
  session.ComposeHead(host.c_str(), path.c_str(), length, nullptr, nullptr);
  EXPECT_EQ(length, 1247);
  session.ComposeHead("h", "/", length, nullptr, nullptr);
  EXPECT_EQ(std::strlen(session.Request()), static_cast<std::size_t>(length));
  EXPECT_EQ(
      std::string(session.Request(), HttpSession::kRequestSize),
      Head("h", "/", nullptr, nullptr) + std::string(HttpSession::kRequestSize - length, '\0'));
}

// --- Connecting ---

TEST_F(ScriptedServerTest, ConnectChecksTheAddressBeforeAnyNetworkActivity) {
  HttpSession session(kFastTimeouts);
  HttpSession noSocket(kFastTimeouts);
  EXPECT_EQ(noSocket.Connect("127.0.0.1", 80), SessionResult::Failed);  // Create was not called
  ASSERT_EQ(session.Create(), SessionResult::Done);
  EXPECT_EQ(session.Connect(nullptr, 80), SessionResult::Failed);
  EXPECT_EQ(session.Connect("255.255.255.2555", 81), SessionResult::Failed);  // 16 characters
  EXPECT_EQ(session.Port(), 81);
  EXPECT_STREQ(session.Address(), "");
  EXPECT_EQ(session.Connect("not an address", 80), SessionResult::Failed);
  EXPECT_FALSE(session.Connected());

  // 15 characters are taken; the broadcast address itself cannot be connected to.
  HttpSession broadcast(kFastTimeouts);
  ASSERT_EQ(broadcast.Create(), SessionResult::Done);
  EXPECT_EQ(broadcast.Connect("255.255.255.255", 80), SessionResult::NoAnswer);
  EXPECT_STREQ(broadcast.Address(), "255.255.255.255");
}

TEST_F(ScriptedServerTest, RefusedConnectionIsNotMadeAndReturnsAtOnce) {
  const int port = testing::FreeLoopbackPort();
  ASSERT_NE(port, 0);
  HttpSession session;  // the real 60-second limit: a refusal must not wait for it
  ASSERT_EQ(session.Create(), SessionResult::Done);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(session.Connect("127.0.0.1", port), SessionResult::NoAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(session.SendRequest(), SessionResult::Failed);
  char buffer[8];
  EXPECT_EQ(session.Receive(buffer, sizeof buffer), 0);
}

TEST_F(ScriptedServerTest, ConnectThatIsNeverAnsweredEndsAtItsLimit) {
  // A listener whose queue is full drops further connection attempts without an answer.
  testing::SilentListener listener(0);
  const int port = listener.Port();
  ASSERT_NE(port, 0);

  std::vector<std::unique_ptr<HttpSession>> fillers;
  SessionResult result = SessionResult::Done;
  for (int attempt = 0; attempt < 4 && result == SessionResult::Done; ++attempt) {
    fillers.push_back(std::make_unique<HttpSession>(kFastTimeouts));
    ASSERT_EQ(fillers.back()->Create(), SessionResult::Done);
    result = fillers.back()->Connect("127.0.0.1", port);
  }
  EXPECT_EQ(result, SessionResult::NoAnswer);
  EXPECT_FALSE(fillers.back()->Connected());
}

TEST_F(ScriptedServerTest, AConnectedSessionRefusesASecondSocket) {
  server.Connection().Close();
  ASSERT_TRUE(server.Start());
  HttpSession session(kFastTimeouts);
  ASSERT_EQ(session.Create(), SessionResult::Done);
  EXPECT_EQ(session.Connect("127.0.0.1", server.Port()), SessionResult::Done);
  EXPECT_TRUE(session.Connected());
  EXPECT_EQ(session.Create(), SessionResult::Failed);  // already connected
}

// --- Exchanges ---

class ExchangeTest : public ScriptedServerTest {
protected:
  // Creates, connects and sends a HEAD request for "/x"; the result of SendRequest.
  SessionResult Exchange(HttpSession& session) {
    int length = 0;
    session.ComposeHead("localhost", "/x", length, nullptr, nullptr);
    EXPECT_EQ(session.Create(), SessionResult::Done);
    EXPECT_EQ(session.Connect("127.0.0.1", server.Port()), SessionResult::Done);
    return session.SendRequest();
  }
  std::string ReceiveAll(HttpSession& session) {
    std::string body;
    char buffer[512];
    int got;
    while ((got = session.Receive(buffer, sizeof buffer)) > 0) body.append(buffer, got);
    return body;
  }
  HttpSession session{kFastTimeouts};
};

TEST_F(ExchangeTest, SendsTheRequestAndLeavesTheBodyInTheSocket) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
  // The head arrives in pieces, split inside its blank line.
  server.Connection()
      .ReadRequest()
      .Send(head.substr(0, 10))
      .Pause(20)
      .Send(head.substr(10, head.size() - 13))
      .Pause(20)
      .Send("\n\r")
      .Pause(20)
      .Send("\nhello")
      .Close();
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(Exchange(session), SessionResult::Done);
  EXPECT_EQ(std::string(session.Head()), head);
  EXPECT_EQ(session.HeadLength(), static_cast<int>(head.size()));
  EXPECT_TRUE(session.HeadDone());
  EXPECT_EQ(ReceiveAll(session), "hello");
  EXPECT_FALSE(session.Connected());  // the server's close closed the socket
  EXPECT_EQ(
      server.Received(0),
      std::string("HEAD /x HTTP/1.1\r\nHost:localhost\r\nAccept:*/*\r\n") + kHeadAgent + "\r\n");
}

TEST_F(ExchangeTest, HeadResults) {
  const std::string ok = "HTTP/1.1 200 OK\r\nServer: s\r\n\r\n";
  struct HeadCase {
    const char* name;
    std::vector<std::string> sends;
    bool hold;  // keep the connection open after sending
    SessionResult result;
    std::string head;
  } cases[] = {
      {"never answers", {}, true, SessionResult::NoAnswer, ""},
      {"closes within the head", {"HTTP/1.1 200 OK\r\nServ"}, false, SessionResult::Failed, ""},
      {"closes before a byte", {}, false, SessionResult::Failed, ""},
      {"interim head then the real one",
       {"HTTP/1.1 100 Continue\r\n\r\n", ok},
       true,
       SessionResult::Done,
       ok},
      {"two interim heads",
       {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n" + ok},
       true,
       SessionResult::Done,
       ok},
      {"bare LF LF, then close",
       {"HTTP/1.1 200 OK\nA: b\n\nbody"},
       false,
       SessionResult::Failed,
       ""},
      {"bare LF LF, then silence",
       {"HTTP/1.1 200 OK\nA: b\n\nbody"},
       true,
       SessionResult::NoAnswer,
       ""},
      {"CR CR LF LF is no blank line",
       {"HTTP/1.1 200 OK\r\r\n\n"},
       true,
       SessionResult::NoAnswer,
       ""},
  };
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer local;
    auto& script = local.Connection().ReadRequest();
    for (const std::string& bytes : c.sends) script.Send(bytes);
    if (c.hold) script.Hold();
    ASSERT_TRUE(local.Start());
    HttpSession one(kFastTimeouts);
    int length = 0;
    one.ComposeHead("h", "/", length, nullptr, nullptr);
    ASSERT_EQ(one.Create(), SessionResult::Done);
    ASSERT_EQ(one.Connect("127.0.0.1", local.Port()), SessionResult::Done);
    EXPECT_EQ(one.SendRequest(), c.result);
    if (c.result == SessionResult::Done) {
      EXPECT_EQ(std::string(one.Head()), c.head);
      EXPECT_EQ(one.HeadLength(), static_cast<int>(c.head.size()));
    } else {
      EXPECT_FALSE(one.HeadDone());
    }
    local.Stop();
  }
}

TEST_F(ExchangeTest, ResetWithinTheHeadIsAReceiveError) {
  server.Connection().ReadRequest().Send("HTTP/1.1 200").Pause(20).Reset();
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(Exchange(session), SessionResult::NoAnswer);
}

TEST_F(ExchangeTest, EndlessInterimHeadsFailLikeABrokenHead) {
  std::string interim;
  for (int i = 0; i <= HttpSession::kMaxInterimHeads; ++i)
    interim += "HTTP/1.1 100 Continue\r\n\r\n";
  server.Connection().ReadRequest().Send(interim + "HTTP/1.1 200 OK\r\n\r\n").Hold();
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(Exchange(session), SessionResult::Failed);
}

TEST_F(ExchangeTest, OverlongHeadIsCutAt2048AndTheRestIsBody) {
  std::string head = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(2100, 'a') + "\r\n\r\n";
  server.Connection().Send(head + "tail").Close();  // answers without reading the request
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(session.Create(), SessionResult::Done);
  ASSERT_EQ(session.Connect("127.0.0.1", server.Port()), SessionResult::Done);
  int length = 0;
  ASSERT_EQ(session.ReadHead(length), SessionResult::Done);
  EXPECT_EQ(length, 2048);
  EXPECT_EQ(std::strlen(session.Head()), 2048u);
  EXPECT_EQ(std::string(session.Head()), head.substr(0, 2048));
  EXPECT_EQ(ReceiveAll(session), head.substr(2048) + "tail");
}

TEST_F(ExchangeTest, ShortHeadAfterALongOneLeavesNoRemains) {
  const std::string interim =
      "HTTP/1.1 100 Continue\r\nX-Pad: " + std::string(500, 'z') + "\r\n\r\n";
  const std::string ok = "HTTP/1.1 204 No Content\r\n\r\n";
  server.Connection().ReadRequest().Send(interim + ok).Close();
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(Exchange(session), SessionResult::Done);
  EXPECT_EQ(std::string(session.Head()), ok);
  EXPECT_EQ(session.HeadLength(), static_cast<int>(ok.size()));
}

TEST_F(ExchangeTest, SendingToAPeerThatHasClosedIsNoAnswer) {
  server.Connection().Close();
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(session.Create(), SessionResult::Done);
  ASSERT_EQ(session.Connect("127.0.0.1", server.Port()), SessionResult::Done);
  const int descriptor = session.SocketDescriptor();
  char probe;
  ASSERT_EQ(recv(descriptor, &probe, 1, 0), 0);  // the peer's close arrived
  // A first byte draws the closed peer's reset; the request then meets a reset connection.
  ASSERT_EQ(send(descriptor, "x", 1, MSG_NOSIGNAL), 1);
  pollfd entry{descriptor, 0, 0};
  ASSERT_EQ(poll(&entry, 1, 900), 1);
  EXPECT_EQ(session.SendRequest("GET / HTTP/1.1\r\n\r\n", 0), SessionResult::NoAnswer);
}

TEST_F(ExchangeTest, SendingToAPeerThatNeverReadsEndsAtTheSendLimit) {
  server.Connection().Hold();
  ASSERT_TRUE(server.Start());
  HttpTimeouts timeouts = kFastTimeouts;
  timeouts.sendMs = 40;  // each send call that finds the buffers full waits this long
  HttpSession sender(timeouts);
  ASSERT_EQ(sender.Create(), SessionResult::Done);
  // A small, fixed send buffer, so that a few megabytes fill both sides.
  const int bufferSize = 16 * 1024;
  ASSERT_EQ(
      setsockopt(sender.SocketDescriptor(), SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize),
      0);
  ASSERT_EQ(sender.Connect("127.0.0.1", server.Port()), SessionResult::Done);
  const std::string large(4 * 1024 * 1024, 'x');
  EXPECT_EQ(sender.SendRequest(large.c_str(), static_cast<int>(large.size())),
            SessionResult::NoAnswer);
}

TEST_F(ExchangeTest, ReceiveAndCloseAfterTheHead) {
  server.Connection().ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\nabc").Hold();
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(Exchange(session), SessionResult::Done);
  ASSERT_EQ(session.SetTimeout(session.Timeouts().bodyMs, false), SessionResult::Done);
  char buffer[16] = {};
  EXPECT_EQ(session.Receive(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_LT(session.Receive(buffer, sizeof buffer), 0);  // the body limit runs out
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(session.SocketDescriptor(), kNoSocket);
  EXPECT_EQ(session.Receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(session.Close(), SessionResult::Done);
  EXPECT_EQ(session.SetTimeout(100, true), SessionResult::Failed);  // no socket any more
}

TEST_F(ExchangeTest, DescriptorZeroIsARealSocketAndTheDestructorClosesIt) {
  server.Connection().ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n").ReadUntilClosed();
  ASSERT_TRUE(server.Start());
  const int savedInput = dup(0);
  ASSERT_GE(savedInput, 0);
  close(0);
  {
    HttpSession zero(kFastTimeouts);
    EXPECT_EQ(Exchange(zero), SessionResult::Done);
    EXPECT_EQ(zero.SocketDescriptor(), 0);
  }
  EXPECT_EQ(fcntl(0, F_GETFD), -1);  // closed by the destructor
  dup2(savedInput, 0);
  close(savedInput);
  server.Stop();
  EXPECT_EQ(server.Received(0).substr(0, 10), "HEAD /x HT");
}

}  // namespace
}  // namespace quarry
