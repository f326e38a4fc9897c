// Live result-page addresses and request lines, and the address checks the live parsers share.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/live_search.h"

namespace quarry {
namespace {

TEST(LiveSearchTest, ResultPageAddresses) {
  struct Case {
    int kind;
    std::string keyword;
    int index;
    std::string url;
  };
  const std::string web = "https://www.baidu.com/s?wd=";
  const std::string image =
      "https://127.0.0.1:8443/search/acjson?tn=resultjson_com&ipn=rj&ie=utf-8&oe=utf-8&queryWord=";
  const Case cases[] = {
      {0, "flowers", 0, image + "flowers&word=flowers&pn=0&rn=30"},
      {0, "red 花", 1, image + "red%20%E8%8A%B1&word=red%20%E8%8A%B1&pn=30&rn=30"},
      {0, "x", 33, image + "x&word=x&pn=990&rn=30"},  // the last offset below the cap
      {0, "x", 34, ""},
      {1, "annual report", 0, web + "annual%20report%20filetype%3Adoc&pn=0&rn=10&ie=utf-8"},
      {2, "a&b=c", 2, web + "a%26b%3Dc%20filetype%3Appt&pn=20&rn=10&ie=utf-8"},
      {3, "年报", 499, web + "%E5%B9%B4%E6%8A%A5%20filetype%3Apdf&pn=4990&rn=10&ie=utf-8"},
      {4, "x/y?z#", 1, web + "x%2Fy%3Fz%23%20filetype%3Axls&pn=10&rn=10&ie=utf-8"},
      {5, "x", 0, ""},
      {-1, "x", 0, ""},
      {3, "x", -1, ""},
  };
  for (const Case& c : cases) {
    const FileKind kind = static_cast<FileKind>(c.kind);  // -1 and 5 are unknown kinds
    const int pn = LiveResultPageOffset(kind, c.index);
    EXPECT_EQ(LiveResultPageUrl(kind, "www.baidu.com", "127.0.0.1:8443", c.keyword, pn), c.url)
        << c.kind << " " << c.keyword << " " << c.index;
  }
  EXPECT_EQ(LiveResultPageUrl(FileKind::Pdf, "", "i", "x", 0), "");
  EXPECT_EQ(LiveResultPageUrl(FileKind::Image, "w", "", "x", 0), "");
  // The longest keyword a task holds, all multi-byte, with the longest host, still fits; a
  // longer one gives no address rather than a cut one.
  const std::string host(127, 'h');
  EXPECT_LE(LiveResultPageUrl(FileKind::Image, host, host, std::string(257, '\xE8'), 990).size(),
            1023u);
  EXPECT_EQ(LiveResultPageUrl(FileKind::Pdf, host, host, std::string(400, '\xE8'), 0), "");
}

TEST(LiveSearchTest, CookieAddressAndRequestLines) {
  EXPECT_EQ(LiveCookieUrl(FileKind::Image, "www.baidu.com", "image.baidu.com"),
            "https://image.baidu.com/");
  EXPECT_EQ(LiveCookieUrl(FileKind::Slides, "127.0.0.1:8443", "image.baidu.com"),
            "https://127.0.0.1:8443/");
  EXPECT_EQ(LiveCookieUrl(static_cast<FileKind>(9), "w", "i"), "");

  const std::vector<std::string> image = LiveResultPageHeaders(FileKind::Image, "127.0.0.1:8443");
  const std::vector<std::string> web = LiveResultPageHeaders(FileKind::Pdf, "127.0.0.1:8443");
  const auto has = [](const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  for (const auto* lines : {&image, &web}) {
    EXPECT_TRUE(has(*lines, std::string("User-Agent: ") + kLiveUserAgent));
    EXPECT_TRUE(has(*lines, "Accept-Language: zh-CN,zh;q=0.9"));
    for (const std::string& line : *lines) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_NE(std::string(kLiveUserAgent).find("Windows NT"), std::string::npos);  // a desktop one
  EXPECT_TRUE(has(image, "Referer: https://127.0.0.1:8443/"));
  EXPECT_TRUE(has(image, "X-Requested-With: XMLHttpRequest"));
  EXPECT_FALSE(has(web, "X-Requested-With: XMLHttpRequest"));
}

TEST(LiveSearchTest, AddressChecks) {
  struct Case {
    std::string address;
    bool usable, redirector, refusal;
  };
  const Case cases[] = {
      {"https://www.baidu.com/link?url=AbC-9&wd=&eqid=1", true, true, false},
      {"HTTP://127.0.0.1:8443/link?url=x", true, true, false},
      {"https://www.baidu.com/link?wd=1", true, false, false},  // no url= to resolve
      {"https://www.baidu.com/linkx?url=1", true, false, false},
      {"https://wappass.baidu.com/static/captcha/tuxing.html?&ak=1", true, false, true},
      {"http://WAPPASS.baidu.com", true, false, true},
      {"https://user@wappass.baidu.com:443/", true, false, true},
      {"https://wappass.baidu.com.example.org/", true, false, false},
      {"https://docs.example.org/a%20b.pdf", true, false, false},
      {"https://docs.example.org/a b.pdf", false, false, false},
      {"https://docs.example.org/a\tb.pdf", false, false, false},
      {"https:///a.pdf", false, false, false},
      {"https://:443/a.pdf", false, false, false},
      {"ftp://docs.example.org/a.pdf", false, false, false},
      {"javascript:void(0)", false, false, false},
      {"//docs.example.org/a.pdf", false, false, false},
      {"", false, false, false},
      {"https://x.org/" + std::string(1010, 'a'), false, false, false},  // 1024 bytes
      {"https://x.org/" + std::string(1009, 'a'), true, false, false},   // 1023 bytes
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsUsableLiveAddress(c.address), c.usable) << c.address;
    EXPECT_EQ(IsLiveRedirectorLink(c.address), c.redirector) << c.address;
    EXPECT_EQ(IsLiveRefusalLocation(c.address), c.refusal) << c.address;
  }
}

TEST(LiveSearchTest, ResolveAddress) {
  const std::string base = "https://www.baidu.com:8443/s/list?wd=x#top";
  struct Case {
    std::string reference;
    std::string resolved;
  };
  const Case cases[] = {
      {"http://docs.example.org/a.pdf", "http://docs.example.org/a.pdf"},
      {"  https://docs.example.org/a.pdf\t", "https://docs.example.org/a.pdf"},
      {"//cdn.example.org/a.pdf", "https://cdn.example.org/a.pdf"},
      {"/link?url=1", "https://www.baidu.com:8443/link?url=1"},
      {"?pn=10", "https://www.baidu.com:8443/s/list?pn=10"},
      {"b.pdf", "https://www.baidu.com:8443/s/b.pdf"},
      {"", ""},
      {"javascript:void(0)", ""},
      {"ftp://docs.example.org/a.pdf", ""},
      {"a:b/c.pdf", ""},
      {"mailto x", ""},  // a blank cannot stand in an address
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveLiveAddress(base, c.reference), c.resolved);
  EXPECT_EQ(ResolveLiveAddress("not an address", "/a.pdf"), "");
  EXPECT_EQ(ResolveLiveAddress("http://h.org", "a.pdf"), "http://h.org/a.pdf");
}

}  // namespace
}  // namespace quarry
