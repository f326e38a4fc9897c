// The search addresses of the classic mode: the bases and the image link pattern built from the
// hosts, and the percent-encoding of keywords.
#include "harvest/search_pages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quarry {
namespace {

TEST(SearchPagesTest, DefaultsAreTheRealHosts) {
  SearchHosts hosts;
  std::string error;
  ASSERT_TRUE(MakeSearchHosts("", "", &hosts, &error)) << error;
  EXPECT_EQ(hosts.webSearchBase, "http://www.baidu.com/s?");
  EXPECT_EQ(hosts.imageSearchBase,
            "http://image.baidu.com/i?tn=baiduimage&ct=201326592&cl=2&lm=-1&pv=&z=3&word=");
  EXPECT_EQ(hosts.imageLinkPattern,
            "http://image.baidu.com/i\\?z=0&cl=2&ct=\\d+&sn=&lm=-1&cm=1&sc=0&bu=&rn=21"
            "&tn=baiduimage&word=[^\\s]*&pn=\\d+|http://[^\\s]*.jpg|http://[^\\s]*.gif"
            "|http://[^\\s]*.bmp");
  EXPECT_EQ(hosts.imageLinkPattern.size(), 158u);
}

TEST(SearchPagesTest, ConfiguredHostsMayCarryAPort) {
  SearchHosts hosts;
  ASSERT_TRUE(MakeSearchHosts("127.0.0.1:8080", "localhost:9", &hosts, nullptr));
  EXPECT_EQ(hosts.webSearchBase, "http://127.0.0.1:8080/s?");
  EXPECT_EQ(hosts.imageSearchBase.rfind("http://localhost:9/i?tn=baiduimage&", 0), 0u);
  EXPECT_EQ(hosts.imageLinkPattern.rfind("http://localhost:9/i\\?z=0&", 0), 0u);
}

TEST(SearchPagesTest, RefusesWhatCannotBeAHost) {
  const std::string refused[] = {std::string(128, 'h'), "a b", "a/b", "a?b", "a#b", "a\\b",
                                 "user@host",           "a\tb"};
  for (const std::string& host : refused) {
    SearchHosts hosts;
    hosts.webSearchBase = "kept";
    std::string error;
    EXPECT_FALSE(MakeSearchHosts(host, "", &hosts, &error)) << host;
    EXPECT_FALSE(MakeSearchHosts("", host, &hosts, &error)) << host;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(hosts.webSearchBase, "kept");
  }
  SearchHosts hosts;
  EXPECT_TRUE(MakeSearchHosts(std::string(127, 'h'), "", &hosts, nullptr));
}

TEST(SearchPagesTest, PercentEncodeKeepsOnlyUnreservedBytes) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", b);
    EXPECT_EQ(PercentEncode(std::string(1, c)), unreserved ? std::string(1, c) : hex) << b;
  }
  EXPECT_EQ(PercentEncode("电路 a+b"), "%E7%94%B5%E8%B7%AF%20a%2Bb");
}

}  // namespace
}  // namespace quarry
