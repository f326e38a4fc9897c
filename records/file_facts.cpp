// The facts, failure and option tables: their keys and labels, and the reads of a connection of
// their own. Values are bound, never composed into a statement.
#include "records/file_facts.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace quarry {
namespace {

struct ReasonNames {
  FailureReason reason;
  const char* key;
  const char* label;
  bool retryable;
};

constexpr std::array<ReasonNames, kFailureReasonCount> kReasons = {{
    {FailureReason::NotFound, "not_found", "未找到", false},
    {FailureReason::Refused, "refused", "被拒绝", false},
    {FailureReason::ServerError, "server_error", "服务器出错", true},
    {FailureReason::Unreachable, "unreachable", "无法连接", true},
    {FailureReason::TimeLimit, "time_limit", "超时", true},
    {FailureReason::CutShort, "cut_short", "不完整", true},
    {FailureReason::TooSmall, "too_small", "太小", false},
    {FailureReason::Filtered, "filtered", "被过滤", false},
    {FailureReason::Duplicate, "duplicate", "重复", false},
    {FailureReason::NotAFile, "not_a_file", "不是文件", false},
    {FailureReason::NotWritten, "not_written", "无法写入", true},
}};

const ReasonNames& NamesOf(FailureReason reason) {
  for (const ReasonNames& names : kReasons) {
    if (names.reason == reason) return names;
  }
  return kReasons[3];
}

// A read-only connection to the database of `folder`; empty when there is none.
Connection OpenReader(const std::string& folder, RecordError* error) {
  return OpenConnection(RecordStore::ConnectionString(folder), SQLITE_OPEN_READONLY, error);
}

bool TableExists(sqlite3* db, const char* table) {
  Statement find =
      PrepareStatement(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  return find && sqlite3_bind_text(find.get(), 1, table, -1, SQLITE_STATIC) == SQLITE_OK &&
         sqlite3_step(find.get()) == SQLITE_ROW;
}

// Steps `statement` through its rows, calling `row` for each; false when a step fails.
template <typename Row>
bool EachRow(sqlite3* db, sqlite3_stmt* statement, RecordError* error, Row row) {
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) row();
  if (rc == SQLITE_DONE) return true;
  DescribeSqliteFailure(db, rc, error);
  return false;
}

std::int64_t NumberOr(const std::map<std::string, std::string>& options, const char* name,
                      std::int64_t fallback) {
  const auto found = options.find(name);
  if (found == options.end() || found->second.empty()) return fallback;
  char* end = nullptr;
  const long long value = std::strtoll(found->second.c_str(), &end, 10);
  if (*end != '\0' || value < 0) return fallback;
  return value;
}

}  // namespace

const char* FailureReasonKey(FailureReason reason) { return NamesOf(reason).key; }
const char* FailureReasonLabel(FailureReason reason) { return NamesOf(reason).label; }
bool IsRetryable(FailureReason reason) { return NamesOf(reason).retryable; }

bool FailureReasonFromKey(const std::string& key, FailureReason* reason) {
  for (const ReasonNames& names : kReasons) {
    if (key == names.key) {
      *reason = names.reason;
      return true;
    }
  }
  return false;
}

std::map<std::string, std::string> FileRules::ToOptions() const {
  return {{"min_bytes", std::to_string(minBytes)},
          {"max_bytes", std::to_string(maxBytes)},
          {"min_width", std::to_string(minWidth)},
          {"min_height", std::to_string(minHeight)},
          {"formats", std::to_string(formats)},
          {"near_duplicates", nearDuplicates ? "1" : "0"},
          {"home_duplicates", homeDuplicates ? "1" : "0"}};
}

FileRules FileRules::FromOptions(const std::map<std::string, std::string>& options) {
  FileRules rules;
  constexpr std::int64_t kIntMax = 0x7fffffff;
  rules.minBytes = NumberOr(options, "min_bytes", rules.minBytes);
  rules.maxBytes = NumberOr(options, "max_bytes", rules.maxBytes);
  rules.minWidth = static_cast<int>(std::min(NumberOr(options, "min_width", 0), kIntMax));
  rules.minHeight = static_cast<int>(std::min(NumberOr(options, "min_height", 0), kIntMax));
  rules.formats = static_cast<std::uint32_t>(NumberOr(options, "formats", 0) & 0xffffffff);
  rules.nearDuplicates = NumberOr(options, "near_duplicates", 0) != 0;
  rules.homeDuplicates = NumberOr(options, "home_duplicates", 0) != 0;
  return rules;
}

