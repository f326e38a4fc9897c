// The main window offscreen: start-up with and without task files, the command table and its
// enabling rules (menu, tool bar and the tree's context menu), adding tasks through the dialog
// with and without "立即下载", shutting down while a task runs, and a whole task harvested from
// the local search service through the window.
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "engine/settings_file.h"
#include "engine/task_files.h"
#include "tests/support/loopback.h"
#include "tests/ui/modal_answer.h"
#include "tests/ui/screenshot_gallery.h"
#include "ui/add_task_dlg.h"
#include "ui/command_table.h"
#include "ui/file_list.h"
#include "ui/gripper_bar.h"
#include "ui/info_page.h"
#include "ui/info_view.h"
#include "ui/main_frame.h"
#include "ui/quarry_view.h"
#include "ui/queue_tab_ctrl.h"
#include "ui/settings_dlg.h"
#include "ui/sheet_tab_ctrl.h"
#include "ui/task_tree_ctrl.h"
#include "ui/thread_log.h"
#include "ui/thumbnail_list.h"

using quarry::TaskRoot;
using quarry::TaskState;

namespace {

const char kRefusedHost[] = "127.0.0.1:1";

// Task control settings for a test: short time limits, so that a stop ends a task quickly.
quarry::TaskControlOptions Options(const QTemporaryDir& home, const std::string& host) {
  quarry::TaskControlOptions options;
  options.home = home.path().toStdString() + "/";
  std::string error;
  quarry::MakeSearchHosts(host, host, &options.hosts, &error);
  options.timing = quarry::RunnerTiming{5, 10, 5, 5};
  options.http.connectMs = 300;
  options.http.sendMs = 300;
  options.http.headMs = 300;
  options.http.bodyMs = 300;
  options.shutdownWaitMs = 3000;
  options.seedSleeper = [](std::chrono::milliseconds) {};
  return options;
}

std::unique_ptr<quarry::Task> MakeTask(const QTemporaryDir& home, const char* keyword,
                                       TaskState state, int pages = 500) {
  quarry::NewTaskValues values;
  values.keyword = keyword;
  values.folder = home.path().toStdString() + "/DownData/";
  values.threadCount = 1;
  values.pageCount = pages;
  values.kind = quarry::FileKind::Pdf;
  auto task = std::make_unique<quarry::Task>();
  quarry::MakeSearchTask(values, std::time(nullptr), &task->record, nullptr);
  task->record.state = state;
  return task;
}

// Task files with a waiting task "w", a task cut off while running "p" and a finished one "f".
void WriteTaskFiles(const QTemporaryDir& home) {
  const std::string root = home.path().toStdString() + "/";
  std::filesystem::create_directories(root + "sys");
  quarry::TaskList unfinished;
  unfinished.push_back(MakeTask(home, "w", TaskState::Waiting));
  unfinished.push_back(MakeTask(home, "p", TaskState::Running));
  quarry::TaskList finished;
  finished.push_back(MakeTask(home, "f", TaskState::Ended));
  QVERIFY(quarry::SaveUnfinished(root, unfinished));
  QVERIFY(quarry::SaveFinished(root, finished));
}

// The result browser's messages, kept instead of shown: a task that never ran has no records
// database, and selecting it tells so.
QStringList* KeepViewMessages(CMainFrame& frame) {
  auto* messages = new QStringList;
  auto* view = frame.findChild<CQuarryView*>(QStringLiteral("QuarryView"));
  QObject::connect(view, &QObject::destroyed, [messages] { delete messages; });
  view->SetMessageSink([messages](const QString& text) { *messages << text; });
  return messages;
}

QStringList Children(CTaskTreeCtrl* tree, TaskRoot root) {
  QStringList texts;
  QTreeWidgetItem* item = tree->Root(root);
  for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
  return texts;
}

QTreeWidgetItem* ItemNamed(CTaskTreeCtrl* tree, const QString& text) {
  const QList<QTreeWidgetItem*> found =
      tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

// Which of run, stop and delete (one task) and of the three "all" commands are enabled.
QString Enabled(CMainFrame& frame) {
  QString state;
  for (int id : {quarry::kCmdRunTask, quarry::kCmdStopTask, quarry::kCmdDeleteTask,
                 quarry::kCmdRunAll, quarry::kCmdStopAll, quarry::kCmdDeleteAll}) {
    state += frame.Command(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
  }
  return state;
}

// The files a file list shows, sorted.
QStringList SavedFiles(const FileList* files) {
  QStringList paths;
  for (int row = 0; row < files->topLevelItemCount(); ++row)
    paths << files->topLevelItem(row)->text(FileList::kFileColumn);
  paths.sort();
  return paths;
}

// Types `text` into `widget` a character at a time, Chinese included (QTest's key clicks
// take ASCII only).
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar character : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
    QApplication::sendEvent(widget, &press);
  }
}

// Fills the add-task dialog once it opens and confirms it.
using DialogAnswer = quarry::testing::ModalAnswer<CAddTaskDlg>;
std::unique_ptr<DialogAnswer> FillAddTaskDialog(const QString& keyword, bool startAtOnce,
                                                int kindButton = 0,
                                                const QString& pages = QString()) {
  return std::make_unique<DialogAnswer>([=](CAddTaskDlg* dialog) {
    TypeText(dialog->findChild<QLineEdit*>(QStringLiteral("1000")), keyword);
    if (!pages.isEmpty()) {
      auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("1012"));
      box->clear();
      QTest::keyClicks(box, pages);
    }
    if (kindButton) dialog->findChild<QRadioButton*>(QString::number(kindButton))->click();
    dialog->findChild<QCheckBox*>(QStringLiteral("1007"))->setChecked(startAtOnce);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
  });
}

}  // namespace

