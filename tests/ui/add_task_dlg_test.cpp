// The add-task dialog: its fresh values, the thread box held to 1 to 6, the folder picker,
// and what OK accepts or refuses (with which message, and where the focus goes back to).
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

#include "tests/ui/modal_answer.h"
#include "tests/ui/screenshot_gallery.h"
#include "ui/add_task_dlg.h"

namespace {

const std::string kHome = "/tmp/quarry-home/";

template <typename T>
T* Control(CAddTaskDlg& dialog, int id) {
  T* control = dialog.findChild<T*>(QString::number(id));
  if (!control) qFatal("no control %d", id);
  return control;
}

// Presses OK; returns the text of the message box it raised (empty when none).
QString PressOk(CAddTaskDlg& dialog) {
  quarry::testing::MessageBoxAnswer answer;
  QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
  return answer.text;
}

}  // namespace

class AddTaskDlgTest : public QObject {
  Q_OBJECT

private slots:
  void FreshDialogAndThreadBounds() {
    CAddTaskDlg dialog(kHome);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("添加新任务"));
    QVERIFY(Control<QLineEdit>(dialog, 1000)->text().isEmpty());
    QCOMPARE(Control<QLineEdit>(dialog, 1001)->text(),
             QStringLiteral("/tmp/quarry-home/DownData/"));
    QVERIFY(Control<QLineEdit>(dialog, 1001)->isReadOnly());
    QCOMPARE(Control<QLineEdit>(dialog, 1017)->text(), QStringLiteral("3"));
    QCOMPARE(Control<QLineEdit>(dialog, 1012)->text(), QStringLiteral("50"));
    QVERIFY(Control<QRadioButton>(dialog, 1008)->isChecked());
    QVERIFY(Control<QCheckBox>(dialog, 1007)->isChecked());
    QCOMPARE(Control<QPushButton>(dialog, 2)->text(), QStringLiteral("Cancel"));
    QVERIFY(quarry::testing::SaveScreenshot(dialog, QStringLiteral("add_task_dialog")));

