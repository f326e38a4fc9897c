// The add-task dialog: its fresh values, the thread box held to 1 to 6, the folder picker,
// what 确定 accepts or refuses (with which message, and where the focus goes back to), and
// keyword lists typed or loaded from a file.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "tests/ui/modal_answer.h"
#include "tests/ui/screenshot_gallery.h"
#include "ui/frame/add_task_dlg.h"
#include "ui/frame/file_rules_box.h"

namespace {

const std::string kHome = "/tmp/quarry-home/";

template <typename T>
T* Control(CAddTaskDlg& dialog, int id) {
  T* control = dialog.findChild<T*>(QString::number(id));
  if (!control) qFatal("no control %d", id);
  return control;
}

// Presses 确定; returns the text of the message box it raised (empty when none).
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
    QVERIFY(Control<QPlainTextEdit>(dialog, 1000)->toPlainText().isEmpty());
    QCOMPARE(Control<QLineEdit>(dialog, 1001)->text(),
             QStringLiteral("/tmp/quarry-home/DownData/"));
    QVERIFY(Control<QLineEdit>(dialog, 1001)->isReadOnly());
    QCOMPARE(Control<QLineEdit>(dialog, 1017)->text(), QStringLiteral("3"));
    QCOMPARE(Control<QLineEdit>(dialog, 1012)->text(), QStringLiteral("50"));
    QVERIFY(Control<QRadioButton>(dialog, 1008)->isChecked());
    QVERIFY(Control<QCheckBox>(dialog, 1007)->isChecked());
    QCOMPARE(Control<QPushButton>(dialog, 1)->text(), QStringLiteral("确定"));
    QCOMPARE(Control<QPushButton>(dialog, 2)->text(), QStringLiteral("取消"));
    QVERIFY(quarry::testing::SaveScreenshot(dialog, QStringLiteral("add_task_dialog")));

    QSpinBox* threads = Control<QSpinBox>(dialog, 1016);
    QTest::keyClicks(Control<QLineEdit>(dialog, 1017), QStringLiteral("9"));
    QCOMPARE(threads->value(), 3);  // the box takes no typing, only the arrows
    for (int i = 0; i < 8; ++i) QTest::keyClick(threads, Qt::Key_Up);
    QCOMPARE(threads->value(), 6);
    for (int i = 0; i < 8; ++i) QTest::keyClick(threads, Qt::Key_Down);
    QCOMPARE(threads->value(), 1);
    threads->stepBy(2);
    QTest::keyClicks(Control<QPlainTextEdit>(dialog, 1000), QStringLiteral("kw"));
    Control<QRadioButton>(dialog, 1009)->click();
    Control<QRadioButton>(dialog, 1008)->click();  // Word, then pictures again
    Control<QCheckBox>(dialog, 1007)->setChecked(false);
    // Filters that cannot hold open the closed section, where the box at fault takes the focus.
    QCOMPARE(dialog.Rules(), quarry::FileRules{});
    QVERIFY(!dialog.RulesBox()->isVisible());
    dialog.RulesBox()->MaxBytesBox()->setValue(1000);
    QCOMPARE(PressOk(dialog), QStringLiteral("筛选条件无效：最大文件（1000 字节）不能小于最小文件"
                                             "（2000 字节）；不限大小请填 0。"));
    QVERIFY(dialog.isVisible() && dialog.RulesBox()->isVisible());
    QWidget* maxBytes = dialog.RulesBox()->MaxBytesBox();
    QVERIFY(dialog.focusWidget() == maxBytes || maxBytes->isAncestorOf(dialog.focusWidget()));
    dialog.RulesBox()->MaxBytesBox()->setValue(0);
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
    Control<QPlainTextEdit>(dialog, 1000)->setPlainText(keyword);
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

