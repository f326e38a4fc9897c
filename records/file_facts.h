// What a task database holds beside its filename table, in tables that older readers ignore:
//   facts(filename, url, size, sha256, width, height, dhash): what a kept file is (its bytes'
//     SHA-256, and for a picture its size in pixels and its difference hash), one row per file,
//     written in the transaction that names it, so a task knows its files' contents at its next
//     start without reading them again;
//   failure(url, title, reason, detail, attempts, last_try): every address that did not become
//     a file, with why (a key of FailureReason) and how often it was tried; a file that arrives
//     later deletes its row;
//   task_option(task, name, value): each task's own filters (FileRules as name=value pairs),
//     under the task's key, since tasks of several keywords may share one folder.
// Reading and the task options go through a connection of their own; the rows of a running
// task are written by its committer (group_rows.h) in its groups' transactions.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/record_store.h"

namespace quarry {

inline constexpr const char* kCreateFactsTable =
    "CREATE TABLE IF NOT EXISTS facts(filename TEXT, url TEXT, size INTEGER, sha256 TEXT, "
    "width INTEGER, height INTEGER, dhash INTEGER)";
inline constexpr const char* kCreateFactsIndex =
    "CREATE INDEX IF NOT EXISTS facts_sha256 ON facts(sha256)";
inline constexpr const char* kCreateFactsNameIndex =
    "CREATE INDEX IF NOT EXISTS facts_filename ON facts(filename)";
inline constexpr const char* kCreateFailureTable =
    "CREATE TABLE IF NOT EXISTS failure(url TEXT PRIMARY KEY, title TEXT, reason TEXT NOT NULL, "
    "detail TEXT, attempts INTEGER NOT NULL DEFAULT 1, last_try TEXT)";
inline constexpr const char* kCreateOptionTable =
    "CREATE TABLE IF NOT EXISTS task_option(task TEXT, name TEXT, value TEXT, "
    "PRIMARY KEY(task, name))";

// What a kept file is.
struct FileFacts {
  std::int64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits, "" when unknown
  int width = 0;       // a picture's size in pixels; 0 when not a picture or not read
  int height = 0;
  std::uint64_t dhash = 0;  // a picture's difference hash, valid when hasDhash
  bool hasDhash = false;
};

// A kept file's row with its facts, as the export and the duplicate checks read them.
struct FileEntry {
  Record record;
  FileFacts facts;
  bool hasFacts = false;  // a row written before facts were kept, or settled after a crash
};

// Why an address did not become a file. The keys stored in the table are fixed; the order is
// the failure page's.
enum class FailureReason {
  NotFound,     // 404 or 410
  Refused,      // any other 4xx (forbidden, unauthorised), or a proxy that refused
  ServerError,  // a 5xx answer
  Unreachable,  // no resolution, no connection, a reset, a refused secure connection
  TimeLimit,    // an answer that did not come, or stopped coming, in time
  CutShort,     // a body that ended before its length or broke its framing
  TooSmall,     // under the task's minimum size, of no known length, or empty
  Filtered,     // over the maximum size, too small a picture, or a format not kept
  Duplicate,    // the same content (or, when asked, a near-identical picture) kept already
  NotAFile,     // no usable name or type, a redirect the road does not follow
  NotWritten,   // the disk refused it
};
inline constexpr int kFailureReasonCount = 11;

const char* FailureReasonKey(FailureReason reason);    // "not_found", ...
const char* FailureReasonLabel(FailureReason reason);  // the window's words
bool FailureReasonFromKey(const std::string& key, FailureReason* reason);
// Worth another try: network errors, time limits, cut bodies, 5xx answers and a full disk.
bool IsRetryable(FailureReason reason);

struct FailureRow {
  std::string url;
  std::string title;
  FailureReason reason = FailureReason::Unreachable;
  std::string detail;   // a few words of what happened ("状态 404", the file it repeats)
  int attempts = 1;     // runs that tried it
  std::string lastTry;  // "YYYY-MM-DD HH:MM:SS", local time
};

// The task's filters and duplicate checks, stored as name=value pairs. The defaults keep every
// answer of 2,000 bytes or more and drop only exact duplicates within the task.
struct FileRules {
  std::int64_t minBytes = 2000;
  std::int64_t maxBytes = 0;  // 0: no upper bound
  int minWidth = 0;           // pictures only; 0: any
  int minHeight = 0;
  std::uint32_t formats = 0;    // picture formats kept (bits of PictureFormat); 0: every one
  bool nearDuplicates = false;  // a picture close to a kept one is a duplicate
  bool homeDuplicates = false;  // the duplicate check spans every task folder of the home

  bool operator==(const FileRules&) const = default;
  std::map<std::string, std::string> ToOptions() const;
  // Reads the pairs it knows; a missing or unreadable value keeps the default.
  static FileRules FromOptions(const std::map<std::string, std::string>& options);
};

class TaskFacts {
public:
  // Every row of the filename table with its facts, in insertion order. False when the
  // database cannot be read; a database without the facts table reads rows without facts.
  static bool ReadFiles(const std::string& folder, std::vector<FileEntry>* files,
                        RecordError* error = nullptr);
  // Every failure, in the order they were first met.
  static bool ReadFailures(const std::string& folder, std::vector<FailureRow>* failures,
                           RecordError* error = nullptr);
  // The options of the task known as `task` (TaskKey); false (and none) when the database
  // cannot be read. A database without options reads as none.
  static bool ReadOptions(const std::string& folder, const std::string& task,
                          std::map<std::string, std::string>* options);
  // Replaces the options of `task`, creating the folder's database when it is missing (not the
  // folder).
  static bool WriteOptions(const std::string& folder, const std::string& task,
                           const std::map<std::string, std::string>& options,
                           RecordError* error = nullptr);
};

}  // namespace quarry
