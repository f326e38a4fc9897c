// The runner's threads: Start and Stop, the worker loop that fetches one address per step,
// the monitor that notices the end of the task, and the counters and records the workers
// update.
//
// No thread sleeps longer than it must: a worker that found the queue empty waits for the next
// queued link or the stop, and the monitor for a worker to go idle or the stop (WakeSignal).
// The timing's limits only bound those waits.
//
// Ending is decided by the monitor alone: the queue is drained and every worker is idle. A
// worker marks itself busy under the slot lock before it takes from the queue and clears the
// mark only after a take found nothing, so an address that a worker holds always shows as a
// busy slot. Every mark also advances a count of takes begun; the monitor reads the slots and
// that count, asks the queue, and reads them again. All idle both times with the count
// unchanged means no take began in between, so the drained queue and the idle workers were
// true together.
//
// A full disk (a file or a row that finds no room) stops the task from the worker that met
// it: the flag is raised as a stop command would, and the fault kept for task control. Other
// workers end their downloads at their next receive instead of failing file after file. A
// proxy that could not be reached for a few exchanges in a row stops the task the same way.
//
// Locks are never nested, except that the views are called under the view lock. No lock is
// held across a network operation.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <shared_mutex>

#include "engine/task_runner.h"
#include "http/transfer.h"
#include "platform/format.h"
#include "records/record_store.h"

namespace quarry {

namespace {

// The line for a file address that the task's records hold already, or that another worker
// is fetching: it is not fetched again.
constexpr const char* kRepeatedFileText = "跳过重复的文件：%s ...";

// The fault of a run that ended without any result page.
constexpr const char* kNothingArrivedFault =
    "没有收到任何结果页（无法连接搜索服务、安全连接被拒绝或结果页都被拒绝）";

// The fault of a task whose proxy could not be reached time after time.
std::string ProxyGivenUpFault(const ProxySetting& proxy) {
  return "代理服务器 " + ProxyShownText(proxy) + " 连续 " +
         std::to_string(TaskRunner::kProxyFailuresToGiveUp) + " 次无法连接";
}

// The fault of a task stopped by a full disk, with the system's words for it.
std::string DiskFullFault(const char* folder, const std::string& cause) {
  return std::string("任务文件夹 ") + folder + " 所在的磁盘已满（" + cause + "）";
}

// The local time now, as strftime's `format` writes it (at most 31 bytes).
std::string LocalTime(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32] = {};
  std::strftime(text, sizeof(text), format, &local);
  return text;
}

// Day of month, hour, minute, second, two digits each: the prefix of a saved file's name.
std::string TimeStamp() { return LocalTime("%d%H%M%S"); }

// "YYYY-MM-DD HH:MM:SS", for the failure list.
std::string LocalTimeText() { return LocalTime("%Y-%m-%d %H:%M:%S"); }

}  // namespace

void TaskRunner::SetTiming(const RunnerTiming& timing) { m_timing = timing; }

void TaskRunner::SetHttpTimeouts(const HttpTimeouts& timeouts) { m_http = timeouts; }

void TaskRunner::SetFinishedSink(TaskFinishedSink* sink) {
  std::lock_guard<std::mutex> guard(m_viewLock);
  m_finishedSink = sink;
}

void TaskRunner::DetachFinishedSink() { SetFinishedSink(nullptr); }

void TaskRunner::SetEvents(TaskEvents* events, const struct Task* task) {
  std::lock_guard<std::mutex> guard(m_viewLock);
  m_events = events;
  m_eventTask = task;
}

void TaskRunner::TellProgress(bool final) {
  const auto now = std::chrono::steady_clock::now();
  if (!final && now - m_toldAt < std::chrono::milliseconds(kProgressMs)) return;
  const TaskProgress progress = Progress();
  const SearchTask record = TaskCopy();
  const bool same = progress == m_toldProgress &&
                    record.pagesFetched == m_toldRecord.pagesFetched &&
                    record.filesFetched == m_toldRecord.filesFetched;
  if (same && !final) return;
  m_toldProgress = progress;
  m_toldRecord = record;
  m_toldAt = now;
  std::lock_guard<std::mutex> guard(m_viewLock);
  if (m_events != nullptr) m_events->OnProgress(m_eventTask, record, progress);
}

