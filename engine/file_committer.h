// FileCommitter: makes the files of a task durable in groups. A worker hands it a file received
// whole under its ".part" name and goes on with its next address; the committer's thread closes
// a group when it holds CommitLimits::groupFiles files, when the oldest has waited groupWaitMs,
// or when the task ends or stops (Finish), and then, for the whole group:
//   1. flushes the files' data: one syncfs of the folder's file system, or one fdatasync per
//      file where the file system is not known to honour syncfs or the group holds one file;
//   2. writes the group's rows as intents (records/group_rows.h), synced;
//   3. renames each NAME.part to NAME, never over an existing name (a numbered name instead);
//   4. flushes the folder once;
//   5. moves the rows into the filename table and deletes the intents, in one transaction, and
//      tells the owner, which lists the files in the views; both under the record lock, so that
//      a view attached meanwhile sees each file once.
// So after a power cut a file under its final name is whole and every row names a whole file,
// and a crash loses at most the group being committed and the files waiting for the next one:
// the intents are settled at the next start (SettleCrashedGroups), the ".part" files removed,
// and whatever was not named is fetched again, under a new name.
//
// Workers wait in Hand while CommitLimits::pendingFiles files are waiting, so the committer
// bounds what a crash can lose and the memory it holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/transfer.h"
#include "platform/files.h"
#include "platform/writer_first_lock.h"
#include "records/group_rows.h"
#include "records/record_store.h"

namespace quarry {

// A file made durable under its final name, with its row.
struct CommittedFile {
  std::string path;  // the final name
  std::string url;
  std::string title;
  int thread = 1;  // the worker that received it, whose log page tells its fate
  FileFacts facts;
};

// What a committer tells its task.
class CommitOwner {
public:
  virtual ~CommitOwner() = default;
  // `files` are whole under their names; `recorded` says whether their rows are on disk too
  // (else `error` says why; the rows stay intents and become rows at the next start). Called
  // under the record lock, in the committer's thread.
  virtual void OnGroupCommitted(const std::vector<CommittedFile>& files, bool recorded,
                                const RecordError& error) = 0;
  // `file` could not be made durable (`error`: the errno value, or 0 with `rowError` saying why
  // its row could not be written): its ".part" is removed and its address is not recorded.
  virtual void OnFileLost(const CommittedFile& file, int error, const RecordError& rowError) = 0;
  // `file` was not kept: its content reached the folder's records first under `repeats`
  // (another run in the same folder, in this process or another). Its ".part" is removed.
  virtual void OnDuplicate(const CommittedFile& file, const std::string& repeats) = 0;
};

// Measured on the nginx bench (2000 files of 20 KB, 6 threads, ext4): a group per file took
// about 5 times as long as groups of 32; 16 was a little slower than 32, and 64 or more no
// faster. The wait bounds how long a slow harvest's file stays unnamed; 100 ms cost nothing.
struct CommitLimits {
  int groupFiles = 32;        // a group closes when it holds this many files
  int groupWaitMs = 100;      // or when its oldest file has waited this long
  int pendingFiles = 4 * 32;  // a worker waits in Hand while this many wait
};

class FileCommitter {
public:
  // Commits into `folder` (ending with '/'): files through `io`, rows through its database,
  // reported to `owner` with `recordLock` held shared. The flush follows the folder's file
  // system (GroupFlushOf) unless SetFlush says otherwise.
  FileCommitter(const std::string& folder, FileIo& io, CommitOwner& owner,
                WriterFirstLock& recordLock, const CommitLimits& limits = CommitLimits{});
  ~FileCommitter();  // Finish
  FileCommitter(const FileCommitter&) = delete;
  FileCommitter& operator=(const FileCommitter&) = delete;

  void SetFlush(GroupFlush flush) { m_flush = flush; }  // before Start
  GroupFlush Flush() const { return m_flush; }
  void Start();

  // Takes `whole`, received by worker `thread` as `file.path` from `file.url`, for a coming
  // group; waits while too many files are waiting. After Finish the file is dropped (its
  // ".part" removed).
  void Hand(WholeFile whole, CommittedFile file);
  // Keeps `failure` for the next group's transaction; a failure waits no longer than a file.
  // Never waits. After Finish it is dropped.
  void NoteFailure(FailureRow failure);

  // Commits every file handed so far and ends the thread; nothing when not started or done.
  void Finish();

private:
  struct Waiting {
    WholeFile whole;
    CommittedFile file;
    std::chrono::steady_clock::time_point since;
  };
  void Loop();
  bool GroupDueLocked(std::chrono::steady_clock::time_point now) const;
  void Commit(std::vector<Waiting>& group, std::vector<FailureRow>& failures);
  // Step 1: false for a file whose data may not be on disk, with its errno in `errors`.
  void FlushData(std::vector<Waiting>& group, std::vector<int>& errors);
  void Lose(Waiting& waiting, int error, const RecordError& rowError = RecordError{});

  const std::string m_folder;
  FileIo& m_io;
  CommitOwner& m_owner;
  WriterFirstLock& m_recordLock;
  const CommitLimits m_limits;
  GroupFlush m_flush;
  GroupRows m_rows;           // the committer thread's connection
  int m_exitAfterGroups = 0;  // a test's crash between the renames and the rows; 0: never
  int m_groupsDone = 0;

  std::mutex m_mutex;
  std::condition_variable m_changed;  // a file handed, Finish asked for, or room made
  std::vector<Waiting> m_waiting;     // mutex
  std::vector<FailureRow> m_failures;  // mutex
  std::chrono::steady_clock::time_point m_failuresSince;  // mutex: when the first one came
  bool m_finishing = false;           // mutex
  bool m_finished = false;            // mutex: Hand drops files from here on
  std::thread m_thread;
};

// Settles the intents that a crash left in the task database of `folder`: a row whose file is
// whole under its name (its ".part" gone, the name present) becomes final, the others are
// dropped, their ".part" left for the leftover removal and their addresses fetched again. Only
// for a folder that no other run uses. False when the database could not be used.
bool SettleCrashedGroups(const std::string& folder);

}  // namespace quarry
