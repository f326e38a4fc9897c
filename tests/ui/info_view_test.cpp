// The information view: its figures page, the thread log pages fed from worker threads through
// the view's buffer, the page changes that come with the task selection (also through the real
// task control and a running task), and the sheet tab control's strip, keys and scroll bar.
#include <sys/socket.h>
#include <unistd.h>

#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <thread>

#include "engine/task_control.h"
#include "harvest/search_pages.h"
#include "platform/home.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/screenshot_gallery.h"
#include "ui/information/failure_page.h"
#include "ui/information/info_page.h"
#include "ui/information/info_view.h"
#include "ui/information/report_list.h"
#include "ui/information/sheet_tab_ctrl.h"
#include "ui/information/thread_log.h"

namespace {

quarry::SearchTask MakeRecord(const char* keyword, quarry::TaskState state, int threads, int pages,
                              int pagesFetched, int filesFetched) {
  quarry::NewTaskValues values;
  values.keyword = keyword;
  values.folder = "/home/user/DownData/";
  values.threadCount = threads;
  values.pageCount = pages;
  values.kind = quarry::FileKind::Pdf;
  quarry::SearchTask task{};
  std::string error;
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 9;
  when.tm_hour = 8;
  when.tm_min = 5;
  when.tm_sec = 7;
  when.tm_isdst = -1;
  if (!quarry::MakeSearchTask(values, std::mktime(&when), &task, &error))
    qFatal("%s", error.c_str());
  task.state = state;
  task.pagesFetched = pagesFetched;
  task.filesFetched = filesFetched;
  return task;
}

QStringList TabLabels(const SheetTabCtrl& tabs) {
  QStringList labels;
  for (int i = 0; i < tabs.Count(); ++i) labels << tabs.Label(i);
  return labels;
}

// Writes `count` lines "<prefix> <n>" to page `thread` from a thread of its own, as a worker.
void WriteFromWorker(CInfoView& view, int thread, const QString& prefix, int count) {
  std::thread worker([&] {
    for (int i = 0; i < count; ++i)
      view.AppendLog(thread, QStringLiteral("%1 %2").arg(prefix).arg(i).toStdString());
  });
  worker.join();
}

class IgnoredEnds : public quarry::TaskFinishedSink {
public:
  void PostTaskFinished(quarry::SearchTask*) override {}
};

}  // namespace

