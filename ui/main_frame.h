// CMainFrame: Quarry's main window. Constructing it creates sys/ and DownData/ in the home
// folder, so the task files can always be written there.
#pragma once

#include <QMainWindow>
#include <string>

class CMainFrame : public QMainWindow {
  Q_OBJECT

public:
  explicit CMainFrame(const std::string& home, QWidget* parent = nullptr);

  const std::string& Home() const { return m_home; }

private:
  std::string m_home;
};
