// Tests of the task database: preparing it without losing rows, storing values unchanged and
// finding them again, concurrent writers, failures reported as false, the page reader, and
// that the sqlite3 shell reads what Quarry wrote. Every test works in a fresh temporary folder.
#include "records/record_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

class RecordStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(m_temp.Path().empty());
    m_folder = m_temp.Path();
    m_root = m_folder.substr(0, m_folder.size() - 1);
  }

  // Runs a query with one text result on a connection of its own; "<null>" for NULL.
  std::string QueryText(const std::string& sql) {
    sqlite3* db = nullptr;
    std::string result = "<error>";
    if (sqlite3_open_v2(RecordStore::ConnectionString(m_folder).c_str(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
          sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        result = text ? reinterpret_cast<const char*>(text) : "<null>";
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
  }

  long long Count() {
    RecordPage page;
    EXPECT_TRUE(RecordStore::ReadRecordPage(m_folder, 1, page));
    return page.count;
  }

  void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }

  testing::TempFolder m_temp;
  std::string m_root;
  std::string m_folder;  // ends with '/', as task folders do
};

TEST_F(RecordStoreTest, SecondPrepareKeepsTheRows) {
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  ASSERT_TRUE(RecordStore::AddRecord(m_folder, m_folder + "a.pdf", "http://h/a.pdf", "A"));
  ASSERT_TRUE(RecordStore::AddRecord(m_folder, m_folder + "b.pdf", "http://h/b.pdf", "B"));

  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  RecordPage page;
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, 1, page));
  ASSERT_EQ(page.count, 2);
  EXPECT_EQ(page.records[0].fileName, m_folder + "a.pdf");
  EXPECT_EQ(page.records[1].title, "B");
}

TEST_F(RecordStoreTest, PrepareNeverReplacesAFileThatIsNoDatabase) {
  std::string path = RecordStore::ConnectionString(m_folder);
  std::string content(4096, 'x');
  WriteFile(path, content);
  EXPECT_FALSE(RecordStore::PrepareTaskDatabase(m_folder));
  EXPECT_EQ(testing::ReadFile(path), content);
}

TEST_F(RecordStoreTest, ValuesAreStoredUnchanged) {
  struct Case {
    const char* name;
    std::string fileName, url, title;
  };
  const std::vector<Case> cases = {
      {"quotes", m_folder + "07-it's.doc", "http://h/o'neil?q='x'", "Bob's \"best\" file"},
      {"statement text", m_folder + "x.pdf", "http://h/x", "'); DROP TABLE filename; --"},
      {"long title", m_folder + "long.pdf", "http://h/long", std::string(10 * 1024, 'T')},
      {"non-ASCII", m_folder + "猫 图片.jpg", "http://图.example/猫?q=%E7%8C%AB",
       "小猫的照片 – Ünïcødé 😺"},
      {"long address", m_folder + "u.pdf", "http://h/" + std::string(5000, 'u'), "u"},
  };
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  for (const Case& c : cases)
    ASSERT_TRUE(RecordStore::AddRecord(m_folder, c.fileName, c.url, c.title)) << c.name;

  RecordPage page;
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, 1, page));
  ASSERT_EQ(page.records.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(page.records[i].fileName, cases[i].fileName) << cases[i].name;
    EXPECT_EQ(page.records[i].url, cases[i].url) << cases[i].name;
    EXPECT_EQ(page.records[i].title, cases[i].title) << cases[i].name;
  }
  // What a task run again looks up: the addresses, and a saved file by its name.
  std::unordered_set<std::string> urls = {"stale"};
  ASSERT_TRUE(RecordStore::ReadRecordedUrls(m_folder, urls));
  EXPECT_EQ(urls.size(), cases.size());
  for (const Case& c : cases) {
    EXPECT_EQ(urls.count(c.url), 1u) << c.name;
    EXPECT_TRUE(RecordStore::HoldsFile(m_folder, c.fileName)) << c.name;
  }
  EXPECT_FALSE(RecordStore::HoldsFile(m_folder, m_folder + "x.pdf.part"));
}