class InfoViewTest : public QObject {
  Q_OBJECT

private slots:
  void ShowsTheEightFiguresOfATask() {
    CInfoView view;
    view.resize(700, 260);
    InfoPage* page = view.Figures();
    QCOMPARE(TabLabels(*view.Tabs()), (QStringList{"任务信息", "失败列表"}));
    for (int row = 0; row < InfoPage::kRows; ++row) QVERIFY(page->Value(row).isEmpty());
    QCOMPARE(page->header()->sectionSize(0), 25);
    QCOMPARE(page->header()->sectionSize(1), 120);
    QCOMPARE(page->header()->sectionSize(2), 900);
    QCOMPARE(page->iconSize(), QSize(20, 20));
    QCOMPARE(page->palette().color(QPalette::Base), QColor(200, 200, 200));
    QCOMPARE(page->palette().color(QPalette::Text), QColor(0, 100, 150));
    QCOMPARE(page->topLevelItem(3)->foreground(2).color(), QColor(0, 100, 150));
    QCOMPARE(page->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(page->palette().color(QPalette::Inactive, QPalette::Highlight),
             page->palette().color(QPalette::Active, QPalette::Highlight));
    QVERIFY(!page->topLevelItem(7)->icon(0).isNull());

    view.ShowTask(MakeRecord("猫 图片", quarry::TaskState::Running, 2, 500, 12, 12345));
    const QString expected[][2] = {
        {"搜索关键词", "猫 图片"},
        {"状态", "运行"},
        {"开始下载时间", "2024-03-09 08:05:07"},
        {"下载页数", "500"},
        {"已下载页数", "12"},
        {"已下载文件数", "12345"},
        {"存储路径", "/home/user/DownData/猫 图片/"},
        {"线程数", "2"},
    };
    for (int row = 0; row < InfoPage::kRows; ++row) {
      QCOMPARE(page->Label(row), expected[row][0]);
      QCOMPARE(page->Value(row), expected[row][1]);
    }
    const std::pair<quarry::TaskState, QString> states[] = {
        {quarry::TaskState::Waiting, "等待"},    {quarry::TaskState::Running, "运行"},
        {quarry::TaskState::Paused, "暂停"},     {quarry::TaskState::Ended, "完成"},
        {static_cast<quarry::TaskState>(2), ""},
    };
    for (const auto& [state, label] : states) QCOMPARE(InfoPage::StateLabel(state), label);

    // A record from a damaged task file shows the counts it runs with.
    quarry::SearchTask damaged = MakeRecord("x", quarry::TaskState::Waiting, 3, 5, 0, 0);
    damaged.threadCount = 40;
    damaged.pageCount = 0;
    view.ShowTask(damaged);
    QCOMPARE(page->Value(3), QStringLiteral("1"));
    QCOMPARE(page->Value(7), QStringLiteral("6"));
  }

  void ThreadPagesKeepTheNewest401LinesInOrder() {
    CInfoView view;
    view.AddThreadPages(2);
    QCOMPARE(TabLabels(*view.Tabs()),
             (QStringList{"任务信息", "失败列表", " 线程一 ", " 线程二 "}));
    QVERIFY(view.Log(1) && view.Log(2) && !view.Log(3) && !view.Log(0) && !view.Log(7));
    ThreadLog* log = view.Log(1);
    QCOMPARE(log->header()->sectionSize(0), 20);
    QCOMPARE(log->header()->sectionSize(1), 1000);
    QCOMPARE(log->model()->data(log->model()->index(0, 0)), QVariant());

    // A burst far beyond the cap while the GUI thread drains nothing: the buffer keeps 401.
    WriteFromWorker(view, 1, "a", 1000);
    WriteFromWorker(view, 2, "b", 3);
    WriteFromWorker(view, 3, "no page", 5);  // dropped: the task has two threads
    view.AppendLog(0, "nowhere");
    view.AppendLog(7, "nowhere");
    QCOMPARE(view.PendingLines(), std::size_t{401 + 3});
    view.Drain();
    QCOMPARE(view.PendingLines(), std::size_t{0});
    QCOMPARE(log->LineCount(), 401);
    QCOMPARE(log->Line(0), QStringLiteral("a 999"));
    QCOMPARE(log->Line(400), QStringLiteral("a 599"));
    QCOMPARE(view.Log(2)->LineCount(), 3);
    QCOMPARE(view.Log(2)->Line(0), QStringLiteral("b 2"));
    QCOMPARE(view.Log(2)->Line(2), QStringLiteral("b 0"));
    QCOMPARE(view.LinesShown(), std::uint64_t{404});

    // Later small batches push the oldest out one for one, newest on top, with no drain called
    // by hand: the worker's wake-up and the batch timer bring them.
    WriteFromWorker(view, 1, "c", 5);
    QTRY_COMPARE(log->Line(0), QStringLiteral("c 4"));
    QCOMPARE(log->Line(4), QStringLiteral("c 0"));
    QCOMPARE(log->Line(5), QStringLiteral("a 999"));
    QCOMPARE(log->Line(400), QStringLiteral("a 604"));
    QCOMPARE(log->LineCount(), 401);
    QCOMPARE(log->header()->sectionSize(1), 1000);

    // A line wider than the text column widens it: its end is not cut off.
    const QString wide = QStringLiteral("开始下载网页：http://127.0.0.1/i?") + QString(300, 'x');
    view.AppendLog(1, wide.toStdString());
    view.Drain();
    QVERIFY(log->header()->sectionSize(1) > log->fontMetrics().horizontalAdvance(wide));

    // Figures sent several times in one batch: the latest is drawn.
    std::thread worker([&] {
      for (int files = 1; files <= 50; ++files)
        view.ShowTask(MakeRecord("k", quarry::TaskState::Running, 2, 10, files, files));
    });
    worker.join();
    QTRY_COMPARE(view.Figures()->Value(5), QStringLiteral("50"));
  }

  void LinesOfPagesThatWentAwayNeverShow() {
    CInfoView view;
    view.AddThreadPages(3);
    WriteFromWorker(view, 1, "old", 10);  // buffered, not yet drawn
    view.Tabs()->ActivatePage(CInfoView::kFirstThreadPage + 1);
    view.ResetThreadPages();
    QCOMPARE(TabLabels(*view.Tabs()), (QStringList{"任务信息", "失败列表"}));
    QCOMPARE(view.Tabs()->ActiveIndex(), 0);
    QCOMPARE(view.PendingLines(), std::size_t{0});
    WriteFromWorker(view, 1, "late", 10);  // after the selection moved away
    QCOMPARE(view.PendingLines(), std::size_t{0});
    view.AddThreadPages(1);
    QCOMPARE(view.Log(1)->LineCount(), 0);
    WriteFromWorker(view, 1, "new", 1);
    QTRY_COMPARE(view.Log(1)->LineCount(), 1);
    QTest::qWait(2 * CInfoView::kBatchMs);
    QCOMPARE(view.Log(1)->LineCount(), 1);
    QCOMPARE(view.Log(1)->Line(0), QStringLiteral("new 0"));

    // Pages made again start empty, even without a reset in between.
    view.AddThreadPages(2);
    QCOMPARE(TabLabels(*view.Tabs()),
             (QStringList{"任务信息", "失败列表", " 线程一 ", " 线程二 "}));
    QCOMPARE(view.Log(1)->LineCount(), 0);
  }

  // Task control drives the view as the main window will: a running task's pages fill, and
  // selecting a waiting task leaves only the figures page.
  void FollowsTheSelectionOfTaskControl() {
    quarry::testing::TempFolder home;
    QVERIFY(quarry::CreateHomeFolders(home.Path(), nullptr));
    quarry::TaskControlOptions options;
    options.home = home.Path();
    std::string error;
    // A server that never answers: every head request runs into its time limit and fails
    // with a line, so the workers keep writing for a while after the selection.
    quarry::testing::SilentListener server;
    QVERIFY(server.Port() > 0);
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    QVERIFY(quarry::MakeSearchHosts(host, host, &options.hosts, &error));
    options.timing = {10, 20, 10, 10};
    options.http = {1000, 1000, 150, 150};
    quarry::NoTaskEvents events;
    IgnoredEnds ends;
    CInfoView view;
    {
      quarry::TaskControl control(events, ends, options);
      control.SetViews(&view, nullptr);
      auto running = std::make_unique<quarry::Task>();
      auto waiting = std::make_unique<quarry::Task>();
      running->record = MakeRecord("running", quarry::TaskState::Waiting, 2, 3, 0, 0);
      waiting->record = MakeRecord("waiting", quarry::TaskState::Waiting, 4, 3, 0, 0);
      const std::string folder = home.Path();
      quarry::SetFieldText(running->record.folder, quarry::kFolderSize, folder + "running/");
      quarry::SetFieldText(waiting->record.folder, quarry::kFolderSize, folder + "waiting/");
      quarry::Task* first = running.get();
      quarry::Task* second = waiting.get();
      control.AddTask(std::move(running));
      control.AddTask(std::move(waiting));

      control.SelectTask(first);
      QCOMPARE(TabLabels(*view.Tabs()),
               (QStringList{"任务信息", "失败列表", " 线程一 ", " 线程二 "}));
      QCOMPARE(view.Figures()->Value(0), QStringLiteral("running"));
      QCOMPARE(view.Figures()->Value(1), QStringLiteral("运行"));
      QTRY_VERIFY(view.Log(1)->LineCount() + view.Log(2)->LineCount() >= 2);

      control.SelectTask(second);
      QCOMPARE(TabLabels(*view.Tabs()), (QStringList{"任务信息", "失败列表"}));
      QCOMPARE(view.Figures()->Value(0), QStringLiteral("waiting"));
      QCOMPARE(view.Figures()->Value(1), QStringLiteral("等待"));
      QCOMPARE(view.Figures()->Value(7), QStringLiteral("4"));
      QTest::qWait(3 * CInfoView::kBatchMs);
      QCOMPARE(view.Tabs()->Count(), 2);
      QCOMPARE(view.Figures()->Value(0), QStringLiteral("waiting"));
      QVERIFY(control.Shutdown());
    }
  }

  // The failure page counts by reason in the reasons' order, marks the reasons a retry takes,
  // and hands its rows to the list a batch at a time; a folder without a database has no
  // failures, and a database that cannot be read is said so.
  void FailurePageCountsAndBatches() {
    CInfoView view;
    FailurePage* page = view.Failures();
    QCOMPARE(view.Tabs()->Page(CInfoView::kFailurePage), page);
    std::vector<quarry::FailureRow> rows(450);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      rows[i].url = "http://127.0.0.1/" + std::to_string(i) + ".jpg";
      rows[i].reason = i % 3 ? quarry::FailureReason::TimeLimit : quarry::FailureReason::NotFound;
      rows[i].attempts = 2;
      rows[i].detail = "状态 404";
    }
    page->ShowFailures(rows);
    QCOMPARE(page->Summary()->text(), QStringLiteral("共 450 个失败，其中 300 个可以重试"));
    QTreeWidget* counts = page->Counts();
    QCOMPARE(counts->topLevelItemCount(), 2);
    const QStringList notFound{
        QString::fromUtf8(quarry::FailureReasonLabel(quarry::FailureReason::NotFound)),
        QStringLiteral("150"), QString()};
    const QStringList timeLimit{
        QString::fromUtf8(quarry::FailureReasonLabel(quarry::FailureReason::TimeLimit)),
        QStringLiteral("300"), QStringLiteral("会重试")};
    for (int column = 0; column < 3; ++column) {
      QCOMPARE(counts->topLevelItem(0)->text(column), notFound[column]);
      QCOMPARE(counts->topLevelItem(1)->text(column), timeLimit[column]);
    }
    FailureModel* model = page->Model();
    QCOMPARE(model->rowCount(), FailureModel::kBatch);
    QCOMPARE(model->index(1, FailureModel::kUrlColumn).data().toString(),
             QStringLiteral("http://127.0.0.1/1.jpg"));
    QCOMPARE(model->index(1, FailureModel::kAttemptsColumn).data().toInt(), 2);
    model->fetchMore(QModelIndex());
    model->fetchMore(QModelIndex());
    QCOMPARE(model->rowCount(), 450);
    QVERIFY(!model->canFetchMore(QModelIndex()));
    view.Blank();
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(counts->topLevelItemCount(), 0);
    QVERIFY(page->Summary()->text().isEmpty());

    quarry::testing::TempFolder folder;
    QVERIFY(page->ShowFolder(folder.Path()));
    QCOMPARE(page->Summary()->text(), QStringLiteral("没有失败的文件"));
    std::filesystem::create_directory(folder.Path() + "db.sqlite");  // no file to open
    QVERIFY(!page->ShowFolder(folder.Path()));
    QVERIFY2(page->Summary()->text().startsWith(QStringLiteral("无法读取失败列表：")),
             qPrintable(page->Summary()->text()));
  }

