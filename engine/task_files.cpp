// Saving and loading the task files, and filling the task tree from them at start-up.
// A save never writes into the live file: it writes <file>.new, flushes it to disk, renames it
// over <file> and flushes the folder, so at every moment the file on disk is either the old
// list or the new one. Loading reads whole records only and checks no field: a damaged record
// is kept as read, and the readers of its fields (FieldText, RunnableThreadCount, ...) make it
// safe to use.
#include "engine/task_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files.h"

namespace quarry {

ssize_t TaskFileIo::Write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int TaskFileIo::Fsync(int fd) { return ::fsync(fd); }

int TaskFileIo::Rename(const char* from, const char* to) { return std::rename(from, to); }

namespace {

constexpr const char* kUnfinishedFile = "sys/unfinished.tsk";
constexpr const char* kFinishedFile = "sys/finished.tsk";
constexpr const char* kNewFileSuffix = ".new";

class FdOwner {
public:
  explicit FdOwner(int fd) : m_fd(fd) {}
  ~FdOwner() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FdOwner(const FdOwner&) = delete;
  FdOwner& operator=(const FdOwner&) = delete;
  int get() const { return m_fd; }
  // Closes now so that a failing close (a late write error) can be reported.
  int Close() {
    int result = ::close(m_fd);
    m_fd = -1;
    return result;
  }

private:
  int m_fd;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool Fail(std::string* error, const std::string& what, const std::string& path, int cause) {
  if (error) *error = what + " " + path + ": " + std::strerror(cause);
  return false;
}

bool WriteAll(TaskFileIo* io, int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t written = io->Write(fd, data + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

void InsertItem(TaskTree* tree, TaskRoot root, Task* task) {
  task->treeItem =
      tree->InsertTaskItem(root, FieldText(task->record.keyword), kTaskItemImage, task);
}

}  // namespace

std::string UnfinishedTaskPath(const std::string& home) { return home + kUnfinishedFile; }

std::string FinishedTaskPath(const std::string& home) { return home + kFinishedFile; }

bool SaveTaskRecords(const std::string& path, const std::vector<SearchTask>& records,
                     std::string* error, TaskFileIo* io) {
  TaskFileIo systemIo;
  if (!io) io = &systemIo;
  if (error) error->clear();
  const std::string newPath = path + kNewFileSuffix;

  if (records.empty()) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return Fail(error, "Cannot delete", path, errno);
    }
    ::unlink(newPath.c_str());  // a leftover of an interrupted save, if any
    return false;
  }

  std::vector<char> bytes;
  bytes.reserve(records.size() * kSearchTaskSize);
  for (SearchTask record : records) {
    // The run-time links have no meaning in a file.
    record.treeItem = 0;
    record.runner = 0;
    const char* raw = reinterpret_cast<const char*>(&record);
    bytes.insert(bytes.end(), raw, raw + sizeof record);
  }

  FdOwner file(::open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) return Fail(error, "Cannot create", newPath, errno);
  bool written = WriteAll(io, file.get(), bytes.data(), bytes.size()) && io->Fsync(file.get()) == 0;
  int cause = errno;
  if (written && file.Close() != 0) {
    written = false;
    cause = errno;
  }
  if (!written) {
    ::unlink(newPath.c_str());
    return Fail(error, "Cannot write", newPath, cause);
  }
  if (io->Rename(newPath.c_str(), path.c_str()) != 0) {
    cause = errno;
    ::unlink(newPath.c_str());
    return Fail(error, "Cannot replace", path, cause);
  }
  SyncParentFolder(path);  // best effort: the new file is already in place
  return true;
}

bool SaveTaskFile(const std::string& path, const TaskList& list, std::string* error,
                  TaskFileIo* io) {
  std::vector<SearchTask> records;
  records.reserve(list.size());
  for (const auto& task : list) {
    if (task) records.push_back(task->record);
  }
  return SaveTaskRecords(path, records, error, io);
}

bool SaveUnfinished(const std::string& home, const TaskList& unfinishedTasks, std::string* error,
                    TaskFileIo* io) {
  return SaveTaskFile(UnfinishedTaskPath(home), unfinishedTasks, error, io);
}

bool SaveFinished(const std::string& home, const TaskList& finishedTasks, std::string* error,
                  TaskFileIo* io) {
  return SaveTaskFile(FinishedTaskPath(home), finishedTasks, error, io);
}

bool LoadTaskFile(const std::string& path, TaskList* list) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  char buffer[kSearchTaskSize];
  // A short read is a partial last record (or a read error): it is dropped and reading stops.
  while (std::fread(buffer, 1, sizeof buffer, file.get()) == sizeof buffer) {
    auto task = std::make_unique<Task>();
    std::memcpy(&task->record, buffer, sizeof buffer);
    task->record.treeItem = 0;
    task->record.runner = 0;
    list->push_back(std::move(task));
  }
  return true;
}

void FillTaskTree(const std::string& home, TaskTree* tree, TaskList* unfinishedTasks,
                  TaskList* finishedTasks) {
  TaskList read;
  LoadTaskFile(UnfinishedTaskPath(home), &read);
  TaskList endedHere;
  for (auto& task : read) {
    switch (task->record.state) {
      case TaskState::Waiting: InsertItem(tree, TaskRoot::Waiting, task.get()); break;
      case TaskState::Running:
        // Its run was cut off by the program's end; the user may run or delete it again.
        task->record.state = TaskState::Paused;
        InsertItem(tree, TaskRoot::Running, task.get());
        break;
      case TaskState::Paused: InsertItem(tree, TaskRoot::Running, task.get()); break;
      case TaskState::Ended:
        // Stopped, but the program ended before the end was handled.
        endedHere.push_back(std::move(task));
        continue;
      default: break;  // an unknown state: kept and written back, but not shown
    }
    unfinishedTasks->push_back(std::move(task));
  }
  tree->ExpandRoot(TaskRoot::Waiting);
  tree->ExpandRoot(TaskRoot::Running);

  std::size_t firstNew = finishedTasks->size();
  LoadTaskFile(FinishedTaskPath(home), finishedTasks);
  for (auto& task : endedHere) finishedTasks->push_back(std::move(task));
  for (std::size_t i = firstNew; i < finishedTasks->size(); ++i) {
    InsertItem(tree, TaskRoot::Finished, (*finishedTasks)[i].get());
  }
  tree->ExpandRoot(TaskRoot::Finished);
}

}  // namespace quarry
