// Task control with real runners: the views following the selection, running all waiting
// tasks, tasks that cannot start or meet a full disk, and shutting down.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/task_control.h"
#include "engine/task_files.h"
#include "records/record_store.h"
#include "tests/engine/task_control_fixture.h"
#include "tests/support/failing_file_io.h"
#include "tests/support/loopback.h"

// The tests sit beside their fixture, in quarry::testing.
namespace quarry::testing {
namespace {

TEST_F(TaskControlTest, ViewsFollowTheSelectedRunningTaskOnly) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  Task* running = Add(NewTask("running", 500));
  Task* waiting = Add(NewTask("waiting"));

  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(m_info.Lines().empty());  // not selected: not a line
  control.SelectTask(running);
  EXPECT_EQ(control.CurrentTask(), running);
  EXPECT_EQ(m_info.Resets(), 1);
  EXPECT_EQ(m_info.Pages(), 1);
  ASSERT_TRUE(testing::WaitFor([&] { return !m_info.Lines().empty(); }, 5s));
  EXPECT_EQ(m_result.Shown().back(), FieldText(running->record.folder));

  control.SelectTask(waiting);
  EXPECT_EQ(control.CurrentTask(), nullptr);
  const std::size_t seen = m_info.Lines().size();
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(m_info.Lines().size(), seen);  // the running task writes no more lines
  EXPECT_EQ(m_info.Resets(), 2);
  EXPECT_EQ(m_info.Pages(), 0);
}

// A result view that lists the task's rows when shown and adds the files it is told of, as the
// window's view does, counting a file told that it already had. It is slow to draw what it
// read: long enough for a worker to save another file, unless the runner holds its workers'
// records back meanwhile.
class ListingResultView : public ResultView {
public:
  void OnRecordAdded(FileKind, const std::string&, const std::string& url,
                     const std::string&) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_urls.insert(url).second) ++m_twice;
  }
  void ShowTask(FileKind, const std::string& folder) override {
    std::unordered_set<std::string> urls;
    RecordStore::ReadRecordedUrls(folder, urls);
    testing::WaitFor(
        [&] {
          std::unordered_set<std::string> now;
          RecordStore::ReadRecordedUrls(folder, now);
          return now.size() > urls.size();
        },
        300ms);
    std::lock_guard<std::mutex> guard(m_lock);
    m_urls.swap(urls);
  }
  std::unordered_set<std::string> Urls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_urls;
  }
  int Twice() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_twice;
  }

private:
  std::mutex m_lock;
  std::unordered_set<std::string> m_urls;
  int m_twice = 0;
};

TEST_F(TaskControlTest, ATaskShownWhileItSavesListsEachFileOnce) {
  SearchServiceProcess service;
  ASSERT_TRUE(service.Start({"--results", "120"}));
  TaskControl& control = Control(service.Host());
  ListingResultView listing;
  control.SetViews(&m_info, &listing);
  auto owned = NewTask("busy", 4);
  owned->record.threadCount = 4;
  Task* running = owned.get();
  control.AddTask(std::move(owned));
  const std::string folder = FieldText(running->record.folder);
  std::unordered_set<std::string> rows;
  ASSERT_TRUE(testing::WaitFor(
      [&] { return RecordStore::ReadRecordedUrls(folder, rows) && !rows.empty(); }, 20s));
  control.SelectTask(running);  // its workers still saving
  ASSERT_TRUE(HandleEnd());
  ASSERT_TRUE(RecordStore::ReadRecordedUrls(folder, rows));
  EXPECT_GT(rows.size(), 1u);
  const std::unordered_set<std::string> listed = listing.Urls();
  EXPECT_EQ(listed.size(), rows.size());
  for (const std::string& url : rows) EXPECT_TRUE(listed.count(url)) << url << " not listed";
  EXPECT_EQ(listing.Twice(), 0);
}