bool TaskRunner::Start() {
  if (m_started || m_stop.load() == 0 || m_task == nullptr) return false;
  m_started = true;
  m_kind = m_task->kind;
  m_committer = std::make_unique<FileCommitter>(m_folder, *m_fileIo, *this, m_recordLock);
  m_committer->Start();
  m_stop.store(0);
  const int workers = m_threadCount;
  m_liveThreads.store(workers + 1);
  for (int i = 0; i <= workers; ++i) {
    {
      std::lock_guard<std::mutex> guard(m_slotLock);
      m_slots[i].busy = 1;
      m_slotUsed[i] = true;
    }
    if (i == 0) {
      m_slots[i].thread = std::thread([this] { MonitorLoop(); });
    } else {
      m_slots[i].thread = std::thread([this, i] { WorkerLoop(i); });
    }
  }
  return true;
}

void TaskRunner::Stop() {
  if (m_stop.load() == 1) return;
  RaiseStop();
  Pause(m_timing.stopMs);
}

void TaskRunner::RaiseStop() {
  m_stop.store(1);
  m_workSignal.Raise();
  m_idleSignal.Raise();
}

bool TaskRunner::WaitForThreads(int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (m_liveThreads.load() > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (ThreadSlot& slot : m_slots) {
    if (slot.thread.joinable()) slot.thread.join();
  }
  return true;
}

void TaskRunner::Abandon(std::unique_ptr<TaskRunner> runner) {
  if (!runner) return;
  runner->AbandonThreads();
  // Leaked on purpose: freeing it would pull the queue and the locks from under the threads.
  static_cast<void>(runner.release());
}

void TaskRunner::AbandonThreads() {
  // From here on the threads own the runner: it is never freed, and the task record they
  // would write goes to a copy of the runner's own, so the caller may save or free the task.
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    if (m_task != nullptr) {
      m_ownRecord = *m_task;
      m_task = &m_ownRecord;
    }
  }
  for (ThreadSlot& slot : m_slots) {
    if (slot.thread.joinable()) slot.thread.detach();
  }
}

SearchTask TaskRunner::TaskCopy() {
  std::lock_guard<std::mutex> guard(m_counterLock);
  return m_task != nullptr ? *m_task : SearchTask{};
}

void TaskRunner::SetTaskState(TaskState state) {
  std::lock_guard<std::mutex> guard(m_counterLock);
  if (m_task != nullptr) m_task->state = state;
}

std::int32_t TaskRunner::Pages() {
  std::lock_guard<std::mutex> guard(m_counterLock);
  return m_pages;
}

std::int32_t TaskRunner::Files() {
  std::lock_guard<std::mutex> guard(m_counterLock);
  return m_files;
}

bool TaskRunner::SlotUsed(int slot) {
  if (slot < 0 || slot >= kThreadSlots) return false;
  std::lock_guard<std::mutex> guard(m_slotLock);
  return m_slotUsed[slot];
}

bool TaskRunner::Add(int thread, QueueEnd end, const LinkToQueue& link) {
  // Every address is asked for once per run, whichever pages list it: result pages that link
  // each other would otherwise be fetched over and over, and every copy of a link tried again.
  if (!FirstSighting(link) || !Requeue(thread, end, link)) return false;
  // Links found on pages; a file link the records hold is skipped without a trace, so it is
  // no work to come. (A link to another result page counts too: only its head tells.)
  if (!link.isSearchPage && !m_retry && !IsRecorded(std::string(link.url))) {
    std::lock_guard<std::mutex> guard(m_counterLock);
    ++m_linksFound;
  }
  return true;
}

bool TaskRunner::Requeue(int thread, QueueEnd end, const LinkToQueue& link) {
  LinkToQueue unchecked = link;
  unchecked.checkSeen = false;
  const bool queued = m_queue.Add(thread, end, unchecked);
  if (queued) m_workSignal.Raise();
  return queued;
}

