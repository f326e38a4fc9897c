// The home's content index on SQLite, one connection shared under a lock.
#include "records/home_index.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace quarry {
namespace {

constexpr const char* kCreateContent =
    "CREATE TABLE IF NOT EXISTS content(sha256 TEXT, path TEXT, PRIMARY KEY(sha256, path))";

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool HomeIndex::Open(const std::string& sysFolder, RecordError* error) {
  std::lock_guard<std::mutex> guard(m_lock);
  try {
    m_db = OpenConnection(sysFolder + kHomeIndexFileName,
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (!m_db) return false;
    for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=OFF", kCreateContent}) {
      const int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) {
        DescribeSqliteFailure(m_db.get(), rc, error);
        m_db.reset();
        return false;
      }
    }
    return true;
  } catch (...) {
    m_db.reset();
    return false;
  }
}

bool HomeIndex::IsOpen() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_db != nullptr;
}

std::string HomeIndex::Find(const std::string& sha256, const std::string& except) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_db || sha256.empty()) return std::string();
  try {
    Statement rows = PrepareStatement(m_db.get(), "SELECT path FROM content WHERE sha256 = ?1");
    if (!rows || !BindText(rows.get(), 1, sha256)) return std::string();
    while (sqlite3_step(rows.get()) == SQLITE_ROW) {
      std::string path = ColumnText(rows.get(), 0);
      if (path != except && IsFile(path)) return path;
    }
  } catch (...) {
  }
  return std::string();
}

bool HomeIndex::Add(const std::vector<std::pair<std::string, std::string>>& files) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_db) return false;
  try {
    Statement insert =
        PrepareStatement(m_db.get(), "INSERT OR IGNORE INTO content(sha256, path) VALUES(?1, ?2)");
    if (!insert) return false;
    int rc = sqlite3_exec(m_db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (const auto& [sha256, path] : files) {
      if (rc != SQLITE_OK) break;
      if (sha256.empty()) continue;
      rc = BindText(insert.get(), 1, sha256) && BindText(insert.get(), 2, path)
               ? sqlite3_step(insert.get())
               : SQLITE_TOOBIG;
      sqlite3_reset(insert.get());
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(m_db.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && !sqlite3_get_autocommit(m_db.get()))
      sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK;
  } catch (...) {
    return false;
  }
}

}  // namespace quarry
