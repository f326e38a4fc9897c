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

#include "records/file_facts.h"
#include "records/record_store.h"

namespace quarry {

inline constexpr const char* kCreateIntentTable =
    "CREATE TABLE IF NOT EXISTS intent(filename TEXT, url TEXT, title TEXT)";

// What one group writes once its files have their names.
struct GroupBatch {
  std::vector<Record> rows{};          // the files named
  std::vector<FileFacts> facts{};      // one for each row, or none
  std::vector<FailureRow> failures{};  // addresses that did not become files
  // Files lost after their intents were written: the facts written with them, by address and
  // SHA-256, go too.
  std::vector<std::pair<std::string, std::string>> lostFacts{};
};

// One connection to a task database for the groups of one committer (one thread).
class GroupRows {
public:
  // Opens the database of `folder` (prepared by RecordStore::PrepareTaskDatabase). False, with
  // the reason in `error`, when it cannot be opened.
  bool Open(const std::string& folder, RecordError* error = nullptr);
  bool IsOpen() const { return m_db != nullptr; }

  // Writes `rows` as intents in one transaction, on disk when it returns true, with `facts`
  // (when given, one for each row) into the facts table; their intents' row ids are left in
  // `ids`. A row whose content (its facts' SHA-256) the folder holds already, kept or on its
  // way, is not written: `repeats` (when given) names the file that holds it, "" for the rows
  // written. The transaction is the folder's only writer at the time, in any process, so of
  // two runs receiving the same content at once exactly one writes it. On failure nothing is
  // written.
  bool WriteIntents(const std::vector<Record>& rows, std::vector<long long>* ids,
                    RecordError* error = nullptr, const std::vector<FileFacts>* facts = nullptr,
                    std::vector<std::string>* repeats = nullptr);

  // In one transaction on disk when it returns true: the batch's rows into the filename table,
  // their facts (written with their intents) given their final names, the failures of their
  // addresses deleted, its failures stored (a failure met again counts one more attempt) and
  // the intents `ids` deleted. On failure none of it happened.
  bool MakeFinal(const GroupBatch& batch, const std::vector<long long>& ids,
                 RecordError* error = nullptr);

  // Settles the intents a crash left in the database of `folder`, in one transaction: each for
  // which `isWhole` is true becomes a row, every one is deleted, and so are the facts of files
  // that no row names. False when the database could
  // not be read or written (the intents then stay for the next start).
  static bool SettleIntents(const std::string& folder,
                            const std::function<bool(const Record&)>& isWhole,
                            RecordError* error = nullptr);

private:
  Connection m_db;
};

}  // namespace quarry
