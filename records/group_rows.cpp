// The intent table and the moves out of it. Every step runs in one BEGIN IMMEDIATE transaction
// through a connection with synchronous=FULL, so a commit that returns is on disk (the database
// is in write-ahead-log mode: one sync of db.sqlite-wal per commit). Values are bound, never
// composed into the statement text; an empty title is stored as NULL, as in the filename table.
#include "records/group_rows.h"

#include <sqlite3.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace quarry {
namespace {

constexpr const char* kInsertIntent = "INSERT INTO intent(filename, url, title) VALUES(?1, ?2, ?3)";
constexpr const char* kInsertFinal =
    "INSERT INTO filename(filename, url, title) VALUES(?1, ?2, ?3)";
constexpr const char* kDeleteIntent = "DELETE FROM intent WHERE rowid = ?1";

// Runs `insert` once for `row`; SQLITE_DONE on success.
int InsertRow(sqlite3_stmt* insert, const Record& row) {
  const bool bound = BindText(insert, 1, row.fileName) && BindText(insert, 2, row.url) &&
                     (row.title.empty() ? sqlite3_bind_null(insert, 3) == SQLITE_OK
                                        : BindText(insert, 3, row.title));
  const int rc = bound ? sqlite3_step(insert) : SQLITE_TOOBIG;
  sqlite3_reset(insert);
  return rc;
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// Runs `body` inside BEGIN IMMEDIATE ... COMMIT on `db`; rolls back when it or the commit fails.
template <typename Body>
bool InTransaction(sqlite3* db, RecordError* error, Body body) {
  int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = body();
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  DescribeSqliteFailure(db, rc, error);
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

// Says that the connection is missing (its Open failed), unless the failure said why already.
bool NotOpen(RecordError* error) {
  if (error != nullptr && error->text.empty()) error->text = "the database is not open";
  return false;
}

Connection OpenWriter(const std::string& folder, RecordError* error) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(RecordStore::ConnectionString(folder).c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK || sqlite3_extended_result_codes(db.get(), 1) != SQLITE_OK ||
      sqlite3_busy_timeout(db.get(), kBusyTimeoutMs) != SQLITE_OK ||
      sqlite3_exec(db.get(), "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db.get(), kCreateIntentTable, nullptr, nullptr, nullptr) != SQLITE_OK) {
    DescribeSqliteFailure(db.get(), rc != SQLITE_OK ? rc : sqlite3_errcode(db.get()), error);
    return nullptr;
  }
  return db;
}

}  // namespace

bool GroupRows::Open(const std::string& folder, RecordError* error) {
  try {
    m_db = OpenWriter(folder, error);
    return m_db != nullptr;
  } catch (...) {
    return false;
  }
}

bool GroupRows::WriteIntents(const std::vector<Record>& rows, std::vector<long long>* ids,
                             RecordError* error) {
  ids->clear();
  if (!m_db) return NotOpen(error);
  sqlite3* db = m_db.get();
  Statement insert = PrepareStatement(db, kInsertIntent);
  if (!insert) {
    DescribeSqliteFailure(db, sqlite3_errcode(db), error);
    return false;
  }
  const bool written = InTransaction(db, error, [&] {
    for (const Record& row : rows) {
      const int rc = InsertRow(insert.get(), row);
      if (rc != SQLITE_DONE) return rc;
      ids->push_back(sqlite3_last_insert_rowid(db));
    }
    return SQLITE_OK;
  });
  if (!written) ids->clear();
  return written;
}

bool GroupRows::MakeFinal(const std::vector<Record>& rows, const std::vector<long long>& ids,
                          RecordError* error) {
  if (!m_db) return NotOpen(error);
  sqlite3* db = m_db.get();
  Statement insert = PrepareStatement(db, kInsertFinal);
  Statement remove = PrepareStatement(db, kDeleteIntent);
  if (!insert || !remove) {
    DescribeSqliteFailure(db, sqlite3_errcode(db), error);
    return false;
  }
  return InTransaction(db, error, [&] {
    for (const Record& row : rows) {
      const int rc = InsertRow(insert.get(), row);
      if (rc != SQLITE_DONE) return rc;
    }
    for (const long long id : ids) {
      int rc = sqlite3_bind_int64(remove.get(), 1, id);
      if (rc == SQLITE_OK) rc = sqlite3_step(remove.get());
      sqlite3_reset(remove.get());
      if (rc != SQLITE_DONE) return rc;
    }
    return SQLITE_OK;
  });
}

bool GroupRows::SettleIntents(const std::string& folder,
                              const std::function<bool(const Record&)>& isWhole,
                              RecordError* error) {
  try {
    Connection db = OpenWriter(folder, error);
    if (!db) return false;
    Statement read = PrepareStatement(db.get(), "SELECT rowid, filename, url, title FROM intent");
    Statement insert = PrepareStatement(db.get(), kInsertFinal);
    Statement remove = PrepareStatement(db.get(), kDeleteIntent);
    if (!read || !insert || !remove) {
      DescribeSqliteFailure(db.get(), sqlite3_errcode(db.get()), error);
      return false;
    }
    return InTransaction(db.get(), error, [&] {
      // Read whole first: the table is not changed under a statement still reading it.
      std::vector<std::pair<long long, Record>> intents;
      int rc;
      while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
        intents.emplace_back(sqlite3_column_int64(read.get(), 0),
                             Record{ColumnText(read.get(), 1), ColumnText(read.get(), 2),
                                    ColumnText(read.get(), 3)});
      }
      sqlite3_reset(read.get());
      if (rc != SQLITE_DONE) return rc;
      for (const auto& [id, row] : intents) {
        if (isWhole(row) && (rc = InsertRow(insert.get(), row)) != SQLITE_DONE) return rc;
        rc = sqlite3_bind_int64(remove.get(), 1, id);
        if (rc == SQLITE_OK) rc = sqlite3_step(remove.get());
        sqlite3_reset(remove.get());
        if (rc != SQLITE_DONE) return rc;
      }
      return SQLITE_OK;
    });
  } catch (...) {
    return false;
  }
}

}  // namespace quarry
