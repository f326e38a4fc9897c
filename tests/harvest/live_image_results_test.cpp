// The image endpoint's answers: obfuscated addresses, the lenient JSON, the picture chosen per
// item, refusals, malformed answers and the paging rule.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harvest/live_image_results.h"
#include "harvest/live_search.h"

namespace quarry {
namespace {

TEST(LiveImageResultsTest, DecodeObjUrl) {
  struct Case {
    const char* encoded;
    const char* plain;
  };
  const Case cases[] = {
      {"ippr_z2C$qAzdH3FAzdH3F", "http://"},
      {"ipprf_z2C$qAzdH3FAzdH3Ft42_z&e3Bjxw4rsj_z&e3Bv54AzdH3F7rs5w1AzdH3Fdad9AzdH3FabAzdH3Fus5oj6-"
       "8"
       "_z&e3B3r2",
       "https://img.example.com/upload/2024/08/flower-1.jpg"},
      // Capitals, x y z and punctuation pass unchanged; "AAzdH3F" is a kept A and a slash.
      {"ippr_z2C$qAzdH3FAzdH3Frtv_z&e3Bjxw4rsj_z&e3Bvg_z2C$qbabaAzdH3Fri5p5fAzdH3FAAzdH3Fxyz_l_z&"
       "e3Brg2?o=m9a&i=9ba",
       "http://pic.example.cn:8080/photos/A/xyz_9.png?w=640&h=480"},
      {"wkv1ju2it3hs4g5rq6fp7eo8dn9cm0bla", "abcdefghijklmnopqrstuvw1234567890"},
      {"_z2C$_z&e3AzdH3", "_zgC$_z&vjAz2Hj"},  // cut tokens are text, mapped as any
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeObjUrl(c.encoded), c.plain) << c.encoded;
}

TEST(LiveImageResultsTest, CleanLenientJson) {
  struct Case {
    std::string text;
    std::string clean;
  };
  const Case cases[] = {
      {R"({"a":"b\"c\\d\/e\n\u00e9\ud83d\ude00","n":[1,2.5e3,true,null]})",
       R"({"a":"b\"c\\d\/e\n\u00e9\ud83d\ude00","n":[1,2.5e3,true,null]})"},
      {R"({"t":"it\'s \x41"})", R"({"t":"it's x41"})"},
      {"{\"t\":\"a\tb\nc\x01\"}", R"({"t":"a\u0009b\u000ac\u0001"})"},
      {"{\"t\":\"\xB9\xFA\xC4\xDA \xE4\xB8\"}",
       "{\"t\":\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\"}"},
      {"{\"t\":\"\xE8\x8A\xB1 \xF0\x9F\x98\x80\"}", "{\"t\":\"\xE8\x8A\xB1 \xF0\x9F\x98\x80\"}"},
      {R"({"t":"\ud83d!","u":"\ude00"})", R"({"t":"\uFFFD!","u":"\uFFFD"})"},
      {R"({"data":[{"a":1,},{},],})", R"({"data":[{"a":1},{}]})"},
      {"{\"s\":\"a, ]\" , \"b\":[1 ,\n ]}", "{\"s\":\"a, ]\" , \"b\":[1 ]}"},
      {"\xEF\xBB\xBF{}", "{}"},
      {R"({"t":"end\)", R"({"t":"end)"},
  };
  for (const Case& c : cases) EXPECT_EQ(CleanLenientJson(c.text), c.clean) << c.text;
}

