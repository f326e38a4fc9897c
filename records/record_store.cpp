// The task database on SQLite. Every value reaches the table through a bound parameter, so
// quotes and long texts are stored unchanged and no statement text is ever composed from them.
//
// The database runs in write-ahead-log mode, set once when it is prepared (the mode is kept in
// the file): a commit appends the row to db.sqlite-wal and, with synchronous=FULL, syncs that
// file before the insert returns, so a row is on disk as soon as its insert reports success.
// Compared with the rollback journal this costs one sync per commit instead of several, and
// the result browser reads while the workers write.
//
// The inserts of this process go through a group commit (CommitGroups): one thread at a time
// writes the rows queued for a database in one synced transaction. The busy time-out of every
// connection covers what remains: readers, checkpoints and other processes such as the sqlite3
// shell.
//
// Public operations catch everything, so no failure leaves this library as an exception.
#include "records/record_store.h"

#include "records/file_facts.h"
#include "records/group_rows.h"

#include <sqlite3.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace quarry {

void ConnectionCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void StatementFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

Connection OpenConnection(const std::string& path, int flags, RecordError* error) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db(raw);  // owns the handle even when the open failed
  if (rc != SQLITE_OK) {
    DescribeSqliteFailure(db.get(), rc, error);
    return nullptr;
  }
  sqlite3_extended_result_codes(db.get(), 1);
  rc = sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  if (rc != SQLITE_OK) {
    DescribeSqliteFailure(db.get(), rc, error);
    return nullptr;
  }
  return db;
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return std::string();  // NULL reads as empty text
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS filename(filename TEXT, url TEXT, title TEXT)";
constexpr const char* kInsertRow = "INSERT INTO filename(filename, url, title) VALUES(?1, ?2, ?3)";

// Fills `error` (when given) from result code `code` and the system error behind it.
// `message` is SQLite's text for the last failure of the connection, when there is one.
void DescribeCode(int code, int systemErrno, const char* message, RecordError* error) {
  if (error == nullptr) return;
  error->text = message != nullptr ? message : sqlite3_errstr(code);
  if (systemErrno != 0) error->text += std::string(" (") + std::strerror(systemErrno) + ")";
  error->diskFull = (code & 0xFF) == SQLITE_FULL || systemErrno == ENOSPC || systemErrno == EDQUOT;
}

bool Execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs `sql`; false, with the reason in `error`, when it fails.
bool Execute(sqlite3* db, const char* sql, RecordError* error) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  DescribeSqliteFailure(db, rc, error);
  return false;
}

// A connection that writes rows: an existing database only, each commit synced to disk.
Connection OpenWriter(const std::string& folder, RecordError* error) {
  Connection db =
      OpenConnection(RecordStore::ConnectionString(folder), SQLITE_OPEN_READWRITE, error);
  if (!db || !Execute(db.get(), "PRAGMA synchronous=FULL", error)) return nullptr;
  return db;
}

// One row on its way into the table. It lives on the stack of the thread that adds it, which
// waits until the row is done, so whichever thread commits it may read its texts meanwhile.
struct PendingRow {
  const std::string& fileName;
  const std::string& url;
  const std::string& title;
  bool done = false;     // guarded by the commit groups' mutex
  bool stored = false;   // valid once done
  int code = SQLITE_OK;  // why it was not stored, valid once done
  int systemErrno = 0;   // and the system's error behind that
};

int BindRow(sqlite3_stmt* insert, const PendingRow& row) {
  const bool bound = BindText(insert, 1, row.fileName) && BindText(insert, 2, row.url) &&
                     (row.title.empty() ? sqlite3_bind_null(insert, 3) == SQLITE_OK
                                        : BindText(insert, 3, row.title));
  return bound ? SQLITE_OK : SQLITE_TOOBIG;
}

