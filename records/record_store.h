// The records database of a task: one SQLite file, db.sqlite, in the task folder, holding the
// table filename(filename TEXT, url TEXT, title TEXT) with one row per saved file.
//
// RecordStore is stateless: PrepareTaskDatabase creates the database when a task starts,
// AddRecord opens its own connection for one row, and ReadRecordPage reads one page of thirty
// rows for the result browser. RecordWriter keeps one connection (and its compiled insert)
// open for the length of a task, one per worker thread, for harvests that save files faster
// than a connection per row allows. Concurrent inserts of the process are committed together;
// every connection waits up to kBusyTimeoutMs for a lock held elsewhere, so concurrent writers
// and readers all succeed. Nothing here throws: failures are false.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quarry {

inline constexpr const char* kDatabaseFileName = "db.sqlite";
inline constexpr int kRecordsPerPage = 30;   // one page of the result browser
inline constexpr int kBusyTimeoutMs = 5000;  // how long a connection waits for another's lock

// One row of the table; a NULL title reads as empty text.
struct Record {
  std::string fileName;
  std::string url;
  std::string title;
};

// Why a database could not be prepared or a row was not stored, for the log.
struct RecordError {
  std::string text;       // SQLite's (or the system's) words for it
  bool diskFull = false;  // the disk (or the user's quota) has no room left
};

// One page of the table as the result browser shows it.
struct RecordPage {
  long long count = 0;          // rows in the whole table
  int page = 1;                 // the page actually read, counted from 1
  int pageCount = 0;            // count / 30, rounded up; 0 for an empty table
  std::vector<Record> records;  // at most kRecordsPerPage rows, in insertion order
};

class RecordStore {
public:
  // Creates db.sqlite with the table in `folder` (which ends with '/') when it is missing;
  // an existing database and its rows are kept. Then checks that a row can be written (one is
  // inserted and rolled back). False, with the reason in `error`, when the folder cannot hold
  // it, the existing file is no database, or it refuses rows (read-only, a table of other
  // columns, a trigger that aborts).
  static bool PrepareTaskDatabase(const std::string& folder, RecordError* error = nullptr);

  // Inserts one row through a connection of its own; an empty title is stored as NULL. True
  // once the row is committed to disk; false on any failure (no database, locked too long,
  // disk full), with the reason in `error`. Never creates the database.
  static bool AddRecord(const std::string& folder, const std::string& fileName,
                        const std::string& url, const std::string& title,
                        RecordError* error = nullptr);

  // The path of the task database: the folder followed by db.sqlite, with nothing between.
  static std::string ConnectionString(const std::string& folder);

  // Replaces `urls` with the source address of every row: what a task running again need not
  // fetch again. False, with `urls` empty, when the database cannot be opened or read.
  static bool ReadRecordedUrls(const std::string& folder, std::unordered_set<std::string>& urls);

  // True when a row names `fileName` as its saved file; false when none does or the database
  // cannot be read.
  static bool HoldsFile(const std::string& folder, const std::string& fileName);

  // Reads the row count and page `page` (counted from 1) of 30 rows in insertion order. A
  // page below 1 reads page 1; a page past the last reads the last page, and `page` of the
  // result says which was read. False when the database cannot be opened or read.
  static bool ReadRecordPage(const std::string& folder, int page, RecordPage& result);
};

// Owners of the SQLite handles, closing/finalizing them when they go.
struct ConnectionCloser {
  void operator()(sqlite3* db) const;
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const;
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// One page of a task database read in two steps: Begin fixes the rows the page will be read
// from (those committed by then), cheaply, where it matters which rows those are; Read reads
// the page from them, maybe on another thread (never both at once), and lets them go.
class RecordPageSnapshot {
public:
  // False when the database of `folder` cannot be opened or read.
  bool Begin(const std::string& folder);
  // As RecordStore::ReadRecordPage, from the rows Begin fixed; false also without a Begin.
  bool Read(int page, RecordPage& result);

private:
  Connection m_db;
};

// Shared by the record files. Fills `error` (when given) from result code `code` of `db` and the
// system error behind it.
void DescribeSqliteFailure(sqlite3* db, int code, RecordError* error);
// The prepared statement of `sql`; empty when it does not prepare.
Statement PrepareStatement(sqlite3* db, const char* sql);
// Binds `text` to parameter `index` without a copy: it must live until the statement's step.
bool BindText(sqlite3_stmt* statement, int index, const std::string& text);
// The text of `column` in the current row; NULL reads as "".
std::string ColumnText(sqlite3_stmt* statement, int column);
// Opens `path` with `flags` (SQLITE_OPEN_*), extended result codes on and the busy time-out
// set; empty, with the reason in `error`, when it cannot be opened.
Connection OpenConnection(const std::string& path, int flags, RecordError* error = nullptr);

// A connection to one task database kept open for many rows; use one per thread (it is not
// shared between threads). Each row is on disk when Add returns; rows that threads add at the
// same moment share one commit.
class RecordWriter {
public:
  RecordWriter() = default;
  RecordWriter(RecordWriter&&) noexcept = default;
  RecordWriter& operator=(RecordWriter&&) noexcept = default;

  // Opens the database of `folder` (it must exist already). False, with the reason in
  // `error`, when it cannot be opened.
  bool Open(const std::string& folder, RecordError* error = nullptr);
  bool IsOpen() const { return m_insert != nullptr; }
  // Inserts one row as RecordStore::AddRecord does. False when not open or on any failure,
  // with the reason in `error`.
  bool Add(const std::string& fileName, const std::string& url, const std::string& title,
           RecordError* error = nullptr);
  // The name of a kept file whose content has this SHA-256, as the database holds it now
  // (another process may have kept it since this one started); "" for none or when it cannot
  // be read.
  std::string FileWithContent(const std::string& sha256);
  void Close();

private:
  std::string m_path;  // the database file, which names the commit group of its rows
  Connection m_db;     // declared first so that it is closed after the statements
  Statement m_insert;
  Statement m_findContent;  // prepared at its first use
};

}  // namespace quarry
