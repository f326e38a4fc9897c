// Task control with real runners: adding, running, stopping and deleting tasks, the end of a
// task, the task files following every change, the views following the selection, running all
// waiting tasks, and shutting down. Two stand-in search hosts make tasks end at once (a
// refused port) or run until stopped (a listener that never answers, with short time limits).
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
#include "tests/engine/harvest_fixture.h"
#include "tests/support/failing_file_io.h"

namespace quarry {
namespace {

using namespace std::chrono_literals;
using testing::FinishedQueue;
using testing::MemoryTree;
using testing::RecordingInfoView;
using testing::RecordingResultView;
using testing::SearchServiceProcess;
using testing::SilentListener;
using testing::TempFolder;

const char kRefusedHost[] = "127.0.0.1:1";

// The real system calls, counting the saves that reach their rename.
class CountingIo : public TaskFileIo {
public:
  int Rename(const char* from, const char* to) override {
    ++renames;
    return TaskFileIo::Rename(from, to);
  }
  int renames = 0;
};

class TaskControlTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(m_home.Path() + "sys");
    std::filesystem::create_directories(m_home.Path() + "DownData");
  }
  void TearDown() override {
    if (m_control) m_control->Shutdown();
  }

  // Task control whose web-search host is `host`.
  TaskControl& Control(const std::string& host, int figureSaveMs = kFigureSaveMs) {
    TaskControlOptions options;
    options.home = m_home.Path();
    std::string error;
    EXPECT_TRUE(MakeSearchHosts(host, host, &options.hosts, &error)) << error;
    options.timing = RunnerTiming{5, 10, 5, 5};
    options.http.connectMs = 300;
    options.http.sendMs = 300;
    options.http.headMs = 300;
    options.http.bodyMs = 300;
    options.shutdownWaitMs = 3000;
    options.seedSleeper = [](std::chrono::milliseconds) {};
    options.figureSaveMs = figureSaveMs;
    options.taskFileIo = &m_io;
    options.fileIo = m_disk;
    m_control = std::make_unique<TaskControl>(m_tree, m_finished, options);
    m_control->SetViews(&m_info, &m_result);
    return *m_control;
  }

  std::unique_ptr<Task> NewTask(const std::string& keyword, int pages = 1,
                                const std::string& downloadFolder = "") {
    NewTaskValues values;
    values.keyword = keyword;
    values.folder = downloadFolder.empty() ? m_home.Path() + "DownData/" : downloadFolder;
    values.kind = FileKind::Pdf;
    values.threadCount = 1;
    values.pageCount = pages;
    auto task = std::make_unique<Task>();
    std::string error;
    EXPECT_TRUE(MakeSearchTask(values, std::time(nullptr), &task->record, &error)) << error;
    return task;
  }

  // Plays the window: waits for the next end report and hands it to task control.
  bool HandleEnd(std::chrono::milliseconds timeout = 20s) {
    SearchTask* ended = m_finished.Wait(timeout);
    if (ended == nullptr) return false;
    m_control->OnTaskFinished(ended);
    return true;
  }

  TaskRoot RootOf(const Task* task) {
    const MemoryTree::Item* item = m_tree.Find(task->treeItem);
    EXPECT_NE(item, nullptr);
    return item ? item->root : TaskRoot::Waiting;
  }

  TaskList LoadFile(const std::string& path) {
    TaskList list;
    LoadTaskFile(path, &list);
    return list;
  }

  std::string FinishedFile() { return FinishedTaskPath(m_home.Path()); }
  std::string UnfinishedFile() { return UnfinishedTaskPath(m_home.Path()); }

  // "keyword:state" of every record of a task file, in file order.
  std::vector<std::string> Saved(const std::string& path) {
    std::vector<std::string> states;
    for (const auto& task : LoadFile(path)) {
      states.push_back(FieldText(task->record.keyword) + ":" +
                       std::to_string(static_cast<int>(task->record.state)));
    }
    return states;
  }

  TempFolder m_home;
  CountingIo m_io;
  FileIo* m_disk = nullptr;  // the runners' file writes; null: the real ones
  MemoryTree m_tree;
  FinishedQueue m_finished;
  RecordingInfoView m_info;
  RecordingResultView m_result;
  std::unique_ptr<TaskControl> m_control;
};