// Inserts `batch` in one transaction through `db` and syncs it with a single commit. A row
// that fails alone is left out; a failure that ends the transaction fails every row. Each
// failed row keeps the result code that failed it. Allocates nothing and cannot throw, so the
// rows of the other threads always come back done.
void CommitBatch(sqlite3* db, sqlite3_stmt* insert,
                 const std::vector<PendingRow*>& batch) noexcept {
  auto failAll = [&](int code) {
    const int systemErrno = sqlite3_system_errno(db);
    for (PendingRow* row : batch) {
      row->stored = false;
      if (row->code == SQLITE_OK) {
        row->code = code;
        row->systemErrno = systemErrno;
      }
    }
  };
  int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return failAll(rc);
  for (PendingRow* row : batch) {
    rc = BindRow(insert, *row);
    if (rc == SQLITE_OK) rc = sqlite3_step(insert);
    row->stored = rc == SQLITE_DONE;
    if (!row->stored) {
      row->code = rc;
      row->systemErrno = sqlite3_system_errno(db);
    }
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);    // the bound texts belong to the row's own thread
    if (sqlite3_get_autocommit(db)) {  // SQLite rolled the whole transaction back
      return failAll(rc);
    }
  }
  rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    failAll(rc);
    Execute(db, "ROLLBACK");
  }
}

// Group commit of the inserts of this process, one group per database. The first thread to
// arrive commits every row queued for that database with one transaction and one sync, on its
// own connection; rows that arrive meanwhile wait and go with the next commit. So no writer
// polls SQLite's lock against the others (a poller can miss the free moments for longer than
// any time-out, and its row would be lost), every row waits for at most two commits, and six
// threads share each sync instead of queueing for one sync apiece.
class CommitGroups {
public:
  // Never destroyed: a worker thread the runner abandoned at shut-down may still be storing
  // a row while the process exits and runs the destructors of static objects.
  static CommitGroups& Instance() {
    static CommitGroups* groups = new CommitGroups;
    return *groups;
  }

  // Returns once `row` has been committed to the database at `path` (true) or has failed.
  bool Add(const std::string& path, sqlite3* db, sqlite3_stmt* insert, PendingRow& row) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto entry = m_groups.try_emplace(path).first;
    Group& group = entry->second;
    group.pending.push_back(&row);
    ++group.users;
    while (!row.done) {
      if (group.committing) {
        m_changed.wait(lock);
        continue;
      }
      group.committing = true;
      std::vector<PendingRow*> batch;
      batch.swap(group.pending);
      lock.unlock();
      CommitBatch(db, insert, batch);
      lock.lock();
      for (PendingRow* done : batch) done->done = true;
      group.committing = false;
      m_changed.notify_all();
    }
    if (--group.users == 0) m_groups.erase(entry);
    return row.stored;
  }

private:
  struct Group {
    std::vector<PendingRow*> pending;  // rows waiting for the next commit
    bool committing = false;           // a thread is committing a batch right now
    int users = 0;                     // threads inside Add for this database
  };
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<std::string, Group> m_groups;
};

// Adds one row through the connection `db`; see CommitGroups.
bool InsertRow(const std::string& path, sqlite3* db, sqlite3_stmt* insert,
               const std::string& fileName, const std::string& url, const std::string& title,
               RecordError* error) {
  PendingRow row{fileName, url, title};
  if (CommitGroups::Instance().Add(path, db, insert, row)) return true;
  DescribeCode(row.code, row.systemErrno, nullptr, error);
  return false;
}

// Reads the count and the requested page inside one read transaction, so both see the same rows.
bool ReadPage(sqlite3* db, int page, RecordPage& result) {
  Statement count = PrepareStatement(db, "SELECT count(*) FROM filename");
  if (!count || sqlite3_step(count.get()) != SQLITE_ROW) return false;
  result.count = sqlite3_column_int64(count.get(), 0);

  long long pages = (result.count + kRecordsPerPage - 1) / kRecordsPerPage;
  result.pageCount = pages > INT_MAX ? INT_MAX : static_cast<int>(pages);
  if (page > result.pageCount) page = result.pageCount;
  if (page < 1) page = 1;
  result.page = page;
  if (result.count == 0) return true;

  // Rows are never deleted, so rowid order is insertion order.
  Statement rows = PrepareStatement(db,
                                    "SELECT filename, url, title FROM filename ORDER BY rowid "
                                    "LIMIT ?1 OFFSET ?2");
  if (!rows || sqlite3_bind_int(rows.get(), 1, kRecordsPerPage) != SQLITE_OK ||
      sqlite3_bind_int64(rows.get(), 2, static_cast<sqlite3_int64>(page - 1) * kRecordsPerPage) !=
          SQLITE_OK)
    return false;
  int rc;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
    result.records.push_back(
        {ColumnText(rows.get(), 0), ColumnText(rows.get(), 1), ColumnText(rows.get(), 2)});
  }
  return rc == SQLITE_DONE;
}

}  // namespace

