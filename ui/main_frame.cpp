#include "ui/main_frame.h"

#include "platform/home.h"

CMainFrame::CMainFrame(const std::string& home, QWidget* parent)
    : QMainWindow(parent), m_home(home) {
  setObjectName("MainFrame");
  setWindowTitle(QStringLiteral("Quarry"));
  resize(900, 640);
  quarry::CreateHomeFolders(m_home, nullptr);
}
