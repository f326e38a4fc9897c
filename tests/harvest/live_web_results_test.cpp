// Live document result pages, redirector answers, and pages built to hurt the HTML parser.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/live_web_results.h"

namespace quarry {
namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

const char kPageUrl[] = "https://www.baidu.com/s?wd=%E5%B9%B4%E6%8A%A5%20filetype%3Apdf&pn=10";

// A result page in today's shape: hashed class names, result blocks with and without mu, a
// nested block, a block with nothing to follow, and traps in scripts and in the result list.
const char kResultPage[] = R"html(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>年报 filetype:pdf_百度搜索</title>
<script>var bds={"i18n":{"next":"下一页","none":"未找到相关结果"}};</script></head>
<body><div id="wrapper"><div id="head"><a href="/">百度首页</a></div>
<div id="container"><div id="content_left">
<div class="result c-container xpath-log new-pmd" srcid="1599" id="1" tpl="se_com_default"
  mu="https://www.example.edu.cn/files/2023-report.pdf"><div class="c-container">
  <h3 class="c-title t t tts-title"><a href="http://www.baidu.com/link?url=Ab1-x&amp;wd=&amp;eqid=9f"
  target="_blank"><em>年报</em>   2023 &amp; 2022
  </a></h3><div class="_c9f3a"><span>2023年1月</span> 全文共 32 页 下一页</div></div></div>
<div class="result c-container" id="2"><h3 class="t"><a href="https://www.baidu.com/link?url=Cd2">
  <em>年报</em> 第二份</a></h3></div>
<div class="c-container _7fxk2" id="3"><h3><span>PDF</span><a href="https://docs.example.org/3.pdf">第三份</a></h3></div>
<div class="result-op c-container" id="4" tpl="recommend_list"><div class="_2kdC">相关搜索</div></div>
<div class="_x8sK"><div class="result" id="5" mu="/relative/5.pdf"><h3><a href="/link?url=Ef5">第五份</a></h3></div></div>
<div class="c-container" id="6"><h3><a href="javascript:void(0)">第六份</a></h3></div>
<div class="result c-container" data-tuiguang="x" mu="https://ads.example.com/a.pdf"><h3><a href="https://ads.example.com/a.pdf">推广一</a></h3></div>
<div class="result c-container" id="8"><h3><a href="https://www.baidu.com/baidu.php?url=K0a">推广二</a></h3></div>
<div class="result c-container" id="9" mu="https://shop.example.com/b.pdf"><h3><a href="https://shop.example.com/b.pdf">推广三</a></h3><span class="c-gap-left"> 广告 </span></div>
<div class="result c-container" id="11"><h3><a href="/s?wd=%E5%B9%B4%E6%8A%A5%E4%B8%8B%E8%BD%BD">年报下载</a></h3></div>
<div class="c-container ec_tuiguang_pplink" id="10"><h3><a href="https://x.example.com/c.pdf">推广四</a></h3></div>
</div><div id="page"><div class="page-inner_2jZi2"><a href="/s?wd=x&amp;pn=0">&lt; 上一页</a>
<a class="n" href="/s?wd=x&amp;pn=20">下一页 &gt;</a></div></div></div></div></body></html>)html";

TEST(LiveWebResultsTest, RecordedResultPage) {
  const LiveWebPage page = ParseLiveWebPage(kPageUrl, kResultPage);
  ASSERT_EQ(page.status, LiveWebPageStatus::Ok) << page.problem;
  EXPECT_TRUE(page.hasNextPage);
  EXPECT_EQ(page.unusableResults, 2);  // the block without a link, and the javascript: link
  // Promoted blocks (by attribute, class or label) and a click-through link are never followed,
  // nor is a link to another page of the service that is not its redirector.
  EXPECT_EQ(page.adsSkipped, 4);
  EXPECT_EQ(page.serviceLinksSkipped, 1);
  struct Expected {
    const char* url;
    const char* title;
    bool needsResolving;
  };
  const Expected expected[] = {
      {"https://www.example.edu.cn/files/2023-report.pdf", "年报 2023 & 2022", false},
      {"https://www.baidu.com/link?url=Cd2", "年报 第二份", true},
      {"https://docs.example.org/3.pdf", "第三份", false},
      {"https://www.baidu.com/relative/5.pdf", "第五份", false},
  };
  ASSERT_EQ(page.results.size(), std::size(expected));
  for (std::size_t i = 0; i < page.results.size(); ++i) {
    EXPECT_EQ(page.results[i].url, expected[i].url) << i;
    EXPECT_EQ(page.results[i].title, expected[i].title) << i;
    EXPECT_EQ(page.results[i].needsResolving, expected[i].needsResolving) << i;
  }
}