void DescribeSqliteFailure(sqlite3* db, int code, RecordError* error) {
  DescribeCode(code, db != nullptr ? sqlite3_system_errno(db) : 0,
               db != nullptr ? sqlite3_errmsg(db) : nullptr, error);
}

Statement PrepareStatement(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return nullptr;
  }
  return Statement(raw);
}

bool BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;  // SQLite's own limit
  return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC,
                             SQLITE_UTF8) == SQLITE_OK;
}

std::string RecordStore::ConnectionString(const std::string& folder) {
  return folder + kDatabaseFileName;
}

bool RecordStore::PrepareTaskDatabase(const std::string& folder, RecordError* error) {
  try {
    // Opening with CREATE makes an empty file only when none exists; an existing database
    // is opened as it is, and a file that is not a database makes the statements fail.
    Connection db =
        OpenConnection(ConnectionString(folder), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (!db) return false;
    Statement mode = PrepareStatement(db.get(), "PRAGMA journal_mode=WAL");
    int rc = mode ? sqlite3_step(mode.get()) : sqlite3_errcode(db.get());
    if (rc != SQLITE_ROW) {
      DescribeSqliteFailure(db.get(), rc, error);
      return false;
    }
    mode.reset();
    if (!Execute(db.get(), kCreateTable, error)) return false;
    // The rows of a group of files between their flush and their names (records/group_rows.h).
    if (!Execute(db.get(), kCreateIntentTable, error)) return false;
    // What the kept files are, what failed and the tasks' options (records/file_facts.h).
    for (const char* create : {kCreateFactsTable, kCreateFactsIndex, kCreateFactsNameIndex,
                               kCreateFailureTable, kCreateOptionTable}) {
      if (!Execute(db.get(), create, error)) return false;
    }
    // A database that opens may still refuse rows: a read-only file, a table of other columns,
    // a trigger that aborts. One row is tried and taken back, so a task learns it before it
    // saves any file.
    Statement insert = PrepareStatement(db.get(), kInsertRow);
    if (!insert) {
      DescribeSqliteFailure(db.get(), sqlite3_errcode(db.get()), error);
      return false;
    }
    if (!Execute(db.get(), "BEGIN IMMEDIATE", error)) return false;
    rc = sqlite3_bind_text(insert.get(), 1, "", 0, SQLITE_STATIC);
    if (rc == SQLITE_OK) rc = sqlite3_bind_text(insert.get(), 2, "", 0, SQLITE_STATIC);
    if (rc == SQLITE_OK) rc = sqlite3_step(insert.get());
    if (rc != SQLITE_DONE) DescribeSqliteFailure(db.get(), rc, error);
    insert.reset();
    Execute(db.get(), "ROLLBACK");
    return rc == SQLITE_DONE;
  } catch (...) {
    return false;
  }
}

bool RecordStore::AddRecord(const std::string& folder, const std::string& fileName,
                            const std::string& url, const std::string& title, RecordError* error) {
  RecordWriter writer;
  return writer.Open(folder, error) && writer.Add(fileName, url, title, error);
}

bool RecordStore::ReadRecordPage(const std::string& folder, int page, RecordPage& result) {
  RecordPageSnapshot snapshot;
  if (snapshot.Begin(folder)) return snapshot.Read(page, result);
  result = RecordPage();
  return false;
}

bool RecordPageSnapshot::Begin(const std::string& folder) {
  try {
    Connection db = OpenConnection(RecordStore::ConnectionString(folder), SQLITE_OPEN_READONLY);
    // In write-ahead-log mode a read transaction sees the database as its first read found it:
    // one row's look fixes what the page and its count are read from.
    if (!db || !Execute(db.get(), "BEGIN") || !Execute(db.get(), "SELECT 1 FROM filename LIMIT 1"))
      return false;
    m_db = std::move(db);
    return true;
  } catch (...) {
    return false;
  }
}

bool RecordPageSnapshot::Read(int page, RecordPage& result) {
  result = RecordPage();
  if (!m_db) return false;
  try {
    bool ok = ReadPage(m_db.get(), page, result);
    Execute(m_db.get(), "COMMIT");  // ends the read; closing would end it as well
    m_db.reset();
    if (!ok) result = RecordPage();
    return ok;
  } catch (...) {
    m_db.reset();
    result = RecordPage();
    return false;
  }
}

bool RecordStore::ReadRecordedUrls(const std::string& folder,
                                   std::unordered_set<std::string>& urls) {
  urls.clear();
  try {
    Connection db = OpenConnection(ConnectionString(folder), SQLITE_OPEN_READONLY);
    if (!db) return false;
    Statement rows = PrepareStatement(db.get(), "SELECT url FROM filename");
    if (!rows) return false;
    int rc;
    while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
      if (sqlite3_column_type(rows.get(), 0) != SQLITE_NULL) urls.insert(ColumnText(rows.get(), 0));
    }
    if (rc == SQLITE_DONE) return true;
  } catch (...) {
  }
  urls.clear();
  return false;
}

