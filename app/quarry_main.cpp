// quarry: the desktop program. Start-up runs in this order: the application and its profile
// names, the options and search hosts, the home folder (created and locked against a second
// copy), then the main window, which reads its profile, builds its splitter and bars and loads
// the task files, shown maximised.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/common_options.h"
#include "engine/search_hosts.h"
#include "platform/home.h"
#include "ui/main_frame.h"

namespace {

// Shown on the terminal and, where there is a screen, in a message box.
void ShowStartError(const std::string& message) {
  std::fprintf(stderr, "quarry: %s\n", message.c_str());
  if (QGuiApplication::platformName() != QLatin1String("offscreen"))
    QMessageBox::critical(nullptr, QStringLiteral("Quarry"), QString::fromStdString(message));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));
  QApplication::setApplicationName(QStringLiteral("Quarry 1.0"));

  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toStdString());
  quarry::CommonOptions options;
  std::string error;
  if (!quarry::TakeCommonOptions(args, &options, &error)) {
    ShowStartError(error);
    return 2;
  }
  if (!quarry::ConfigureSearchHosts(options.webHost, options.imageHost, &error)) {
    ShowStartError(error);
    return 2;
  }
  const std::string home = quarry::ResolveHome(options.home, quarry::ExecutableFolder());
  if (!quarry::CreateHomeFolders(home, &error)) {
    ShowStartError(error);
    return 1;
  }
  std::unique_ptr<quarry::HomeLock> lock = quarry::HomeLock::Acquire(home, &error);
  if (!lock) {
    ShowStartError(error);
    return 1;
  }

  quarry::TaskControlOptions control;
  control.home = home;
  control.hosts = quarry::ProgramSearchHosts();
  CMainFrame frame(std::move(control));
  frame.showMaximized();
  return app.exec();
}
