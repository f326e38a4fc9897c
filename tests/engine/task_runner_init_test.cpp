#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/classic_road.h"
#include "engine/task_runner.h"
#include "harvest/search_pages.h"
#include "platform/files.h"
#include "records/record_store.h"
#include "tests/support/failing_file_io.h"
#include "tests/support/task_views.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using testing::RecordingInfoView;

const std::string kWebBase = "http://www.baidu.com/s?";
const std::string kImageBase =
    "http://image.baidu.com/i?tn=baiduimage&ct=201326592&cl=2&lm=-1&pv=&z=3&word=";

class TaskRunnerInitTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(m_folder.Path().empty());
    m_dir = m_folder.Path();
  }

  SearchTask MakeTask(FileKind kind, const std::string& keyword, int pages, int threads = 3) {
    NewTaskValues values;
    values.keyword = keyword;
    values.folder = m_dir;
    values.kind = kind;
    values.pageCount = pages;
    values.threadCount = threads;
    SearchTask task{};
    std::string error;
    EXPECT_TRUE(MakeSearchTask(values, std::time(nullptr), &task, &error)) << error;
    return task;
  }

  // The bases and the pattern of the real hosts.
  static SearchHosts DefaultHosts() {
    SearchHosts hosts;
    MakeSearchHosts("", "", &hosts, nullptr);
    return hosts;
  }

  // Seeds a runner and returns every address queued, in service order.
  static std::vector<TakenUrl> Seed(TaskRunner& runner, SearchTask& task) {
    const SearchHosts hosts = DefaultHosts();
    const std::string& base =
        task.kind == FileKind::Image ? hosts.imageSearchBase : hosts.webSearchBase;
    runner.Init(&task, base.c_str(), hosts.imageLinkPattern.c_str());
    std::vector<TakenUrl> queued;
    TakenUrl taken{};
    while (runner.Queue().Take(1, &taken)) queued.push_back(taken);
    return queued;
  }

  static std::vector<std::string> Urls(const std::vector<TakenUrl>& queued) {
    std::vector<std::string> urls;
    for (const TakenUrl& entry : queued) urls.push_back(entry.url);
    return urls;
  }

  testing::TempFolder m_folder;
  std::string m_dir;
};

