// The runner's threads against the local search service: whole harvests saved byte for byte,
// a second run that fetches only what the records lack, a full disk, the size limit, text
// files taken as pages, a stop in the middle of a download, the thread slots, and a host that
// cannot be resolved.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/task_runner.h"
#include "harvest/search_pages.h"
#include "platform/files.h"
#include "records/file_facts.h"
#include "records/record_store.h"
#include "tests/engine/harvest_fixture.h"
#include "tests/support/failing_file_io.h"

namespace quarry {
namespace {

using namespace std::chrono_literals;
using testing::FinishedQueue;
using testing::HttpGet;
using testing::ReadFile;
using testing::RecordingInfoView;
using testing::RecordingResultView;
using testing::SearchServiceProcess;
using testing::TargetOf;
using testing::TempFolder;

constexpr RunnerTiming kFastTiming{5, 10, 5, 5};

constexpr HttpTimeouts kShortTimeouts{3000, 3000, 3000, 3000};  // connect, send, head, body

std::vector<Record> AllRecords(const std::string& folder) {
  std::vector<Record> rows;
  for (int page = 1;; ++page) {
    RecordPage result;
    if (!RecordStore::ReadRecordPage(folder, page, result) || result.page != page) break;
    rows.insert(rows.end(), result.records.begin(), result.records.end());
    if (page >= result.pageCount) break;
  }
  return rows;
}

std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& line,
                    std::size_t from = 0) {
  auto found = std::find(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end(), line);
  return static_cast<std::size_t>(found - lines.begin());
}

// One runner bound to a task of a fresh home (or of `homePath`), with recording views attached
// from the start.
class RunnerRig {
public:
  RunnerRig(FileKind kind, const std::string& keyword, int threads, int pages,
            const std::string& base, const std::string& pattern, std::string homePath = "",
            FileIo* disk = nullptr, bool retry = false) {
    if (homePath.empty()) homePath = home.Path();
    std::filesystem::create_directories(homePath + "DownData");
    NewTaskValues values;
    values.keyword = keyword;
    values.folder = homePath + "DownData/";
    values.kind = kind;
    values.threadCount = threads;
    values.pageCount = pages;
    std::string error;
    EXPECT_TRUE(MakeSearchTask(values, std::time(nullptr), &task, &error)) << error;
    runner.SetFileIo(disk);
    runner.SetRetry(retry);
    runner.Init(&task, base.c_str(), pattern.c_str());
    runner.SetTiming(kFastTiming);
    runner.SetHttpTimeouts(kShortTimeouts);
    runner.AttachViews(&info, &result);
    runner.SetFinishedSink(&finished);
  }
  ~RunnerRig() { runner.WaitForThreads(30000); }

  std::string Folder() const { return FieldText(task.folder); }

  // Starts the runner and waits for the report of its end.
  bool RunToEnd(std::chrono::milliseconds timeout = 60s) {
    if (!runner.Start()) return false;
    return finished.Wait(timeout) == &task && runner.WaitForThreads(10000);
  }

  TempFolder home;
  SearchTask task{};
  RecordingInfoView info;
  RecordingResultView result;
  FinishedQueue finished;
  TaskRunner runner;
};

class TaskRunnerThreadsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    s_service = new SearchServiceProcess;
    ASSERT_TRUE(s_service->Start({"--results", "30"}));
  }
  static void TearDownTestSuite() {
    delete s_service;
    s_service = nullptr;
  }
  static std::string Host() { return s_service->Host(); }
  // A web-search base whose result pages are missing: only the addresses a test queues count.
  static std::string EmptyBase() { return "http://" + Host() + "/none?"; }
  static std::vector<std::string> Listed(const std::string& query) {
    std::string body;
    EXPECT_EQ(HttpGet(s_service->Port(), "/list?" + query, &body), 200);
    std::vector<std::string> urls;
    std::size_t start = 0;
    for (std::size_t end; (end = body.find('\n', start)) != std::string::npos; start = end + 1) {
      urls.push_back(body.substr(start, end - start));
    }
    return urls;
  }

  static SearchServiceProcess* s_service;
};

SearchServiceProcess* TaskRunnerThreadsTest::s_service = nullptr;

