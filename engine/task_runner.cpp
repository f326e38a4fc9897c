// The runner's construction, its seeding by Init (through its road), and the log path to the
// information view.
//
// Before anything is queued, Init checks that the task can save anything at all: a folder that
// cannot be made or written, or a database that refuses rows, would let every worker download
// for nothing.
#include "engine/task_runner.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/classic_road.h"
#include "http/transfer.h"
#include "platform/format.h"
#include "records/record_store.h"

namespace quarry {
namespace {

// Why no task can run in `folder`, or empty when one can: the folder exists (made here, one
// level, when missing) and takes a file, and its records database opens and takes a row
// (created when missing).
std::string CheckTaskFolder(const std::string& folder, FileIo& io) {
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    return "无法创建任务文件夹 " + folder + "：" + std::strerror(errno);
  }
  struct stat made {};
  if (::stat(folder.c_str(), &made) != 0 || !S_ISDIR(made.st_mode)) {
    return "无法创建任务文件夹 " + folder + "：" + std::strerror(ENOTDIR);
  }
  if (const int error = ProbeFolderWritable(folder, io)) {
    return "任务文件夹 " + folder + " 不能写入：" + std::strerror(error);
  }
  RecordError error;
  if (!RecordStore::PrepareTaskDatabase(folder, &error)) {
    return "任务数据库 " + RecordStore::ConnectionString(folder) + " 无法使用：" + error.text;
  }
  return std::string();
}

// Deletes what a crash left in the task folder, in one pass over it: the files of downloads
// cut short, and, when `spillsToo` (no other run uses the folder), the queue's spill files. A
// ".part" name that the records hold is a saved file whose server name ends so; it stays. So
// does one that is locked: another task in this folder is still receiving it.
void RemoveLeftovers(const std::string& folder, bool spillsToo) {
  const std::string_view suffix = kPartSuffix;
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return;
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink(error) || !entry.is_regular_file(error)) continue;
    if (spillsToo && UrlQueue::IsSpillFile(entry)) {
      std::filesystem::remove(entry.path(), error);
      continue;
    }
    if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
    const std::string path = folder + name;
    if (RecordStore::HoldsFile(folder, path)) continue;
    RemoveUnlessLocked(path);
  }
}

}  // namespace

std::string TaskOptionsKey(const SearchTask& task) {
  return std::to_string(static_cast<int>(task.kind)) + ":" + FieldText(task.keyword);
}

Task::Task() = default;
Task::~Task() = default;

TaskRunner::TaskRunner() {
  m_queue.SetMessageSink([this](int thread, const std::string& message) { Log(thread, message); });
}

TaskRunner::~TaskRunner() {
  // Threads must be gone before the queue and the locks they use.
  RaiseStop();
  for (ThreadSlot& slot : m_slots) {
    if (slot.thread.joinable()) slot.thread.join();
  }
  if (m_committer) m_committer->Finish();
}

bool TaskRunner::Init(SearchTask* task, const char* base, const char* pattern) {
  if (task == nullptr) return false;
  if (base == nullptr) base = "";

  const std::string folder = FieldText(task->folder);
  const std::string fault = CheckTaskFolder(folder, *m_fileIo);
  if (!fault.empty()) {
    {
      std::lock_guard<std::mutex> guard(m_faultLock);
      m_fault = fault;
    }
    Log(1, fault);
    return false;  // unbound: Start refuses
  }
  m_task = task;
  SetFieldText(m_folder, sizeof(m_folder), folder);
  // The slots bound the workers to 6 whatever a task file says.
  m_threadCount = RunnableThreadCount(*task);
  m_minFileKb = kMinFileKb;

  const bool alone = HoldFolder(folder);
  // A group cut off by a crash, before its ".part" files go: another run's groups are its own.
  if (alone) SettleCrashedGroups(folder);
  RemoveLeftovers(folder, alone);
  {
    std::lock_guard<std::mutex> guard(m_recordedLock);
    RecordStore::ReadRecordedUrls(folder, m_recordedUrls);
  }
  // The task's filters go with its records, for the next run and for the reports.
  TaskFacts::WriteOptions(folder, TaskOptionsKey(*task), m_rules.ToOptions());
  // The contents the task holds: a file with one of them is a duplicate.
  std::vector<FileEntry> files;
  TaskFacts::ReadFiles(folder, &files);
  m_contents.Load(files);
  if (!m_sysFolder.empty()) m_homeIndex.Open(m_sysFolder);

  // Beside another run the spill files take this process's number, so the two never read or
  // overwrite each other's.
  m_queue.Reset(folder, alone ? std::string() : std::to_string(::getpid()) + "-");
  m_queue.ClearSeen();
  if (!m_road) m_road = std::make_unique<ClassicRoad>();
  const RoadStart start{.base = base, .pattern = pattern != nullptr ? pattern : ""};
  if (m_retry) {
    m_road->Bind(*this, *task, start);
    QueueRetries(folder);
  } else {
    {
      std::lock_guard<std::mutex> guard(m_counterLock);
      m_ownPagesPlanned = m_road->ResultPagesPlanned(*task);
    }
    m_road->Seed(*this, *task, start);
  }
  return true;
}

