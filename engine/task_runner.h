// TaskRunner: the engine of one running task. It holds the task's URL queue, its counters, the
// stop flag that every thread reads, the attached views and the thread slots of the monitor
// (slot 0) and the workers (slots 1 to 6). What a worker does with a taken address is the
// task's road's to say (engine/road.h): the runner holds one road and serves it as its host.
//
// Init seeds a freshly constructed runner: it binds it to the task, creates the task folder
// and its records database and checks that both take writes (a task that could save nothing
// does not start), removes the ".part" files a crash left there, reads the addresses the
// database already holds (a worker skips those, so a task run again fetches only what is new),
// and has its road queue the result pages for the task's keyword and kind. The runner is
// constructed with its stop flag raised ("not started"); the threads are created later by Start.
//
// A runner stops by itself when the disk under its folder is full, and when its proxy could not
// be reached kProxyFailuresToGiveUp times in a row: every further file, or every request, would
// fail the same way. Its fault then says why, for task control to report.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "engine/file_checks.h"
#include "engine/file_committer.h"
#include "engine/road.h"
#include "engine/search_task.h"
#include "engine/task.h"
#include "engine/task_events.h"
#include "engine/task_progress.h"
#include "engine/unreachable_hosts.h"
#include "engine/url_queue.h"
#include "engine/views.h"
#include "harvest/link_sink.h"
#include "http/http_session.h"
#include "http/proxy.h"
#include "http/transfer.h"
#include "http/transfer_context.h"
#include "platform/files.h"
#include "platform/wake_signal.h"
#include "platform/writer_first_lock.h"
#include "records/file_facts.h"
#include "records/home_index.h"
#include "records/record_store.h"

namespace quarry {

// One thread of a runner: its busy flag (1 while it handles an address), read by the monitor
// under the slot lock, and the thread itself.
struct ThreadSlot {
  std::uint8_t busy = 0;
  std::thread thread;
};

// The longest waits of a runner's threads, in milliseconds: a thread waiting for work, for an
// idle worker or for the stop wakes as soon as it comes, so these bound only a wake that was
// missed. The defaults are the real ones; tests shorten them.
struct RunnerTiming {
  int idleMs = 100;     // an idle worker between takes
  int monitorMs = 200;  // the monitor between looks while the task runs
  int settleMs = 100;   // the monitor between looks at busy workers after the stop
  int stopMs = 100;     // Stop, on the calling thread, after raising the flag
};

class TaskRunner : public TransferContext, public RoadHost, public CommitOwner {
public:
  static constexpr int kThreadSlots = 7;         // monitor + at most 6 workers
  static constexpr std::int32_t kMinFileKb = 2;  // files under 2 x 1000 bytes are not saved
  static constexpr int kProgressMs = 250;        // progress is told at most this often
  // Failures to reach a proxy, with no exchange through it in between, that stop the task: one
  // may be a passing hiccup, a few in a row are a proxy that is down or misnamed.
  static constexpr int kProxyFailuresToGiveUp = UnreachableHosts::kFailuresToGiveUp;
  TaskRunner();
  ~TaskRunner();
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  // Replaces the system calls that the folder check and the downloads write files with (tests
  // make them fail as a full disk would). Set before Init; `io` must outlive the runner.
  void SetFileIo(FileIo* io) { m_fileIo = io != nullptr ? io : &FileIo::System(); }

  // What the task keeps (the filters and duplicate checks); set before Init. The default keeps
  // every file of 2,000 bytes or more whose content the task does not hold yet.
  void SetFileRules(const FileRules& rules);
  // The home's sys/ folder (ending with '/'), whose content index learns every kept file and
  // answers the duplicate check across the home; set before Init. None: no index.
  void SetHomeIndex(const std::string& sysFolder) { m_sysFolder = sysFolder; }
  // A retry: Init queues the task's retryable failures instead of its result pages. Set before
  // Init.
  void SetRetry(bool retry) { m_retry = retry; }
  // The road the task takes (set before Init); without one, Init takes the classic road.
  void SetRoad(std::unique_ptr<Road> road);
  SearchMode Mode() const;

  // Binds the runner to `task` and has its road seed the queue (the classic road: the first
  // result page at the front, then pages 1..pageCount at the back). `base` is the web-search
  // base for document kinds and the image-search base for images; `pattern` is the image link
  // pattern. First the task folder is created (one level) and written to, and its
  // records database created when missing and tried with a row: when one of them fails, nothing is
  // queued, the reason is Fault() and a line on log page 1, Start refuses and the result is
  // false. A null task does nothing and gives false.
  bool Init(SearchTask* task, const char* base, const char* pattern);