// The listener hears a run as the window shows it: the task added, started, its progress and
// files while its threads work, then ended and moved; nothing of the run before the task or
// after its end, and the last progress is the run's final count.
TEST_F(TaskControlTest, ARunIsToldInOrderFromAddedToFinished) {
  SearchServiceProcess service;
  ASSERT_TRUE(service.Start({"--results", "30"}));
  TaskControl& control = Control(service.Host());
  ASSERT_TRUE(control.AddTask(NewTask("later"), false));
  auto owned = NewTask("abc", 2);
  owned->record.threadCount = 3;
  Task* task = Add(std::move(owned));
  ASSERT_TRUE(HandleEnd());
  Task* later = control.UnfinishedTasks().front().get();
  ASSERT_TRUE(control.DeleteSelected(later));

  const std::vector<std::string> lines = m_events.Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
            (std::vector<std::string>{"added 等待 later", "added 运行 abc", "state abc 1"}));
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"state abc 4", "moved 完成 abc", "removed later"}));
  int saved = 0, progress = 0;
  for (std::size_t i = 3; i + 3 < lines.size(); ++i) {
    if (lines[i] == "saved abc") ++saved;
    if (lines[i] == "progress abc") ++progress;
    EXPECT_TRUE(lines[i] == "saved abc" || lines[i] == "progress abc" || lines[i] == "failed abc")
        << lines[i];
  }
  EXPECT_EQ(lines[lines.size() - 4], "progress abc");  // the final count, before the end
  EXPECT_GE(progress, 1);
  const RunOutcome outcome = control.Outcome(task);
  EXPECT_GT(outcome.saved, 0);
  EXPECT_EQ(saved, outcome.saved);
  const TaskProgress last = m_events.LastProgress();
  EXPECT_EQ(last, control.Progress(task));
  EXPECT_EQ(last.saved, outcome.saved);
  EXPECT_EQ(last.resultPagesDone, 3);
  EXPECT_EQ(last.resultPagesTotal, 3);
  EXPECT_EQ(m_events.TextsUnder(TaskRoot::Finished), std::vector<std::string>{"abc"});
  EXPECT_TRUE(m_events.TextsUnder(TaskRoot::Waiting).empty());
}

TEST_F(TaskControlTest, RunAllRunsTheWaitingTasksOneAfterAnother) {
  TaskControl& control = Control(kRefusedHost);
  Task* first = Add(NewTask("one"));
  control.AddTask(NewTask("two"));
  control.AddTask(NewTask("three"));
  EXPECT_TRUE(control.CanRunAll());
  control.RunAll();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(HandleEnd()) << i;
  EXPECT_TRUE(control.UnfinishedTasks().empty());
  ASSERT_EQ(control.FinishedTasks().size(), 3u);
  EXPECT_EQ(control.FinishedTasks()[0].get(), first);
  EXPECT_EQ(FieldText(control.FinishedTasks()[2]->record.keyword), "three");
  EXPECT_FALSE(control.RunAllActive());
  EXPECT_FALSE(control.CanRunAll());
}

TEST_F(TaskControlTest, StoppingATaskEndsRunAll) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  Task* first = Add(NewTask("one", 500));
  control.AddTask(NewTask("two", 500));
  control.RunAll();
  EXPECT_TRUE(control.RunAllActive());
  control.StopSelected(first);
  ASSERT_TRUE(HandleEnd());
  EXPECT_FALSE(control.RunAllActive());
  EXPECT_EQ(control.RunningCount(), 0);
  EXPECT_EQ(control.UnfinishedTasks()[0]->record.state, TaskState::Waiting);
}