class MainFrameTest : public QObject {
  Q_OBJECT

private slots:
  void StartUpWithoutTaskFilesShowsTheEmptyRoots() {
    QTemporaryDir home;
    QVERIFY(!QDir(home.filePath(QStringLiteral("sys"))).exists());
    CMainFrame frame(Options(home, kRefusedHost));
    frame.resize(1000, 700);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(QDir(home.filePath(QStringLiteral("sys"))).exists());
    QVERIFY(QDir(home.filePath(QStringLiteral("DownData"))).exists());
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quarrymaster - Quarry 1.0"));
    QVERIFY(!frame.windowIcon().isNull());

    CTaskTreeCtrl* tree = frame.Tree();
    QCOMPARE(tree->objectName(), QStringLiteral("129"));
    QCOMPARE(tree->topLevelItemCount(), 3);
    const QStringList roots = {QStringLiteral("等待"), QStringLiteral("运行"),
                               QStringLiteral("完成")};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(tree->topLevelItem(i)->text(0), roots[i]);
      QCOMPARE(tree->topLevelItem(i)->childCount(), 0);
      QVERIFY(!tree->topLevelItem(i)->icon(0).isNull());
    }
    QCOMPARE(tree->palette().color(QPalette::Base), QColor(200, 200, 200));

    CGripperBar* bar = frame.TaskBar();
    QCOMPARE(bar->windowTitle(), QStringLiteral("任务控制条"));
    QCOMPARE(bar->objectName(), QStringLiteral("123"));
    QCOMPARE(frame.dockWidgetArea(bar), Qt::LeftDockWidgetArea);
    QCOMPARE(bar->width(), 230);
    QCOMPARE(frame.TabCtrl()->objectName(), QStringLiteral("125"));
    QCOMPARE(frame.TabCtrl()->PageCount(), 1);
    QCOMPARE(frame.TabCtrl()->Page(0), static_cast<QWidget*>(tree));
    QVERIFY(tree->isVisible());

    QSplitter* splitter = frame.Splitter();
    QCOMPARE(splitter->count(), 2);
    QCOMPARE(splitter->widget(0)->objectName(), QStringLiteral("QuarryView"));
    QCOMPARE(splitter->widget(1)->objectName(), QStringLiteral("InfoView"));
    QVERIFY(qobject_cast<CInfoView*>(splitter->widget(1)));
    QCOMPARE(splitter->handleWidth(), 4);
    const QList<int> heights = splitter->sizes();
    QVERIFY2(qAbs(heights[0] * 3 - heights[1] * 14) <= 17 * 2,
             qPrintable(QStringLiteral("%1/%2").arg(heights[0]).arg(heights[1])));

