// The HEAD exchange and the downloads against a real nginx: classification of real heads,
// a page, a range request, and a 50 MB file that must arrive byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "http/transfer.h"
#include "tests/http/nginx_fixture.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using testing::NginxTest;

class SilentContext : public TransferContext {
public:
  void Log(int, const std::string&) override { ++lines; }
  bool IsStopped() const override { return false; }
  long lines = 0;
};

TEST_F(NginxTest, HeadExchangeClassifiesRealHeads) {
  struct Case {
    const char* path;
    HeadResult result;
    std::string extension;
    std::string name;
    int length;
  } cases[] = {
      {"/big.bin", HeadResult::Answered, ".bin", "big.bin", static_cast<int>(kBigSize)},
      {"/report.doc", HeadResult::Answered, ".doc", "report.doc", 5000},
      {"/page.html", HeadResult::Answered, "html", "",
       static_cast<int>(Served("page.html").size())},
      {"/nosniff/page.html", HeadResult::Answered, "html", "",
       static_cast<int>(Served("nosniff/page.html").size())},
      {"/missing.doc", HeadResult::BadStatus, "", "", 0},
  };
  for (const Case& c : cases) {
    HeadAnswer answer;
    EXPECT_EQ(HeadExchange({"127.0.0.1", c.path, "127.0.0.1", s_server->Port()}, answer), c.result)
        << c.path;
    EXPECT_EQ(std::string(answer.extension), c.extension) << c.path;
    EXPECT_EQ(std::string(answer.name), c.name) << c.path;
    EXPECT_EQ(answer.length, c.length) << c.path;
    if (c.result == HeadResult::Answered) {
      EXPECT_NE(std::string(answer.lastModified).find("GMT"), std::string::npos) << c.path;
    }
  }
}

TEST_F(NginxTest, PageArrivesWhole) {
  SilentContext context;
  std::string page;
  EXPECT_EQ(
      DownloadPage(context, 1, {"127.0.0.1", "/page.html", "127.0.0.1", s_server->Port()}, page),
      PageResult::Received);
  EXPECT_EQ(page, Served("page.html"));
}

TEST_F(NginxTest, RangeRequestIsAnsweredFromItsOffset) {
  HttpSession session;
  int length = 0;
  session.ComposeGet("127.0.0.1", "/report.doc", length, nullptr, nullptr, 1000, 0);
  ASSERT_EQ(session.Create(), SessionResult::Done);
  ASSERT_EQ(session.Connect("127.0.0.1", s_server->Port()), SessionResult::Done);
  ASSERT_EQ(session.SendRequest(), SessionResult::Done);
  EXPECT_EQ(session.StatusCode(), 206);
  std::string body;
  char chunk[4096];
  for (int count; body.size() < 4000 && (count = session.Receive(chunk, sizeof chunk)) > 0;) {
    body.append(chunk, static_cast<std::size_t>(count));
  }
  EXPECT_EQ(body, Served("report.doc").substr(1000));
}

TEST_F(NginxTest, FiftyMegabytesArriveByteIdentical) {
  testing::TempFolder folder;
  ASSERT_FALSE(folder.Path().empty());
  std::string file = folder.Path() + "big.bin";
  SilentContext context;
  EXPECT_EQ(DownloadFile(context, 1, {"127.0.0.1", "/big.bin", "127.0.0.1", s_server->Port()},
                         kBigSize, file),
            FileResult::Complete);
  EXPECT_TRUE(testing::ReadFile(file) == Served("big.bin")) << "the downloaded file differs";
}

}  // namespace
}  // namespace quarry