TEST_F(TaskRunnerThreadsTest, WholeHarvestsAreSavedByteForByteAndRecorded) {
  struct Case {
    FileKind kind;
    const char* kindName;
    int pages;
    int threads;
    int expectedPages;  // result pages fetched, through the seeding and through links
    bool wakesOnly;     // the waits' limits are far off: only wake-ups move the threads on
  };
  const Case cases[] = {
      // Images: pn=0 and pn=18 seeded; page 0 links to pn=18 again, which is not asked twice.
      {FileKind::Image, "image", 1, 3, 2, false},
      {FileKind::Pdf, "pdf", 1, 2, 2, false},
      {FileKind::Word, "doc", 2, 6, 3, true},
  };
  SearchHosts hosts;
  std::string error;
  ASSERT_TRUE(MakeSearchHosts(Host(), Host(), &hosts, &error)) << error;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kindName);
    const std::string& base =
        c.kind == FileKind::Image ? hosts.imageSearchBase : hosts.webSearchBase;
    RunnerRig rig(c.kind, "abc", c.threads, c.pages, base, hosts.imageLinkPattern);
    if (c.wakesOnly) rig.runner.SetTiming({3600000, 3600000, 3600000, 5});
    ASSERT_TRUE(rig.RunToEnd());

    std::vector<std::string> expected =
        Listed(std::string("kind=") + c.kindName + "&word=abc&pages=" + std::to_string(c.pages));
    ASSERT_FALSE(expected.empty());
    std::vector<Record> rows = AllRecords(rig.Folder());
    std::vector<std::string> urls;
    std::int64_t bytes = 0;
    for (const Record& row : rows) {
      urls.push_back(row.url);
      bytes += static_cast<std::int64_t>(ReadFile(row.fileName).size());
      std::string served;
      ASSERT_EQ(HttpGet(s_service->Port(), TargetOf(row.url), &served), 200) << row.url;
      EXPECT_EQ(ReadFile(row.fileName), served) << row.fileName;
      EXPECT_EQ(row.fileName.rfind(rig.Folder(), 0), 0u) << row.fileName;
      if (c.kind == FileKind::Image) {
        EXPECT_EQ(row.title, "");
      } else {
        EXPECT_EQ(row.title.rfind(std::string("abc ") + c.kindName + " ", 0), 0u) << row.title;
      }
    }
    std::sort(urls.begin(), urls.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(urls, expected);
    EXPECT_EQ(rig.result.Added().size(), rows.size());
    SearchTask copy = rig.runner.TaskCopy();
    EXPECT_EQ(copy.filesFetched, static_cast<int>(expected.size()));
    EXPECT_EQ(copy.pagesFetched, c.expectedPages);
    EXPECT_EQ(rig.runner.Files(), copy.filesFetched);
    EXPECT_EQ(rig.runner.Pages(), copy.pagesFetched);
    // The progress counts the task's own result pages apart from the pages fetched.
    const TaskProgress progress = rig.runner.Progress();
    EXPECT_EQ(progress.resultPagesTotal, c.pages + 1);
    EXPECT_EQ(progress.resultPagesDone, c.pages + 1);
    EXPECT_EQ(progress.resultPageReading, c.pages + 1);
    EXPECT_EQ(progress.saved, static_cast<int>(expected.size()));
    EXPECT_GE(progress.linksFound, progress.Handled());
    EXPECT_EQ(progress.bytesReceived, bytes);
    // Every saved file lies in the task folder under "DDHHMMSS-name".
    for (const Record& row : rows) {
      std::string name = row.fileName.substr(rig.Folder().size());
      ASSERT_GT(name.size(), 9u);
      EXPECT_EQ(name[8], '-') << name;
      EXPECT_TRUE(std::all_of(name.begin(), name.begin() + 8, ::isdigit)) << name;
    }
  }
}