void TaskRunner::NoteUnreachable(int n, const char* host, const char* address) {
  if (!m_unreachable.NoteFailure(host, address)) return;
  char line[400];
  std::snprintf(line, sizeof line,
                "主机 %.255s 已有 %d 个地址无法连接，本次任务不再请求它的其他地址...", host,
                UnreachableHosts::kFailuresToGiveUp);
  Log(n, line);
}

std::int32_t TaskRunner::PageCount() { return RunnablePageCount(TaskCopy()); }

void TaskRunner::CountRefusal() {
  std::lock_guard<std::mutex> guard(m_counterLock);
  ++m_refusedPages;
}

void TaskRunner::CountPage(int thread) {
  if (thread >= 1 && thread < kThreadSlots) {
    const TakenUrl* taken = m_taken[static_cast<std::size_t>(thread)];
    if (taken != nullptr && taken->isSearchPage) {
      std::lock_guard<std::mutex> guard(m_counterLock);
      ++m_ownPagesDone;
    }
  }
  Count(&m_pages, &SearchTask::pagesFetched);
}

void TaskRunner::OnReceived(int, std::size_t bytes) {
  std::lock_guard<std::mutex> guard(m_counterLock);
  m_bytesReceived += static_cast<std::int64_t>(bytes);
}

TaskProgress TaskRunner::Progress() {
  std::lock_guard<std::mutex> guard(m_counterLock);
  TaskProgress progress;
  progress.resultPagesTotal = m_ownPagesPlanned;
  // A page refused and asked again is begun twice; never beyond the pages planned.
  progress.resultPageReading = std::min(m_ownPagesBegun, m_ownPagesPlanned);
  progress.resultPagesDone = std::min(m_ownPagesDone, m_ownPagesPlanned);
  progress.saved = m_saved;
  progress.failed = m_failed;
  progress.duplicates = m_duplicates;
  progress.bytesReceived = m_bytesReceived;
  progress.linksFound = m_linksFound;
  return progress;
}

void TaskRunner::CountFile() { Count(&m_files, &SearchTask::filesFetched); }

void TaskRunner::Count(std::int32_t* own, std::int32_t SearchTask::*taskCounter) {
  SearchTask copy{};
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    ++*own;
    if (m_task == nullptr) return;
    ++(m_task->*taskCounter);
    copy = *m_task;
  }
  std::lock_guard<std::mutex> guard(m_viewLock);
  if (m_infoView != nullptr) m_infoView->ShowTask(copy);
}

void TaskRunner::RecordFile(int thread, RecordWriter& records, const std::string& localPath,
                            const std::string& address, const std::string& title) {
  // The row goes in before the view hears of it, both under the record lock: a view reading
  // the rows as it is attached then sees each file once. The workers share the lock, so it
  // never makes one wait for another's row.
  RecordError error;
  bool stored;
  {
    std::shared_lock<WriterFirstLock> recording(m_recordLock);
    // Opening a connection per row cost more than the row: SQLite looks at the database, its
    // log and their locks anew each time, and the last one to close folds the log back in.
    stored = (records.IsOpen() || records.Open(m_folder, &error)) &&
             records.Add(localPath, address, title, &error);
    std::lock_guard<std::mutex> guard(m_viewLock);
    if (m_resultView != nullptr) m_resultView->OnRecordAdded(m_kind, localPath, address, title);
    if (m_events != nullptr) m_events->OnFileSaved(m_eventTask, m_kind, localPath, address);
  }
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    ++m_saved;
    if (stored) ++m_recorded;
  }
  if (stored) {
    std::lock_guard<std::mutex> guard(m_recordedLock);
    m_recordedUrls.insert(address);
    return;
  }
  // The file stays on disk without a record; the task goes on unless the disk is full.
  Log(thread, "记录写入失败：" + localPath + "（" + error.text + "）...");
  if (error.diskFull) StopWithFault(thread, DiskFullFault(m_folder, error.text));
}