TEST_F(TaskRunnerInitTest, QueuesTheFirstPageThenTheNumberedPagesInOrder) {
  const std::string chinese = "\xe4\xb8\xad\xe6\x96\x87";  // two Chinese characters
  struct Case {
    FileKind kind;
    std::string keyword;
    int pages;
    std::vector<std::string> expected;
  } cases[] = {
      {FileKind::Word,
       "abc",
       2,
       {kWebBase + "q1=filetype:doc%20abc", kWebBase + "q1=filetype:doc%20abc&pn=10",
        kWebBase + "q1=filetype:doc%20abc&pn=20"}},
      {FileKind::Image, "abc", 1, {kImageBase + "abc&z=0", kImageBase + "abc&rn=21&pn=18&ln=2000"}},
      {FileKind::Slides,
       "x",
       1,
       {kWebBase + "q1=filetype:ppt%20x", kWebBase + "q1=filetype:ppt%20x&pn=10"}},
      {FileKind::Pdf,
       "x",
       1,
       {kWebBase + "q1=filetype:pdf%20x", kWebBase + "q1=filetype:pdf%20x&pn=10"}},
      {FileKind::Excel,
       "x",
       1,
       {kWebBase + "q1=filetype:xls%20x", kWebBase + "q1=filetype:xls%20x&pn=10"}},
      // The keyword is percent-encoded, UTF-8 bytes included, so that the service receives
      // exactly the keyword: "#" would cut the address, "&" and "=" would add fields.
      {FileKind::Pdf,
       "a b" + chinese,
       1,
       {kWebBase + "q1=filetype:pdf%20a%20b%E4%B8%AD%E6%96%87",
        kWebBase + "q1=filetype:pdf%20a%20b%E4%B8%AD%E6%96%87&pn=10"}},
      {FileKind::Image,
       "C#",
       1,
       {kImageBase + "C%23&z=0", kImageBase + "C%23&rn=21&pn=18&ln=2000"}},
      {FileKind::Word,
       "AT&T",
       1,
       {kWebBase + "q1=filetype:doc%20AT%26T", kWebBase + "q1=filetype:doc%20AT%26T&pn=10"}},
      {FileKind::Pdf,
       "a%20b&pn=5+c",
       1,
       {kWebBase + "q1=filetype:pdf%20a%2520b%26pn%3D5%2Bc",
        kWebBase + "q1=filetype:pdf%20a%2520b%26pn%3D5%2Bc&pn=10"}},
      {FileKind::Excel,
       "Az09-._~",
       1,
       {kWebBase + "q1=filetype:xls%20Az09-._~", kWebBase + "q1=filetype:xls%20Az09-._~&pn=10"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.front());
    SearchTask task = MakeTask(c.kind, c.keyword, c.pages);
    TaskRunner runner;
    const std::vector<TakenUrl> queued = Seed(runner, task);
    EXPECT_EQ(Urls(queued), c.expected);
    for (const TakenUrl& entry : queued) {
      EXPECT_TRUE(entry.isSearchPage);
      EXPECT_STREQ(entry.title, "");
      EXPECT_STREQ(entry.source, "");
    }
    fs::remove_all(m_dir + c.keyword);
  }
}

TEST_F(TaskRunnerInitTest, FiveHundredPagesGiveFiveHundredAndOneEntries) {
  struct Case {
    FileKind kind;
    std::string lastTail;
  } cases[] = {{FileKind::Word, "&pn=5000"}, {FileKind::Image, "&pn=9000&ln=2000"}};
  for (const Case& c : cases) {
    SearchTask task = MakeTask(c.kind, "abc", 500);
    TaskRunner runner;
    const std::vector<std::string> urls = Urls(Seed(runner, task));
    ASSERT_EQ(urls.size(), 501u);
    const std::string& last = urls.back();
    EXPECT_EQ(last.substr(last.size() - c.lastTail.size()), c.lastTail);
  }
}

TEST_F(TaskRunnerInitTest, PageCountsFromAFileAreBounded) {
  struct Case {
    std::int32_t pageCount;
    std::size_t queued;
  } cases[] = {{0, 2}, {-3, 2}, {100000, 501}};
  for (const Case& c : cases) {
    SearchTask task = MakeTask(FileKind::Word, "abc", 1);
    task.pageCount = c.pageCount;
    TaskRunner runner;
    EXPECT_EQ(Seed(runner, task).size(), c.queued) << c.pageCount;
  }
}

TEST_F(TaskRunnerInitTest, BindsTheRunnerAndPreparesTheFolder) {
  SearchTask task = MakeTask(FileKind::Image, "cats", 1, 6);
  task.threadCount = 40;  // as a damaged task file might hold
  TaskRunner runner;
  EXPECT_TRUE(runner.IsStopped());
  auto road = std::make_unique<ClassicRoad>();
  const ClassicRoad& classic = *road;
  runner.SetRoad(std::move(road));
  Seed(runner, task);
  EXPECT_EQ(runner.Task(), &task);
  EXPECT_EQ(runner.Mode(), SearchMode::Classic);
  EXPECT_EQ(std::string(runner.Folder()), m_dir + "cats/");
  EXPECT_EQ(classic.LinkPattern(), DefaultHosts().imageLinkPattern);
  EXPECT_EQ(runner.ThreadCount(), 6);
  EXPECT_EQ(runner.MinFileKb(), 2);
  EXPECT_TRUE(runner.IsStopped());                          // Init does not start anything
  EXPECT_TRUE(static_cast<LinkSink&>(runner).IsStopped());  // what the link extractors ask
  EXPECT_TRUE(fs::is_directory(m_dir + "cats"));
  EXPECT_TRUE(fs::exists(m_dir + "cats/db.sqlite"));
}

TEST_F(TaskRunnerInitTest, ATaskThatCouldSaveNothingDoesNotStart) {
  std::ofstream(m_dir + "plain") << "a file";
  testing::FailingFileIo io;
  // More cases, and the databases that cannot be used, are in the end-to-end test.
  struct Case {
    const char* name;
    std::string downloadFolder;  // where the task folder is made
    std::string keyword;
    int openError;  // injected into creating files: root may write anywhere
    std::vector<std::string> reasonParts;
  } cases[] = {
      {"download folder missing",
       m_dir + "missing/",
       "abc",
       0,
       {"无法创建任务文件夹 " + m_dir + "missing/abc/", std::strerror(ENOENT)}},
      {"task folder is a file", m_dir, "plain", 0, {"无法创建任务文件夹", std::strerror(ENOTDIR)}},
      {"task folder takes no file",
       m_dir,
       "locked",
       EACCES,
       {"任务文件夹 " + m_dir + "locked/ 不能写入", std::strerror(EACCES)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewTaskValues values;
    values.keyword = c.keyword;
    values.folder = c.downloadFolder;
    values.pageCount = 3;
    SearchTask task{};
    std::string error;
    ASSERT_TRUE(MakeSearchTask(values, std::time(nullptr), &task, &error)) << error;
    io.openError = c.openError;
    TaskRunner runner;
    runner.SetFileIo(&io);
    RecordingInfoView view;
    runner.AttachViews(&view, nullptr);
    EXPECT_FALSE(runner.Init(&task, kWebBase.c_str(), "p"));
    const std::string fault = runner.Fault();
    for (const std::string& part : c.reasonParts) {
      EXPECT_NE(fault.find(part), std::string::npos) << fault;
    }
    ASSERT_EQ(view.Lines().size(), 1u);
    EXPECT_EQ(view.Lines()[0], std::make_pair(1, fault));
    EXPECT_TRUE(runner.Queue().IsDrained());
    EXPECT_EQ(runner.Task(), nullptr);
    EXPECT_FALSE(runner.Start());
    runner.AttachViews(nullptr, nullptr);
  }
  // Nothing was made where it did not belong.
  EXPECT_FALSE(fs::exists(m_dir + "missing"));
  EXPECT_FALSE(fs::exists(m_dir + "locked/db.sqlite"));
  EXPECT_FALSE(fs::exists(m_dir + "locked/.quarry-write-probe"));
}

TEST_F(TaskRunnerInitTest, ASecondInitOfTheSameFolderKeepsItsRecords) {
  SearchTask task = MakeTask(FileKind::Pdf, "abc", 1);
  {
    TaskRunner runner;
    Seed(runner, task);
  }
  ASSERT_TRUE(
      RecordStore::AddRecord(m_dir + "abc/", m_dir + "abc/01000000-a.pdf", "http://h/a.pdf", "A"));
  TaskRunner again;
  EXPECT_EQ(Seed(again, task).size(), 2u);  // the seen set starts empty again
  RecordPage page;
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_dir + "abc/", 1, page));
  EXPECT_EQ(page.count, 1);
}

TEST_F(TaskRunnerInitTest, ANullTaskDoesNothing) {
  TaskRunner runner;
  EXPECT_FALSE(runner.Init(nullptr, kWebBase.c_str(), "p"));
  EXPECT_EQ(runner.Task(), nullptr);
  EXPECT_TRUE(runner.Queue().IsDrained());
}

TEST_F(TaskRunnerInitTest, QueueTroubleReachesTheLogOfTheCallingThread) {
  SearchTask task = MakeTask(FileKind::Word, "abc", 1);
  TaskRunner runner;
  Seed(runner, task);
  RecordingInfoView view;
  runner.AttachViews(&view, nullptr);
  fs::remove_all(m_dir + "abc");  // spill files can no longer be written
  for (int i = 0; i <= 5000; ++i) {
    const std::string url = "http://h/" + std::to_string(i);
    runner.Queue().Add(4, QueueEnd::Back, {.url = url, .source = "null"});
  }
  runner.AttachViews(nullptr, nullptr);
  const auto lines = view.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, 4);
  EXPECT_EQ(lines[0].second, "AddTail error");
  EXPECT_EQ(runner.Queue().InMemory(), 5001);
}

