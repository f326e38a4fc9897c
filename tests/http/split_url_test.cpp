// SplitUrl: what a worker gets from the addresses it takes off its queue, and what it is
// refused. Refusals must leave the caller's buffers untouched.
#include "http/split_url.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quarry {
namespace {

struct SplitCase {
  const char* address;
  const char* host;
  const char* path;
  int port;
};

TEST(SplitUrlTest, SplitsHostPathAndPort) {
  const SplitCase cases[] = {
      {"http://www.example.com/docs/report.doc", "www.example.com", "/docs/report.doc", 80},
      {"http://www.example.com", "www.example.com", "/", 80},
      {"http://www.example.com/", "www.example.com", "/", 80},
      {"http://www.example.com:8080/a/b.pdf", "www.example.com", "/a/b.pdf", 8080},
      {"http://127.0.0.1:65535", "127.0.0.1", "/", 65535},
      {"http://host:/x", "host", "/x", 80},
      {"https://secure.example.com/x.ppt", "secure.example.com", "/x.ppt", 443},
      {"https://secure.example.com:8443/x", "secure.example.com", "/x", 8443},
      {"HTTP://Upper.Example.COM/Path", "Upper.Example.COM", "/Path", 80},
      {"HtTpS://h/", "h", "/", 443},
      {"http://h/s?wd=abc&pn=10", "h", "/s?wd=abc&pn=10", 80},
      {"http://h?q=1", "h", "/?q=1", 80},
      {"http://h:81?q=1", "h", "/?q=1", 81},
      {"http://h/page#part", "h", "/page", 80},
      {"http://h/page?q=1#part", "h", "/page?q=1", 80},
      {"http://user:secret@h:82/x", "h", "/x", 82},
      {"  http://h/x \r\n", "h", "/x", 80},
      // Dot segments go; the query is left as it is.
      {"http://h/a/b/../c/./d.doc", "h", "/a/c/d.doc", 80},
      {"http://h/../../x", "h", "/x", 80},
      {"http://h/a/..", "h", "/", 80},
      {"http://h/a/.?q=../x", "h", "/a/?q=../x", 80},
      // Bytes that may not stand raw in a request line are encoded; '%' escapes are kept.
      {"http://h/my file.doc", "h", "/my%20file.doc", 80},
      {"http://h/\xE6\x96\x87.pdf?k=\xE4\xB8\xAD", "h", "/%E6%96%87.pdf?k=%E4%B8%AD", 80},
      {"http://h/a\tb?x=1 2", "h", "/a%09b?x=1%202", 80},
      {"http://h/a%20b", "h", "/a%20b", 80},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.address);
    char host[kSplitHostSize];
    char path[kSplitPathSize];
    std::uint16_t port = 0;
    ASSERT_TRUE(SplitUrl(c.address, host, path, port));
    EXPECT_STREQ(host, c.host);
    EXPECT_STREQ(path, c.path);
    EXPECT_EQ(port, c.port);
  }
}

TEST(SplitUrlTest, RefusesWhatItCannotSplitAndWritesNothing) {
  const std::string longHost(128, 'h');
  const std::string longPath(1023, 'p');     // with its leading "/" one byte too many
  const std::string pathOfSpaces(341, ' ');  // fits raw, not once encoded
  const std::string refused[] = {
      "",
      "garbage",
      "www.example.com/x",
      "://h/x",
      "http:/h/x",
      "http//h/x",
      "http:///x",
      "http://:80/x",
      "http://h:0/",
      "http://h:65536/",
      "http://h:123456/",
      "http://h:8o/",
      "http://h:-1/",
      "http://[::1]/x",
      "http://h h/x",
      "ftp://h/x",  // no port known for it
      "1http://h/",
      "http://" + longHost + "/",
      "http://h/" + longPath,
      "http://h/" + pathOfSpaces + "x",
  };
  for (const std::string& address : refused) {
    SCOPED_TRACE(address);
    char host[kSplitHostSize];
    char path[kSplitPathSize];
    std::memset(host, 'H', sizeof host);
    std::memset(path, 'P', sizeof path);
    std::uint16_t port = 7;
    EXPECT_FALSE(SplitUrl(address.c_str(), host, path, port));
    EXPECT_EQ(std::string(host, sizeof host), std::string(sizeof host, 'H'));
    EXPECT_EQ(std::string(path, sizeof path), std::string(sizeof path, 'P'));
    EXPECT_EQ(port, 7);
  }
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  EXPECT_FALSE(SplitUrl(nullptr, host, path, port));
}

TEST(SplitUrlTest, LongestHostAndPathThatFitAreAccepted) {
  const std::string host127(127, 'h');
  const std::string path1022(1022, 'p');
  const std::string address = "http://" + host127 + ":8080/" + path1022;
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  ASSERT_TRUE(SplitUrl(address.c_str(), host, path, port));
  EXPECT_EQ(std::string(host), host127);
  EXPECT_EQ(std::string(path), "/" + path1022);
  EXPECT_EQ(port, 8080);
}

TEST(SplitUrlTest, LeavesTheCallersAddressUnchanged) {
  const char original[] = "http://h/a b/../c?x=\xE4#frag";
  char address[sizeof original];
  std::memcpy(address, original, sizeof original);
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  ASSERT_TRUE(SplitUrl(address, host, path, port));
  EXPECT_EQ(std::memcmp(address, original, sizeof original), 0);
  EXPECT_STREQ(path, "/c?x=%E4");
}

}  // namespace
}  // namespace quarry
