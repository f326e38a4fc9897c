// FailurePage: see failure_page.h. The counts on the left in the order of FailureReason, a total
// above them; the failures on the right, in the order they were first met.
#include "ui/information/failure_page.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "records/record_store.h"
#include "ui/information/report_list.h"

namespace {

constexpr int kFailureColumnWidths[FailureModel::kColumnCount] = {80, 40, 320, 240};
constexpr int kCountColumnWidths[] = {120, 60, 60};
const char* const kFailureHeadings[FailureModel::kColumnCount] = {"原因", "次数", "地址", "详情"};
constexpr char kRetryMark[] = "会重试";

}  // namespace

void FailureModel::SetFailures(std::vector<quarry::FailureRow> failures) {
  beginResetModel();
  m_failures = std::move(failures);
  m_shown = std::min(Total(), kBatch);
  endResetModel();
}

int FailureModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_shown;
}

int FailureModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant FailureModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_shown) return QVariant();
  const quarry::FailureRow& failure = m_failures[static_cast<std::size_t>(index.row())];
  if (role == Qt::ToolTipRole && index.column() == kUrlColumn) {
    const QString url = QString::fromStdString(failure.url);
    return failure.title.empty() ? url
                                 : url + QLatin1Char('\n') + QString::fromStdString(failure.title);
  }
  if (role == Qt::ToolTipRole && index.column() == kDetailColumn)
    return QString::fromStdString(failure.detail);
  if (role == Qt::TextAlignmentRole && index.column() == kAttemptsColumn)
    return int(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return QVariant();
  switch (index.column()) {
    case kReasonColumn: return QString::fromUtf8(quarry::FailureReasonLabel(failure.reason));
    case kAttemptsColumn: return failure.attempts;
    case kUrlColumn: return QString::fromStdString(failure.url);
    case kDetailColumn: return QString::fromStdString(failure.detail);
    default: return QVariant();
  }
}

QVariant FailureModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumnCount)
    return QVariant();
  return QString::fromUtf8(kFailureHeadings[section]);
}

bool FailureModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && m_shown < Total();
}

void FailureModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  const int more = std::min(kBatch, Total() - m_shown);
  beginInsertRows(QModelIndex(), m_shown, m_shown + more - 1);
  m_shown += more;
  endInsertRows();
}

FailurePage::FailurePage(QWidget* parent)
    : QWidget(parent),
      m_summary(new QLabel),
      m_countList(new QTreeWidget),
      m_list(new QTreeView),
      m_model(new FailureModel(this)) {
  setObjectName(QStringLiteral("FailurePage"));
  // The lists' grey behind the summary and between the lists, not the splitter's black.
  QPalette colours = palette();
  colours.setColor(QPalette::Window, kListBackColour);
  colours.setColor(QPalette::WindowText, kListTextColour);
  setPalette(colours);
  setAutoFillBackground(true);
  m_summary->setObjectName(QStringLiteral("FailureSummary"));
  m_summary->setWordWrap(true);
  m_countList->setObjectName(QStringLiteral("FailureCounts"));
  m_countList->setColumnCount(3);
  m_countList->setHeaderLabels(
      {QStringLiteral("原因"), QStringLiteral("数量"), QStringLiteral("重试")});
  ApplyReportListLook(*m_countList);
  for (int column = 0; column < 3; ++column)
    m_countList->header()->resizeSection(column, kCountColumnWidths[column]);
  m_list->setObjectName(QStringLiteral("FailureList"));
  m_list->setModel(m_model);
  ApplyReportListLook(*m_list);
  // A long address keeps its host and its name in sight, and the detail beside it.
  m_list->setTextElideMode(Qt::ElideMiddle);
  for (int column = 0; column < FailureModel::kColumnCount; ++column)
    m_list->header()->resizeSection(column, kFailureColumnWidths[column]);
  m_list->header()->setStretchLastSection(true);

  auto* left = new QVBoxLayout;
  left->setContentsMargins(4, 2, 0, 0);
  left->setSpacing(2);
  left->addWidget(m_summary);
  left->addWidget(m_countList, 1);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  auto* counts = new QWidget;
  counts->setLayout(left);
  counts->setFixedWidth(kCountsWidth);
  layout->addWidget(counts);
  layout->addWidget(m_list, 1);
  Clear();
}

bool FailurePage::ShowFolder(const std::string& folder) {
  // A task that never ran has no database yet, and no failure.
  if (!QFileInfo::exists(QString::fromStdString(folder + quarry::kDatabaseFileName))) {
    ShowFailures({});
    return true;
  }
  std::vector<quarry::FailureRow> failures;
  quarry::RecordError error;
  if (!quarry::TaskFacts::ReadFailures(folder, &failures, &error)) {
    ShowFailures({});
    m_summary->setText(
        QStringLiteral("无法读取失败列表：%1").arg(QString::fromStdString(error.text)));
    return false;
  }
  ShowFailures(std::move(failures));
  return true;
}

void FailurePage::ShowFailures(std::vector<quarry::FailureRow> failures) {
  m_counts.fill(0);
  int retryable = 0;
  for (const quarry::FailureRow& failure : failures) {
    ++m_counts[static_cast<std::size_t>(failure.reason)];
    if (quarry::IsRetryable(failure.reason)) ++retryable;
  }
  m_countList->clear();
  for (int i = 0; i < quarry::kFailureReasonCount; ++i) {
    if (m_counts[static_cast<std::size_t>(i)] == 0) continue;
    const auto reason = static_cast<quarry::FailureReason>(i);
    auto* item = new QTreeWidgetItem(m_countList);
    item->setText(kCountReasonColumn, QString::fromUtf8(quarry::FailureReasonLabel(reason)));
    item->setText(kCountColumn, QString::number(m_counts[static_cast<std::size_t>(i)]));
    item->setTextAlignment(kCountColumn, Qt::AlignRight | Qt::AlignVCenter);
    if (quarry::IsRetryable(reason)) item->setText(kRetryColumn, QString::fromUtf8(kRetryMark));
    for (int column = 0; column < 3; ++column) item->setForeground(column, kListTextColour);
  }
  m_summary->setText(
      failures.empty()
          ? QStringLiteral("没有失败的文件")
          : QStringLiteral("共 %1 个失败，其中 %2 个可以重试").arg(failures.size()).arg(retryable));
  m_model->SetFailures(std::move(failures));
}

void FailurePage::Clear() {
  ShowFailures({});
  m_summary->clear();
}
