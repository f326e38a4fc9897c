// Anchor scan of document result pages, the reading of one anchor, and tag removal.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/link_extraction.h"
#include "tests/harvest/fake_link_sink.h"

namespace quarry {
namespace {

using testing::FakeLinkSink;

// Three results the way the web search lists them for a file-type query, one of them a PDF,
// plus the page's own navigation anchors.
const char kWordResultPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>filetype:doc 年度报告_搜索</title>"
    "</head><body><div id=\"head\"><a href=\"/\" class=\"logo\">首页</a></div>\n"
    "<div id=\"content_left\">\n"
    "<div class=\"result c-container\" id=\"1\"><h3 class=\"t\"><a target=\"_blank\" "
    "href=\"http://www.Example.edu.cn/Files/2019-Report.DOC\"><em>年度报告</em> 2019 - 第一部分"
    "</a></h3><div class=\"c-abstract\">全文共 32 页...</div></div>\n"
    "<div class=\"result c-container\" id=\"2\"><h3 class=\"t\"><a target=\"_blank\" "
    "href=\"http://docs.example.com/paper.pdf\">论文 <b>PDF</b></a></h3></div>\n"
    "<div class=\"result c-container\" id=\"3\"><h3 class=\"t\"><a target=\"_blank\" "
    "href=\"/files/plan.doc\">工作<b>计划</b></a></h3></div>\n"
    "<div class=\"result c-container\" id=\"4\"><h3 class=\"t\"><a target=\"_blank\" "
    "href=\"http://x.org/get.php?f=summary.docx&amp;id=7\">总结 &lt; 草稿</a></h3></div>\n"
    "</div><div id=\"page\"><a href=\"/s?wd=abc&pn=10\">下一页&gt;</a></div></body></html>";

TEST(ExtractDocumentLinksTest, QueuesMatchingHrefsAtTheFrontWithTheirTitles) {
  FakeLinkSink sink;
  EXPECT_EQ(ExtractDocumentLinks(sink, 3, FileKind::Word, kWordResultPage), 3);
  ASSERT_EQ(sink.added.size(), 3u);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{
                             "http://www.example.edu.cn/files/2019-report.doc", "/files/plan.doc",
                             "http://x.org/get.php?f=summary.docx&amp;id=7"}));
  EXPECT_EQ(sink.added[0].title, "年度报告 2019 - 第一部分");
  EXPECT_EQ(sink.added[1].title, "工作计划");
  EXPECT_EQ(sink.added[2].title, "总结 &lt; 草稿");
  for (const auto& link : sink.added) testing::ExpectExtractedLinkArguments(link, "http://");
  ASSERT_EQ(sink.logs.size(), 3u);
  EXPECT_EQ(sink.logs[1].thread, 3);
  EXPECT_EQ(sink.logs[1].text, "解析到：/files/plan.doc ...");
  // Pushed at the front one after the other: the last link found is served first.
  EXPECT_EQ(sink.queue, (std::deque<std::string>{
                            "http://x.org/get.php?f=summary.docx&amp;id=7", "/files/plan.doc",
                            "http://www.example.edu.cn/files/2019-report.doc"}));
}

TEST(ExtractDocumentLinksTest, AStoppingTaskEndsTheScanBetweenAnchors) {
  FakeLinkSink sink;
  sink.stopAtQuestion = 3;  // asked before each anchor: the logo's, the first result's, ...
  EXPECT_EQ(ExtractDocumentLinks(sink, 1, FileKind::Word, kWordResultPage), 1);
  EXPECT_EQ(sink.Urls(),
            (std::vector<std::string>{"http://www.example.edu.cn/files/2019-report.doc"}));
}

TEST(ExtractDocumentLinksTest, KindPicksTheExtension) {
  struct Case {
    int kind;
    std::vector<std::string> urls;
  };
  const std::string page =
      "<p><a href=\"h/a.doc\">a</a><a href=\"h/b.ppt\">b</a><a href=\"h/c.pdf\">c</a>"
      "<a href=\"h/d.xls\">d</a><a href=\"h/e.jpg\">e</a></p>";
  const Case cases[] = {{0, {}},          {1, {"h/a.doc"}}, {2, {"h/b.ppt"}}, {3, {"h/c.pdf"}},
                        {4, {"h/d.xls"}}, {5, {}},          {-1, {}}};
  for (const Case& c : cases) {
    FakeLinkSink sink;
    ExtractDocumentLinks(sink, 1, static_cast<FileKind>(c.kind), page);  // 5 and -1 are unknown
    EXPECT_EQ(sink.Urls(), c.urls) << "kind " << c.kind;
  }
}

