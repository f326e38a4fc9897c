// The task-queue tab control: the tab strip and page arithmetic, activation by a press, the
// slide-in and who deletes the pages.
#include <QFontInfo>
#include <QPointer>
#include <QtTest>

#include "ui/bars/queue_tab_ctrl.h"

namespace {

const QRect kClient(0, 0, 200, 300);

// Records where a widget is moved to.
class MoveRecorder : public QObject {
public:
  explicit MoveRecorder(QWidget* widget) { widget->installEventFilter(this); }
  QList<QPoint> positions;

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Move) positions.append(static_cast<QMoveEvent*>(event)->pos());
    return false;
  }
};

}  // namespace

class QueueTabCtrlTest : public QObject {
  Q_OBJECT

private slots:
  void Layout_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<QList<int>>("natural");
    QTest::addColumn<QList<QRect>>("tabs");
    QTest::addColumn<QRect>("page");
    const QRect topPage(2, 23, 196, 275);
    const QRect bottomPage(2, 2, 196, 275);
    // Tabs on top run in a strip from x 2 to 193 (192 wide); at the bottom from 6 to 193.
    QTest::newRow("one tab") << quarry::kTabsTop << QList<int>{80}
                             << QList<QRect>{QRect(2, 0, 80, 23)} << topPage;
    QTest::newRow("style 0 is tabs on top")
        << 0 << QList<int>{80} << QList<QRect>{QRect(2, 0, 80, 23)} << topPage;
    QTest::newRow("default: bottom") << quarry::kDefaultTabStyle << QList<int>{80}
                                     << QList<QRect>{QRect(6, 276, 80, 23)} << bottomPage;
    QTest::newRow("fit") << quarry::kTabsTop << QList<int>{50, 60, 70}
                         << QList<QRect>{QRect(2, 0, 50, 23), QRect(52, 0, 60, 23),
                                         QRect(112, 0, 70, 23)}
                         << topPage;
    // 250 > 192: one pixel between tabs; a tab wider than the one before it (the first
    // compares with the last) gets 192 / 3 = 64.
    QTest::newRow("overflow") << quarry::kTabsTop << QList<int>{100, 60, 90}
                              << QList<QRect>{QRect(2, 0, 64, 23), QRect(67, 0, 60, 23),
                                              QRect(128, 0, 64, 23)}
                              << topPage;
    QTest::newRow("equal widths") << (quarry::kTabsTop | quarry::kTabsEqualWidth)
                                  << QList<int>{50, 60, 70}
                                  << QList<QRect>{QRect(2, 0, 64, 23), QRect(66, 0, 64, 23),
                                                  QRect(130, 0, 64, 23)}
                                  << topPage;
    QTest::newRow("equal widths at the bottom")
        << (quarry::kTabsBottom | quarry::kTabsEqualWidth) << QList<int>{300, 10}
        << QList<QRect>{QRect(6, 276, 94, 23), QRect(100, 276, 94, 23)} << bottomPage;
  }
  void Layout() {
    QFETCH(int, style);
    QFETCH(QList<int>, natural);
    QFETCH(QList<QRect>, tabs);
    QFETCH(QRect, page);
    const std::vector<int> widths(natural.begin(), natural.end());
    const std::vector<QRect> laid =
        quarry::LayoutTabs(quarry::TabStripRect(kClient, style), style, widths);
    QCOMPARE(QList<QRect>(laid.begin(), laid.end()), tabs);
    QCOMPARE(quarry::PageRect(kClient, style), page);
    QCOMPARE(quarry::PageWidgetRect(kClient, style, 1), page.adjusted(1, 1, -1, -1));
    QCOMPARE(quarry::PageWidgetRect(kClient, style, 2), page.adjusted(2, 2, -2, -2));
  }

  void NaturalWidthAndFont() {
    QCOMPARE(quarry::NaturalTabWidth(50, true), 77);
    QCOMPARE(quarry::NaturalTabWidth(50, false), 59);
    CQueueTabCtrl tabs;
    QCOMPARE(tabs.Style(), quarry::kTabsBottom);
    QCOMPARE(tabs.font().pixelSize(), 12);
    // SimSun is not on this machine; the CJK font the scripts install stands in.
    const QString family = QFontInfo(tabs.font()).family();
    QVERIFY2(family == QStringLiteral("SimSun") || family == QStringLiteral("宋体") ||
                 family.startsWith(QStringLiteral("WenQuanYi Micro Hei")),
             qPrintable(family));
  }

  void PressActivatesAnInactiveTabOnly() {
    CQueueTabCtrl tabs(quarry::kTabsTop | quarry::kTabsSlideIn);
    tabs.resize(kClient.size());
    QWidget* pages[3];
    for (int i = 0; i < 3; ++i) {
      pages[i] = new QWidget;
      QCOMPARE(tabs.AddPage(pages[i], QStringLiteral("页%1").arg(i), QIcon(),
                            CQueueTabCtrl::Ownership::Owned),
               i);
      QVERIFY(pages[i]->isHidden());
      QCOMPARE(pages[i]->geometry(), tabs.PageArea());
    }
    tabs.show();
    tabs.Refresh();
    QCOMPARE(tabs.ActivePage(), 0);
    QTRY_VERIFY(!tabs.IsSliding());
    QVERIFY(pages[0]->isVisible());

    QTest::mouseClick(&tabs, Qt::LeftButton, {}, tabs.TabRect(0).center());
    QVERIFY(!tabs.IsSliding());  // the active tab: nothing starts again
    QVERIFY(pages[0]->isVisible());

    MoveRecorder moves(pages[2]);
    QTest::mouseClick(&tabs, Qt::LeftButton, {}, tabs.TabRect(2).center());
    QCOMPARE(tabs.ActivePage(), 2);
    QVERIFY(pages[0]->isHidden());
    QVERIFY(tabs.IsSliding());
    QTRY_VERIFY(!tabs.IsSliding());
    // The first tick shows the page's rightmost 10 pixels at the left of the page area, nine
    // more move it a tenth of its width each, and the last puts it exactly in the page area.
    const QRect area = tabs.PageArea();
    QCOMPARE(quarry::SlideRect(area, 0).right(), area.left() + 9);
    QList<QPoint> expected;
    for (int step = 0; step <= 10; ++step) {
      const QRect at = quarry::SlideRect(area, step);
      expected.append(at.topLeft());
      QCOMPARE(at.size(), area.size());
      if (step > 0 && step < 10) QCOMPARE(at.left() - expected[step - 1].x(), area.width() / 10);
    }
    QCOMPARE(moves.positions, expected);
    QCOMPARE(pages[2]->geometry(), area);
    QVERIFY(pages[2]->isVisible());
    QVERIFY(pages[1]->isHidden());
  }

  void OwnedPagesGoWithTheControlOthersStay() {
    QPointer<QWidget> owned = new QWidget;
    QPointer<QWidget> lent = new QWidget;
    {
      CQueueTabCtrl tabs(quarry::kTabsTop);
      tabs.resize(kClient.size());
      tabs.AddPage(owned, QStringLiteral("owned"), QIcon(), CQueueTabCtrl::Ownership::Owned);
      tabs.AddPage(lent, QStringLiteral("lent"));
      tabs.Refresh();
      QCOMPARE(owned->geometry(), quarry::PageWidgetRect(kClient, quarry::kTabsTop, 1));
      tabs.SetBorderStyle(2);
      QCOMPARE(owned->geometry(), quarry::PageWidgetRect(kClient, quarry::kTabsTop, 2));
      tabs.SetActivePage(7);  // no such page
      QCOMPARE(tabs.ActivePage(), 0);
    }
    QVERIFY(owned.isNull());
    QVERIFY(!lent.isNull());
    QVERIFY(lent->parent() == nullptr);
    delete lent;
  }
};

QTEST_MAIN(QueueTabCtrlTest)
#include "queue_tab_ctrl_test.moc"
