// The result browser's geometry and text rules; see thumbnail_layout.h.
#include "ui/results/thumbnail_layout.h"

#include <algorithm>
#include <climits>

#include "engine/search_task.h"
#include "records/record_store.h"

namespace quarry {

QSize ThumbnailDrawSize(QSize picture) {
  if (picture.width() <= 0 || picture.height() <= 0) picture = QSize(kCellSize, kCellSize);
  const long long w = picture.width();
  const long long h = picture.height();
  if (w > h) {
    const int width = kCellSize - 2 * kCellPadding;
    return QSize(width, static_cast<int>(std::max(1LL, (h * width + w / 2) / w)));
  }
  int height = kCellSize - 2 * kCellPadding;
  if (height > kPictureAreaHeight - kNameHeight) height -= kNameHeight;
  return QSize(static_cast<int>(std::max(1LL, (w * height + h / 2) / h)), height);
}

int ColumnCount(int width) { return std::max(1, width / kCellSize); }

QRect CellRect(int index, int columns) {
  columns = std::max(columns, 1);
  return QRect((index % columns) * kCellSize, (index / columns) * kCellSize, kCellSize, kCellSize);
}

QRect PictureRect(const QRect& cell, QSize drawn) {
  return QRect(cell.left() + (cell.width() - drawn.width()) / 2,
               cell.top() + (cell.height() - drawn.height()) / 2, drawn.width(), drawn.height());
}

int CellAt(QPoint point, int cellCount, int columns) {
  if (point.x() < 0 || point.y() < 0) return -1;
  columns = std::max(columns, 1);
  const int column = point.x() / kCellSize;
  const int row = point.y() / kCellSize;
  if (column >= columns || row > (INT_MAX - column) / columns) return -1;
  const int index = row * columns + column;
  return index < cellCount ? index : -1;
}

int RowCount(int cellCount, int columns) {
  columns = std::max(columns, 1);
  return (std::max(cellCount, 0) + columns - 1) / columns;
}

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ShortFileName(const std::string& name) {
  if (name.size() <= static_cast<std::size_t>(kNameMaxBytes)) return name;
  return name.substr(0, CutOnCharacter(name, kNameShownBytes)) + "...";
}

QPoint LabelPosition(QPoint pointer, QSize area) {
  int x = pointer.x() + kLabelOffset;
  int y = pointer.y() + kLabelOffset;
  if (area.width() - pointer.x() < kLabelSize.width()) x = pointer.x() - kLabelSize.width();
  if (area.height() - pointer.y() < kLabelFlipHeight) y = pointer.y() - kLabelFlipHeight;
  return QPoint(x, y);
}

int PageCountFor(long long records) {
  if (records <= 0) return 0;
  const long long pages = (records + kRecordsPerPage - 1) / kRecordsPerPage;
  return pages > INT_MAX ? INT_MAX : static_cast<int>(pages);
}

}  // namespace quarry
