#include "engine/task_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/files.h"
#include "tests/support/task_views.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

// Lets the first `okBytes` bytes through, then fails the way a full disk does; optionally
// fails the flush or the rename instead.
class FailingIo : public TaskFileIo {
public:
  enum class Step { Write, ZeroWrite, Fsync, Rename };
  FailingIo(Step step, std::size_t okBytes) : m_step(step), m_okBytes(okBytes) {}
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    if (m_step == Step::Write || m_step == Step::ZeroWrite) {
      if (m_written >= m_okBytes) {
        if (m_step == Step::ZeroWrite) return 0;
        errno = ENOSPC;
        return -1;
      }
      size = std::min(size, m_okBytes - m_written);
    }
    ssize_t result = TaskFileIo::Write(fd, data, size);
    if (result > 0) m_written += static_cast<std::size_t>(result);
    return result;
  }
  int Fsync(int fd) override {
    if (m_step != Step::Fsync) return TaskFileIo::Fsync(fd);
    errno = EIO;
    return -1;
  }
  int Rename(const char* from, const char* to) override {
    if (m_step != Step::Rename) return TaskFileIo::Rename(from, to);
    errno = EXDEV;
    return -1;
  }

private:
  Step m_step;
  std::size_t m_okBytes;
  std::size_t m_written = 0;
};

std::unique_ptr<Task> NewTask(const std::string& keyword, TaskState state = TaskState::Waiting) {
  auto task = std::make_unique<Task>();
  NewTaskValues values;
  values.keyword = keyword;
  values.folder = "/d/DownData/";
  std::string error;
  EXPECT_TRUE(MakeSearchTask(values, 0, &task->record, &error)) << error;
  task->record.state = state;
  return task;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> Keywords(const TaskList& list) {
  std::vector<std::string> keywords;
  for (const auto& task : list) keywords.push_back(FieldText(task->record.keyword));
  return keywords;
}

class TaskFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(m_folder.Path().empty());
    m_home = m_folder.Path();
    fs::create_directory(m_home + "sys");
  }

  std::string Unfinished() const { return UnfinishedTaskPath(m_home); }
  std::string Finished() const { return FinishedTaskPath(m_home); }

  void SaveList(const std::string& path, std::initializer_list<std::string> keywords,
                TaskState state = TaskState::Waiting) {
    TaskList list;
    for (const auto& keyword : keywords) list.push_back(NewTask(keyword, state));
    std::string error;
    ASSERT_TRUE(SaveTaskFile(path, list, &error)) << error;
  }

  testing::TempFolder m_folder;
  std::string m_home;
};

TEST_F(TaskFilesTest, PathsLieInSys) {
  EXPECT_EQ(Unfinished(), m_home + "sys/unfinished.tsk");
  EXPECT_EQ(Finished(), m_home + "sys/finished.tsk");
}

TEST_F(TaskFilesTest, SavedRecordHasTheExactBytes) {
  TaskList list;
  list.push_back(std::make_unique<Task>());
  NewTaskValues values;
  values.keyword = "abc";
  values.folder = "/d/DownData/";
  values.threadCount = 4;
  values.pageCount = 300;
  values.kind = FileKind::Pdf;
  std::tm local{};
  local.tm_year = 109;
  local.tm_mon = 1;
  local.tm_mday = 3;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 7;
  local.tm_isdst = -1;
  SearchTask& record = list[0]->record;
  ASSERT_TRUE(MakeSearchTask(values, std::mktime(&local), &record, nullptr));
  record.state = TaskState::Running;
  record.pagesFetched = 0x01020304;
  record.filesFetched = -2;
  // Run-time links never reach the file, whatever the record or the task holds.
  record.treeItem = 0xFFFFFFFF;
  record.runner = 0xFFFFFFFF;
  ASSERT_TRUE(SaveFinished(m_home, list));

  std::string expected(564, '\0');
  expected[0] = 3;  // PDF
  expected.replace(1, 19, "2009-02-03 09:05:07");
  expected[21] = 1;  // Running
  expected.replace(22, 3, "abc");
  expected.replace(280, 4, "\x2C\x01\x00\x00", 4);  // 300
  expected.replace(284, 4, "\x04\x03\x02\x01", 4);
  expected.replace(288, 4, "\xFE\xFF\xFF\xFF", 4);  // -2
  expected.replace(292, 4, "\x04\x00\x00\x00", 4);
  expected.replace(296, 16, "/d/DownData/abc/");
  EXPECT_EQ(ReadFile(Finished()), expected);
}