TEST(ExtractDocumentLinksTest, ScanEdgeCases) {
  struct Case {
    const char* name;
    std::string page;
    std::vector<std::string> urls;
  };
  const Case cases[] = {
      {"single quotes and upper-case spellings add nothing",
       "<p><a href='h/a.doc'>a</a> <a HREF=\"h/b.doc\">b</a> <A href=\"h/c.doc\">c</A></p>",
       {}},
      {"anchor at index 0 ends the scan unread",
       "<a href=\"h/a.doc\">a</a> <a href=\"h/b.doc\">b</a>",
       {}},
      {"an anchor without </a> ends the scan",
       "<p><a href=\"h/a.doc\">a</a> <a href=\"h/b.doc\">b <a href=\"h/c.doc\">c",
       {"h/a.doc"}},
      {"anchors do not overlap: the first href of the stretch decides",
       "<p><a href=\"h/a.pdf\">x <a href=\"h/b.doc\">y</a></p>",
       {}},
      {"the scan resumes at the closing </a>",
       "<p><a href=\"h/a.doc\">a</a><a href=\"h/b.doc\">b</a></p>",
       {"h/a.doc", "h/b.doc"}},
      {"an empty href or one that starts with the extension is refused",
       "<p><a href=\"\">a</a><a href=\".doc\">b</a><a href=\".DOC/x.doc\">c</a></p>",
       {}},
      {"no anchors", "<html><body>nothing here</body></html>", {}},
      {"empty page", "", {}},
  };
  for (const Case& c : cases) {
    FakeLinkSink sink;
    ExtractDocumentLinks(sink, 1, FileKind::Word, c.page);
    EXPECT_EQ(sink.Urls(), c.urls) << c.name;
  }
}

TEST(ExtractDocumentLinksTest, SkipsOverlongHrefsAndRefusedEntriesButGoesOn) {
  const std::string longest = "h/" + std::string(kMaxLinkBytes - 6, 'x') + ".doc";
  const std::string tooLong = "h/" + std::string(kMaxLinkBytes - 5, 'x') + ".doc";
  ASSERT_EQ(longest.size(), kMaxLinkBytes);
  const std::string page = "<p><a href=\"" + tooLong +
                           "\">a</a> <a href=\"h/refused.doc\">r</a>"
                           " <a href=\"" +
                           longest + "\">b</a></p>";
  FakeLinkSink sink;
  sink.refuseUrl = "h/refused.doc";
  EXPECT_EQ(ExtractDocumentLinks(sink, 2, FileKind::Word, page), 1);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{longest}));
  ASSERT_EQ(sink.logs.size(), 1u);  // nothing is announced for what was not queued
}

TEST(ParseAnchorTest, HrefAndTitle) {
  struct Case {
    const char* anchor;
    bool ok;
    const char* href;
    const char* title;
  };
  const Case cases[] = {
      {"<a href=\"http://h.cn/a.doc\">Title</a>", true, "http://h.cn/a.doc", "Title"},
      {"<a href=\"http://H.CN/A.DOC\">T</a>", true, "http://h.cn/a.doc", "T"},
      {"<a href=\"http://h.cn/报告Ä.Doc\">T</a>", true, "http://h.cn/报告Ä.doc", "T"},
      {"<a href=\"h/a.docx\">T</a>", true, "h/a.docx", "T"},
      {"<a href=\"h/get?f=a.doc&id=1\">T</a>", true, "h/get?f=a.doc&id=1", "T"},
      {"<a href=\"h/a.doc\"><b>年度</b>报告<em>2020</em></a>", true, "h/a.doc", "年度报告2020"},
      {"<a href=\"h/a.doc\">a < b</a>", true, "h/a.doc", "a < b"},
      {"<a href=\"h/a.doc\">x<b>y</b> a <c</a>", true, "h/a.doc", "xy a <c"},
      {"<a href=\"h/a.doc\"></a>", true, "h/a.doc", ""},
      {"<a class=\"t\" href=\"h/a.doc\" title=\"x\">T</a>", true, "h/a.doc", "T"},
      {"href=\"h/a.doc\">T</a>", false, "", ""},
      {"<a href='h/a.doc'>T</a>", false, "", ""},
      {"<a HREF=\"h/a.doc\">T</a>", false, "", ""},
      {"<a href=\"h/a.doc>T</a>", false, "", ""},
      {"<a href=\"h/a.pdf\">T</a>", false, "", ""},
      {"<a href=\".doc\">T</a>", false, "", ""},
      {"<a href=\"h/a.doc\"", false, "", ""},
      {"<a href=\"h/a.doc\">T", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string href = "unchanged";
    std::string title = "unchanged";
    const bool ok = ParseAnchor(".doc", c.anchor, href, title);
    EXPECT_EQ(ok, c.ok) << c.anchor;
    if (ok) {
      EXPECT_EQ(href, c.href) << c.anchor;
      EXPECT_EQ(title, c.title) << c.anchor;
    }
  }
}

TEST(StripTagsTest, RemovesMarkedStretches) {
  struct Case {
    const char* text;
    const char* open;
    const char* close;
    const char* out;
  };
  const Case cases[] = {
      {"", "<", ">", ""},
      {"plain text", "<", ">", "plain text"},
      {"<b>bold</b> and <i>it</i>", "<", ">", "bold and it"},
      {"a < b", "<", ">", "a < b"},
      {"a<b>c<d", "<", ">", "ac<d"},
      {"x > y", "<", ">", "x > y"},
      {"<<b>>", "<", ">", ">"},
      {"<>", "<", ">", ""},
      {"a[[x]]b[[y", "[[", "]]", "ab[[y"},
      {"keep <all>", "", ">", "keep <all>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StripTags(c.text, c.open, c.close), c.out) << c.text;
  }
}

}  // namespace
}  // namespace quarry
