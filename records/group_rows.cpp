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
constexpr const char* kInsertFacts =
    "INSERT INTO facts(filename, url, size, sha256, width, height, dhash) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)";
constexpr const char* kFindContent = "SELECT filename FROM facts WHERE sha256 = ?1 LIMIT 1";
constexpr const char* kNameFacts =
    "UPDATE facts SET filename = ?1 WHERE url = ?2 AND sha256 IS ?3";
constexpr const char* kDeleteOrphanFacts =
    "DELETE FROM facts WHERE filename NOT IN (SELECT filename FROM filename WHERE filename IS NOT "
    "NULL)";
constexpr const char* kDeleteLostFacts =
    "DELETE FROM facts WHERE url = ?1 AND sha256 IS ?2 AND filename NOT IN (SELECT filename FROM "
    "filename WHERE filename IS NOT NULL)";
constexpr const char* kDeleteFailure = "DELETE FROM failure WHERE url = ?1";
// An address that a row names is no failure: another run in the folder kept it meanwhile.
constexpr const char* kUpsertFailure =
    "INSERT INTO failure(url, title, reason, detail, attempts, last_try) "
    "SELECT ?1, ?2, ?3, ?4, 1, ?5 WHERE NOT EXISTS (SELECT 1 FROM filename WHERE url = ?1) "
    "ON CONFLICT(url) DO UPDATE SET title = excluded.title, reason = excluded.reason, "
    "detail = excluded.detail, attempts = attempts + 1, last_try = excluded.last_try";

// Runs `insert` once for `row`; SQLITE_DONE on success.
int InsertRow(sqlite3_stmt* insert, const Record& row) {
  const bool bound = BindText(insert, 1, row.fileName) && BindText(insert, 2, row.url) &&
                     (row.title.empty() ? sqlite3_bind_null(insert, 3) == SQLITE_OK
                                        : BindText(insert, 3, row.title));
  const int rc = bound ? sqlite3_step(insert) : SQLITE_TOOBIG;
  sqlite3_reset(insert);
  return rc;
}

int InsertFacts(sqlite3_stmt* insert, const Record& row, const FileFacts& facts) {
  const bool bound =
      BindText(insert, 1, row.fileName) && BindText(insert, 2, row.url) &&
      sqlite3_bind_int64(insert, 3, facts.size) == SQLITE_OK &&
      (facts.sha256.empty() ? sqlite3_bind_null(insert, 4) == SQLITE_OK
                            : BindText(insert, 4, facts.sha256)) &&
      sqlite3_bind_int(insert, 5, facts.width) == SQLITE_OK &&
      sqlite3_bind_int(insert, 6, facts.height) == SQLITE_OK &&
      (facts.hasDhash
           ? sqlite3_bind_int64(insert, 7, static_cast<sqlite3_int64>(facts.dhash)) == SQLITE_OK
           : sqlite3_bind_null(insert, 7) == SQLITE_OK);
  const int rc = bound ? sqlite3_step(insert) : SQLITE_TOOBIG;
  sqlite3_reset(insert);
  return rc;
}

int UpsertFailure(sqlite3_stmt* upsert, const FailureRow& failure) {
  const bool bound = BindText(upsert, 1, failure.url) &&
                     (failure.title.empty() ? sqlite3_bind_null(upsert, 2) == SQLITE_OK
                                            : BindText(upsert, 2, failure.title)) &&
                     sqlite3_bind_text(upsert, 3, FailureReasonKey(failure.reason), -1,
                                       SQLITE_STATIC) == SQLITE_OK &&
                     BindText(upsert, 4, failure.detail) && BindText(upsert, 5, failure.lastTry);
  const int rc = bound ? sqlite3_step(upsert) : SQLITE_TOOBIG;
  sqlite3_reset(upsert);
  return rc;
}

