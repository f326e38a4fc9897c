// The fixture of the task-control tests: task control with real runners, a home of its own,
// short time limits, and recorders in the window's place. Two stand-in search hosts make tasks
// end at once (a refused port) or run until stopped (a listener that never answers).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/task_control.h"
#include "engine/task_files.h"
#include "tests/engine/harvest_fixture.h"
#include "tests/support/quick_options.h"

namespace quarry::testing {

using namespace std::chrono_literals;

inline constexpr char kRefusedHost[] = "127.0.0.1:1";

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
    bool hostsMade = false;
    TaskControlOptions options = QuickOptions(m_home.Path(), host, &hostsMade);
    EXPECT_TRUE(hostsMade) << host;
    options.figureSaveMs = figureSaveMs;
    options.taskFileIo = &m_io;
    options.fileIo = m_disk;
    m_control = std::make_unique<TaskControl>(m_events, m_finished, options);
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

  // Adds `task` as the add-task dialog does (started when none runs) and returns it; what
  // AddTask answers is for the tests that check it themselves.
  Task* Add(std::unique_ptr<Task> task) {
    Task* added = task.get();
    m_control->AddTask(std::move(task));
    return added;
  }

  // Plays the window: waits for the next end report and hands it to task control.
  bool HandleEnd(std::chrono::milliseconds timeout = 20s) {
    SearchTask* ended = m_finished.Wait(timeout);
    if (ended == nullptr) return false;
    m_control->OnTaskFinished(ended);
    return true;
  }

  TaskRoot RootOf(const Task* task) {
    TaskRoot root = TaskRoot::Waiting;
    EXPECT_TRUE(m_events.RootOf(task, &root));
    return root;
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
  RecordingEvents m_events;
  FinishedQueue m_finished;
  RecordingInfoView m_info;
  RecordingResultView m_result;
  std::unique_ptr<TaskControl> m_control;
};

}  // namespace quarry::testing