TEST_F(TaskControlTest, AddRunsAtOnceWhenIdleElseWaitsAndStopMovesOnlyAtTheEnd) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  auto owned = NewTask("first", 500);
  Task* first = owned.get();
  ASSERT_TRUE(control.AddTask(std::move(owned)));
  EXPECT_FALSE(control.AddTask(nullptr));
  EXPECT_EQ(first->record.state, TaskState::Running);
  EXPECT_NE(first->runner, nullptr);
  EXPECT_EQ(RootOf(first), TaskRoot::Running);
  EXPECT_EQ(control.RunningCount(), 1);

  auto waitingOwned = NewTask("second");
  Task* second = waitingOwned.get();
  ASSERT_TRUE(control.AddTask(std::move(waitingOwned)));
  EXPECT_EQ(second->record.state, TaskState::Waiting);
  EXPECT_EQ(second->runner, nullptr);
  EXPECT_EQ(RootOf(second), TaskRoot::Waiting);
  control.RunSelected(second);  // another task runs: nothing happens
  EXPECT_EQ(second->runner, nullptr);
  EXPECT_TRUE(control.CanStopSelected(first));
  EXPECT_FALSE(control.CanRunSelected(first));
  EXPECT_TRUE(control.CanRunSelected(second));
  EXPECT_FALSE(control.CanRunSelected(nullptr));
  EXPECT_TRUE(control.CanStopAll());

  control.StopSelected(first);
  EXPECT_EQ(first->record.state, TaskState::Ended);
  EXPECT_FALSE(control.CanRunSelected(first));
  EXPECT_EQ(RootOf(first), TaskRoot::Running);  // until its end is handled
  EXPECT_FALSE(control.DeleteSelected(first));  // still stopping
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));

  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(RootOf(first), TaskRoot::Finished);
  EXPECT_EQ(first->runner, nullptr);
  EXPECT_EQ(control.RunningCount(), 0);
  ASSERT_EQ(control.FinishedTasks().size(), 1u);
  EXPECT_EQ(control.FinishedTasks()[0].get(), first);
  TaskList saved = LoadFile(FinishedFile());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(FieldText(saved[0]->record.keyword), "first");
  EXPECT_EQ(saved[0]->record.state, TaskState::Ended);

  // The waiting task waits for the user.
  EXPECT_EQ(second->record.state, TaskState::Waiting);
  EXPECT_EQ(second->runner, nullptr);
  control.RunSelected(second);
  EXPECT_EQ(second->record.state, TaskState::Running);
  EXPECT_EQ(RootOf(second), TaskRoot::Running);
  control.StopAll();
  EXPECT_EQ(second->record.state, TaskState::Ended);
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(control.FinishedTasks().size(), 2u);
  EXPECT_EQ(LoadFile(FinishedFile()).size(), 2u);
}

TEST_F(TaskControlTest, AddingWithoutStartingWaitsEvenWhenNoneRuns) {
  TaskControl& control = Control(kRefusedHost);
  auto owned = NewTask("later");
  Task* later = owned.get();
  ASSERT_TRUE(control.AddTask(std::move(owned), false));
  EXPECT_EQ(later->record.state, TaskState::Waiting);
  EXPECT_EQ(later->runner, nullptr);
  EXPECT_EQ(RootOf(later), TaskRoot::Waiting);
  EXPECT_EQ(control.RunningCount(), 0);
  EXPECT_TRUE(control.CanRunSelected(later));
  // Started at once, the next one runs while the first still waits.
  auto nowOwned = NewTask("now");
  Task* now = nowOwned.get();
  ASSERT_TRUE(control.AddTask(std::move(nowOwned), true));
  EXPECT_EQ(now->record.state, TaskState::Running);
  EXPECT_EQ(RootOf(now), TaskRoot::Running);
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(later->record.state, TaskState::Waiting);
  EXPECT_EQ(RootOf(later), TaskRoot::Waiting);
}

TEST_F(TaskControlTest, ATaskThatRunsDryEndsByItself) {
  TaskControl& control = Control(kRefusedHost);
  auto owned = NewTask("dry", 3);
  Task* task = owned.get();
  control.AddTask(std::move(owned));
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(task->record.state, TaskState::Ended);
  EXPECT_EQ(RootOf(task), TaskRoot::Finished);
  EXPECT_TRUE(control.UnfinishedTasks().empty());
  EXPECT_EQ(LoadFile(FinishedFile()).size(), 1u);
  // A repeated report of the same end changes nothing.
  control.OnTaskFinished(&task->record);
  EXPECT_EQ(control.FinishedTasks().size(), 1u);
}

