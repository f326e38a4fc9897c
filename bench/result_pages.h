// Result pages for the benchmarks, written the way the search engine serves them: an image
// result page (a style sheet and scripts, a data block with one minified JSON record per line,
// the thumbnail list with its attributes, the pager) and a web result page for a file-type
// query (ten results among the page's navigation, related searches and scripts). The text is
// generated from a fixed seed, so every run measures the same bytes.
#pragma once

#include <cstdint>
#include <string>

namespace quarry::bench {

class PageWriter {
public:
  explicit PageWriter(std::uint32_t seed) : m_state(seed) {}

  std::uint32_t Next() {
    m_state = m_state * 1664525u + 1013904223u;
    return m_state >> 8;
  }
  std::string Number(std::uint32_t below) { return std::to_string(Next() % below); }
  std::string Word() {
    static const char* const kWords[] = {"news",   "photo", "blog",  "forum",     "upload", "pic",
                                         "attach", "2009",  "files", "userfiles", "image",  "data"};
    return kWords[Next() % 12];
  }
  std::string Site() {
    static const char* const kSites[] = {"sina.com.cn", "163.com",   "qq.com",     "sohu.com",
                                         "ifeng.com",   "tianya.cn", "douban.com", "people.com.cn"};
    return kSites[Next() % 8];
  }
  std::string Title() {
    static const char* const kTitles[] = {"可爱的小猫图片", "猫咪壁纸 高清", "家里的猫",
                                          "萌宠 猫 写真",   "猫的图片大全",  "黑猫 白猫"};
    return kTitles[Next() % 6];
  }

private:
  std::uint32_t m_state;
};

inline const char* const kImageHost = "image.baidu.com";

inline void AppendScriptFiller(std::string& page, PageWriter& w, int lines) {
  for (int i = 0; i < lines; ++i) {
    page += "    function f" + w.Number(100000) + "(e, t) { var n = this.conf.pn + " +
            w.Number(60) +
            "; if (n > t.length) { return e.call(this, t[n % t.length], 'http://img" +
            w.Number(10) + ".bdstatic.com/static/common/" + w.Word() + ".js'); } }\n";
  }
}

// About `targetBytes` of an image search result page for the keyword 猫.
inline std::string ImageResultPage(std::size_t targetBytes = 300 * 1024) {
  PageWriter w(12345);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
      "charset=utf-8\">\n<title>猫_百度图片搜索</title>\n<style type=\"text/css\">\n";
  for (int i = 0; i < 120; ++i) {
    page += ".imgitem" + w.Number(1000) + " { float: left; margin: 0 " + w.Number(20) +
            "px 10px 0; background: url(http://img.baidu.com/img/bg" + w.Number(9) +
            ".png) no-repeat; }\n";
  }
  page += "</style>\n<script type=\"text/javascript\">\n";
  AppendScriptFiller(page, w, 150);
  page += "var imgData = {\"queryEnc\":\"%E7%8C%AB\",\"displayNum\":4712635,\"data\":[\n";
  int record = 0;
  std::string list = "<div id=\"imgid\"><ul class=\"imglist\">\n";
  while (page.size() + list.size() < targetBytes) {
    const std::string id = w.Number(90000000);
    static const char* const kExtensions[] = {"jpg", "jpg", "jpg", "gif", "png", "bmp", "jpeg"};
    const std::string ext = kExtensions[w.Next() % 7];
    const std::string object = "http://www." + w.Site() + "/" + w.Word() + "/20" + w.Number(10) +
                               "0" + w.Number(9) + "/" + id + "." + ext;
    const std::string thumb = "http://t" + w.Number(3) +
                              ".baidu.com/it/u=" + w.Number(4000000000u) + "," +
                              w.Number(4000000000u) + "&fm=0&gp=0.jpg";
    const std::string from =
        "http://" + w.Word() + "." + w.Site() + "/" + w.Word() + "/" + id + ".html";
    page += "{\"thumbURL\":\"" + thumb + "\",\"middleURL\":\"" + thumb + "\",\"objURL\":\"" +
            object + "\",\"fromURL\":\"" + from + "\",\"width\":" + w.Number(1600) +
            ",\"height\":" + w.Number(1200) + ",\"type\":\"" + ext + "\",\"fromPageTitle\":\"" +
            w.Title() + "\",\"di\":\"" + w.Number(100000000) + "\",\"is\":\"0,0\"},\n";
    list += "<li class=\"imgitem\" data-objurl=\"" + object + "\" data-width=\"" + w.Number(1600) +
            "\"><a href=\"/i?ct=503316480&z=&tn=baiduimagedetail&word=%E7%8C%AB"
            "&pn=" +
            std::to_string(record) + "\" target=\"_blank\"><img src=\"" + thumb +
            "\" width=\"156\" height=\"117\" alt=\"" + w.Title() + "\"></a><div class=\"title\">" +
            w.Title() + "</div><div class=\"from\">" + from + "</div></li>\n";
    ++record;
  }
  page +=
      "{}]};\n</script>\n</head>\n<body>\n<div id=\"head\"><form action=\"/i\" name=\"f1\">"
      "<input name=\"word\" value=\"猫\" size=\"42\"></form></div>\n";
  page += list + "</ul></div>\n<div id=\"page\">\n";
  for (int p = 1; p <= 10; ++p) {
    page += "<a href=\"http://" + std::string(kImageHost) +
            "/i?z=0&cl=2&ct=201326592&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage&word=%E7%8C%AB"
            "&pn=" +
            std::to_string(18 * p) + "\">" + std::to_string(p + 1) + "</a>\n";
  }
  page += "</div>\n<script>\n";
  AppendScriptFiller(page, w, 40);
  page += "</script>\n</body></html>\n";
  return page;
}

// A web result page for "filetype:doc 年度报告": ten results, six of them Word documents.
inline std::string DocumentResultPage() {
  PageWriter w(777);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>filetype:doc 年度报告_百度搜索"
      "</title>\n<style>\n";
  for (int i = 0; i < 200; ++i) {
    page += ".c-container" + w.Number(1000) + " { width: " + w.Number(600) +
            "px; font-size: 13px; line-height: 1.54; word-wrap: break-word; }\n";
  }
  page += "</style>\n<script>\n";
  AppendScriptFiller(page, w, 120);
  page +=
      "</script></head>\n<body>\n<div id=\"u\"><a href=\"http://www.baidu.com/gaoji/"
      "preferences.html\" name=\"tj_setting\">搜索设置</a> | <a href=\"https://passport.baidu"
      ".com/v2/?login\" name=\"tj_login\">登录</a></div>\n<div id=\"content_left\">\n";
  for (int r = 1; r <= 10; ++r) {
    const bool word = r % 3 != 0 && r < 9;
    const std::string site = w.Site();
    const std::string href =
        word ? "http://www." + site + "/" + w.Word() + "/UploadFiles/" + w.Number(100000) +
                   (r % 2 ? ".doc" : ".DOC")
             : "http://www.baidu.com/link?url=" + w.Number(4000000000u) + w.Number(4000000000u);
    page += "<div class=\"result c-container\" id=\"" + std::to_string(r) +
            "\"><h3 class=\"t\"><a data-click=\"{'F':'778317EA','F1':'9D73F1E4','T':'" +
            w.Number(1000000) + "'}\" href=\"" + href +
            "\" target=\"_blank\"><em>年度报告</em>"
            " 20" +
            w.Number(10) + " " + w.Title() +
            "</a></h3><div class=\"c-abstract\">"
            "<span class=\" newTimeFactor_before_abs m\">2011-5-" +
            w.Number(28) +
            "&nbsp;-&nbsp;</span>本公司<em>年度报告</em>全文及摘要...第一节 重要提示 本公司董事会、"
            "监事会及董事、监事、高级管理人员保证本报告所载资料不存在任何虚假记载...</div><div "
            "class=\"f13\"><span class=\"g\">www." +
            site + "/" + w.Word() +
            "/&nbsp;</span> - "
            "<a href=\"http://cache.baiducontent.com/c?m=" +
            w.Number(4000000000u) + "\" target=\"_blank\" class=\"m\">百度快照</a></div></div>\n";
  }
  page += "</div>\n<div id=\"rs\"><table><tr>";
  for (int i = 0; i < 9; ++i) {
    page += "<th><a href=\"/s?wd=%E5%B9%B4%E5%BA%A6%E6%8A%A5%E5%91%8A" + w.Number(100) +
            "&rsp=" + std::to_string(i) + "\">年度报告" + w.Title() + "</a></th>";
  }
  page += "</tr></table></div>\n<p id=\"page\">";
  for (int p = 1; p <= 10; ++p) {
    page += "<a href=\"/s?wd=filetype%3Adoc%20%E5%B9%B4%E5%BA%A6%E6%8A%A5%E5%91%8A&pn=" +
            std::to_string(10 * p) + "\"><span class=\"pc\">" + std::to_string(p + 1) +
            "</span></a>";
  }
  page += "</p>\n<script>\n";
  AppendScriptFiller(page, w, 60);
  page += "</script>\n</body></html>\n";
  return page;
}

}  // namespace quarry::bench
