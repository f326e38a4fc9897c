// The HEAD exchange and the page download against the scripted loopback server: result codes,
// names, the exact log lines and page bounds.
#include "http/transfer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "http/chunked_body.h"
#include "tests/http/scripted_server.h"
#include "tests/http/transfer_fixture.h"
#include "tests/support/failing_file_io.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using testing::Bytes;
using testing::Head;
using testing::kFastTimeouts;
using testing::ReadFile;
using testing::RecordingContext;
using testing::ScriptedServer;
using testing::ScriptedServerTest;
using testing::TempFolder;

// --- HEAD exchange ---

struct HeadCase {
  const char* label;
  std::string path;
  std::string head;
  HeadResult result;
  std::string extension;
  std::string name;  // checked for a file that was answered
  int length;
  bool page;
};

TEST(HeadExchangeTest, ClassifiesAndNamesFromTheHead) {
  using enum HeadResult;
  const std::string html = "Content-Type: text/html\r\n";
  const std::string binary = "Content-Type: application/octet-stream\r\nContent-Length: 5000\r\n";
  const HeadCase cases[] = {
      {"page with charset", "/", Head("200 OK", "Content-Type: text/html; charset=UTF-8\r\n"),
       Answered, "html", "", 0, true},
      {"nosniff before the type is still a page", "/index",
       Head("200 OK", "X-Content-Type-Options: nosniff\r\nContent-Type: text/html\r\n"), Answered,
       "html", "", 0, true},
      {"capital page type is a file", "/docs/report.doc",
       Head("200 OK", "Content-Type: TEXT/HTML\r\nContent-Length: 4000\r\n"), Answered, ".doc",
       "report.doc", 4000, false},
      {"file from path", "/docs/report.doc", Head("200 OK", binary), Answered, ".doc", "report.doc",
       5000, false},
      {"no dot", "/docs/report", Head("200 OK", binary), Answered, "html", "report", 5000, true},
      {"text file in capitals", "/list.TXT", Head("200 OK", binary), Answered, ".TXT", "list.TXT",
       5000, true},
      {"folder path", "/docs/", Head("200 OK", binary), Unusable, "html", "", 5000, false},
      {"one letter", "/a", Head("200 OK", binary), Unusable, "html", "", 5000, false},
      {"dot in folder", "/files.old/readme", Head("200 OK", binary), Answered, "html", "readme",
       5000, true},
      {"long extension", "/x/a.0123456789abcdefghij", Head("200 OK", binary), Unusable, "html", "",
       5000, false},
      {"301", "/a.doc", Head("301 Moved Permanently", binary), BadStatus, "", "", 0, false},
      {"302", "/a.doc", Head("302 Found", binary), Redirect302, "", "", 0, false},
      {"303", "/a.doc", Head("303 See Other", binary), BadStatus, "", "", 0, false},
      {"307", "/a.doc", Head("307 Temporary Redirect", binary), BadStatus, "", "", 0, false},
      {"404", "/a.doc", Head("404 Not Found", html), BadStatus, "", "", 0, false},
      {"quoted attachment", "/get?id=7",
       Head("200 OK", binary + "Content-Disposition: attachment; filename=\"a.doc\"\r\n"), Answered,
       ".doc", "a.doc", 5000, false},
      {"unquoted attachment with a parameter", "/get?id=7",
       Head("200 OK", binary + "Content-Disposition: attachment; filename=a.doc; size=10\r\n"),
       Answered, ".doc; size10", "a.doc; size10", 5000, false},
      {"query without attachment", "/get?id=7", Head("200 OK", binary), Unusable, "html", "", 5000,
       false},
      {"inline disposition", "/get?id=7",
       Head("200 OK", binary + "Content-Disposition: inline; filename=a.doc\r\n"), Unusable, "html",
       "", 5000, false},
      {"no type", "/a.doc", Head("200 OK", "Content-Length: 5000\r\n"), Unusable, "html", "", 5000,
       false},
      {"no length", "/a.doc", Head("200 OK", "Content-Type: application/msword\r\n"), Answered,
       ".doc", "a.doc", 0, false},
      {"zero length", "/a.doc", Head("200 OK", "Content-Type: text/plain\r\nContent-Length: 0\r\n"),
       ZeroLength, "html", "", 0, false},
      {"zero length without blank", "/a.doc",
       Head("200 OK", "Content-Type: text/plain\r\nContent-Length:0\r\n"), ZeroLength, "html", "",
       0, false},
      {"length too big", "/a.doc",
       Head("200 OK", "Content-Type: text/plain\r\nContent-Length: 4294967296\r\n"), Answered,
       ".doc", "a.doc", 0, false},
      {"length not a number", "/a.doc",
       Head("200 OK", "Content-Type: text/plain\r\nContent-Length: lots\r\n"), Answered, ".doc",
       "a.doc", 0, false},
  };
  for (const HeadCase& c : cases) {
    ScriptedServer server;
    server.Connection().ReadRequest().Send(c.head).Close();
    ASSERT_TRUE(server.Start());
    HeadAnswer answer;
    answer.length = -99;
    const HeadResult result = HeadExchange(
        {"example.test", c.path.c_str(), "127.0.0.1", server.Port()}, answer, kFastTimeouts);
    EXPECT_EQ(result, c.result) << c.label;
    EXPECT_EQ(std::string(answer.extension), c.extension) << c.label;
    if (c.result == Answered && !c.name.empty()) {
      EXPECT_EQ(std::string(answer.name), c.name) << c.label;
    }
    if (c.result != Redirect302 && c.result != BadStatus) {
      EXPECT_EQ(answer.length, c.length) << c.label;
    }
    if (c.result == Answered) {
      EXPECT_EQ(answer.isPage, c.page) << c.label;
    }
    server.Stop();
    EXPECT_EQ(server.Received(0).rfind("HEAD " + c.path + " HTTP/1.1\r\nHost:example.test\r\n", 0),
              0u)
        << c.label;
  }
}

