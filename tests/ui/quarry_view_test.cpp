// The result browser: its geometry and text rules, paging on both faces, live additions from
// worker threads, picture decoding (broken and hostile files included), the address pop-up,
// opening files from the file list, and the gallery's two result pages.
#include <sqlite3.h>

#include <QDesktopServices>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <fstream>
#include <thread>

#include "records/record_store.h"
#include "screenshot_gallery.h"
#include "tests/support/temp_folder.h"
#include "ui/file_list.h"
#include "ui/label_wnd.h"
#include "ui/quarry_view.h"
#include "ui/thumbnail_list.h"

using namespace quarry;
using quarry::testing::TempFolder;

namespace {

// The path a record of the test tasks points to: "<folder>070809<nn>-<name>".
std::string SavedPath(const std::string& folder, int number, const std::string& name = "pic.jpg") {
  return folder + "0708" + QString::number(1000 + number).toStdString() + "-" + name;
}

// Runs `sql` on the task database of `folder`.
bool Exec(const std::string& folder, const std::string& sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(RecordStore::ConnectionString(folder).c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Creates the task database of `folder` with records 1 to `count` in one transaction.
void MakeRecords(const std::string& folder, int count, const std::string& name = "pic.jpg") {
  QVERIFY(RecordStore::PrepareTaskDatabase(folder));
  std::string sql = "BEGIN;";
  for (int i = 1; i <= count; ++i) {
    sql += "INSERT INTO filename VALUES('" + SavedPath(folder, i, name) + "', 'http://h/" +
           std::to_string(i) + "', 'title " + std::to_string(i) + "');";
  }
  QVERIFY(Exec(folder, sql + "COMMIT;"));
}

void WritePicture(const std::string& path, QSize size, const char* format, QColor colour) {
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

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A BMP header for a 30000 x 30000 picture of 32 bits with no pixels after it: decoding it
// in full would need 3.4 GB.
std::string HostileBmp() {
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
QStringList Listed(CQuarryView& view) {
  QStringList listed;
  if (view.showsThumbnails()) {
    ThumbnailList& grid = *view.thumbnailList();
    for (int i = 0; i < grid.cellCount(); ++i) listed << QString::fromStdString(grid.cell(i).path);
  } else {
    FileList& files = *view.fileList();
    for (int i = 0; i < files.topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = files.topLevelItem(i);
      listed << row->text(FileList::kNumberColumn) + " " + row->text(FileList::kFileColumn);
    }
  }
  return listed;
}

QString Entry(bool thumbnails, const std::string& folder, int number) {
  const QString path = QString::fromStdString(SavedPath(folder, number));
  return thumbnails ? path : QString::number(number) + " " + path;
}

// The enabling of next, previous, first and last as one text, such as "NPFL" or "....".
QString Enabled(PagePosition at) {
  return QString(CanNextPage(at) ? "N" : ".") + (CanPreviousPage(at) ? "P" : ".") +
         (CanFirstPage(at) ? "F" : ".") + (CanLastPage(at) ? "L" : ".");
}

void MoveMouse(QWidget* widget, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(widget, &move);
}

}  // namespace

class UrlCatcher : public QObject {
  Q_OBJECT

public:
  QList<QUrl> opened;

public slots:
  void Open(const QUrl& url) { opened << url; }
};

class QuarryViewTest : public QObject {
  Q_OBJECT

private slots:
  void LayoutRules() {
    struct Scale {
      QSize picture, drawn;
    } scales[] = {{{4000, 3000}, {140, 105}}, {{3000, 4000}, {90, 120}}, {{100, 100}, {120, 120}},
                  {{16, 16}, {120, 120}},     {{}, {120, 120}},          {{10000, 1}, {140, 1}},
                  {{1, 10000}, {1, 120}}};
    for (const Scale& s : scales) QCOMPARE(ThumbnailDrawSize(s.picture), s.drawn);
    QCOMPARE(PictureRect(CellRect(7), {140, 105}), QRect(170, 187, 140, 105));

    struct Name {
      std::string path, shown;
    } names[] = {
        {"/d/abcdefghijklmnopqrstuvwxyz0123", "abcdefghijklmnopqrst..."},  // 32 bytes
        {"C:\\d\\abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx"},   // 24 bytes: whole
        {"/d/abcdefghijklmnopqrstuvwxy", "abcdefghijklmnopqrst..."},       // 25 bytes
        {"/d/03090507-花花花花花", "03090507-花花花花花"},                 // 24 bytes
        {"/d/03090507-花花花花花花", "03090507-花花花..."},  // byte 20 inside the 4th 花
        {"name", "name"},
    };
    for (const Name& n : names) QCOMPARE(ShortFileName(FileNamePart(n.path)), n.shown);

    struct Hit {
      QPoint at;
      int cells, index;
    } hits[] = {{{0, 0}, 1, 0},    {{959, 10}, 6, 5}, {{960, 10}, 30, -1},  {{5, 165}, 7, 6},
                {{5, 165}, 6, -1}, {{-1, 5}, 30, -1}, {{170, 799}, 30, 25}, {{170, 800}, 30, -1}};
    for (const Hit& h : hits) QCOMPARE(CellAt(h.at, h.cells), h.index);

    const QSize area(960, 500);
    struct Place {
      QPoint pointer, label;
    } places[] = {{{10, 10}, {12, 12}},
                  {{660, 10}, {662, 12}},     // exactly 300 pixels to the right: no flip
                  {{661, 10}, {361, 12}},     // flipped left
                  {{10, 420}, {12, 422}},     // exactly 80 below
                  {{10, 421}, {12, 341}},     // flipped up
                  {{900, 480}, {600, 400}}};  // both
    for (const Place& p : places) QCOMPARE(LabelPosition(p.pointer, area), p.label);

    struct Rule {
      PagePosition at;
      const char* enabled;
    } rules[] = {{{0, 0}, "...."}, {{1, 0}, "...."}, {{1, 1}, "...."}, {{1, 2}, "N..L"},
                 {{2, 2}, ".PF."}, {{2, 3}, "NPFL"}, {{3, 2}, ".PF."}};
    for (const Rule& r : rules) QCOMPARE(Enabled(r.at), QString(r.enabled));
    QCOMPARE(PageCountFor(0), 0);
    QCOMPARE(PageCountFor(30), 1);
    QCOMPARE(PageCountFor(31), 2);
  }

  void Paging_data() {
    QTest::addColumn<FileKind>("kind");
    QTest::newRow("thumbnails") << FileKind::Image;
    QTest::newRow("file list") << FileKind::Pdf;
  }

  void Paging() {
    QFETCH(FileKind, kind);
    const bool thumbnails = kind == FileKind::Image;
    TempFolder thirty, sixtyOne, empty, none;
    MakeRecords(thirty.Path(), 30);
    MakeRecords(sixtyOne.Path(), 61);
    MakeRecords(empty.Path(), 0);
    QStringList messages;
    CQuarryView view;
    view.SetMessageSink([&](const QString& text) { messages << text; });
    QSignalSpy paging(&view, &CQuarryView::pagingChanged);

    view.ShowTask(kind, thirty.Path());
    QCOMPARE(view.showsThumbnails(), thumbnails);
    QCOMPARE(view.thumbnailList()->isHidden(), !thumbnails);
    QCOMPARE(view.fileList()->isHidden(), thumbnails);
    QCOMPARE(Listed(view).size(), 30);
    QCOMPARE(Listed(view).last(), Entry(thumbnails, thirty.Path(), 30));
    QCOMPARE(Enabled(view.position()), QString("...."));
    QVERIFY(!paging.isEmpty());

    view.ShowTask(kind, sixtyOne.Path());
    QCOMPARE(Enabled(view.position()), QString("N..L"));
    view.NextPage();
    QCOMPARE(view.position().current, 2);
    QCOMPARE(Listed(view).first(), Entry(thumbnails, sixtyOne.Path(), 31));
    QCOMPARE(Enabled(view.position()), QString("NPFL"));
    view.LastPage();
    QCOMPARE(Listed(view), QStringList{Entry(thumbnails, sixtyOne.Path(), 61)});
    QCOMPARE(Enabled(view.position()), QString(".PF."));
    view.FirstPage();
    QCOMPARE(view.position().current, 1);
    view.NextPage();

    // Records lost behind the view's back: the page asked for is past the last, which shows.
    QVERIFY(Exec(sixtyOne.Path(), "DELETE FROM filename WHERE rowid > 31"));
    QVERIFY(view.CanNextPage());
    view.NextPage();
    QCOMPARE(view.position().current, 2);
    QCOMPARE(view.position().count, 2);
    QCOMPARE(Listed(view), QStringList{Entry(thumbnails, sixtyOne.Path(), 31)});

    view.ShowTask(kind, empty.Path());
    QCOMPARE(view.position().current, 1);
    QCOMPARE(view.position().count, 0);
    QCOMPARE(Enabled(view.position()), QString("...."));
    QVERIFY(messages.isEmpty());

    // A task that never ran has no folder or no database yet: an empty page, quietly.
    view.ShowTask(kind, none.Path() + "gone/");
    view.ShowTask(kind, none.Path());
    QVERIFY(messages.isEmpty());
    QVERIFY(Listed(view).isEmpty());
    QCOMPARE(Enabled(view.position()), QString("...."));
    // A database that is there and cannot be read is reported.
    WriteBytes(none.Path() + "db.sqlite", "not a database, only text");
    view.ShowTask(kind, none.Path());
    QCOMPARE(messages, QStringList{"打开数据库出错!"});
    QVERIFY(Listed(view).isEmpty());
    QCOMPARE(Enabled(view.position()), QString("...."));

    // Blank: no task is shown, as before the first one; paging is off.
    view.ShowTask(kind, sixtyOne.Path());
    view.Blank();
    QVERIFY(view.showsThumbnails() && view.fileList()->isHidden());
    QVERIFY(Listed(view).isEmpty());
    QCOMPARE(Enabled(view.position()), QString("...."));
  }

  void LiveAdditions() {
    TempFolder images, documents;
    MakeRecords(images.Path(), 31);
    MakeRecords(documents.Path(), 29);
    WritePicture(SavedPath(images.Path(), 33), {80, 60}, "JPG", Qt::darkGreen);
    CQuarryView view;
    QStringList messages;
    view.SetMessageSink([&](const QString& text) { messages << text; });
    ThumbnailList& grid = *view.thumbnailList();

    // As a runner does: the view hears of the file on a worker thread, then the row is stored.
    // The worker returns without the user-interface thread having run.
    auto save = [&](FileKind kind, const std::string& folder, int number) {
      std::thread worker([&] {
        view.OnRecordAdded(kind, SavedPath(folder, number), "http://h/" + std::to_string(number),
                           "title " + std::to_string(number));
        RecordStore::AddRecord(folder, SavedPath(folder, number),
                               "http://h/" + std::to_string(number), "");
      });
      worker.join();
    };

    view.ShowTask(FileKind::Image, images.Path());
    save(FileKind::Image, images.Path(), 32);  // page 1 is not the last: only the count grows
    QTRY_COMPARE(grid.total(), 32LL);
    QCOMPARE(grid.cellCount(), 30);
    QCOMPARE(view.position().count, 2);
    view.LastPage();
    QCOMPARE(grid.cellCount(), 2);
    save(FileKind::Image, images.Path(), 33);  // the last page has room: a cell at once
    QTRY_COMPARE(grid.cellCount(), 3);
    QCOMPARE(grid.cell(2).url, std::string("http://h/33"));
    QTRY_COMPARE(grid.cell(2).picture, ThumbnailCell::Picture::Shown);
    QCOMPARE(grid.cell(2).image.size(), QSize(140, 105));
    save(FileKind::Pdf, images.Path(), 34);  // not a picture: no task shown can own it
    QCoreApplication::processEvents();
    QCOMPARE(grid.total(), 33LL);

    // Records still queued for the task shown before are dropped when another is shown.
    view.OnRecordAdded(FileKind::Image, SavedPath(images.Path(), 35), "http://h/35", "");
    view.ShowTask(FileKind::Pdf, documents.Path());
    FileList& files = *view.fileList();
    QCoreApplication::processEvents();
    QCOMPARE(files.topLevelItemCount(), 29);
    save(FileKind::Pdf, documents.Path(), 30);
    save(FileKind::Pdf, documents.Path(), 31);  // the list is full: no row, but a next page
    QTRY_COMPARE(files.total(), 31LL);
    QCOMPARE(files.topLevelItemCount(), 30);
    QCOMPARE(files.topLevelItem(29)->text(FileList::kNumberColumn), QString("30"));
    QCOMPARE(files.topLevelItem(29)->text(FileList::kTitleColumn), QString("title 30"));
    QCOMPARE(Enabled(view.position()), QString("N..L"));
    view.NextPage();
    QCOMPARE(Listed(view), QStringList{Entry(false, documents.Path(), 31)});
    QVERIFY(messages.isEmpty());
  }

  void ThumbnailPictures() {
    TempFolder task;
    const std::string& folder = task.Path();
    QVERIFY(RecordStore::PrepareTaskDatabase(folder));
    struct Picture {
      std::string name;
      QSize drawn;  // empty: the cell has no picture
    } pictures[] = {
        {"wide.jpg", {140, 105}},
        {"tall.png", {90, 120}},
        {"square.bmp", {120, 120}},
        {"broken.jpg", {}},
        {"missing.jpg", {}},
        {"hostile.bmp", {}},
        {"abcdefghijklmnopqrstuvwxyz0123.jpg", {140, 70}},
    };
    WritePicture(folder + "wide.jpg", {400, 300}, "JPG", Qt::darkCyan);
    WritePicture(folder + "tall.png", {300, 400}, "PNG", Qt::darkMagenta);
    WritePicture(folder + "square.bmp", {50, 50}, "BMP", Qt::darkYellow);
    WriteBytes(folder + "broken.jpg", std::string("\xFF\xD8\xFF\xE0 not really a picture", 27));
    WriteBytes(folder + "hostile.bmp", HostileBmp());
    WritePicture(folder + "abcdefghijklmnopqrstuvwxyz0123.jpg", {200, 100}, "JPG", Qt::red);
    for (const Picture& p : pictures)
      QVERIFY(RecordStore::AddRecord(folder, folder + p.name, "http://h/" + p.name, ""));

    CQuarryView view;
    view.resize(980, 520);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowTask(FileKind::Image, folder);
    ThumbnailList& grid = *view.thumbnailList();
    QCOMPARE(grid.cellCount(), 7);
    for (int i = 0; i < 7; ++i) {
      QTRY_VERIFY(grid.cell(i).picture != ThumbnailCell::Picture::Decoding);
      const bool shown = pictures[i].drawn.isValid();
      QCOMPARE(grid.cell(i).picture,
               shown ? ThumbnailCell::Picture::Shown : ThumbnailCell::Picture::Missing);
      QCOMPARE(grid.cell(i).image.size(), shown ? pictures[i].drawn : QSize(0, 0));
    }

    // Cell 0 selected, cells 3 (broken) and 6 not: each keeps its frame of the right colour.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.ViewRect(0).center());
    QCOMPARE(grid.selectedCell(), 0);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, grid.ViewRect(0).center());
    QCOMPARE(grid.selectedCell(), 0);  // a double-click opens nothing
    const QImage drawn = grid.viewport()->grab().toImage();
    auto pixel = [&](int cell, QPoint at) {
      return QColor(drawn.pixel(grid.ViewRect(cell).topLeft() + at));
    };
    QCOMPARE(pixel(0, {80, 5}), QColor(0, 0, 200));
    QCOMPARE(pixel(0, {80, 6}), QColor(0, 0, 200));
    QCOMPARE(pixel(3, {80, 5}), QColor(200, 200, 200));
    QCOMPARE(pixel(3, {80, 6}), QColor(255, 255, 255));
    QCOMPARE(pixel(3, {80, 80}), QColor(255, 255, 255));  // no picture
    QCOMPARE(pixel(6, {5, 80}), QColor(200, 200, 200));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, QPoint(500, 300));  // no cell there
    QCOMPARE(grid.selectedCell(), -1);
  }

  void LabelPopup() {
    TempFolder task;
    MakeRecords(task.Path(), 14);
    CQuarryView view;
    view.resize(700, 420);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowTask(FileKind::Image, task.Path());
    ThumbnailList& grid = *view.thumbnailList();
    QWidget* area = grid.viewport();
    CLabelWnd* label = grid.label();
    QCOMPARE(label->size(), QSize(300, 70));

    MoveMouse(area, {30, 40});
    QVERIFY(label->isVisible());
    QCOMPARE(label->pos(), QPoint(32, 42));
    QCOMPARE(label->url(), QString("http://h/1"));
    QCOMPARE(label->path(), QString::fromStdString(SavedPath(task.Path(), 1)));
    MoveMouse(area, {40, 50});  // the same cell: the pop-up stays where it was
    QCOMPARE(label->pos(), QPoint(32, 42));

    const int right = area->width() - 100, bottom = area->height() - 30;
    MoveMouse(area, {right, 40});
    QCOMPARE(label->pos(), QPoint(right - 300, 42));
    QCOMPARE(label->url(), QString("http://h/%1").arg(right / 160 + 1));
    MoveMouse(area, {30, bottom});
    QCOMPARE(label->pos(), QPoint(32, bottom - 80));

    using Action = std::function<void()>;
    const std::pair<const char*, Action> hiders[] = {
        {"leaving the cells",
         [&] {
           MoveMouse(area, {500, 330});
         }},  // row 3 holds 2 cells
        {"leaving the grid",
         [&] {
           QEvent leave(QEvent::Leave);
           QApplication::sendEvent(area, &leave);
         }},
        {"scrolling", [&] { grid.verticalScrollBar()->setValue(40); }},
        {"the wheel",
         [&] {
           QWheelEvent wheel(QPointF(30, 40), area->mapToGlobal(QPointF(30, 40)), QPoint(),
                             QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                             false);
           QApplication::sendEvent(area, &wheel);
         }},
        {"losing the focus",
         [&] {
           QFocusEvent out(QEvent::FocusOut);
           QApplication::sendEvent(&grid, &out);
         }},
    };
    for (const auto& [what, hide] : hiders) {
      grid.verticalScrollBar()->setValue(0);
      MoveMouse(area, {30, 40});
      QVERIFY2(label->isVisible(), what);
      hide();
      QVERIFY2(!label->isVisible(), what);
    }
  }

  void FileListRowsAndOpening() {
    TempFolder task;
    const std::string& folder = task.Path();
    MakeRecords(folder, 2);
    WriteBytes(SavedPath(folder, 1), "%PDF-1.4 a document");
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    QStringList messages;
    CQuarryView view;
    view.SetMessageSink([&](const QString& text) { messages << text; });
    view.resize(900, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    FileList& files = *view.fileList();

    QList<qint64> icons;
    for (FileKind kind : {FileKind::Word, FileKind::Slides, FileKind::Pdf, FileKind::Excel}) {
      view.ShowTask(kind, folder);
      const QIcon icon = files.topLevelItem(0)->icon(FileList::kIconColumn);
      QVERIFY(!icon.pixmap(20, 20).isNull());
      QVERIFY(!icons.contains(icon.pixmap(20, 20).cacheKey()));
      icons << icon.pixmap(20, 20).cacheKey();
    }
    const char* titles[] = {" ", "序号", "标题", "文件名", "原始网址"};
    const int widths[] = {50, 50, 300, 160, 480};
    for (int column = 0; column < FileList::kColumnCount; ++column) {
      QCOMPARE(files.headerItem()->text(column), QString::fromUtf8(titles[column]));
      QCOMPARE(files.columnWidth(column), widths[column]);
    }
    QTreeWidgetItem* row = files.topLevelItem(1);
    QCOMPARE(row->text(FileList::kNumberColumn), QString("2"));
    QCOMPARE(row->text(FileList::kTitleColumn), QString("title 2"));
    QCOMPARE(row->text(FileList::kUrlColumn), QString("http://h/2"));
    QCOMPARE(row->foreground(FileList::kTitleColumn).color(), QColor(0, 100, 150));
    QCOMPARE(row->background(FileList::kUrlColumn).color(), QColor(200, 200, 200));
    QCOMPARE(files.selectionBehavior(), QAbstractItemView::SelectRows);

    auto doubleClick = [&](int index) {
      const QRect place = files.visualItemRect(files.topLevelItem(index));
      QTest::mouseClick(files.viewport(), Qt::LeftButton, {}, place.center());
      QTest::mouseDClick(files.viewport(), Qt::LeftButton, {}, place.center());
    };
    doubleClick(0);
    QCOMPARE(catcher.opened,
             QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(SavedPath(folder, 1)))});
    QVERIFY(messages.isEmpty());
    doubleClick(1);  // never written to disk
    QCOMPARE(catcher.opened.size(), 1);
    QCOMPARE(messages, QStringList{"文件不存在：" + QString::fromStdString(SavedPath(folder, 2))});
    QDesktopServices::unsetUrlHandler("file");
  }

  // The gallery: a page of an image task with one thumbnail selected and the pop-up shown, and
  // a page of a PDF task.
  void Gallery() {
    TempFolder images, documents;
    QVERIFY(RecordStore::PrepareTaskDatabase(images.Path()));
    const char* names[] = {"荷花.jpg",
                           "sunflower-field-in-the-evening.jpg",
                           "樱花盛开的公园小路.jpg",
                           "tulip.png",
                           "rose.jpg",
                           "玫瑰.jpg",
                           "lotus-pond.jpg",
                           "daisy.jpg",
                           "chrysanthemum-yellow-autumn.jpg",
                           "orchid.png",
                           "牡丹.jpg",
                           "lily.jpg",
                           "broken-picture.jpg",
                           "peony.jpg"};
    const QSize sizes[] = {{640, 480}, {800, 300}, {300, 450}, {256, 256}};
    for (int i = 0; i < 14; ++i) {
      const std::string path = SavedPath(images.Path(), i + 1, names[i]);
      if (i == 12)
        WriteBytes(path, "not a picture");
      else
        WritePicture(path, sizes[i % 4], i % 4 == 3 ? "PNG" : "JPG",
                     QColor::fromHsv((i * 47) % 360, 160, 220));
      QVERIFY(RecordStore::AddRecord(
          images.Path(), path, "http://img.example.com/photos/2024/" + std::string(names[i]), ""));
    }
    CQuarryView view;
    view.resize(900, 527);  // the upper pane of the main window's first size
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowTask(FileKind::Image, images.Path());
    ThumbnailList& grid = *view.thumbnailList();
    for (int i = 0; i < grid.cellCount(); ++i)
      QTRY_VERIFY(grid.cell(i).picture != ThumbnailCell::Picture::Decoding);
    grid.SelectCell(8);
    MoveMouse(grid.viewport(), grid.ViewRect(8).center() + QPoint(30, 10));
    QVERIFY(grid.label()->isVisible());
    QVERIFY(quarry::testing::SaveScreenshot(view, "result_view_thumbnails"));

    QVERIFY(RecordStore::PrepareTaskDatabase(documents.Path()));
    const char* titles[] = {"2023年度财务报告",
                            "Annual report 2023",
                            "机器学习导论 讲义",
                            "城市规划白皮书（征求意见稿）",
                            "A survey of search engines",
                            "中华人民共和国统计年鉴",
                            "",
                            "用户手册 第三版"};
    for (int i = 0; i < 8; ++i) {
      const std::string name = "report-" + std::to_string(i) + ".pdf";
      QVERIFY(RecordStore::AddRecord(documents.Path(), SavedPath(documents.Path(), i, name),
                                     "http://docs.example.com/files/" + name, titles[i]));
    }
    view.ShowTask(FileKind::Pdf, documents.Path());
    view.fileList()->setCurrentItem(view.fileList()->topLevelItem(2));
    QVERIFY(quarry::testing::SaveScreenshot(view, "result_view_file_list"));
  }
};

QTEST_MAIN(QuarryViewTest)
#include "quarry_view_test.moc"
