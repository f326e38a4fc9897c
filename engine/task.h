// The run-time task the main frame owns: the file record plus the two links that only mean
// something while the program runs (its tree item and its runner). They live beside the record
// because a 64-bit handle or pointer does not fit the record's 4-byte fields.
#pragma once

#include <memory>
#include <vector>

#include "engine/search_task.h"
#include "engine/task_tree.h"

namespace quarry {

class TaskRunner;

struct Task {
  SearchTask record{};
  TreeItemId treeItem = kNoTreeItem;
  TaskRunner* runner = nullptr;  // owned by task control while the task runs
};

// unfinishedTasks / finishedTasks: tasks in insertion order; a task is in at most one list.
using TaskList = std::vector<std::unique_ptr<Task>>;

}  // namespace quarry