TEST_F(TaskRunnerThreadsTest, ARunAgainFetchesOnlyWhatItsRecordsLack) {
  SearchHosts hosts;
  std::string error;
  ASSERT_TRUE(MakeSearchHosts(Host(), Host(), &hosts, &error)) << error;
  TempFolder home;
  std::string folder;
  std::vector<std::string> firstUrls;
  {
    RunnerRig first(FileKind::Pdf, "abc", 2, 1, hosts.webSearchBase, "", home.Path());
    ASSERT_TRUE(first.RunToEnd());
    folder = first.Folder();
    for (const Record& row : AllRecords(folder)) firstUrls.push_back(row.url);
  }
  ASSERT_FALSE(firstUrls.empty());
  // A crash cut a download short; a whole file whose own name ends in ".part" is recorded; and
  // another task in this folder is receiving a file (its ".part" is open and locked).
  std::ofstream(folder + "07123456-cut.pdf.part") << "half";
  const std::string kept = folder + "07123456-kept.part";
  std::ofstream(kept) << "whole";
  ASSERT_TRUE(RecordStore::AddRecord(folder, kept, "http://elsewhere/kept.part", ""));
  const std::string growing = folder + "07123456-growing.doc.part";
  std::ofstream(growing) << "growing";
  FileDescriptor receiving(::open(growing.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(receiving.IsOpen() && LockAlone(receiving.Get()));

  RunnerRig again(FileKind::Pdf, "abc", 2, 3, hosts.webSearchBase, "", home.Path());
  EXPECT_FALSE(std::filesystem::exists(folder + "07123456-cut.pdf.part"));
  EXPECT_EQ(ReadFile(kept), "whole");
  EXPECT_EQ(ReadFile(growing), "growing");
  ASSERT_TRUE(again.RunToEnd());
  std::vector<std::string> urls;
  for (const Record& row : AllRecords(folder)) {
    if (row.fileName != kept) urls.push_back(row.url);
  }
  std::vector<std::string> expected = Listed("kind=pdf&word=abc&pages=3");
  std::sort(urls.begin(), urls.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(urls, expected);  // each address once
  for (const std::string& url : firstUrls) {
    EXPECT_TRUE(again.info.HasLine("跳过重复的文件：" + url + " ...")) << url;
    EXPECT_FALSE(again.info.HasLine("请求下载：" + url)) << url;  // no connection for it
  }
  EXPECT_EQ(again.runner.Files(), static_cast<int>(expected.size() - firstUrls.size()));

  // A database that cannot be read is not taken for an empty one: the task does not start,
  // rather than fetch everything again into files it could not record.
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("db.sqlite", 0) == 0)
      std::filesystem::remove(entry.path());
  }
  std::ofstream(folder + "db.sqlite") << "no database";
  RunnerRig unreadable(FileKind::Pdf, "abc", 2, 1, hosts.webSearchBase, "", home.Path());
  EXPECT_FALSE(unreadable.runner.Start());
  EXPECT_NE(unreadable.runner.Fault().find("not a database"), std::string::npos);
}

// Lines of the whole log, in order.
std::vector<std::string> AllLines(RecordingInfoView& info) {
  std::vector<std::string> lines;
  for (auto& [thread, text] : info.Lines()) lines.push_back(text);
  return lines;
}

std::size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<std::size_t>(std::count_if(
      lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; }));
}

// The files of a task folder besides its database.
std::vector<std::string> SavedFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("db.sqlite", 0) != 0) files.push_back(entry.path().string());
  }
  return files;
}