TEST_F(RecordStoreTest, EmptyTitleIsStoredAsNull) {
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  ASSERT_TRUE(RecordStore::AddRecord(m_folder, m_folder + "a.jpg", "http://h/a.jpg", ""));
  RecordWriter writer;
  ASSERT_TRUE(writer.Open(m_folder));
  ASSERT_TRUE(writer.Add(m_folder + "b.jpg", "http://h/b.jpg", ""));
  ASSERT_TRUE(writer.Add(m_folder + "c.jpg", "http://h/c.jpg", "C"));
  writer.Close();

  EXPECT_EQ(QueryText("SELECT group_concat(title IS NULL) FROM filename"), "1,1,0");
  RecordPage page;
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, 1, page));
  EXPECT_EQ(page.records[0].title, "");  // NULL reads as empty text
}

TEST_F(RecordStoreTest, FailuresAreFalseWithoutException) {
  std::string regularFile = m_root + "/plain.txt";
  WriteFile(regularFile, "not a folder");
  std::string notDatabase = m_root + "/junk/";
  fs::create_directory(notDatabase);
  WriteFile(notDatabase + kDatabaseFileName, std::string(2048, 'j'));
  std::string noTable = m_root + "/notable/";
  fs::create_directory(noTable);
  {
    sqlite3* db = nullptr;
    sqlite3_open((noTable + kDatabaseFileName).c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE other(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  struct Case {
    const char* name;
    std::string folder;
    bool canPrepare;
  };
  const std::vector<Case> cases = {
      {"folder under a regular file", regularFile + "/", false},
      {"missing folder", m_root + "/missing/", false},
      {"folder without a database", m_folder, true},
      {"file that is no database", notDatabase, false},
      {"database without the table", noTable, true},
  };
  for (const Case& c : cases) {
    std::error_code ignored;
    bool existed = fs::exists(RecordStore::ConnectionString(c.folder), ignored);
    bool added = true;
    EXPECT_NO_THROW(added = RecordStore::AddRecord(c.folder, c.folder + "f.pdf", "http://h/f", "t"))
        << c.name;
    EXPECT_FALSE(added) << c.name;
    RecordWriter writer;
    EXPECT_FALSE(writer.Open(c.folder)) << c.name;
    EXPECT_FALSE(writer.Add("f", "u", "t")) << c.name;
    // Inserting never creates the database that preparing would have created.
    EXPECT_EQ(fs::exists(RecordStore::ConnectionString(c.folder), ignored), existed) << c.name;
    RecordPage page;
    EXPECT_FALSE(RecordStore::ReadRecordPage(c.folder, 1, page)) << c.name;
    std::unordered_set<std::string> urls = {"stale"};
    EXPECT_FALSE(RecordStore::ReadRecordedUrls(c.folder, urls)) << c.name;
    EXPECT_TRUE(urls.empty()) << c.name;
    EXPECT_FALSE(RecordStore::HoldsFile(c.folder, c.folder + "f.pdf")) << c.name;
    EXPECT_EQ(RecordStore::PrepareTaskDatabase(c.folder), c.canPrepare) << c.name;
  }
  EXPECT_FALSE(fs::exists(m_root + "/missing"));
}

TEST_F(RecordStoreTest, PrepareTriesARowAndTellsWhyItCannot) {
  auto folderWith = [&](const std::string& name, const char* sql) {
    const std::string folder = m_root + "/" + name + "/";
    fs::create_directory(folder);
    sqlite3* db = nullptr;
    sqlite3_open((folder + kDatabaseFileName).c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << name;
    sqlite3_close(db);
    return folder;
  };
  const std::string junk = m_root + "/junk/";
  fs::create_directory(junk);
  WriteFile(junk + kDatabaseFileName, std::string(2048, 'j'));
  const std::string folderDatabase = m_root + "/folder/";
  fs::create_directories(folderDatabase + kDatabaseFileName);
  const std::string refusing =
      folderWith("trigger",
                 "CREATE TABLE filename(filename TEXT, url TEXT, title TEXT);"
                 "CREATE TRIGGER refuse BEFORE INSERT ON filename BEGIN "
                 "SELECT RAISE(ABORT, 'rows refused here'); END");
  struct Case {
    const char* name;
    std::string folder;
    const char* errorPart;
  } cases[] = {
      {"file that is no database", junk, "not a database"},
      {"database that is a folder", folderDatabase, "unable to open"},
      {"table of other columns", folderWith("columns", "CREATE TABLE filename(name TEXT)"),
       "no column named"},
      {"trigger that refuses rows", refusing, "rows refused here"},
  };
  for (const Case& c : cases) {
    RecordError error;
    EXPECT_FALSE(RecordStore::PrepareTaskDatabase(c.folder, &error)) << c.name;
    EXPECT_NE(error.text.find(c.errorPart), std::string::npos) << c.name << ": " << error.text;
    EXPECT_FALSE(error.diskFull) << c.name;
  }
  RecordError error;
  EXPECT_FALSE(RecordStore::AddRecord(refusing, refusing + "a.pdf", "http://h/a", "", &error));
  EXPECT_FALSE(error.text.empty());
  // A usable database keeps no trace of the row tried.
  RecordError none;
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder, &none)) << none.text;
  EXPECT_EQ(Count(), 0);
}

TEST_F(RecordStoreTest, InsertsWaitForAnotherWritersLock) {
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(RecordStore::ConnectionString(m_folder).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([db] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_TRUE(RecordStore::AddRecord(m_folder, "f", "u", "t"));
  release.join();
  sqlite3_close(db);
  EXPECT_EQ(Count(), 1);
}

// Six workers inserting at once while the browser reads: every row arrives exactly once and
// every read succeeds.
TEST_F(RecordStoreTest, SixThreadsStoreEveryRow) {
  constexpr int kThreads = 6;
  constexpr int kRows = 1000;
  constexpr int kWriterRows = 200;
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  std::atomic<int> failures{0};
  std::atomic<bool> writing{true};
  std::atomic<int> failedReads{0};
  std::thread reader([&] {
    long long last = 0;
    while (writing) {
      RecordPage page;
      if (!RecordStore::ReadRecordPage(m_folder, 1000000, page) || page.count < last) ++failedReads;
      last = page.count;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int row = 0; row < kRows; ++row) {
        std::string name = std::to_string(t) + "-" + std::to_string(row);
        if (!RecordStore::AddRecord(m_folder, name, "http://h/" + name, "T")) ++failures;
      }
      RecordWriter writer;  // the per-thread writer meets the per-row inserts
      if (!writer.Open(m_folder)) ++failures;
      for (int row = kRows; row < kRows + kWriterRows; ++row) {
        std::string name = std::to_string(t) + "-" + std::to_string(row);
        if (!writer.Add(name, "http://h/" + name, "")) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  writing = false;
  reader.join();

  EXPECT_EQ(failures, 0);
  EXPECT_EQ(failedReads, 0);
  EXPECT_EQ(Count(), kThreads * (kRows + kWriterRows));
  EXPECT_EQ(QueryText("SELECT count(DISTINCT filename) FROM filename"),
            std::to_string(kThreads * (kRows + kWriterRows)));
}

// Rows committed together by one thread must still land in their own task's database.
TEST_F(RecordStoreTest, ConcurrentRowsGoToTheirOwnDatabase) {
  const std::string folders[2] = {m_root + "/a/", m_root + "/b/"};
  for (const std::string& folder : folders) {
    fs::create_directory(folder);
    ASSERT_TRUE(RecordStore::PrepareTaskDatabase(folder));
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      const std::string& folder = folders[t % 2];
      RecordWriter writer;
      if (!writer.Open(folder)) ++failures;
      for (int row = 0; row < 100; ++row) {
        bool ok =
            t < 2 ? RecordStore::AddRecord(folder, folder, "u", "t") : writer.Add(folder, "u", "t");
        if (!ok) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  for (const std::string& folder : folders) {
    m_folder = folder;
    EXPECT_EQ(QueryText("SELECT count(*) FROM filename WHERE filename = '" + folder + "'"), "300");
    EXPECT_EQ(Count(), 300);
  }
}

// The runner abandons worker threads that do not end in time at shut-down; one of them may
// finish its row while the process exits and runs the destructors of static objects.
TEST_F(RecordStoreTest, RowFinishingDuringExitIsSafe) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, nothing stored yet
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  static std::string folder;
  static sqlite3* blocker = nullptr;
  static std::thread* late = nullptr;
  folder = m_folder;
  EXPECT_EXIT(
      {
        // Registered before the first insert, so it runs after the destructors of the
        // statics that the insert creates: it lets the waiting insert finish only then.
        std::atexit([] {
          sqlite3_exec(blocker, "COMMIT", nullptr, nullptr, nullptr);
          late->join();
        });
        sqlite3_open(RecordStore::ConnectionString(folder).c_str(), &blocker);
        sqlite3_exec(blocker, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        late = new std::thread([] { RecordStore::AddRecord(folder, "f", "u", "t"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // it waits for the lock
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(RecordStoreTest, ReaderPagesInInsertionOrder) {
  RecordPage page;
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, 1, page));
  EXPECT_EQ(page.count, 0);
  EXPECT_EQ(page.page, 1);
  EXPECT_EQ(page.pageCount, 0);
  EXPECT_TRUE(page.records.empty());

  RecordWriter writer;
  ASSERT_TRUE(writer.Open(m_folder));
  auto addUpTo = [&](int last) {
    for (int i = static_cast<int>(Count()) + 1; i <= last; ++i)
      ASSERT_TRUE(writer.Add("f" + std::to_string(i), "u" + std::to_string(i), ""));
  };
  addUpTo(30);  // thirty rows are one full page
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, 2, page));
  EXPECT_EQ(page.pageCount, 1);
  EXPECT_EQ(page.page, 1);
  EXPECT_EQ(page.records.size(), 30u);
  addUpTo(31);  // the thirty-first opens page 2
  ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, 2, page));
  EXPECT_EQ(page.pageCount, 2);
  ASSERT_EQ(page.records.size(), 1u);
  EXPECT_EQ(page.records[0].fileName, "f31");
  addUpTo(65);

  struct Case {
    int requested, page;
    std::size_t rows;
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {1, 1, 30, "f1", "f30"},  {2, 2, 30, "f31", "f60"},   {3, 3, 5, "f61", "f65"},
      {4, 3, 5, "f61", "f65"},  {1000, 3, 5, "f61", "f65"}, {0, 1, 30, "f1", "f30"},
      {-7, 1, 30, "f1", "f30"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(RecordStore::ReadRecordPage(m_folder, c.requested, page)) << c.requested;
    EXPECT_EQ(page.count, 65) << c.requested;
    EXPECT_EQ(page.pageCount, 3) << c.requested;
    EXPECT_EQ(page.page, c.page) << c.requested;
    ASSERT_EQ(page.records.size(), c.rows) << c.requested;
    EXPECT_EQ(page.records.front().fileName, c.first) << c.requested;
    EXPECT_EQ(page.records.back().fileName, c.last) << c.requested;
  }
  EXPECT_EQ(page.records[4].url, "u5");
}

TEST_F(RecordStoreTest, WriterSurvivesAMove) {
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  RecordWriter first;
  ASSERT_TRUE(first.Open(m_folder));
  ASSERT_TRUE(first.Add("a", "u", "t"));
  std::vector<RecordWriter> writers;
  writers.push_back(std::move(first));
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from is closed
  EXPECT_TRUE(writers[0].Add("b", "u", "t"));
  writers.clear();
  EXPECT_EQ(Count(), 2);
}

TEST_F(RecordStoreTest, SqliteShellReadsTheDatabase) {
  const char* shell = "/usr/bin/sqlite3";
  if (access(shell, X_OK) != 0) GTEST_SKIP() << "no sqlite3 shell installed";
  ASSERT_TRUE(RecordStore::PrepareTaskDatabase(m_folder));
  RecordWriter writer;
  ASSERT_TRUE(writer.Open(m_folder));
  ASSERT_TRUE(writer.Add(m_folder + "猫.jpg", "http://h/it's", "小猫"));
  ASSERT_TRUE(writer.Add(m_folder + "b.doc", "http://h/b", ""));
  // The shell reads while the writer still holds its connection, as during a harvest.
  std::string command = std::string(shell) + " -readonly '" +
                        RecordStore::ConnectionString(m_folder) +
                        "' \"SELECT filename || '|' || url || '|' || ifnull(title, '<null>') "
                        "FROM filename ORDER BY rowid\" 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_EQ(output,
            m_folder + "猫.jpg|http://h/it's|小猫\n" + m_folder + "b.doc|http://h/b|<null>\n");
}

}  // namespace
}  // namespace quarry
