// ThreadLog and its model: see thread_log.h.
#include "ui/information/thread_log.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <algorithm>

#include "ui/information/report_list.h"

int ThreadLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

int ThreadLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant ThreadLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole) {
    return index.column() == 0 ? QStringLiteral(" ")
                               : m_lines[static_cast<std::size_t>(index.row())];
  }
  if (role == Qt::ForegroundRole) return kListTextColour;
  return {};
}

QVariant ThreadLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QStringLiteral(" ") : QString();
}

int ThreadLogModel::AddLines(std::deque<QString> oldestFirst) {
  // Only the newest kMaxLogLines of a batch can stay on the page.
  while (oldestFirst.size() > static_cast<std::size_t>(kMaxLogLines)) oldestFirst.pop_front();
  const int count = static_cast<int>(oldestFirst.size());
  if (count == 0) return 0;
  if (count == kMaxLogLines) {  // the batch fills the page on its own
    beginResetModel();
    m_lines.assign(oldestFirst.rbegin(), oldestFirst.rend());
    endResetModel();
    return count;
  }
  beginInsertRows(QModelIndex(), 0, count - 1);
  for (QString& line : oldestFirst) m_lines.push_front(std::move(line));
  endInsertRows();
  const int size = static_cast<int>(m_lines.size());
  if (size > kMaxLogLines) {
    beginRemoveRows(QModelIndex(), kMaxLogLines, size - 1);
    m_lines.resize(kMaxLogLines);
    endRemoveRows();
  }
  return count;
}

ThreadLog::ThreadLog(int thread, QWidget* parent) : QTreeView(parent) {
  setObjectName(QStringLiteral("ThreadLog%1").arg(thread));
  setModel(&m_model);
  ApplyReportListLook(*this);
  header()->resizeSection(0, kMarkWidth);
  header()->resizeSection(1, kTextWidth);
  const QFontMetrics metrics(font());
  for (char16_t code = 0x20; code < 0x7f; ++code)
    m_asciiWidth = std::max(m_asciiWidth, metrics.horizontalAdvance(QChar(code)));
  m_controlWidth = kControlColumns * m_asciiWidth;  // a tab at its widest
  m_otherWidth = std::max(metrics.maxWidth(), 2 * m_asciiWidth);
}

int ThreadLog::AddLines(std::deque<QString> oldestFirst) {
  // Measuring every line would cost the GUI thread more than the rest of a batch together, so
  // a line is measured only when a cheap bound on its width exceeds the column.
  const int room = header()->sectionSize(1) - kTextMargin;
  const QFontMetrics metrics(font());
  int widest = 0;
  for (const QString& line : oldestFirst) {
    if (WidthBound(line) > room) widest = std::max(widest, metrics.horizontalAdvance(line));
  }
  if (widest > room) header()->resizeSection(1, widest + kTextMargin);
  return m_model.AddLines(std::move(oldestFirst));
}

long long ThreadLog::WidthBound(const QString& line) const {
  long long bound = 0;
  for (const QChar character : line) {
    const char16_t code = character.unicode();
    bound += code >= 0x20 && code < 0x7f ? m_asciiWidth
             : code < 0x20               ? m_controlWidth
                                         : m_otherWidth;
  }
  return bound;
}
