// CMainFrame. Every command runs inside a CommandScope, which, when the outermost command ends,
// applies the task events the command told and refreshes the enabling of all commands. The
// tree changes only then, after task control has returned: a removed task that was selected
// moves the selection to a neighbour, and that new selection reaches task control as a call
// of its own.
//
// What task control keeps as problems (a task that could not start, one that stopped for a
// full disk, a damaged task file) is shown in a message box once the command or the end of a
// task that caused it is over, and once the window is up for what start-up found.
#include "ui/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>

#include "engine/picture.h"
#include "engine/records_export.h"
#include "engine/settings_file.h"
#include "platform/home.h"
#include "ui/frame/about_dlg.h"
#include "ui/frame/add_task_dlg.h"
#include "ui/frame/command_table.h"
#include "ui/bars/gripper_bar.h"
#include "ui/frame/icons.h"
#include "ui/bars/queue_tab_ctrl.h"
#include "ui/frame/settings_dlg.h"
#include "ui/bars/task_tree_ctrl.h"

#ifndef QUARRY_README
#define QUARRY_README "README.md"
#endif
#ifndef QUARRY_INSTALLED_README
#define QUARRY_INSTALLED_README "../share/doc/quarry/README.md"
#endif

namespace quarry {

namespace {

constexpr QSize kToolBarIconSize{16, 15};

// The README the About box links to: the copy installed with the program when there is one (a
// copy in the build tree has none beside it), else the source tree's.
QString ReadmePath() {
  const std::string folder = ExecutableFolder();
  if (!folder.empty()) {
    const std::filesystem::path installed =
        std::filesystem::path(folder + QUARRY_INSTALLED_README).lexically_normal();
    std::error_code ignored;
    if (std::filesystem::is_regular_file(installed, ignored))
      return QString::fromStdString(installed.string());
  }
  return QStringLiteral(QUARRY_README);
}
constexpr QColor kSplitterBackground{20, 20, 20};
constexpr char kBarMenuStyle[] =
    "QMenuBar, QToolBar, QStatusBar { background: rgb(212, 212, 212); }"
    "QMenuBar::item { padding: 3px 8px; background: transparent; }"
    "QMenuBar::item:selected { background: rgb(160, 160, 160); }"
    "QToolBar { border: none; spacing: 2px; }";
constexpr char kPopupStyle[] =
    "QMenu { background: rgb(232, 232, 232); border: 1px solid rgb(120, 120, 120); }"
    "QMenu::item { padding: 4px 24px 4px 24px; }"
    "QMenu::item:selected { background: rgb(160, 160, 160); color: white; }"
    "QMenu::item:disabled { color: rgb(150, 150, 150); }"
    "QMenu::separator { height: 1px; background: rgb(170, 170, 170); margin: 3px 6px; }";
// The three lock-key indicators of the status bar, greyed: Qt cannot read those keys.
constexpr struct {
  int id;
  const char* text;
} kIndicators[] = {{59137, "大写"}, {59138, "数字"}, {59139, "滚动"}};
// The tool bar's name in the window's context menu; its object name keys the saved layout.
constexpr char kToolBarTitle[] = "标准";

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

PageCommand PageCommandOf(int id) {
  switch (id) {
    case kCmdPreviousPage: return PageCommand::Previous;
    case kCmdFirstPage: return PageCommand::First;
    case kCmdLastPage: return PageCommand::Last;
    default: return PageCommand::Next;
  }
}

bool IsPaging(int id) {
  return id == kCmdNextPage || id == kCmdPreviousPage || id == kCmdFirstPage || id == kCmdLastPage;
}

}  // namespace

std::string ProfilePath(const std::string& home) { return home + "sys/quarry.ini"; }

namespace {

// The default filters of new tasks into the profile, as ReadDefaultRules reads them back.
void WriteDefaultRules(QSettings& profile, const FileRules& rules) {
  const auto key = [](const char* name) {
    return QStringLiteral("%1/%2").arg(QLatin1String(kSettingsGroup), QLatin1String(name));
  };
  profile.setValue(key(kMinBytesKey), static_cast<qlonglong>(rules.minBytes));
  profile.setValue(key(kMaxBytesKey), static_cast<qlonglong>(rules.maxBytes));
  profile.setValue(key(kMinWidthKey), rules.minWidth);
  profile.setValue(key(kMinHeightKey), rules.minHeight);
  profile.setValue(
      key(kFormatsKey),
      rules.formats == 0 ? QString() : QString::fromStdString(PictureFormatsText(rules.formats)));
  profile.setValue(key(kNearDuplicatesKey), rules.nearDuplicates);
  profile.setValue(key(kHomeDuplicatesKey), rules.homeDuplicates);
}

}  // namespace

}  // namespace quarry