// An answer in the shape the image service sends today: every way of naming the picture, an
// apostrophe escaped as \', a title with tags, counts as strings, and empty items at the end.
const char kImageAnswer[] = R"({"queryEnc":"%E8%8A%B1","queryExt":"花","listNum":1987,
"displayNum":73519,"gsm":"1e","bdFmtDispNum":"约73,500","bdSearchTime":"","isNeedAsyncRequest":0,
"bdIsClustered":"1","data":[
{"adType":"0","hasAspData":"0","thumbURL":"https://img0.example.com/it/u=1,2&fm=253",
 "middleURL":"https://img0.example.com/it/u=1,2&fm=253&w=300","hoverURL":"https://img0.example.com/h1",
 "objURL":"ipprf_z2C$qAzdH3FAzdH3Ft42_z&e3Bjxw4rsj_z&e3Bv54AzdH3F7rs5w1AzdH3Fdad9AzdH3FabAzdH3Fus5oj6-8_z&e3B3r2",
 "fromURL":"ippr_z2C$qAzdH3FAzdH3Fooo_z&e3Bjxw4rsj_z&e3B562AzdH3F2wssj6yAzdH3Frw2j-0_z&e3Bip4s",
 "replaceUrl":[{"ObjURL":"https://img.example.com/upload/2024/08/flower-1.jpg",
   "FromURL":"http://www.example.org/gallery/page-7.html"}],
 "width":1024,"height":"768","type":"jpg","fromPageTitle":"<strong>花</strong>的图片 Tom\'s garden",
 "fromPageTitleEnc":"花的图片"},
{"thumbURL":"https://img1.example.com/t2","replaceUrl":[{"ObjUrl":"http://b.example.net/2.png",
 "FromUrl":"http://b.example.net/"}],"objURL":"garbage","type":"png","fromPageTitle":"  two  "},
{"thumbURL":"https://img1.example.com/t3","replaceUrl":[],
 "objURL":"ippr_z2C$qAzdH3FAzdH3Frtv_z&e3Bjxw4rsj_z&e3Bvg_z2C$qbabaAzdH3Fri5p5fAzdH3FAAzdH3Fxyz_l_z&e3Brg2?o=m9a&i=9ba",
 "fromURL":"not an address","width":-5,"height":2.5e9},
{"thumbURL":"https://img1.example.com/t4","middleURL":"https://img1.example.com/m4",
 "replaceUrl":[{"ObjURL":"ftp://x/4.jpg"}],"fromPageTitle":"<b>four"},
{"thumbURL":"https://img1.example.com/t5","replaceUrl":"not a list","objURL":42,"middleURL":"/rel.jpg"},
{"middleURL":"https://img1.example.com/no-thumb.jpg"},
{"thumbURL":"","middleURL":"https://img1.example.com/empty-thumb.jpg"},
{},{}]})";

TEST(LiveImageResultsTest, RecordedAnswer) {
  const LiveImagePage page = ParseLiveImagePage(kImageAnswer);
  ASSERT_EQ(page.status, LiveImagePageStatus::Ok) << page.problem;
  EXPECT_EQ(page.listNum, 1987);
  EXPECT_EQ(page.thumbItems, 5);
  EXPECT_EQ(page.unusableItems, 1);  // the fifth: nothing it names is an absolute address
  ASSERT_EQ(page.items.size(), 4u);
  struct Expected {
    const char* url;
    LiveImageSource source;
    const char* title;
    const char* pageUrl;
    const char* type;
    int width, height;
  };
  const Expected expected[] = {
      {"https://img.example.com/upload/2024/08/flower-1.jpg", LiveImageSource::ReplaceUrl,
       "花的图片 Tom's garden", "http://www.example.org/gallery/page-7.html", "jpg", 1024, 768},
      {"http://b.example.net/2.png", LiveImageSource::ReplaceUrl, "two", "http://b.example.net/",
       "png", 0, 0},
      {"http://pic.example.cn:8080/photos/A/xyz_9.png?w=640&h=480", LiveImageSource::ObjUrl, "", "",
       "", 0, 0},
      {"https://img1.example.com/m4", LiveImageSource::MiddleUrl, "four", "", "", 0, 0},
  };
  for (std::size_t i = 0; i < page.items.size(); ++i) {
    const LiveImageItem& item = page.items[i];
    EXPECT_EQ(item.url, expected[i].url) << i;
    EXPECT_EQ(item.source, expected[i].source) << i;
    EXPECT_EQ(item.title, expected[i].title) << i;
    EXPECT_EQ(item.pageUrl, expected[i].pageUrl) << i;
    EXPECT_EQ(item.type, expected[i].type) << i;
    EXPECT_EQ(item.width, expected[i].width) << i;
    EXPECT_EQ(item.height, expected[i].height) << i;
  }
  EXPECT_TRUE(LiveImagePagingGoesOn(page, 0));
}