void TaskRunner::SetFileRules(const FileRules& rules) {
  m_rules = rules;
  m_minFileKb = static_cast<std::int32_t>(std::min<std::int64_t>(rules.minBytes / 1000, INT32_MAX));
}

bool TaskRunner::QueueRetries(const std::string& folder) {
  std::vector<FailureRow> failures;
  TaskFacts::ReadFailures(folder, &failures);
  // The marks of the links found on pages: a picture's, a document's.
  const char* source = m_task->kind == FileKind::Image ? "null" : "http://";
  int queued = 0;
  for (const FailureRow& failure : failures) {
    if (!IsRetryable(failure.reason)) continue;
    if (Add(1, QueueEnd::Back, {.url = failure.url, .title = failure.title, .source = source}))
      ++queued;
  }
  Log(1, Format("重试失败的文件：%d 个地址...", queued));
  return queued > 0;
}

void TaskRunner::SetRoad(std::unique_ptr<Road> road) { m_road = std::move(road); }

SearchMode TaskRunner::Mode() const { return m_road ? m_road->Mode() : SearchMode::Classic; }

bool TaskRunner::HoldFolder(const std::string& folder) {
  m_folderLock = FileDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!m_folderLock.IsOpen()) return false;
  const int fd = m_folderLock.Get();
  const bool alone = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::flock(fd, LOCK_SH);  // from exclusive to shared, or shared beside the other run
  return alone;
}

bool TaskRunner::FirstSighting(const LinkToQueue& link) {
  const std::string_view url = link.url.substr(0, link.url.find('\0'));
  const bool resultPage = link.isSearchPage || (m_road != nullptr && m_road->IsResultPage(url));
  // The offset field's digits alone: the pages the task builds carry more fields after them
  // than the links to the same pages that a result page shows, and other fields may end in
  // "pn" too ("ipn=").
  std::size_t field = url.find("?pn=");
  if (field == std::string_view::npos) field = url.find("&pn=");
  if (!resultPage || field == std::string_view::npos) return m_queue.TestAndSetSeenAddress(url);
  const std::size_t offset = field + 1;
  const std::size_t digits = url.find_first_not_of("0123456789", offset + 3);
  const std::size_t length = digits == std::string_view::npos ? digits : digits - offset;
  return m_queue.TestAndSetSeenAddress(url.substr(offset, length));
}

void TaskRunner::AttachViews(InfoView* infoView, ResultView* resultView) {
  std::lock_guard<std::mutex> guard(m_viewLock);
  m_infoView = infoView;
  m_resultView = resultView;
}

void TaskRunner::AttachViews(InfoView* infoView, ResultView* resultView,
                             const std::function<void()>& show) {
  std::lock_guard<WriterFirstLock> records(m_recordLock);
  show();
  AttachViews(infoView, resultView);
}

void TaskRunner::Log(int thread, const std::string& text) {
  std::lock_guard<std::mutex> guard(m_viewLock);
  if (m_infoView != nullptr) m_infoView->AppendLog(thread, text);
}

}  // namespace quarry