TEST_F(ScriptedServerTest, HeadExchangeKeepsTheRawLastModified) {
  server.Connection().ReadRequest().Send(Head(
      "200 OK", "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\nContent-Type: text/html\r\n"));
  ASSERT_TRUE(server.Start());
  HeadAnswer answer;
  std::strcpy(answer.name, "kept");
  EXPECT_EQ(HeadExchange({"h", "/", "127.0.0.1", server.Port()}, answer, kFastTimeouts),
            HeadResult::Answered);
  EXPECT_STREQ(answer.lastModified, " Mon, 07 Dec 2026 10:00:00 GMT");
  EXPECT_STREQ(answer.name, "kept");  // a page leaves the name alone
}

TEST(HeadExchangeTest, ConnectionFailures) {
  HeadAnswer answer;
  const int unused = testing::FreeLoopbackPort();
  EXPECT_EQ(HeadExchange({"h", "/", "127.0.0.1", unused}, answer, kFastTimeouts),
            HeadResult::NotConnected);  // refused
  EXPECT_EQ(HeadExchange({"h", "/", "1.2.3.4.5.6.7.8.9", unused}, answer, kFastTimeouts),
            HeadResult::Unusable);  // bad address text

  ScriptedServer silent;
  silent.Connection().ReadRequest().Hold();
  ASSERT_TRUE(silent.Start());
  EXPECT_EQ(HeadExchange({"h", "/", "127.0.0.1", silent.Port()}, answer, kFastTimeouts),
            HeadResult::NoAnswer);  // head time-out
  silent.Stop();

  // Each byte of this head comes well within the head limit, the whole of it far beyond.
  ScriptedServer trickling;
  ScriptedServer::Script& script = trickling.Connection().ReadRequest();
  for (const char byte : std::string("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n")) {
    script.Send(std::string(1, byte)).Pause(60);
  }
  script.Hold();
  ASSERT_TRUE(trickling.Start());
  EXPECT_EQ(HeadExchange({"h", "/", "127.0.0.1", trickling.Port()}, answer, kFastTimeouts),
            HeadResult::NoAnswer);  // head time-out, all told
  trickling.Stop();

  ScriptedServer broken;
  broken.Connection().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Ty").Close();
  ASSERT_TRUE(broken.Start());
  EXPECT_EQ(HeadExchange({"h", "/", "127.0.0.1", broken.Port()}, answer, kFastTimeouts),
            HeadResult::Unusable);  // closed inside the head
}