TEST_F(TaskControlTest, DeletingWaitingRunningAndFinishedTasks) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  auto a = NewTask("running", 500);
  auto b = NewTask("waiting");
  auto c = NewTask("done");
  Task* running = a.get();
  Task* waiting = b.get();
  Task* done = c.get();
  control.AddTask(std::move(c));
  control.StopSelected(done);
  ASSERT_TRUE(HandleEnd());
  control.AddTask(std::move(a));
  control.AddTask(std::move(b));
  std::filesystem::remove(FinishedFile());

  // A waiting task goes; only unfinished.tsk is rewritten.
  EXPECT_TRUE(control.DeleteSelected(waiting));
  EXPECT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_TRUE(m_tree.Children(TaskRoot::Waiting).empty());
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  EXPECT_EQ(Saved(UnfinishedFile()), std::vector<std::string>{"running:1"});
  // A running task stays.
  EXPECT_FALSE(control.DeleteSelected(running));
  EXPECT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_EQ(RootOf(running), TaskRoot::Running);
  // A finished task goes and finished.tsk is rewritten (removed, being empty).
  ASSERT_TRUE(control.DeleteSelected(done));
  EXPECT_TRUE(control.FinishedTasks().empty());
  EXPECT_TRUE(m_tree.Children(TaskRoot::Finished).empty());
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  EXPECT_TRUE(control.DeleteSelected(nullptr));  // a root: nothing
}

TEST_F(TaskControlTest, TheTaskFilesFollowEveryChange) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host(), 0);
  using States = std::vector<std::string>;
  auto firstOwned = NewTask("first", 500);
  Task* first = firstOwned.get();
  control.AddTask(std::move(firstOwned));
  EXPECT_EQ(Saved(UnfinishedFile()), States{"first:1"});
  auto secondOwned = NewTask("second", 500);
  Task* second = secondOwned.get();
  control.AddTask(std::move(secondOwned));
  EXPECT_EQ(Saved(UnfinishedFile()), (States{"first:1", "second:0"}));
  // Nothing changes while the silent host keeps the counters at zero: nothing is written.
  const int saves = m_io.renames;
  for (int i = 0; i < 5; ++i) control.SaveRunningFigures();
  EXPECT_EQ(m_io.renames, saves);

  control.StopSelected(first);
  EXPECT_EQ(Saved(UnfinishedFile()), (States{"first:4", "second:0"}));
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(Saved(UnfinishedFile()), States{"second:0"});
  EXPECT_EQ(Saved(FinishedFile()), States{"first:4"});
  control.RunSelected(second);
  EXPECT_EQ(Saved(UnfinishedFile()), States{"second:1"});
  auto thirdOwned = NewTask("third");
  Task* third = thirdOwned.get();
  control.AddTask(std::move(thirdOwned));
  EXPECT_EQ(Saved(UnfinishedFile()), (States{"second:1", "third:0"}));
  control.DeleteSelected(third);
  EXPECT_EQ(Saved(UnfinishedFile()), States{"second:1"});
  control.AddTask(NewTask("fourth"));
  control.DeleteAll();
  EXPECT_EQ(Saved(UnfinishedFile()), States{"second:1"});
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  control.StopAll();
  EXPECT_EQ(Saved(UnfinishedFile()), States{"second:4"});
  ASSERT_TRUE(HandleEnd());
  EXPECT_FALSE(std::filesystem::exists(UnfinishedFile()));
  EXPECT_EQ(Saved(FinishedFile()), States{"second:4"});
}

TEST_F(TaskControlTest, ARunningTasksCountersReachItsFileWhileItRuns) {
  SearchServiceProcess service;
  ASSERT_TRUE(service.Start({"--results", "300"}));
  TaskControl& control = Control(service.Host(), 0);
  control.AddTask(NewTask("counted", 30));
  int pagesOnDisk = 0;
  ASSERT_TRUE(testing::WaitFor(
      [&] {
        control.SaveRunningFigures();
        TaskList saved = LoadFile(UnfinishedFile());
        if (!saved.empty()) pagesOnDisk = saved[0]->record.pagesFetched;
        return pagesOnDisk > 0;
      },
      20s));
  control.StopAll();
  ASSERT_TRUE(HandleEnd());
  ASSERT_EQ(control.FinishedTasks().size(), 1u);
  EXPECT_GE(control.FinishedTasks()[0]->record.pagesFetched, pagesOnDisk);
}