TEST_F(TaskRunnerThreadsTest, AFullDiskStopsTheTaskAndLeavesNoEmptyFile) {
  SearchHosts hosts;
  std::string error;
  ASSERT_TRUE(MakeSearchHosts(Host(), Host(), &hosts, &error)) << error;
  testing::FailingFileIo disk;
  // The folder check and about two documents fit; then the disk is full.
  disk.writeBudget = 4096 + 10000;
  disk.writeError = ENOSPC;
  const std::vector<std::string> listed = Listed("kind=pdf&word=abc&pages=2");
  ASSERT_GT(listed.size(), 12u);
  RunnerRig rig(FileKind::Pdf, "abc", 3, 2, hosts.webSearchBase, "", "", &disk);
  ASSERT_TRUE(rig.RunToEnd());  // by itself

  const std::string fault = rig.runner.Fault();
  EXPECT_NE(fault.find("磁盘已满"), std::string::npos) << fault;
  EXPECT_NE(fault.find(std::strerror(ENOSPC)), std::string::npos) << fault;
  const std::vector<std::string> lines = AllLines(rig.info);
  // Each file that met the full disk ends with the reason, never as finished, and the fault
  // is on the log.
  const std::string failed = "文件写入失败：";
  const std::size_t first = std::find_if(lines.begin(), lines.end(),
                                         [&](const auto& l) { return l.rfind(failed, 0) == 0; }) -
                            lines.begin();
  ASSERT_LT(first + 1, lines.size());
  EXPECT_NE(lines[first].find(std::strerror(ENOSPC)), std::string::npos) << lines[first];
  for (int thread = 1; thread <= 3; ++thread) {
    const std::vector<std::string> own = rig.info.LinesOf(thread);
    for (std::size_t i = 0; i + 1 < own.size(); ++i) {
      if (own[i].rfind(failed, 0) == 0) {
        EXPECT_NE(own[i + 1], "文件下载完成...");
      }
    }
  }
  EXPECT_TRUE(rig.info.HasLine(fault + "，任务已自动停止......"));
  // It stopped instead of walking through the rest of its links.
  EXPECT_LE(CountStartingWith(lines, "开始下载文件："), 2 + 3 + 3u);
  // What is on disk is whole and recorded; nothing empty or cut short is left.
  const RunOutcome outcome = rig.runner.Outcome();
  const std::vector<Record> rows = AllRecords(rig.Folder());
  const std::vector<std::string> files = SavedFiles(rig.Folder());
  EXPECT_EQ(files.size(), rows.size());
  EXPECT_EQ(outcome.saved, static_cast<int>(rows.size()));
  EXPECT_EQ(outcome.recorded, outcome.saved);
  for (const Record& row : rows) {
    std::string served;
    ASSERT_EQ(HttpGet(s_service->Port(), TargetOf(row.url), &served), 200);
    EXPECT_EQ(ReadFile(row.fileName), served);
  }
}

TEST_F(TaskRunnerThreadsTest, SizeLimitAndTextFilesTakenAsPages) {
  RunnerRig rig(FileKind::Pdf, "abc", 1, 1, EmptyBase(), "");
  const std::string prefix = "http://" + Host();
  const std::string short1999 = prefix + "/size/1999/short.pdf";
  const std::string long2000 = prefix + "/size/2000/long.pdf";
  const std::string text = prefix + "/txt/pdf/abc/list.TXT";
  // Queued in front of the two seeded result pages, taken in this order.
  rig.runner.Queue().Add(1, QueueEnd::Front, {.url = text});
  rig.runner.Queue().Add(1, QueueEnd::Front, {.url = long2000, .title = "two thousand"});
  rig.runner.Queue().Add(1, QueueEnd::Front, {.url = short1999});
  ASSERT_TRUE(rig.RunToEnd());

  std::vector<std::string> lines = rig.info.LinesOf(1);
  std::size_t at = IndexOf(lines, "请求下载：" + short1999);
  ASSERT_LT(at + 4, lines.size());
  EXPECT_EQ(lines[at + 1], "请求信息头：" + short1999);
  EXPECT_EQ(lines[at + 2], "请求信息头成功...");
  EXPECT_EQ(lines[at + 3], "未保存（太小：1999 字节，小于 2000 字节）：" + short1999);
  EXPECT_EQ(lines[at + 4], "请求下载：" + long2000);
  EXPECT_LT(IndexOf(lines, "开始下载文件：" + long2000 + " ..."), lines.size());
  EXPECT_LT(IndexOf(lines, "开始下载网页：" + text + " ..."), lines.size());
  EXPECT_LT(IndexOf(lines, "开始解析连接..."), lines.size());

  std::vector<Record> rows = AllRecords(rig.Folder());
  std::vector<std::string> fromText = Listed("kind=pdf&word=abc&pages=0");
  ASSERT_EQ(rows.size(), 1 + fromText.size());
  EXPECT_EQ(rows[0].url, long2000);
  EXPECT_EQ(rows[0].title, "two thousand");
  EXPECT_EQ(std::filesystem::file_size(rows[0].fileName), 2000u);
  SearchTask copy = rig.runner.TaskCopy();
  EXPECT_EQ(copy.filesFetched, static_cast<int>(rows.size()));
  EXPECT_EQ(copy.pagesFetched, 1);  // the text file; the missing result pages never got past HEAD
  EXPECT_TRUE(rig.info.HasLine("请求信息头失败..."));
}