// Spill files left by a crash go when a run starts alone in the folder. Beside another run (here
// a lock the test holds, as another process's run would) they stay, and this run's own spill
// files take its process number; they go with its queue.
TEST_F(TaskRunnerInitTest, StraySpillFilesGoOnlyWhenNoOtherRunHoldsTheFolder) {
  SearchTask task = MakeTask(FileKind::Word, "abc", 1);
  {
    TaskRunner first;
    Seed(first, task);
  }
  const std::string folder = m_dir + "abc/";
  const std::string record(sizeof(UrlNode), 'r');
  const std::vector<std::string> strays = {"0", "12-3"};
  const std::vector<std::string> others = {"7", "0.txt", "x-1"};  // not a spill file's name or size
  for (const std::string& name : strays) std::ofstream(folder + name) << record << record;
  std::ofstream(folder + "7") << "seven";
  std::ofstream(folder + "0.txt") << record;
  std::ofstream(folder + "x-1") << record;
  {
    FileDescriptor otherRun(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(otherRun.IsOpen());
    ASSERT_EQ(::flock(otherRun.Get(), LOCK_SH), 0);
    TaskRunner beside;
    Seed(beside, task);
    for (const std::string& name : strays) EXPECT_TRUE(fs::exists(folder + name)) << name;
    for (int i = 0; i <= UrlQueue::kDefaultMaxInMemory; ++i) {
      beside.Queue().Add(1, QueueEnd::Back,
                         {.url = "http://h/" + std::to_string(i), .source = "null"});
    }
    const std::string ownSpill = folder + std::to_string(::getpid()) + "-0";
    EXPECT_EQ(beside.Queue().PendingSpillFiles(), 1u);
    EXPECT_TRUE(fs::exists(ownSpill));
    EXPECT_EQ(fs::file_size(folder + "0"), 2 * sizeof(UrlNode));  // the other run's, untouched
  }
  EXPECT_FALSE(fs::exists(folder + std::to_string(::getpid()) + "-0"));  // gone with its queue
  TaskRunner alone;
  Seed(alone, task);
  for (const std::string& name : strays) EXPECT_FALSE(fs::exists(folder + name)) << name;
  for (const std::string& name : others) EXPECT_TRUE(fs::exists(folder + name)) << name;
}

}  // namespace
}  // namespace quarry
