// The result browser: its geometry and text rules, paging on both faces, live additions from
// worker threads, and picture decoding (broken and hostile files included).
#include "tests/ui/quarry_view_fixture.h"

using namespace quarry;
using namespace quarry::testing;

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
    QCOMPARE(PictureRect(CellRect(7, 6), {140, 105}), QRect(170, 187, 140, 105));
    QCOMPARE(CellRect(7, 4), QRect(480, 160, 160, 160));
    QCOMPARE(CellRect(7, 0), QRect(0, 1120, 160, 160));  // no room counts as one column

    struct Width {
      int width, columns;
    } widths[] = {{-5, 1}, {0, 1}, {159, 1}, {160, 1}, {319, 1}, {320, 2}, {1120, 7}};
    for (const Width& w : widths) QCOMPARE(ColumnCount(w.width), w.columns);

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
      int cells, columns, index;
    } hits[] = {{{0, 0}, 1, 6, 0},       {{959, 10}, 6, 6, 5},    {{960, 10}, 30, 6, -1},
                {{5, 165}, 7, 6, 6},     {{5, 165}, 6, 6, -1},    {{-1, 5}, 30, 6, -1},
                {{170, 799}, 30, 6, 25}, {{170, 800}, 30, 6, -1}, {{1270, 10}, 30, 8, 7},
                {{1280, 10}, 30, 8, -1}, {{5, 165}, 30, 8, 8},    {{170, 4799}, 30, 1, -1},
                {{100, 4799}, 30, 1, 29}};
    for (const Hit& h : hits) QCOMPARE(CellAt(h.at, h.cells, h.columns), h.index);
    QCOMPARE(RowCount(30, 6), 5);
    QCOMPARE(RowCount(30, 7), 5);
    QCOMPARE(RowCount(30, 8), 4);
    QCOMPARE(RowCount(0, 3), 0);

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
    QTRY_VERIFY(!view.IsLoadingPage());  // the page is read on a pool thread
    QCOMPARE(view.showsThumbnails(), thumbnails);
    QCOMPARE(view.thumbnailList()->isHidden(), !thumbnails);
    QCOMPARE(view.fileList()->isHidden(), thumbnails);
    QCOMPARE(Listed(view).size(), 30);
    QCOMPARE(Listed(view).last(), Entry(thumbnails, thirty.Path(), 30));
    QCOMPARE(Enabled(view.position()), QString("...."));
    QVERIFY(!paging.isEmpty());
    QLabel* page = view.pageLabel();
    QVERIFY(!page->isHidden());
    QCOMPARE(page->text(), QString("第 1 / 1 页"));

    view.ShowTask(kind, sixtyOne.Path());
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(Enabled(view.position()), QString("N..L"));
    view.NextPage();
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(view.position().current, 2);
    QCOMPARE(Listed(view).first(), Entry(thumbnails, sixtyOne.Path(), 31));
    QCOMPARE(Enabled(view.position()), QString("NPFL"));
    QCOMPARE(page->text(), QString("第 2 / 3 页"));
    view.LastPage();
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(Listed(view), QStringList{Entry(thumbnails, sixtyOne.Path(), 61)});
    QCOMPARE(Enabled(view.position()), QString(".PF."));
    view.FirstPage();
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(view.position().current, 1);
    view.NextPage();
    QTRY_VERIFY(!view.IsLoadingPage());

    // Records lost behind the view's back: the page asked for is past the last, which shows.
    QVERIFY(Exec(sixtyOne.Path(), "DELETE FROM filename WHERE rowid > 31"));
    QVERIFY(view.CanNextPage());
    view.NextPage();
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(view.position().current, 2);
    QCOMPARE(view.position().count, 2);
    QCOMPARE(Listed(view), QStringList{Entry(thumbnails, sixtyOne.Path(), 31)});

    view.ShowTask(kind, empty.Path());
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(view.position().current, 1);
    QCOMPARE(view.position().count, 0);
    QCOMPARE(Enabled(view.position()), QString("...."));
    QCOMPARE(page->text(), QString("第 1 / 1 页"));  // an empty task still has its page
    QVERIFY(messages.isEmpty());

    // A task that never ran has no folder or no database yet: an empty page, quietly.
    view.ShowTask(kind, none.Path() + "gone/");
    QTRY_VERIFY(!view.IsLoadingPage());
    view.ShowTask(kind, none.Path());
    QTRY_VERIFY(!view.IsLoadingPage());
    QVERIFY(messages.isEmpty());
    QVERIFY(Listed(view).isEmpty());
    QCOMPARE(Enabled(view.position()), QString("...."));
    // A database that is there and cannot be read is reported.
    WriteBytes(none.Path() + "db.sqlite", "not a database, only text");
    view.ShowTask(kind, none.Path());
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(messages, QStringList{"打开数据库出错!"});
    QVERIFY(Listed(view).isEmpty());
    QCOMPARE(Enabled(view.position()), QString("...."));

    // Blank: no task is shown, as before the first one; paging is off.
    view.ShowTask(kind, sixtyOne.Path());
    QTRY_VERIFY(!view.IsLoadingPage());
    view.Blank();
    QVERIFY(view.showsThumbnails() && view.fileList()->isHidden());
    QVERIFY(Listed(view).isEmpty());
    QCOMPARE(Enabled(view.position()), QString("...."));
    QVERIFY(page->isHidden());
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
    QTRY_VERIFY(!view.IsLoadingPage());
    save(FileKind::Image, images.Path(), 32);  // page 1 is not the last: only the count grows
    QTRY_COMPARE(grid.total(), 32LL);
    QCOMPARE(grid.cellCount(), 30);
    QCOMPARE(view.position().count, 2);
    view.LastPage();
    QTRY_VERIFY(!view.IsLoadingPage());
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
    QTRY_VERIFY(!view.IsLoadingPage());
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
    QCOMPARE(view.pageLabel()->text(), QString("第 1 / 2 页"));
    view.NextPage();
    QTRY_VERIFY(!view.IsLoadingPage());
    QCOMPARE(Listed(view), QStringList{Entry(false, documents.Path(), 31)});

    // A file told while a page is on its way (stored after the page's rows were fixed) is
    // added once, after the page: neither lost nor listed twice.
    view.FirstPage();
    QVERIFY(view.IsLoadingPage());
    save(FileKind::Pdf, documents.Path(), 32);
    QCoreApplication::processEvents();
    QTRY_VERIFY(!view.IsLoadingPage());
    QTRY_COMPARE(files.total(), 32LL);
    QCOMPARE(files.topLevelItemCount(), 30);
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
    QTRY_VERIFY(!view.IsLoadingPage());
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
};

QTEST_MAIN(QuarryViewTest)
#include "quarry_view_test.moc"