// Runs `statement` with `text` bound to its first parameter; SQLITE_DONE on success.
int StepWithText(sqlite3_stmt* statement, const std::string& text) {
  const int rc = BindText(statement, 1, text) ? sqlite3_step(statement) : SQLITE_TOOBIG;
  sqlite3_reset(statement);
  return rc;
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
      sqlite3_exec(db.get(), kCreateIntentTable, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db.get(), kCreateFactsTable, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db.get(), kCreateFailureTable, nullptr, nullptr, nullptr) != SQLITE_OK) {
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
                             RecordError* error, const std::vector<FileFacts>* facts,
                             std::vector<std::string>* repeats) {
  ids->clear();
  if (repeats != nullptr) repeats->assign(rows.size(), std::string());
  if (!m_db) return NotOpen(error);
  sqlite3* db = m_db.get();
  Statement insert = PrepareStatement(db, kInsertIntent);
  Statement find = PrepareStatement(db, kFindContent);
  Statement insertFacts = PrepareStatement(db, kInsertFacts);
  if (!insert || !find || !insertFacts) {
    DescribeSqliteFailure(db, sqlite3_errcode(db), error);
    return false;
  }
  const bool written = InTransaction(db, error, [&] {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Record& row = rows[i];
      const FileFacts* rowFacts = facts != nullptr && i < facts->size() ? &(*facts)[i] : nullptr;
      if (rowFacts != nullptr && !rowFacts->sha256.empty() && repeats != nullptr) {
        if (!BindText(find.get(), 1, rowFacts->sha256)) return SQLITE_TOOBIG;
        const int rc = sqlite3_step(find.get());
        if (rc == SQLITE_ROW) (*repeats)[i] = ColumnText(find.get(), 0);
        sqlite3_reset(find.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return rc;
        if (!(*repeats)[i].empty()) {
          ids->push_back(-1);
          continue;
        }
      }
      int rc = InsertRow(insert.get(), row);
      if (rc != SQLITE_DONE) return rc;
      ids->push_back(sqlite3_last_insert_rowid(db));
      if (rowFacts != nullptr && (rc = InsertFacts(insertFacts.get(), row, *rowFacts)) != SQLITE_DONE)
        return rc;
    }
    return SQLITE_OK;
  });
  if (!written) {
    ids->clear();
    if (repeats != nullptr) repeats->assign(rows.size(), std::string());
  }
  return written;
}

bool GroupRows::MakeFinal(const GroupBatch& batch, const std::vector<long long>& ids,
                          RecordError* error) {
  if (!m_db) return NotOpen(error);
  sqlite3* db = m_db.get();
  Statement insert = PrepareStatement(db, kInsertFinal);
  Statement remove = PrepareStatement(db, kDeleteIntent);
  Statement facts = PrepareStatement(db, kNameFacts);
  Statement settled = PrepareStatement(db, kDeleteFailure);
  Statement failed = PrepareStatement(db, kUpsertFailure);
  Statement lost = PrepareStatement(db, kDeleteLostFacts);
  if (!insert || !remove || !facts || !settled || !failed || !lost) {
    DescribeSqliteFailure(db, sqlite3_errcode(db), error);
    return false;
  }
  return InTransaction(db, error, [&] {
    for (std::size_t i = 0; i < batch.rows.size(); ++i) {
      const Record& row = batch.rows[i];
      int rc = InsertRow(insert.get(), row);
      if (rc == SQLITE_DONE && i < batch.facts.size()) {
        const std::string& sha256 = batch.facts[i].sha256;
        const bool bound = BindText(facts.get(), 1, row.fileName) &&
                           BindText(facts.get(), 2, row.url) &&
                           (sha256.empty() ? sqlite3_bind_null(facts.get(), 3) == SQLITE_OK
                                           : BindText(facts.get(), 3, sha256));
        rc = bound ? sqlite3_step(facts.get()) : SQLITE_TOOBIG;
        sqlite3_reset(facts.get());
      }
      if (rc == SQLITE_DONE) rc = StepWithText(settled.get(), row.url);
      if (rc != SQLITE_DONE) return rc;
    }
    for (const FailureRow& failure : batch.failures) {
      const int rc = UpsertFailure(failed.get(), failure);
      if (rc != SQLITE_DONE) return rc;
    }
    for (const auto& [url, sha256] : batch.lostFacts) {
      const bool bound = BindText(lost.get(), 1, url) &&
                         (sha256.empty() ? sqlite3_bind_null(lost.get(), 2) == SQLITE_OK
                                         : BindText(lost.get(), 2, sha256));
      const int rc = bound ? sqlite3_step(lost.get()) : SQLITE_TOOBIG;
      sqlite3_reset(lost.get());
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
      return sqlite3_exec(db.get(), kDeleteOrphanFacts, nullptr, nullptr, nullptr);
    });
  } catch (...) {
    return false;
  }
}

}  // namespace quarry