  void SheetGeometry() {
    SheetTabMetrics metrics;  // arrows 16, divider 6
    const struct {
      int width, strip;
    } shares[] = {{500, 231}, {501, 231}, {102, 32}, {101, 31}, {100, 62}, {38, 0}, {10, 0}};
    for (const auto& share : shares)
      QCOMPARE(SheetTabGeometry::InitialStripWidth(share.width, metrics), share.strip);

    SheetTabFrame frame = SheetTabGeometry::LayOut(QSize(500, 200), 231, metrics);
    QCOMPARE(frame.page, QRect(0, 0, 500, 180));
    QCOMPARE(frame.leftArrow, QRect(0, 180, 16, 20));
    QCOMPARE(frame.rightArrow, QRect(16, 180, 16, 20));
    QCOMPARE(frame.strip, QRect(32, 180, 231, 20));
    QCOMPARE(frame.divider, QRect(263, 180, 6, 20));
    QCOMPARE(frame.scrollBar, QRect(269, 180, 231, 20));
    // A strip that would leave the scroll bar less than its two arrows takes everything.
    frame = SheetTabGeometry::LayOut(QSize(500, 200), 440, metrics);
    QCOMPARE(frame.strip.width(), 462);
    QVERIFY(frame.scrollBar.isEmpty());

    const std::vector<QPolygon> tabs = SheetTabGeometry::LayOutTabs({40, 10}, 20);
    QCOMPARE(tabs[0].boundingRect(), QRect(3, 0, 65, 18));   // 40 + 2 * (6 + 6), 3 from the left
    QCOMPARE(tabs[1].boundingRect(), QRect(61, 0, 35, 18));  // overlapping by one slant
    QCOMPARE(SheetTabGeometry::Overflow(tabs, 100), 0);
    QCOMPARE(SheetTabGeometry::Overflow(tabs, 50), 49);
    QCOMPARE(SheetTabGeometry::TabAt(tabs, 1, QPoint(64, 2)), 1);  // the overlap: active wins
    QCOMPARE(SheetTabGeometry::TabAt(tabs, 0, QPoint(64, 2)), 0);
    QCOMPARE(SheetTabGeometry::TabAt(tabs, 0, QPoint(80, 10)), 1);
    QCOMPARE(SheetTabGeometry::TabAt(tabs, 0, QPoint(1, 10)), -1);
  }