TEST_F(TaskControlTest, DeleteAllKeepsTheRunningTaskOnly) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  auto finishedOwned = NewTask("done");
  Task* done = finishedOwned.get();
  control.AddTask(std::move(finishedOwned));
  control.StopSelected(done);
  ASSERT_TRUE(HandleEnd());
  ASSERT_TRUE(std::filesystem::exists(FinishedFile()));
  auto runningOwned = NewTask("running", 500);
  Task* running = runningOwned.get();
  control.AddTask(std::move(runningOwned));
  control.AddTask(NewTask("w1"));
  control.AddTask(NewTask("w2"));
  control.SelectTask(control.UnfinishedTasks()[1].get());

  control.DeleteAll();
  ASSERT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_EQ(control.UnfinishedTasks()[0].get(), running);
  EXPECT_EQ(RootOf(running), TaskRoot::Running);
  EXPECT_TRUE(m_tree.Children(TaskRoot::Waiting).empty());
  EXPECT_TRUE(m_tree.Children(TaskRoot::Finished).empty());
  EXPECT_TRUE(control.FinishedTasks().empty());
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  EXPECT_EQ(control.CurrentTask(), nullptr);
}

TEST_F(TaskControlTest, ViewsFollowTheSelectedRunningTaskOnly) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  auto runningOwned = NewTask("running", 500);
  Task* running = runningOwned.get();
  control.AddTask(std::move(runningOwned));
  auto waitingOwned = NewTask("waiting");
  Task* waiting = waitingOwned.get();
  control.AddTask(std::move(waitingOwned));

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

TEST_F(TaskControlTest, RunAllRunsTheWaitingTasksOneAfterAnother) {
  TaskControl& control = Control(kRefusedHost);
  auto firstOwned = NewTask("one");
  Task* first = firstOwned.get();
  control.AddTask(std::move(firstOwned));
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
  auto firstOwned = NewTask("one", 500);
  Task* first = firstOwned.get();
  control.AddTask(std::move(firstOwned));
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
  auto badOwned = NewTask("bad", 1, missing);
  Task* bad = badOwned.get();
  control.AddTask(std::move(badOwned));
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
  expectNotStarted("added");
  EXPECT_EQ(control.RunningCount(), 0);
  EXPECT_EQ(Saved(UnfinishedFile()), std::vector<std::string>{"bad:0"});
  EXPECT_FALSE(control.RunSelected(bad));
  expectNotStarted("run");

  // Run-all passes over it and runs the others; it stays waiting.
  control.AddTask(NewTask("one"));  // starts: none runs
  auto twoOwned = NewTask("two");
  Task* two = twoOwned.get();
  control.AddTask(std::move(twoOwned));  // waits behind "one"
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(two->record.state, TaskState::Waiting);
  control.RunAll();
  expectNotStarted("run all");
  EXPECT_EQ(two->record.state, TaskState::Running);
  ASSERT_TRUE(HandleEnd());
  EXPECT_FALSE(control.RunAllActive());
  EXPECT_TRUE(control.TakeProblems().empty());  // passed over once, not again at the end
  EXPECT_EQ(control.UnfinishedTasks().size(), 1u);

  // Once its folder can be made, it runs.
  std::filesystem::create_directory(missing);
  EXPECT_TRUE(control.RunSelected(bad));
  ASSERT_TRUE(HandleEnd());
  EXPECT_EQ(RootOf(bad), TaskRoot::Finished);
  EXPECT_TRUE(control.TakeProblems().empty());
}

TEST_F(TaskControlTest, AFullDiskStopsTheTaskReportsItAndEndsRunAll) {
  SearchServiceProcess service;
  ASSERT_TRUE(service.Start({"--results", "60"}));
  testing::FailingFileIo disk;
  disk.writeBudget = 4096;  // the folder check only
  disk.writeError = ENOSPC;
  m_disk = &disk;
  TaskControl& control = Control(service.Host());
  auto firstOwned = NewTask("full", 5);
  Task* first = firstOwned.get();
  control.AddTask(std::move(firstOwned));
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

TEST_F(TaskControlTest, ShutdownStoresTheRunningTaskAsRunning) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host());
  auto runningOwned = NewTask("running", 500);
  Task* running = runningOwned.get();
  control.AddTask(std::move(runningOwned));
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

TEST_F(TaskControlTest, ALoadedPausedTaskCanBeDeletedAndSelectionMayReenter) {
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
  // Deleting the selected item moves the selection, which calls back in on the same thread.
  m_tree.onDelete = [&](TreeItemId) { control.SelectTask(other); };
  EXPECT_TRUE(control.DeleteSelected(paused));
  m_tree.onDelete = nullptr;
  ASSERT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_EQ(control.UnfinishedTasks()[0].get(), other);
  EXPECT_TRUE(m_tree.Children(TaskRoot::Running).empty());
  control.Shutdown();
  EXPECT_EQ(LoadFile(UnfinishedFile()).size(), 1u);
}

}  // namespace
}  // namespace quarry
