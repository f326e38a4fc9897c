// The committer's order of steps, seen through a recording file layer that notes, at each step,
// how many intents and rows the task database holds: for a group of several files (one syncfs,
// the intents before any name, one folder flush, the rows after it, a taken name moved on to a
// numbered one), for one file and for each file-system kind; a group closed by its wait alone;
// and the intents of a crash settled at the next start.
#include "engine/file_committer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "records/group_rows.h"
#include "records/record_store.h"
#include "tests/support/failing_file_io.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using namespace std::chrono_literals;
using testing::RecordingFileIo;
using testing::TempFolder;

long long Count(const std::string& folder, const char* table) {
  sqlite3* db = nullptr;
  long long count = -1;
  if (sqlite3_open_v2((folder + kDatabaseFileName).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = std::string("SELECT count(*) FROM ") + table;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      count = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return count;
}

// Tells the files of each committed group as "row NAME" events.
class RecordingOwner : public CommitOwner {
public:
  explicit RecordingOwner(RecordingFileIo& io) : m_io(io) {}
  void OnGroupCommitted(const std::vector<CommittedFile>& files, bool recorded,
                        const RecordError& error) override {
    EXPECT_TRUE(recorded) << error.text;
    for (const CommittedFile& file : files)
      m_io.Note("row " + file.path.substr(file.path.rfind('/') + 1));
  }
  void OnFileLost(const CommittedFile& file, int error, const RecordError&) override {
    ADD_FAILURE() << file.path << " lost: " << error;
  }
  void OnDuplicate(const CommittedFile& file, const std::string& repeats) override {
    ADD_FAILURE() << file.path << " repeats " << repeats;
  }

private:
  RecordingFileIo& m_io;
};

// A file received whole as `name`.part in `folder`, its numbered names "name(n)".
WholeFile Received(const std::string& folder, const std::string& name) {
  WholeFile whole;
  const std::string path = folder + name;
  whole.partPath = path + ".part";
  whole.file = FileDescriptor(::open(whole.partPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
  const std::string bytes(3000, 'x');
  EXPECT_EQ(WriteAll(FileIo::System(), whole.file.Get(), bytes.data(), bytes.size()), 0);
  whole.nameWith = [path](int counter) {
    return counter == 0 ? path : path + "(" + std::to_string(counter) + ")";
  };
  return whole;
}

struct Rig {
  explicit Rig(GroupFlush flush, CommitLimits limits = {3, 60000, 8})
      : committer(home.Path(), io, owner, lock, limits) {
    EXPECT_TRUE(RecordStore::PrepareTaskDatabase(home.Path()));
    io.state = [this] {
      return "intents=" + std::to_string(Count(home.Path(), "intent")) +
             " rows=" + std::to_string(Count(home.Path(), "filename"));
    };
    committer.SetFlush(flush);
    committer.Start();
  }
  void Hand(const std::string& name) {
    committer.Hand(Received(home.Path(), name),
                   CommittedFile{home.Path() + name, "http://h/" + name, "", 1, {}});
  }

  TempFolder home;
  RecordingFileIo io;
  RecordingOwner owner{io};
  WriterFirstLock lock;
  FileCommitter committer;
};

TEST(FileCommitterTest, AGroupIsFlushedOnceThenIntendedNamedSyncedAndRecorded) {
  Rig rig(GroupFlush::FileSystem);
  std::ofstream(rig.home.Path() + "b.pdf") << "not ours";  // taken from outside meanwhile
  rig.Hand("a.pdf");
  rig.Hand("b.pdf");
  rig.Hand("c.pdf");
  rig.committer.Finish();
  EXPECT_EQ(rig.io.Events(), (std::vector<std::string>{
                                 "syncfs intents=0 rows=0",
                                 "rename a.pdf intents=3 rows=0",
                                 "rename b.pdf intents=3 rows=0",
                                 "rename b.pdf(1) intents=3 rows=0",
                                 "rename c.pdf intents=3 rows=0",
                                 "sync-folder intents=3 rows=0",
                                 "row a.pdf intents=0 rows=3",
                                 "row b.pdf(1) intents=0 rows=3",
                                 "row c.pdf intents=0 rows=3",
                             }));
  RecordPage page;
  ASSERT_TRUE(RecordStore::ReadRecordPage(rig.home.Path(), 1, page));
  ASSERT_EQ(page.records.size(), 3u);
  EXPECT_EQ(page.records[1].fileName, rig.home.Path() + "b.pdf(1)");
  EXPECT_EQ(page.records[1].url, "http://h/b.pdf");
  EXPECT_FALSE(std::filesystem::exists(rig.home.Path() + "a.pdf.part"));
  EXPECT_EQ(std::filesystem::file_size(rig.home.Path() + "b.pdf(1)"), 3000u);
}

TEST(FileCommitterTest, EachFileSystemKindFlushesAsItMustAndAGroupClosesByItsWait) {
  struct Case {
    GroupFlush flush;
    int files;
    std::vector<std::string> flushes;
  };
  const Case cases[] = {
      {GroupFlush::FileSystem, 1, {"fdatasync intents=0 rows=0"}},  // one file: its own flush
      {GroupFlush::PerFile, 2, {"fdatasync intents=0 rows=0", "fdatasync intents=0 rows=0"}},
      {GroupFlush::None, 2, {}},
  };
  for (const Case& test : cases) {
    // Far from full: the group closes when its oldest file has waited 20 ms.
    Rig rig(test.flush, CommitLimits{32, 20, 64});
    std::vector<std::string> expected = test.flushes;
    const std::string group = std::to_string(test.files);
    for (int i = 0; i < test.files; ++i) {
      rig.Hand("f" + std::to_string(i));
      expected.push_back("rename f" + std::to_string(i) + " intents=" + group + " rows=0");
    }
    expected.push_back("sync-folder intents=" + group + " rows=0");
    for (int i = 0; i < test.files; ++i)
      expected.push_back("row f" + std::to_string(i) + " intents=0 rows=" + group);
    for (int wait = 0; wait < 500 && rig.io.Events().size() < expected.size(); ++wait)
      std::this_thread::sleep_for(10ms);
    EXPECT_EQ(rig.io.Events(), expected) << static_cast<int>(test.flush);
    rig.committer.Finish();
    EXPECT_EQ(rig.io.Events().size(), expected.size());
  }
}

TEST(FileCommitterTest, IntentsLeftByACrashBecomeRowsOnlyForWholeNamedFiles) {
  TempFolder home;
  const std::string folder = home.Path();
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(folder));
  GroupRows rows;
  ASSERT_TRUE(rows.Open(folder));
  std::vector<long long> ids;
  ASSERT_TRUE(rows.WriteIntents({{folder + "named.pdf", "http://h/1", "one"},
                                 {folder + "unnamed.pdf", "http://h/2", ""},
                                 {folder + "gone.pdf", "http://h/3", ""}},
                                &ids));
  std::ofstream(folder + "named.pdf") << "whole";
  std::ofstream(folder + "unnamed.pdf.part") << "whole, not yet named";
  ASSERT_TRUE(SettleCrashedGroups(folder));
  RecordPage page;
  ASSERT_TRUE(RecordStore::ReadRecordPage(folder, 1, page));
  ASSERT_EQ(page.records.size(), 1u);
  EXPECT_EQ(page.records[0].fileName, folder + "named.pdf");
  EXPECT_EQ(page.records[0].title, "one");
  EXPECT_EQ(Count(folder, "intent"), 0);
}

}  // namespace
}  // namespace quarry