TEST_F(TaskRunnerThreadsTest, StopDuringAFileDownloadEndsAfterTheIteration) {
  RunnerRig rig(FileKind::Pdf, "abc", 1, 1, EmptyBase(), "");
  const std::string slow = "http://" + Host() + "/slow/400000/20/big.pdf";
  rig.runner.Queue().Add(1, QueueEnd::Front, {.url = slow});
  bool finishedLineBeforeReport = false;
  rig.finished.onPost = [&](SearchTask*) {
    finishedLineBeforeReport = rig.info.HasLine("连接已关闭......");
  };
  ASSERT_TRUE(rig.runner.Start());
  ASSERT_TRUE(testing::WaitFor(
      [&] {
        for (const std::string& line : rig.info.LinesOf(1)) {
          if (line.rfind("接收到 ", 0) == 0) return true;
        }
        return false;
      },
      20s));
  auto stopped = std::chrono::steady_clock::now();
  rig.runner.Stop();
  ASSERT_EQ(rig.finished.Wait(20s), &rig.task);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 5s);
  EXPECT_TRUE(finishedLineBeforeReport);
  EXPECT_EQ(rig.runner.TaskCopy().filesFetched, 1);  // an interrupted file still counts
  EXPECT_TRUE(AllRecords(rig.Folder()).empty());     // but is not recorded
  for (const auto& entry : std::filesystem::directory_iterator(rig.Folder())) {
    // Nor kept: neither its final name nor its ".part" stays beside the database.
    EXPECT_EQ(entry.path().filename().string().rfind("db.sqlite", 0), 0u) << entry.path();
  }
  EXPECT_TRUE(rig.runner.WaitForThreads(10000));
}

TEST_F(TaskRunnerThreadsTest, ThreeThreadsUseSlotsOneToThreeAndStartOnce) {
  SearchHosts hosts;
  std::string error;
  ASSERT_TRUE(MakeSearchHosts(Host(), Host(), &hosts, &error));
  RunnerRig rig(FileKind::Excel, "abc", 3, 3, hosts.webSearchBase, "");
  ASSERT_TRUE(rig.RunToEnd());
  for (int slot = 0; slot < TaskRunner::kThreadSlots; ++slot) {
    EXPECT_EQ(rig.runner.SlotUsed(slot), slot <= 3) << slot;
  }
  for (auto& [thread, text] : rig.info.Lines()) {
    EXPECT_TRUE(thread >= 1 && thread <= 3) << thread << " " << text;
  }
  EXPECT_FALSE(rig.runner.Start());  // a runner never runs twice
}

TEST(TaskRunnerUnreachableTest, AHostThatCannotBeResolvedEndsTheTaskWithinASecond) {
  // The real sleeps: this is the one test that runs with them.
  const RunnerTiming real;
  EXPECT_EQ(real.idleMs, 100);
  EXPECT_EQ(real.monitorMs, 200);
  EXPECT_EQ(real.settleMs, 100);
  EXPECT_EQ(real.stopMs, 100);
  const std::string base = "http://no-such-host.invalid/s?";
  RunnerRig rig(FileKind::Word, "abc", 2, 1, base, "");
  rig.runner.SetTiming(real);
  auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(rig.runner.Start());
  ASSERT_EQ(rig.finished.Wait(10s), &rig.task);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
  const std::string first = base + "q1=filetype:doc%20abc";
  std::vector<std::string> lines;
  for (auto& [thread, text] : rig.info.Lines()) lines.push_back(text);
  std::size_t at = IndexOf(lines, "请求下载：" + first);
  ASSERT_LT(at, lines.size());
  EXPECT_LT(IndexOf(lines, "解析 " + first + " IP地址失败...", at), lines.size());
  EXPECT_EQ(rig.runner.TaskCopy().pagesFetched, 0);
}