  // Several keywords: one task a line in order, a bad line named and nothing taken, twins of
  // unfinished tasks (same kind and folder) left out and named.
  void KeywordLists_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");  // the start of the message box's text; empty: none
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("three") << "rose\n\n  tulip \n\t\n百合"
                           << "" << true << QStringList{"rose", "tulip", QStringLiteral("百合")};
    QTest::newRow("bad line") << "rose\na/b\n"
                              << QStringLiteral("第2行：关键词不能含有“/”") << false
                              << QStringList{};
    QTest::newRow("long line") << "rose\n" + QString(90, QChar(0x82B1))
                               << QStringLiteral("第2行：关键词太长") << false << QStringList{};
    QTest::newRow("twins") << "waiting\nended\nrose\nrose\nimage only"
                           << QStringLiteral("已跳过2个已是未完成任务的关键词") << true
                           << QStringList{"ended", "rose", "image only"};
    QTest::newRow("only twins") << "waiting\n waiting"
                                << QStringLiteral("这些关键词已是未完成的任务") << false
                                << QStringList{};
  }
  void KeywordLists() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(bool, accepted);
    QFETCH(QStringList, kept);
    CAddTaskDlg dialog(kHome);
    std::vector<quarry::SearchTask> unfinished(3);
    auto make = [&](const char* keyword, quarry::FileKind kind, quarry::SearchTask* task) {
      quarry::NewTaskValues values;
      values.keyword = keyword;
      values.folder = kHome + "DownData/";
      values.kind = kind;
      QVERIFY(quarry::MakeSearchTask(values, 0, task, nullptr));
    };
    make("waiting", quarry::FileKind::Pdf, &unfinished[0]);
    make("ended", quarry::FileKind::Pdf, &unfinished[1]);
    unfinished[1].state = quarry::TaskState::Ended;
    make("image only", quarry::FileKind::Image, &unfinished[2]);
    dialog.SetUnfinishedTasks(unfinished);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Control<QPlainTextEdit>(dialog, 1000)->setPlainText(text);
    Control<QRadioButton>(dialog, 1011)->click();
    if (QTest::currentDataTag() == QByteArray("twins")) {
      QVERIFY(quarry::testing::SaveScreenshot(dialog, QStringLiteral("add_task_dialog_keywords")));
    }
    const QString shown = PressOk(dialog);
    QVERIFY2(message.isEmpty() ? shown.isEmpty() : shown.startsWith(message), qPrintable(shown));
    QCOMPARE(!dialog.isVisible(), accepted);
    if (!accepted) return;
    QStringList keywords;
    for (const quarry::NewTaskValues& values : dialog.TaskValues()) {
      keywords << QString::fromStdString(values.keyword);
      QCOMPARE(values.kind, quarry::FileKind::Pdf);
    }
    QCOMPARE(keywords, kept);
    QCOMPARE(QString::fromStdString(dialog.Values().keyword), kept.front());
  }

  // The file button puts a file's keywords into the box; a file that cannot be used is told.
  void KeywordFile() {
    QTemporaryDir folder;
    const QString good = folder.filePath(QStringLiteral("good.txt"));
    const QString bad = folder.filePath(QStringLiteral("bad.txt"));
    std::ofstream(good.toStdString()) << "\xEF\xBB\xBF# flowers\r\nrose\r\n\r\n\xE8\x8A\xB1\n";
    std::ofstream(bad.toStdString()) << "rose\n\xFF\xFE\n";
    CAddTaskDlg dialog(kHome);
    QString chosen;
    dialog.SetFilePicker([&](QWidget*, const QString&, const QString&) { return chosen; });
    auto* box = Control<QPlainTextEdit>(dialog, 1000);
    auto* load = Control<QPushButton>(dialog, 1003);
    chosen = good;
    load->click();
    QCOMPARE(box->toPlainText(), QStringLiteral("rose\n花"));
    for (const QString& path : {bad, folder.filePath(QStringLiteral("missing.txt"))}) {
      chosen = path;
      quarry::testing::MessageBoxAnswer answer;
      load->click();
      QVERIFY(answer.answered());
      QVERIFY2(!answer.text.isEmpty(), qPrintable(path));
      QCOMPARE(box->toPlainText(), QStringLiteral("rose\n花"));  // unchanged
    }
    chosen.clear();  // cancelled
    load->click();
    QCOMPARE(box->toPlainText(), QStringLiteral("rose\n花"));
  }
};

QTEST_MAIN(AddTaskDlgTest)
#include "add_task_dlg_test.moc"
