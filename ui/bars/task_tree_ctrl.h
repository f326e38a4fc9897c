// CTaskTreeCtrl: the task tree of the task-queue bar. Three roots ("等待", "运行", "完成") hold
// one item per task, showing its keyword. The tree is a view of a model built from the
// engine's task events alone (added, moved, removed): the engine never reaches it, and it
// knows each task only by the address the events carry, which it never follows.
#pragma once

#include <QColor>
#include <QIcon>
#include <QStandardItemModel>
#include <QTreeView>

#include "engine/task_events.h"

namespace quarry {

inline constexpr QColor kTaskTreeBackground{200, 200, 200};
inline constexpr int kTaskTreeImageCount = 5;
inline constexpr int kTaskItemImage = 1;  // image index of every task item
// The image of each root: 0 waiting, 2 running, 4 finished; task items use image 1.
int RootImage(TaskRoot root);

}  // namespace quarry

class CTaskTreeCtrl : public QTreeView {
  Q_OBJECT

public:
  explicit CTaskTreeCtrl(QWidget* parent = nullptr, int id = 129);
  // Reports no selection changes while its items go.
  ~CTaskTreeCtrl() override;

  // The events that shape the tree. A task added twice, or moved or removed when absent, is
  // ignored. Each may move the selection, which is then reported.
  void AddTask(const quarry::Task* task, const std::string& keyword, quarry::TaskRoot root);
  void MoveTask(const quarry::Task* task, quarry::TaskRoot root);
  void RemoveTask(const quarry::Task* task);

  QStandardItemModel* Model() const { return m_model; }
  QStandardItem* Root(quarry::TaskRoot root) const;
  // The item of `task`; null when the tree has none.
  QStandardItem* ItemOf(const quarry::Task* task) const;
  // The task of `item`: null for a root or no item.
  static quarry::Task* TaskOf(const QStandardItem* item);
  QStandardItem* CurrentItem() const;
  // Makes `item` current (null: no selection), reporting the change.
  void SetCurrentItem(QStandardItem* item);
  // The task of the selected item; null when nothing or a root is selected.
  quarry::Task* SelectedTask() const;
  // The five images of the tree.
  const QIcon& Image(int index) const;

signals:
  // The selection moved; `task` is null for a root or no selection.
  void TaskSelected(quarry::Task* task);

private:
  QStandardItemModel* m_model;
  QIcon m_images[quarry::kTaskTreeImageCount];
  QStandardItem* m_roots[3];
};