// Fifty addresses on a host that does not resolve, and one on a refusing port: the dead host
// is looked up for three addresses, told once and then skipped.
TEST(TaskRunnerUnreachableTest, AHostFailingForThreeAddressesIsGivenUpWithOneLine) {
  RunnerRig rig(FileKind::Pdf, "abc", 2, 1, "http://no-such-host.invalid/s?", "");
  for (int i = 0; i < 50; ++i) {
    const std::string url = "http://dead.invalid/" + std::to_string(i) + ".pdf";
    rig.runner.Queue().Add(1, QueueEnd::Back, {.url = url});
  }
  ASSERT_TRUE(rig.RunToEnd());
  int lookups = 0;
  int givenUp = 0;
  for (const auto& [thread, text] : rig.info.Lines()) {
    lookups += text.rfind("解析 http://dead.invalid/", 0) == 0;
    givenUp += text.rfind("主机 dead.invalid 已有 3 个地址无法连接", 0) == 0;
  }
  // The second worker may have begun a fourth look-up as the third failed.
  EXPECT_GE(lookups, 3);
  EXPECT_LE(lookups, 4);
  EXPECT_EQ(givenUp, 1);
}

// Every request goes through a proxy that cannot be reached (nothing listens on its port, or its
// name does not resolve): two failures are told, the third stops the task with one line naming
// the proxy, and nothing more is asked of it. A proxy reached in between starts counting afresh.
TEST(TaskRunnerUnreachableTest, AProxyThatCannotBeReachedStopsTheTaskAtTheThirdFailure) {
  // Bound and never listening: refused for the whole test, and no other test can take it.
  const testing::SilentListener reserved(-1);
  const std::string closed = "socks5://127.0.0.1:" + std::to_string(reserved.Port());
  for (const std::string& address : {closed, std::string("http://no-such-proxy.invalid:3128")}) {
    SCOPED_TRACE(address);
    RunnerRig rig(FileKind::Pdf, "abc", 3, 1, "http://127.0.0.1:9/s?", "");
    for (int i = 0; i < 50; ++i) {
      const std::string url = "http://files.example/" + std::to_string(i) + ".pdf";
      rig.runner.Queue().Add(1, QueueEnd::Back, {.url = url});
    }
    ProxyChoice proxies;
    proxies.fromEnvironment = false;
    ASSERT_TRUE(ParseProxyUrl(address, &proxies.setting, nullptr));
    rig.runner.SetProxies(proxies);
    ASSERT_TRUE(rig.RunToEnd());
    const std::string fault = "代理服务器 " + address + " 连续 3 次无法连接";
    EXPECT_EQ(rig.runner.Fault(), fault);
    EXPECT_EQ(rig.runner.Outcome().proxyProblem, "无法连接代理服务器 " + address);
    int told = 0;
    int asked = 0;
    for (const auto& [thread, text] : rig.info.Lines()) {
      told += text.rfind("无法连接代理服务器 ", 0) == 0;
      asked += text.rfind("请求信息头：", 0) == 0;
    }
    EXPECT_EQ(told, 2);
    EXPECT_TRUE(rig.info.HasLine(fault + "，任务已自动停止......"));
    // The other two workers may each have been asking as the third failure came.
    EXPECT_LE(asked, 3 + 2);
  }

  RunnerRig rig(FileKind::Pdf, "abc", 1, 1, "http://127.0.0.1:9/s?", "");
  ProxySetting proxy;
  ASSERT_TRUE(ParseProxyUrl(closed, &proxy, nullptr));
  for (const ExchangeStart start :
       {ExchangeStart::ProxyUnreachable, ExchangeStart::ProxyUnreachable,
        ExchangeStart::NotConnected, ExchangeStart::ProxyUnreachable,
        ExchangeStart::ProxyUnreachable}) {
    rig.runner.OnProxyOutcome(1, proxy, start);
  }
  EXPECT_EQ(rig.runner.Fault(), "");
  rig.runner.OnProxyOutcome(1, proxy, ExchangeStart::ProxyUnreachable);
  EXPECT_EQ(rig.runner.Fault(), "代理服务器 " + closed + " 连续 3 次无法连接");
}

