// The About box: growing open and shrinking shut in 5-pixel steps, centred and rounded,
// dragged by any point; its links' colours, opening and failure.
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include "tests/ui/screenshot_gallery.h"
#include "ui/frame/about_dlg.h"
#include "ui/frame/link_label.h"

namespace {

// Records the heights a widget is given. The window system's own resize events are left out: on
// a busy machine it may echo a size already left behind after the box has moved on.
class HeightRecorder : public QObject {
public:
  explicit HeightRecorder(QWidget* widget) { widget->installEventFilter(this); }
  QList<int> heights;

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize && !event->spontaneous())
      heights.append(static_cast<QResizeEvent*>(event)->size().height());
    return false;
  }
};

// Every step at most 5 pixels, all in one direction.
bool Steady(const QList<int>& heights, bool growing) {
  for (int i = 1; i < heights.size(); ++i) {
    const int step = growing ? heights[i] - heights[i - 1] : heights[i - 1] - heights[i];
    if (step <= 0 || step > quarry::kAboutStep) return false;
  }
  return heights.size() > 1;
}

}  // namespace

class AboutDlgTest : public QObject {
  Q_OBJECT

private slots:
  void OpensCentredGrowingAndShrinksShutOnOk() {
    CAboutDlg about(QStringLiteral("/nowhere/README.md"), "/tmp/quarry-home/");
    HeightRecorder recorder(&about);
    about.open();
    QVERIFY(about.IsOpening());
    QTRY_VERIFY(!about.IsOpening());
    QCOMPARE(about.size(), QSize(390, 240));
    QVERIFY(Steady(recorder.heights, true));
    QCOMPARE(about.geometry().center(), about.screen()->availableGeometry().center());
    QVERIFY(about.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(about.windowTitle(), QStringLiteral("关于Rivulet"));
    // Rounded: the corners are cut off, the edges' middles are not.
    QVERIFY(!about.mask().contains(QPoint(2, 2)));
    QVERIFY(!about.mask().contains(QPoint(387, 237)));
    QVERIFY(about.mask().contains(QPoint(195, 1)));
    QVERIFY(about.mask().contains(QPoint(1, 120)));
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("Quarry " QUARRY_VERSION)));
    QCOMPARE(about.ReadmeLink()->objectName(), QStringLiteral("1012"));
    QCOMPARE(about.HomeLink()->objectName(), QStringLiteral("1013"));
    QCOMPARE(about.ReadmeLink()->Target(),
             QUrl::fromLocalFile(QStringLiteral("/nowhere/README.md")));
    QCOMPARE(about.HomeLink()->Target(), QUrl::fromLocalFile(QStringLiteral("/tmp/quarry-home/")));
    QVERIFY(quarry::testing::SaveScreenshot(about, QStringLiteral("about_box")));

    const QPoint before = about.pos();
    QTest::mousePress(&about, Qt::LeftButton, {}, QPoint(200, 100));
    QTest::mouseMove(&about, QPoint(230, 120));
    QTest::mouseRelease(&about, Qt::LeftButton, {}, QPoint(230, 120));
    QCOMPARE(about.pos(), before + QPoint(30, 20));

    CAboutButton* ok = about.OkButton();
    QTest::mouseMove(&about, QPoint(20, 60));
    QTest::mouseMove(ok, ok->rect().center());
    QVERIFY(ok->Hot());
    recorder.heights.clear();
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(about.IsClosing());
    QTRY_VERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Accepted));
    QVERIFY(Steady(recorder.heights, false));
  }

  void LinkColoursOpeningAndFailure() {
    QWidget parent;
    parent.resize(300, 100);
    auto* link = new CLinkLabel(QStringLiteral("/srv/notes.txt"), &parent, 1013);
    link->setGeometry(10, 10, 200, 20);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCOMPARE(link->Target(), QUrl::fromLocalFile(QStringLiteral("/srv/notes.txt")));
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(link->CurrentColour(), quarry::kLinkNormal);

    QTest::mouseMove(&parent, QPoint(250, 80));
    QTest::mouseMove(link, QPoint(20, 10));
    QCOMPARE(link->CurrentColour(), quarry::kLinkHover);
    QTest::mouseMove(&parent, QPoint(250, 80));
    QTRY_COMPARE(link->CurrentColour(), quarry::kLinkNormal);

    QList<QUrl> opened;
    bool works = false;
    link->SetOpener([&](const QUrl& url) {
      opened << url;
      return works;
    });
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(opened.size(), 1);
    QVERIFY(!link->Visited());  // it beeped
    link->SetLink(QStringLiteral("/srv/other/"));
    works = true;
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(opened.last(), QUrl::fromLocalFile(QStringLiteral("/srv/other/")));
    QVERIFY(link->Visited());
    QCOMPARE(link->CurrentColour(), quarry::kLinkVisited);
    QTest::mouseMove(&parent, QPoint(250, 70));
    QTest::qWait(2 * quarry::kLinkHoverCheckMs);
    QCOMPARE(link->CurrentColour(), quarry::kLinkVisited);
  }
};

QTEST_MAIN(AboutDlgTest)
#include "about_dlg_test.moc"