using quarry::CommandId;

// Hands the end of a task from the runner's monitor thread to the window's thread.
class CMainFrame::FinishedSink : public quarry::TaskFinishedSink {
public:
  explicit FinishedSink(CMainFrame* frame) : m_frame(frame) {}
  void PostTaskFinished(quarry::SearchTask* task) override {
    CMainFrame* frame = m_frame;
    QMetaObject::invokeMethod(
        frame, [frame, task] { frame->OnTaskFinished(task); }, Qt::QueuedConnection);
  }

private:
  CMainFrame* m_frame;
};

class CMainFrame::CommandScope {
public:
  explicit CommandScope(CMainFrame* frame) : m_frame(frame) { ++m_frame->m_commandDepth; }
  ~CommandScope() {
    if (--m_frame->m_commandDepth != 0) return;
    m_frame->ApplyTaskEvents();
    m_frame->UpdateCommands();
  }

private:
  CMainFrame* m_frame;
};

CMainFrame::CMainFrame(quarry::TaskControlOptions options, QWidget* parent)
    : QMainWindow(parent),
      m_home(options.home),
      m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      m_savePicker([](QWidget* owner, const QString& title, const QString& start,
                      const QString& filters, QString* filter) {
        return QFileDialog::getSaveFileName(owner, title, start, filters, filter);
      }) {
  setObjectName(QStringLiteral("MainFrame"));
  setWindowTitle(QString::fromLatin1(quarry::kFrameTitle));
  quarry::CreateHomeFolders(m_home, nullptr);  // a failure shows later, as unsaved task files
  m_profile = std::make_unique<QSettings>(QString::fromStdString(quarry::ProfilePath(m_home)),
                                          QSettings::IniFormat);
  options.mode = quarry::ReadSearchMode(quarry::ProfilePath(m_home));
  m_tree = std::make_unique<CTaskTreeCtrl>(nullptr, 129);
  m_events = std::make_unique<CTaskEventQueue>();
  m_events->SetConsumer([this](std::vector<quarry::TaskEvent>& batch) { OnTaskEvents(batch); });
  m_sink = std::make_unique<FinishedSink>(this);
  m_control = std::make_unique<quarry::TaskControl>(*m_events, *m_sink, std::move(options));

  CreateSplitter();
  CreateCommands();
  CreateStatusBar();
  CreateMenus();
  CreateToolBar();
  setDockNestingEnabled(false);
  CreateTaskBar();
  setWindowIcon(quarry::LoadIcon(QStringLiteral("quarry")));
  CreateTrayIcon();
  restoreState(m_profile->value(QLatin1String(quarry::kLayoutKey)).toByteArray());
  m_control->LoadTaskFiles();
  ApplyTaskEvents();
  UpdateCommands();
  // Told once the window is up (the event loop has started), not in the middle of building it.
  QTimer::singleShot(0, this, [this] { ShowProblems(); });
  // A running task's counters reach unfinished.tsk now and then, so a crash loses little.
  m_figureTimer = new QTimer(this);
  connect(m_figureTimer, &QTimer::timeout, this, [this] { m_control->SaveRunningFigures(); });
  m_figureTimer->start(quarry::kFigureSaveCheckMs);
}

CMainFrame::~CMainFrame() {
  // Task control goes before the tree, the views, the queue and the sink it uses; nothing the
  // tree reports while it goes may reach the frame.
  m_tree->disconnect(this);
  m_events->SetConsumer(nullptr);
  m_control.reset();
  delete m_tray;
  m_tray = nullptr;
}

QAction* CMainFrame::Command(int id) const {
  auto found = m_commands.find(id);
  return found == m_commands.end() ? nullptr : found->second;
}

