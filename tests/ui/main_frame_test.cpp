#include <QTemporaryDir>
#include <QtTest>

#include "ui/main_frame.h"

class MainFrameTest : public QObject {
  Q_OBJECT

private slots:
  void CreatesHomeFoldersAndClosesCleanly() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string home = dir.path().toStdString() + "/";
    {
      CMainFrame frame(home);
      frame.show();
      QVERIFY(QTest::qWaitForWindowExposed(&frame));
      QVERIFY(QDir(dir.path() + "/sys").exists());
      QVERIFY(QDir(dir.path() + "/DownData").exists());
      QVERIFY(frame.close());
    }
  }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
