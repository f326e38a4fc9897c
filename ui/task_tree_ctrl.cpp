// CTaskTreeCtrl. Deleting the selected item makes Qt select another one at once, and the
// selection signal reaches task control while it is still inside the command that deleted the
// item; task control's lock is re-entrant for that reason.
#include "ui/task_tree_ctrl.h"

#include "ui/icons.h"

namespace quarry {

namespace {

constexpr int kTaskRole = Qt::UserRole;        // the item's Task*, absent on roots
constexpr int kItemIdRole = Qt::UserRole + 1;  // the id the engine knows the item by
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

CTaskTreeCtrl::CTaskTreeCtrl(QWidget* parent, int id) : QTreeWidget(parent) {
  setObjectName(QString::number(id));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
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
    auto* item = new QTreeWidgetItem(this, {QString::fromUtf8(quarry::TaskRootText(root))});
    item->setIcon(0, Image(quarry::RootImage(root)));
    m_roots[static_cast<int>(root)] = item;
  }
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { emit TaskSelected(TaskOf(current)); });
}

CTaskTreeCtrl::~CTaskTreeCtrl() { blockSignals(true); }

quarry::TreeItemId CTaskTreeCtrl::InsertTaskItem(TaskRoot root, const std::string& text, int image,
                                                 quarry::Task* task) {
  const quarry::TreeItemId id = m_nextId++;
  auto* item = new QTreeWidgetItem({QString::fromStdString(text)});
  item->setIcon(0, Image(image));
  item->setToolTip(0, item->text(0));  // a keyword too long for the bar is cut short there
  item->setData(0, quarry::kTaskRole, QVariant::fromValue(reinterpret_cast<quintptr>(task)));
  item->setData(0, quarry::kItemIdRole, QVariant::fromValue<qulonglong>(id));
  Root(root)->addChild(item);
  m_items[id] = item;
  return id;
}

void CTaskTreeCtrl::DeleteItem(quarry::TreeItemId id) {
  auto found = m_items.find(id);
  if (found == m_items.end()) return;
  QTreeWidgetItem* item = found->second;
  m_items.erase(found);
  delete item;  // may move the selection, which reports the next item's task
}

void CTaskTreeCtrl::ExpandRoot(TaskRoot root) { expandItem(Root(root)); }

QTreeWidgetItem* CTaskTreeCtrl::Root(TaskRoot root) const {
  return m_roots[static_cast<int>(root)];
}

QTreeWidgetItem* CTaskTreeCtrl::Item(quarry::TreeItemId id) const {
  auto found = m_items.find(id);
  return found == m_items.end() ? nullptr : found->second;
}

quarry::Task* CTaskTreeCtrl::TaskOf(const QTreeWidgetItem* item) {
  if (!item || !item->parent()) return nullptr;
  return reinterpret_cast<quarry::Task*>(item->data(0, quarry::kTaskRole).value<quintptr>());
}

quarry::Task* CTaskTreeCtrl::SelectedTask() const { return TaskOf(currentItem()); }

const QIcon& CTaskTreeCtrl::Image(int index) const {
  static const QIcon none;
  if (index < 0 || index >= quarry::kTaskTreeImageCount) return none;
  return m_images[index];
}