void TaskRunner::OnGroupCommitted(const std::vector<CommittedFile>& files, bool recorded,
                                  const RecordError& error) {
  // Under the record lock, held by the committer across the rows' commit and this telling.
  {
    std::lock_guard<std::mutex> guard(m_viewLock);
    if (m_resultView != nullptr) {
      for (const CommittedFile& file : files)
        m_resultView->OnRecordAdded(m_kind, file.path, file.url, file.title);
    }
    if (m_events != nullptr) {
      for (const CommittedFile& file : files)
        m_events->OnFileSaved(m_eventTask, m_kind, file.path, file.url);
    }
  }
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    m_saved += static_cast<std::int32_t>(files.size());
    if (recorded) m_recorded += static_cast<std::int32_t>(files.size());
  }
  {
    std::lock_guard<std::mutex> guard(m_recordedLock);
    for (const CommittedFile& file : files) {
      if (recorded) m_recordedUrls.insert(file.url);
      m_claimedUrls.erase(file.url);
    }
  }
  std::vector<std::pair<std::string, std::string>> contents;
  for (const CommittedFile& file : files) {
    m_contents.Named(file.facts.sha256, file.path);
    contents.emplace_back(file.facts.sha256, file.path);
  }
  m_homeIndex.Add(contents);
  if (recorded) return;
  // The files stay on disk, their rows intents that the next start makes final.
  for (const CommittedFile& file : files) {
    Log(file.thread, "记录写入失败：" + file.path + "（" + error.text + "）...");
  }
  if (error.diskFull) StopWithFault(files.front().thread, DiskFullFault(m_folder, error.text));
}

void TaskRunner::OnDuplicate(const CommittedFile& file, const std::string& repeats) {
  ReleaseFile(file.url);
  m_contents.Release(file.facts.sha256, file.path);
  CountDuplicate(file.thread, file.url, file.title, repeats, false);
}

void TaskRunner::OnFileLost(const CommittedFile& file, int error, const RecordError& rowError) {
  ReleaseFile(file.url);
  m_contents.Release(file.facts.sha256, file.path);
  const std::string cause = error != 0 ? std::strerror(error) : rowError.text;
  Log(file.thread, "文件保存失败：" + file.path + "（" + cause + "）...");
  if (error == ENOSPC || error == EDQUOT || rowError.diskFull) {
    StopWithFault(file.thread, DiskFullFault(m_folder, cause));
  }
}

void TaskRunner::OnFileError(int thread, int error) {
  if (error == ENOSPC || error == EDQUOT) {
    StopWithFault(thread, DiskFullFault(m_folder, std::strerror(error)));
  }
}

void TaskRunner::StopWithFault(int thread, const std::string& fault) {
  {
    std::lock_guard<std::mutex> guard(m_faultLock);
    if (!m_fault.empty()) return;  // the first reason is the one told
    m_fault = fault;
  }
  // Raised first: the other workers stop taking addresses at once, not after the line.
  RaiseStop();
  Log(thread, fault + "，任务已自动停止......");
}

std::string TaskRunner::Fault() {
  std::lock_guard<std::mutex> guard(m_faultLock);
  return m_fault;
}

void TaskRunner::OnProxyOutcome(int thread, const ProxySetting& proxy, ExchangeStart start) {
  if (start == ExchangeStart::NoSocket) return;  // the proxy was not asked
  const bool failed = IsProxyFailure(start);
  bool givenUp = false;
  {
    std::lock_guard<std::mutex> guard(m_faultLock);
    int& failures = m_proxyFailures[ProxyUrlText(proxy)];
    // Given up: the task is stopping, and its fault told it once.
    if (failures >= kProxyFailuresToGiveUp) return;
    failures = start == ExchangeStart::ProxyUnreachable ? failures + 1 : 0;
    givenUp = failures == kProxyFailuresToGiveUp;
    // Stopped before any other worker can learn of the give-up and take another address.
    if (givenUp) m_stop.store(1);
    if (failed && m_proxyProblem.empty()) m_proxyProblem = ProxyFailureText(start, proxy);
  }
  if (givenUp) {
    StopWithFault(thread, ProxyGivenUpFault(proxy));
  } else if (failed) {
    Log(thread, ProxyFailureLine(start, proxy));
  }
}