// Result pages that link the next two pages, pictures listed twice and on every page, and one
// dead address listed 200 times on each page: every address is asked for at most once, the
// dead one once, and the files are the service's list.
TEST(TaskRunnerEachAddressOnceTest, PagesLinkingPagesAndRepeatedLinksAreAskedForOnce) {
  SearchServiceProcess service;
  const std::string dead =
      "http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()) + "/dead.jpg";
  ASSERT_TRUE(
      service.Start({"--results", "200", "--paging", "2", "--repeat-links", "--dead-link", dead}));
  SearchHosts hosts;
  std::string error;
  ASSERT_TRUE(MakeSearchHosts(service.Host(), service.Host(), &hosts, &error)) << error;
  RunnerRig rig(FileKind::Image, "abc", 6, 10, hosts.imageSearchBase, hosts.imageLinkPattern);
  ASSERT_TRUE(rig.RunToEnd());

  std::string counts;
  ASSERT_EQ(HttpGet(service.Port(), "/requests", &counts), 200);
  std::istringstream lines(counts);
  int resultPages = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.rfind("1 ", 0), 0u) << line;
    if (line.find(" /i?") != std::string::npos && line.rfind("1 GET", 0) == 0) ++resultPages;
  }
  // The task's pages at offsets 0 to 180, and the last one (198) that they link to.
  EXPECT_EQ(resultPages, 12);
  EXPECT_EQ(rig.runner.TaskCopy().pagesFetched, resultPages);

  int deadTries = 0;
  for (const auto& [thread, text] : rig.info.Lines()) deadTries += text == "请求下载：" + dead;
  EXPECT_EQ(deadTries, 1);

  std::string listed;
  ASSERT_EQ(HttpGet(service.Port(), "/list?kind=image&word=abc&pages=10", &listed), 200);
  std::vector<std::string> expected;
  std::istringstream list(listed);
  for (std::string url; std::getline(list, url);) expected.push_back(url);
  std::vector<std::string> urls;
  for (const Record& row : AllRecords(rig.Folder())) urls.push_back(row.url);
  std::sort(urls.begin(), urls.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(urls, expected);
  EXPECT_TRUE(rig.runner.Fault().empty()) << rig.runner.Fault();
}

}  // namespace
}  // namespace quarry

