// Starts the suite's nginx once and fills its folder; see nginx_fixture.h.
#include "tests/http/nginx_fixture.h"

#include "tests/support/files.h"

namespace quarry::testing {

std::unique_ptr<NginxServer> NginxTest::s_server;
std::string NginxTest::s_error;

namespace {

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Bytes that no shift or repeat of a block would reproduce, so a misplaced range shows.
std::string BigContent(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t state = 2463534242u;
  for (std::size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    data[i] = static_cast<char>(state);
  }
  return data;
}

}  // namespace

void NginxTest::SetUpTestSuite() {
  if (!NginxServer::Available()) {
    s_error = std::string(NginxServer::kBinary) + " is not installed; the nginx tests are skipped";
    return;
  }
  auto server = std::make_unique<NginxServer>();
  if (!server->Start(&s_error)) return;
  std::string root = server->Root();
  WriteFile(root + "big.bin", BigContent(kBigSize));
  WriteFile(root + "page.html", "<html><body><a href=\"/report.doc\">report</a></body></html>\n");
  WriteFile(root + "nosniff/page.html", "<html>nosniff</html>\n");
  WriteFile(root + "report.doc", BigContent(5000));
  s_server = std::move(server);
}

void NginxTest::TearDownTestSuite() { s_server.reset(); }

void NginxTest::SetUp() {
  if (!s_server) GTEST_SKIP() << s_error;
}

std::string NginxTest::Served(const std::string& name) { return ReadFile(s_server->Root() + name); }

}  // namespace quarry::testing