bool RecordStore::HoldsFile(const std::string& folder, const std::string& fileName) {
  try {
    Connection db = OpenConnection(ConnectionString(folder), SQLITE_OPEN_READONLY);
    if (!db) return false;
    Statement row =
        PrepareStatement(db.get(), "SELECT 1 FROM filename WHERE filename = ?1 LIMIT 1");
    return row && BindText(row.get(), 1, fileName) && sqlite3_step(row.get()) == SQLITE_ROW;
  } catch (...) {
    return false;
  }
}

bool RecordWriter::Open(const std::string& folder, RecordError* error) {
  Close();
  try {
    Connection db = OpenWriter(folder, error);
    if (!db) return false;
    Statement insert = PrepareStatement(db.get(), kInsertRow);
    if (!insert) {
      DescribeSqliteFailure(db.get(), sqlite3_errcode(db.get()), error);
      return false;
    }
    m_path = RecordStore::ConnectionString(folder);
    m_db = std::move(db);
    m_insert = std::move(insert);
    return true;
  } catch (...) {
    return false;
  }
}

std::string RecordWriter::FileWithContent(const std::string& sha256) {
  if (!m_db || sha256.empty()) return std::string();
  try {
    if (!m_findContent)
      m_findContent =
          PrepareStatement(m_db.get(), "SELECT filename FROM facts WHERE sha256 = ?1 LIMIT 1");
    if (!m_findContent || !BindText(m_findContent.get(), 1, sha256)) return std::string();
    std::string name;
    if (sqlite3_step(m_findContent.get()) == SQLITE_ROW) name = ColumnText(m_findContent.get(), 0);
    sqlite3_reset(m_findContent.get());
    return name;
  } catch (...) {
    return std::string();
  }
}

bool RecordWriter::Add(const std::string& fileName, const std::string& url,
                       const std::string& title, RecordError* error) {
  if (!m_insert) {
    DescribeCode(SQLITE_MISUSE, 0, "the database is not open", error);
    return false;
  }
  try {
    return InsertRow(m_path, m_db.get(), m_insert.get(), fileName, url, title, error);
  } catch (...) {
    DescribeCode(SQLITE_NOMEM, 0, nullptr, error);
    return false;
  }
}

void RecordWriter::Close() {
  m_findContent.reset();
  m_insert.reset();
  m_db.reset();
}

}  // namespace quarry
