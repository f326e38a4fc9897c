// CMainFrame: Quarry's main window. It owns task control and gives it its front end: the menu
// bar and tool bar of the command table, the task-queue bar on the left with the task tree, the
// split client area (result browser above, task information below), the status bar, the
// notification-area icon and the About box. It builds itself in the order the program starts
// up in: the home's folders and profile, the splitter, the bars, the layout saved last time
// (the bars and the panes' heights), and the tasks read from the task files. Closing it shuts task
// control down, which writes both task files.
#pragma once

#include <QMainWindow>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/task_control.h"
#include "ui/frame/frame_panes.h"
#include "ui/bars/task_event_queue.h"

class CGripperBar;
class CTaskEventQueue;
class CQueueTabCtrl;
class CTaskTreeCtrl;
class QLabel;
class QProgressBar;
class QMenu;
class QSettings;
class QSplitter;
class QSystemTrayIcon;
class QTimer;
class QToolBar;

namespace quarry {

inline constexpr char kFrameTitle[] = "Quarrymaster - Quarry 1.0";
inline constexpr char kAppTitle[] = "Quarry 1.0";
inline constexpr char kIdleText[] = "就绪";
inline constexpr char kTrayTip[] = "Rivulet";
inline constexpr char kLayoutKey[] = "CommandBars/State";
inline constexpr char kSplitterKey[] = "CommandBars/Splitter";  // the panes' heights
inline constexpr QSize kTaskBarSize{230, 260};
inline constexpr int kSplitterBar = 4;
inline constexpr char kStartHint[] = "使用「添加新任务」开始";
inline constexpr int kFigureSaveCheckMs = 500;  // how often task control may save figures
inline constexpr int kProgressBarWidth = 160;

// <home>sys/quarry.ini: the window's profile.
std::string ProfilePath(const std::string& home);

}  // namespace quarry

class CMainFrame : public QMainWindow {
  Q_OBJECT

public:
  // Opens a folder in the desktop's file manager; false when it could not.
  using UrlOpener = std::function<bool(const QUrl& url)>;
  // Asks for the file to save into: returns its path (empty when the user cancelled) and the
  // filter chosen in `filter`.
  using SavePicker =
      std::function<QString(QWidget* parent, const QString& title, const QString& start,
                            const QString& filters, QString* filter)>;

  // The window for the home folder and search hosts of `options`: creates sys/ and DownData/,
  // builds itself and loads the task files into the tree. It is not shown yet.
  explicit CMainFrame(quarry::TaskControlOptions options, QWidget* parent = nullptr);
  ~CMainFrame() override;

  const std::string& Home() const { return m_home; }
  quarry::TaskControl& Control() { return *m_control; }
  CTaskTreeCtrl* Tree() const { return m_tree.get(); }
  // Applies the task events told so far (tests call it instead of waiting for the event loop).
  void ApplyTaskEvents();
  CGripperBar* TaskBar() const { return m_taskBar; }
  CQueueTabCtrl* TabCtrl() const { return m_tabs; }
  QSplitter* Splitter() const { return m_splitter; }
  QToolBar* ToolBar() const { return m_toolBar; }
  // The command with `id`; null for an ID not in the command table.
  QAction* Command(int id) const;
  // The "任务管理(&T)" popup, which is also the tree's context menu.
  QMenu* TaskMenu() const { return m_taskMenu; }
  // The notification-area icon; null where the desktop has no tray.
  QSystemTrayIcon* TrayIcon() const { return m_tray; }
  // The task of the tree's selected item; null for a root or no selection.
  quarry::Task* SelectedTask() const;

  // Enables each command by its rule, from the task states and the result browser.
  void UpdateCommands();
  // Replaces QDesktopServices::openUrl for "打开所在文件夹" (tests launch nothing).
  void SetUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
  // Replaces the save dialog of "导出记录..." (tests).
  void SetSavePicker(SavePicker picker) { m_savePicker = std::move(picker); }

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  class FinishedSink;
  class CommandScope;

  void CreateSplitter();
  void CreateCommands();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateTaskBar();
  void CreateTrayIcon();

  void OnCommand(int id);
  void RunCommand(int id);
  void AddTask();
  void DeleteTask();
  // Asks first; the answer 否 deletes nothing.
  void DeleteAllTasks();
  void RerunTask();
  void OpenTaskFolder();
  // Runs the selected task again over its failures worth another try.
  void RetryFailed();
  // Writes the selected task's files and failures to a CSV or JSON file the user names.
  void ExportRecords();
  // The failure page: the failures of the selected task, read from its database now.
  void ShowFailuresOfSelected();
  // After a delete: when the task the panes show is gone, they show nothing.
  void BlankPanesIfShownTaskWent();
  void ShowAbout();
  // The settings dialog: the search mode of the tasks started from now on, kept in the profile.
  void ShowSettings();
  // The information view's mode row: how the selected task's current or latest run searches.
  void ShowModeOfSelectedRun();
  void OnTaskSelected(quarry::Task* task);
  void OnTreeContextMenu(const QPoint& at);
  void OnTaskFinished(quarry::SearchTask* record);
  // A batch of task events: the tree follows them, and the panes follow the selection when it
  // moved because its task went.
  void OnTaskEvents(std::vector<quarry::TaskEvent>& batch);
  // Runs `command`, which moves tasks between the roots but frees none, and applies what it
  // told: the tree keeps the selected task selected at its new place.
  void KeepingSelection(const std::function<void()>& command);
  void Warn(const QString& text);
  // Shows in one message box what task control has to tell: a task that could not start or
  // stopped by itself, a task file found damaged at start-up.
  void ShowProblems();
  void SetEnabled(int id, bool enabled);
  void UpdatePagingCommands();
  // The running task's progress in the status bar, and the selected task's on the figures
  // page; the status bar says "就绪" again once no task runs.
  void ShowProgress();

  std::string m_home;
  std::unique_ptr<QSettings> m_profile;
  // The tree is a page of the tab control, which does not own it; task control tells the event
  // queue and the sink, so it is declared after them and goes first.
  std::unique_ptr<CTaskTreeCtrl> m_tree;
  std::unique_ptr<CTaskEventQueue> m_events;
  std::unique_ptr<FinishedSink> m_sink;
  std::unique_ptr<quarry::TaskControl> m_control;
  quarry::FramePanes m_panes;
  QSplitter* m_splitter = nullptr;
  QToolBar* m_toolBar = nullptr;
  QMenu* m_taskMenu = nullptr;
  CGripperBar* m_taskBar = nullptr;
  CQueueTabCtrl* m_tabs = nullptr;
  QSystemTrayIcon* m_tray = nullptr;
  QTimer* m_figureTimer = nullptr;
  UrlOpener m_openUrl;
  SavePicker m_savePicker;
  // No height saved for the panes: the information pane gets the height that shows all its
  // rows once the splitter has its first size.
  bool m_defaultSplitPending = false;
  std::map<int, QAction*> m_commands;
  QLabel* m_message = nullptr;            // the status bar's message pane
  QProgressBar* m_progressBar = nullptr;  // beside it while a task runs
  // The progress told of each task this session, as timed samples; tasks are only compared.
  std::map<const quarry::Task*, quarry::ProgressMeter> m_meters;
  const quarry::Task* m_runningTask = nullptr;  // the task whose progress the status bar tells
  // The task the panes show: the last task selected. Only compared, never followed: it may
  // have been deleted.
  const quarry::Task* m_shownTask = nullptr;
  int m_commandDepth = 0;  // commands in progress; the selection waits for them to update
  bool m_shutDown = false;
};