TEST_F(TaskControlTest, ATaskThatCannotStartStaysWaitingAndIsReported) {
  TaskControl& control = Control(kRefusedHost);
  const std::string missing = m_home.Path() + "missing/";
  Task* bad = Add(NewTask("bad", 1, missing));
  auto expectNotStarted = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(bad->runner, nullptr);
    EXPECT_EQ(bad->record.state, TaskState::Waiting);
    EXPECT_EQ(RootOf(bad), TaskRoot::Waiting);
    const std::vector<std::string> problems = control.TakeProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("任务“bad”不能开始：无法创建任务文件夹 " + missing + "bad/"),
              std::string::npos)
        << problems[0];
  };
  // A task that ran against the refusing host got no result page: told once, as a failure.
  auto expectNothingArrived = [&](const char* keyword) {
    const std::vector<std::string> problems = control.TakeProblems();
    ASSERT_EQ(problems.size(), 1u) << keyword;
    EXPECT_EQ(problems[0].rfind(std::string("任务“") + keyword + "”已停止：没有收到任何结果页", 0),
              0u)
        << problems[0];
  };
  expectNotStarted("added");
  EXPECT_EQ(control.RunningCount(), 0);
  EXPECT_EQ(Saved(UnfinishedFile()), std::vector<std::string>{"bad:0"});
  EXPECT_FALSE(control.RunSelected(bad));
  expectNotStarted("run");

  // Run-all passes over it and runs the others; it stays waiting.
  control.AddTask(NewTask("one"));  // starts: none runs
  Task* two = Add(NewTask("two"));  // waits behind "one"
  ASSERT_TRUE(HandleEnd());
  expectNothingArrived("one");
  EXPECT_EQ(two->record.state, TaskState::Waiting);
  control.RunAll();
  expectNotStarted("run all");
  EXPECT_EQ(two->record.state, TaskState::Running);
  ASSERT_TRUE(HandleEnd());
  EXPECT_FALSE(control.RunAllActive());
  expectNothingArrived("two");  // and "bad" passed over once, not again at the end
  EXPECT_EQ(control.UnfinishedTasks().size(), 1u);

  // Once its folder can be made, it runs.
  std::filesystem::create_directory(missing);
  EXPECT_TRUE(control.RunSelected(bad));
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(RootOf(bad), TaskRoot::Finished);
  expectNothingArrived("bad");
}

TEST_F(TaskControlTest, AFullDiskStopsTheTaskReportsItAndEndsRunAll) {
  SearchServiceProcess service;
  ASSERT_TRUE(service.Start({"--results", "60"}));
  testing::FailingFileIo disk;
  disk.writeBudget = 4096;  // the folder check only
  disk.writeError = ENOSPC;
  m_disk = &disk;
  TaskControl& control = Control(service.Host());
  Task* first = Add(NewTask("full", 5));
  control.AddTask(NewTask("next", 5));
  control.RunAll();
  disk.writeBudget = 0;  // the next task would find the disk full as well
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(first->record.state, TaskState::Ended);
  EXPECT_NE(first->lastRun.fault.find("磁盘已满"), std::string::npos) << first->lastRun.fault;
  EXPECT_EQ(control.Outcome(first).saved, 0);
  const std::vector<std::string> problems = control.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "任务“full”已停止：" + first->lastRun.fault + "。");
  EXPECT_FALSE(control.RunAllActive());
  EXPECT_EQ(control.RunningCount(), 0);
  EXPECT_EQ(control.UnfinishedTasks()[0]->record.state, TaskState::Waiting);
}

