// Image link extraction with the image pattern, over snippets of image result pages.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/link_extraction.h"
#include "harvest/search_pages.h"
#include "tests/harvest/fake_link_sink.h"

namespace quarry {
namespace {

using testing::FakeLinkSink;

const std::string kPattern = BuildImageLinkPattern("image.baidu.com");

std::vector<std::string> Extract(const std::string& page) {
  FakeLinkSink sink;
  ExtractImageLinks(sink, 1, kPattern, page);
  return sink.Urls();
}

TEST(ExtractImageLinksTest, WhatAMatchCovers) {
  struct Case {
    const char* name;
    std::string page;
    std::vector<std::string> urls;
  };
  const std::string next =
      "http://image.baidu.com/i?z=0&cl=2&ct=201326592&sn=&lm=-1&cm=1&sc=0&bu=&rn=21"
      "&tn=baiduimage&word=%E7%8C%AB&pn=18";
  const Case cases[] = {
      {"jpg followed by a blank",
       "<img src=http://img1.x.cn/a/b.jpg width=120>",
       {"http://img1.x.cn/a/b.jpg"}},
      {"the run gives back bytes up to the last jpg",
       "see http://img1.x.cn/b.jpg?s=1 here",
       {"http://img1.x.cn/b.jpg"}},
      {"two jpg links joined by a quote are one match",
       "src=\"http://a.cn/1.jpg\"http://b.cn/2.jpg\" alt",
       {"http://a.cn/1.jpg\"http://b.cn/2.jpg"}},
      {"a jpg then a gif are two matches",
       "src=\"http://a.cn/1.jpg\"http://b.cn/2.gif\" alt",
       {"http://a.cn/1.jpg", "http://b.cn/2.gif"}},
      {"gif and bmp",
       "<p>http://a.cn/x.gif http://a.cn/y.bmp</p>",
       {"http://a.cn/x.gif", "http://a.cn/y.bmp"}},
      {"the dot before the extension is any byte",
       "http://a.cn/photojpg\n",
       {"http://a.cn/photojpg"}},
      {"a further result page", "<a href=" + next + " class=n>下一页</a>", {next}},
      {"a result page of another host is no result page",
       "<a href=http://image.example.com/i?z=0&cl=2&ct=1&sn=&lm=-1&cm=1&sc=0&bu=&rn=21"
       "&tn=baiduimage&word=x&pn=18>",
       {}},
      {"a line break ends the run", "http://a.cn/dir\n/b.jpg", {}},
      {"png, https and upper-case extensions do not match",
       "http://a.cn/1.png https://a.cn/2.jpg http://a.cn/3.JPG",
       {}},
      {"multi-byte characters stay whole",
       "url: http://图片.cn/猫.jpg\t",
       {"http://图片.cn/猫.jpg"}},
      {"no links", "<html><body>无结果</body></html>", {}},
      {"empty page", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Extract(c.page), c.urls) << c.name;
}

TEST(ExtractImageLinksTest, QueuesAtTheFrontAsImageLinksAndLogsEach) {
  const std::string page =
      "{\"thumbURL\":\"http://img0.x.cn/it/u=1,2&fm=21.jpg\", \"width\":500}\n"
      "{\"thumbURL\":\"http://img1.x.cn/it/u=3,4&fm=21.gif\", \"width\":300}\n"
      "{\"thumbURL\":\"http://img2.x.cn/it/u=5,6&fm=21.bmp\", \"width\":200}\n";
  FakeLinkSink sink;
  EXPECT_EQ(ExtractImageLinks(sink, 4, kPattern, page), 3);
  ASSERT_EQ(sink.added.size(), 3u);
  EXPECT_EQ(sink.added[0].url, "http://img0.x.cn/it/u=1,2&fm=21.jpg");
  for (const auto& link : sink.added) {
    testing::ExpectExtractedLinkArguments(link, "null");
    EXPECT_EQ(link.title, "");
  }
  ASSERT_EQ(sink.logs.size(), 3u);
  EXPECT_EQ(sink.logs[2].thread, 4);
  EXPECT_EQ(sink.logs[2].text, "解析到：http://img2.x.cn/it/u=5,6&fm=21.bmp ...");
  EXPECT_EQ(sink.queue.front(), "http://img2.x.cn/it/u=5,6&fm=21.bmp");  // last found, first served
  EXPECT_EQ(sink.queue.back(), "http://img0.x.cn/it/u=1,2&fm=21.jpg");
}

TEST(ExtractImageLinksTest, SkipsOverlongMatchesAndRefusedEntriesButGoesOn) {
  const std::string longest = "http://a.cn/" + std::string(kMaxLinkBytes - 16, 'x') + ".jpg";
  const std::string tooLong = "http://a.cn/" + std::string(kMaxLinkBytes - 15, 'x') + ".jpg";
  ASSERT_EQ(longest.size(), kMaxLinkBytes);
  FakeLinkSink sink;
  sink.refuseUrl = "http://a.cn/refused.gif";
  EXPECT_EQ(
      ExtractImageLinks(sink, 1, kPattern, tooLong + " http://a.cn/refused.gif " + longest + "\n"),
      1);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{longest}));
  EXPECT_EQ(sink.logs.size(), 1u);
}

TEST(ExtractImageLinksTest, AnEmptyMatchIsSteppedOver) {
  // Not the image pattern, but a pattern that matches empty must not search the same spot
  // for ever; empty matches carry no address and queue nothing.
  FakeLinkSink sink;
  EXPECT_EQ(ExtractImageLinks(sink, 1, "x*", "abxxc"), 1);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{"xx"}));
}

