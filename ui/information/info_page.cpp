// InfoPage: see info_page.h. The rows are made once; showing a task only rewrites column 2.
// Counts are shown as the runner uses them (clamped to 1..6 threads and 1..500 pages), so a
// damaged task file never shows figures the task does not run with.
#include "ui/information/info_page.h"

#include <QHeaderView>
#include <QPainter>
#include <QPixmap>

#include "ui/information/report_list.h"

namespace {

const char* const kRowLabels[InfoPage::kProgressRow + 1] = {
    "搜索关键词", "状态",   "开始下载时间", "下载页数", "已下载页数", "已下载文件数",
    "存储路径",   "线程数", "搜索模式",     "任务进度",
};

constexpr int kIconColumn = 0;
constexpr int kLabelColumn = 1;
constexpr int kValueColumn = 2;

}  // namespace

InfoPage::InfoPage(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("InfoPage"));
  setColumnCount(3);
  setHeaderLabels({QStringLiteral(" "), QString(), QString()});
  ApplyReportListLook(*this);
  setIconSize(QSize(kIconSize, kIconSize));
  header()->resizeSection(kIconColumn, kIconColumnWidth);
  header()->resizeSection(kLabelColumn, kLabelColumnWidth);
  header()->resizeSection(kValueColumn, kValueColumnWidth);
  const QIcon icon = RowIcon();
  for (const char* label : kRowLabels) {
    auto* item = new QTreeWidgetItem(this);
    item->setIcon(kIconColumn, icon);
    item->setText(kLabelColumn, QString::fromUtf8(label));
    for (int column = 0; column < 3; ++column) item->setForeground(column, kListTextColour);
  }
}

void InfoPage::ShowTask(const quarry::SearchTask& task) {
  const QString values[kRows] = {
      QString::fromStdString(quarry::FieldText(task.keyword)),
      StateLabel(task.state),
      QString::fromStdString(quarry::FieldText(task.createdAt)),
      QString::number(quarry::RunnablePageCount(task)),
      QString::number(task.pagesFetched),
      QString::number(task.filesFetched),
      QString::fromStdString(quarry::FieldText(task.folder)),
      QString::number(quarry::RunnableThreadCount(task)),
  };
  for (int row = 0; row < kRows; ++row) topLevelItem(row)->setText(kValueColumn, values[row]);
}

void InfoPage::ShowMode(const QString& mode) {
  topLevelItem(kModeRow)->setText(kValueColumn, mode);
}

void InfoPage::ShowProgress(const QString& progress) {
  topLevelItem(kProgressRow)->setText(kValueColumn, progress);
}

void InfoPage::Clear() {
  for (int row = 0; row <= kProgressRow; ++row) topLevelItem(row)->setText(kValueColumn, QString());
}

int InfoPage::FullHeight() const {
  const int heading = header()->isHidden() ? 0 : header()->sizeHint().height();
  return 2 * frameWidth() + heading + topLevelItemCount() * sizeHintForRow(0);
}

QString InfoPage::Label(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(kLabelColumn) : QString();
}

QString InfoPage::Value(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(kValueColumn) : QString();
}

QString InfoPage::StateLabel(quarry::TaskState state) {
  switch (state) {
    case quarry::TaskState::Waiting: return QStringLiteral("等待");
    case quarry::TaskState::Running: return QStringLiteral("运行");
    case quarry::TaskState::Paused: return QStringLiteral("暂停");
    case quarry::TaskState::Ended: return QStringLiteral("完成");
  }
  return QString();
}

QIcon InfoPage::RowIcon() {
  // A blue disc with a white "i", in the list's own text colour.
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kListTextColour);
  painter.drawEllipse(QRectF(2, 2, 16, 16));
  painter.setBrush(Qt::white);
  painter.drawEllipse(QRectF(8.5, 4.5, 3, 3));
  painter.drawRoundedRect(QRectF(8.5, 8.5, 3, 7.5), 1, 1);
  return QIcon(pixmap);
}