namespace quarry {
namespace {

// The requests the service counted for `target`, by method ("HEAD /x" -> 1).
int Requests(int port, const std::string& method, const std::string& target) {
  std::string body;
  HttpGet(port, "/requests", &body);
  const std::string key = " " + method + " " + target + "\n";
  const std::size_t at = body.find(key);
  if (at == std::string::npos) return 0;
  const std::size_t start = body.rfind('\n', at);
  return std::atoi(body.c_str() + (start == std::string::npos ? 0 : start + 1));
}

TEST_F(TaskRunnerThreadsTest, OneCopyKeptEveryFailureListedWithItsReasonAndRetriedWhenWorthIt) {
  const std::string prefix = "http://" + Host();
  // Three addresses of one picture and one of another; then one address for each fault.
  const std::vector<std::string> copies = {"/copy/1/a.jpg", "/copy/1/b.jpg", "/copy/1/c.jpg",
                                           "/copy/2/d.jpg"};
  const std::map<std::string, FailureReason> faults = {
      {"/fault/404/x.jpg", FailureReason::NotFound},
      {"/fault/403/x.jpg", FailureReason::Refused},
      {"/fault/503/x.jpg", FailureReason::ServerError},
      {"/fault/cut/x.jpg", FailureReason::CutShort},
      {"/fault/stall/x.jpg", FailureReason::TimeLimit},
      {"/fault/notype/x.jpg", FailureReason::NotAFile},
      {"/fault/tiny/x.jpg", FailureReason::TooSmall},
      {"/fault/nolength/x.jpg", FailureReason::TooSmall},
      {"http://127.0.0.1:1/x.jpg", FailureReason::Unreachable}};
  constexpr HttpTimeouts kQuick{1000, 1000, 1000, 400};
  TempFolder home;
  std::string folder;
  {
    RunnerRig rig(FileKind::Image, "keep", 3, 1, EmptyBase(), "", home.Path());
    rig.runner.SetHttpTimeouts(kQuick);
    for (const std::string& copy : copies)
      rig.runner.Queue().Add(1, QueueEnd::Front, {.url = prefix + copy, .title = copy});
    for (const auto& [fault, reason] : faults) {
      const std::string url = fault.starts_with("http") ? fault : prefix + fault;
      rig.runner.Queue().Add(1, QueueEnd::Front, {.url = url, .title = "t"});
    }
    ASSERT_TRUE(rig.RunToEnd());
    folder = rig.Folder();
    const RunOutcome outcome = rig.runner.Outcome();
    EXPECT_EQ(outcome.saved, 2);
    EXPECT_EQ(outcome.duplicates, 2);
    EXPECT_EQ(outcome.failed, 2 + static_cast<int>(faults.size()));
    EXPECT_TRUE(rig.info.HasLineContaining("内容相同，不保存"));
  }
  // Two files on disk, no part left; the rows know their contents.
  std::vector<FileEntry> files;
  ASSERT_TRUE(TaskFacts::ReadFiles(folder, &files));
  ASSERT_EQ(files.size(), 2u);
  for (const FileEntry& file : files) {
    EXPECT_TRUE(file.hasFacts);
    EXPECT_EQ(file.facts.sha256.size(), 64u);
    EXPECT_EQ(static_cast<std::uintmax_t>(file.facts.size), std::filesystem::file_size(file.record.fileName));
    EXPECT_EQ(file.facts.width, 32);  // the service's pictures are 32 x 32
  }
  EXPECT_NE(files[0].facts.sha256, files[1].facts.sha256);
  std::vector<FailureRow> failures;
  ASSERT_TRUE(TaskFacts::ReadFailures(folder, &failures));
  std::map<std::string, FailureReason> found;
  int duplicates = 0;
  for (const FailureRow& failure : failures) {
    EXPECT_EQ(failure.attempts, 1) << failure.url;
    if (failure.reason == FailureReason::Duplicate) {
      ++duplicates;
      EXPECT_TRUE(failure.url.find("/copy/1/") != std::string::npos) << failure.url;
      continue;
    }
    const std::string key = failure.url.starts_with(prefix) ? failure.url.substr(prefix.size())
                                                            : failure.url;
    found[key] = failure.reason;
  }
  EXPECT_EQ(duplicates, 2);
  EXPECT_EQ(found, faults);

  // A retry asks only for what may work now: the service error (healed meanwhile), the cut and
  // stalled bodies and the unreachable host; nothing of the rest, nothing of the kept files.
  ASSERT_EQ(HttpGet(s_service->Port(), "/heal", nullptr), 200);
  const auto asked = [&](const std::string& target) {
    return Requests(s_service->Port(), "HEAD", target);
  };
  std::map<std::string, int> before;
  for (const auto& [fault, reason] : faults) before[fault] = asked(fault);
  for (const std::string& copy : copies) before[copy] = asked(copy);
  {
    RunnerRig rig(FileKind::Image, "keep", 3, 1, EmptyBase(), "", home.Path(), nullptr,
                  /*retry=*/true);
    rig.runner.SetHttpTimeouts(kQuick);
    ASSERT_TRUE(rig.RunToEnd());
    const RunOutcome outcome = rig.runner.Outcome();
    EXPECT_TRUE(outcome.fault.empty()) << outcome.fault;  // no result page is no failure here
    EXPECT_EQ(outcome.saved, 1);
    EXPECT_TRUE(outcome.retry);
  }
  for (const auto& [fault, reason] : faults) {
    if (fault.starts_with("http")) continue;
    EXPECT_EQ(asked(fault) - before[fault], IsRetryable(reason) ? 1 : 0) << fault;
  }
  for (const std::string& copy : copies) EXPECT_EQ(asked(copy), before[copy]) << copy;
  ASSERT_TRUE(TaskFacts::ReadFailures(folder, &failures));
  EXPECT_EQ(failures.size(), faults.size() - 1 + 2);  // the healed file is no failure now
  for (const FailureRow& failure : failures) {
    EXPECT_EQ(failure.url.find("/fault/503/"), std::string::npos);
    EXPECT_EQ(failure.attempts, IsRetryable(failure.reason) ? 2 : 1) << failure.url;
  }
  EXPECT_EQ(AllRecords(folder).size(), 3u);
}

}  // namespace
}  // namespace quarry