// --- Page download ---

TEST_F(ScriptedServerTest, PageLogLinesAndRequest) {
  server.Connection().ReadRequest().Send(Head("200 OK", "Content-Length: 5\r\n") + "hello").Hold();
  ASSERT_TRUE(server.Start());
  RecordingContext context;
  std::string page;
  EXPECT_EQ(DownloadPage(context, 3, {"example.test", "/p?q=1", "127.0.0.1", server.Port()}, page,
                         kFastTimeouts),
            PageResult::Received);
  EXPECT_EQ(page, "hello");
  const std::vector<std::string> expected = {"开始连接服务器......", "开始接收数据......",
                                             "接收到字节数：5", "下载速度：5 (B)......",
                                             "连接已关闭......"};
  EXPECT_EQ(context.lines, expected);
  server.Stop();
  EXPECT_EQ(server.Received(0),
            "GET /p?q=1 HTTP/1.1\r\nHost:example.test\r\nAccept:*/*\r\nUser-Agent:Trawler\r\n"
            "Connection:Keep-Alive\r\n\r\n");
}

TEST_F(ScriptedServerTest, PageWithoutLengthEndsAtTheReceiveLimitWithWhatArrived) {
  server.Connection().ReadRequest().Send(Head("200 OK", "") + "<html>part").Hold();
  ASSERT_TRUE(server.Start());
  RecordingContext context;
  std::string page;
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(DownloadPage(context, 3, {"h", "/", "127.0.0.1", server.Port()}, page, kFastTimeouts),
            PageResult::Received);
  auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_EQ(page, "<html>part");
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));  // waited for the body limit
}

TEST_F(ScriptedServerTest, PageLongerThanItsLengthStopsAtTheChunkThatReachesIt) {
  const std::string body = Bytes(30);
  server.Connection().ReadRequest().Send(Head("200 OK", "Content-Length: 10\r\n") + body).Hold();
  ASSERT_TRUE(server.Start());
  RecordingContext context;
  std::string page;
  HttpTimeouts slow = kFastTimeouts;
  slow.bodyMs = 5000;  // a loop that read on would wait here
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(DownloadPage(context, 3, {"h", "/", "127.0.0.1", server.Port()}, page, slow),
            PageResult::Received);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_GE(page.size(), 10u);
  EXPECT_EQ(body.rfind(page, 0), 0u);
}

TEST_F(ScriptedServerTest, PageZeroByteDropsTheRestOfItsChunkOnly) {
  server.Connection()
      .ReadRequest()
      .Send(Head("200 OK", "Content-Length: 10\r\n") + std::string("abc\0def", 7))
      .Pause(100)
      .Send("ghi")
      .Hold();
  ASSERT_TRUE(server.Start());
  RecordingContext context;
  std::string page;
  EXPECT_EQ(DownloadPage(context, 3, {"h", "/", "127.0.0.1", server.Port()}, page, kFastTimeouts),
            PageResult::Received);
  EXPECT_EQ(page, "abcghi");
}

