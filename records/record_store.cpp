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

#include <sqlite3.h>

#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace quarry {

void ConnectionCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void StatementFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS filename(filename TEXT, url TEXT, title TEXT)";
constexpr const char* kInsertRow = "INSERT INTO filename(filename, url, title) VALUES(?1, ?2, ?3)";

// Opens `path` with `flags` and gives it the busy time-out; empty when it cannot be opened.
Connection OpenConnection(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db(raw);  // owns the handle even when the open failed
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_extended_result_codes(db.get(), 1);
  if (sqlite3_busy_timeout(db.get(), kBusyTimeoutMs) != SQLITE_OK) return nullptr;
  return db;
}

bool Execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A connection that writes rows: an existing database only, each commit synced to disk.
Connection OpenWriter(const std::string& folder) {
  Connection db = OpenConnection(RecordStore::ConnectionString(folder), SQLITE_OPEN_READWRITE);
  if (!db || !Execute(db.get(), "PRAGMA synchronous=FULL")) return nullptr;
  return db;
}

Statement Prepare(sqlite3* db, const char* sql) {
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

// One row on its way into the table. It lives on the stack of the thread that adds it, which
// waits until the row is done, so whichever thread commits it may read its texts meanwhile.
struct PendingRow {
  const std::string& fileName;
  const std::string& url;
  const std::string& title;
  bool done = false;    // guarded by the commit groups' mutex
  bool stored = false;  // valid once done
};

bool BindRow(sqlite3_stmt* insert, const PendingRow& row) {
  return BindText(insert, 1, row.fileName) && BindText(insert, 2, row.url) &&
         (row.title.empty() ? sqlite3_bind_null(insert, 3) == SQLITE_OK
                            : BindText(insert, 3, row.title));
}

// Inserts `batch` in one transaction through `db` and syncs it with a single commit. A row
// that fails alone is left out; a failure that ends the transaction fails every row. Allocates
// nothing and cannot throw, so the rows of the other threads always come back done.
void CommitBatch(sqlite3* db, sqlite3_stmt* insert,
                 const std::vector<PendingRow*>& batch) noexcept {
  auto failAll = [&] {
    for (PendingRow* row : batch) row->stored = false;
  };
  if (!Execute(db, "BEGIN IMMEDIATE")) return;
  for (PendingRow* row : batch) {
    row->stored = BindRow(insert, *row) && sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);    // the bound texts belong to the row's own thread
    if (sqlite3_get_autocommit(db)) {  // SQLite rolled the whole transaction back
      failAll();
      return;
    }
  }
  if (!Execute(db, "COMMIT")) {
    Execute(db, "ROLLBACK");
    failAll();
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
               const std::string& fileName, const std::string& url, const std::string& title) {
  PendingRow row{fileName, url, title};
  return CommitGroups::Instance().Add(path, db, insert, row);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return std::string();  // NULL reads as empty text
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// Reads the count and the requested page inside one read transaction, so both see the same rows.
bool ReadPage(sqlite3* db, int page, RecordPage& result) {
  Statement count = Prepare(db, "SELECT count(*) FROM filename");
  if (!count || sqlite3_step(count.get()) != SQLITE_ROW) return false;
  result.count = sqlite3_column_int64(count.get(), 0);

  long long pages = (result.count + kRecordsPerPage - 1) / kRecordsPerPage;
  result.pageCount = pages > INT_MAX ? INT_MAX : static_cast<int>(pages);
  if (page > result.pageCount) page = result.pageCount;
  if (page < 1) page = 1;
  result.page = page;
  if (result.count == 0) return true;

  // Rows are never deleted, so rowid order is insertion order.
  Statement rows = Prepare(db,
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

std::string RecordStore::ConnectionString(const std::string& folder) {
  return folder + kDatabaseFileName;
}

bool RecordStore::PrepareTaskDatabase(const std::string& folder) {
  try {
    // Opening with CREATE makes an empty file only when none exists; an existing database
    // is opened as it is, and a file that is not a database makes the statements fail.
    Connection db =
        OpenConnection(ConnectionString(folder), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!db) return false;
    Statement mode = Prepare(db.get(), "PRAGMA journal_mode=WAL");
    if (!mode || sqlite3_step(mode.get()) != SQLITE_ROW) return false;
    mode.reset();
    return Execute(db.get(), kCreateTable);
  } catch (...) {
    return false;
  }
}

bool RecordStore::AddRecord(const std::string& folder, const std::string& fileName,
                            const std::string& url, const std::string& title) {
  RecordWriter writer;
  return writer.Open(folder) && writer.Add(fileName, url, title);
}

bool RecordStore::ReadRecordPage(const std::string& folder, int page, RecordPage& result) {
  try {
    result = RecordPage();
    Connection db = OpenConnection(ConnectionString(folder), SQLITE_OPEN_READONLY);
    if (!db || !Execute(db.get(), "BEGIN")) return false;
    bool ok = ReadPage(db.get(), page, result);
    Execute(db.get(), "COMMIT");  // ends the read; closing would end it as well
    if (!ok) result = RecordPage();
    return ok;
  } catch (...) {
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
    Statement rows = Prepare(db.get(), "SELECT url FROM filename");
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
    Statement row = Prepare(db.get(), "SELECT 1 FROM filename WHERE filename = ?1 LIMIT 1");
    return row && BindText(row.get(), 1, fileName) && sqlite3_step(row.get()) == SQLITE_ROW;
  } catch (...) {
    return false;
  }
}

bool RecordWriter::Open(const std::string& folder) {
  Close();
  try {
    Connection db = OpenWriter(folder);
    if (!db) return false;
    Statement insert = Prepare(db.get(), kInsertRow);
    if (!insert) return false;
    m_path = RecordStore::ConnectionString(folder);
    m_db = std::move(db);
    m_insert = std::move(insert);
    return true;
  } catch (...) {
    return false;
  }
}

bool RecordWriter::Add(const std::string& fileName, const std::string& url,
                       const std::string& title) {
  if (!m_insert) return false;
  try {
    return InsertRow(m_path, m_db.get(), m_insert.get(), fileName, url, title);
  } catch (...) {
    return false;
  }
}

void RecordWriter::Close() {
  m_insert.reset();
  m_db.reset();
}

}  // namespace quarry
