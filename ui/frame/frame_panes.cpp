// The panes of the splitter: the result browser above and the task information view below.
// The result browser announces changes of its page with a signal; a small adapter, owned by
// the browser, turns its paging into the frame's PagingTarget.
#include "ui/frame/frame_panes.h"

#include "ui/information/failure_page.h"
#include "ui/information/info_page.h"
#include "ui/information/info_view.h"
#include "ui/results/quarry_view.h"

namespace quarry {

namespace {

class ResultPaging : public QObject, public PagingTarget {
public:
  explicit ResultPaging(CQuarryView* view) : QObject(view), m_view(view) {
    connect(view, &CQuarryView::pagingChanged, this, [this] { NotifyPagingChanged(); });
  }
  bool CanPage(PageCommand command) override {
    switch (command) {
      case PageCommand::Next: return m_view->CanNextPage();
      case PageCommand::Previous: return m_view->CanPreviousPage();
      case PageCommand::First: return m_view->CanFirstPage();
      case PageCommand::Last: return m_view->CanLastPage();
    }
    return false;
  }
  void Page(PageCommand command) override {
    switch (command) {
      case PageCommand::Next: m_view->NextPage(); break;
      case PageCommand::Previous: m_view->PreviousPage(); break;
      case PageCommand::First: m_view->FirstPage(); break;
      case PageCommand::Last: m_view->LastPage(); break;
    }
  }

private:
  CQuarryView* m_view;
};

}  // namespace

FramePanes CreateFramePanes(QWidget* parent, const std::string&) {
  FramePanes panes;
  auto* result = new CQuarryView(parent);
  panes.upper = result;
  panes.result = result;
  panes.paging = new ResultPaging(result);
  auto* info = new CInfoView(parent);
  panes.lower = info;
  panes.info = info;
  panes.showMode = [info](const QString& mode) { info->Figures()->ShowMode(mode); };
  panes.showFailures = [info](const std::string& folder) { info->Failures()->ShowFolder(folder); };
  panes.showProgress = [info](const QString& text) { info->Figures()->ShowProgress(text); };
  panes.showHint = [result](const QString& hint) { result->SetHint(hint); };
  panes.blank = [result, info] {
    result->Blank();
    info->Blank();
  };
  return panes;
}

}  // namespace quarry