// A chunked page is freed of its framing, so a link across a chunk end stays whole, and it ends
// at its last chunk although the server keeps the connection open.
TEST_F(ScriptedServerTest, ChunkedPageIsReadToItsLastChunkAndUnframed) {
  const std::string chunked = "Transfer-Encoding: Chunked\r\n";
  server.Connection().ReadRequest().Send(Head("200 OK", chunked) + "5\r\nabcde\r\n8\r\nfg").Close();
  server.Connection()
      .ReadRequest()
      .Send(Head("200 OK", chunked) + "A\r\n<a href=\"h\r\n")
      .Pause(50)
      .Send(std::string("E\r\nttp://x/a.doc\"\r\n3\r\n>\0<\r\n0\r\n\r\n", 32))
      .Hold();
  ASSERT_TRUE(server.Start());
  HttpTimeouts slow = kFastTimeouts;
  slow.bodyMs = 5000;  // a loop that read past the last chunk would wait here
  struct Case {
    const char* what;
    std::string page;
  } cases[] = {
      {"broken off inside a chunk", "abcdefg"},
      {"whole, on a kept connection", "<a href=\"http://x/a.doc\"><"},
  };
  for (const Case& c : cases) {
    RecordingContext context;
    std::string page;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadPage(context, 3, {"h", "/", "127.0.0.1", server.Port()}, page, slow),
              PageResult::Received)
        << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2)) << c.what;
    EXPECT_EQ(page, c.page) << c.what;
  }
  // Data that merely ends like the last chunk is no end, and the decoder keeps what came whole.
  struct Framing {
    std::string raw;
    bool whole;
    std::string body;
  } framings[] = {
      {"3\r\nabc\r\nA\r\n0123456789\r\n0\r\n\r\n", true, "abc0123456789"},
      {"3\r\nabc\r\n", false, "abc"},                     // the last chunk never came
      {"5\r\nab", false, "ab"},                           // cut inside a chunk
      {"3\r\nabcX\r\n0\r\n\r\n", false, "abc"},           // no CR LF after the data
      {"zz\r\nabc\r\n", false, ""},                       // no size
      {"FFFFFFFFFFFFFFFFFF\r\nab\r\n", false, "ab\r\n"},  // cut in a chunk nothing could hold
      {"9\r\nab0\r\n\r\n", false, "ab0\r\n\r\n"},         // data that ends like the last chunk
  };
  for (const Framing& f : framings) {
    std::string body;
    EXPECT_EQ(DecodeChunked(f.raw, body), f.whole) << f.raw;
    EXPECT_EQ(body, f.body) << f.raw;
  }
  EXPECT_TRUE(EndsAsLastChunk("9\r\nab0\r\n\r\n"));
}

TEST_F(ScriptedServerTest, PageOf404IsStillThePage) {
  server.Connection().ReadRequest().Send(Head("404 Not Found", "Content-Length: 9\r\n") +
                                         "not found");
  ASSERT_TRUE(server.Start());
  RecordingContext context;
  std::string page;
  EXPECT_EQ(DownloadPage(context, 3, {"h", "/", "127.0.0.1", server.Port()}, page, kFastTimeouts),
            PageResult::Received);
  EXPECT_EQ(page, "not found");
}

TEST_F(ScriptedServerTest, PageWithNoBodyFails) {
  server.Connection().ReadRequest().Send(Head("200 OK", "Content-Length: 10\r\n")).Close();
  ASSERT_TRUE(server.Start());
  RecordingContext context;
  std::string page;
  EXPECT_EQ(DownloadPage(context, 3, {"h", "/", "127.0.0.1", server.Port()}, page, kFastTimeouts),
            PageResult::NothingReceived);
  EXPECT_EQ(context.lines.back(), "连接已关闭......");
}

// --- The HEAD's connection kept for the GET ---

// How the server treats the connection of its HEAD answer, and so whether the GET may use it.
enum class AfterHead {
  KeepsIt,             // answers the GET on the same connection
  SaysClose,           // "Connection: close", though it leaves the connection open
  SpeaksHttp10,        // an HTTP/1.0 answer without keep-alive
  ClosesIt,            // closes right after the HEAD answer
  ClosesOnTheRequest,  // reads the GET on the kept connection, then closes without a word
};

struct KeepCase {
  const char* label;
  AfterHead after;
  bool page;
};

