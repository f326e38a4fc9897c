// The committer's thread and the steps of a group (see file_committer.h for their order and why
// it holds after a power cut).
//
// A group takes every file waiting when it closes, so a committer that falls behind commits
// bigger groups and catches up. The worker that hands a file holds no lock while it waits for
// room; the committer takes the record lock only around the final transaction and the telling.
//
// QUARRY_TEST_EXIT_BEFORE_ROWS=K kills the process (SIGKILL, as a crash ends it: nothing
// unwinds) right after the folder flush of its K-th group, before that group's rows: the kill
// tests' crash between the names and the rows.
#include "engine/file_committer.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <shared_mutex>
#include <utility>

namespace quarry {
namespace {

constexpr const char* kExitBeforeRowsVariable = "QUARRY_TEST_EXIT_BEFORE_ROWS";

bool Exists(const std::string& path) {
  struct stat about {};
  return ::lstat(path.c_str(), &about) == 0;
}

}  // namespace

FileCommitter::FileCommitter(const std::string& folder, FileIo& io, CommitOwner& owner,
                             WriterFirstLock& recordLock, const CommitLimits& limits)
    : m_folder(folder),
      m_io(io),
      m_owner(owner),
      m_recordLock(recordLock),
      m_limits(limits),
      m_flush(GroupFlushOf(folder)) {
  if (const char* exitAfter = std::getenv(kExitBeforeRowsVariable)) {
    m_exitAfterGroups = std::atoi(exitAfter);
  }
}

FileCommitter::~FileCommitter() { Finish(); }

void FileCommitter::Start() {
  if (m_thread.joinable()) return;
  RecordError error;
  m_rows.Open(m_folder, &error);  // a failure shows in each group's rows
  m_thread = std::thread([this] { Loop(); });
}

void FileCommitter::NoteFailure(FailureRow failure) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_finished) return;
  if (m_failures.empty()) m_failuresSince = std::chrono::steady_clock::now();
  m_failures.push_back(std::move(failure));
  m_changed.notify_all();
}

void FileCommitter::Hand(WholeFile whole, CommittedFile file) {
  Waiting waiting{std::move(whole), std::move(file), std::chrono::steady_clock::now()};
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] {
      return m_finished || static_cast<int>(m_waiting.size()) < m_limits.pendingFiles;
    });
    if (!m_finished) {
      m_waiting.push_back(std::move(waiting));
      m_changed.notify_all();
      return;
    }
  }
  Lose(waiting, ECANCELED);
}

void FileCommitter::Finish() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_finishing = true;
    m_changed.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
  std::vector<Waiting> left;  // handed to a committer never started
  std::vector<FailureRow> failures;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_finished = true;
    left.swap(m_waiting);
    failures.swap(m_failures);
    m_changed.notify_all();
  }
  if (!left.empty() || !failures.empty()) Commit(left, failures);
}

bool FileCommitter::GroupDueLocked(std::chrono::steady_clock::time_point now) const {
  const auto wait = std::chrono::milliseconds(m_limits.groupWaitMs);
  if (!m_failures.empty() && (m_finishing || now - m_failuresSince >= wait)) return true;
  if (m_waiting.empty()) return false;
  return m_finishing || static_cast<int>(m_waiting.size()) >= m_limits.groupFiles ||
         now - m_waiting.front().since >= wait;
}

void FileCommitter::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    while (!GroupDueLocked(std::chrono::steady_clock::now())) {
      if (m_finishing && m_waiting.empty() && m_failures.empty()) return;
      if (m_waiting.empty() && m_failures.empty()) {
        m_changed.wait(lock);
      } else {
        const auto since = m_waiting.empty()    ? m_failuresSince
                           : m_failures.empty() ? m_waiting.front().since
                                                : std::min(m_failuresSince, m_waiting.front().since);
        m_changed.wait_until(lock, since + std::chrono::milliseconds(m_limits.groupWaitMs));
      }
    }
    std::vector<Waiting> group;
    std::vector<FailureRow> failures;
    group.swap(m_waiting);
    failures.swap(m_failures);
    m_changed.notify_all();  // room for the workers waiting in Hand
    lock.unlock();
    Commit(group, failures);
    lock.lock();
  }
}

