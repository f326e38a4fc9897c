// Task control with real runners: adding, running, stopping and deleting tasks, the end of a
// task, and the task files following every change.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/task_control.h"
#include "engine/task_files.h"
#include "tests/engine/task_control_fixture.h"
#include "tests/support/failing_file_io.h"

// The tests sit beside their fixture, in quarry::testing.
namespace quarry::testing {
namespace {

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
  Task* task = Add(NewTask("dry", 3));
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
  EXPECT_TRUE(m_events.Children(TaskRoot::Waiting).empty());
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  EXPECT_EQ(Saved(UnfinishedFile()), std::vector<std::string>{"running:1"});
  // A running task stays.
  EXPECT_FALSE(control.DeleteSelected(running));
  EXPECT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_EQ(RootOf(running), TaskRoot::Running);
  // A finished task goes and finished.tsk is rewritten (removed, being empty).
  ASSERT_TRUE(control.DeleteSelected(done));
  EXPECT_TRUE(control.FinishedTasks().empty());
  EXPECT_TRUE(m_events.Children(TaskRoot::Finished).empty());
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  EXPECT_TRUE(control.DeleteSelected(nullptr));  // a root: nothing
}

TEST_F(TaskControlTest, TheTaskFilesFollowEveryChange) {
  SilentListener silent;
  TaskControl& control = Control(silent.Host(), 0);
  using States = std::vector<std::string>;
  Task* first = Add(NewTask("first", 500));
  EXPECT_EQ(Saved(UnfinishedFile()), States{"first:1"});
  Task* second = Add(NewTask("second", 500));
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
  Task* third = Add(NewTask("third"));
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
  Task* done = Add(NewTask("done"));
  control.StopSelected(done);
  ASSERT_TRUE(HandleEnd());
  ASSERT_TRUE(std::filesystem::exists(FinishedFile()));
  Task* running = Add(NewTask("running", 500));
  control.AddTask(NewTask("w1"));
  control.AddTask(NewTask("w2"));
  control.SelectTask(control.UnfinishedTasks()[1].get());

  control.DeleteAll();
  ASSERT_EQ(control.UnfinishedTasks().size(), 1u);
  EXPECT_EQ(control.UnfinishedTasks()[0].get(), running);
  EXPECT_EQ(RootOf(running), TaskRoot::Running);
  EXPECT_TRUE(m_events.Children(TaskRoot::Waiting).empty());
  EXPECT_TRUE(m_events.Children(TaskRoot::Finished).empty());
  EXPECT_TRUE(control.FinishedTasks().empty());
  EXPECT_FALSE(std::filesystem::exists(FinishedFile()));
  EXPECT_EQ(control.CurrentTask(), nullptr);
}

}  // namespace
}  // namespace quarry::testing
