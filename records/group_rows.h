// The rows of a group of files made durable together (engine/file_committer.h), in two steps:
// before the files take their names, their rows are written to the table intent(filename, url,
// title) of the task database, and once the names are on disk the rows move into the filename
// table in one transaction that deletes the intents. Each step is one synced transaction. Rows
// that a crash left as intents are settled when a task starts in the folder: each becomes a row
// when its file is whole under its name, and is dropped otherwise.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "records/record_store.h"

namespace quarry {

inline constexpr const char* kCreateIntentTable =
    "CREATE TABLE IF NOT EXISTS intent(filename TEXT, url TEXT, title TEXT)";

// One connection to a task database for the groups of one committer (one thread).
class GroupRows {
public:
  // Opens the database of `folder` (prepared by RecordStore::PrepareTaskDatabase). False, with
  // the reason in `error`, when it cannot be opened.
  bool Open(const std::string& folder, RecordError* error = nullptr);
  bool IsOpen() const { return m_db != nullptr; }

  // Writes `rows` as intents in one transaction, on disk when it returns true; their row ids
  // are left in `ids`. On failure nothing is written.
  bool WriteIntents(const std::vector<Record>& rows, std::vector<long long>* ids,
                    RecordError* error = nullptr);

  // In one transaction on disk when it returns true: `rows` into the filename table and the
  // intents `ids` deleted. On failure neither happened.
  bool MakeFinal(const std::vector<Record>& rows, const std::vector<long long>& ids,
                 RecordError* error = nullptr);

  // Settles the intents a crash left in the database of `folder`, in one transaction: each for
  // which `isWhole` is true becomes a row, every one is deleted. False when the database could
  // not be read or written (the intents then stay for the next start).
  static bool SettleIntents(const std::string& folder,
                            const std::function<bool(const Record&)>& isWhole,
                            RecordError* error = nullptr);

private:
  Connection m_db;
};

}  // namespace quarry
