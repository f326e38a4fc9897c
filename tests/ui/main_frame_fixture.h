// What the main window's tests share: task-control settings with short time limits, task
// files to start from, and readers and drivers of the window (its tree, its commands, the
// add-task dialog). The window itself is made by each test.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "engine/picture.h"
#include "engine/records_export.h"
#include "engine/settings_file.h"
#include "engine/task_files.h"
#include "tests/support/loopback.h"
#include "tests/support/quick_options.h"
#include "tests/ui/modal_answer.h"
#include "tests/ui/screenshot_gallery.h"
#include "ui/frame/add_task_dlg.h"
#include "ui/frame/command_table.h"
#include "ui/information/failure_page.h"
#include "ui/results/file_list.h"
#include "ui/frame/file_rules_box.h"
#include "ui/bars/gripper_bar.h"
#include "ui/information/info_page.h"
#include "ui/information/info_view.h"
#include "ui/frame/main_frame.h"
#include "ui/results/quarry_view.h"
#include "ui/bars/queue_tab_ctrl.h"
#include "ui/frame/settings_dlg.h"
#include "ui/information/sheet_tab_ctrl.h"
#include "ui/bars/task_tree_ctrl.h"
#include "ui/information/thread_log.h"
#include "ui/results/thumbnail_list.h"
#include "ui/frame/translation.h"

using quarry::TaskRoot;
using quarry::TaskState;

namespace quarry::testing {

inline constexpr char kRefusedHost[] = "127.0.0.1:1";
// The window a maximised Quarry gets on a 1366 x 768 screen, less a title bar and a panel.
inline constexpr QSize kSmallScreen{1366, 710};

// Task control settings for a test: short time limits, so that a stop ends a task quickly.
inline quarry::TaskControlOptions Options(const QTemporaryDir& home, const std::string& host) {
  return QuickOptions(home.path().toStdString() + "/", host);
}

inline std::unique_ptr<quarry::Task> MakeTask(const QTemporaryDir& home, const char* keyword,
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
inline void WriteTaskFiles(const QTemporaryDir& home) {
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
inline QStringList* KeepViewMessages(CMainFrame& frame) {
  auto* messages = new QStringList;
  auto* view = frame.findChild<CQuarryView*>(QStringLiteral("QuarryView"));
  QObject::connect(view, &QObject::destroyed, [messages] { delete messages; });
  view->SetMessageSink([messages](const QString& text) { *messages << text; });
  return messages;
}

// The texts under `root` as the window shows them: the task events told so far applied.
inline QStringList Children(CTaskTreeCtrl* tree, TaskRoot root) {
  if (auto* frame = qobject_cast<CMainFrame*>(tree->window())) frame->ApplyTaskEvents();
  QStringList texts;
  QStandardItem* item = tree->Root(root);
  for (int i = 0; i < item->rowCount(); ++i) texts << item->child(i)->text();
  return texts;
}

inline QStandardItem* ItemNamed(CTaskTreeCtrl* tree, const QString& text) {
  const QList<QStandardItem*> found =
      tree->Model()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

// Which of run, stop and delete (one task), of the three "all" commands and of re-run are
// enabled.
inline QString Enabled(CMainFrame& frame) {
  QString state;
  for (int id :
       {quarry::kCmdRunTask, quarry::kCmdStopTask, quarry::kCmdDeleteTask, quarry::kCmdRunAll,
        quarry::kCmdStopAll, quarry::kCmdDeleteAll, quarry::kCmdRerunTask}) {
    state += frame.Command(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
  }
  return state;
}

// The files a file list shows, sorted.
inline QStringList SavedFiles(const FileList* files) {
  QStringList paths;
  for (int row = 0; row < files->topLevelItemCount(); ++row)
    paths << FileList::PathOf(files->topLevelItem(row));
  paths.sort();
  return paths;
}

// The texts `window` shows (labels, buttons, titles, tabs, headers, menu and tool-bar entries,
// tool tips) that are English words only, each after the class of the widget showing it. Item
// texts are the user's data (keywords, file names) and are not looked at; nor are the picture
// formats' own names ("jpg", "webp"), which are no words of any language.
inline QStringList EnglishTexts(QWidget* window) {
  static const QRegularExpression english(QStringLiteral("^[A-Za-z]+( [A-Za-z]+)*$"));
  QStringList formatNames;
  for (auto format :
       {quarry::PictureFormat::Jpeg, quarry::PictureFormat::Png, quarry::PictureFormat::Gif,
        quarry::PictureFormat::Bmp, quarry::PictureFormat::Webp})
    formatNames << QString::fromLatin1(quarry::PictureFormatName(format));
  QStringList found;
  auto check = [&](const QObject* where, QString text) {
    text = text.remove(QLatin1Char('&')).trimmed();  // a mnemonic's mark
    if (english.match(text).hasMatch() && !formatNames.contains(text))
      found << QStringLiteral("%1: %2").arg(QLatin1String(where->metaObject()->className()), text);
  };
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* widget : widgets) {
    if (widget != window && !widget->isVisibleTo(window)) continue;
    if (widget->isWindow()) check(widget, widget->windowTitle());
    check(widget, widget->toolTip());
    if (auto* label = qobject_cast<QLabel*>(widget)) check(label, label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) check(button, button->text());
    if (auto* box = qobject_cast<QGroupBox*>(widget)) check(box, box->title());
    if (auto* line = qobject_cast<QLineEdit*>(widget)) check(line, line->placeholderText());
    if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
      for (int i = 0; i < tabs->count(); ++i) check(tabs, tabs->tabText(i));
    }
    if (auto* header = qobject_cast<QHeaderView*>(widget); header && header->model()) {
      for (int i = 0; i < header->count(); ++i)
        check(header, header->model()->headerData(i, header->orientation()).toString());
    }
    if (qobject_cast<QMenu*>(widget) || qobject_cast<QMenuBar*>(widget) ||
        qobject_cast<QToolBar*>(widget)) {
      for (QAction* action : widget->actions()) {
        check(widget, action->text());
        check(widget, action->toolTip());
        if (action->menu()) found += EnglishTexts(action->menu());
      }
    }
  }
  return found;
}

// Types `text` into `widget` a character at a time, Chinese included (QTest's key clicks
// take ASCII only).
inline void TypeText(QWidget* widget, const QString& text) {
  for (const QChar character : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
    QApplication::sendEvent(widget, &press);
  }
}

// Fills the add-task dialog once it opens and confirms it.
using DialogAnswer = quarry::testing::ModalAnswer<CAddTaskDlg>;
inline std::unique_ptr<DialogAnswer> FillAddTaskDialog(const QString& keyword, bool startAtOnce,
                                                       int kindButton = 0,
                                                       const QString& pages = QString()) {
  return std::make_unique<DialogAnswer>([=](CAddTaskDlg* dialog) {
    TypeText(dialog->findChild<QPlainTextEdit*>(QStringLiteral("1000")), keyword);
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

}  // namespace quarry::testing
