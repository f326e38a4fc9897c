// quarry: the desktop program. Start-up runs in this order: the application, its profile names
// and Qt's Chinese texts, the options and search hosts, the home folder (created and locked
// against a second copy), then the main window, which reads its profile, builds its splitter
// and bars and loads the task files, shown maximised.
//
// SIGTERM, SIGINT and SIGHUP close the window as the exit command does, so the layout and the
// task files are written by the normal shut-down. The handler only writes a byte to a pipe; a
// socket notifier on the pipe's other end closes the window on the user-interface thread. A
// signal ignored when the program started (nohup, a background job) stays ignored.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/common_options.h"
#include "harvest/search_pages.h"
#include "platform/home.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/translation.h"

namespace {

// Shown on the terminal and, where there is a screen, in a message box.
void ShowStartError(const std::string& message) {
  std::fprintf(stderr, "quarry: %s\n", message.c_str());
  if (QGuiApplication::platformName() != QLatin1String("offscreen"))
    QMessageBox::critical(nullptr, QStringLiteral("Quarry"), QString::fromStdString(message));
}

constexpr double kRestoredShare = 0.75;  // of the screen's width and height

constexpr int kCloseSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kMostNestedWindows = 8;  // a window that will not close cannot hold the loop
int g_signalPipe[2] = {-1, -1};

void OnCloseSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(g_signalPipe[1], &byte, 1);  // full pipe: one is there
  errno = saved;
}

// Makes the three signals close `frame`. False when the pipe cannot be made: they then end the
// program as they would without this.
bool CloseOnSignals(QMainWindow& frame) {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &frame);
  QObject::connect(notifier, &QSocketNotifier::activated, &frame, [&frame] {
    char bytes[16];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    // A menu, dialog or message box open now runs an event loop of its own: it is cancelled
    // first, so that the command that opened it ends before the window closes.
    for (int open = 0; open < kMostNestedWindows; ++open) {
      QWidget* window = QApplication::activePopupWidget();
      if (!window) window = QApplication::activeModalWidget();
      if (!window || window == &frame || !window->close()) break;
    }
    QTimer::singleShot(0, &frame, [&frame] { frame.close(); });
  });
  for (int number : kCloseSignals) {
    struct sigaction current {};
    if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before the application connects to a screen, so that it works on any terminal.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quarry %s\n", QUARRY_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));
  QApplication::setApplicationName(QStringLiteral("Quarry 1.0"));
  if (!quarry::InstallChineseTranslation(app))
    std::fprintf(stderr,
                 "quarry: Qt's Chinese translation is not installed (qt6-translations-l10n)\n");

  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toStdString());
  quarry::CommonOptions options;
  std::string error;
  if (!quarry::TakeCommonOptions(args, &options, &error)) {
    ShowStartError(error);
    return 2;
  }
  quarry::TaskControlOptions control;
  if (!quarry::MakeSearchHosts(options.webHost, options.imageHost, &control.hosts, &error)) {
    ShowStartError(error);
    return 2;
  }
  const std::string home = quarry::ResolveHome(options.home, quarry::ExecutableFolder());
  // The window's words for a home it cannot take are Chinese, as all of its texts.
  quarry::HomeProblem problem;
  if (!quarry::CreateHomeFolders(home, &error, &problem)) {
    ShowStartError(quarry::HomeProblemText(problem, true));
    return 1;
  }
  std::unique_ptr<quarry::HomeLock> lock = quarry::HomeLock::Acquire(home, &error, &problem);
  if (!lock) {
    ShowStartError(quarry::HomeProblemText(problem, true));
    return 1;
  }

  control.home = home;
  std::vector<std::string> notes;  // a proxy variable that does not read: told, not fatal
  control.proxies = quarry::ProxiesOf(options, quarry::ProfilePath(home), &notes);
  for (const std::string& note : notes) std::fprintf(stderr, "quarry: %s\n", note.c_str());
  CMainFrame frame(std::move(control));
  if (!CloseOnSignals(frame)) std::perror("quarry: signals end the program without saving");
  // The size it has when not maximised: restored by the user, or on a desktop that does not
  // maximise it.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    frame.resize(area.size() * kRestoredShare);
    frame.move(area.center() - frame.rect().center());
  }
  frame.showMaximized();
  return app.exec();
}
