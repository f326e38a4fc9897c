#include "engine/search_task.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace quarry {
namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

NewTaskValues Values(std::string keyword, std::string folder) {
  NewTaskValues values;
  values.keyword = std::move(keyword);
  values.folder = std::move(folder);
  return values;
}

TEST(MakeSearchTaskTest, FillsANewWaitingRecordAndNothingElse) {
  NewTaskValues values = Values("abc", "/d/DownData/");
  values.threadCount = 4;
  values.pageCount = 123;
  values.kind = FileKind::Pdf;
  SearchTask task;
  std::memset(&task, 0xAB, sizeof task);
  std::string error;
  ASSERT_TRUE(MakeSearchTask(values, LocalTime(2009, 2, 3, 9, 5, 7), &task, &error)) << error;

  EXPECT_EQ(FieldText(task.createdAt), "2009-02-03 09:05:07");
  EXPECT_EQ(FieldText(task.keyword), "abc");
  EXPECT_EQ(FieldText(task.folder), "/d/DownData/abc/");
  EXPECT_EQ(task.kind, FileKind::Pdf);
  EXPECT_EQ(task.state, TaskState::Waiting);
  EXPECT_EQ(task.threadCount, 4);
  EXPECT_EQ(task.pageCount, 123);
  EXPECT_EQ(task.pagesFetched, 0);
  EXPECT_EQ(task.filesFetched, 0);
  EXPECT_EQ(task.treeItem, 0u);
  EXPECT_EQ(task.runner, 0u);
  // Every byte after a text's NUL is zero, so a saved record carries no stale memory.
  for (std::size_t i = 3; i < kKeywordSize; ++i) ASSERT_EQ(task.keyword[i], 0) << i;
  for (std::size_t i = 16; i < kFolderSize; ++i) ASSERT_EQ(task.folder[i], 0) << i;
  EXPECT_EQ(task.createdAt[19], 0);
}

TEST(MakeSearchTaskTest, AddsTheSeparatorAChosenFolderLacks) {
  SearchTask task;
  ASSERT_TRUE(MakeSearchTask(Values("abc", "/d/DownData"), 0, &task, nullptr));
  EXPECT_EQ(FieldText(task.folder), "/d/DownData/abc/");
}

TEST(MakeSearchTaskTest, LimitsAreInclusive) {
  std::string error;
  SearchTask task;
  // "/" + 257 bytes + "/" is exactly 259 bytes: both fields are full.
  NewTaskValues longest = Values(std::string(257, 'k'), "/");
  longest.threadCount = 6;
  longest.pageCount = 500;
  longest.kind = FileKind::Excel;
  ASSERT_TRUE(MakeSearchTask(longest, 0, &task, &error)) << error;
  EXPECT_EQ(FieldText(task.keyword).size(), 257u);
  EXPECT_EQ(FieldText(task.folder).size(), 259u);

  NewTaskValues smallest = Values("k", "/x/");
  smallest.threadCount = 1;
  smallest.pageCount = 1;
  EXPECT_TRUE(MakeSearchTask(smallest, 0, &task, &error)) << error;
}

TEST(MakeSearchTaskTest, MultiByteKeywordIsStoredWholeOrRefused) {
  SearchTask task;
  std::string error;
  std::string fits = Repeat("中", 85);  // 255 bytes
  ASSERT_TRUE(MakeSearchTask(Values(fits, "/"), 0, &task, &error)) << error;
  EXPECT_EQ(FieldText(task.keyword), fits);
  EXPECT_EQ(FieldText(task.folder), "/" + fits + "/");
  // The widest characters and the last code point are UTF-8 like any other.
  const std::string wide = "\xC2\xA9\xEF\xBF\xBF\xF0\x9F\x8C\xB8\xF4\x8F\xBF\xBF";
  ASSERT_TRUE(MakeSearchTask(Values(wide, "/"), 0, &task, &error)) << error;
  EXPECT_EQ(FieldText(task.keyword), wide);

  // 258 bytes: one character too many is refused rather than cut.
  EXPECT_FALSE(MakeSearchTask(Values(Repeat("中", 86), "/"), 0, &task, &error));
  EXPECT_FALSE(error.empty());
}

TEST(MakeSearchTaskTest, KeywordIsTrimmedOfBlanks) {
  SearchTask task;
  std::string error;
  // Ideographic spaces (U+3000) too; inner blanks and other characters stay.
  ASSERT_TRUE(MakeSearchTask(Values("  \xE3\x80\x80"
                                    "C# a\xC2\xA0"
                                    "b ",
                                    "/d/"),
                             0, &task, &error))
      << error;
  EXPECT_EQ(FieldText(task.keyword),
            "C# a\xC2\xA0"
            "b");
  EXPECT_EQ(FieldText(task.folder),
            "/d/C# a\xC2\xA0"
            "b/");
}