void FileCommitter::FlushData(std::vector<Waiting>& group, std::vector<int>& errors) {
  errors.assign(group.size(), 0);
  if (m_flush == GroupFlush::None) return;
  // One file costs one fdatasync either way, and syncfs would also write out whatever else the
  // file system holds.
  if (m_flush == GroupFlush::FileSystem && group.size() > 1 &&
      m_io.Syncfs(group.front().whole.file.Get()) == 0)
    return;
  // A failed syncfs does not say which file's data is missing (a late full disk): each file's
  // own flush does.
  for (std::size_t i = 0; i < group.size(); ++i) {
    if (m_io.Fdatasync(group[i].whole.file.Get()) != 0) errors[i] = errno;
  }
}

void FileCommitter::Lose(Waiting& waiting, int error, const RecordError& rowError) {
  waiting.whole.file.Close();
  if (!waiting.whole.partPath.empty()) ::unlink(waiting.whole.partPath.c_str());
  m_owner.OnFileLost(waiting.file, error, rowError);
}

void FileCommitter::Commit(std::vector<Waiting>& group, std::vector<FailureRow>& failures) {
  std::vector<int> errors;
  FlushData(group, errors);
  std::vector<Waiting> kept;
  std::vector<Record> rows;
  GroupBatch batch;
  batch.failures = std::move(failures);
  for (std::size_t i = 0; i < group.size(); ++i) {
    if (errors[i] != 0) {
      Lose(group[i], errors[i]);
      continue;
    }
    Waiting& waiting = group[i];
    rows.push_back(
        {waiting.whole.nameWith(waiting.whole.counter), waiting.file.url, waiting.file.title});
    kept.push_back(std::move(waiting));
  }
  RecordError rowError;
  if (!m_rows.IsOpen()) m_rows.Open(m_folder, &rowError);  // tried again after a failed open
  if (kept.empty()) {
    // Failures alone are not worth a line when they cannot be stored: they are not recorded, so
    // the next run tries their addresses again anyway.
    if (!batch.failures.empty()) m_rows.MakeFinal(batch, {});
    return;
  }

  // Before any name: a crash from here on leaves rows that say which names to look at. A
  // content the folder holds already is dropped here, where runs in the folder take turns.
  std::vector<long long> intents;
  std::vector<FileFacts> facts;
  for (const Waiting& waiting : kept) facts.push_back(waiting.file.facts);
  std::vector<std::string> repeats;
  if (!m_rows.WriteIntents(rows, &intents, &rowError, &facts, &repeats)) {
    for (Waiting& waiting : kept) Lose(waiting, 0, rowError);
    return;
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (repeats[i].empty()) continue;
    kept[i].whole.file.Close();
    ::unlink(kept[i].whole.partPath.c_str());
    kept[i].whole.partPath.clear();
    m_owner.OnDuplicate(kept[i].file, repeats[i]);
  }
  std::erase_if(kept, [](const Waiting& waiting) { return waiting.whole.partPath.empty(); });

  std::vector<CommittedFile> named;
  rows.clear();
  for (Waiting& waiting : kept) {
    WholeFile& whole = waiting.whole;
    int moved = EEXIST;
    std::string name;
    // Moved while still open, so still locked. A name taken meanwhile from outside moves the
    // file on to the next numbered name, as a download's own rename does.
    for (int counter = whole.counter; moved == EEXIST && counter <= kMaxNameCounter; ++counter) {
      name = whole.nameWith(counter);
      moved = m_io.MoveNoReplace(whole.partPath, name);
    }
    if (moved != 0) {
      batch.lostFacts.emplace_back(waiting.file.url, waiting.file.facts.sha256);
      Lose(waiting, moved);
      continue;
    }
    whole.partPath.clear();
    whole.file.Close();
    waiting.file.path = name;
    batch.rows.push_back({name, waiting.file.url, waiting.file.title});
    batch.facts.push_back(waiting.file.facts);
    named.push_back(waiting.file);
  }
  m_io.SyncFolder(m_folder);
  if (m_exitAfterGroups > 0 && ++m_groupsDone == m_exitAfterGroups) ::kill(::getpid(), SIGKILL);

  std::shared_lock<WriterFirstLock> recording(m_recordLock);
  // Intents of files that were lost go with the others: their addresses are fetched again.
  rowError = RecordError{};
  const bool recorded = m_rows.MakeFinal(batch, intents, &rowError);
  if (!named.empty()) m_owner.OnGroupCommitted(named, recorded, rowError);
}

bool SettleCrashedGroups(const std::string& folder) {
  return GroupRows::SettleIntents(folder, [](const Record& row) {
    return !Exists(row.fileName + kPartSuffix) && Exists(row.fileName);
  });
}

}  // namespace quarry
