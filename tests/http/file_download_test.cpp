// The file download against the scripted loopback server: resumption, restarts, stops, the
// chunk and progress lines, and file safety (".part" names, never overwriting, full disks).
#include "http/transfer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

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

#include "platform/files.h"
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
using testing::ScriptedServerTest;
using testing::TempFolder;

// --- File download ---

class FileDownloadTest : public ScriptedServerTest {
protected:
  FileResult Download(std::uint32_t total, std::string& file,
                      const HttpTimeouts& timeouts = kFastTimeouts) {
    return DownloadFile(context, 3, {"h", "/f.bin", "127.0.0.1", server.Port()}, total, file,
                        timeouts);
  }
  // Answers the next request with `head` and the first `sent` bytes of `data`, then drops the
  // connection.
  void SendPartThenClose(const std::string& head, const std::string& data, std::size_t sent) {
    server.Connection().ReadRequest().Send(head + data.substr(0, sent)).Close();
  }
  TempFolder folder;
  RecordingContext context;
};

TEST_F(FileDownloadTest, DroppedConnectionResumesWithARange) {
  const std::string data = Bytes(50000);
  SendPartThenClose(Head("200 OK", "Content-Length: 50000\r\n"), data, 10000);
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
  EXPECT_EQ(context.lines.back(), "连接已关闭......");
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
  SendPartThenClose(Head("200 OK", "Content-Length: 50000\r\n"), data, 10000);
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
  SendPartThenClose(Head("200 OK", ""), data, 1000);
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
  SendPartThenClose(Head("200 OK", ""), data, 100);
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
  EXPECT_EQ(context.lines, (std::vector<std::string>{file, "连接已关闭......"}));
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
      .Send(Head("200 OK", "Content-Length: 1024\r\n") + data.substr(0, 1023))
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
                                             "连接已关闭......"};
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
    // Locked while it grows: a task starting in this folder leaves it alone.
    partOnly = std::filesystem::exists(base + "a(2).doc.part") &&
               !std::filesystem::exists(base + "a(2).doc") &&
               !RemoveUnlessLocked(base + "a(2).doc.part");
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

// A name that leaves no room for ".part" in the folder is shortened before its extension, never
// inside a UTF-8 character, and the file is saved under it; the numbered names are cut alike.
TEST_F(FileDownloadTest, NamesTooLongForTheFolderAreShortenedBeforeTheExtension) {
  for (int i = 0; i < 3; ++i) {
    server.Connection().ReadRequest().Send(Head("200 OK", "") + "new").Close();
  }
  ASSERT_TRUE(server.Start());
  struct Case {
    const char* what;
    std::string name;
    std::string saved;  // the component of the name saved
  } cases[] = {
      {"plain", std::string(258, 'a') + ".pdf", std::string(246, 'a') + ".pdf"},
      // 84 characters of three bytes: the cut falls inside the 80th, which goes whole.
      {"UTF-8",
       "1234567-" +
           [] {
             std::string text;
             for (int i = 0; i < 84; ++i) text += "\xE6\x96\x87";
             return text;
           }() +
           ".doc",
       "1234567-" +
           [] {
             std::string text;
             for (int i = 0; i < 79; ++i) text += "\xE6\x96\x87";
             return text;
           }() +
           ".doc"},
      {"numbered", std::string(258, 'a') + ".pdf", std::string(243, 'a') + "(1).pdf"},
  };
  for (const Case& c : cases) {
    std::string file = folder.Path() + c.name;
    EXPECT_EQ(Download(3, file), FileResult::Complete) << c.what;
    EXPECT_EQ(file, folder.Path() + c.saved) << c.what;
    EXPECT_LE(c.saved.size() + 5, 255u) << c.what;
    EXPECT_EQ(ReadFile(file), "new") << c.what;
  }
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
            FileResult::NotConnected);
  std::string other = folder.Path() + "g.bin";
  EXPECT_EQ(DownloadFile(context, 3, {"h", "/", "not an address", 80}, 100, other, kFastTimeouts),
            FileResult::Broken);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

