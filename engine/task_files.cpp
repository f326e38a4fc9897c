// Saving and loading the task files, and filling the task tree from them at start-up.
// A save never writes into the live file: it writes <file>.new, flushes it to disk, renames it
// over <file> and flushes the folder, so at every moment the file on disk is either the old
// list or the new one. Loading reads whole records only, and only those whose every field is
// in range: a record with an unknown kind or state, counts outside their limits, a negative
// counter or a text without its NUL is no task of ours (random bytes, another file, a torn
// disk block) and is left out rather than listed, run and saved back as garbage.
//
// A file that cannot be read whole (its last record cut short, a read error, a record left
// out) would lose what it holds beyond the good records at the next save, which writes the
// lists as loaded. So the load copies such a file aside as <file>.broken first and says so; a
// later load of the same damaged file finds its copy already there and makes no second one.
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

namespace {

constexpr const char* kUnfinishedFile = "sys/unfinished.tsk";
constexpr const char* kFinishedFile = "sys/finished.tsk";
constexpr const char* kNewFileSuffix = ".new";
constexpr const char* kBrokenSuffix = ".broken";
// Copies of damaged files kept side by side: <file>.broken, then <file>.broken.2 and so on.
constexpr int kBrokenCopies = 9;

bool Fail(std::string* error, const std::string& what, const std::string& path, int cause) {
  if (error) *error = what + " " + path + "（" + std::strerror(cause) + "）";
  return false;
}

bool SameContent(const std::string& path, const std::string& bytes) {
  std::string existing;
  return ReadWholeFile(path, &existing) == 0 && existing == bytes;
}

// Writes `bytes` to a free <path>.broken name (or finds them there already) and returns that
// name; empty, with the reason in `error`, when no copy could be written.
std::string KeepBrokenCopy(const std::string& path, const std::string& bytes, std::string* error) {
  for (int copy = 1; copy <= kBrokenCopies; ++copy) {
    std::string name = path + kBrokenSuffix;
    if (copy > 1) name += "." + std::to_string(copy);
    if (::access(name.c_str(), F_OK) == 0) {
      if (SameContent(name, bytes)) return name;
      continue;
    }
    const std::string newName = name + kNewFileSuffix;
    FileDescriptor file(::open(newName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    int cause =
        !file.IsOpen() ? errno : WriteAll(FileIo::System(), file.Get(), bytes.data(), bytes.size());
    if (cause == 0 && ::fsync(file.Get()) != 0) cause = errno;
    if (cause == 0) cause = file.Close();
    if (cause == 0) cause = RenameNoReplace(newName, name);
    ::unlink(newName.c_str());
    if (cause == EEXIST) continue;
    if (cause != 0) {
      *error = std::strerror(cause);
      return std::string();
    }
    SyncParentFolder(name);
    return name;
  }
  *error = "too many earlier copies";
  return std::string();
}

// The name of the first field of `record` that holds what no saved task can hold, or null when
// every field is in range. The run-time fields are not looked at: they are ignored on reading.
const char* OutOfRangeField(const SearchTask& record) {
  auto hasNul = [](const char* field, std::size_t size) {
    return std::memchr(field, '\0', size) != nullptr;
  };
  if (!IsKnownKind(record.kind)) return "kind";
  if (!hasNul(record.createdAt, kCreatedAtSize)) return "createdAt";
  switch (record.state) {
    case TaskState::Waiting:
    case TaskState::Running:
    case TaskState::Paused:
    case TaskState::Ended: break;
    default: return "state";
  }
  if (!hasNul(record.keyword, kKeywordSize)) return "keyword";
  if (record.pageCount < kMinPageCount || record.pageCount > kMaxPageCount) return "pageCount";
  if (record.pagesFetched < 0) return "pagesFetched";
  if (record.filesFetched < 0) return "filesFetched";
  if (record.threadCount < kMinThreadCount || record.threadCount > kMaxThreadCount)
    return "threadCount";
  if (!hasNul(record.folder, kFolderSize)) return "folder";
  return nullptr;
}

}  // namespace

std::string UnfinishedTaskPath(const std::string& home) { return home + kUnfinishedFile; }

std::string FinishedTaskPath(const std::string& home) { return home + kFinishedFile; }

bool SaveTaskRecords(const std::string& path, const std::vector<SearchTask>& records,
                     std::string* error, TaskFileIo* io) {
  if (!io) io = &FileIo::System();
  if (error) error->clear();
  const std::string newPath = path + kNewFileSuffix;

  if (records.empty()) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return Fail(error, "无法删除", path, errno);
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

  FileDescriptor file(io->Open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file.IsOpen()) return Fail(error, "无法创建", newPath, errno);
  int cause = WriteAll(*io, file.Get(), bytes.data(), bytes.size());
  if (cause == 0 && io->Fsync(file.Get()) != 0) cause = errno;
  if (cause == 0) cause = file.Close();
  if (cause != 0) {
    ::unlink(newPath.c_str());
    return Fail(error, "无法写入", newPath, cause);
  }
  if (io->Rename(newPath.c_str(), path.c_str()) != 0) {
    cause = errno;
    ::unlink(newPath.c_str());
    return Fail(error, "无法替换", path, cause);
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

bool LoadTaskFile(const std::string& path, TaskList* list, std::string* damage) {
  if (damage) damage->clear();
  std::string bytes;
  const int cause = ReadWholeFile(path, &bytes);
  if (cause != 0 && bytes.empty()) {
    if (cause != ENOENT && damage) {
      *damage =
          "无法读取任务文件 " + path + "（" + std::strerror(cause) + "），其中的任务没有读入。";
    }
    return false;
  }
  const std::size_t whole = bytes.size() / kSearchTaskSize;
  std::size_t kept = 0;
  std::size_t leftOut = 0;
  std::string firstLeftOut;  // "第 3 条的 state", for the message
  for (std::size_t i = 0; i < whole; ++i) {
    auto task = std::make_unique<Task>();
    std::memcpy(&task->record, bytes.data() + i * kSearchTaskSize, kSearchTaskSize);
    if (const char* field = OutOfRangeField(task->record)) {
      if (leftOut++ == 0) firstLeftOut = "第 " + std::to_string(i + 1) + " 条的 " + field;
      continue;
    }
    task->record.treeItem = 0;
    task->record.runner = 0;
    list->push_back(std::move(task));
    ++kept;
  }
  const bool cut = cause != 0 || bytes.size() % kSearchTaskSize != 0;
  if (!cut && leftOut == 0) return true;
  // What the load left out is lost to this load, so the file is kept as it is.
  std::string copyError;
  const std::string copy = KeepBrokenCopy(path, bytes, &copyError);
  if (damage) {
    std::string what;
    if (cause != 0) {
      what = "读取出错（" + std::string(std::strerror(cause)) + "）";
    } else if (cut) {
      what = "最后一条记录不完整";
    }
    if (leftOut > 0) {
      if (!what.empty()) what += "，";
      what += "有 " + std::to_string(leftOut) + " 条记录的字段超出范围（" + firstLeftOut + "）";
    }
    *damage =
        "任务文件 " + path + " " + what + "，只读入了" + (leftOut > 0 ? "完好的 " : "前 ") +
        std::to_string(kept) + " 条任务；" +
        (copy.empty() ? "原文件未能另存（" + copyError + "）。" : "原文件已另存为 " + copy + "。");
  }
  return true;
}

void LoadTaskLists(const std::string& home, TaskList* unfinishedTasks, TaskList* finishedTasks,
                   std::vector<std::string>* damage) {
  std::string fileDamage;
  auto noteDamage = [&] {
    if (damage && !fileDamage.empty()) damage->push_back(fileDamage);
  };
  TaskList read;
  LoadTaskFile(UnfinishedTaskPath(home), &read, &fileDamage);
  noteDamage();
  TaskList endedHere;
  for (auto& task : read) {
    switch (task->record.state) {
      case TaskState::Waiting:
      case TaskState::Paused: break;
      case TaskState::Running:
        // Its run was cut off by the program's end; the user may run or delete it again.
        task->record.state = TaskState::Paused;
        break;
      case TaskState::Ended:
        // Stopped, but the program ended before the end was handled.
        endedHere.push_back(std::move(task));
        continue;
      default: break;  // LoadTaskFile lets no other state through
    }
    unfinishedTasks->push_back(std::move(task));
  }

  LoadTaskFile(FinishedTaskPath(home), finishedTasks, &fileDamage);
  noteDamage();
  for (auto& task : endedHere) finishedTasks->push_back(std::move(task));
}

}  // namespace quarry
