// Head readers and file naming over literal heads: header matching at line starts only, value
// bounds, whole values, attachment names, status codes, names and extensions from paths, length
// values.
#include "http/response_head.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quarry {
namespace {

// The reader is a view: `text` must outlive it.
ResponseHead HeadOf(const std::string& text) {
  return ResponseHead(text.data(), static_cast<int>(text.size()));
}

struct FieldCase {
  const char* label;
  std::string head;
  const char* name;
  int size;
  HeaderRead result;
  std::string value;
};

TEST(ResponseHeadTest, HeaderFieldFindsNamesOnlyAtLineStartsBeforeAColon) {
  const std::string base = "HTTP/1.1 200 OK\r\n";
  const FieldCase cases[] = {
      {"charset cut at semicolon", base + "Content-Type: text/html; charset=utf-8\r\n\r\n",
       "Content-Type", 30, HeaderRead::Copied, " text/html"},
      {"longer name first is skipped",
       base + "X-Content-Type-Options: nosniff\r\nContent-Type: text/html\r\n\r\n", "Content-Type",
       30, HeaderRead::Copied, " text/html"},
      {"only the longer name", base + "X-Content-Type-Options: nosniff\r\n\r\n", "Content-Type", 30,
       HeaderRead::Absent, ""},
      {"any case", base + "content-LENGTH:5\r\n\r\n", "Content-Length", 40, HeaderRead::Copied,
       "5"},
      {"name inside a value", base + "X-Note: Content-Length: 7\r\n\r\n", "Content-Length", 40,
       HeaderRead::Absent, ""},
      {"name needs the colon right after", base + "Content-Lengthy: 3\r\n\r\n", "Content-Length",
       40, HeaderRead::Absent, ""},
      {"blank after colon kept", base + "Last-Modified: Tue, 01 Dec 2026\r\n\r\n", "Last-Modified",
       40, HeaderRead::Copied, " Tue, 01 Dec 2026"},
      {"value at end of text", base + "Server:x", "Server", 40, HeaderRead::Copied, "x"},
      {"value exactly fits", base + "Server: abcd\r\n\r\n", "Server", 6, HeaderRead::Copied,
       " abcd"},
      {"value does not fit", base + "Server: abcde\r\n\r\n", "Server", 6, HeaderRead::TooLong,
       " abcd"},
      {"no split inside a character", base + "Server: ab\xC3\xA9\r\n\r\n", "Server", 5,
       HeaderRead::TooLong, " ab"},
      {"empty name", base + "Server: a\r\n\r\n", "", 10, HeaderRead::Absent, ""},
  };
  for (const FieldCase& c : cases) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    ResponseHead head = HeadOf(c.head);
    int next = -1;
    EXPECT_EQ(head.HeaderField(c.name, buffer, c.size, 0, &next), c.result) << c.label;
    if (c.result == HeaderRead::Copied) {
      ASSERT_GE(next, static_cast<int>(c.value.size())) << c.label;
      EXPECT_EQ(c.head.substr(next - c.value.size(), c.value.size()), c.value) << c.label;
    } else {
      EXPECT_EQ(next, -1) << c.label;
    }
    EXPECT_EQ(std::string(buffer), c.value) << c.label;
    EXPECT_EQ(buffer[c.size], 'x') << c.label << ": wrote past the buffer";
  }
}

TEST(ResponseHeadTest, HeaderFieldSearchesFromAnOffsetAndHeaderLineKeepsTheWholeLine) {
  std::string text = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n";
  ResponseHead head = HeadOf(text);
  char buffer[40];
  int first = 0;
  EXPECT_EQ(head.HeaderField("Set-Cookie", buffer, sizeof buffer, 0, &first), HeaderRead::Copied);
  EXPECT_STREQ(buffer, " a=1");
  int second = 0;
  EXPECT_EQ(head.HeaderField("Set-Cookie", buffer, sizeof buffer, first, &second),
            HeaderRead::Copied);
  EXPECT_GT(second, first);
  EXPECT_STREQ(buffer, " b=2");
  EXPECT_EQ(head.HeaderField("Set-Cookie", buffer, sizeof buffer, second), HeaderRead::Absent);
  EXPECT_EQ(head.HeaderLine("Set-Cookie", buffer, sizeof buffer), HeaderRead::Copied);
  EXPECT_STREQ(buffer, " a=1; path=/");

  ResponseHead none;
  EXPECT_EQ(none.HeaderField("Set-Cookie", buffer, sizeof buffer, 0), HeaderRead::Absent);
  EXPECT_EQ(none.HeaderLine("Set-Cookie", buffer, sizeof buffer), HeaderRead::Absent);
  EXPECT_EQ(none.StatusCode(), -1);
  EXPECT_STREQ(buffer, "");
}

TEST(ResponseHeadTest, ValuesAreWholeLinesWithoutTheBlanksAround) {
  const std::string text =
      "HTTP/1.1 200 OK\r\nlocation:  /a b \r\nX-Location: no\r\nContent-Type: text/html\r\n\r\n";
  const ResponseHead head = HeadOf(text);
  EXPECT_EQ(head.Value("Location"), "/a b");
  EXPECT_EQ(head.Value("content-type"), "text/html");
  EXPECT_EQ(head.Value("Set-Cookie"), "");
  EXPECT_EQ(ResponseHead().Value("Location"), "");
}