  // Sets both view pointers under the view lock; null, null detaches.
  void AttachViews(InfoView* infoView, ResultView* resultView);
  // Runs `show`, which reads the task's records into the result view, and then attaches the
  // views, with no record written meanwhile: each record is then either among those read or
  // told to the view afterwards, never both and never neither.
  void AttachViews(InfoView* infoView, ResultView* resultView, const std::function<void()>& show);

  // One line on log page `thread` of the attached information view, if any.
  void Log(int thread, const std::string& text) override;

  UrlQueue& Queue() { return m_queue; }
  SearchTask* Task() const { return m_task; }
  const char* Folder() const { return m_folder; }
  std::int32_t ThreadCount() const { return m_threadCount; }
  std::int32_t MinFileKb() const { return m_minFileKb; }
  bool IsStopped() const override { return m_stop.load() != 0; }
  // TransferContext: the file writes of the downloads, and their failures (a full disk stops
  // the task).
  FileIo& Disk() override { return *m_fileIo; }
  void OnFileError(int thread, int error) override;
  void OnReceived(int thread, std::size_t bytes) override;
  const ProxyChoice* Proxies() const override { return &m_proxies; }
  // Logs a proxy's failure (once the proxy is given up, nothing), keeps the first for the
  // outcome, and stops the task with a fault naming the proxy at the last failure to reach it.
  void OnProxyOutcome(int thread, const ProxySetting& proxy, ExchangeStart start) override;

  // Why the runner could not start or stopped by itself; empty when neither happened.
  std::string Fault();
  // The files this run saved and recorded, and its fault.
  RunOutcome Outcome();
  // How far the run has come, copied under the counter lock.
  TaskProgress Progress();

  // The limits of the threads' waits and the exchanges' time limits; set before Start.
  void SetTiming(const RunnerTiming& timing);
  void SetHttpTimeouts(const HttpTimeouts& timeouts);
  // The proxies of every request of the run; set before Start.
  void SetProxies(const ProxyChoice& proxies) { m_proxies = proxies; }
  // Where the monitor reports the end of the task (null: nowhere). Guarded by the view lock.
  void SetFinishedSink(TaskFinishedSink* sink);
  // Where the run's progress, saved files and failures are told, naming them as `task`'s
  // (null: nowhere). Guarded by the view lock.
  void SetEvents(TaskEvents* events, const struct Task* task);
  void DetachFinishedSink();

  // Lowers the stop flag and starts the monitor (slot 0) and the workers (slots 1 to the
  // thread count), each marked busy. False when already started once, or not bound by Init.
  bool Start();
  // Raises the stop flag and pauses stopMs on the calling thread; nothing when already raised.
  void Stop();
  // Waits up to `milliseconds` for every thread to return, then joins them. False on time-out.
  bool WaitForThreads(int milliseconds);
  // Leaves `runner` to its threads, which could not be joined: they run on detached and the
  // runner is deliberately never freed, since they still use it. The task record is no longer
  // written by them afterwards, so the caller may save or free the task.
  static void Abandon(std::unique_ptr<TaskRunner> runner);

  // Counts a fetched page (or file) for the runner and the task and shows the task's figures.
  // A page that worker `thread` took as one of the task's own result pages counts as such too.
  void CountPage(int thread) override;
  void CountFile();
  // Lists a saved file in the result view and stores its row in the task's database through
  // `records`, the calling worker's own connection (opened here when it is not open, kept for
  // the task's length); a stored address is not fetched again by this run. A row that cannot be
  // stored is a line on log page `thread` and leaves saved and recorded apart; a full disk
  // stops the task.
  void RecordFile(int thread, RecordWriter& records, const std::string& localPath,
                  const std::string& address, const std::string& title);
  // CommitOwner: a group of files made durable (counted, listed in the result view, their
  // addresses recorded), or a file lost on its way (told on its worker's log page).
  void OnGroupCommitted(const std::vector<CommittedFile>& files, bool recorded,
                        const RecordError& error) override;
  void OnFileLost(const CommittedFile& file, int error, const RecordError& rowError) override;
  void OnDuplicate(const CommittedFile& file, const std::string& repeats) override;
  bool IsRecorded(const std::string& address) override;
  // Marks `address` as being fetched by the caller. False when it is recorded or another
  // worker holds it; ReleaseFile ends the hold.
  bool ClaimFile(const std::string& address);
  void ReleaseFile(const std::string& address);

