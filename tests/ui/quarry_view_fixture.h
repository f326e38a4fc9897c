// What the result browser's tests share: task folders with records and pictures made on the
// spot, and readers of what the browser lists and enables.
#pragma once

#include <sqlite3.h>

#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <fstream>
#include <thread>

#include "records/record_store.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/screenshot_gallery.h"
#include "ui/results/file_list.h"
#include "ui/results/label_wnd.h"
#include "ui/results/quarry_view.h"
#include "ui/results/thumbnail_list.h"

namespace quarry::testing {

// The path a record of the test tasks points to: "<folder>070809<nn>-<name>".
inline std::string SavedPath(const std::string& folder, int number,
                             const std::string& name = "pic.jpg") {
  return folder + "0708" + QString::number(1000 + number).toStdString() + "-" + name;
}

// Runs `sql` on the task database of `folder`.
inline bool Exec(const std::string& folder, const std::string& sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(RecordStore::ConnectionString(folder).c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Creates the task database of `folder` with records 1 to `count` in one transaction.
inline void MakeRecords(const std::string& folder, int count, const std::string& name = "pic.jpg") {
  QVERIFY(RecordStore::PrepareTaskDatabase(folder));
  std::string sql = "BEGIN;";
  for (int i = 1; i <= count; ++i) {
    sql += "INSERT INTO filename VALUES('" + SavedPath(folder, i, name) + "', 'http://h/" +
           std::to_string(i) + "', 'title " + std::to_string(i) + "');";
  }
  QVERIFY(Exec(folder, sql + "COMMIT;"));
}

inline void WritePicture(const std::string& path, QSize size, const char* format, QColor colour) {
  QImage image(size, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient gradient(0, 0, size.width(), size.height());
  gradient.setColorAt(0, colour);
  gradient.setColorAt(1, colour.darker(250));
  painter.fillRect(image.rect(), gradient);
  painter.setBrush(colour.lighter(160));
  painter.drawEllipse(
      QRect(QPoint(0, 0), size)
          .adjusted(size.width() / 4, size.height() / 4, -size.width() / 4, -size.height() / 4));
  painter.end();
  QVERIFY(image.save(QString::fromStdString(path), format));
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A BMP header for a 30000 x 30000 picture of 32 bits with no pixels after it: decoding it
// in full would need 3.4 GB.
inline std::string HostileBmp() {
  std::string bytes(54, '\0');
  auto put = [&](int at, quint32 value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put(2, 54, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, 30000, 4);
  put(22, 30000, 4);
  put(26, 1, 2);
  put(28, 32, 2);
  return bytes;
}

// What the showing face lists, one entry per cell or row: the file's path and its number.
inline QStringList Listed(CQuarryView& view) {
  QStringList listed;
  if (view.showsThumbnails()) {
    ThumbnailList& grid = *view.thumbnailList();
    for (int i = 0; i < grid.cellCount(); ++i) listed << QString::fromStdString(grid.cell(i).path);
  } else {
    FileList& files = *view.fileList();
    for (int i = 0; i < files.topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = files.topLevelItem(i);
      listed << row->text(FileList::kNumberColumn) + " " + FileList::PathOf(row);
    }
  }
  return listed;
}

inline QString Entry(bool thumbnails, const std::string& folder, int number) {
  const QString path = QString::fromStdString(SavedPath(folder, number));
  return thumbnails ? path : QString::number(number) + " " + path;
}

// The enabling of next, previous, first and last as one text, such as "NPFL" or "....".
inline QString Enabled(PagePosition at) {
  return QString(CanNextPage(at) ? "N" : ".") + (CanPreviousPage(at) ? "P" : ".") +
         (CanFirstPage(at) ? "F" : ".") + (CanLastPage(at) ? "L" : ".");
}

inline void MoveMouse(QWidget* widget, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(widget, &move);
}

}  // namespace quarry::testing
