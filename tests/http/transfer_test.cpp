// The HEAD exchange and the downloads against the scripted loopback server: result codes,
// names, the exact log lines, page bounds, resumption, restarts, stops and file safety.
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

#include "tests/http/scripted_server.h"
#include "tests/support/failing_file_io.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using testing::ScriptedServer;
using testing::ScriptedServerTest;

// Short limits so that every time-out case ends in a fraction of a second.
constexpr HttpTimeouts kFastTimeouts{500, 300, 300, 300};  // connect, send, head, body

// Records every log line; raises its stop flag when `stopWhen` says so.
class RecordingContext : public TransferContext {
public:
  void Log(int thread, const std::string& text) override {
    EXPECT_EQ(thread, 3);
    lines.push_back(text);
    if (onLine) onLine(text);
    if (stopWhen && stopWhen(text)) stopped = true;
  }
  bool IsStopped() const override { return stopped; }
  FileIo& Disk() override { return disk; }
  void OnFileError(int thread, int error) override {
    EXPECT_EQ(thread, 3);
    fileErrors.push_back(error);
  }

  testing::FailingFileIo disk;
  std::vector<int> fileErrors;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> onLine;
  std::function<bool(const std::string&)> stopWhen;
  std::atomic<bool> stopped{false};
};

std::string Bytes(std::size_t count) {
  std::string data(count, '\0');
  for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return data;
}

using testing::ReadFile;
using testing::TempFolder;

std::string Head(const std::string& status, const std::string& fields) {
  return "HTTP/1.1 " + status + "\r\n" + fields + "\r\n";
}

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
            HeadResult::NoAnswer);  // refused
  EXPECT_EQ(HeadExchange({"h", "/", "1.2.3.4.5.6.7.8.9", unused}, answer, kFastTimeouts),
            HeadResult::Unusable);  // bad address text

  ScriptedServer silent;
  silent.Connection().ReadRequest().Hold();
  ASSERT_TRUE(silent.Start());
  EXPECT_EQ(HeadExchange({"h", "/", "127.0.0.1", silent.Port()}, answer, kFastTimeouts),
            HeadResult::NoAnswer);  // head time-out
  silent.Stop();

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
                                             "Socket已关闭......"};
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
  EXPECT_EQ(context.lines.back(), "Socket已关闭......");
}

// --- File download ---

class FileDownloadTest : public ScriptedServerTest {
protected:
  FileResult Download(std::uint32_t total, std::string& file,
                      const HttpTimeouts& timeouts = kFastTimeouts) {
    return DownloadFile(context, 3, {"h", "/f.bin", "127.0.0.1", server.Port()}, total, file,
                        timeouts);
  }
  TempFolder folder;
  RecordingContext context;
};

TEST_F(FileDownloadTest, DroppedConnectionResumesWithARange) {
  const std::string data = Bytes(50000);
  server.Connection()
      .ReadRequest()
      .Send(Head("200 OK", "Content-Length: 50000\r\n") + data.substr(0, 10000))
      .Close();
  server.Connection()
      .ReadRequest()
      .Send(Head("206 Partial Content", "Content-Range: bytes 10000-49999/50000\r\n") +
            data.substr(10000))
      .Close();
  ASSERT_TRUE(server.Start());
  std::string file = folder.Path() + "f.bin";
  EXPECT_EQ(Download(50000, file), FileResult::Complete);
  EXPECT_EQ(file, folder.Path() + "f.bin");
  EXPECT_EQ(ReadFile(file), data);
  server.Stop();
  EXPECT_EQ(server.Received(0).find("Range:"), std::string::npos);
  EXPECT_NE(server.Received(1).find("\r\nRange: bytes=10000-\r\n\r\n"), std::string::npos);
  EXPECT_EQ(context.lines.front(), file);
  EXPECT_EQ(context.lines[1], "连接服务器......");
  EXPECT_EQ(context.lines.back(), "Socket已关闭......");
  // However the bytes arrive, they are logged in chunks of at most 4096, each followed by its
  // progress line.
  int logged = 0;
  for (std::size_t i = 0; i < context.lines.size(); ++i) {
    int count = 0;
    if (std::sscanf(context.lines[i].c_str(), "接收到 %d 字节", &count) != 1) continue;
    EXPECT_GT(count, 0);
    EXPECT_LE(count, 4096);
    logged += count;
    ASSERT_LT(i + 1, context.lines.size());
    EXPECT_EQ(context.lines[i + 1], ProgressLine(static_cast<std::uint64_t>(logged)));
  }
  EXPECT_EQ(logged, 50000);
}