bool TaskFacts::ReadFiles(const std::string& folder, std::vector<FileEntry>* files,
                          RecordError* error) {
  files->clear();
  try {
    Connection db = OpenReader(folder, error);
    if (!db) return false;
    const bool withFacts = TableExists(db.get(), "facts");
    // The last facts row of a name counts: a name is given once, but a database copied
    // between folders could repeat one.
    Statement rows = PrepareStatement(
        db.get(), withFacts ? "SELECT f.filename, f.url, f.title, x.size, x.sha256, x.width, "
                              "x.height, x.dhash FROM filename f LEFT JOIN facts x ON x.rowid = "
                              "(SELECT max(rowid) FROM facts WHERE filename = f.filename) "
                              "ORDER BY f.rowid"
                            : "SELECT filename, url, title FROM filename ORDER BY rowid");
    if (!rows) {
      DescribeSqliteFailure(db.get(), sqlite3_errcode(db.get()), error);
      return false;
    }
    sqlite3_stmt* row = rows.get();
    return EachRow(db.get(), row, error, [&] {
      FileEntry entry;
      entry.record = {ColumnText(row, 0), ColumnText(row, 1), ColumnText(row, 2)};
      if (withFacts && sqlite3_column_type(row, 3) != SQLITE_NULL) {
        entry.hasFacts = true;
        entry.facts.size = sqlite3_column_int64(row, 3);
        entry.facts.sha256 = ColumnText(row, 4);
        entry.facts.width = sqlite3_column_int(row, 5);
        entry.facts.height = sqlite3_column_int(row, 6);
        entry.facts.hasDhash = sqlite3_column_type(row, 7) != SQLITE_NULL;
        entry.facts.dhash = static_cast<std::uint64_t>(sqlite3_column_int64(row, 7));
      }
      files->push_back(std::move(entry));
    });
  } catch (...) {
    return false;
  }
}

bool TaskFacts::ReadFailures(const std::string& folder, std::vector<FailureRow>* failures,
                             RecordError* error) {
  failures->clear();
  try {
    Connection db = OpenReader(folder, error);
    if (!db) return false;
    if (!TableExists(db.get(), "failure")) return true;
    Statement rows = PrepareStatement(
        db.get(),
        "SELECT url, title, reason, detail, attempts, last_try FROM failure ORDER BY rowid");
    if (!rows) {
      DescribeSqliteFailure(db.get(), sqlite3_errcode(db.get()), error);
      return false;
    }
    sqlite3_stmt* row = rows.get();
    return EachRow(db.get(), row, error, [&] {
      FailureRow failure;
      failure.url = ColumnText(row, 0);
      failure.title = ColumnText(row, 1);
      // A key this version does not know is shown as unreachable, which a retry tries again.
      FailureReasonFromKey(ColumnText(row, 2), &failure.reason);
      failure.detail = ColumnText(row, 3);
      failure.attempts = sqlite3_column_int(row, 4);
      failure.lastTry = ColumnText(row, 5);
      failures->push_back(std::move(failure));
    });
  } catch (...) {
    return false;
  }
}

bool TaskFacts::ReadOptions(const std::string& folder, const std::string& task,
                            std::map<std::string, std::string>* options) {
  options->clear();
  try {
    Connection db = OpenReader(folder, nullptr);
    if (!db) return false;
    if (!TableExists(db.get(), "task_option")) return true;
    Statement rows = PrepareStatement(db.get(), "SELECT name, value FROM task_option WHERE task = ?1");
    if (!rows || !BindText(rows.get(), 1, task)) return false;
    sqlite3_stmt* row = rows.get();
    return EachRow(db.get(), row, nullptr,
                   [&] { (*options)[ColumnText(row, 0)] = ColumnText(row, 1); });
  } catch (...) {
    return false;
  }
}

bool TaskFacts::WriteOptions(const std::string& folder, const std::string& task,
                             const std::map<std::string, std::string>& options,
                             RecordError* error) {
  try {
    if (!RecordStore::PrepareTaskDatabase(folder, error)) return false;
    Connection db = OpenConnection(RecordStore::ConnectionString(folder), SQLITE_OPEN_READWRITE,
                                   error);
    if (!db) return false;
    Statement remove = PrepareStatement(db.get(), "DELETE FROM task_option WHERE task = ?1");
    Statement insert =
        PrepareStatement(db.get(), "INSERT INTO task_option(task, name, value) VALUES(?1, ?2, ?3)");
    if (!remove || !insert) {
      DescribeSqliteFailure(db.get(), sqlite3_errcode(db.get()), error);
      return false;
    }
    int rc = sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      rc = BindText(remove.get(), 1, task) ? sqlite3_step(remove.get()) : SQLITE_TOOBIG;
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    for (const auto& [name, value] : options) {
      if (rc != SQLITE_OK) break;
      const bool bound = BindText(insert.get(), 1, task) && BindText(insert.get(), 2, name) &&
                         BindText(insert.get(), 3, value);
      rc = bound ? sqlite3_step(insert.get()) : SQLITE_TOOBIG;
      sqlite3_reset(insert.get());
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    DescribeSqliteFailure(db.get(), rc, error);
    if (!sqlite3_get_autocommit(db.get()))
      sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace quarry
