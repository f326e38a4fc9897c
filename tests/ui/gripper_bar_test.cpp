// The task-queue bar in a main window, offscreen: dragging its inner edge, the size it keeps
// for each place, floating and docking by double-click, the close button and the profile.
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "tests/ui/screenshot_gallery.h"
#include "ui/bars/gripper_bar.h"
#include "ui/bars/queue_tab_ctrl.h"
#include "ui/bars/task_tree_ctrl.h"

using quarry::BarPlace;

namespace {

constexpr QSize kDefaultSize(230, 260);

// A main window with the bar docked on the left, holding a tab control whose one page is the
// task tree.
struct Window {
  Window() {
    frame.setCentralWidget(new QWidget);
    frame.resize(900, 640);
    bar = new CGripperBar(QStringLiteral("任务控制条"), &frame, kDefaultSize, 123);
    tabs = new CQueueTabCtrl();
    tree = new CTaskTreeCtrl;  // as the program shows it: the three roots on grey
    tabs->AddPage(tree, QStringLiteral(" 任务队列 "));
    tabs->Refresh();
    bar->SetChild(tabs);
    frame.addDockWidget(Qt::LeftDockWidgetArea, bar);
    frame.show();
  }
  ~Window() { delete tree; }

  QWidget* Gripper() const { return bar->titleBarWidget(); }
  // A point on the sizing edge, in the bar's coordinates.
  QPoint EdgePoint() const { return quarry::SizingEdgeRect(bar->rect(), bar->Side()).center(); }

  QMainWindow frame;
  CGripperBar* bar;
  CQueueTabCtrl* tabs;
  CTaskTreeCtrl* tree;  // not owned by the tab control
};

// Lets Qt settle the layout after a change of place.
void Settle() {
  for (int i = 0; i < 5; ++i) QTest::qWait(10);
}

// A double-click that floats or docks the bar moves it to another window before the last
// release, which then reaches no one; release it where the bar now is.
void DoubleClick(QWidget* widget, QPoint at) {
  QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
  Settle();
  if (QGuiApplication::mouseButtons() & Qt::LeftButton)
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

void Drag(QWidget* widget, QPoint from, QPoint by) {
  QTest::mousePress(widget, Qt::LeftButton, {}, from);
  QTest::mouseMove(widget, from + by);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, from + by);
}

}  // namespace

class GripperBarTest : public QObject {
  Q_OBJECT

private slots:
  void Geometry_data() {
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("floating");
    QTest::addColumn<QMargins>("margins");
    QTest::addColumn<QRect>("edge");
    QTest::addColumn<QSize>("dragged");  // from 230 x 260 by (-300, +40)
    const QRect bar(0, 0, 230, 260);
    QTest::newRow("left") << int(Qt::LeftDockWidgetArea) << false << QMargins(5, 0, 10, 5)
                          << QRect(225, 0, 5, 260) << QSize(33, 260);
    QTest::newRow("right") << int(Qt::RightDockWidgetArea) << false << QMargins(10, 0, 5, 5)
                           << QRect(0, 0, 5, 260) << QSize(530, 260);
    QTest::newRow("top") << int(Qt::TopDockWidgetArea) << false << QMargins(0, 5, 5, 10)
                         << QRect(0, 255, 230, 5) << QSize(230, 300);
    QTest::newRow("bottom") << int(Qt::BottomDockWidgetArea) << false << QMargins(0, 10, 5, 5)
                            << QRect(0, 0, 230, 5) << QSize(230, 220);
    QTest::newRow("floating") << int(Qt::NoDockWidgetArea) << true << QMargins(3, 0, 3, 3)
                              << QRect() << QSize(230, 260);
  }
  void Geometry() {
    QFETCH(int, side);
    QFETCH(bool, floating);
    QFETCH(QMargins, margins);
    QFETCH(QRect, edge);
    QFETCH(QSize, dragged);
    const auto area = Qt::DockWidgetArea(side);
    const QRect bar(0, 0, 230, 260);
    const bool vertical = quarry::VerticalGripper(area, floating);
    QCOMPARE(quarry::ClientMargins(area, floating, vertical ? Qt::LeftEdge : Qt::TopEdge), margins);
    QCOMPARE(quarry::SizingEdgeRect(bar, floating ? Qt::NoDockWidgetArea : area), edge);
    QCOMPARE(quarry::TrackedSize(area, bar.size(), QPoint(-300, 40), QSize(33, 32)), dragged);
    // The close button sits at the gripper's end, clear of the lines.
    const QRect strip =
        vertical ? QRect(0, 0, quarry::kTitleExtent, 260) : QRect(0, 0, 230, quarry::kTitleExtent);
    const QRect button = quarry::CloseButtonRect(strip, vertical);
    QCOMPARE(button.size(), QSize(13, 13));
    QVERIFY(strip.contains(button));
    const quarry::GripperLines lines = quarry::GripperLineRects(strip, vertical);
    QVERIFY(!lines.first.intersects(button) && !lines.second.intersects(button));
    QCOMPARE(vertical ? lines.second.left() - lines.first.left()
                      : lines.second.top() - lines.first.top(),
             quarry::kGripperLineGap);
    if (vertical) {
      QCOMPARE(button.top(), 12);
    } else {
      QCOMPARE(button.right(), 230 - 12 - 1);
    }
  }

