// The task tree as the engine sees it: three roots ("等待", "运行", "完成") whose children are
// the tasks. The Qt tree of the main window implements this interface; the engine and its
// tests never touch a widget. Item ids are opaque to the engine; 0 means "no item".
#pragma once

#include <cstdint>
#include <string>

namespace quarry {

struct Task;

using TreeItemId = std::uint64_t;
inline constexpr TreeItemId kNoTreeItem = 0;

// The three roots, in the order the tree creates them.
enum class TaskRoot { Waiting, Running, Finished };

// The root's caption: "等待", "运行" or "完成".
inline const char* TaskRootText(TaskRoot root) {
  switch (root) {
    case TaskRoot::Waiting: return "等待";
    case TaskRoot::Running: return "运行";
    case TaskRoot::Finished: return "完成";
  }
  return "";
}

inline constexpr int kTaskItemImage = 1;  // image index of every task item, normal and selected

class TaskTree {
public:
  virtual ~TaskTree() = default;
  // Inserts an item last under `root` with `text`, `image` (normal and selected) and `task` as
  // its item data; returns its id (never kNoTreeItem).
  virtual TreeItemId InsertTaskItem(TaskRoot root, const std::string& text, int image,
                                    Task* task) = 0;
  // Deletes one task item; an unknown id is ignored.
  virtual void DeleteItem(TreeItemId item) = 0;
  // Expands a root so that its children are visible.
  virtual void ExpandRoot(TaskRoot root) = 0;
};

// The tree of a run without a window (quarry-cli): it shows nothing and only hands out ids.
class PlainTaskTree : public TaskTree {
public:
  TreeItemId InsertTaskItem(TaskRoot, const std::string&, int, Task*) override { return m_next++; }
  void DeleteItem(TreeItemId) override {}
  void ExpandRoot(TaskRoot) override {}

private:
  TreeItemId m_next = 1;
};

}  // namespace quarry
