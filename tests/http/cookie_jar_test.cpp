// The cookie jar: Set-Cookie attributes, dates, host and path matching, the Cookie line and
// the bounds on what a server can make it keep.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "http/cookie_jar.h"

namespace quarry {
namespace {

constexpr std::int64_t kNow = 1775000000;  // 2026-03-31

CookieOrigin Origin(const std::string& address) {
  CookieOrigin origin;
  EXPECT_TRUE(CookieOriginOf(address, origin)) << address;
  return origin;
}

TEST(CookieJarTest, OriginOfAnAddress) {
  const CookieOrigin origin = Origin("HTTPS://Www.Baidu.com:8443/s/list?wd=a b#x");
  EXPECT_EQ(origin.host, "www.baidu.com");
  EXPECT_EQ(origin.path, "/s/list");
  EXPECT_TRUE(origin.secure);
  EXPECT_FALSE(Origin("http://127.0.0.1:8080").secure);
  EXPECT_EQ(Origin("http://127.0.0.1:8080").path, "/");
  CookieOrigin unused;
  EXPECT_FALSE(CookieOriginOf("ftp://x.org/", unused));
  EXPECT_FALSE(CookieOriginOf("https://", unused));
}

TEST(CookieJarTest, Dates) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {"Wed, 21 Oct 2026 07:28:00 GMT", true, 1792567680},
      {"Thu, 31-Dec-37 23:55:55 GMT", true, 2145916555},
      {"Sunday, 06-Nov-94 08:49:37 GMT", true, 784111777},
      {"Sun Nov  6 08:49:37 1994", true, 784111777},
      {"6 nov 1994 8:9:7", true, 784109347},
      {"Thu, 01 Jan 1970 00:00:00 GMT", true, 0},
      {"Tue, 29 Feb 2028 12:00:00 GMT", true, 1835438400},
      {"Thu, 29 Feb 2027 12:00:00 GMT", false, 0},
      {"Wed, 32 Oct 2026 07:28:00 GMT", false, 0},
      {"Wed, 21 Oct 2026 24:00:00 GMT", false, 0},
      {"Wed, 21 Oct 1600 07:28:00 GMT", false, 0},
      {"Wed, 21 Oct 2026", false, 0},
      {"21 2026 07:28:00 GMT", false, 0},
      {"Wed, 21 Oct 20260 07:28:00 GMT", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    std::int64_t seconds = -1;
    EXPECT_EQ(ParseCookieDate(c.text, seconds), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(seconds, c.seconds) << c.text;
    }
  }
}

TEST(CookieJarTest, AttributesDecideWhereACookieGoes) {
  CookieJar jar;
  const CookieOrigin home = Origin("https://www.baidu.com/");
  const CookieOrigin search = Origin("https://www.baidu.com/s/deep/page?x=1");
  const CookieOrigin china = Origin("https://www.baidu.com.cn/");
  const CookieOrigin suffix = Origin("https://github.io/");  // a public suffix that answers
  struct Stored {
    const CookieOrigin& origin;
    std::string setCookie;
    CookieStore result;
  };
  const Stored stored[] = {
      {home,
       "BAIDUID=ABC:FG=1; expires=Thu, 31-Dec-37 23:55:55 GMT; max-age=31536000; path=/; "
       "domain=.baidu.com; version=1; comment=bd",
       CookieStore::Stored},
      {home, "BDSVRTM=0; path=/", CookieStore::Stored},
      {search, "deep=1", CookieStore::Stored},  // no Path: the request's directory, /s/deep
      {search, "root=1; Path=/; HttpOnly; SameSite=Lax", CookieStore::Stored},
      {home, "secure=1; Secure", CookieStore::Stored},
      {home, "image=1; Domain=image.baidu.com", CookieStore::Refused},  // not the answering host
      {home, "tld=1; Domain=com", CookieStore::Refused},
      {home, "other=1; Domain=example.org", CookieStore::Refused},
      {home, "lookalike=1; Domain=evil-baidu.com", CookieStore::Refused},
      {china, "suffix=1; Domain=com.cn", CookieStore::Refused},  // every site under com.cn
      {china, "cn=1; Domain=.Baidu.com.CN", CookieStore::Stored},
      {suffix, "own=1; Domain=github.io", CookieStore::Stored},  // for github.io alone
      {home, "novalue", CookieStore::Refused},
      {home, "=anonymous", CookieStore::Refused},
      {home, "bad=a\x01z", CookieStore::Refused},
      {home, "big=" + std::string(kMaxCookieBytes, 'x'), CookieStore::Refused},
      {home, "gone=1; Max-Age=0", CookieStore::Removed},
      {home, "old=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT", CookieStore::Removed},
      {home, "lasting=1; Max-Age=junk", CookieStore::Stored},  // a bad Max-Age is ignored
  };
  for (const Stored& s : stored)
    EXPECT_EQ(jar.Store(s.origin, s.setCookie, kNow), s.result) << s.setCookie;

  struct Request {
    const char* address;
    std::string line;
  };
  const Request requests[] = {
      {"https://www.baidu.com/", "BAIDUID=ABC:FG=1; BDSVRTM=0; root=1; secure=1; lasting=1"},
      {"https://www.baidu.com/s/deep/x",
       "deep=1; BAIDUID=ABC:FG=1; BDSVRTM=0; root=1; secure=1; lasting=1"},
      {"https://www.baidu.com/s/deeper",
       "BAIDUID=ABC:FG=1; BDSVRTM=0; root=1; secure=1; lasting=1"},
      {"http://www.baidu.com/", "BAIDUID=ABC:FG=1; BDSVRTM=0; root=1; lasting=1"},
      {"https://image.baidu.com/search/acjson?x=1", "BAIDUID=ABC:FG=1"},
      {"https://baidu.com/", "BAIDUID=ABC:FG=1"},
      {"https://notbaidu.com/", ""},
      {"https://www.baidu.com.example.org/", ""},
      {"https://evil-baidu.com/", ""},
      {"https://www.sina.com.cn/", ""},
      {"https://image.baidu.com.cn/", "cn=1"},
      {"https://github.io/", "own=1"},
      {"https://someone.github.io/", ""},
  };
  for (const Request& r : requests)
    EXPECT_EQ(jar.CookieLine(Origin(r.address), kNow), r.line) << r.address;
  // A line that must fit a buffer leaves out what does not fit, keeping the most specific.
  EXPECT_EQ(jar.CookieLine(Origin("https://www.baidu.com/s/deep/x"), kNow, 30),
            "deep=1; BAIDUID=ABC:FG=1");
}

TEST(CookieJarTest, ReplacementExpiryAndTheHead) {
  CookieJar jar;
  const CookieOrigin origin = Origin("https://127.0.0.1:8443/");
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
      "Set-Cookie: BAIDUID=ONE:FG=1; max-age=60; path=/\r\n"
      "set-cookie:PSTM=1775000000; expires=Thu, 31-Dec-37 23:55:55 GMT; path=/\r\n"
      "SET-COOKIE: H_PS=1; path=/; domain=127.0.0.1\r\n"
      "Set-Cookie: broken\r\n"
      "X-Set-Cookie: not=this\r\n\r\n";
  EXPECT_EQ(jar.StoreFromHead(origin, head, kNow), 3);
  EXPECT_EQ(jar.CookieLine(origin, kNow), "BAIDUID=ONE:FG=1; PSTM=1775000000; H_PS=1");
  // A new value keeps the cookie's place; a host-numbered address takes no sub-domain.
  EXPECT_EQ(jar.Store(origin, "BAIDUID=TWO:FG=1; max-age=60; path=/", kNow), CookieStore::Stored);
  EXPECT_EQ(jar.CookieLine(origin, kNow), "BAIDUID=TWO:FG=1; PSTM=1775000000; H_PS=1");
  EXPECT_EQ(jar.CookieLine(Origin("https://1.127.0.0.1/"), kNow), "");
  // Max-Age is counted from when the cookie came; Max-Age wins over Expires; session cookies
  // stay until the jar is cleared.
  EXPECT_EQ(jar.CookieLine(origin, kNow + 61), "PSTM=1775000000; H_PS=1");
  EXPECT_EQ(jar.Store(origin, "PSTM=2; expires=Thu, 31-Dec-37 23:55:55 GMT; max-age=10", kNow + 61),
            CookieStore::Stored);
  EXPECT_EQ(jar.CookieLine(origin, kNow + 72), "H_PS=1");
  EXPECT_EQ(jar.Store(origin, "H_PS=; Max-Age=-1; path=/; domain=127.0.0.1", kNow + 72),
            CookieStore::Removed);
  EXPECT_TRUE(jar.Cookies(kNow + 72).empty());
  jar.Store(origin, "session=1", kNow + 72);
  EXPECT_EQ(jar.CookieLine(origin, kNow + 1000000), "session=1");
  jar.Clear();
  EXPECT_EQ(jar.CookieLine(origin, kNow + 72), "");
}

TEST(CookieJarTest, BoundsAndSharing) {
  CookieJar jar;
  const CookieOrigin origin = Origin("https://www.baidu.com/");
  for (int i = 0; i < 120; ++i) jar.Store(origin, "c" + std::to_string(i) + "=1", kNow);
  std::vector<Cookie> kept = jar.Cookies(kNow);
  ASSERT_EQ(kept.size(), kMaxCookiesPerDomain);
  EXPECT_EQ(kept.front().name, "c70");  // the oldest went first
  for (int host = 0; host < 20; ++host) {
    const CookieOrigin other = Origin("https://h" + std::to_string(host) + ".example.org/");
    for (int i = 0; i < 30; ++i) jar.Store(other, "c" + std::to_string(i) + "=1", kNow);
  }
  EXPECT_EQ(jar.Cookies(kNow).size(), kMaxCookies);

  // Workers of one task share the jar.
  CookieJar shared;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&shared, &origin, t] {
      for (int i = 0; i < 200; ++i) {
        shared.Store(origin, "w" + std::to_string(t) + "=" + std::to_string(i), kNow);
        shared.CookieLine(origin, kNow);
      }
    });
  }
  for (std::thread& w : workers) w.join();
  std::vector<std::string> last;
  for (const Cookie& c : shared.Cookies(kNow)) last.push_back(c.name + "=" + c.value);
  std::sort(last.begin(), last.end());
  EXPECT_EQ(last, (std::vector<std::string>{"w0=199", "w1=199", "w2=199", "w3=199"}));
}

}  // namespace
}  // namespace quarry