TEST(LiveWebResultsTest, PageStatuses) {
  using S = LiveWebPageStatus;
  const std::string block =
      R"(<div class="result c-container" mu="https://d.example.org/a.pdf"><h3><a href="https://www.baidu.com/link?url=1">a</a></h3></div>)";
  const std::string verification =
      "<!DOCTYPE html><html><head><title>百度安全验证</title></head><body><div "
      "class=\"timeout\">网络不给力，请稍后重试</div></body></html>";
  struct Case {
    const char* name;
    int status;
    std::string location;
    std::string body;
    S expected;
    bool hasNextPage;
    std::size_t results;
    const char* problem;
  };
  const Case cases[] = {
      {"last page", 200, "", "<div id=content_left>" + block + "</div>", S::Ok, false, 1, ""},
      {"next text only inside the list", 200, "",
       "<div id=content_left>" + block + "<p>下一页</p></div>", S::Ok, false, 1, ""},
      {"no results", 200, "",
       "<div id=content_left><div class=nors><p>抱歉没有找到与“x”相关的网页。</p><p>未找到相关结果"
       "</p></div></div>",
       S::NoResults, false, 0, ""},
      {"no c-container", 200, "",
       "<html><body><div id=content_left><div class=_x1><h3><a href=\"https://x/a.pdf\">a</a></h3>"
       "</div></div><div id=page><a>下一页</a></div></body></html>",
       S::Unrecognised, true, 0, "no result blocks"},
      {"no result list", 200, "", "<html><body>" + block + "</body></html>", S::Unrecognised, false,
       0, "no result list"},
      {"empty body", 200, "", "", S::Unrecognised, false, 0, "no HTML"},
      {"verification page", 200, "", verification, S::Refused, false, 0, "verification"},
      {"redirect to verification", 302,
       "https://wappass.baidu.com/static/captcha/tuxing.html?&ak=c27b&backurl=https%3A%2F%2Fwww",
       "", S::Refused, false, 0, "verification"},
      {"other redirect", 302, "https://www.baidu.com/s?wd=x", "", S::Unrecognised, false, 0,
       "302 to https://www.baidu.com/s?wd=x"},
      {"server error", 500, "", "<div id=content_left>" + block + "</div>", S::Unrecognised, false,
       0, "status 500"},
      {"not HTML at all", 200, "", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj", S::Unrecognised, false,
       0, "no result list"},
  };
  for (const Case& c : cases) {
    const LiveWebPage page = ParseLiveWebAnswer(kPageUrl, c.status, c.location, c.body);
    EXPECT_EQ(page.status, c.expected) << c.name;
    EXPECT_EQ(page.hasNextPage, c.hasNextPage) << c.name;
    EXPECT_EQ(page.results.size(), c.results) << c.name;
    EXPECT_NE(page.problem.find(c.problem), std::string::npos) << c.name << ": " << page.problem;
  }
}