  // LinkSink: queues a link found on a page, unless this run queued its address before (from
  // any page, or as one of the task's own result pages).
  bool Add(int thread, QueueEnd end, const LinkToQueue& link) override;

  // RoadHost: what a road asks of the runner (engine/road.h).
  bool Requeue(int thread, QueueEnd end, const LinkToQueue& link) override;
  TransferContext& Transfers() override { return *this; }
  const HttpTimeouts& Timeouts() const override { return m_http; }
  std::int32_t PageCount() override;
  void CountRefusal() override;
  bool IsGivenUp(const char* host) override { return m_unreachable.IsGivenUp(host); }
  void NoteReached(const char* host) override { m_unreachable.NoteReached(host); }
  // Counts an address of `host` that could not be reached; the host is told on the log once,
  // when it is given up for the run.
  void NoteUnreachable(int thread, const char* host, const char* address) override;
  // Saves a file under a time-stamped name and records it once whole. The file counts as
  // fetched whether or not it arrived; one too short, of unknown length, or in another
  // worker's hands is dropped.
  void SaveFile(int thread, const TakenUrl& taken, const ExchangeTarget& target,
                const HeadAnswer& head, RecordWriter& records,
                const FileRequestExtras& extras) override;
  void NoteFailure(int thread, std::string_view address, FailureReason reason,
                   const std::string& detail) override;

  // A copy of the task record, read under the counter lock; and its state, written under it.
  SearchTask TaskCopy();
  void SetTaskState(TaskState state);
  // The runner's own counters, and whether a slot ever got a thread.
  std::int32_t Pages();
  std::int32_t Files();
  bool SlotUsed(int slot);

private:
  std::int32_t m_threadCount = 0;
  char m_folder[kFolderSize] = {};  // the task folder, ending with '/'
  std::int32_t m_minFileKb = kMinFileKb;
  std::atomic<std::uint8_t> m_stop{1};  // 1: stopped or not started; 0: running
  std::int32_t m_pages = 0;             // pages fetched by this runner (counter lock)
  std::int32_t m_files = 0;             // files fetched by this runner (counter lock)
  std::int32_t m_saved = 0;             // files written whole (counter lock)
  std::int32_t m_recorded = 0;          // of those, rows stored (counter lock)
  std::mutex m_faultLock;               // m_fault
  std::string m_fault;                  // why it did not start or stopped by itself
  std::string m_proxyProblem;           // the first proxy failure; under m_faultLock
  // By proxy address: its failures to be reached since it last took a connection; under
  // m_faultLock. At kProxyFailuresToGiveUp the proxy is given up and stays so.
  std::unordered_map<std::string, int> m_proxyFailures;
  FileIo* m_fileIo = &FileIo::System();
  // The task folder, held with a shared flock for the run so that another run in it, in any
  // process, can tell that it is not alone there. Declared before the queue: it is released
  // only after the queue has removed its spill files.
  FileDescriptor m_folderLock;
  UrlQueue m_queue;
  std::unique_ptr<Road> m_road;  // fixed by Init
  UnreachableHosts m_unreachable;
  InfoView* m_infoView = nullptr;      // view lock
  ResultView* m_resultView = nullptr;  // view lock
  std::mutex m_counterLock;            // pages, files and the task's two counters
  std::mutex m_viewLock;               // the view pointers and every call into the views
  // A record's row and its telling: shared by the workers, so that their rows are still
  // committed together, and taken alone to read the rows into a view and attach it. Taken
  // before the view lock.
  WriterFirstLock m_recordLock;
  std::mutex m_slotLock;      // the busy flags of the slots
  std::mutex m_recordedLock;  // m_recordedUrls and m_claimedUrls
  // The source addresses of the database's rows. A set in memory, filled once at Init: asking
  // the database for each link would scan the whole table each time (it has no index).
  std::unordered_set<std::string> m_recordedUrls;
  std::unordered_set<std::string> m_claimedUrls;  // files being fetched by a worker
  SearchTask* m_task = nullptr;
  std::array<ThreadSlot, kThreadSlots> m_slots;
  // Raised when links are queued and at the stop: wakes the workers waiting for work.
  WakeSignal m_workSignal;
  // Raised when a worker finds the queue empty or leaves, and at the stop: wakes the monitor.
  WakeSignal m_idleSignal;