TEST_F(FileDownloadTest, ResumedAnswerWithTheWholeFileStartsOver) {
  const std::string data = Bytes(50000);
  server.Connection()
      .ReadRequest()
      .Send(Head("200 OK", "Content-Length: 50000\r\n") + data.substr(0, 10000))
      .Close();
  server.Connection()
      .ReadRequest()
      .Send(Head("200 OK", "Content-Length: 50000\r\n") + data)
      .Close();
  ASSERT_TRUE(server.Start());
  std::string file = folder.Path() + "f.bin";
  EXPECT_EQ(Download(50000, file), FileResult::Complete);
  EXPECT_EQ(ReadFile(file), data);
}

TEST_F(FileDownloadTest, ErrorAnswerToAResumeKeepsThePartAndTriesAgain) {
  const std::string data = Bytes(5000);
  server.Connection().ReadRequest().Send(Head("200 OK", "") + data.substr(0, 1000)).Close();
  server.Connection().ReadRequest().Send(Head("503 Service Unavailable", "") + "busy").Close();
  server.Connection()
      .ReadRequest()
      .Send(Head("206 Partial Content", "") + data.substr(1000))
      .Close();
  ASSERT_TRUE(server.Start());
  std::string file = folder.Path() + "f.bin";
  EXPECT_EQ(Download(5000, file), FileResult::Complete);
  EXPECT_EQ(ReadFile(file), data);
  server.Stop();
  EXPECT_NE(server.Received(2).find("Range: bytes=1000-\r\n"), std::string::npos);
}

TEST_F(FileDownloadTest, ThreeShortAttemptsLeaveNothingOnDisk) {
  const std::string data = Bytes(1000);
  server.Connection().ReadRequest().Send(Head("200 OK", "") + data.substr(0, 100)).Close();
  server.Connection()
      .ReadRequest()
      .Send(Head("206 Partial Content", "") + data.substr(100, 100))
      .Close();
  server.Connection()
      .ReadRequest()
      .Send(Head("206 Partial Content", "") + data.substr(200, 100))
      .Close();
  ASSERT_TRUE(server.Start());
  std::string file = folder.Path() + "f.bin";
  EXPECT_EQ(Download(1000, file), FileResult::Incomplete);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));  // neither f.bin nor f.bin.part
  server.Stop();
  EXPECT_EQ(server.Accepted(), 3u);
  EXPECT_NE(server.Received(2).find("Range: bytes=200-\r\n"), std::string::npos);
}

TEST_F(FileDownloadTest, ZeroTotalMakesAnEmptyFileWithoutConnecting) {
  ASSERT_TRUE(server.Start());
  std::string file = folder.Path() + "empty.doc";
  EXPECT_EQ(Download(0, file), FileResult::Complete);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  EXPECT_EQ(context.lines, (std::vector<std::string>{file, "Socket已关闭......"}));
  EXPECT_EQ(server.Accepted(), 0u);
}

TEST(ProgressLineTest, SwitchesToKilobytesAt1024) {
  EXPECT_EQ(ProgressLine(0), "下载速度：0 (B)......");
  EXPECT_EQ(ProgressLine(1023), "下载速度：1023 (B)......");
  EXPECT_EQ(ProgressLine(1024), "下载速度：1.00 (KB)......");
  EXPECT_EQ(ProgressLine(1536), "下载速度：1.50 (KB)......");
  EXPECT_EQ(ProgressLine(50000), "下载速度：48.83 (KB)......");
}

TEST_F(FileDownloadTest, ChunkAndProgressLinesAt1023And1024) {
  const std::string data = Bytes(1024);
  server.Connection()
      .ReadRequest()
      .Send(Head("200 OK", "") + data.substr(0, 1023))
      .Pause(100)
      .Send(data.substr(1023))
      .Hold();
  ASSERT_TRUE(server.Start());
  std::string file = folder.Path() + "f.bin";
  EXPECT_EQ(Download(1024, file), FileResult::Complete);
  const std::vector<std::string> expected = {file,
                                             "连接服务器......",
                                             "开始接收数据......",
                                             "接收到 1023 字节.....",
                                             "下载速度：1023 (B)......",
                                             "接收到 1 字节.....",
                                             "下载速度：1.00 (KB)......",
                                             "Socket已关闭......"};
  EXPECT_EQ(context.lines, expected);
}

TEST_F(FileDownloadTest, StopEndsTheDownloadEarlyWithoutNewAttempts) {
  server.Connection().ReadRequest().Send(Head("200 OK", "") + Bytes(3000)).Hold();
  ASSERT_TRUE(server.Start());
  context.stopWhen = [](const std::string& line) { return line.rfind("下载速度", 0) == 0; };
  HttpTimeouts slow = kFastTimeouts;
  slow.bodyMs = 5000;
  std::string file = folder.Path() + "f.bin";
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(Download(1000000, file, slow), FileResult::Incomplete);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
  EXPECT_EQ(server.Accepted(), 1u);
}

