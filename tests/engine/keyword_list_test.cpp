#include "engine/keyword_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

std::vector<std::string> Keywords(const std::vector<KeywordLine>& lines) {
  std::vector<std::string> out;
  for (const KeywordLine& line : lines)
    out.push_back(std::to_string(line.number) + ":" + line.keyword);
  return out;
}

TEST(KeywordListTest, SplitsLinesAndSkipsBlanksAndFileComments) {
  struct Case {
    std::string text;
    KeywordSource source;
    std::vector<std::string> expected;  // "line:keyword"
  };
  const Case cases[] = {
      {"", KeywordSource::Box, {}},
      {"one", KeywordSource::Box, {"1:one"}},
      {"one\ntwo\n", KeywordSource::Box, {"1:one", "2:two"}},
      // Windows line ends, a byte-order mark, blank lines of every kind of blank.
      {"\xEF\xBB\xBF"
       "a\r\n\r\n  \n\t\n\xE3\x80\x80\nb",
       KeywordSource::File,
       {"1:a", "6:b"}},
      // Comments only in files; a '#' later in the line is part of the keyword.
      {"# list\nc#\n#x\n", KeywordSource::File, {"2:c#"}},
      {"# list\nc#\n", KeywordSource::Box, {"1:# list", "2:c#"}},
      // Blanks around a keyword stay for MakeSearchTask to trim.
      {" 花 \n", KeywordSource::Box, {"1: 花 "}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Keywords(KeywordLines(c.text, c.source)), c.expected) << c.text;
  }
}

TEST(KeywordListTest, MakesOneTaskPerLineOrNoneAtTheFirstBadLine) {
  NewTaskValues common;
  common.folder = "/d/";
  common.kind = FileKind::Pdf;
  common.pageCount = 7;
  std::vector<SearchTask> tasks;
  std::string error;
  ASSERT_TRUE(
      MakeSearchTasks(common, KeywordLines("a\n b \n", KeywordSource::Box), 0, &tasks, &error));
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(FieldText(tasks[0].folder), "/d/a/");
  EXPECT_EQ(FieldText(tasks[1].keyword), "b");
  EXPECT_EQ(tasks[1].kind, FileKind::Pdf);
  EXPECT_EQ(tasks[1].pageCount, 7);

  struct Bad {
    std::string text;
    std::string error;
  };
  const Bad bad[] = {
      {"ok\n\nx/y\n", "line 3: "},
      {"ok\n\xFF\n", "line 2: "},
      {"ok\nb\tc\n", "line 2: "},
      {"ok\n" + std::string(300, 'k'), "line 2: "},
      {"#only a comment\n\n", "no keyword"},
  };
  for (const Bad& b : bad) {
    error.clear();
    EXPECT_FALSE(
        MakeSearchTasks(common, KeywordLines(b.text, KeywordSource::File), 0, &tasks, &error));
    EXPECT_EQ(error.rfind(b.error, 0), 0u) << error;
    EXPECT_EQ(tasks.size(), 2u) << "nothing added for " << b.text;
  }
}

TEST(KeywordListTest, DropsTwinsOfUnfinishedTasksAndRepeatsWithinTheList) {
  NewTaskValues common;
  common.folder = "/d/";
  std::vector<SearchTask> existing;
  ASSERT_TRUE(MakeSearchTasks(common, KeywordLines("waits\nended\n", KeywordSource::Box), 0,
                              &existing, nullptr));
  existing[1].state = TaskState::Ended;
  std::vector<SearchTask> asked;
  ASSERT_TRUE(MakeSearchTasks(common, KeywordLines("new\nwaits\nended\nnew\n", KeywordSource::Box),
                              0, &asked, nullptr));
  common.kind = FileKind::Word;  // another kind is another harvest
  ASSERT_TRUE(
      MakeSearchTasks(common, KeywordLines("waits", KeywordSource::Box), 0, &asked, nullptr));
  EXPECT_EQ(DropUnfinishedTwins(&asked, existing), (std::vector<std::string>{"waits", "new"}));
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(FieldText(asked[0].keyword), "new");
  EXPECT_EQ(FieldText(asked[1].keyword), "ended");
  EXPECT_EQ(asked[2].kind, FileKind::Word);
}

TEST(KeywordListTest, ReadsAFileOrSaysWhyNot) {
  testing::TempFolder folder;
  const std::string path = folder.Path() + "keywords.txt";
  std::ofstream(path) << "# flowers\nrose\n\ntulip\n";
  std::vector<KeywordLine> lines;
  std::string error;
  ASSERT_TRUE(ReadKeywordFile(path, &lines, &error)) << error;
  EXPECT_EQ(Keywords(lines), (std::vector<std::string>{"2:rose", "4:tulip"}));
  EXPECT_FALSE(ReadKeywordFile(folder.Path() + "missing.txt", &lines, &error));
  EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
  EXPECT_FALSE(ReadKeywordFile(folder.Path(), &lines, &error));
}

}  // namespace
}  // namespace quarry