TEST(LiveWebResultsTest, RedirectorAnswers) {
  using S = LiveRedirectStatus;
  const std::string redirector = "https://www.baidu.com/link?url=Ab1-x&wd=&eqid=9f";
  struct Case {
    const char* name;
    int status;
    std::string location;
    std::string body;
    S expected;
    std::string url;
  };
  const Case cases[] = {
      {"302", 302, "https://www.example.edu.cn/files/a.pdf", "", S::Resolved,
       "https://www.example.edu.cn/files/a.pdf"},
      {"301 relative", 301, " /files/b.pdf ", "", S::Resolved, "https://www.baidu.com/files/b.pdf"},
      {"302 without Location", 302, "", "", S::Unrecognised, ""},
      {"302 to another scheme", 302, "ftp://x.org/a.pdf", "", S::Unrecognised, ""},
      {"302 to verification", 302, "https://wappass.baidu.com/static/captcha/tuxing.html", "",
       S::Refused, ""},
      {"meta refresh", 200, "",
       "<html><head><noscript><META http-equiv=\"refresh\" content=\"0;URL='http://docs.example."
       "org/c.pdf?a=1&amp;b=2'\"></noscript></head><body></body></html>",
       S::Resolved, "http://docs.example.org/c.pdf?a=1&b=2"},
      {"meta refresh, loose spelling", 200, "",
       "<meta HTTP-EQUIV=\" Refresh \" content=\"5 ; url = https://docs.example.org/d.pdf\">",
       S::Resolved, "https://docs.example.org/d.pdf"},
      {"script", 200, "",
       "<html><head><script>var t=1;window.location.replace(\"https:\\/\\/docs.example.org\\/e"
       ".pdf?x=1\\u0026y=\\x32\")</script></head><body></body></html>",
       S::Resolved, "https://docs.example.org/e.pdf?x=1&y=2"},
      {"script, single quotes", 200, "",
       "<script>location.replace( 'https://docs.example.org/f\\'s.pdf' );</script>", S::Resolved,
       "https://docs.example.org/f's.pdf"},
      {"meta wins over script", 200, "",
       "<script>window.location.replace(\"https://s.example.org/1.pdf\")</script><meta "
       "http-equiv=refresh content=\"0;URL='https://m.example.org/1.pdf'\">",
       S::Resolved, "https://m.example.org/1.pdf"},
      {"unterminated script string", 200, "",
       "<script>window.location.replace(\"https://docs.example.org/g.pdf</script>", S::Unrecognised,
       ""},
      {"nothing to follow", 200, "", "<html><body><p>moved</p></body></html>", S::Unrecognised, ""},
      {"verification page", 200, "", "<title>百度安全验证</title>", S::Refused, ""},
      {"not found", 404, "", "<html>Not found</html>", S::Unrecognised, ""},
  };
  for (const Case& c : cases) {
    const LiveRedirect redirect = ParseRedirectorAnswer(redirector, c.status, c.location, c.body);
    EXPECT_EQ(redirect.status, c.expected) << c.name << ": " << redirect.problem;
    EXPECT_EQ(redirect.url, c.url) << c.name;
    EXPECT_EQ(redirect.problem.empty(), c.expected == S::Resolved) << c.name;
  }
}

std::string Numbered(const char* format, int times) {
  std::string out;
  char piece[64];
  for (int i = 0; i < times; ++i) {
    std::snprintf(piece, sizeof piece, format, i);
    out += piece;
  }
  return out;
}

// Pages built to make an HTML parser work hard, nest without end, or trip over its own
// checks: each is read in about the time its size takes, and the result block in front of
// the junk is still found.
TEST(LiveWebResultsTest, HostilePages) {
  const std::string block =
      "<div id=content_left><div class=\"c-container\" mu=\"https://d.example.org/a.pdf\">"
      "<h3><a href=\"https://www.baidu.com/link?url=1\">a</a></h3></div></div>";
  const std::string cases[] = {
      Repeat("<div>", 400000),
      Repeat("<b><div></b>", 100000),
      Repeat("<li><section>", 100000),
      Repeat("<table><td>", 100000),
      "<div>" + Numbered("<b id=%d>", 2000) + "</div>" + Repeat("<div>x</div>", 20000),
      Repeat("<table><svg><td><title><select></table>", 1000),
      Repeat("<a href=\"", 100000),
      Repeat("<!--", 100000) + Repeat("\xFF\xFE\x80", 100000),
      std::string(1000000, '\0'),
  };
  for (const std::string& junk : cases) {
    const LiveWebPage page = ParseLiveWebPage(kPageUrl, block + junk);
    EXPECT_EQ(page.status, LiveWebPageStatus::Ok) << junk.substr(0, 40);
    ASSERT_EQ(page.results.size(), 1u) << junk.substr(0, 40);
    EXPECT_EQ(page.results[0].url, "https://d.example.org/a.pdf");
  }
  const std::string overLimit(9u << 20, ' ');  // pages are read up to 8 MB
  const LiveWebPage huge = ParseLiveWebPage(kPageUrl, block + overLimit);
  EXPECT_EQ(huge.status, LiveWebPageStatus::Unrecognised);
  EXPECT_NE(huge.problem.find("larger than"), std::string::npos) << huge.problem;
}

}  // namespace
}  // namespace quarry