RunOutcome TaskRunner::Outcome() {
  RunOutcome outcome;
  outcome.fault = Fault();
  {
    std::lock_guard<std::mutex> guard(m_faultLock);
    outcome.proxyProblem = m_proxyProblem;
  }
  std::lock_guard<std::mutex> guard(m_counterLock);
  outcome.saved = m_saved;
  outcome.recorded = m_recorded;
  outcome.mode = Mode();
  outcome.ran = true;
  outcome.refusedPages = m_refusedPages;
  outcome.nothingArrived = outcome.fault == kNothingArrivedFault;
  outcome.failed = m_failed;
  outcome.duplicates = m_duplicates;
  outcome.retry = m_retry;
  return outcome;
}

bool TaskRunner::IsRecorded(const std::string& address) {
  std::lock_guard<std::mutex> guard(m_recordedLock);
  return m_recordedUrls.count(address) != 0;
}

bool TaskRunner::ClaimFile(const std::string& address) {
  std::lock_guard<std::mutex> guard(m_recordedLock);
  if (m_recordedUrls.count(address) != 0) return false;
  return m_claimedUrls.insert(address).second;
}

void TaskRunner::ReleaseFile(const std::string& address) {
  std::lock_guard<std::mutex> guard(m_recordedLock);
  m_claimedUrls.erase(address);
}