TEST(MakeSearchTaskTest, RefusesWhatCannotBeStoredOrRun) {
  struct Case {
    const char* name;
    NewTaskValues values;
    const char* errorPart;
  };
  auto with = [](NewTaskValues values, auto change) {
    change(values);
    return values;
  };
  const NewTaskValues good = Values("abc", "/d/");
  const Case cases[] = {
      {"empty keyword", Values("", "/d/"), "关键词不能为空!"},
      {"keyword of 258 bytes", Values(std::string(258, 'k'), "/"), "257"},
      {"keyword with a slash", Values("a/b", "/d/"), "/"},
      {"keyword that climbs out", Values("..", "/d/"), ".."},
      {"keyword that is the folder itself", Values(".", "/d/"), "."},
      {"keyword with a NUL", Values(std::string("a\0b", 3), "/d/"), "控制字符"},
      {"blanks only", Values(" \xE3\x80\x80  ", "/d/"), "关键词不能为空!"},
      {"newline", Values("a\nb", "/d/"), "控制字符"},
      {"tab at the start", Values("\tab", "/d/"), "控制字符"},
      {"0x01", Values("a\x01", "/d/"), "控制字符"},
      {"DEL", Values("a\x7F", "/d/"), "控制字符"},
      {"C1 control", Values("a\xC2\x85", "/d/"), "控制字符"},
      {"GBK bytes", Values("\xBB\xA8", "/d/"), "UTF-8"},
      {"stray continuation byte", Values("a\x80", "/d/"), "UTF-8"},
      {"character cut short", Values("a\xE4\xB8", "/d/"), "UTF-8"},
      {"lead without continuation", Values("\xE4 a", "/d/"), "UTF-8"},
      {"overlong slash", Values("\xC0\xAF", "/d/"), "UTF-8"},
      {"overlong three bytes", Values("\xE0\x80\xAF", "/d/"), "UTF-8"},
      {"surrogate half", Values("\xED\xA0\x80", "/d/"), "UTF-8"},
      {"past U+10FFFF", Values("\xF4\x90\x80\x80", "/d/"), "UTF-8"},
      {"byte 0xFF", Values("a\xFF", "/d/"), "UTF-8"},
      {"empty folder", Values("abc", ""), "文件夹"},
      {"folder of 260 bytes", Values("abc", "/" + std::string(254, 'f') + "/"), "259"},
      {"no threads", with(good, [](auto& v) { v.threadCount = 0; }), "线程"},
      {"seven threads", with(good, [](auto& v) { v.threadCount = 7; }), "线程"},
      {"no pages", with(good, [](auto& v) { v.pageCount = 0; }), "页数"},
      {"501 pages", with(good, [](auto& v) { v.pageCount = 501; }), "页数"},
      {"unknown kind", with(good, [](auto& v) { v.kind = static_cast<FileKind>(5); }), "类型"},
  };
  for (const Case& c : cases) {
    SearchTask task;
    std::memset(&task, 0x5A, sizeof task);
    SearchTask before = task;
    std::string error;
    EXPECT_FALSE(MakeSearchTask(c.values, 0, &task, &error)) << c.name;
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(std::memcmp(&task, &before, sizeof task), 0) << c.name << " touched the record";
  }
}

TEST(FieldTextTest, ReadsUpToTheNulOrTheFieldEndWithoutCuttingACharacter) {
  struct Case {
    const char* name;
    std::string bytes;  // the whole field
    std::string expected;
  };
  const std::string zhong = "中";  // E4 B8 AD
  const std::string emoji = "\xF0\x9F\x98\x80";
  const Case cases[] = {
      {"terminated", std::string("ab\0zz", 5), "ab"},
      {"empty", std::string(5, '\0'), ""},
      {"full ASCII, no NUL", "abcde", "abcde"},
      {"ends with a whole character", "ab" + zhong, "ab" + zhong},
      {"ends one byte into a character", "abcd" + zhong.substr(0, 1), "abcd"},
      {"ends two bytes into a character", "abc" + zhong.substr(0, 2), "abc"},
      {"ends three bytes into a four-byte one", "ab" + emoji.substr(0, 3), "ab"},
      {"ends with a whole four-byte one", "a" + emoji, "a" + emoji},
      {"stray continuation bytes kept", "a\x80\x80\x80\x80", "a\x80\x80\x80\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FieldText(c.bytes.data(), c.bytes.size()), c.expected) << c.name;
  }
}

TEST(FieldTextTest, SetFieldTextFitsOrLeavesTheFieldAlone) {
  char field[6];
  std::memset(field, 'x', sizeof field);
  EXPECT_FALSE(SetFieldText(field, sizeof field, "abcdef"));  // no room for the NUL
  EXPECT_FALSE(SetFieldText(field, sizeof field, std::string_view("a\0b", 3)));
  EXPECT_EQ(std::string(field, sizeof field), "xxxxxx");
  ASSERT_TRUE(SetFieldText(field, sizeof field, "abcde"));
  EXPECT_EQ(std::string(field, sizeof field), std::string("abcde\0", 6));
  ASSERT_TRUE(SetFieldText(field, sizeof field, "ab"));
  EXPECT_EQ(std::string(field, sizeof field), std::string("ab\0\0\0\0", 6));
}

TEST(RunnableCountsTest, ClampOnlyForRunning) {
  struct Case {
    std::int32_t read;
    int threads;
    int pages;
  };
  const Case cases[] = {
      {INT_MIN, 1, 1}, {-3, 1, 1},    {0, 1, 1},     {1, 1, 1},         {6, 6, 6},
      {7, 6, 7},       {500, 6, 500}, {501, 6, 500}, {INT_MAX, 6, 500},
  };
  for (const Case& c : cases) {
    SearchTask task{};
    task.threadCount = c.read;
    task.pageCount = c.read;
    EXPECT_EQ(RunnableThreadCount(task), c.threads) << c.read;
    EXPECT_EQ(RunnablePageCount(task), c.pages) << c.read;
    EXPECT_EQ(task.threadCount, c.read);  // the record keeps what was read
  }
}

}  // namespace
}  // namespace quarry