  void SheetTabsClickKeysArrowsDividerAndScrollBar() {
    QWidget window;
    window.resize(320, 200);
    auto* tabs = new SheetTabCtrl(&window);
    tabs->setGeometry(0, 0, 320, 200);
    QSignalSpy changes(tabs, &SheetTabCtrl::PageChanged);
    QList<QPointer<ThreadLog>> pages;
    for (int i = 1; i <= 6; ++i) {
      pages << new ThreadLog(i);
      QCOMPARE(tabs->AddPage(pages.last(), QStringLiteral(" 线程%1 ").arg(i)), i - 1);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(tabs->ActiveIndex(), 0);
    QVERIFY(pages[0]->isVisible() && !pages[1]->isVisible());
    QCOMPARE(pages[0]->geometry(), tabs->Frame().page);

    // A click on another tab activates it and tells the parent; on the active one, nothing.
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->TabOutline(1).boundingRect().center());
    QCOMPARE(tabs->ActiveIndex(), 1);
    QVERIFY(pages[1]->isVisible() && !pages[0]->isVisible());
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.last().at(0).toInt(), 1);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->TabOutline(1).boundingRect().center());
    QCOMPARE(changes.count(), 1);

    // Ctrl+Page Up / Down wrap at both ends, from inside a page too.
    QTest::keyClick(pages[1], Qt::Key_PageUp, Qt::ControlModifier);
    QCOMPARE(tabs->ActiveIndex(), 0);
    QTest::keyClick(pages[0], Qt::Key_PageUp, Qt::ControlModifier);
    QCOMPARE(tabs->ActiveIndex(), 5);
    QTest::keyClick(pages[5], Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(tabs->ActiveIndex(), 0);
    QTest::keyClick(tabs, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(tabs->ActiveIndex(), 1);
    QCOMPARE(changes.count(), 5);

    // The strip is too narrow for six tabs: the arrows shift it 20 pixels a click between 0
    // and its overflow and are disabled at the ends.
    tabs->ActivatePage(0);
    const int overflow = tabs->StripOverflow();
    QVERIFY(overflow > 20);
    QCOMPARE(tabs->StripOffset(), 0);
    QVERIFY(!tabs->LeftArrow()->isEnabled() && tabs->RightArrow()->isEnabled());
    QTest::mouseClick(tabs->RightArrow(), Qt::LeftButton);
    QCOMPARE(tabs->StripOffset(), 20);
    QVERIFY(tabs->LeftArrow()->isEnabled());
    while (tabs->RightArrow()->isEnabled()) QTest::mouseClick(tabs->RightArrow(), Qt::LeftButton);
    QCOMPARE(tabs->StripOffset(), overflow);
    QTest::mouseClick(tabs->LeftArrow(), Qt::LeftButton);
    QCOMPARE(tabs->StripOffset(), overflow - 20);

    // The divider starts at half the shared width and follows the mouse.
    SheetTabFrame frame = tabs->Frame();
    const int shared = 320 - 2 * frame.leftArrow.width() - frame.divider.width();
    QCOMPARE(frame.strip.width(), shared / 2);
    const QPoint grip = frame.divider.center();
    QTest::mousePress(tabs, Qt::LeftButton, {}, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(40, 0)),
                     tabs->mapToGlobal(grip + QPoint(40, 0)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(tabs, &move);
    QTest::mouseRelease(tabs, Qt::LeftButton, {}, grip + QPoint(40, 0));
    QCOMPARE(tabs->Frame().strip.width(), frame.strip.width() + 40);
    QCOMPARE(tabs->Frame().scrollBar.width(), frame.scrollBar.width() - 40);

    // The scroll bar beside the strip scrolls the active page, whose own is switched off.
    tabs->ActivatePage(2);
    ThreadLog* page = pages[2];
    std::deque<QString> lines{QString(300, QLatin1Char('x'))};
    page->AddLines(lines);
    QCOMPARE(page->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QTRY_VERIFY(page->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(tabs->PageScrollBar()->maximum(), page->horizontalScrollBar()->maximum());
    QSignalSpy scrolled(tabs, &SheetTabCtrl::PageScrolled);
    tabs->PageScrollBar()->setValue(50);
    QCOMPARE(page->horizontalScrollBar()->value(), 50);
    QCOMPARE(scrolled.count(), 1);
    page->horizontalScrollBar()->setValue(70);
    QCOMPARE(tabs->PageScrollBar()->value(), 70);

    // Removing: at or before the active tab moves it back by one; the page goes with it.
    changes.clear();
    QVERIFY(tabs->RemovePage(2));  // the active one
    QCOMPARE(tabs->ActiveIndex(), 1);
    QVERIFY(pages[2].isNull());
    QVERIFY(pages[1]->isVisible());
    QVERIFY(tabs->RemovePage(4));  // after the active one
    QCOMPARE(tabs->ActiveIndex(), 1);
    QVERIFY(tabs->RemovePage(0));  // before it
    QCOMPARE(tabs->ActiveIndex(), 0);
    QCOMPARE(tabs->Label(0), QStringLiteral(" 线程2 "));
    QCOMPARE(changes.count(), 3);
    QVERIFY(!tabs->RemovePage(7));
    while (tabs->Count() > 0) tabs->RemovePage(0);
    QCOMPARE(tabs->ActiveIndex(), -1);
    QCOMPARE(changes.last().at(0).toInt(), -1);
    // The first page added to an emptied control becomes active again.
    tabs->AddPage(new ThreadLog(1), QStringLiteral("again"));
    QCOMPARE(tabs->ActiveIndex(), 0);
    QVERIFY(tabs->Page(0)->isVisible());
  }

  void Screenshots() {
    CInfoView view;
    view.resize(760, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowTask(MakeRecord("风景 壁纸", quarry::TaskState::Ended, 3, 20, 21, 137));
    QVERIFY(quarry::testing::SaveScreenshot(view, "info_view_finished_task"));

    view.ResetThreadPages();
    view.AddThreadPages(2);
    view.ShowTask(MakeRecord("风景 壁纸", quarry::TaskState::Running, 2, 50, 7, 64));
    for (int thread = 1; thread <= 2; ++thread) {
      std::thread worker([&view, thread] {
        for (int i = 0; i < 500; ++i) {
          const std::string url =
              "http://127.0.0.1:8090/files/" + std::to_string(thread * 1000 + i) + ".jpg";
          switch (i % 5) {
            case 0: view.AppendLog(thread, "请求下载：" + url); break;
            case 1: view.AppendLog(thread, "请求信息头成功..."); break;
            case 2: view.AppendLog(thread, "开始下载文件：" + url + " ..."); break;
            case 3: view.AppendLog(thread, "接收到 16384 字节....."); break;
            default: view.AppendLog(thread, "文件下载完成..."); break;
          }
        }
      });
      worker.join();
    }
    view.Drain();
    QCOMPARE(view.Log(1)->LineCount(), 401);
    QCOMPARE(view.Log(2)->LineCount(), 401);
    view.Tabs()->ActivatePage(CInfoView::kFirstThreadPage);
    QTest::qWait(50);
    QVERIFY(quarry::testing::SaveScreenshot(view, "info_view_running_thread_page"));
    view.Tabs()->ActivatePage(0);
    QTest::qWait(50);
    QVERIFY(quarry::testing::SaveScreenshot(view, "info_view_running_task"));

    // Six threads do not fit the strip: shifted to its end, the last tab is whole.
    view.ResetThreadPages();
    view.AddThreadPages(6);
    view.ShowTask(MakeRecord("风景 壁纸", quarry::TaskState::Running, 6, 50, 3, 18));
    SheetTabCtrl* tabs = view.Tabs();
    while (tabs->RightArrow()->isEnabled()) QTest::mouseClick(tabs->RightArrow(), Qt::LeftButton);
    QVERIFY(tabs->StripOffset() > 0);
    QVERIFY(tabs->Frame().strip.contains(tabs->TabOutline(tabs->Count() - 1).boundingRect()));
    QTest::qWait(50);
    QVERIFY(quarry::testing::SaveScreenshot(view, "info_view_six_threads_strip_shifted"));
  }
};

QTEST_MAIN(InfoViewTest)
#include "info_view_test.moc"