TEST_F(TaskFilesTest, ThreeRecordsMakeOneFileAndThreeTasksInFileOrder) {
  SaveList(Unfinished(), {"first", "第二", "third"});
  EXPECT_EQ(fs::file_size(Unfinished()), 1692u);

  TaskList unfinished, finished;
  LoadTaskLists(m_home, &unfinished, &finished);
  EXPECT_TRUE(finished.empty());
  EXPECT_EQ(Keywords(unfinished), (std::vector<std::string>{"first", "第二", "third"}));
  for (const auto& task : unfinished) EXPECT_EQ(task->runner, nullptr);
}

TEST_F(TaskFilesTest, EmptyListDeletesTheFileAndCreatesNone) {
  SaveList(Finished(), {"one"});
  ASSERT_TRUE(fs::exists(Finished()));
  std::string error = "stale";
  EXPECT_FALSE(SaveFinished(m_home, TaskList{}, &error));
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_FALSE(fs::exists(Finished()));
  EXPECT_FALSE(SaveFinished(m_home, TaskList{}, &error));  // nothing to delete is fine
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_FALSE(fs::exists(Finished()));
  EXPECT_FALSE(fs::exists(Finished() + ".new"));

  TaskList unfinished, finished;
  LoadTaskLists(m_home, &unfinished, &finished);
  EXPECT_TRUE(finished.empty());
  EXPECT_TRUE(unfinished.empty());
}