quarry::Task* CMainFrame::SelectedTask() const { return m_tree->SelectedTask(); }

void CMainFrame::CreateSplitter() {
  m_splitter = new QSplitter(Qt::Vertical, this);
  m_splitter->setObjectName(QStringLiteral("Splitter"));
  m_splitter->setHandleWidth(quarry::kSplitterBar);
  m_splitter->setChildrenCollapsible(false);
  m_splitter->setAutoFillBackground(true);
  QPalette colours = m_splitter->palette();
  colours.setColor(QPalette::Window, quarry::kSplitterBackground);
  m_splitter->setPalette(colours);
  m_splitter->setStyleSheet(QStringLiteral("QSplitter#Splitter::handle { background: black; }"));
  m_panes = quarry::CreateFramePanes(m_splitter, m_home);
  m_splitter->addWidget(m_panes.upper);
  m_splitter->addWidget(m_panes.lower);
  // A taller or shorter window changes the result browser's height only.
  m_splitter->setStretchFactor(0, 1);
  m_splitter->setStretchFactor(1, 0);
  const QByteArray saved = m_profile->value(QLatin1String(quarry::kSplitterKey)).toByteArray();
  m_defaultSplitPending = !m_splitter->restoreState(saved);
  m_splitter->installEventFilter(this);
  setCentralWidget(m_splitter);
  m_control->SetViews(m_panes.info, m_panes.result);
  // The result view pages while task control shows a task: only the paging commands follow,
  // since asking task control from in there would wait for its own lock.
  if (m_panes.paging) m_panes.paging->SetPagingChanged([this] { UpdatePagingCommands(); });
}

void CMainFrame::CreateCommands() {
  for (const quarry::CommandEntry& entry : quarry::CommandTable()) {
    auto* action = new QAction(quarry::Text(entry.menuText), this);
    action->setObjectName(QString::number(entry.id));
    action->setStatusTip(quarry::Text(entry.prompt));
    if (*entry.toolTip) action->setToolTip(quarry::Text(entry.toolTip));
    if (*entry.icon) action->setIcon(quarry::LoadIcon(QString::fromLatin1(entry.icon)));
    action->setEnabled(false);
    const int id = entry.id;
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_commands[id] = action;
  }
  Command(quarry::kCmdToolBar)->setCheckable(true);
  Command(quarry::kCmdStatusBar)->setCheckable(true);
}

void CMainFrame::CreateMenus() {
  menuBar()->setObjectName(QStringLiteral("Menu Bar"));
  menuBar()->setStyleSheet(QString::fromLatin1(quarry::kBarMenuStyle));
  for (const quarry::MenuEntry& entry : quarry::MenuTable()) {
    QMenu* menu = menuBar()->addMenu(quarry::Text(entry.title));
    menu->setStyleSheet(QString::fromLatin1(quarry::kPopupStyle));
    menu->setToolTipsVisible(false);
    for (int id : entry.commands) {
      if (id == quarry::kSeparator) {
        menu->addSeparator();
      } else {
        menu->addAction(Command(id));
      }
    }
    if (!m_taskMenu) m_taskMenu = menu;
  }
}

void CMainFrame::CreateToolBar() {
  m_toolBar = addToolBar(quarry::Text(quarry::kToolBarTitle));
  m_toolBar->setObjectName(QStringLiteral("Standard"));
  m_toolBar->setIconSize(quarry::kToolBarIconSize);
  m_toolBar->setStyleSheet(QString::fromLatin1(quarry::kBarMenuStyle));
  for (int id : quarry::ToolBarTable()) {
    if (id == quarry::kSeparator) {
      m_toolBar->addSeparator();
    } else {
      m_toolBar->addAction(Command(id));
    }
  }
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("59393"));
  bar->setStyleSheet(QString::fromLatin1(quarry::kBarMenuStyle));
  // The message pane: a hovered command's prompt covers it while shown (a status tip is a
  // temporary message), and the idle text comes back after.
  m_message = new QLabel(quarry::Text(quarry::kIdleText), bar);
  m_message->setObjectName(QStringLiteral("MessagePane"));
  bar->addWidget(m_message, 1);
  m_progressBar = new QProgressBar(bar);
  m_progressBar->setObjectName(QStringLiteral("ProgressBar"));
  m_progressBar->setRange(0, 100);
  m_progressBar->setFixedWidth(quarry::kProgressBarWidth);
  m_progressBar->hide();
  bar->addWidget(m_progressBar);
  for (const auto& indicator : quarry::kIndicators) {
    auto* pane = new QLabel(quarry::Text(indicator.text), bar);
    pane->setObjectName(QString::number(indicator.id));
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane->setAlignment(Qt::AlignCenter);
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(pane->text()) + 12);
    pane->setEnabled(false);
    bar->addPermanentWidget(pane);
  }
}