void TaskRunner::Pause(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void TaskRunner::SetBusy(int slot, std::uint8_t busy) {
  std::lock_guard<std::mutex> guard(m_slotLock);
  m_slots[slot].busy = busy;
  if (busy != 0) ++m_takesBegun;
}

bool TaskRunner::AllWorkersIdleLocked() const {
  for (int i = 1; i <= m_threadCount; ++i) {
    if (m_slots[i].busy != 0) return false;
  }
  return true;
}

void TaskRunner::WorkerLoop(int n) {
  TakenUrl taken{};
  RecordWriter records;  // this worker's connection to the task's database
  while (m_stop.load() == 0) {
    if (TakeNext(n, &taken)) FetchTaken(n, taken, records);
  }
  records.Close();
  SetBusy(n, 0);
  m_idleSignal.Raise();
  m_liveThreads.fetch_sub(1);
}

// The slot shows busy from before the take, so that the monitor never sees a drained queue
// while this worker holds what it took. After an empty take it is idle again before the wait,
// or the monitor would find this worker busy nearly always; a link queued since the take ends
// the wait at once.
bool TaskRunner::TakeNext(int n, TakenUrl* taken) {
  *taken = TakenUrl{};
  const std::uint64_t queuedBefore = m_workSignal.Count();
  SetBusy(n, 1);
  if (m_queue.Take(n, taken)) return true;
  SetBusy(n, 0);
  m_idleSignal.Raise();
  m_workSignal.Wait(queuedBefore, std::chrono::milliseconds(m_timing.idleMs));
  return false;
}

void TaskRunner::FetchTaken(int n, const TakenUrl& taken, RecordWriter& records) {
  // A file the database already holds is not fetched again, and no connection is made for it.
  // Result pages are never recorded, so they are always fetched: they lead to new links.
  if (!taken.isSearchPage && IsRecorded(taken.url)) {
    Log(n, Format(kRepeatedFileText, taken.url));
    return;
  }
  if (taken.isSearchPage) {
    std::lock_guard<std::mutex> guard(m_counterLock);
    ++m_ownPagesBegun;
  }
  m_taken[n] = &taken;
  m_road->Fetch(n, taken, records);
  m_taken[n] = nullptr;
}

void TaskRunner::SaveFile(int n, const TakenUrl& taken, const ExchangeTarget& target,
                          const HeadAnswer& head, RecordWriter& records,
                          const FileRequestExtras& extras) {
  FileInspector inspector(m_rules, m_kind == FileKind::Image);
  // Too short, of unknown length (an absent length is 0) or too long: not asked for.
  if (!inspector.CheckLength(head.length)) {
    NoteFailure(n, taken.url, inspector.Refused().reason, inspector.Refused().detail);
    return;
  }
  // A link found on two pages may be in another worker's hands right now.
  if (!ClaimFile(taken.url)) {
    Log(n, Format(kRepeatedFileText, taken.url));
    return;
  }
  std::string localPath = std::string(m_folder) + TimeStamp() + "-" + head.name;
  Log(n, Format("开始下载文件：%s ...", taken.url));
  WholeFile whole;
  FileDownloadEnd end;
  const FileResult result =
      DownloadFile(*this, n, target, static_cast<std::uint32_t>(head.length), localPath, m_http,
                   &whole, extras, &inspector, &end);
  // A file kept goes to the committer, which names it, records it and ends the claim.
  const bool handed =
      result == FileResult::Complete && KeepWhole(n, taken, whole, inspector, localPath, records);
  if (!handed) ReleaseFile(taken.url);
  if (result == FileResult::NotConnected) NoteUnreachable(n, target.host, taken.url);
  if (result == FileResult::Refused) {
    NoteFailure(n, taken.url, inspector.Refused().reason, inspector.Refused().detail);
  } else if (result != FileResult::Complete) {
    NoteDownloadFailure(n, taken.url, result, end);
  }
  // A file that failed ends with the line the download wrote to say why, not as finished.
  if (handed) Log(n, "文件下载完成...");
  CountFile();
}

bool TaskRunner::KeepWhole(int n, const TakenUrl& taken, WholeFile& whole,
                           FileInspector& inspector, const std::string& localPath,
                           RecordWriter& records) {
  const auto drop = [&whole] {
    whole.file.Close();
    ::unlink(whole.partPath.c_str());
  };
  if (!inspector.Finish()) {
    drop();
    NoteFailure(n, taken.url, inspector.Refused().reason, inspector.Refused().detail);
    return false;
  }
  FileFacts facts = inspector.Facts();
  std::string repeats = m_contents.Claim(facts.sha256, localPath);
  if (repeats.empty()) {
    // Kept since this run started by another run in the same folder, or in another folder of
    // the home when the check spans the home.
    if (!records.IsOpen()) records.Open(m_folder);
    repeats = records.FileWithContent(facts.sha256);
    if (repeats.empty() && m_rules.homeDuplicates) repeats = m_homeIndex.Find(facts.sha256);
    if (!repeats.empty()) m_contents.Release(facts.sha256, localPath);
  }
  bool near = false;
  if (repeats.empty() && m_rules.nearDuplicates && inspector.IsPicture() &&
      PictureHashOfFile(whole.file.Get(), facts.size, &facts.dhash)) {
    facts.hasDhash = true;
    repeats = m_contents.ClaimNear(facts.dhash, localPath);
    near = !repeats.empty();
    if (near) m_contents.Release(facts.sha256, localPath);
  }
  if (!repeats.empty()) {
    drop();
    CountDuplicate(n, taken.url, taken.title, repeats, near);
    return false;
  }
  m_committer->Hand(std::move(whole), CommittedFile{localPath, taken.url, taken.title, n, facts});
  return true;
}

void TaskRunner::CountDuplicate(int n, const std::string& address, const std::string& title,
                                const std::string& repeats, bool near) {
  const std::string name = std::filesystem::path(repeats).filename().string();
  Log(n, Format(near ? "与已保存的图片 %s 几乎相同，不保存..." : "与已保存的文件 %s 内容相同，不保存...",
                name));
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    ++m_duplicates;
  }
  StoreFailure({address, title, FailureReason::Duplicate,
                Format(near ? "与 %s 几乎相同" : "与 %s 相同", name), 1, LocalTimeText()});
}

void TaskRunner::StoreFailure(FailureRow row) {
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    ++m_failed;
  }
  {
    std::lock_guard<std::mutex> guard(m_viewLock);
    if (m_events != nullptr) m_events->OnFailure(m_eventTask, row.url, row.reason);
  }
  m_committer->NoteFailure(std::move(row));
}