TEST_F(TaskFilesTest, FailedSaveLeavesThePreviousFileWhole) {
  struct Case {
    const char* name;
    FailingIo::Step step;
    std::size_t okBytes;
  };
  const Case cases[] = {
      {"disk full before the first byte", FailingIo::Step::Write, 0},
      {"disk full inside the second record", FailingIo::Step::Write, 700},
      {"write makes no progress", FailingIo::Step::ZeroWrite, 564},
      {"flush to disk fails", FailingIo::Step::Fsync, 0},
      {"rename fails", FailingIo::Step::Rename, 0},
  };
  SaveList(Unfinished(), {"old1", "old2"});
  const std::string before = ReadFile(Unfinished());
  ASSERT_EQ(before.size(), 2 * kSearchTaskSize);

  TaskList replacement;
  for (const char* keyword : {"new1", "new2", "new3"}) replacement.push_back(NewTask(keyword));
  for (const Case& c : cases) {
    FailingIo io(c.step, c.okBytes);
    std::string error;
    EXPECT_FALSE(SaveTaskFile(Unfinished(), replacement, &error, &io)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_EQ(ReadFile(Unfinished()), before) << c.name;
    EXPECT_FALSE(fs::exists(Unfinished() + ".new")) << c.name;
    TaskList read;
    EXPECT_TRUE(LoadTaskFile(Unfinished(), &read));
    EXPECT_EQ(Keywords(read), (std::vector<std::string>{"old1", "old2"})) << c.name;
  }
  // The same save with working calls replaces the file.
  ASSERT_TRUE(SaveTaskFile(Unfinished(), replacement));
  TaskList read;
  ASSERT_TRUE(LoadTaskFile(Unfinished(), &read));
  EXPECT_EQ(Keywords(read), (std::vector<std::string>{"new1", "new2", "new3"}));
}

TEST_F(TaskFilesTest, SaveFailsCleanlyWhereNoFileCanBeMade) {
  TaskList list;
  list.push_back(NewTask("x"));
  std::string error;
  // No sys/ folder: the new file cannot even be created.
  EXPECT_FALSE(SaveTaskFile(m_home + "missing/finished.tsk", list, &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
  // A folder in the file's place: the rename over it fails and the folder stays.
  fs::create_directories(Finished() + "/inside");
  EXPECT_FALSE(SaveFinished(m_home, list, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_directory(Finished() + "/inside"));
  EXPECT_FALSE(fs::exists(Finished() + ".new"));
}

TEST_F(TaskFilesTest, DamagedFilesLoadWhatIsWholeAndAreKeptAside) {
  const auto whole = NewTask("whole");
  const std::string record(reinterpret_cast<const char*>(&whole->record), kSearchTaskSize);
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t records;
    bool damaged;  // cannot be read whole: kept aside as unfinished.tsk.broken
  };
  const Case cases[] = {
      {"empty file", "", 0, false},
      {"only a partial record", record.substr(0, 100), 0, true},
      {"one byte short of two", record + record.substr(0, 563), 1, true},
      {"two and a partial", record + record + record.substr(0, 17), 2, true},
      // Whole records, but no field of them in range: no task is made of them.
      {"all bytes 0xFF", std::string(3 * kSearchTaskSize, '\xFF'), 0, true},
  };
  const std::string broken = Unfinished() + ".broken";
  for (const Case& c : cases) {
    fs::remove(broken);
    WriteBytes(Unfinished(), c.bytes);
    TaskList list;
    std::string damage = "stale";
    ASSERT_TRUE(LoadTaskFile(Unfinished(), &list, &damage)) << c.name;
    ASSERT_EQ(list.size(), c.records) << c.name;
    for (const auto& task : list) {
      EXPECT_EQ(task->record.treeItem, 0u);
      EXPECT_EQ(task->record.runner, 0u);
      EXPECT_EQ(task->runner, nullptr);
      EXPECT_LE(FieldText(task->record.keyword).size(), kKeywordSize);
      EXPECT_LE(FieldText(task->record.folder).size(), kFolderSize);
      EXPECT_GE(RunnableThreadCount(task->record), 1);
      EXPECT_LE(RunnableThreadCount(task->record), 6);
    }
    EXPECT_EQ(!damage.empty(), c.damaged) << c.name << ": " << damage;
    EXPECT_EQ(fs::exists(broken), c.damaged) << c.name;
    if (c.damaged) {
      EXPECT_EQ(ReadFile(broken), c.bytes) << c.name;
      EXPECT_NE(damage.find(broken), std::string::npos) << damage;
      EXPECT_NE(damage.find(" " + std::to_string(c.records) + " 条任务"), std::string::npos)
          << damage;
    }
    // The start-up fill reports the damage once; the copy it finds is the same, so no second
    // one is made.
    TaskList unfinished, finished;
    std::vector<std::string> damages;
    LoadTaskLists(m_home, &unfinished, &finished, &damages);
    EXPECT_EQ(unfinished.size(), c.records) << c.name;
    EXPECT_EQ(damages.size(), c.damaged ? 1u : 0u) << c.name;
    EXPECT_FALSE(fs::exists(broken + ".2")) << c.name;
  }
  // A later, different damage does not overwrite the first copy; the next save rewrites the
  // file whole and leaves both copies alone.
  fs::remove(broken);
  TaskList list;
  std::string damage;
  WriteBytes(Unfinished(), record + "y");
  ASSERT_TRUE(LoadTaskFile(Unfinished(), &list, &damage));
  list.clear();
  WriteBytes(Unfinished(), record + "x");
  ASSERT_TRUE(LoadTaskFile(Unfinished(), &list, &damage));
  EXPECT_EQ(ReadFile(broken), record + "y");
  EXPECT_EQ(ReadFile(broken + ".2"), record + "x");
  EXPECT_NE(damage.find(broken + ".2"), std::string::npos) << damage;
  ASSERT_TRUE(SaveTaskFile(Unfinished(), list));
  EXPECT_EQ(ReadFile(Unfinished()), record);
  EXPECT_TRUE(fs::exists(broken + ".2"));

  // Missing: no records, nothing to report. Unreadable (a folder): nothing read, reported.
  EXPECT_FALSE(LoadTaskFile(m_home + "sys/absent.tsk", &list, &damage));
  EXPECT_TRUE(damage.empty());
  fs::create_directory(m_home + "sys/folder.tsk");
  EXPECT_FALSE(LoadTaskFile(m_home + "sys/folder.tsk", &list, &damage));
  EXPECT_NE(damage.find(std::strerror(EISDIR)), std::string::npos) << damage;
  EXPECT_EQ(list.size(), 1u);
}

TEST_F(TaskFilesTest, RecordsWithAFieldOutOfRangeAreLeftOutAndTheFileKeptAside) {
  struct Case {
    const char* name;
    void (*change)(SearchTask&);
    bool damaged;
  };
  const Case cases[] = {
      {"kind Excel", [](SearchTask& r) { r.kind = FileKind::Excel; }, false},
      {"kind 5", [](SearchTask& r) { r.kind = static_cast<FileKind>(5); }, true},
      {"kind 0xFF", [](SearchTask& r) { r.kind = static_cast<FileKind>(0xFF); }, true},
      {"state Paused", [](SearchTask& r) { r.state = TaskState::Paused; }, false},
      {"state Ended", [](SearchTask& r) { r.state = TaskState::Ended; }, false},
      {"state 2", [](SearchTask& r) { r.state = static_cast<TaskState>(2); }, true},
      {"state 5", [](SearchTask& r) { r.state = static_cast<TaskState>(5); }, true},
      {"1 thread", [](SearchTask& r) { r.threadCount = 1; }, false},
      {"6 threads", [](SearchTask& r) { r.threadCount = 6; }, false},
      {"0 threads", [](SearchTask& r) { r.threadCount = 0; }, true},
      {"7 threads", [](SearchTask& r) { r.threadCount = 7; }, true},
      {"-1 threads", [](SearchTask& r) { r.threadCount = -1; }, true},
      {"1 page", [](SearchTask& r) { r.pageCount = 1; }, false},
      {"500 pages", [](SearchTask& r) { r.pageCount = 500; }, false},
      {"0 pages", [](SearchTask& r) { r.pageCount = 0; }, true},
      {"501 pages", [](SearchTask& r) { r.pageCount = 501; }, true},
      {"most negative pages", [](SearchTask& r) { r.pageCount = INT32_MIN; }, true},
      {"counters 0 and max",
       [](SearchTask& r) {
         r.pagesFetched = 0;
         r.filesFetched = INT32_MAX;
       },
       false},
      {"-1 pages fetched", [](SearchTask& r) { r.pagesFetched = -1; }, true},
      {"-1 files fetched", [](SearchTask& r) { r.filesFetched = -1; }, true},
      {"run-time fields set", [](SearchTask& r) { r.treeItem = r.runner = 0xFFFFFFFF; }, false},
      {"keyword filling its field",
       [](SearchTask& r) {
         ASSERT_TRUE(SetFieldText(r.keyword, kKeywordSize, std::string(257, 'k')));
       },
       false},
      {"createdAt without NUL",
       [](SearchTask& r) { std::memset(r.createdAt, '9', kCreatedAtSize); }, true},
      {"keyword without NUL", [](SearchTask& r) { std::memset(r.keyword, 'k', kKeywordSize); },
       true},
      {"folder without NUL", [](SearchTask& r) { std::memset(r.folder, 'f', kFolderSize); }, true},
  };
  const std::string broken = Unfinished() + ".broken";
  auto bytesOf = [](const SearchTask& record) {
    return std::string(reinterpret_cast<const char*>(&record), kSearchTaskSize);
  };
  const std::string before = bytesOf(NewTask("before")->record);
  const std::string after = bytesOf(NewTask("after")->record);
  for (const Case& c : cases) {
    fs::remove(broken);
    auto odd = NewTask("odd");
    c.change(odd->record);
    const std::string bytes = before + bytesOf(odd->record) + after;
    WriteBytes(Unfinished(), bytes);
    TaskList list;
    std::string damage;
    ASSERT_TRUE(LoadTaskFile(Unfinished(), &list, &damage)) << c.name;
    EXPECT_EQ(Keywords(list), c.damaged ? (std::vector<std::string>{"before", "after"})
                                        : (std::vector<std::string>{
                                              "before", FieldText(odd->record.keyword), "after"}))
        << c.name;
    EXPECT_EQ(fs::exists(broken), c.damaged) << c.name;
    if (!c.damaged) {
      EXPECT_TRUE(damage.empty()) << c.name << ": " << damage;
      continue;
    }
    EXPECT_EQ(ReadFile(broken), bytes) << c.name;
    EXPECT_NE(damage.find("第 2 条"), std::string::npos) << c.name << ": " << damage;
    EXPECT_NE(damage.find("完好的 2 条任务"), std::string::npos) << c.name << ": " << damage;
    EXPECT_NE(damage.find(broken), std::string::npos) << c.name << ": " << damage;
    // The next save writes back the good records only.
    ASSERT_TRUE(SaveTaskFile(Unfinished(), list));
    EXPECT_EQ(ReadFile(Unfinished()), before + after) << c.name;
  }
}

TEST_F(TaskFilesTest, StartUpFillFollowsTheStates) {
  {
    TaskList unfinished;
    unfinished.push_back(NewTask("waiting", TaskState::Waiting));
    unfinished.push_back(NewTask("was-running", TaskState::Running));
    unfinished.push_back(NewTask("paused", TaskState::Paused));
    unfinished.push_back(NewTask("ended-unhandled", TaskState::Ended));
    unfinished.push_back(NewTask("state-two", static_cast<TaskState>(2)));  // left out
    unfinished.push_back(NewTask("waiting-2", TaskState::Waiting));
    unfinished[1]->record.runner = 0xDEADBEEF;  // a stale 32-bit pointer from an old file
    ASSERT_TRUE(SaveUnfinished(m_home, unfinished));
    TaskList finished;
    finished.push_back(NewTask("done", TaskState::Ended));
    finished.push_back(NewTask("done-odd-state", TaskState::Waiting));
    ASSERT_TRUE(SaveFinished(m_home, finished));
  }

  TaskList unfinished, finished;
  std::vector<std::string> damages;
  LoadTaskLists(m_home, &unfinished, &finished, &damages);
  ASSERT_EQ(damages.size(), 1u);
  EXPECT_NE(damages[0].find("第 5 条的 state"), std::string::npos) << damages[0];
  EXPECT_TRUE(fs::exists(Unfinished() + ".broken"));

  ASSERT_EQ(Keywords(unfinished),
            (std::vector<std::string>{"waiting", "was-running", "paused", "waiting-2"}));
  EXPECT_EQ(unfinished[1]->record.state, TaskState::Paused);
  EXPECT_EQ(unfinished[1]->record.runner, 0u);
  EXPECT_EQ(unfinished[1]->runner, nullptr);
  ASSERT_EQ(Keywords(finished),
            (std::vector<std::string>{"done", "done-odd-state", "ended-unhandled"}));
  EXPECT_EQ(finished[1]->record.state, TaskState::Waiting);  // kept as read


  // Written back at exit, the lists keep their order and the new states.
  ASSERT_TRUE(SaveUnfinished(m_home, unfinished));
  TaskList again;
  ASSERT_TRUE(LoadTaskFile(Unfinished(), &again));
  EXPECT_EQ(Keywords(again), Keywords(unfinished));
  EXPECT_EQ(again[1]->record.state, TaskState::Paused);
}

}  // namespace
}  // namespace quarry