void CMainFrame::CreateTaskBar() {
  m_taskBar = new CGripperBar(QStringLiteral("任务控制条"), this, quarry::kTaskBarSize, 123);
  m_tabs = new CQueueTabCtrl(quarry::kDefaultTabStyle, nullptr, 125);
  m_tabs->setGeometry(0, 0, 100, 100);
  m_tabs->AddPage(m_tree.get(), QStringLiteral(" 任务队列 "));
  m_tabs->Refresh();
  m_taskBar->SetChild(m_tabs);
  addDockWidget(Qt::LeftDockWidgetArea, m_taskBar);
  connect(m_tree.get(), &CTaskTreeCtrl::TaskSelected, this, &CMainFrame::OnTaskSelected);
  connect(m_tree.get(), &QWidget::customContextMenuRequested, this, &CMainFrame::OnTreeContextMenu);
}

void CMainFrame::CreateTrayIcon() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  m_tray = new QSystemTrayIcon(quarry::LoadIcon(QStringLiteral("quarry")), this);
  m_tray->setToolTip(QString::fromLatin1(quarry::kTrayTip));
  m_tray->show();
}

void CMainFrame::UpdateCommands() {
  if (!m_toolBar) return;  // still being built
  quarry::TaskControl& control = *m_control;
  quarry::Task* selected = SelectedTask();
  SetEnabled(quarry::kCmdAddTask, true);
  SetEnabled(quarry::kCmdRunTask, control.CanRunSelected(selected));
  SetEnabled(quarry::kCmdStopTask, control.CanStopSelected(selected));
  SetEnabled(quarry::kCmdDeleteTask, control.CanDeleteSelected(selected));
  SetEnabled(quarry::kCmdRerunTask, control.CanRerunSelected(selected));
  SetEnabled(quarry::kCmdOpenFolder, selected != nullptr);
  SetEnabled(quarry::kCmdRetryFailed, control.CanRetrySelected(selected));
  SetEnabled(quarry::kCmdExportRecords, selected != nullptr);
  SetEnabled(quarry::kCmdRunAll, control.CanRunAll());
  SetEnabled(quarry::kCmdStopAll, control.CanStopAll());
  SetEnabled(quarry::kCmdDeleteAll, control.CanDeleteAll());
  SetEnabled(quarry::kCmdExit, true);
  SetEnabled(quarry::kCmdToolBar, true);
  SetEnabled(quarry::kCmdStatusBar, true);
  SetEnabled(quarry::kCmdAbout, true);
  SetEnabled(quarry::kCmdSettings, true);
  Command(quarry::kCmdToolBar)->setChecked(!m_toolBar->isHidden());
  Command(quarry::kCmdStatusBar)->setChecked(!statusBar()->isHidden());
  UpdatePagingCommands();
  // Without a handler: the recent-file list stays empty, and these have no action.
  for (int id : {quarry::kCmdRecentFile, quarry::kCmdShutDownWhenDone, quarry::kCmdShowFloating,
                 quarry::kCmdHelp, quarry::kCmdDeleteAllButton}) {
    SetEnabled(id, false);
  }
  // A run that begins or ends goes through here too.
  ShowModeOfSelectedRun();
  if (m_panes.showHint) {
    const bool noTask = control.UnfinishedTasks().empty() && control.FinishedTasks().empty();
    m_panes.showHint(noTask ? quarry::Text(quarry::kStartHint) : QString());
  }
}