    QSpinBox* threads = Control<QSpinBox>(dialog, 1016);
    QTest::keyClicks(Control<QLineEdit>(dialog, 1017), QStringLiteral("9"));
    QCOMPARE(threads->value(), 3);  // the box takes no typing, only the arrows
    for (int i = 0; i < 8; ++i) QTest::keyClick(threads, Qt::Key_Up);
    QCOMPARE(threads->value(), 6);
    for (int i = 0; i < 8; ++i) QTest::keyClick(threads, Qt::Key_Down);
    QCOMPARE(threads->value(), 1);
    threads->stepBy(2);
    QTest::keyClicks(Control<QLineEdit>(dialog, 1000), QStringLiteral("kw"));
    Control<QRadioButton>(dialog, 1009)->click();
    Control<QRadioButton>(dialog, 1008)->click();  // Word, then pictures again
    Control<QCheckBox>(dialog, 1007)->setChecked(false);
    QCOMPARE(PressOk(dialog), QString());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Values().threadCount, 3);
    QCOMPARE(dialog.Values().kind, quarry::FileKind::Image);
    QVERIFY(!dialog.StartAtOnce());
  }

  void FolderPicker() {
    CAddTaskDlg dialog(kHome);
    QString answer;
    QString asked;
    dialog.SetFolderPicker([&](QWidget*, const QString& title, const QString&) {
      asked = title;
      return answer;
    });
    QLineEdit* folder = Control<QLineEdit>(dialog, 1001);
    for (const auto& [chosen, shown] :
         {std::pair{QStringLiteral("/srv/pictures"), QStringLiteral("/srv/pictures/")},
          std::pair{QString(), QStringLiteral("/srv/pictures/")},  // cancelled: unchanged
          std::pair{QStringLiteral("/"), QStringLiteral("/")}}) {
      answer = chosen;
      Control<QPushButton>(dialog, 1002)->click();
      QCOMPARE(folder->text(), shown);
    }
    QCOMPARE(asked, QStringLiteral("请选择文件夹："));
  }

  void Ok_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("pages");  // typed into the digits-only page box
    QTest::addColumn<int>("kindButton");
    QTest::addColumn<QString>("message");  // empty: accepted
    QTest::addColumn<int>("focus");
    QTest::addColumn<QString>("kept");  // the keyword the task gets
    QTest::addColumn<int>("pagesKept");
    QTest::addColumn<int>("kind");
    QTest::newRow("trimmed") << " \tflowers  "
                             << "120" << 1011 << "" << 0 << "flowers" << 120
                             << int(quarry::FileKind::Pdf);
    QTest::newRow("wide blanks trimmed")
        << QStringLiteral("\u3000花 园\u3000") << "5x0" << 1013 << "" << 0
        << QStringLiteral("花 园") << 50 << int(quarry::FileKind::Excel);
    QTest::newRow("blank keyword")
        << "   "
        << "50" << 0 << QStringLiteral("关键词不能为空!") << 1000 << "" << 0 << 0;
    const QString range = QStringLiteral("Please enter an integer between 1 and 500.");
    QTest::newRow("no pages") << "kw"
                              << "" << 0 << range << 1012 << "" << 0 << 0;
    QTest::newRow("0 pages") << "kw"
                             << "0" << 0 << range << 1012 << "" << 0 << 0;
    QTest::newRow("501 pages") << "kw"
                               << "501" << 0 << range << 1012 << "" << 0 << 0;
    QTest::newRow("500 pages") << "kw"
                               << "500" << 1010 << "" << 0 << "kw" << 500
                               << int(quarry::FileKind::Slides);
    QTest::newRow("slash") << "a/b"
                           << "50" << 0
                           << QStringLiteral("关键词不能含有“/”：关键词是任务文件夹的名字。")
                           << 1000 << "" << 0 << 0;
    QTest::newRow("dot dot") << ".."
                             << "50" << 0
                             << QStringLiteral("关键词不能是“.”或“..”：关键词是任务文件夹的名字。")
                             << 1000 << "" << 0 << 0;
    QTest::newRow("dot") << " . "
                         << "50" << 0
                         << QStringLiteral("关键词不能是“.”或“..”：关键词是任务文件夹的名字。")
                         << 1000 << "" << 0 << 0;
    QTest::newRow("half a surrogate pair")
        << QString(QChar(0xD800)) + QStringLiteral("花") << "50" << 0
        << QStringLiteral("关键词不是有效的UTF-8文本。") << 1000 << "" << 0 << 0;
    QTest::newRow("too long") << QString(90, QChar(0x82B1)) << "50" << 0
                              << QStringLiteral("关键词太长：最多257字节。") << 1000 << "" << 0
                              << 0;
  }
  void Ok() {
    QFETCH(QString, keyword);
    QFETCH(QString, pages);
    QFETCH(int, kindButton);
    QFETCH(QString, message);
    QFETCH(int, focus);
    CAddTaskDlg dialog(kHome);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Control<QLineEdit>(dialog, 1000)->setText(keyword);
    QLineEdit* pageBox = Control<QLineEdit>(dialog, 1012);
    pageBox->clear();
    QTest::keyClicks(pageBox, pages);
    if (kindButton) Control<QRadioButton>(dialog, kindButton)->click();
    QCOMPARE(PressOk(dialog), message);
    if (!message.isEmpty()) {
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.focusWidget(), Control<QWidget>(dialog, focus));
      return;
    }
    QFETCH(QString, kept);
    QFETCH(int, pagesKept);
    QFETCH(int, kind);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(QString::fromStdString(dialog.Values().keyword), kept);
    QCOMPARE(dialog.Values().pageCount, pagesKept);
    QCOMPARE(int(dialog.Values().kind), kind);
    QCOMPARE(dialog.Values().folder, kHome + "DownData/");
  }
};

QTEST_MAIN(AddTaskDlgTest)
#include "add_task_dlg_test.moc"
