// The exchanges over TLS against a private nginx whose certificate is signed by an authority
// made for the suite: files and pages arrive whole under the name or the address the
// certificate names, and every connection the client must not trust (another host name, an
// authority it does not know, a server that does not speak TLS, one that never answers) is
// refused before a request is sent, with the reason on the log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "http/split_url.h"
#include "http/transfer.h"
#include "tests/http/nginx_server.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_authority.h"

namespace quarry {
namespace {

using testing::NginxServer;
using testing::TempFolder;
using testing::TestAuthority;

class LinesContext : public TransferContext {
public:
  void Log(int, const std::string& text) override { lines.push_back(text); }
  bool IsStopped() const override { return false; }
  bool Saw(const std::string& part) const {
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

class TlsTest : public ::testing::Test {
protected:
  static constexpr std::size_t kFileSize = 3u * 1024 * 1024 + 17;

  static void SetUpTestSuite() {
    if (!NginxServer::Available()) {
      s_error = "nginx is not installed; the TLS tests are skipped";
      return;
    }
    auto authority = std::make_unique<TestAuthority>();
    auto stranger = std::make_unique<TestAuthority>();
    if (!authority->Make(&s_error) || !stranger->Make(&s_error)) return;
    auto server = std::make_unique<NginxServer>();
    server->EnableTls(authority->Certificate(), authority->Key());
    if (!server->Start(&s_error)) return;
    std::string file(kFileSize, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>((i * 7919) >> 5);
    std::ofstream(server->Root() + "file.bin", std::ios::binary) << file;
    std::ofstream(server->Root() + "page.html") << "<html><a href=\"/file.bin\">f</a></html>\n";
    s_authority = std::move(authority);
    s_stranger = std::move(stranger);
    s_server = std::move(server);
  }
  static void TearDownTestSuite() {
    SetTlsExtraAuthority("");
    s_server.reset();
    s_authority.reset();
    s_stranger.reset();
  }
  void SetUp() override {
    if (!s_server) GTEST_SKIP() << s_error;
    ASSERT_TRUE(SetTlsExtraAuthority(s_authority->Authority()));
  }

  static std::string Served(const std::string& name) {
    return testing::ReadFile(s_server->Root() + name);
  }

  static HttpTimeouts Short() { return {2000, 2000, 500, 2000}; }  // connect, send, head, body

  static std::unique_ptr<NginxServer> s_server;
  static std::unique_ptr<TestAuthority> s_authority;
  static std::unique_ptr<TestAuthority> s_stranger;
  static std::string s_error;
};

std::unique_ptr<NginxServer> TlsTest::s_server;
std::unique_ptr<TestAuthority> TlsTest::s_authority;
std::unique_ptr<TestAuthority> TlsTest::s_stranger;
std::string TlsTest::s_error;

TEST_F(TlsTest, FilesAndPagesArriveWholeUnderTheNamesTheCertificateHolds) {
  // The certificate names "localhost" and 127.0.0.1: both are accepted as the host.
  for (const char* host : {"localhost", "127.0.0.1"}) {
    const ExchangeTarget target{host, "/file.bin", "127.0.0.1", s_server->TlsPort(), true};
    HeadAnswer head;
    ASSERT_EQ(HeadExchange(target, head), HeadResult::Answered) << host << ": " << head.problem;
    EXPECT_EQ(head.length, static_cast<int>(kFileSize));
    EXPECT_FALSE(head.isPage);

    TempFolder folder;
    std::string file = folder.Path() + "file.bin";
    LinesContext context;
    ASSERT_EQ(DownloadFile(context, 1, target, kFileSize, file), FileResult::Complete) << host;
    EXPECT_TRUE(testing::ReadFile(file) == Served("file.bin")) << host;

    std::string page;
    const ExchangeTarget pageTarget{host, "/page.html", "127.0.0.1", s_server->TlsPort(), true};
    EXPECT_EQ(DownloadPage(context, 1, pageTarget, page), PageResult::Received);
    EXPECT_EQ(page, Served("page.html"));
  }
}

TEST_F(TlsTest, UntrustedConnectionsAreRefusedWithTheReasonOnTheLog) {
  // A socket that takes connections but never speaks: the handshake runs out of time.
  testing::SilentListener silent(4);
  const int silentPort = silent.Port();
  ASSERT_NE(silentPort, 0);

  struct Case {
    const char* what;
    const char* host;
    int port;
    std::string trusted;  // the extra authority; empty: the system store alone
    HeadResult result;
    const char* reason;
  } cases[] = {
      {"another host name", "quarry.invalid", s_server->TlsPort(), s_authority->Authority(),
       HeadResult::Unusable, "hostname mismatch"},
      {"a partial wildcard", "www.quarry.test", s_server->TlsPort(), s_authority->Authority(),
       HeadResult::Unusable, "hostname mismatch"},
      {"an unknown authority", "localhost", s_server->TlsPort(), "", HeadResult::Unusable,
       "unable to get local issuer certificate"},
      {"another authority", "localhost", s_server->TlsPort(), s_stranger->Authority(),
       HeadResult::Unusable, "certificate refused"},
      {"plain http on the port", "localhost", s_server->Port(), s_authority->Authority(),
       HeadResult::Unusable, "TLS handshake failed"},
      {"no answer", "localhost", silentPort, s_authority->Authority(), HeadResult::NoAnswer,
       "no answer to the TLS handshake in time"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetTlsExtraAuthority(c.trusted)) << c.what;
    const ExchangeTarget target{c.host, "/file.bin", "127.0.0.1", c.port, true};
    HeadAnswer head;
    EXPECT_EQ(HeadExchange(target, head, Short()), c.result) << c.what;
    EXPECT_NE(head.problem.find(c.reason), std::string::npos) << c.what << ": " << head.problem;

    LinesContext context;
    std::string page;
    EXPECT_NE(DownloadPage(context, 1, target, page, Short()), PageResult::Received) << c.what;
    EXPECT_TRUE(page.empty()) << c.what;
    EXPECT_TRUE(context.Saw(TlsFailureLine(head.problem))) << c.what;
  }
}

TEST_F(TlsTest, SchemeAndAuthorityChecks) {
  EXPECT_TRUE(IsHttpsUrl("https://a/"));
  EXPECT_TRUE(IsHttpsUrl("  HTTPS://a:80/"));
  EXPECT_FALSE(IsHttpsUrl("http://a:443/"));
  EXPECT_FALSE(IsHttpsUrl("httpsx://a/"));
  EXPECT_FALSE(IsHttpsUrl(nullptr));

  // A file that holds no certificate is refused and leaves the trust as it was.
  std::string error;
  EXPECT_FALSE(SetTlsExtraAuthority(s_server->Root() + "page.html", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(SetTlsExtraAuthority("/nonexistent/ca.pem"));
  HeadAnswer head;
  const ExchangeTarget target{"localhost", "/page.html", "127.0.0.1", s_server->TlsPort(), true};
  EXPECT_EQ(HeadExchange(target, head), HeadResult::Answered) << head.problem;
}

}  // namespace
}  // namespace quarry