TEST_F(FileDownloadTest, FilesGrowUnderPartNamesAndNeverOverwriteOthers) {
  for (int i = 0; i < 2; ++i) {
    server.Connection().ReadRequest().Send(Head("200 OK", "") + "new").Close();
  }
  ASSERT_TRUE(server.Start());
  const std::string base = folder.Path();
  std::ofstream(base + "a.doc") << "old";
  std::ofstream(base + "a(1).doc.part") << "busy";  // another download of the same name
  bool partOnly = false;
  context.onLine = [&](const std::string& line) {
    if (line != "开始接收数据......") return;
    partOnly = std::filesystem::exists(base + "a(2).doc.part") &&
               !std::filesystem::exists(base + "a(2).doc");
  };
  std::string first = base + "a.doc";
  EXPECT_EQ(Download(3, first), FileResult::Complete);
  EXPECT_EQ(first, base + "a(2).doc");
  EXPECT_TRUE(partOnly);
  EXPECT_EQ(context.lines.front(), first);  // the path written is logged

  // A name taken while its file is received moves the file on to the next free name.
  context.onLine = [&](const std::string& line) {
    if (line == "开始接收数据......") std::ofstream(base + "a(3).doc") << "taken";
  };
  std::string second = base + "a.doc";
  EXPECT_EQ(Download(3, second), FileResult::Complete);
  EXPECT_EQ(second, base + "a(4).doc");
  EXPECT_EQ(ReadFile(base + "a.doc"), "old");
  EXPECT_EQ(ReadFile(base + "a(1).doc.part"), "busy");
  EXPECT_EQ(ReadFile(first), "new");
  EXPECT_EQ(ReadFile(base + "a(3).doc"), "taken");
  EXPECT_EQ(ReadFile(second), "new");
  EXPECT_FALSE(std::filesystem::exists(base + "a(3).doc.part"));
}

TEST_F(FileDownloadTest, FileThatCannotBeCreatedOrWrittenEndsWithTheReason) {
  // Two answers: creating a file fails before any connection is made.
  for (int i = 0; i < 2; ++i) {
    server.Connection().ReadRequest().Send(Head("200 OK", "") + Bytes(8000)).Close();
  }
  ASSERT_TRUE(server.Start());
  auto failedLine = [](const std::string& path, int error) {
    return "文件写入失败：" + path + "（" + std::strerror(error) + "）...";
  };
  std::string missing = folder.Path() + "no/such/folder/a.doc";
  EXPECT_EQ(Download(100, missing), FileResult::NotWritten);
  EXPECT_EQ(context.lines, (std::vector<std::string>{missing, failedLine(missing, ENOENT)}));

  // A full disk: the writes fail after the first 4 KB. The failure is the file's last line,
  // the task hears of it, and the cut-short ".part" is gone.
  context.lines.clear();
  context.disk.writeBudget = 4096;
  context.disk.writeError = ENOSPC;
  std::string full = folder.Path() + "full.bin";
  EXPECT_EQ(Download(8000, full), FileResult::NotWritten);
  EXPECT_EQ(context.lines.back(), failedLine(full, ENOSPC));
  context.disk.writeError = 0;

  // No permission to create a file (injected: root would be allowed).
  context.lines.clear();
  context.disk.openError = EACCES;
  std::string denied = folder.Path() + "denied.bin";
  EXPECT_EQ(Download(8000, denied), FileResult::NotWritten);
  EXPECT_EQ(context.lines.back(), failedLine(denied, EACCES));
  context.disk.openError = 0;

  // A real write failure: a file size limit, as a full disk would.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 2000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string file = folder.Path() + "big.bin";
  const FileResult result = Download(8000, file);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, FileResult::NotWritten);
  EXPECT_EQ(context.fileErrors, (std::vector<int>{ENOENT, ENOSPC, EACCES, EFBIG}));
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));  // no file, no ".part" left
}

TEST_F(FileDownloadTest, ConnectionFailuresLeaveNothingOnDisk) {
  std::string file = folder.Path() + "f.bin";
  EXPECT_EQ(DownloadFile(context, 3, {"h", "/", "127.0.0.1", testing::FreeLoopbackPort()}, 100,
                         file, kFastTimeouts),
            FileResult::Incomplete);
  std::string other = folder.Path() + "g.bin";
  EXPECT_EQ(DownloadFile(context, 3, {"h", "/", "not an address", 80}, 100, other, kFastTimeouts),
            FileResult::Broken);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
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
    EXPECT_EQ(context.lines.back(), "Socket已关闭......");
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