// Whatever the server does with the HEAD's connection, the GET gets the whole answer with the
// same request bytes and log lines as on a connection of its own; the connection is used again
// only when the server kept it open.
TEST(KeptConnectionTest, TheGetGoesOutOnTheHeadsConnectionOnlyWhenTheServerKeepsIt) {
  const std::string data = Bytes(5000);
  const std::string headRequest =
      "HEAD /d/f.bin HTTP/1.1\r\nHost:h\r\nAccept:*/*\r\n"
      "User-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n\r\n";
  const std::string getRequest =
      "GET /d/f.bin HTTP/1.1\r\nHost:h\r\nAccept:*/*\r\nUser-Agent:Trawler\r\n"
      "Connection:Keep-Alive\r\n\r\n";
  const KeepCase cases[] = {
      {"kept, file", AfterHead::KeepsIt, false},
      {"kept, page", AfterHead::KeepsIt, true},
      {"Connection: close", AfterHead::SaysClose, false},
      {"HTTP/1.0", AfterHead::SpeaksHttp10, false},
      {"closed after the HEAD", AfterHead::ClosesIt, false},
      {"closed on the GET", AfterHead::ClosesOnTheRequest, true},
  };
  for (const KeepCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string type = c.page ? "text/html" : "application/octet-stream";
    const std::string fields = "Content-Type: " + type + "\r\nContent-Length: 5000\r\n";
    std::string head = Head("200 OK", fields);
    if (c.after == AfterHead::SaysClose) head = Head("200 OK", fields + "Connection: close\r\n");
    if (c.after == AfterHead::SpeaksHttp10) head = "HTTP/1.0 200 OK\r\n" + fields + "\r\n";
    const std::string answer = Head("200 OK", fields) + data;
    ScriptedServer server;
    auto& first = server.Connection().ReadRequest().Send(head);
    switch (c.after) {
      case AfterHead::KeepsIt: first.ReadRequest().Send(answer).Hold(); break;
      case AfterHead::ClosesIt: first.Close(); break;
      case AfterHead::ClosesOnTheRequest: first.ReadRequest().Close(); break;
      // The server plays one connection at a time: this one ends when the client closes it,
      // having read whatever the client sent on it.
      default: first.ReadUntilClosed(); break;
    }
    server.Connection().ReadRequest().Send(answer).Hold();
    ASSERT_TRUE(server.Start());

    SpareConnection spare;
    const ExchangeTarget target{"h", "/d/f.bin", "127.0.0.1", server.Port(), false, &spare};
    HeadAnswer headAnswer;
    ASSERT_EQ(HeadExchange(target, headAnswer, kFastTimeouts), HeadResult::Answered);
    EXPECT_EQ(headAnswer.isPage, c.page);
    EXPECT_EQ(spare.Holds(), c.after == AfterHead::KeepsIt || c.after == AfterHead::ClosesIt ||
                                 c.after == AfterHead::ClosesOnTheRequest);
    RecordingContext context;
    std::string connecting;
    if (c.page) {
      std::string page;
      EXPECT_EQ(DownloadPage(context, 3, target, page, kFastTimeouts), PageResult::Received);
      EXPECT_EQ(page, data);
      connecting = "开始连接服务器......";
    } else {
      TempFolder folder;
      std::string file = folder.Path() + "f.bin";
      EXPECT_EQ(DownloadFile(context, 3, target, 5000, file, kFastTimeouts), FileResult::Complete);
      EXPECT_EQ(ReadFile(file), data);
      connecting = "连接服务器......";
    }
    EXPECT_FALSE(spare.Holds());
    EXPECT_EQ(std::count(context.lines.begin(), context.lines.end(), connecting), 1);
    EXPECT_EQ(context.lines[c.page ? 0 : 1], connecting);
    EXPECT_EQ(context.lines.back(), "连接已关闭......");
    server.Stop();
    if (c.after == AfterHead::KeepsIt) {
      EXPECT_EQ(server.Accepted(), 1u);
      EXPECT_EQ(server.Received(0), headRequest + getRequest);
    } else {
      EXPECT_EQ(server.Accepted(), 2u);
      EXPECT_EQ(server.Received(0),
                c.after == AfterHead::ClosesOnTheRequest ? headRequest + getRequest : headRequest);
      EXPECT_EQ(server.Received(1), getRequest);
    }
  }
}

}  // namespace
}  // namespace quarry
