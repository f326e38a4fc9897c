// CTaskTreeCtrl. Removing the current row makes the view pick a neighbour at once, which is
// reported as a new selection; the window hears it after task control has returned, since the
// events that remove rows are applied only then.
#include "ui/bars/task_tree_ctrl.h"

#include "ui/frame/icons.h"

namespace quarry {

namespace {

constexpr int kTaskRole = Qt::UserRole;  // the item's Task*, absent on roots
// The drawings of images 0 to 4.
constexpr const char* kImageNames[kTaskTreeImageCount] = {"tree_waiting", "tree_task", "quarry",
                                                          "tree_spare", "tree_finished"};

}  // namespace

int RootImage(TaskRoot root) {
  switch (root) {
    case TaskRoot::Waiting: return 0;
    case TaskRoot::Running: return 2;
    case TaskRoot::Finished: return 4;
  }
  return 0;
}

}  // namespace quarry

using quarry::TaskRoot;

CTaskTreeCtrl::CTaskTreeCtrl(QWidget* parent, int id)
    : QTreeView(parent), m_model(new QStandardItemModel(this)) {
  setObjectName(QString::number(id));
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setIconSize(QSize(16, 16));
  setContextMenuPolicy(Qt::CustomContextMenu);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, quarry::kTaskTreeBackground);
  setPalette(colours);
  setAutoFillBackground(true);
  for (int i = 0; i < quarry::kTaskTreeImageCount; ++i)
    m_images[i] = quarry::LoadIcon(QString::fromLatin1(quarry::kImageNames[i]));
  for (TaskRoot root : {TaskRoot::Waiting, TaskRoot::Running, TaskRoot::Finished}) {
    auto* item = new QStandardItem(Image(quarry::RootImage(root)),
                                   QString::fromUtf8(quarry::TaskRootText(root)));
    item->setEditable(false);
    m_model->appendRow(item);
    m_roots[static_cast<int>(root)] = item;
  }
  setModel(m_model);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            emit TaskSelected(TaskOf(m_model->itemFromIndex(current)));
          });
}

CTaskTreeCtrl::~CTaskTreeCtrl() { blockSignals(true); }

void CTaskTreeCtrl::AddTask(const quarry::Task* task, const std::string& keyword, TaskRoot root) {
  if (task == nullptr || ItemOf(task)) return;
  auto* item = new QStandardItem(Image(quarry::kTaskItemImage), QString::fromStdString(keyword));
  item->setEditable(false);
  item->setToolTip(item->text());  // a keyword too long for the bar is cut short there
  item->setData(QVariant::fromValue(reinterpret_cast<quintptr>(task)), quarry::kTaskRole);
  Root(root)->appendRow(item);
  expand(Root(root)->index());
}

void CTaskTreeCtrl::MoveTask(const quarry::Task* task, TaskRoot root) {
  QStandardItem* item = ItemOf(task);
  if (!item) return;
  const bool wasCurrent = item == CurrentItem();
  QList<QStandardItem*> row = item->parent()->takeRow(item->row());
  Root(root)->appendRow(row);
  expand(Root(root)->index());
  if (wasCurrent) SetCurrentItem(row.first());
}

void CTaskTreeCtrl::RemoveTask(const quarry::Task* task) {
  QStandardItem* item = ItemOf(task);
  if (!item) return;
  item->parent()->removeRow(item->row());  // may move the selection, which is reported
}

QStandardItem* CTaskTreeCtrl::Root(TaskRoot root) const { return m_roots[static_cast<int>(root)]; }

QStandardItem* CTaskTreeCtrl::ItemOf(const quarry::Task* task) const {
  if (task == nullptr) return nullptr;
  for (QStandardItem* root : m_roots) {
    for (int row = 0; row < root->rowCount(); ++row) {
      if (TaskOf(root->child(row)) == task) return root->child(row);
    }
  }
  return nullptr;
}

quarry::Task* CTaskTreeCtrl::TaskOf(const QStandardItem* item) {
  if (!item || !item->parent()) return nullptr;
  return reinterpret_cast<quarry::Task*>(item->data(quarry::kTaskRole).value<quintptr>());
}

QStandardItem* CTaskTreeCtrl::CurrentItem() const {
  return m_model->itemFromIndex(currentIndex());
}

void CTaskTreeCtrl::SetCurrentItem(QStandardItem* item) {
  setCurrentIndex(item ? item->index() : QModelIndex());
}

quarry::Task* CTaskTreeCtrl::SelectedTask() const { return TaskOf(CurrentItem()); }

const QIcon& CTaskTreeCtrl::Image(int index) const {
  static const QIcon none;
  if (index < 0 || index >= quarry::kTaskTreeImageCount) return none;
  return m_images[index];
}
