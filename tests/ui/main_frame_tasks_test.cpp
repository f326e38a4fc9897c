// The main window offscreen with tasks: adding tasks through the dialog with and without
// "立即下载", shutting down while a task runs, the settings dialog choosing the search mode,
// problems told in message boxes, a whole task harvested from the local search service
// through the window, and a picture task's filters, failures, retry and export.
#include "tests/ui/main_frame_fixture.h"

using namespace quarry::testing;
using quarry::TaskRoot;
using quarry::TaskState;

class MainFrameTasksTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { QVERIFY(quarry::InstallChineseTranslation(*QCoreApplication::instance())); }

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

  // Several keywords: one task a line, in order; only the first starts at once and is
  // selected. A keyword already waiting in the same folder for the same kind is left out, and
  // the message names it.
  void AddingSeveralKeywords() {
    QTemporaryDir home;
    quarry::testing::SilentListener silent;
    CMainFrame frame(Options(home, silent.Host()));
    KeepViewMessages(frame);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    CTaskTreeCtrl* tree = frame.Tree();
    auto addList = [&](const QString& lines, bool startAtOnce) {
      QString told;
      auto fill = std::make_unique<DialogAnswer>([&](CAddTaskDlg* dialog) {
        dialog->findChild<QPlainTextEdit*>(QStringLiteral("1000"))->setPlainText(lines);
        dialog->findChild<QRadioButton*>(QStringLiteral("1011"))->click();
        dialog->findChild<QCheckBox*>(QStringLiteral("1007"))->setChecked(startAtOnce);
        MessageBoxAnswer answer(2000);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
        told = answer.text;
      });
      frame.Command(quarry::kCmdAddTask)->trigger();
      return fill->answered() ? told : QStringLiteral("no dialog");
    };
    QCOMPARE(addList(QStringLiteral("one\n\n 二 \nthree"), true), QString());
    QCOMPARE(Children(tree, TaskRoot::Running), QStringList{QStringLiteral("one")});
    QCOMPARE(Children(tree, TaskRoot::Waiting), (QStringList{QStringLiteral("二"), "three"}));
    QCOMPARE(tree->CurrentItem()->text(), QStringLiteral("one"));
    for (const auto& task : frame.Control().UnfinishedTasks()) {
      QCOMPARE(task->record.kind, quarry::FileKind::Pdf);
    }

    const QString told = addList(QStringLiteral("three\nfour"), false);
    QVERIFY2(told.contains(QStringLiteral("three")), qPrintable(told));
    QCOMPARE(Children(tree, TaskRoot::Waiting),
             (QStringList{QStringLiteral("二"), "three", "four"}));
    QCOMPARE(tree->CurrentItem()->text(), QStringLiteral("four"));
    QVERIFY(frame.close());
  }

  // What task control has to tell is shown in a message box: a damaged task file once the
  // window is up, a task whose folder cannot be made when it is run (it stays waiting); and
  // what the result browser has to tell: a task database that cannot be read.
  // "参数设置(&P)" opens the settings dialog; the mode and the proxy chosen are kept in the
  // profile, read at the next start; both are used by the tasks started after them, and the
  // mode is shown in the information view, with the failure of a run: no result page, and the
  // proxy that could not be reached.
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
        QVERIFY(dialog->EnvironmentProxyButton()->isChecked());
        QVERIFY(!dialog->ProxyBox()->isEnabled());
        QVERIFY(quarry::testing::SaveScreenshot(*dialog, QStringLiteral("settings_dialog")));
        dialog->LiveButton()->click();
        dialog->NoProxyButton()->click();
        dialog->accept();
      });
      frame.Command(quarry::kCmdSettings)->trigger();
      QVERIFY(choose.answered());
      QCOMPARE(frame.Control().Mode(), quarry::SearchMode::Live);
      QCOMPARE(quarry::ReadSearchMode(profile), quarry::SearchMode::Live);
      std::string proxy;
      QVERIFY(quarry::ReadSettingValue(profile, quarry::kProxyKey, &proxy));
      QCOMPARE(proxy, std::string("none"));

      // A task started now searches live; the host refuses, so it ends at once, and having
      // got no result page it failed: a message says so, and so does its information.
      QString failure;
      quarry::testing::ModalAnswer<QMessageBox> told(
          [&failure](QMessageBox* box) {
            failure = box->text();
            QVERIFY(
                quarry::testing::SaveScreenshot(*box, QStringLiteral("main_frame_no_result_page")));
            box->done(QMessageBox::Ok);
          },
          20000);
      auto fill = FillAddTaskDialog(QStringLiteral("live"), true, 1011, QStringLiteral("2"));
      frame.Command(quarry::kCmdAddTask)->trigger();
      QVERIFY(fill->answered());
      auto* info = frame.findChild<CInfoView*>(QStringLiteral("InfoView"));
      QCOMPARE(info->Figures()->Value(InfoPage::kModeRow), QStringLiteral("实时模式（https）"));
      QTRY_COMPARE_WITH_TIMEOUT(Children(frame.Tree(), TaskRoot::Finished),
                                QStringList{QStringLiteral("live")}, 20000);
      QTRY_VERIFY(told.answered());
      QVERIFY2(failure.startsWith(QStringLiteral("任务“live”已停止：没有收到任何结果页")),
               qPrintable(failure));
      QCOMPARE(info->Figures()->Value(InfoPage::kModeRow),
               QStringLiteral("实时模式（https）；上次运行失败：没有收到任何结果页"));
      InfoPage* figures = info->Figures();
      figures->scrollToItem(figures->topLevelItem(InfoPage::kModeRow));
      QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_live_task_mode")));

      // Through a proxy that nothing answers on, the next task fails for that reason, and both
      // the message and its information name the proxy.
      const QString closedPort = QString::number(quarry::testing::FreeLoopbackPort());
      quarry::testing::ModalAnswer<CSettingsDlg> proxied([&closedPort](CSettingsDlg* dialog) {
        QVERIFY(dialog->LiveButton()->isChecked());
        QVERIFY(dialog->NoProxyButton()->isChecked());
        // A proxy address that does not read is refused, and the dialog stays.
        dialog->ProxyButton()->click();
        dialog->ProxyBox()->setText(QStringLiteral("ftp://127.0.0.1:21"));
        {
          MessageBoxAnswer refused;
          dialog->accept();
          QVERIFY2(refused.text.startsWith(QStringLiteral("代理服务器地址无效")),
                   qPrintable(refused.text));
        }
        QVERIFY(dialog->isVisible());
        dialog->ProxyBox()->setText(QStringLiteral("socks5://ann:pw@127.0.0.1:") + closedPort);
        QVERIFY(quarry::testing::SaveScreenshot(*dialog, QStringLiteral("settings_dialog_proxy")));
        dialog->accept();
      });
      frame.Command(quarry::kCmdSettings)->trigger();
      QVERIFY(proxied.answered());
      QVERIFY(quarry::ReadSettingValue(profile, quarry::kProxyKey, &proxy));
      QCOMPARE(QString::fromStdString(proxy),
               QStringLiteral("socks5://ann:pw@127.0.0.1:") + closedPort);
      const QString shown = QStringLiteral("socks5://ann@127.0.0.1:") + closedPort;
      QString proxyFailure;
      quarry::testing::ModalAnswer<QMessageBox> proxyTold(
          [&proxyFailure](QMessageBox* box) {
            proxyFailure = box->text();
            QVERIFY(
                quarry::testing::SaveScreenshot(*box, QStringLiteral("main_frame_proxy_failure")));
            box->done(QMessageBox::Ok);
          },
          20000);
      auto fillProxied =
          FillAddTaskDialog(QStringLiteral("proxied"), true, 1011, QStringLiteral("2"));
      frame.Command(quarry::kCmdAddTask)->trigger();
      QVERIFY(fillProxied->answered());
      QTRY_COMPARE_WITH_TIMEOUT(Children(frame.Tree(), TaskRoot::Finished),
                                (QStringList{QStringLiteral("live"), QStringLiteral("proxied")}),
                                20000);
      QTRY_VERIFY(proxyTold.answered());
      QVERIFY2(proxyFailure.startsWith(QStringLiteral("任务“proxied”已停止：")),
               qPrintable(proxyFailure));
      QVERIFY2(proxyFailure.contains(shown), qPrintable(proxyFailure));
      const QString mode = info->Figures()->Value(InfoPage::kModeRow);
      QVERIFY2(mode.startsWith(QStringLiteral("实时模式（https）；上次运行失败：")),
               qPrintable(mode));
      QVERIFY2(mode.contains(shown), qPrintable(mode));
      QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_proxy_task_mode")));
    }
    // The next start reads the choice; cancelling the dialog keeps it.
    CMainFrame frame(Options(home, kRefusedHost));
    QCOMPARE(frame.Control().Mode(), quarry::SearchMode::Live);
    quarry::testing::ModalAnswer<CSettingsDlg> cancel([](CSettingsDlg* dialog) {
      QVERIFY(dialog->LiveButton()->isChecked());
      QVERIFY(dialog->ProxyButton()->isChecked());
      QVERIFY(dialog->Proxy().startsWith(QStringLiteral("socks5://ann:pw@127.0.0.1:")));
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

    QStandardItem* bad = ItemNamed(frame.Tree(), QStringLiteral("bad"));
    QVERIFY(bad);
    frame.Tree()->SetCurrentItem(bad);
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
    frame.Tree()->SetCurrentItem(ItemNamed(frame.Tree(), QStringLiteral("broken")));
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
    QCOMPARE(ItemNamed(tree, pictureKeyword)->toolTip(), pictureKeyword);
    quarry::Task* pictures = frame.SelectedTask();
    QVERIFY(pictures);
    QCOMPARE(QString::fromStdString(quarry::FieldText(pictures->record.keyword)), pictureKeyword);
    QCOMPARE(info->Figures()->Value(0), pictureKeyword);
    QCOMPARE(info->Tabs()->Count(), 5);  // the figures, the failures and three threads' pages
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
    // The status bar tells the run's progress once files come, the figures page the same.
    auto* message = frame.findChild<QLabel*>(QStringLiteral("MessagePane"));
    auto* bar = frame.findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
    QTRY_VERIFY_WITH_TIMEOUT(message->text().startsWith(QStringLiteral("结果页 ")), 5000);
    QVERIFY2(message->text().contains(QStringLiteral("已保存")), qPrintable(message->text()));
    QVERIFY(bar->isVisible());
    QCOMPARE(info->Figures()->Value(InfoPage::kProgressRow), message->text());
    QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_progress")));
    QVERIFY(QFileInfo::exists(QString::fromStdString(grid->cell(0).path)));
    QVERIFY(info->Tabs()->ActivatePage(CInfoView::kFirstThreadPage));
    QVERIFY(
        quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_image_task_running")));
    frame.Command(quarry::kCmdStopTask)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(Children(tree, TaskRoot::Finished), QStringList{pictureKeyword},
                              20000);
    QCOMPARE(frame.SelectedTask(), pictures);
    QCOMPARE(message->text(), QStringLiteral("就绪"));
    QVERIFY(!bar->isVisible());
    QVERIFY(info->Figures()->Value(InfoPage::kProgressRow).startsWith(QStringLiteral("结果页 ")));

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
    const QString savedAs = FileList::PathOf(files->topLevelItem(0));
    QCOMPARE(files->topLevelItem(0)->text(FileList::kFileColumn), QFileInfo(savedAs).fileName());
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
    tree->SetCurrentItem(ItemNamed(tree, pictureKeyword));
    QTRY_VERIFY(!view->IsLoadingPage());  // the page is read on a pool thread
    const long long pictureCount = grid->total();
    QVERIFY(view->showsThumbnails() && pictureCount >= 12);
    QCOMPARE(grid->cellCount(), int(std::min(pictureCount, 30LL)));
    QCOMPARE(view->CanNextPage(), pictureCount > 30);
    QCOMPARE(frame.Command(quarry::kCmdNextPage)->isEnabled(), view->CanNextPage());
    tree->SetCurrentItem(ItemNamed(tree, QStringLiteral("年度报告")));
    QTRY_VERIFY(!view->IsLoadingPage());
    QCOMPARE(SavedFiles(files), liveFiles);  // the order may differ: threads race to record
    QVERIFY(!frame.Command(quarry::kCmdNextPage)->isEnabled());

    // Deleted, the task shown gives way to the one selected after it; a task added waits and
    // is selected; deleting all with a finished task shown leaves both panes blank.
    frame.Command(quarry::kCmdDeleteTask)->trigger();
    QCOMPARE(frame.SelectedTask(), pictures);
    QCOMPARE(info->Figures()->Value(0), pictureKeyword);
    QTRY_VERIFY(!view->IsLoadingPage());
    QVERIFY(view->showsThumbnails() && grid->total() == pictureCount);
    fill = FillAddTaskDialog(QStringLiteral("later"), false);
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    QCOMPARE(info->Figures()->Value(1), QStringLiteral("等待"));
    QVERIFY(info->Figures()->Value(InfoPage::kModeRow).isEmpty());  // it has not run
    tree->SetCurrentItem(ItemNamed(tree, pictureKeyword));
    QCOMPARE(info->Figures()->Value(0), pictureKeyword);
    quarry::testing::ModalAnswer<QMessageBox> yes(
        [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    frame.Command(quarry::kCmdDeleteAll)->trigger();
    QVERIFY(yes.answered());
    QVERIFY(!frame.SelectedTask());
    QVERIFY(frame.Control().UnfinishedTasks().empty() && frame.Control().FinishedTasks().empty());
    for (int row = 0; row < InfoPage::kRows; ++row)
      QCOMPARE(info->Figures()->Value(row), QString());
    QCOMPARE(info->Tabs()->Count(), 2);
    QVERIFY(view->showsThumbnails() && grid->cellCount() == 0);
    QVERIFY(!frame.Command(quarry::kCmdNextPage)->isEnabled());
    QVERIFY2(viewMessages->isEmpty(), qPrintable(viewMessages->join('\n')));
    QVERIFY(frame.close());
    service.terminate();
    service.waitForFinished();
  }

  // The default filters chosen in the settings reach sys/quarry.ini as quarry-cli reads them,
  // and a new task through the add-task dialog, which starts from them. A picture task whose
  // result page also lists a server error, a missing file and two addresses of one picture
  // then lists its failures by reason; "重试失败的文件" fetches the healed file; "导出记录..."
  // writes both kinds of records as JSON and CSV.
  void FiltersFailuresRetryAndExport() {
    QProcess service;
    service.start(
        QStringLiteral("python3"),
        {QStringLiteral(QUARRY_SEARCH_SERVICE), QStringLiteral("--port"), QStringLiteral("0"),
         QStringLiteral("--results"), QStringLiteral("9"), QStringLiteral("--no-next-links"),
         QStringLiteral("--extra"), QStringLiteral("/fault/503/x.jpg"), QStringLiteral("--extra"),
         QStringLiteral("/fault/404/x.jpg"), QStringLiteral("--extra"),
         QStringLiteral("/copy/1/a.jpg"), QStringLiteral("--extra"),
         QStringLiteral("/copy/1/b.jpg")});
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
    KeepViewMessages(frame);
    frame.resize(1100, 760);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const std::string profile = quarry::ProfilePath(frame.Home());

    // Settings: no bmp, the home's duplicates, and a largest size, refused below the least.
    quarry::FileRules defaults;
    defaults.maxBytes = 5'000'000;
    defaults.formats =
        quarry::kEveryPictureFormat & ~quarry::PictureFormatBit(quarry::PictureFormat::Bmp);
    defaults.homeDuplicates = true;
    quarry::testing::ModalAnswer<CSettingsDlg> settings([&](CSettingsDlg* dialog) {
      CFileRulesBox* rules = dialog->RulesBox();
      QCOMPARE(dialog->Rules(), quarry::FileRules{});
      QCOMPARE(rules->MaxBytesBox()->text(), QStringLiteral("不限"));
      rules->MaxBytesBox()->setValue(1000);
      {
        MessageBoxAnswer refused;
        dialog->accept();
        QVERIFY2(
            refused.text.startsWith(QStringLiteral("文件筛选无效：最大文件（1000 字节）不能小于")),
            qPrintable(refused.text));
      }
      QVERIFY(dialog->isVisible());
      rules->MaxBytesBox()->setValue(5'000'000);
      rules->FormatBox(3)->click();
      rules->HomeDuplicatesBox()->click();
      QVERIFY(dialog->height() <= kSmallScreen.height());
      QVERIFY(quarry::testing::SaveScreenshot(*dialog, QStringLiteral("settings_dialog_filters")));
      dialog->accept();
    });
    frame.Command(quarry::kCmdSettings)->trigger();
    QVERIFY(settings.answered());
    QCOMPARE(quarry::ReadDefaultRules(profile), defaults);
    std::string formats;
    QVERIFY(quarry::ReadSettingValue(profile, quarry::kFormatsKey, &formats));
    QCOMPARE(formats, std::string("jpg,png,gif,webp"));

    // The add-task dialog starts from them; a picture side set there is the task's alone.
    quarry::FileRules taskRules = defaults;
    taskRules.minWidth = 16;
    const QString keyword = QStringLiteral("失败 retry");
    auto fill = std::make_unique<DialogAnswer>([&](CAddTaskDlg* dialog) {
      QCOMPARE(dialog->Rules(), defaults);
      QVERIFY(!dialog->RulesBox()->isVisible());
      QVERIFY2(dialog->RulesToggle()->text().contains(QStringLiteral("只保留 jpg、png、gif、webp")),
               qPrintable(dialog->RulesToggle()->text()));
      QTest::mouseClick(dialog->RulesToggle(), Qt::LeftButton);
      QVERIFY(dialog->RulesBox()->isVisible());
      dialog->RulesBox()->MinWidthBox()->setValue(16);
      dialog->findChild<QPlainTextEdit*>(QStringLiteral("1000"))->setPlainText(keyword);
      dialog->findChild<QLineEdit*>(QStringLiteral("1012"))->setText(QStringLiteral("1"));
      QVERIFY(dialog->height() <= kSmallScreen.height());
      QVERIFY(quarry::testing::SaveScreenshot(*dialog, QStringLiteral("add_task_dialog_filters")));
      // Documents have no sides or formats.
      dialog->findChild<QRadioButton*>(QStringLiteral("1011"))->click();
      QVERIFY(!dialog->RulesBox()->MinWidthBox()->isEnabled());
      QVERIFY(dialog->RulesBox()->MinBytesBox()->isEnabled());
      dialog->findChild<QRadioButton*>(QStringLiteral("1008"))->click();
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
    });
    frame.Command(quarry::kCmdAddTask)->trigger();
    QVERIFY(fill->answered());
    quarry::Task* task = frame.SelectedTask();
    QVERIFY(task);
    QCOMPARE(task->rules, taskRules);
    QTRY_COMPARE_WITH_TIMEOUT(Children(frame.Tree(), TaskRoot::Finished), QStringList{keyword},
                              30000);

    // Results 0 to 8: 2 and 5 are bmp, 4 is empty, 8 is missing; then the extras.
    auto* info = frame.findChild<CInfoView*>(QStringLiteral("InfoView"));
    FailurePage* failures = info->Failures();
    using quarry::FailureReason;
    const std::map<FailureReason, int> expected = {{FailureReason::Filtered, 2},
                                                   {FailureReason::TooSmall, 1},
                                                   {FailureReason::NotFound, 2},
                                                   {FailureReason::ServerError, 1},
                                                   {FailureReason::Duplicate, 1}};
    for (int i = 0; i < quarry::kFailureReasonCount; ++i) {
      const auto reason = static_cast<FailureReason>(i);
      const auto found = expected.find(reason);
      QCOMPARE(failures->Count(reason), found == expected.end() ? 0 : found->second);
    }
    QCOMPARE(failures->Counts()->topLevelItemCount(), int(expected.size()));
    QCOMPARE(failures->Summary()->text(), QStringLiteral("共 7 个失败，其中 1 个可以重试"));
    QCOMPARE(failures->Model()->rowCount(), 7);
    QCOMPARE(frame.Control().Outcome(task).saved, 6);
    QVERIFY(info->Tabs()->ActivatePage(CInfoView::kFailurePage));
    ThumbnailList* grid =
        frame.findChild<CQuarryView*>(QStringLiteral("QuarryView"))->thumbnailList();
    QTRY_VERIFY(grid->cellCount() == 6 && grid->cell(5).picture == ThumbnailCell::Picture::Shown);
    QVERIFY(quarry::testing::SaveScreenshot(frame, QStringLiteral("main_frame_failure_page")));

    // The retry command: in the task menu, enabled for the finished task with a 5xx failure.
    QVERIFY(frame.Command(quarry::kCmdRetryFailed)->isEnabled());
    quarry::testing::ModalAnswer<QMenu> menu([&](QMenu* popup) {
      popup->setActiveAction(frame.Command(quarry::kCmdRetryFailed));
      QVERIFY(quarry::testing::SaveScreenshot(*popup, QStringLiteral("main_frame_retry_command")));
      popup->close();
    });
    emit frame.Tree()->customContextMenuRequested(
        frame.Tree()->visualRect(frame.Tree()->CurrentItem()->index()).center());
    QVERIFY(menu.answered());
    QCOMPARE(
        QProcess::execute(QStringLiteral("curl"),
                          {QStringLiteral("-sf"), QStringLiteral("--noproxy"), QStringLiteral("*"),
                           QStringLiteral("-o"), QStringLiteral("/dev/null"),
                           QString::fromStdString("http://" + host + "/heal")}),
        0);
    frame.Command(quarry::kCmdRetryFailed)->trigger();
    QVERIFY(!frame.Command(quarry::kCmdRetryFailed)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(frame.Control().RunningCount() == 0 && !task->runner, 30000);
    QCOMPARE(Children(frame.Tree(), TaskRoot::Finished), QStringList{keyword});
    QCOMPARE(frame.SelectedTask(), task);
    QCOMPARE(failures->Count(FailureReason::ServerError), 0);
    QCOMPARE(failures->Summary()->text(), QStringLiteral("共 6 个失败，其中 0 个可以重试"));
    QCOMPARE(frame.Control().Outcome(task).saved, 1);
    QVERIFY(frame.Control().Outcome(task).retry);
    QVERIFY(!frame.Command(quarry::kCmdRetryFailed)->isEnabled());

    // Export: the name's extension, else the filter chosen, gives the format.
    QString answer;
    QString chosenFilter;
    frame.SetSavePicker([&](QWidget*, const QString&, const QString& start, const QString& filters,
                            QString* filter) {
      [&] {
        QVERIFY2(start.endsWith(QStringLiteral("/DownData/失败 retry.csv")), qPrintable(start));
      }();
      const QStringList offered = filters.split(QStringLiteral(";;"));
      if (!chosenFilter.isEmpty()) *filter = offered[offered.indexOf(chosenFilter)];
      return answer;
    });
    answer = home.filePath(QStringLiteral("records"));
    chosenFilter = QStringLiteral("JSON 文件 (*.json)");
    frame.Command(quarry::kCmdExportRecords)->trigger();
    QFile json(answer + QStringLiteral(".json"));
    QVERIFY(json.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonObject records = QJsonDocument::fromJson(json.readAll(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(records.value(QStringLiteral("files")).toArray().size(), 7);
    QCOMPARE(records.value(QStringLiteral("failures")).toArray().size(), 6);
    answer = home.filePath(QStringLiteral("records.CSV"));
    frame.Command(quarry::kCmdExportRecords)->trigger();
    QFile csv(answer);
    QVERIFY(csv.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines =
        QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QString::fromLatin1(quarry::kExportCsvHeader));
    QCOMPARE(lines.size(), 1 + 7 + 6);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^failure,"))).size(), 6);
    // A folder that is not there: told, in Chinese.
    answer = home.filePath(QStringLiteral("missing/records.json"));
    MessageBoxAnswer told;
    frame.Command(quarry::kCmdExportRecords)->trigger();
    QVERIFY2(told.text.startsWith(QStringLiteral("无法写入文件")), qPrintable(told.text));
    QVERIFY(frame.close());
    service.terminate();
    service.waitForFinished();
  }
};

QTEST_MAIN(MainFrameTasksTest)
#include "main_frame_tasks_test.moc"