  void DraggingTheInnerEdgeStopsAtTheMinimum() {
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.frame));
    Settle();
    QCOMPARE(window.bar->Place(), BarPlace::Vertical);
    QCOMPARE(window.bar->width(), kDefaultSize.width());
    Drag(window.bar->widget(), window.bar->widget()->mapFrom(window.bar, window.EdgePoint()),
         QPoint(70, 0));
    Settle();
    QCOMPARE(window.bar->width(), 300);
    QCOMPARE(window.bar->CurrentSize(BarPlace::Vertical).width(), 300);
    Drag(window.bar->widget(), window.bar->widget()->mapFrom(window.bar, window.EdgePoint()),
         QPoint(-500, 0));
    Settle();
    QCOMPARE(window.bar->width(), quarry::kMinVerticalSize.width());
    QVERIFY(!window.bar->IsTracking());
    // The child fills the client area inside the border, below the gripper.
    QCOMPARE(window.tabs->geometry().width(), 33 - 5 - 10);
  }

  void EachPlaceKeepsItsSizeAndDoubleClickToggles() {
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.frame));
    Settle();
    window.frame.resizeDocks({window.bar}, {310}, Qt::Horizontal);
    Settle();
    QCOMPARE(window.bar->CurrentSize(BarPlace::Vertical).width(), 310);

    DoubleClick(window.Gripper(), QPoint(30, 8));
    Settle();
    QVERIFY(window.bar->isFloating());
    QCOMPARE(window.bar->Place(), BarPlace::Floating);
    QCOMPARE(window.bar->size(), kDefaultSize);
    window.bar->resize(400, 300);
    Settle();
    QCOMPARE(window.bar->CurrentSize(BarPlace::Floating), QSize(400, 300));

    DoubleClick(window.Gripper(), QPoint(30, 8));
    Settle();
    QVERIFY(!window.bar->isFloating());
    QCOMPARE(window.frame.dockWidgetArea(window.bar), Qt::LeftDockWidgetArea);
    QCOMPARE(window.bar->width(), 310);

    window.frame.addDockWidget(Qt::TopDockWidgetArea, window.bar);
    Settle();
    QCOMPARE(window.bar->Place(), BarPlace::Horizontal);
    QCOMPARE(window.bar->height(), kDefaultSize.height());
    QVERIFY(window.bar->features() & QDockWidget::DockWidgetVerticalTitleBar);
    // A double-click on the client margins floats the bar too.
    DoubleClick(window.bar->widget(), QPoint(window.bar->widget()->width() - 2, 2));
    Settle();
    QVERIFY(window.bar->isFloating());
    QCOMPARE(window.bar->size(), QSize(400, 300));
    window.frame.addDockWidget(Qt::LeftDockWidgetArea, window.bar);
    window.bar->setFloating(false);
    Settle();
    QCOMPARE(window.bar->width(), 310);
    QVERIFY(!(window.bar->features() & QDockWidget::DockWidgetVerticalTitleBar));

    // Dragging by the client margins pulls the bar out as dragging the gripper does.
    QWidget* body = window.bar->widget();
    const QPoint margin(2, body->height() / 2);
    QTest::mousePress(body, Qt::LeftButton, {}, margin);
    for (int step = 1; step <= 4; ++step) QTest::mouseMove(body, margin + QPoint(40 * step, 0));
    QTest::mouseRelease(body, Qt::LeftButton, {}, margin + QPoint(160, 0));
    Settle();
    QVERIFY(window.bar->isFloating());
  }

  void CloseButtonStatesHideTheBarAndTheMenuShowsItAgain() {
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.frame));
    Settle();
    QWidget* gripper = window.Gripper();
    const QRect button = window.bar->CloseButtonGeometry().translated(-gripper->pos());
    // The pointer comes from elsewhere: a move to where it already is would not be seen.
    QTest::mouseMove(gripper, QPoint(1, 1));
    QTest::mouseMove(gripper, button.center());
    QVERIFY(window.bar->CloseHot());
    QVERIFY(!window.bar->ClosePushed());
    QVERIFY(quarry::testing::SaveScreenshot(*window.bar, QStringLiteral("task_bar_close_hot")));

    QTest::mousePress(gripper, Qt::LeftButton, {}, button.center());
    QVERIFY(window.bar->ClosePushed());
    QVERIFY(!window.bar->CloseHot());
    QTest::mouseMove(gripper, button.center() - QPoint(40, 0));
    QVERIFY(!window.bar->ClosePushed());
    QTest::mouseRelease(gripper, Qt::LeftButton, {}, button.center() - QPoint(40, 0));
    QVERIFY(window.bar->isVisible());  // released elsewhere: nothing

    QVERIFY(!window.bar->close());  // a close request to the window is refused
    QVERIFY(window.bar->isVisible());

    QTest::mousePress(gripper, Qt::LeftButton, {}, button.center());
    QTest::mouseRelease(gripper, Qt::LeftButton, {}, button.center());
    QVERIFY(!window.bar->isVisible());
    QAction* toggle = nullptr;
    QScopedPointer<QMenu> menu(window.frame.createPopupMenu());
    for (QAction* action : menu->actions()) {
      if (action->text() == QStringLiteral("任务控制条")) toggle = action;
    }
    QVERIFY(toggle);
    QVERIFY(!toggle->isChecked());
    toggle->trigger();
    QVERIFY(window.bar->isVisible());
    toggle->trigger();
    QVERIFY(!window.bar->isVisible());
  }

  void ProfileRaisesSmallSizesAndKeepsMissingOnes() {
    QTemporaryDir dir;
    QSettings profile(dir.filePath(QStringLiteral("quarry.ini")), QSettings::IniFormat);
    profile.beginGroup(QStringLiteral("Quarry-SCBar-123"));
    profile.setValue(QStringLiteral("sizeHorzCX"), 10);
    profile.setValue(QStringLiteral("sizeHorzCY"), 500);
    profile.setValue(QStringLiteral("sizeVertCX"), 250);
    profile.setValue(QStringLiteral("sizeFloatCY"), -4);
    profile.endGroup();
    QMainWindow frame;
    CGripperBar bar(QStringLiteral("任务控制条"), &frame, kDefaultSize, 123);
    bar.LoadState(profile, QStringLiteral("Quarry"));
    QCOMPARE(bar.CurrentSize(BarPlace::Horizontal), QSize(33, 500));
    QCOMPARE(bar.CurrentSize(BarPlace::Vertical), QSize(250, 260));
    QCOMPARE(bar.CurrentSize(BarPlace::Floating), QSize(230, 32));
    bar.SaveState(profile, QStringLiteral("Other"));
    profile.sync();
    QCOMPARE(profile.value(QStringLiteral("Other-SCBar-123/sizeFloatCY")).toInt(), 32);
    QCOMPARE(profile.value(QStringLiteral("Other-SCBar-123/sizeVertCX")).toInt(), 250);
    QCOMPARE(profile.childGroups().size(), 2);
  }

  void Gallery() {
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.frame));
    Settle();
    QVERIFY(quarry::testing::SaveScreenshot(window.frame, QStringLiteral("task_bar_docked_left")));
    window.frame.addDockWidget(Qt::TopDockWidgetArea, window.bar);
    Settle();
    QVERIFY(quarry::testing::SaveScreenshot(window.frame, QStringLiteral("task_bar_docked_top")));
    window.bar->setFloating(true);
    Settle();
    QVERIFY(quarry::testing::SaveScreenshot(*window.bar, QStringLiteral("task_bar_floating")));
  }
};

QTEST_MAIN(GripperBarTest)
#include "gripper_bar_test.moc"