void TaskRunner::NoteDownloadFailure(int n, const char* address, FileResult result,
                                     const FileDownloadEnd& end) {
  switch (result) {
    case FileResult::NotConnected:
    case FileResult::NoSocket:
      NoteFailure(n, address, FailureReason::Unreachable, "无法连接服务器");
      return;
    case FileResult::NotWritten:
      NoteFailure(n, address, FailureReason::NotWritten, "文件无法写入");
      return;
    default: break;
  }
  switch (end.failure) {
    case FileFailure::ErrorStatus:
      NoteFailure(n, address, StatusFailure(end.status), Format("状态 %d", end.status));
      return;
    case FileFailure::TimedOut:
    case FileFailure::NoLengthTimedOut:
      NoteFailure(n, address, FailureReason::TimeLimit,
                  Format("接收超时（收到 %s）", SizeText(static_cast<std::int64_t>(end.received))));
      return;
    case FileFailure::HeadTooLong:
      NoteFailure(n, address, FailureReason::NotAFile, "应答头过长");
      return;
    case FileFailure::ClosedEarly:
    case FileFailure::ReceiveFailed:
    case FileFailure::BrokenChunks:
    case FileFailure::None:
      NoteFailure(n, address, FailureReason::CutShort,
                  Format("只收到 %s", SizeText(static_cast<std::int64_t>(end.received))));
      return;
  }
}

void TaskRunner::NoteFailure(int n, std::string_view address, FailureReason reason,
                             const std::string& detail) {
  if (IsStopped() || n < 1 || n >= kThreadSlots) return;
  const TakenUrl* taken = m_taken[static_cast<std::size_t>(n)];
  if (taken != nullptr && taken->isSearchPage) return;
  Log(n, Format("未保存（%s：%s）：%s", FailureReasonLabel(reason), detail, std::string(address)));
  StoreFailure({std::string(address), taken != nullptr ? taken->title : "", reason, detail, 1,
                LocalTimeText()});
}

bool TaskRunner::TaskDrained() {
  std::uint64_t takes = 0;
  {
    std::lock_guard<std::mutex> guard(m_slotLock);
    if (!AllWorkersIdleLocked()) return false;
    takes = m_takesBegun;
  }
  if (!m_queue.IsDrained()) return false;
  std::lock_guard<std::mutex> guard(m_slotLock);
  return AllWorkersIdleLocked() && m_takesBegun == takes;
}

void TaskRunner::MonitorLoop() {
  const auto waitForIdle = [this](std::uint64_t seen, int limitMs) {
    m_idleSignal.Wait(seen, std::chrono::milliseconds(limitMs));
  };
  while (m_stop.load() == 0) {
    const std::uint64_t seen = m_idleSignal.Count();
    if (TaskDrained()) {
      // A run that ended by itself without a single page has fetched nothing: a failure,
      // whatever stopped the pages (no connection, refused handshakes, refused pages).
      if (Pages() == 0 && !m_retry) StopWithFault(1, kNothingArrivedFault);
      RaiseStop();
      break;
    }
    waitForIdle(seen, m_timing.monitorMs);
    TellProgress(false);
  }
  // Stopped from outside, a worker may still be in a download; it ends at its next receive.
  for (;;) {
    const std::uint64_t seen = m_idleSignal.Count();
    {
      std::lock_guard<std::mutex> guard(m_slotLock);
      if (AllWorkersIdleLocked()) break;
    }
    waitForIdle(seen, m_timing.settleMs);
  }
  // Every handed file is named and recorded, so the counts are final, before the end is told.
  if (m_committer) m_committer->Finish();
  TellProgress(true);
  SearchTask* task = nullptr;
  {
    std::lock_guard<std::mutex> guard(m_counterLock);
    task = m_task;
  }
  {
    std::lock_guard<std::mutex> guard(m_viewLock);
    if (m_finishedSink != nullptr) m_finishedSink->PostTaskFinished(task);
  }
  SetBusy(0, 0);
  m_liveThreads.fetch_sub(1);
}

}  // namespace quarry