TEST(ResponseHeadTest, DispositionNames) {
  struct Case {
    const char* label;
    std::string header;
    bool read;
    std::string name;
  } cases[] = {
      {"quoted", "Content-Disposition: attachment; filename=\"a.doc\"", true, "a.doc"},
      {"single quotes", "Content-Disposition: attachment; filename='b.pdf'", true, "b.pdf"},
      {"unquoted runs to the end without equals signs",
       "Content-Disposition: attachment; filename=a.doc; size=10", true, "a.doc; size10"},
      {"any case", "content-disposition: Attachment; FileName=\"c.xls\"", true, "c.xls"},
      {"inline", "Content-Disposition: inline; filename=\"a.doc\"", false, ""},
      {"no filename", "Content-Disposition: attachment", false, ""},
      {"filename before attachment", "Content-Disposition: filename=a.doc; attachment", false, ""},
      {"name of 255 bytes", "Content-Disposition: attachment; filename=" + std::string(255, 'n'),
       false, ""},
      {"no header", "Content-Type: text/plain", false, ""},
  };
  for (const Case& c : cases) {
    std::string text = "HTTP/1.1 200 OK\r\n" + c.header + "\r\n\r\n";
    char buffer[kNameSize];
    EXPECT_EQ(HeadOf(text).DispositionName(buffer, 256), c.read) << c.label;
    if (c.read) {
      EXPECT_EQ(std::string(buffer), c.name) << c.label;
    }
  }
}

TEST(ResponseHeadTest, StatusCodes) {
  struct Case {
    std::string head;
    int code;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\n", 200},
      {"HTTP/1.1 404\r\n\r\n", 404},
      {"HTTP/1.0 302 Found\r\nLocation: /\r\n\r\n", 302},
      {"HTTP/1.1 20x OK\r\n\r\n", 20},
      {"HTTP/1.1 OK\r\n\r\n", 0},
      {"garbage\r\n\r\n", 0},
      {"HTTP/1.1 99999999999999999999 OK\r\n\r\n", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(HeadOf(c.head).StatusCode(), c.code) << c.head;
}

TEST(ResponseHeadTest, ReadLineWalksTheHeadAndRewinds) {
  const std::string text = "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n";
  ResponseHead head = HeadOf(text);
  char buffer[8];
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), 7);  // bounded, zero-terminated
  EXPECT_STREQ(buffer, "HTTP/1.");
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), 7);
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "K\r\n");
  EXPECT_EQ(head.StatusCode(), 200);  // reads the first line whatever the reader's position
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "A: 1\r\n");
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), 2);
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), -1);
  EXPECT_EQ(head.ReadLine(buffer, sizeof buffer), 7);  // rewound to the start
}

TEST(ResponseHeadTest, NamesAndExtensionsFromPaths) {
  struct Case {
    std::string path;
    bool named;
    std::string name;
    std::string extension;
  } cases[] = {
      {"/docs/report.doc", true, "report.doc", ".doc"},
      {"/docs/report", true, "report", "html"},
      {"/docs/", false, "", "html"},
      {"/a", false, "", "html"},
      {"/files.old/readme", true, "readme", "html"},
      {"C:\\files\\sheet.xls", true, "sheet.xls", ".xls"},
      {"/x/a." + std::string(18, 'e'), true, "a." + std::string(18, 'e'),
       "." + std::string(18, 'e')},
      {"/x/a." + std::string(19, 'e'), false, "", "html"},
      {"/" + std::string(300, 'd') + "/file.pdf", true, "file.pdf", ".pdf"},
      {"/x/" + std::string(260, 'n'), false, "", "html"},
      {"/x/" + std::string(256, 'n') + ".pdf", false, "", ".pdf"},
      {"", false, "", "html"},
  };
  for (const Case& c : cases) {
    char name[kNameSize] = "untouched";
    char extension[kExtensionSize] = "html";
    EXPECT_EQ(NameFromText(c.path, name, extension), c.named) << c.path;
    EXPECT_EQ(std::string(extension), c.extension) << c.path;
    if (c.named) {
      EXPECT_EQ(std::string(name), c.name) << c.path;
    } else {
      EXPECT_STREQ(name, "untouched") << c.path;
    }
  }

  char name[kNameSize] = "/a/b/slides.ppt";
  char extension[kExtensionSize] = "html";
  EXPECT_TRUE(NameFromPath(name, extension));
  EXPECT_STREQ(name, "slides.ppt");
  EXPECT_STREQ(extension, ".ppt");
}

TEST(ResponseHeadTest, LengthValues) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"5", 5},
      {" 50000", 50000},
      {" 7 \t", 7},
      {"0", 0},
      {" 0", 0},
      {"000", 0},
      {"", -1},
      {"  ", -1},
      {"abc", -1},
      {"12abc", -1},
      {"-5", -1},
      {"+5", -1},
      {"2147483647", 2147483647},
      {"2147483648", -1},
      {"99999999999999999999", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(LengthValue(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace quarry