// A proxy that cannot be reached is named in what is told of a run: as the fault that stopped it
// (and run-all with it), or beside a run that got no result page before it was given up.
TEST_F(TaskControlTest, AProxyThatCannotBeReachedIsNamedInTheReport) {
  TaskControl& control = Control(kRefusedHost);
  const std::string proxy = "socks5://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
  ProxyChoice proxies;
  proxies.fromEnvironment = false;
  ASSERT_TRUE(ParseProxyUrl(proxy, &proxies.setting, nullptr));
  control.SetProxies(proxies);
  Add(NewTask("gone", 5));  // six result pages, one worker
  Task* few = Add(NewTask("few", 1));
  control.RunAll();
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(control.TakeProblems(), std::vector<std::string>{"任务“gone”已停止：代理服务器 " +
                                                             proxy + " 连续 3 次无法连接。"});
  EXPECT_FALSE(control.RunAllActive());
  EXPECT_EQ(few->record.state, TaskState::Waiting);

  ASSERT_TRUE(control.RunSelected(few));  // two result pages: two failures
  ASSERT_TRUE(HandleEnd());
  const std::vector<std::string> problems = control.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("任务“few”已停止：没有收到任何结果页", 0), 0u) << problems[0];
  EXPECT_TRUE(problems[0].ends_with("；无法连接代理服务器 " + proxy + "。")) << problems[0];
}

TEST_F(TaskControlTest, ShutdownStoresTheRunningTaskAsRunning) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  Task* running = Add(NewTask("running", 500));
  control.AddTask(NewTask("waiting"));
  control.SelectTask(running);
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(control.Shutdown());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(running->runner, nullptr);
  TaskList saved = LoadFile(UnfinishedFile());
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0]->record.state, TaskState::Running);
  EXPECT_EQ(saved[1]->record.state, TaskState::Waiting);
  control.Shutdown();                          // a second call does nothing
  EXPECT_EQ(m_finished.Wait(100ms), nullptr);  // the end of a shut-down task is not reported
}

TEST_F(TaskControlTest, ShutdownReportsATaskFileItCouldNotWrite) {
  TaskControl& control = Control(kRefusedHost);
  control.AddTask(NewTask("kept"));
  ASSERT_TRUE(HandleEnd());
  control.AddTask(NewTask("waiting"));
  // A folder where the new file must go defeats the save even for root.
  std::filesystem::create_directory(FinishedFile() + ".new");
  std::string error;
  EXPECT_FALSE(control.Shutdown(&error));
  EXPECT_NE(error.find("finished.tsk"), std::string::npos) << error;
  EXPECT_EQ(LoadFile(UnfinishedFile()).size(), 1u);  // the other file is still written
}

TEST_F(TaskControlTest, ALoadedPausedTaskCanBeDeletedAndTheSelectionMovesOn) {
  // A task that was running when the program ended comes back paused, under "运行".
  {
    TaskList list;
    list.push_back(NewTask("cut off"));
    list.back()->record.state = TaskState::Running;
    list.push_back(NewTask("other"));
    ASSERT_TRUE(SaveUnfinished(m_home.Path(), list));
  }
  TaskControl& control = Control(kRefusedHost);
  control.LoadTaskFiles();
  ASSERT_EQ(control.UnfinishedTasks().size(), 2u);
  Task* paused = control.UnfinishedTasks()[0].get();
  Task* other = control.UnfinishedTasks()[1].get();
  EXPECT_EQ(paused->record.state, TaskState::Paused);
  EXPECT_EQ(RootOf(paused), TaskRoot::Running);
  EXPECT_TRUE(control.CanRunSelected(paused));
  control.SelectTask(paused);
  EXPECT_TRUE(control.DeleteSelected(paused));
  ASSERT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_EQ(control.UnfinishedTasks()[0].get(), other);
  EXPECT_TRUE(m_events.Children(TaskRoot::Running).empty());
  // The window's selection lags behind the removal it has not applied yet: the deleted task
  // is refused, never followed, and the next selection is an ordinary call.
  EXPECT_FALSE(control.CanDeleteSelected(paused));
  EXPECT_FALSE(control.CanStopSelected(paused));
  EXPECT_TRUE(control.DeleteSelected(paused));
  control.SelectTask(other);
  EXPECT_EQ(m_info.Resets(), 2);
  control.Shutdown();
  EXPECT_EQ(LoadFile(UnfinishedFile()).size(), 1u);
}

}  // namespace
}  // namespace quarry::testing
