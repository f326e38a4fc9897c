#include "engine/search_hosts.h"

#include <gtest/gtest.h>

#include <string>

namespace quarry {
namespace {

TEST(SearchHostsTest, DefaultsAreTheRealHosts) {
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

TEST(SearchHostsTest, ConfiguredHostsMayCarryAPort) {
  SearchHosts hosts;
  ASSERT_TRUE(MakeSearchHosts("127.0.0.1:8080", "localhost:9", &hosts, nullptr));
  EXPECT_EQ(hosts.webSearchBase, "http://127.0.0.1:8080/s?");
  EXPECT_EQ(hosts.imageSearchBase.rfind("http://localhost:9/i?tn=baiduimage&", 0), 0u);
  EXPECT_EQ(hosts.imageLinkPattern.rfind("http://localhost:9/i\\?z=0&", 0), 0u);
}

TEST(SearchHostsTest, RefusesWhatCannotBeAHost) {
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

TEST(SearchHostsTest, TheProgramCopyFollowsTheConfiguration) {
  ASSERT_TRUE(ConfigureSearchHosts("127.0.0.1:1", "", nullptr));
  EXPECT_EQ(ProgramSearchHosts().webSearchBase, "http://127.0.0.1:1/s?");
  std::string error;
  EXPECT_FALSE(ConfigureSearchHosts("bad host", "", &error));
  EXPECT_EQ(ProgramSearchHosts().webSearchBase, "http://127.0.0.1:1/s?");
  ASSERT_TRUE(ConfigureSearchHosts("", "", nullptr));
  EXPECT_EQ(ProgramSearchHosts().webSearchBase, "http://www.baidu.com/s?");
}

}  // namespace
}  // namespace quarry