TEST(LiveImageResultsTest, RefusedAndMalformedAnswers) {
  struct Case {
    std::string body;
    LiveImagePageStatus status;
    const char* problem;  // a part of the reason given
    int thumbItems;
  };
  using S = LiveImagePageStatus;
  const Case cases[] = {
      {R"({"antiFlag":1,"message":"Forbid spider access","bfe_log_id":"8613251707934405376"})",
       S::Refused, "Forbid spider access", 0},
      {R"({"antiFlag":"1"})", S::Refused, "refused", 0},
      {R"({"antiFlag":0,"listNum":0,"data":[]})", S::Ok, "", 0},
      {R"({"listNum":"30","data":[{},{}]})", S::Ok, "", 0},
      {R"({"data":[{"thumbURL":"https://t/1"}]})", S::Ok, "", 1},  // missing fields: unusable
      {"", S::Malformed, "empty", 0},
      {" \r\n", S::Malformed, "empty", 0},
      {"<!DOCTYPE html><html><title>百度安全验证</title></html>", S::Malformed, "not JSON", 0},
      {R"({"listNum":30,"data":[{"thumbURL":"https://t/1"})", S::Malformed, "not JSON", 0},
      {R"([{"thumbURL":"https://t/1"}])", S::Malformed, "not a JSON object", 0},
      {R"({"listNum":30})", S::Malformed, "no data", 0},
      {R"({"data":{"thumbURL":"https://t/1"}})", S::Malformed, "not a list", 0},
      {R"({"listNum":1e999,"data":[]})", S::Malformed, "not JSON", 0},
      {std::string(600000, '[') + std::string(600000, ']'), S::Malformed, "not a JSON object", 0},
      {"{\"data\":[],\"pad\":\"" + std::string(kMaxLiveImageAnswerBytes, 'x') + "\"}", S::Malformed,
       "larger than", 0},
  };
  for (const Case& c : cases) {
    const LiveImagePage page = ParseLiveImagePage(c.body);
    const std::string shown = c.body.substr(0, 60);
    EXPECT_EQ(page.status, c.status) << shown;
    EXPECT_NE(page.problem.find(c.problem), std::string::npos) << shown << ": " << page.problem;
    EXPECT_EQ(page.thumbItems, c.thumbItems) << shown;
    EXPECT_TRUE(page.items.empty()) << shown;
    EXPECT_EQ(LiveImagePagingGoesOn(page, 0), c.thumbItems > 0) << shown;
  }
}

TEST(LiveImageResultsTest, PagingStopsAtListNumTheCapOrAnEmptyPage) {
  LiveImagePage page;
  page.status = LiveImagePageStatus::Ok;
  page.thumbItems = 30;
  struct Case {
    std::int64_t listNum;
    int pn;
    bool goesOn;
  };
  const Case cases[] = {{-1, 0, true},      {-1, 960, true},    {-1, 990, false},
                        {100, 60, true},    {100, 70, false},   {90, 60, false},
                        {91, 60, true},     {5000, 990, false}, {5000, -30, false},
                        {5000, 1020, false}};
  for (const Case& c : cases) {
    page.listNum = c.listNum;
    EXPECT_EQ(LiveImagePagingGoesOn(page, c.pn), c.goesOn) << c.listNum << " " << c.pn;
  }
  page.listNum = -1;
  page.thumbItems = 0;
  EXPECT_FALSE(LiveImagePagingGoesOn(page, 0));
  page.thumbItems = 1;
  page.status = LiveImagePageStatus::Refused;
  EXPECT_FALSE(LiveImagePagingGoesOn(page, 0));
}

}  // namespace
}  // namespace quarry
