// The two task files under the home folder, sys/unfinished.tsk and sys/finished.tsk: each a
// plain run of 564-byte SearchTask records in list order, with no header. A save replaces the
// file atomically (a new file beside it, flushed to disk, renamed over the old one), so a
// failed save leaves the previous file whole; an empty list leaves no file behind.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/task.h"
#include "platform/files.h"

namespace quarry {

// The system calls a save uses (Write, Fsync, Rename). Tests derive from it to make one of them
// fail midway, the way a full disk or a crash would.
using TaskFileIo = FileIo;

// <home>sys/unfinished.tsk and <home>sys/finished.tsk; `home` ends with '/'.
std::string UnfinishedTaskPath(const std::string& home);
std::string FinishedTaskPath(const std::string& home);

// Writes `records` to `path` atomically (treeItem and runner written as zero), or deletes the
// file when there are none. True when a file was written; false when there were no records
// (file removed, `error` left empty) or the save failed (`error` says why, and the previous
// file is untouched). `io` null means the real system calls.
bool SaveTaskRecords(const std::string& path, const std::vector<SearchTask>& records,
                     std::string* error = nullptr, TaskFileIo* io = nullptr);
// The same for the records of `list`, read as they are: no runner may be writing them.
bool SaveTaskFile(const std::string& path, const TaskList& list, std::string* error = nullptr,
                  TaskFileIo* io = nullptr);
bool SaveUnfinished(const std::string& home, const TaskList& unfinishedTasks,
                    std::string* error = nullptr, TaskFileIo* io = nullptr);
bool SaveFinished(const std::string& home, const TaskList& finishedTasks,
                  std::string* error = nullptr, TaskFileIo* io = nullptr);

// Appends every whole record of `path` whose fields are all in range to `list`, in file order,
// with no tree item and no runner. Left out are a trailing partial record and any record with
// an unknown kind or state, a thread count outside 1..6, a page count outside 1..500, a
// negative counter or a text field without its NUL. False when the file cannot be opened (a
// missing file included), else true. A file that cannot be read whole (a partial last record,
// a read error, a record left out) is first copied to `path`.broken (or .broken.2 ... when
// that name holds other bytes), so the next save cannot lose it; `damage` then says so in
// words for the user. It is left empty for a whole or a missing file.
bool LoadTaskFile(const std::string& path, TaskList* list, std::string* damage = nullptr);

// Start-up: loads both task files of `home` into the lists. From unfinished.tsk, Waiting and
// Paused stay unfinished, Running (the program ended while it ran) is taken as Paused, and
// Ended moves to the finished list. Every record of finished.tsk, whatever its state, and then
// the moved Ended ones make the finished list. Both lists must not be null; they are normally
// empty. What LoadTaskFile found damaged is added to `damage`, one text per file.
void LoadTaskLists(const std::string& home, TaskList* unfinishedTasks, TaskList* finishedTasks,
                   std::vector<std::string>* damage = nullptr);

}  // namespace quarry