    QCOMPARE(frame.statusBar()->objectName(), QStringLiteral("59393"));
    QCOMPARE(frame.statusBar()->findChild<QLabel*>(QStringLiteral("MessagePane"))->text(),
             QStringLiteral("就绪"));
    for (const char* id : {"59137", "59138", "59139"}) {
      QLabel* indicator = frame.statusBar()->findChild<QLabel*>(QLatin1String(id));
      QVERIFY(indicator && !indicator->isEnabled() && indicator->isVisible());
    }
    QCOMPARE(frame.TrayIcon() != nullptr, QSystemTrayIcon::isSystemTrayAvailable());
    QCOMPARE(Enabled(frame), QStringLiteral("000000"));
    QVERIFY(frame.close());
  }

  void CommandTable_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("menu");  // the popup's index, -1 for the tool bar only
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("tip");   // without a second line of the prompt: Qt's own
    QTest::addColumn<bool>("enabled");  // on a fresh start, no task
    auto row = [](int id, int menu, const char* text, const char* prompt, const char* tip,
                  bool enabled) {
      QTest::newRow(QByteArray::number(id).constData())
          << id << menu << QString::fromUtf8(text) << QString::fromUtf8(prompt)
          << QString::fromUtf8(tip) << enabled;
    };
    row(32771, 0, "添加新任务(&N)", "添加一个新的搜索任务", "添加任务", true);
    row(32773, 0, "运行任务(&R)", "运行当前任务", "运行任务", false);
    row(32774, 0, "停止任务(&S)", "停止当前任务", "停止任务", false);
    row(32776, 0, "删除任务(&D)", "删除当前任务", "删除任务", false);
    row(32778, 0, "运行全部任务(&A)", "运行全部任务", "运行全部", false);
    row(32780, 0, "停止全部任务(&T)", "终止所有任务", "终止全部", false);
    row(32809, 0, "删除全部任务(&R)", "删除全部任务", "删除全部", false);
    row(57616, 0, "最近的文件", "打开此文档", "最近的文件", false);
    row(57665, 0, "退出(&X)", "退出应用程序；提示保存文档", "退出", true);
    row(32783, 1, "参数设置(&P)", "系统参数设置", "参数设置(P)", true);
    row(32788, 1, "任务完成后关机(&S)", "当任务完成后关闭机器", "任务完成后关机(S)", false);
    row(32786, 1, "显示浮动窗口(&W)", "显示浮动窗口", "显示浮动窗口(W)", false);
    row(59392, 2, "工具栏(&T)", "显示或隐藏工具栏", "切换工具栏", true);
    row(59393, 2, "状态栏(&S)", "显示或隐藏状态栏", "切换状态栏", true);
    row(32800, 3, "下一页(&N)", "浏览下一页", "下一页", false);
    row(32802, 3, "上一页(&P)", "浏览上一页", "上一页", false);
    row(32803, 3, "第一页(&F)", "浏览第一页", "第一页", false);
    row(32804, 3, "最后一页(&L)", "浏览最后一页", "最后一页", false);
    row(57664, 4, "关于 Quarry(&A)...", "显示程序信息、版本号和版权", "关于", true);
    row(57670, 4, "帮助(&H)", "帮助文件", "帮助(H)", false);
    row(32781, -1, "删除全部任务", "删除全部任务", "删除全部", false);
  }
  void CommandTable() {
    QFETCH(int, id);
    QFETCH(int, menu);
    QFETCH(QString, text);
    QFETCH(QString, prompt);
    QFETCH(QString, tip);
    QFETCH(bool, enabled);
    QTemporaryDir home;
    CMainFrame frame(Options(home, kRefusedHost));
    QAction* action = frame.Command(id);
    QVERIFY(action);
    QCOMPARE(action->objectName(), QString::number(id));
    QCOMPARE(action->text(), text);
    QCOMPARE(action->statusTip(), prompt);
    QCOMPARE(action->toolTip(), tip);
    QCOMPARE(action->isEnabled(), enabled);
    QVERIFY(action->isVisible());
    const QList<QAction*> popups = frame.menuBar()->actions();
    QCOMPARE(popups.size(), 5);
    if (menu >= 0) {
      QVERIFY(popups[menu]->menu()->actions().contains(action));
    } else {
      for (QAction* popup : popups) QVERIFY(!popup->menu()->actions().contains(action));
    }
  }

  void MenusAndToolBarInOrder() {
    QTemporaryDir home;
    CMainFrame frame(Options(home, kRefusedHost));
    const QList<QAction*> popups = frame.menuBar()->actions();
    const std::vector<quarry::MenuSpec>& table = quarry::MenuTable();
    QStringList titles;
    for (QAction* popup : popups) titles << popup->text();
    QCOMPARE(titles, (QStringList{QStringLiteral("任务管理(&T)"), QStringLiteral("选项"),
                                  QStringLiteral("视图(&V)"), QStringLiteral("结果浏览(&P)"),
                                  QStringLiteral("帮助(&H)")}));
    for (std::size_t i = 0; i < table.size(); ++i) {
      QList<int> ids;
      for (QAction* action : popups[int(i)]->menu()->actions())
        ids << (action->isSeparator() ? 0 : action->objectName().toInt());
      QCOMPARE(ids, QList<int>(table[i].commands.begin(), table[i].commands.end()));
    }
    QCOMPARE(frame.TaskMenu(), popups[0]->menu());
    QList<int> buttons;
    for (QAction* action : frame.ToolBar()->actions())
      buttons << (action->isSeparator() ? 0 : action->objectName().toInt());
    QCOMPARE(buttons, (QList<int>{32771, 32773, 32774, 32776, 32778, 32780, 32781, 0, 32800, 32802,
                                  32804, 32803, 57664}));
    for (QAction* action : frame.ToolBar()->actions())
      QVERIFY(action->isSeparator() || !action->icon().isNull());
    QCOMPARE(frame.ToolBar()->iconSize(), QSize(16, 15));
    // The view commands show and hide the bars, and their ticks follow.
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.Command(quarry::kCmdToolBar)->trigger();
    QVERIFY(frame.ToolBar()->isHidden());
    QVERIFY(!frame.Command(quarry::kCmdToolBar)->isChecked());
    frame.Command(quarry::kCmdStatusBar)->trigger();
    QVERIFY(frame.statusBar()->isHidden());
    frame.Command(quarry::kCmdToolBar)->trigger();
    QVERIFY(!frame.ToolBar()->isHidden());
    QVERIFY(frame.Command(quarry::kCmdToolBar)->isChecked());
  }

  // Start-up from task files, then the enabling rules through a task's life: selected,
  // paused, run, stopped, ended; the context menu follows the same rules.
  void EnablingRulesFollowTheTasks() {
    QTemporaryDir home;
    WriteTaskFiles(home);
    quarry::testing::SilentListener silent;
    CMainFrame frame(Options(home, silent.Host()));
    QStringList* viewMessages = KeepViewMessages(frame);
    frame.resize(1000, 700);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CTaskTreeCtrl* tree = frame.Tree();
    QCOMPARE(Children(tree, TaskRoot::Waiting), QStringList{QStringLiteral("w")});
    QCOMPARE(Children(tree, TaskRoot::Running), QStringList{QStringLiteral("p")});
    QCOMPARE(Children(tree, TaskRoot::Finished), QStringList{QStringLiteral("f")});
    for (int i = 0; i < 3; ++i) QVERIFY(tree->topLevelItem(i)->isExpanded());
    QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_startup")));

    QTreeWidgetItem* w = ItemNamed(tree, QStringLiteral("w"));
    QTreeWidgetItem* p = ItemNamed(tree, QStringLiteral("p"));
    QTreeWidgetItem* f = ItemNamed(tree, QStringLiteral("f"));
    quarry::Task* paused = CTaskTreeCtrl::TaskOf(p);
    QCOMPARE(paused->record.state, TaskState::Paused);
    // Run, stop, delete one; run, stop, delete all.
    QCOMPARE(Enabled(frame), QStringLiteral("000111"));
    tree->setCurrentItem(w);
    QCOMPARE(Enabled(frame), QStringLiteral("101111"));
    tree->setCurrentItem(f);
    QCOMPARE(Enabled(frame), QStringLiteral("001111"));
    tree->setCurrentItem(p);
    QCOMPARE(Enabled(frame), QStringLiteral("101111"));

    frame.Command(quarry::kCmdRunTask)->trigger();
    p = ItemNamed(tree, QStringLiteral("p"));  // a new item, under "运行"
    QCOMPARE(paused->record.state, TaskState::Running);
    QCOMPARE(frame.Control().RunningCount(), 1);
    QCOMPARE(Enabled(frame), QStringLiteral("011111"));
    QCOMPARE(frame.Control().CurrentTask(), paused);
    // A root is no task: the views stay on the running task, the task commands go off.
    tree->setCurrentItem(tree->Root(TaskRoot::Finished));
    QCOMPARE(frame.Control().CurrentTask(), paused);
    QCOMPARE(Enabled(frame), QStringLiteral("000111"));
    // Another task may be run only when none runs: the command is there but does nothing.
    tree->setCurrentItem(w);
    QCOMPARE(Enabled(frame), QStringLiteral("101111"));
    frame.Command(quarry::kCmdRunTask)->trigger();
    QCOMPARE(CTaskTreeCtrl::TaskOf(w)->record.state, TaskState::Waiting);

    // The context menu, even with nothing selected, enables what the menu bar enables.
    tree->setCurrentItem(p);
    QStringList menuState;
    auto menuAnswer = std::make_unique<quarry::testing::ModalAnswer<QMenu>>([&](QMenu* menu) {
      for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
          menuState << action->objectName() + (action->isEnabled() ? "+" : "-");
      }
      QVERIFY(quarry::testing::SaveScreenshot(*menu, QStringLiteral("main_frame_context_menu")));
      menu->close();
    });
    emit tree->customContextMenuRequested(tree->visualItemRect(p).center());
    QCOMPARE(menuState.join(' '), QStringLiteral("32771+ 32773- 32774+ 32776+ 32778+ 32780+ "
                                                 "32809+ 57616- 57665+"));
    tree->setCurrentItem(nullptr);
    menuState.clear();
    menuAnswer = std::make_unique<quarry::testing::ModalAnswer<QMenu>>([&](QMenu* menu) {
      for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && action->isEnabled()) menuState << action->objectName();
      }
      menu->close();
    });
    emit tree->customContextMenuRequested(QPoint(5, 200));
    QCOMPARE(menuState.join(' '), QStringLiteral("32771 32778 32780 32809 57665"));

    // Stopped: Ended at once, moved to "完成" only when its end has come back.
    tree->setCurrentItem(p);
    frame.Command(quarry::kCmdStopTask)->trigger();
    QCOMPARE(paused->record.state, TaskState::Ended);
    QCOMPARE(Enabled(frame).left(3), QStringLiteral("001"));
    if (paused->runner) {  // still stopping: refused
      quarry::testing::MessageBoxAnswer refusal;
      frame.Command(quarry::kCmdDeleteTask)->trigger();
      QCOMPARE(refusal.text, QStringLiteral("正在运行的任务不能删除！"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(Children(tree, TaskRoot::Finished),
                              (QStringList{QStringLiteral("f"), QStringLiteral("p")}), 10000);
    QCOMPARE(frame.Control().RunningCount(), 0);
    quarry::TaskList saved;
    quarry::LoadTaskFile(quarry::FinishedTaskPath(frame.Home()), &saved);
    QCOMPARE(saved.size(), std::size_t(2));
    // The waiting task still waits for the user.
    QCOMPARE(CTaskTreeCtrl::TaskOf(w)->record.state, TaskState::Waiting);
    // Tasks that never ran have no database: their pages are empty, and nothing is said.
    QVERIFY2(viewMessages->isEmpty(), qPrintable(viewMessages->join('\n')));

    // Deleting the task shown, with a root selected after it, leaves both panes blank.
    auto* info = frame.findChild<CInfoView*>(QStringLiteral("InfoView"));
    auto* view = frame.findChild<CQuarryView*>(QStringLiteral("QuarryView"));
    tree->setCurrentItem(w);
    QCOMPARE(info->Figures()->Value(0), QStringLiteral("w"));
    QVERIFY(!view->showsThumbnails());
    frame.Command(quarry::kCmdDeleteTask)->trigger();
    QVERIFY(Children(tree, TaskRoot::Waiting).isEmpty());
    QVERIFY(!frame.SelectedTask());
    for (int row = 0; row < InfoPage::kRows; ++row)
      QCOMPARE(info->Figures()->Value(row), QString());
    QVERIFY(view->showsThumbnails() && view->thumbnailList()->cellCount() == 0);
    QVERIFY(frame.close());
  }

  // "立即下载" cleared: the task waits although none runs; ticked: it starts at once. Then
  // closing while it runs writes both task files, and a file that cannot be written is named.
  void AddingTasksAndShuttingDown() {
    QTemporaryDir home;
    {
      std::filesystem::create_directories(home.path().toStdString() + "/sys");
      quarry::TaskList finished;
      finished.push_back(MakeTask(home, "f", TaskState::Ended));
      QVERIFY(quarry::SaveFinished(home.path().toStdString() + "/", finished));
    }
    quarry::testing::SilentListener silent;
    CMainFrame frame(Options(home, silent.Host()));
    KeepViewMessages(frame);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CTaskTreeCtrl* tree = frame.Tree();

    auto fill = FillAddTaskDialog(QStringLiteral("later"), false, 1009);
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QCOMPARE(Children(tree, TaskRoot::Waiting), QStringList{QStringLiteral("later")});
    quarry::Task* later = frame.Control().UnfinishedTasks().back().get();
    QCOMPARE(later->record.state, TaskState::Waiting);
    QCOMPARE(later->record.kind, quarry::FileKind::Word);
    QCOMPARE(later->record.threadCount, 3);
    QCOMPARE(later->record.pageCount, 50);
    QCOMPARE(quarry::FieldText(later->record.folder), frame.Home() + "DownData/later/");
    QCOMPARE(frame.Control().RunningCount(), 0);

    fill = FillAddTaskDialog(QStringLiteral("now"), true);
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QCOMPARE(Children(tree, TaskRoot::Running), QStringList{QStringLiteral("now")});
    quarry::Task* now = frame.Control().UnfinishedTasks().back().get();
    QCOMPARE(now->record.state, TaskState::Running);
    QCOMPARE(now->record.kind, quarry::FileKind::Image);

    // A cancelled dialog adds nothing.
    fill = std::make_unique<DialogAnswer>([](CAddTaskDlg* dialog) { dialog->reject(); });
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QCOMPARE(frame.Control().UnfinishedTasks().size(), std::size_t(2));

    // Closing: the running task is stored as running, beside the waiting one. finished.tsk
    // cannot be written (a folder stands where its new copy goes): the message names it.
    QDir().mkpath(QString::fromStdString(quarry::FinishedTaskPath(frame.Home()) + ".new"));
    QString message;
    bool windowGone = false;
    quarry::testing::ModalAnswer<QMessageBox> answer([&](QMessageBox* box) {
      windowGone = !frame.isVisible();  // it did not wait, frozen, for the task's threads
      QVERIFY(
          quarry::testing::SaveScreenshot(*box, QStringLiteral("main_frame_task_files_unsaved")));
      message = box->text();
      box->done(QMessageBox::Ok);
    });
    QVERIFY(frame.close());
    QVERIFY(answer.answered() && windowGone);
    QVERIFY2(message.contains(QStringLiteral("finished.tsk")), qPrintable(message));
    QVERIFY(message.startsWith(QStringLiteral("任务文件未能保存")));
    quarry::TaskList saved;
    QVERIFY(quarry::LoadTaskFile(quarry::UnfinishedTaskPath(frame.Home()), &saved));
    QCOMPARE(saved.size(), std::size_t(2));
    QCOMPARE(saved[0]->record.state, TaskState::Waiting);
    QCOMPARE(saved[1]->record.state, TaskState::Running);
    QSettings profile(QString::fromStdString(quarry::ProfilePath(frame.Home())),
                      QSettings::IniFormat);
    QVERIFY(!profile.value(QStringLiteral("CommandBars/State")).toByteArray().isEmpty());
  }

  // What task control has to tell is shown in a message box: a damaged task file once the
  // window is up, a task whose folder cannot be made when it is run (it stays waiting); and
  // what the result browser has to tell: a task database that cannot be read.
  // "参数设置(&P)" opens the settings dialog; the mode chosen is kept in the profile, read at the
  // next start, used by the tasks started after it and shown in the information view.
  void SettingsChooseTheSearchMode() {
    QTemporaryDir home;
    const std::string profile = home.path().toStdString() + "/sys/quarry.ini";
    {
      CMainFrame frame(Options(home, kRefusedHost));
      frame.resize(1000, 700);
      frame.show();
      QVERIFY(QTest::qWaitForWindowExposed(&frame));
      QCOMPARE(frame.Control().Mode(), quarry::SearchMode::Classic);
      quarry::testing::ModalAnswer<CSettingsDlg> choose([](CSettingsDlg* dialog) {
        QVERIFY(dialog->ClassicButton()->isChecked());
        QVERIFY(quarry::testing::SaveScreenshot(*dialog, QStringLiteral("settings_dialog")));
        dialog->LiveButton()->click();
        dialog->accept();
      });
      frame.Command(quarry::kCmdSettings)->trigger();
      QVERIFY(choose.answered());
      QCOMPARE(frame.Control().Mode(), quarry::SearchMode::Live);
      QCOMPARE(quarry::ReadSearchMode(profile), quarry::SearchMode::Live);

      // A task started now searches live; the host refuses, so it ends at once.
      auto fill = FillAddTaskDialog(QStringLiteral("live"), true, 1011, QStringLiteral("2"));
      frame.Command(quarry::kCmdAddTask)->trigger();
      QVERIFY(fill->answered());
      auto* info = frame.findChild<CInfoView*>(QStringLiteral("InfoView"));
      QCOMPARE(info->Figures()->Value(InfoPage::kModeRow), QStringLiteral("实时模式（https）"));
      QTRY_COMPARE_WITH_TIMEOUT(Children(frame.Tree(), TaskRoot::Finished),
                                QStringList{QStringLiteral("live")}, 20000);
      QCOMPARE(info->Figures()->Value(InfoPage::kModeRow), QStringLiteral("实时模式（https）"));
      InfoPage* figures = info->Figures();
      figures->scrollToItem(figures->topLevelItem(InfoPage::kModeRow));
      QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_live_task_mode")));
    }
    // The next start reads the choice; cancelling the dialog keeps it.
    CMainFrame frame(Options(home, kRefusedHost));
    QCOMPARE(frame.Control().Mode(), quarry::SearchMode::Live);
    quarry::testing::ModalAnswer<CSettingsDlg> cancel([](CSettingsDlg* dialog) {
      QVERIFY(dialog->LiveButton()->isChecked());
      dialog->ClassicButton()->click();
      dialog->reject();
    });
    frame.Command(quarry::kCmdSettings)->trigger();
    QVERIFY(cancel.answered());
    QCOMPARE(frame.Control().Mode(), quarry::SearchMode::Live);
    QCOMPARE(quarry::ReadSearchMode(profile), quarry::SearchMode::Live);
  }

  void ProblemsAreShownInMessageBoxes() {
    QTemporaryDir home;
    const std::string root = home.path().toStdString() + "/";
    {
      std::filesystem::create_directories(root + "sys");
      quarry::TaskList unfinished;
      unfinished.push_back(MakeTask(home, "bad", TaskState::Waiting));
      std::snprintf(unfinished.back()->record.folder, sizeof unfinished.back()->record.folder,
                    "%smissing/bad/", root.c_str());
      QVERIFY(quarry::SaveUnfinished(root, unfinished));
      std::ofstream(quarry::UnfinishedTaskPath(root), std::ios::app) << "cut short";
      quarry::TaskList finished;
      finished.push_back(MakeTask(home, "broken", TaskState::Ended));
      QVERIFY(quarry::SaveFinished(root, finished));
      std::filesystem::create_directories(root + "DownData/broken");
      std::ofstream(root + "DownData/broken/db.sqlite") << "no database";
    }
    QString shown;
    auto answer = [&shown](const QString& name) {
      return std::make_unique<quarry::testing::ModalAnswer<QMessageBox>>(
          [&shown, name](QMessageBox* box) {
            shown = box->text();
            QVERIFY(quarry::testing::SaveScreenshot(*box, name));
            box->done(QMessageBox::Ok);
          });
    };
    auto startUp = answer(QStringLiteral("main_frame_damaged_task_file"));
    CMainFrame frame(Options(home, kRefusedHost));
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_VERIFY(startUp->answered());
    QVERIFY2(shown.contains(QStringLiteral("unfinished.tsk.broken")), qPrintable(shown));

    QTreeWidgetItem* bad = ItemNamed(frame.Tree(), QStringLiteral("bad"));
    QVERIFY(bad);
    frame.Tree()->setCurrentItem(bad);
    auto run = answer(QStringLiteral("main_frame_task_cannot_start"));
    frame.Command(quarry::kCmdRunTask)->trigger();
    QVERIFY(run->answered());
    QVERIFY2(shown.startsWith(QStringLiteral("任务“bad”不能开始：无法创建任务文件夹")),
             qPrintable(shown));
    QCOMPARE(Children(frame.Tree(), TaskRoot::Waiting), QStringList{QStringLiteral("bad")});
    QCOMPARE(CTaskTreeCtrl::TaskOf(bad)->record.state, TaskState::Waiting);
    QCOMPARE(frame.Control().RunningCount(), 0);

    // A task that never ran said nothing above; a database that cannot be read is told.
    auto unreadable = answer(QStringLiteral("main_frame_database_error"));
    frame.Tree()->setCurrentItem(ItemNamed(frame.Tree(), QStringLiteral("broken")));
    QTRY_VERIFY(unreadable->answered());
    QCOMPARE(shown, QStringLiteral("打开数据库出错!"));
    QVERIFY(frame.close());
  }

  // Two tasks through the window against the local search service. A picture task, selected
  // as soon as it is added, shows its thumbnails above and its threads' pages below while it
  // runs, and is stopped; a PDF task then runs to its end and lists its files. Deleting the
  // task shown moves the panes to the task selected next, or blanks them when none is.
  void HarvestsFromTheLocalSearchService() {
    QProcess service;
    // Results enough that the picture task cannot end before it is stopped.
    service.start(QStringLiteral("python3"),
                  {QStringLiteral(QUARRY_SEARCH_SERVICE), QStringLiteral("--port"),
                   QStringLiteral("0"), QStringLiteral("--results"), QStringLiteral("3000")});
    QVERIFY(service.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(service.canReadLine(), 10000);
    const int port = service.readLine().trimmed().toInt();
    QVERIFY(port > 0);
    QTemporaryDir home;
    quarry::TaskControlOptions options;
    options.home = home.path().toStdString() + "/";
    const std::string host = "127.0.0.1:" + std::to_string(port);
    QVERIFY(quarry::MakeSearchHosts(host, host, &options.hosts, nullptr));
    CMainFrame frame(std::move(options));
    QStringList* viewMessages = KeepViewMessages(frame);
    frame.resize(1100, 760);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CTaskTreeCtrl* tree = frame.Tree();
    auto* info = frame.findChild<CInfoView*>(QStringLiteral("InfoView"));
    auto* view = frame.findChild<CQuarryView*>(QStringLiteral("QuarryView"));
    ThumbnailList* grid = view->thumbnailList();
    const QString pictureKeyword = QStringLiteral("花 flowers");

    auto fill = FillAddTaskDialog(pictureKeyword, true, 0, QStringLiteral("100"));
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QCOMPARE(Children(tree, TaskRoot::Running), QStringList{pictureKeyword});
    QCOMPARE(ItemNamed(tree, pictureKeyword)->toolTip(0), pictureKeyword);
    quarry::Task* pictures = frame.SelectedTask();
    QVERIFY(pictures);
    QCOMPARE(QString::fromStdString(quarry::FieldText(pictures->record.keyword)), pictureKeyword);
    QCOMPARE(info->Figures()->Value(0), pictureKeyword);
    QCOMPARE(info->Tabs()->Count(), 4);  // the figures and the pages of three threads
    QCOMPARE(info->Figures()->Value(InfoPage::kModeRow), QStringLiteral("经典模式"));
    // Saved pictures join the page as they come, each decoded into its cell.
    auto pageShown = [&] {
      for (int i = 0; i < grid->cellCount(); ++i) {
        if (grid->cell(i).picture != ThumbnailCell::Picture::Shown) return false;
      }
      return grid->cellCount() >= 12 && info->Log(1)->LineCount() > 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(pageShown(), 20000);
    QCOMPARE(pictures->record.state, TaskState::Running);
    QVERIFY(QFileInfo::exists(QString::fromStdString(grid->cell(0).path)));
    QVERIFY(info->Tabs()->ActivatePage(1));
    QVERIFY(
        quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_image_task_running")));
    frame.Command(quarry::kCmdStopTask)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(Children(tree, TaskRoot::Finished), QStringList{pictureKeyword},
                              20000);
    QCOMPARE(frame.SelectedTask(), pictures);

    // The PDF task starts at once and runs to its end, its rows listed as its files are saved.
    fill = FillAddTaskDialog(QStringLiteral("年度报告"), true, 1011, QStringLiteral("3"));
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    quarry::Task* documents = frame.SelectedTask();
    QVERIFY(documents && documents != pictures);
    QCOMPARE(documents->record.kind, quarry::FileKind::Pdf);
    QVERIFY(!view->showsThumbnails());
    QTRY_COMPARE_WITH_TIMEOUT(Children(tree, TaskRoot::Finished),
                              (QStringList{pictureKeyword, QStringLiteral("年度报告")}), 60000);
    QVERIFY(Children(tree, TaskRoot::Running).isEmpty());
    QCOMPARE(documents->record.state, TaskState::Ended);
    QCOMPARE(info->Figures()->Value(1), QStringLiteral("完成"));
    FileList* files = view->fileList();
    const int saved = documents->record.filesFetched;
    QVERIFY(saved > 0 && saved <= 30);
    QCOMPARE(files->topLevelItemCount(), saved);
    QCOMPARE(files->topLevelItem(0)->text(FileList::kNumberColumn), QStringLiteral("1"));
    const QString savedAs = files->topLevelItem(0)->text(FileList::kFileColumn);
    QVERIFY2(savedAs.startsWith(home.filePath(QStringLiteral("DownData/年度报告/"))),
             qPrintable(savedAs));
    QVERIFY(savedAs.endsWith(QStringLiteral(".pdf")) && QFileInfo::exists(savedAs));
    QVERIFY(files->topLevelItem(0)
                ->text(FileList::kUrlColumn)
                .startsWith(QString::fromStdString("http://" + host + "/")));
    QVERIFY(!files->topLevelItem(0)->icon(FileList::kIconColumn).isNull());
    QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_pdf_task_finished")));
    const QStringList liveFiles = SavedFiles(files);
    quarry::TaskList finished;
    QVERIFY(quarry::LoadTaskFile(quarry::FinishedTaskPath(frame.Home()), &finished));
    QCOMPARE(finished.size(), std::size_t(2));
    QCOMPARE(finished[1]->record.state, TaskState::Ended);
    QCOMPARE(finished[1]->record.filesFetched, saved);
    QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("DownData/年度报告/db.sqlite"))));
    // Shown again, the page comes from the database: the same rows.
    tree->setCurrentItem(ItemNamed(tree, pictureKeyword));
    const long long pictureCount = grid->total();
    QVERIFY(view->showsThumbnails() && pictureCount >= 12);
    QCOMPARE(grid->cellCount(), int(std::min(pictureCount, 30LL)));
    QCOMPARE(view->CanNextPage(), pictureCount > 30);
    QCOMPARE(frame.Command(quarry::kCmdNextPage)->isEnabled(), view->CanNextPage());
    tree->setCurrentItem(ItemNamed(tree, QStringLiteral("年度报告")));
    QCOMPARE(SavedFiles(files), liveFiles);  // the order may differ: threads race to record
    QVERIFY(!frame.Command(quarry::kCmdNextPage)->isEnabled());

    // Deleted, the task shown gives way to the one selected after it; a task added waits and
    // is selected; deleting all with a finished task shown leaves both panes blank.
    frame.Command(quarry::kCmdDeleteTask)->trigger();
    QCOMPARE(frame.SelectedTask(), pictures);
    QCOMPARE(info->Figures()->Value(0), pictureKeyword);
    QVERIFY(view->showsThumbnails() && grid->total() == pictureCount);
    fill = FillAddTaskDialog(QStringLiteral("later"), false);
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QCOMPARE(info->Figures()->Value(1), QStringLiteral("等待"));
    QVERIFY(info->Figures()->Value(InfoPage::kModeRow).isEmpty());  // it has not run
    tree->setCurrentItem(ItemNamed(tree, pictureKeyword));
    QCOMPARE(info->Figures()->Value(0), pictureKeyword);
    frame.Command(quarry::kCmdDeleteAll)->trigger();
    QVERIFY(!frame.SelectedTask());
    QVERIFY(frame.Control().UnfinishedTasks().empty() && frame.Control().FinishedTasks().empty());
    for (int row = 0; row < InfoPage::kRows; ++row)
      QCOMPARE(info->Figures()->Value(row), QString());
    QCOMPARE(info->Tabs()->Count(), 1);
    QVERIFY(view->showsThumbnails() && grid->cellCount() == 0);
    QVERIFY(!frame.Command(quarry::kCmdNextPage)->isEnabled());
    QVERIFY2(viewMessages->isEmpty(), qPrintable(viewMessages->join('\n')));
    QVERIFY(frame.close());
    service.terminate();
    service.waitForFinished();
  }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
