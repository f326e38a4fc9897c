// CInfoView: the lower pane of the main window. It shows the figures of the selected task on
// its first page ("任务信息"), the addresses that did not become files on the second ("失败列表",
// filled when the frame asks) and, while that task runs, one log page per worker thread after
// them, all in a SheetTabCtrl that fills the view.
//
// Worker threads call AppendLog and ShowTask while they hold their runner's view lock, so
// neither may wait for the user-interface thread. Both only put their work into a buffer under
// a short lock of the view's own and, for the first item of a batch, post one wake-up; the GUI
// thread then drains the buffer in one go a few tens of milliseconds later. Lines of one page
// stay in the order written; figures sent several times within a batch are drawn once, the
// latest. The buffer keeps at most 401 lines a page, as the page does, so a fast download
// cannot grow memory however busy the GUI thread is.
//
// ResetThreadPages and AddThreadPages start a new set of pages (a new generation): the lines
// still buffered for the old pages are dropped then, and a line for a page that does not exist
// is dropped when written, so nothing of one task ever shows on another task's pages. They and
// a ShowTask made on the GUI thread take effect at once; called from another thread they take
// effect at the next drain.
//
// Detach the view from every runner (TaskControl::Shutdown does) before destroying it.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "engine/views.h"

class FailurePage;
class InfoPage;
class SheetTabCtrl;
class ThreadLog;

class CInfoView : public QWidget, public quarry::InfoView {
  Q_OBJECT

public:
  static constexpr int kMaxThreadPages = 6;
  static constexpr int kBatchMs = 25;  // how long the first line of a batch waits for company
  static constexpr int kFailurePage = 1;      // the tab of the failure list
  static constexpr int kFirstThreadPage = 2;  // the tab of thread 1

  explicit CInfoView(QWidget* parent = nullptr);
  ~CInfoView() override;

  // InfoView. AppendLog and ShowTask may be called on any thread.
  void AppendLog(int thread, const std::string& text) override;
  void ShowTask(const quarry::SearchTask& task) override;
  void ResetThreadPages() override;
  void AddThreadPages(int count) override;

  // Shows no task, as before the first selection: the task shown was deleted (GUI thread).
  void Blank();

  // Applies everything buffered now (GUI thread).
  void Drain();

  // The height that shows every row of the figures page with the tabs under it.
  int FullHeight() const;
  // FullHeight high: the height the window gives the pane unless the user chose another.
  QSize sizeHint() const override;

  SheetTabCtrl* Tabs() const { return m_tabs; }
  InfoPage* Figures() const { return m_infoPage; }
  FailurePage* Failures() const { return m_failurePage; }
  // The log page of worker `thread`, or null while it has no page.
  ThreadLog* Log(int thread) const;
  // Lines waiting in the buffer, and lines put on pages since the view was made.
  std::size_t PendingLines();
  std::uint64_t LinesShown() const { return m_linesShown; }
  // Drains that found something to show.
  std::uint64_t Batches() const { return m_batches; }

private:
  // What the workers and task control asked for since the last drain.
  struct Pending {
    std::uint64_t generation = 0;  // bumped by every reset or new set of pages
    int pageCount = 0;             // thread pages of the current generation
    std::array<std::deque<QString>, kMaxThreadPages> lines;  // oldest first, each capped
    std::optional<quarry::SearchTask> figures;               // the latest only
    bool wakePosted = false;
  };

  void StartNewPages(int count);
  void Wake();
  // Shows what is buffered at once on the GUI thread; from another thread, wakes the batch
  // timer when `wake` says no wake is on its way yet.
  void DrainOrWake(bool wake);
  bool OnOwnThread() const;

  std::mutex m_lock;  // guards m_pending; held only to copy in or swap out
  Pending m_pending;

  // GUI thread only.
  SheetTabCtrl* m_tabs;
  InfoPage* m_infoPage;
  FailurePage* m_failurePage;
  std::array<ThreadLog*, kMaxThreadPages> m_logs{};
  std::uint64_t m_shownGeneration = 0;
  std::uint64_t m_linesShown = 0;
  std::uint64_t m_batches = 0;
  QTimer m_batchTimer;
};
