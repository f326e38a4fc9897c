// CTaskTreeCtrl: the task tree of the task-queue bar. Three roots ("等待", "运行", "完成") hold
// one item per task, showing its keyword; task control inserts, deletes and expands them
// through the engine's TaskTree interface. An item's data is its task (roots have none), and
// each item carries the opaque id handed to the engine.
#pragma once

#include <QColor>
#include <QIcon>
#include <QTreeWidget>
#include <map>

#include "engine/task_tree.h"

namespace quarry {

inline constexpr QColor kTaskTreeBackground{200, 200, 200};
inline constexpr int kTaskTreeImageCount = 5;
// The image of each root: 0 waiting, 2 running, 4 finished; task items use image 1.
int RootImage(TaskRoot root);

}  // namespace quarry

class CTaskTreeCtrl : public QTreeWidget, public quarry::TaskTree {
  Q_OBJECT

public:
  explicit CTaskTreeCtrl(QWidget* parent = nullptr, int id = 129);
  // Reports no selection changes while its items go.
  ~CTaskTreeCtrl() override;

  quarry::TreeItemId InsertTaskItem(quarry::TaskRoot root, const std::string& text, int image,
                                    quarry::Task* task) override;
  void DeleteItem(quarry::TreeItemId item) override;
  void ExpandRoot(quarry::TaskRoot root) override;

  QTreeWidgetItem* Root(quarry::TaskRoot root) const;
  // The item with `id`; null when there is none.
  QTreeWidgetItem* Item(quarry::TreeItemId id) const;
  // The task of `item`: null for a root or no item.
  static quarry::Task* TaskOf(const QTreeWidgetItem* item);
  // The task of the selected item; null when nothing or a root is selected.
  quarry::Task* SelectedTask() const;
  // The five images of the tree, indexed as the engine numbers them.
  const QIcon& Image(int index) const;

signals:
  // The selection moved; `task` is null for a root or no selection.
  void TaskSelected(quarry::Task* task);

private:
  QIcon m_images[quarry::kTaskTreeImageCount];
  QTreeWidgetItem* m_roots[3];
  std::map<quarry::TreeItemId, QTreeWidgetItem*> m_items;
  quarry::TreeItemId m_nextId = 1;
};