  // True when `link` is the first sighting of its address in this run (and marks it seen). A
  // result page is known by its offset ("pn=" and its digits), so the same page reached by
  // another address is still one page; any other address by its whole text.
  bool FirstSighting(const LinkToQueue& link);
  // Holds the task folder for the run (m_folderLock); true when no other run holds it.
  bool HoldFolder(const std::string& folder);

  // The threads (task_runner_threads.cpp). A worker's loop takes one address at a time
  // (TakeNext) and, unless its file is recorded already, hands it to the road (FetchTaken).
  // Queues the retryable failures of the task's database; false when there are none.
  bool QueueRetries(const std::string& folder);
  // The end of a file received whole: checked against the rules and the contents held, then
  // handed to the committer, or dropped with its failure. True when it was handed.
  bool KeepWhole(int thread, const TakenUrl& taken, WholeFile& whole, FileInspector& inspector,
                 const std::string& localPath, RecordWriter& records);
  // Counts a file not kept because `repeats` holds its content, with its line and failure.
  void CountDuplicate(int thread, const std::string& address, const std::string& title,
                      const std::string& repeats, bool near);
  // Counts `row` and hands it to the committer for the task's failure list.
  void StoreFailure(FailureRow row);
  // The failure of a download that did not end whole.
  void NoteDownloadFailure(int thread, const char* address, FileResult result,
                           const FileDownloadEnd& end);
  // Detaches the threads and moves the task record they write to a copy of the runner's own.
  void AbandonThreads();

  void WorkerLoop(int n);
  bool TakeNext(int n, TakenUrl* taken);
  void FetchTaken(int n, const TakenUrl& taken, RecordWriter& records);

  void MonitorLoop();
  // Tells the progress when it changed and kProgressMs passed since it was last told, or
  // always when `final`.
  void TellProgress(bool final);
  void Count(std::int32_t* own, std::int32_t SearchTask::*taskCounter);
  void SetBusy(int slot, std::uint8_t busy);
  // Keeps the first fault, writes it on log page `thread` and raises the stop flag.
  void StopWithFault(int thread, const std::string& fault);
  bool AllWorkersIdleLocked() const;  // call with the slot lock held
  bool TaskDrained();                 // the queue is empty and no worker holds an address
  void RaiseStop();                   // raises the stop flag and wakes every waiting thread
  static void Pause(int milliseconds);

  RunnerTiming m_timing;
  HttpTimeouts m_http;
  ProxyChoice m_proxies;                        // none filled in: every request goes direct
  TaskFinishedSink* m_finishedSink = nullptr;   // view lock
  TaskEvents* m_events = nullptr;               // view lock
  const struct Task* m_eventTask = nullptr;     // view lock: the task the events name
  // What the monitor last told of the progress, and when (monitor thread only).
  TaskProgress m_toldProgress;
  SearchTask m_toldRecord{};
  std::chrono::steady_clock::time_point m_toldAt{};
  FileKind m_kind = FileKind::Image;            // the task's kind, fixed at Start
  bool m_started = false;                       // a runner is never started twice
  std::array<bool, kThreadSlots> m_slotUsed{};  // slot lock
  std::uint64_t m_takesBegun = 0;               // slot lock: busy marks made, ever
  std::atomic<int> m_liveThreads{0};
  SearchTask m_ownRecord{};         // the record the threads write once abandoned
  std::int32_t m_refusedPages = 0;  // result pages the service refused (counter lock)
  std::int32_t m_failed = 0;        // addresses that did not become files (counter lock)
  std::int32_t m_duplicates = 0;    // of those, duplicates (counter lock)
  // The task's own result pages: planned at Init, begun and arrived; the file links found and
  // the bytes of files received (counter lock).
  std::int32_t m_ownPagesPlanned = 0;
  std::int32_t m_ownPagesBegun = 0;
  std::int32_t m_ownPagesDone = 0;
  std::int32_t m_linksFound = 0;
  std::int64_t m_bytesReceived = 0;

  FileRules m_rules;
  bool m_retry = false;
  std::string m_sysFolder;  // "" when no home index is kept
  ContentIndex m_contents;  // the contents kept and claimed by this task
  HomeIndex m_homeIndex;
  // The address each worker handles (its slot's own; read and written by that worker alone).
  std::array<const TakenUrl*, kThreadSlots> m_taken{};

  // Makes the workers' whole files durable in groups (file_committer.h); made by Start, finished
  // by the monitor before the task's end is posted.
  std::unique_ptr<FileCommitter> m_committer;
};

}  // namespace quarry