void CMainFrame::UpdatePagingCommands() {
  if (!m_toolBar) return;  // still being built
  for (int id : {quarry::kCmdNextPage, quarry::kCmdPreviousPage, quarry::kCmdFirstPage,
                 quarry::kCmdLastPage}) {
    SetEnabled(id, m_panes.paging && m_panes.paging->CanPage(quarry::PageCommandOf(id)));
  }
}

void CMainFrame::SetEnabled(int id, bool enabled) {
  if (QAction* action = Command(id)) action->setEnabled(enabled);
}

void CMainFrame::OnCommand(int id) {
  RunCommand(id);
  ShowProblems();
}

void CMainFrame::RunCommand(int id) {
  CommandScope scope(this);
  quarry::TaskControl& control = *m_control;
  switch (id) {
    case quarry::kCmdAddTask: AddTask(); break;
    case quarry::kCmdRunTask: KeepingSelection([&] { control.RunSelected(SelectedTask()); }); break;
    case quarry::kCmdStopTask: control.StopSelected(SelectedTask()); break;
    case quarry::kCmdDeleteTask: DeleteTask(); break;
    case quarry::kCmdRunAll: KeepingSelection([&] { control.RunAll(); }); break;
    case quarry::kCmdStopAll: control.StopAll(); break;
    case quarry::kCmdDeleteAll: DeleteAllTasks(); break;
    case quarry::kCmdRerunTask: RerunTask(); break;
    case quarry::kCmdOpenFolder: OpenTaskFolder(); break;
    case quarry::kCmdRetryFailed: RetryFailed(); break;
    case quarry::kCmdExportRecords: ExportRecords(); break;
    case quarry::kCmdExit: close(); break;
    case quarry::kCmdToolBar: m_toolBar->setVisible(m_toolBar->isHidden()); break;
    case quarry::kCmdStatusBar: statusBar()->setVisible(statusBar()->isHidden()); break;
    case quarry::kCmdAbout: ShowAbout(); break;
    case quarry::kCmdSettings: ShowSettings(); break;
    default:
      if (quarry::IsPaging(id) && m_panes.paging) m_panes.paging->Page(quarry::PageCommandOf(id));
      break;
  }
}

void CMainFrame::AddTask() {
  CAddTaskDlg dialog(m_home, this);
  std::vector<quarry::SearchTask> unfinished;
  for (const auto& task : m_control->UnfinishedTasks())
    unfinished.push_back(m_control->Snapshot(task.get()));
  dialog.SetUnfinishedTasks(std::move(unfinished));
  dialog.SetRules(quarry::ReadDefaultRules(quarry::ProfilePath(m_home)));
  if (dialog.exec() != QDialog::Accepted) return;
  // One task per keyword, in the order of the lines; only the first may start at once, the
  // others wait under "等待". The first is selected, so that its figures (and its pages, when
  // it runs) show at once.
  quarry::Task* first = nullptr;
  for (const quarry::NewTaskValues& values : dialog.TaskValues()) {
    auto task = std::make_unique<quarry::Task>();
    std::string error;
    if (!quarry::MakeSearchTask(values, std::time(nullptr), &task->record, &error)) {
      Warn(QString::fromStdString(error));
      break;
    }
    task->rules = dialog.Rules();
    quarry::Task* added = task.get();
    if (!m_control->AddTask(std::move(task), dialog.StartAtOnce() && first == nullptr)) break;
    if (first == nullptr) first = added;
  }
  if (first == nullptr) return;
  ApplyTaskEvents();
  if (QStandardItem* item = m_tree->ItemOf(first)) m_tree->SetCurrentItem(item);
}

void CMainFrame::DeleteTask() {
  if (!m_control->DeleteSelected(SelectedTask())) Warn(QStringLiteral("正在运行的任务不能删除！"));
  ApplyTaskEvents();
  BlankPanesIfShownTaskWent();
}

void CMainFrame::DeleteAllTasks() {
  const auto answer = QMessageBox::question(
      this, QString::fromLatin1(quarry::kAppTitle),
      QStringLiteral("确定要删除全部任务吗？\n正在运行的任务除外；已下载的文件仍留在磁盘上。"),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes) return;
  m_control->DeleteAll();
  ApplyTaskEvents();
  BlankPanesIfShownTaskWent();
}