std::vector<std::string> LogTexts(const FakeLinkSink& sink) {
  std::vector<std::string> texts;
  for (const auto& line : sink.logs) texts.push_back(line.text);
  return texts;
}

std::string RunWithoutBlanks(std::size_t bytes) {
  std::string run;
  while (run.size() < bytes) run += "http://x";
  return run;
}

TEST(ExtractImageLinksTest, RunsWithoutBlanksEndWellWithinTheBudget) {
  // Each "http://" of a long run used to send three greedy runs to the end of it and back, a
  // time growing with the square of the run's length (minutes for 1 MB).
  const std::string page = RunWithoutBlanks(512 * 1024) + " http://a.cn/1.jpg " +
                           RunWithoutBlanks(512 * 1024) + "\thttp://b.cn/2.gif\n" +
                           RunWithoutBlanks(4096);
  FakeLinkSink sink;
  EXPECT_EQ(ExtractImageLinks(sink, 1, kPattern, page), 2);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{"http://a.cn/1.jpg", "http://b.cn/2.gif"}));
  EXPECT_EQ(LogTexts(sink), (std::vector<std::string>{"解析到：http://a.cn/1.jpg ...",
                                                      "解析到：http://b.cn/2.gif ..."}));
}

// Not the image pattern: the back-reference keeps the engine's memo out, so the a's make this
// one backtrack exponentially, as a pattern gone wild would.
const std::string kRunaway = "x|(a*)*\\1b";

TEST(ExtractImageLinksTest, AStepBudgetEndsARunawayPageKeepingItsLinks) {
  FakeLinkSink sink;
  EXPECT_EQ(ExtractImageLinks(sink, 2, kRunaway, "x x " + std::string(40, 'a') + " x"), 2);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{"x", "x"}));
  ASSERT_EQ(sink.logs.size(), 3u);
  EXPECT_EQ(sink.logs[2].thread, 2);
  EXPECT_EQ(sink.logs[2].text, "解析步数超出上限，本页解析中止...");
}

TEST(ExtractImageLinksTest, AStoppingTaskEndsTheSearchInsteadOfWaitingForThePage) {
  // The blanks at the end give the page a budget of millions of steps: without the stop
  // question during the search, the runaway part would use it all and end in the budget line.
  const std::string page = "x x " + std::string(40, 'a') + std::string(100 * 1024, ' ');
  FakeLinkSink sink;
  sink.stopAtQuestion = 3;
  EXPECT_EQ(ExtractImageLinks(sink, 1, kRunaway, page), 2);
  EXPECT_EQ(sink.Urls(), (std::vector<std::string>{"x", "x"}));
  EXPECT_EQ(sink.logs.size(), 2u);  // the links only: a stop is no overrun
  EXPECT_LE(sink.stopQuestions, 4);
  // A task that has stopped before the page queues nothing.
  FakeLinkSink stopped;
  stopped.stopped = true;
  EXPECT_EQ(ExtractImageLinks(stopped, 1, kPattern, "http://a.cn/1.jpg http://a.cn/2.jpg"), 0);
  EXPECT_TRUE(stopped.added.empty());
}

}  // namespace
}  // namespace quarry
