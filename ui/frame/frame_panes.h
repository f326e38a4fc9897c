// The two panes of the main window's splitter as the frame sees them: the result browser above
// ("QuarryView", the engine's ResultView, which also pages through the saved files) and the
// task information below ("InfoView", the engine's InfoView). CreateFramePanes is the one place
// that knows their classes; the frame only wires what it returns.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <utility>

#include "engine/views.h"

namespace quarry {

// The four paging commands of the result browser.
enum class PageCommand { Next, Previous, First, Last };

// What the frame asks of the pane that pages: whether a paging command can run now, and to run
// it. The pane calls NotifyPagingChanged whenever those answers may have changed, so that the
// frame refreshes its menu and tool bar.
class PagingTarget {
public:
  virtual ~PagingTarget() = default;
  virtual bool CanPage(PageCommand command) = 0;
  virtual void Page(PageCommand command) = 0;
  void SetPagingChanged(std::function<void()> changed) { m_changed = std::move(changed); }

protected:
  void NotifyPagingChanged() {
    if (m_changed) m_changed();
  }

private:
  std::function<void()> m_changed;
};

struct FramePanes {
  QWidget* upper = nullptr;  // the result browser
  QWidget* lower = nullptr;  // the task information
  ResultView* result = nullptr;
  InfoView* info = nullptr;
  PagingTarget* paging = nullptr;  // null: the paging commands stay disabled
  // Empties both panes, as before the first selection; set by CreateFramePanes.
  std::function<void()> blank;
  // Shows how the selected task's run searches (empty: it has not run); set by CreateFramePanes.
  std::function<void(const QString&)> showMode;
  // Reads and shows the failures of the task folder given (ending with '/'); set by
  // CreateFramePanes.
  std::function<void(const std::string&)> showFailures;
  // Shows how far the selected task's run has come (empty: it has not run); set by
  // CreateFramePanes.
  std::function<void(const QString&)> showProgress;
  // Sets the line the result browser shows while it shows no task (empty: none).
  std::function<void(const QString&)> showHint;
};

// Makes both panes as children of `parent`; `home` is the program's home folder.
FramePanes CreateFramePanes(QWidget* parent, const std::string& home);

}  // namespace quarry