// Only a body that ended as its answer framed it is kept. Each row scripts the answers to the
// three attempts; a failure leaves nothing on disk and one line that names its cause.
TEST(FileDownloadBodiesTest, OnlyWholeBodiesAreKeptAndEveryFailureSaysWhy) {
  const std::string data = Bytes(5016);
  const std::string chunked = "7d0\r\n" + data.substr(0, 2000) + "\r\n" + "bc8;x=1\r\n" +
                              data.substr(2000) + "\r\n0\r\nTrailer: t\r\n\r\n";
  enum class End { Close, Hold };
  struct Answer {
    std::string bytes;
    End end;
  };
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    FileResult result;
    std::string kept;  // the file's content when kept
    const char* line;  // part of the failure line
  };
  const std::string length = "Content-Length: 5016\r\n";
  const std::string hugeHead = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(100000, 'x');
  const std::vector<Case> cases = {
      {"head over its size limit",
       {{hugeHead, End::Close}},
       FileResult::Broken,
       "",
       "应答头超过 2048 字节"},
      {"error status",
       {{Head("404 Not Found", length) + data, End::Close}},
       FileResult::Broken,
       "",
       "服务器应答状态 404"},
      {"no length, never ends",
       {{Head("200 OK", "") + data + data, End::Hold},
        {Head("200 OK", ""), End::Hold},
        {Head("200 OK", ""), End::Hold}},
       FileResult::Incomplete,
       "",
       "接收超时前服务器没有结束"},
      {"head, then nothing",
       {{Head("200 OK", length), End::Hold},
        {Head("200 OK", length), End::Hold},
        {Head("200 OK", length), End::Hold}},
       FileResult::Incomplete,
       "",
       "接收超时，只收到 0 / 5016 字节"},
      {"shorter than its length",
       {{Head("200 OK", length) + data.substr(0, 100), End::Close},
        {Head("206 Partial Content", "Content-Length: 4916\r\n") + data.substr(100, 100),
         End::Close},
        {Head("206 Partial Content", "Content-Length: 4816\r\n") + data.substr(200, 100),
         End::Close}},
       FileResult::Incomplete,
       "",
       "服务器提前关闭了连接，只收到 300 / 5016 字节"},
      {"broken chunks",
       {{Head("200 OK", "Transfer-Encoding: chunked\r\n") + "zz\r\n", End::Close}},
       FileResult::Incomplete,
       "",
       "分块编码损坏"},
      // Whole bodies: chunks undone, and the GET's own length over the HEAD's, with the
      // connection left open after it.
      {"chunked",
       {{Head("200 OK", "Transfer-Encoding: chunked\r\n") + chunked, End::Hold}},
       FileResult::Complete,
       data,
       nullptr},
      {"own length",
       {{Head("200 OK", "Content-Length: 3000\r\n") + data.substr(0, 3000) + "extra", End::Hold}},
       FileResult::Complete,
       data.substr(0, 3000),
       nullptr},
      {"ended by closing",
       {{Head("200 OK", "") + data, End::Close}},
       FileResult::Complete,
       data,
       nullptr},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    testing::ScriptedServer server;
    for (const Answer& answer : row.answers) {
      auto& script = server.Connection().ReadRequest().Send(answer.bytes);
      if (answer.end == End::Hold) script.Hold();
    }
    ASSERT_TRUE(server.Start());
    TempFolder folder;
    RecordingContext context;
    std::string file = folder.Path() + "f.bin";
    EXPECT_EQ(DownloadFile(context, 3, {"h", "/f.bin", "127.0.0.1", server.Port()}, 5016, file,
                           kFastTimeouts),
              row.result);
    server.Stop();
    if (row.result == FileResult::Complete) {
      EXPECT_EQ(ReadFile(file), row.kept);
      continue;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
    EXPECT_TRUE(std::any_of(
        context.lines.begin(), context.lines.end(),
        [&](const std::string& line) { return line.find(row.line) != std::string::npos; }))
        << row.line;
  }
}

}  // namespace
}  // namespace quarry