void CMainFrame::RerunTask() {
  KeepingSelection([this] { m_control->RerunSelected(SelectedTask()); });
}

void CMainFrame::OpenTaskFolder() {
  quarry::Task* task = SelectedTask();
  if (!task) return;
  const QString folder = QString::fromStdString(quarry::FieldText(task->record.folder));
  // A task that never ran has no folder yet.
  if (!QFileInfo(folder).isDir()) {
    Warn(QStringLiteral("任务文件夹 %1 还不存在：任务运行后才会创建。").arg(folder));
    return;
  }
  if (!m_openUrl(QUrl::fromLocalFile(folder)))
    Warn(QStringLiteral("无法在文件管理器中打开文件夹 %1。").arg(folder));
}

void CMainFrame::RetryFailed() {
  KeepingSelection([this] { m_control->RetrySelected(SelectedTask()); });
}

void CMainFrame::ExportRecords() {
  quarry::Task* task = SelectedTask();
  if (!task) return;
  const std::string folder = quarry::FieldText(task->record.folder);
  const QString keyword = QString::fromStdString(quarry::FieldText(task->record.keyword));
  if (!QFileInfo::exists(QString::fromStdString(folder + quarry::kDatabaseFileName))) {
    Warn(QStringLiteral("任务“%1”还没有记录：任务运行后才会有。").arg(keyword));
    return;
  }
  const QString csv = QStringLiteral("CSV 文件 (*.csv)");
  const QString json = QStringLiteral("JSON 文件 (*.json)");
  // Offered beside the task folder rather than in it, among the files the task saved.
  const QString start =
      QFileInfo(QDir(QString::fromStdString(folder)).absolutePath()).absolutePath() +
      QLatin1Char('/') + keyword + QStringLiteral(".csv");
  QString filter = csv;
  QString path = m_savePicker(this, QStringLiteral("导出记录"), start,
                              csv + QStringLiteral(";;") + json, &filter);
  if (path.isEmpty()) return;
  // The name's extension decides; a name without one takes the filter's.
  const QString suffix = QFileInfo(path).suffix().toLower();
  quarry::ExportFormat format = quarry::ExportFormat::Csv;
  if (suffix == QLatin1String("json")) {
    format = quarry::ExportFormat::Json;
  } else if (suffix != QLatin1String("csv")) {
    format = filter == json ? quarry::ExportFormat::Json : quarry::ExportFormat::Csv;
    path += format == quarry::ExportFormat::Json ? QStringLiteral(".json") : QStringLiteral(".csv");
  }
  // Read whole before the file is opened, so that a database that cannot be read leaves a file
  // chosen to be replaced as it was.
  std::ostringstream records;
  std::string error;
  if (!quarry::ExportTaskRecords(folder, format, records, &error)) {
    Warn(QStringLiteral("无法读取任务“%1”的记录：%2").arg(keyword, QString::fromStdString(error)));
    return;
  }
  std::ofstream file(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
  file << records.str();
  file.close();
  if (file.fail())
    Warn(QStringLiteral("无法写入文件 %1：文件夹不存在、没有权限或磁盘已满。").arg(path));
}

void CMainFrame::ShowFailuresOfSelected() {
  quarry::Task* task = SelectedTask();
  if (task && m_panes.showFailures) m_panes.showFailures(quarry::FieldText(task->record.folder));
}

void CMainFrame::BlankPanesIfShownTaskWent() {
  // Deleting the selected item may have selected another task, which the panes show now.
  if (!m_shownTask) return;
  for (const quarry::TaskList* list :
       {&m_control->UnfinishedTasks(), &m_control->FinishedTasks()}) {
    for (const auto& task : *list) {
      if (task.get() == m_shownTask) return;
    }
  }
  m_shownTask = nullptr;
  if (m_panes.blank) m_panes.blank();
}

void CMainFrame::ShowAbout() {
  CAboutDlg about(quarry::ReadmePath(), m_home, this);
  about.exec();
}

void CMainFrame::ShowSettings() {
  CSettingsDlg settings(m_control->Mode(), this);
  const QString proxyKey = QStringLiteral("%1/%2").arg(QLatin1String(quarry::kSettingsGroup),
                                                       QLatin1String(quarry::kProxyKey));
  settings.SetProxy(m_profile->value(proxyKey).toString());
  settings.SetRules(quarry::ReadDefaultRules(quarry::ProfilePath(m_home)));
  if (settings.exec() != QDialog::Accepted) return;
  quarry::WriteDefaultRules(*m_profile, settings.Rules());
  const quarry::SearchMode mode = settings.Mode();
  m_control->SetSearchMode(mode);
  m_profile->setValue(QStringLiteral("%1/%2").arg(QLatin1String(quarry::kSettingsGroup),
                                                  QLatin1String(quarry::kSearchModeKey)),
                      QLatin1String(mode == quarry::SearchMode::Live ? quarry::kLiveModeValue
                                                                     : quarry::kClassicModeValue));
  // No key: the environment's proxy, as when the setting was never made.
  const QString proxy = settings.Proxy();
  quarry::ProxyChoice proxies;
  if (proxy.isEmpty()) {
    m_profile->remove(proxyKey);
    proxies = quarry::ProxyChoiceFromEnvironment(
        [](const char* name) -> const char* { return std::getenv(name); });
  } else {
    m_profile->setValue(proxyKey, proxy);
    proxies.fromEnvironment =
        !quarry::ParseProxyUrl(proxy.toStdString(), &proxies.setting, nullptr);
  }
  m_control->SetProxies(proxies);
  m_profile->sync();
  // The choice holds for this session either way; only keeping it for the next one failed.
  if (m_profile->status() != QSettings::NoError) {
    Warn(QStringLiteral("设置未能保存到 %1，下次启动时将恢复原来的设置。")
             .arg(m_profile->fileName()));
  }
}

void CMainFrame::ShowModeOfSelectedRun() {
  quarry::Task* task = SelectedTask();
  if (!task || !m_panes.showMode) return;
  const quarry::RunOutcome run = m_control->Outcome(task);
  QString mode;
  if (run.ran && run.mode == quarry::SearchMode::Classic) mode = QStringLiteral("经典模式");
  if (run.ran && run.mode == quarry::SearchMode::Live) {
    mode = QStringLiteral("实时模式（https）");
    if (run.refusedPages > 0) mode += QStringLiteral("，被拒绝的结果页：%1").arg(run.refusedPages);
  }
  if (run.ran && !run.fault.empty()) {
    // A run without result pages is told briefly; a proxy's failure may be why.
    mode += QStringLiteral("；上次运行失败：") + (run.nothingArrived
                                                      ? QStringLiteral("没有收到任何结果页")
                                                      : QString::fromStdString(run.fault));
    if (run.nothingArrived && !run.proxyProblem.empty())
      mode += QStringLiteral("（%1）").arg(QString::fromStdString(run.proxyProblem));
  }
  m_panes.showMode(mode);
}

void CMainFrame::OnTaskSelected(quarry::Task* task) {
  // A root is no task: the views stay as they are, only the commands follow the selection.
  if (task) {
    m_shownTask = task;
    m_control->SelectTask(task);
    ShowFailuresOfSelected();
    ShowProgress();
    if (m_tabs->ActivePage() != 0) m_tabs->SetActivePage(0);
  }
  if (m_commandDepth == 0) UpdateCommands();
}

void CMainFrame::ShowProgress() {
  const auto textOf = [this](const quarry::Task* task) {
    auto found = m_meters.find(task);
    if (found == m_meters.end()) return QString();
    if (found->second.Empty()) return QStringLiteral("正在开始任务...");
    return QString::fromStdString(
        quarry::ProgressSummary(found->second.Latest(), found->second.Rates()));
  };
  if (m_runningTask) {
    const quarry::ProgressMeter& meter = m_meters[m_runningTask];
    m_message->setText(textOf(m_runningTask));
    m_progressBar->setValue(meter.Empty() ? 0 : quarry::ProgressPercent(meter.Latest()));
    m_progressBar->show();
  } else {
    m_message->setText(quarry::Text(quarry::kIdleText));
    m_progressBar->hide();
  }
  if (m_panes.showProgress && SelectedTask()) m_panes.showProgress(textOf(SelectedTask()));
}

void CMainFrame::OnTreeContextMenu(const QPoint& at) {
  UpdateCommands();
  m_taskMenu->exec(m_tree->viewport()->mapToGlobal(at));
}

void CMainFrame::OnTaskFinished(quarry::SearchTask* record) {
  {
    CommandScope scope(this);
    KeepingSelection([&] { m_control->OnTaskFinished(record); });
  }
  // The failures of a task that ended are all written now.
  quarry::Task* selected = SelectedTask();
  if (selected && &selected->record == record) ShowFailuresOfSelected();
  ShowProblems();
}

void CMainFrame::KeepingSelection(const std::function<void()>& command) {
  command();
  ApplyTaskEvents();
}

void CMainFrame::ApplyTaskEvents() { m_events->Drain(); }

void CMainFrame::OnTaskEvents(std::vector<quarry::TaskEvent>& batch) {
  using Kind = quarry::TaskEvent::Kind;
  quarry::Task* selected = SelectedTask();
  bool listsChanged = false;
  bool selectedMoved = false;
  {
    // A moved item takes the selection with it; the neighbour the view picks for a moment
    // need not be followed there and back.
    const QSignalBlocker quiet(m_tree.get());
    for (const quarry::TaskEvent& event : batch) {
      switch (event.kind) {
        case Kind::Added:
          m_tree->AddTask(event.task, quarry::FieldText(event.record.keyword), event.root);
          break;
        case Kind::Moved: m_tree->MoveTask(event.task, event.root); break;
        case Kind::Removed:
          m_tree->RemoveTask(event.task);
          m_meters.erase(event.task);
          if (m_runningTask == event.task) m_runningTask = nullptr;
          break;
        case Kind::Progress:
          m_meters[event.task].Add(event.progress, event.at);
          m_runningTask = event.task;
          break;
        case Kind::State:
          if (event.state == quarry::TaskState::Running) {
            m_runningTask = event.task;
            m_meters[event.task].Clear();  // a new run counts from nothing
          } else if (m_runningTask == event.task) {
            m_runningTask = nullptr;
          }
          break;
        default: break;
      }
      listsChanged = listsChanged || event.kind == Kind::Added || event.kind == Kind::Moved ||
                     event.kind == Kind::Removed || event.kind == Kind::State;
      selectedMoved = selectedMoved || (event.kind == Kind::Moved && event.task == selected);
    }
  }
  ShowProgress();
  // The selected task went: its neighbour, now selected, is shown. One that moved is shown
  // anew: it may have started (its thread pages come) or ended.
  if (SelectedTask() != selected || (selected && selectedMoved)) {
    OnTaskSelected(SelectedTask());
  } else if (listsChanged && m_commandDepth == 0) {
    UpdateCommands();
  }
}

void CMainFrame::Warn(const QString& text) {
  QMessageBox::warning(this, QString::fromLatin1(quarry::kAppTitle), text);
}

void CMainFrame::ShowProblems() {
  if (m_shutDown) return;
  QStringList texts;
  for (const std::string& problem : m_control->TakeProblems()) {
    texts << QString::fromStdString(problem);
  }
  if (!texts.isEmpty()) Warn(texts.join(QStringLiteral("\n\n")));
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  // The splitter's first real size: known only once the window is laid out for its screen.
  if (watched == m_splitter && event->type() == QEvent::Resize && m_defaultSplitPending &&
      m_splitter->height() > 0) {
    m_defaultSplitPending = false;
    const int lower = m_panes.lower->sizeHint().height();
    m_splitter->setSizes({m_splitter->height() - m_splitter->handleWidth() - lower, lower});
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!m_shutDown) {
    m_shutDown = true;
    m_profile->setValue(QLatin1String(quarry::kLayoutKey), saveState());
    m_profile->setValue(QLatin1String(quarry::kSplitterKey), m_splitter->saveState());
    m_profile->sync();
    m_figureTimer->stop();
    // Stopping a task may wait seconds for its threads: the window goes first, not frozen.
    hide();
    if (m_tray) m_tray->hide();
    std::string error;
    if (!m_control->Shutdown(&error)) {
      QMessageBox::critical(
          this, QString::fromLatin1(quarry::kAppTitle),
          QStringLiteral("任务文件未能保存：\n%1").arg(QString::fromStdString(error)));
    }
  }
  event->accept();
}
