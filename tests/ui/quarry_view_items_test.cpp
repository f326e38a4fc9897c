// The result browser's items: the address pop-up, opening files from the file list, and the
// gallery's two result pages.
#include "tests/ui/quarry_view_fixture.h"

using namespace quarry;
using namespace quarry::testing;

class UrlCatcher : public QObject {
  Q_OBJECT

public:
  QList<QUrl> opened;

public slots:
  void Open(const QUrl& url) { opened << url; }
};

class QuarryViewItemsTest : public QObject {
  Q_OBJECT

private slots:
  void LabelPopup() {
    TempFolder task;
    MakeRecords(task.Path(), 14);
    CQuarryView view;
    view.resize(700, 420);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowTask(FileKind::Image, task.Path());
    QTRY_VERIFY(!view.IsLoadingPage());  // the page is read on a pool thread
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
           MoveMouse(area, {grid.columns() * 160 + 5, 40});
         }},
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
      QTRY_VERIFY(!view.IsLoadingPage());
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
    // The name alone is shown; the whole path is the tool tip.
    QCOMPARE(row->text(FileList::kFileColumn), QString("07081002-pic.jpg"));
    QCOMPARE(row->toolTip(FileList::kFileColumn), QString::fromStdString(SavedPath(folder, 2)));
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

  // The gallery: a page of an image task with one thumbnail selected and the pop-up shown, the
  // same page wider (the rows take as many cells as fit), and a page of a PDF task.
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
    QTRY_VERIFY(!view.IsLoadingPage());
    ThumbnailList& grid = *view.thumbnailList();
    for (int i = 0; i < grid.cellCount(); ++i)
      QTRY_VERIFY(grid.cell(i).picture != ThumbnailCell::Picture::Decoding);
    grid.SelectCell(8);
    MoveMouse(grid.viewport(), grid.ViewRect(8).center() + QPoint(30, 10));
    QVERIFY(grid.label()->isVisible());
    QCOMPARE(grid.columns(), 5);
    QCOMPARE(grid.ViewRect(8), QRect(480, 160, 160, 160));
    QCOMPARE(view.pageLabel()->text(), QString("第 1 / 1 页"));
    QVERIFY(quarry::testing::SaveScreenshot(view, "result_view_thumbnails"));
    view.resize(1366, 527);
    QCOMPARE(grid.columns(), 8);
    QCOMPARE(grid.ViewRect(8), QRect(0, 160, 160, 160));
    QCOMPARE(grid.verticalScrollBar()->maximum(), 0);  // two rows now fit without scrolling
    QVERIFY(!grid.label()->isVisible());               // its cell moved from under the pointer
    QCOMPARE(grid.selectedCell(), 8);
    QVERIFY(quarry::testing::SaveScreenshot(view, "result_view_thumbnails_wide"));

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
    QTRY_VERIFY(!view.IsLoadingPage());
    view.fileList()->setCurrentItem(view.fileList()->topLevelItem(2));
    QVERIFY(quarry::testing::SaveScreenshot(view, "result_view_file_list"));
  }
};

QTEST_MAIN(QuarryViewItemsTest)
#include "quarry_view_items_test.moc"
