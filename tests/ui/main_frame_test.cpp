// The main window offscreen: start-up with and without task files, the command table and its
// enabling rules (menu, tool bar and the tree's context menu), re-running and opening a task's
// folder, the question before deleting all, and one language in every window.
#include "tests/ui/main_frame_fixture.h"

using namespace quarry::testing;
using quarry::TaskRoot;
using quarry::TaskState;

class MainFrameTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { QVERIFY(quarry::InstallChineseTranslation(*QCoreApplication::instance())); }

  // A fresh home, in the window a 1366 x 768 screen gives when maximised.
  void StartUpWithoutTaskFilesShowsTheEmptyRoots() {
    QTemporaryDir home;
    QVERIFY(!QDir(home.filePath(QStringLiteral("sys"))).exists());
    CMainFrame frame(Options(home, kRefusedHost));
    frame.resize(kSmallScreen);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(QDir(home.filePath(QStringLiteral("sys"))).exists());
    QVERIFY(QDir(home.filePath(QStringLiteral("DownData"))).exists());
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quarrymaster - Quarry 1.0"));
    QVERIFY(!frame.windowIcon().isNull());

    CTaskTreeCtrl* tree = frame.Tree();
    QCOMPARE(tree->objectName(), QStringLiteral("129"));
    QCOMPARE(tree->Model()->rowCount(), 3);
    const QStringList roots = {QStringLiteral("等待"), QStringLiteral("运行"),
                               QStringLiteral("完成")};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(tree->Model()->item(i)->text(), roots[i]);
      QCOMPARE(tree->Model()->item(i)->rowCount(), 0);
      QVERIFY(!tree->Model()->item(i)->icon().isNull());
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
    // The information pane shows all its rows; the result browser takes the rest.
    auto* info = qobject_cast<CInfoView*>(splitter->widget(1));
    QCOMPARE(splitter->sizes()[1], info->FullHeight());
    InfoPage* figures = info->Figures();
    QVERIFY(figures->visualItemRect(figures->topLevelItem(InfoPage::kModeRow)).bottom() <
            figures->viewport()->height());
    QVERIFY(splitter->sizes()[0] > 2 * quarry::kCellSize);
    // The empty result pane says where to begin; the hint goes once a task is there.
    auto* view = qobject_cast<CQuarryView*>(splitter->widget(0));
    QCOMPARE(view->thumbnailList()->hint(), QStringLiteral("使用「添加新任务」开始"));
    QVERIFY(view->pageLabel()->isHidden());
    QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_fresh_home_1366x768")));

    QCOMPARE(frame.statusBar()->objectName(), QStringLiteral("59393"));
    QCOMPARE(frame.statusBar()->findChild<QLabel*>(QStringLiteral("MessagePane"))->text(),
             QStringLiteral("就绪"));
    QStringList indicators;
    for (const char* id : {"59137", "59138", "59139"}) {
      QLabel* indicator = frame.statusBar()->findChild<QLabel*>(QLatin1String(id));
      QVERIFY(indicator && !indicator->isEnabled() && indicator->isVisible());
      indicators << indicator->text();
    }
    QCOMPARE(indicators, (QStringList{"大写", "数字", "滚动"}));
    QCOMPARE(frame.TrayIcon() != nullptr, QSystemTrayIcon::isSystemTrayAvailable());
    QCOMPARE(Enabled(frame), QStringLiteral("0000000"));
    auto fill = FillAddTaskDialog(QStringLiteral("later"), false);
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QVERIFY(view->thumbnailList()->hint().isEmpty());

    // The panes' heights the user chose come back at the next start.
    splitter->setSizes({300, 200});
    const QList<int> chosen = splitter->sizes();
    QVERIFY(frame.close());
    CMainFrame again(Options(home, kRefusedHost));
    again.resize(kSmallScreen);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.Splitter()->sizes()[1], chosen[1]);
    QVERIFY(again.close());
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
    row(32809, 0, "删除全部任务(&L)", "删除全部任务", "删除全部", false);
    row(32810, 0, "重新运行(&G)", "把已完成的任务放回等待队列；再次运行时只下载新的文件",
        "重新运行", false);
    row(32811, 0, "打开所在文件夹(&O)", "在文件管理器中打开当前任务的文件夹", "打开所在文件夹",
        false);
    row(32812, 0, "重试失败的文件(&F)",
        "再次下载当前任务中因网络、超时、服务器错误或磁盘已满而失败的文件", "重试失败的文件",
        false);
    row(32813, 0, "导出记录(&E)...", "把当前任务的文件和失败记录导出为 CSV 或 JSON 文件",
        "导出记录", false);
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
    const std::vector<quarry::MenuEntry>& table = quarry::MenuTable();
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
    // Each letter reaches one entry of its menu, and one menu of the bar.
    auto letters = [](const QList<QAction*>& actions) {
      QStringList taken;
      for (QAction* action : actions) {
        const qsizetype mark = action->text().indexOf(QLatin1Char('&'));
        if (mark >= 0) taken << action->text().mid(mark + 1, 1).toUpper();
      }
      return taken;
    };
    for (QAction* popup : popups + QList<QAction*>{nullptr}) {
      const QStringList taken = letters(popup ? popup->menu()->actions() : popups);
      QCOMPARE(QSet<QString>(taken.begin(), taken.end()).size(), taken.size());
    }
    // The bars' own context menu names them in Chinese.
    const std::unique_ptr<QMenu> bars(frame.createPopupMenu());
    QStringList barNames;
    for (QAction* action : bars->actions()) {
      if (!action->isSeparator()) barNames << action->text();
    }
    QCOMPARE(barNames, (QStringList{"任务控制条", "标准"}));
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
    for (int i = 0; i < 3; ++i) QVERIFY(tree->isExpanded(tree->Model()->item(i)->index()));
    QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_startup")));

    QStandardItem* w = ItemNamed(tree, QStringLiteral("w"));
    QStandardItem* p = ItemNamed(tree, QStringLiteral("p"));
    QStandardItem* f = ItemNamed(tree, QStringLiteral("f"));
    quarry::Task* paused = CTaskTreeCtrl::TaskOf(p);
    QCOMPARE(paused->record.state, TaskState::Paused);
    // Run, stop, delete one; run, stop, delete all.
    QCOMPARE(Enabled(frame), QStringLiteral("0001110"));
    tree->SetCurrentItem(w);
    QCOMPARE(Enabled(frame), QStringLiteral("1011110"));
    tree->SetCurrentItem(f);
    QCOMPARE(Enabled(frame), QStringLiteral("0011111"));
    tree->SetCurrentItem(p);
    QCOMPARE(Enabled(frame), QStringLiteral("1011110"));

    frame.Command(quarry::kCmdRunTask)->trigger();
    p = ItemNamed(tree, QStringLiteral("p"));  // a new item, under "运行"
    QCOMPARE(paused->record.state, TaskState::Running);
    QCOMPARE(frame.Control().RunningCount(), 1);
    QCOMPARE(Enabled(frame), QStringLiteral("0111110"));
    QCOMPARE(frame.Control().CurrentTask(), paused);
    // A root is no task: the views stay on the running task, the task commands go off.
    tree->SetCurrentItem(tree->Root(TaskRoot::Finished));
    QCOMPARE(frame.Control().CurrentTask(), paused);
    QCOMPARE(Enabled(frame), QStringLiteral("0001110"));
    // Another task may be run only when none runs: the command is there but does nothing.
    tree->SetCurrentItem(w);
    QCOMPARE(Enabled(frame), QStringLiteral("1011110"));
    frame.Command(quarry::kCmdRunTask)->trigger();
    QCOMPARE(CTaskTreeCtrl::TaskOf(w)->record.state, TaskState::Waiting);

    // The context menu, even with nothing selected, enables what the menu bar enables.
    tree->SetCurrentItem(p);
    QStringList menuState;
    auto menuAnswer = std::make_unique<quarry::testing::ModalAnswer<QMenu>>([&](QMenu* menu) {
      for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
          menuState << action->objectName() + (action->isEnabled() ? "+" : "-");
      }
      QVERIFY(quarry::testing::SaveScreenshot(*menu, QStringLiteral("main_frame_context_menu")));
      menu->close();
    });
    emit tree->customContextMenuRequested(tree->visualRect(p->index()).center());
    QCOMPARE(menuState.join(' '), QStringLiteral("32771+ 32773- 32774+ 32776+ 32810- 32812- "
                                                 "32778+ 32780+ 32809+ 32811+ 32813+ 57616- "
                                                 "57665+"));
    tree->SetCurrentItem(nullptr);
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
    tree->SetCurrentItem(p);
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
    tree->SetCurrentItem(w);
    QCOMPARE(info->Figures()->Value(0), QStringLiteral("w"));
    QVERIFY(!view->showsThumbnails());
    frame.Command(quarry::kCmdDeleteTask)->trigger();
    QVERIFY(Children(tree, TaskRoot::Waiting).isEmpty());
    QVERIFY(!frame.SelectedTask());
    for (int row = 0; row < InfoPage::kRows; ++row)
      QCOMPARE(info->Figures()->Value(row), QString());
    QVERIFY(view->showsThumbnails() && view->thumbnailList()->cellCount() == 0);

    // Re-run: the stopped task goes back under "等待", selected still, in unfinished.tsk only.
    tree->SetCurrentItem(ItemNamed(tree, QStringLiteral("p")));
    QCOMPARE(Enabled(frame), QStringLiteral("0010001"));
    menuAnswer = std::make_unique<quarry::testing::ModalAnswer<QMenu>>([&](QMenu* menu) {
      menu->setActiveAction(frame.Command(quarry::kCmdRerunTask));
      QVERIFY(quarry::testing::SaveScreenshot(*menu, QStringLiteral("main_frame_rerun_command")));
      menu->close();
    });
    emit tree->customContextMenuRequested(tree->visualRect(tree->currentIndex()).center());
    QVERIFY(menuAnswer->answered());
    frame.Command(quarry::kCmdRerunTask)->trigger();
    QCOMPARE(Children(tree, TaskRoot::Waiting), QStringList{QStringLiteral("p")});
    QCOMPARE(Children(tree, TaskRoot::Finished), QStringList{QStringLiteral("f")});
    QCOMPARE(frame.SelectedTask(), paused);
    QCOMPARE(paused->record.state, TaskState::Waiting);
    QCOMPARE(paused->record.pagesFetched, 0);
    QCOMPARE(info->Figures()->Value(1), QStringLiteral("等待"));
    QCOMPARE(Enabled(frame), QStringLiteral("1011110"));
    quarry::TaskList unfinished;
    QVERIFY(quarry::LoadTaskFile(quarry::UnfinishedTaskPath(frame.Home()), &unfinished));
    QCOMPARE(unfinished.size(), std::size_t(1));
    QCOMPARE(unfinished[0]->record.state, TaskState::Waiting);
    saved.clear();
    quarry::LoadTaskFile(quarry::FinishedTaskPath(frame.Home()), &saved);
    QCOMPARE(saved.size(), std::size_t(1));

    // "打开所在文件夹" hands the task's folder to the desktop; a task that never ran has none.
    QList<QUrl> opened;
    frame.SetUrlOpener([&opened](const QUrl& url) {
      opened << url;
      return true;
    });
    frame.Command(quarry::kCmdOpenFolder)->trigger();
    const QString folder = QString::fromStdString(quarry::FieldText(paused->record.folder));
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
    tree->SetCurrentItem(ItemNamed(tree, QStringLiteral("f")));
    {
      quarry::testing::MessageBoxAnswer missing;
      frame.Command(quarry::kCmdOpenFolder)->trigger();
      QVERIFY2(missing.text.startsWith(QStringLiteral("任务文件夹")), qPrintable(missing.text));
    }
    QCOMPARE(opened.size(), 1);

    // Deleting all asks first; 否 keeps every task.
    quarry::testing::ModalAnswer<QMessageBox> question([](QMessageBox* box) {
      QCOMPARE(box->text().section(QLatin1Char('\n'), 0, 0),
               QStringLiteral("确定要删除全部任务吗？"));
      QCOMPARE(box->button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
      QCOMPARE(box->button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
      QVERIFY(
          quarry::testing::SaveScreenshot(*box, QStringLiteral("main_frame_delete_all_question")));
      box->button(QMessageBox::No)->click();
    });
    frame.Command(quarry::kCmdDeleteAll)->trigger();
    QVERIFY(question.answered());
    QCOMPARE(frame.Control().UnfinishedTasks().size() + frame.Control().FinishedTasks().size(),
             std::size_t(2));
    QVERIFY(frame.close());
  }

  // Every window the user can open, walked for a text that is an English word: the frame with
  // its menus and the bars' context menu, the three dialogs, a warning and a question. The
  // sources are searched as well, for an English literal handed to a call that shows text.
  void EveryTextIsChinese() {
    QTemporaryDir home;
    WriteTaskFiles(home);
    CMainFrame frame(Options(home, kRefusedHost));
    KeepViewMessages(frame);
    frame.resize(1000, 700);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.Tree()->SetCurrentItem(ItemNamed(frame.Tree(), QStringLiteral("f")));
    auto* info = frame.findChild<CInfoView*>(QStringLiteral("InfoView"));
    QStringList english = EnglishTexts(&frame);
    QVERIFY(info->Tabs()->ActivatePage(CInfoView::kFailurePage));
    english += EnglishTexts(&frame);
    const std::unique_ptr<QMenu> bars(frame.createPopupMenu());
    english += EnglishTexts(bars.get());
    // The add-task dialog with its filters open; "f" never ran, so it has no records to export.
    for (int id : {quarry::kCmdAddTask, quarry::kCmdSettings, quarry::kCmdAbout,
                   quarry::kCmdOpenFolder, quarry::kCmdDeleteAll, quarry::kCmdExportRecords}) {
      quarry::testing::ModalAnswer<QDialog> walk([&english](QDialog* dialog) {
        if (auto* addTask = qobject_cast<CAddTaskDlg*>(dialog)) addTask->ShowRules(true);
        english += EnglishTexts(dialog);
        dialog->reject();
      });
      frame.Command(id)->trigger();
      QVERIFY2(walk.answered(), qPrintable(frame.Command(id)->text()));
    }
    QCOMPARE(frame.Control().FinishedTasks().size(), std::size_t(1));  // the question said no

    static const QRegularExpression shown(QString::fromLatin1(
        R"re((setText|setWindowTitle|addToolBar|setToolTip|setStatusTip|setPlaceholderText|)re"
        R"re(setTitle|addMenu|addAction|Button|Label|Box)\((?:QStringLiteral\(|QString::from\w+\()?)re"
        R"re("([A-Za-z]+( [A-Za-z]+)*)")re"));
    const QDir sources(QStringLiteral(QUARRY_SOURCE_DIR "/ui"));
    QStringList files;
    for (QDirIterator each(sources.path(), {QStringLiteral("*.cpp")}, QDir::Files,
                           QDirIterator::Subdirectories);
         each.hasNext();)
      files << sources.relativeFilePath(each.next());
    QVERIFY(files.size() > 20);
    for (const QString& name : files) {
      QFile file(sources.filePath(name));
      QVERIFY(file.open(QIODevice::ReadOnly));
      const QString text = QString::fromUtf8(file.readAll());
      for (auto match = shown.globalMatch(text); match.hasNext();)
        english << name + QStringLiteral(": ") + match.next().captured(0);
    }
    QVERIFY2(english.isEmpty(), qPrintable(english.join(QLatin1Char('\n'))));
    QVERIFY(frame.close());
  }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
