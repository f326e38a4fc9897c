// CInfoView: see info_view.h.
#include "ui/information/info_view.h"

#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/information/failure_page.h"
#include "ui/information/info_page.h"
#include "ui/information/sheet_tab_ctrl.h"
#include "ui/information/thread_log.h"

namespace {

const char* const kInfoPageLabel = "任务信息";
const char* const kFailurePageLabel = "失败列表";
const char* const kThreadPageLabels[CInfoView::kMaxThreadPages] = {
    " 线程一 ", " 线程二 ", " 线程三 ", " 线程四 ", " 线程五 ", " 线程六 ",
};

}  // namespace

CInfoView::CInfoView(QWidget* parent)
    : QWidget(parent),
      m_tabs(new SheetTabCtrl(this)),
      m_infoPage(new InfoPage),
      m_failurePage(new FailurePage) {
  setObjectName(QStringLiteral("InfoView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_tabs);
  // With no task selected only the figures and the failures are there; thread pages come with a
  // running task's selection.
  m_tabs->AddPage(m_infoPage, QString::fromUtf8(kInfoPageLabel));
  m_tabs->AddPage(m_failurePage, QString::fromUtf8(kFailurePageLabel));
  m_batchTimer.setSingleShot(true);
  m_batchTimer.setInterval(kBatchMs);
  connect(&m_batchTimer, &QTimer::timeout, this, &CInfoView::Drain);
}

CInfoView::~CInfoView() = default;

bool CInfoView::OnOwnThread() const { return QThread::currentThread() == thread(); }

void CInfoView::AppendLog(int thread, const std::string& text) {
  if (thread < 1 || thread > kMaxThreadPages) return;
  QString line = QString::fromStdString(text);  // converted here, off the GUI thread
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (thread > m_pending.pageCount) return;  // no such page (any more): dropped
    std::deque<QString>& lines = m_pending.lines[static_cast<std::size_t>(thread - 1)];
    lines.push_back(std::move(line));
    if (lines.size() > static_cast<std::size_t>(kMaxLogLines)) lines.pop_front();
    wake = !m_pending.wakePosted;
    m_pending.wakePosted = true;
  }
  if (wake) Wake();
}

void CInfoView::ShowTask(const quarry::SearchTask& task) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending.figures = task;
    wake = !m_pending.wakePosted;
    m_pending.wakePosted = true;
  }
  DrainOrWake(wake);
}

void CInfoView::ResetThreadPages() { StartNewPages(0); }

void CInfoView::AddThreadPages(int count) { StartNewPages(std::clamp(count, 0, kMaxThreadPages)); }

void CInfoView::Blank() {
  StartNewPages(0);  // also drops figures still buffered
  m_infoPage->Clear();
  m_failurePage->Clear();
}

void CInfoView::StartNewPages(int count) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_pending.generation;
    m_pending.pageCount = count;
    for (auto& lines : m_pending.lines) lines.clear();
    if (count == 0) m_pending.figures.reset();  // they were the previous selection's
    wake = !m_pending.wakePosted;
    m_pending.wakePosted = true;
  }
  DrainOrWake(wake);
}

void CInfoView::DrainOrWake(bool wake) {
  if (OnOwnThread()) {
    Drain();
  } else if (wake) {
    Wake();
  }
}

void CInfoView::Wake() {
  auto start = [this] {
    if (!m_batchTimer.isActive()) m_batchTimer.start();
  };
  if (OnOwnThread()) {
    start();
  } else {
    QMetaObject::invokeMethod(this, start, Qt::QueuedConnection);
  }
}

void CInfoView::Drain() {
  Pending taken;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    taken.generation = m_pending.generation;
    taken.pageCount = m_pending.pageCount;
    taken.lines.swap(m_pending.lines);
    taken.figures.swap(m_pending.figures);
    m_pending.wakePosted = false;
  }
  const bool empty = taken.generation == m_shownGeneration && !taken.figures &&
                     std::all_of(taken.lines.begin(), taken.lines.end(),
                                 [](const std::deque<QString>& lines) { return lines.empty(); });
  if (empty) return;
  ++m_batches;
  if (taken.generation != m_shownGeneration) {
    // A new set of pages: the old ones go with their lines.
    // The new ones start empty; a thread page that was shown gives way to the figures.
    m_shownGeneration = taken.generation;
    const bool onThreadPage = m_tabs->ActiveIndex() >= kFirstThreadPage;
    for (int index = m_tabs->Count() - 1; index >= kFirstThreadPage; --index)
      m_tabs->RemovePage(index);
    if (onThreadPage) m_tabs->ActivatePage(0);
    m_logs.fill(nullptr);
    for (int thread = 1; thread <= taken.pageCount; ++thread) {
      auto* log = new ThreadLog(thread);
      m_logs[static_cast<std::size_t>(thread - 1)] = log;
      m_tabs->AddPage(log, QString::fromUtf8(kThreadPageLabels[thread - 1]));
    }
  }
  for (std::size_t i = 0; i < m_logs.size(); ++i) {
    if (m_logs[i] != nullptr && !taken.lines[i].empty())
      m_linesShown += static_cast<std::uint64_t>(m_logs[i]->AddLines(std::move(taken.lines[i])));
  }
  if (taken.figures) m_infoPage->ShowTask(*taken.figures);
}

int CInfoView::FullHeight() const { return m_tabs->Metrics().barHeight + m_infoPage->FullHeight(); }

QSize CInfoView::sizeHint() const { return QSize(QWidget::sizeHint().width(), FullHeight()); }

ThreadLog* CInfoView::Log(int thread) const {
  if (thread < 1 || thread > kMaxThreadPages) return nullptr;
  return m_logs[static_cast<std::size_t>(thread - 1)];
}

std::size_t CInfoView::PendingLines() {
  std::lock_guard<std::mutex> guard(m_lock);
  std::size_t count = 0;
  for (const auto& lines : m_pending.lines) count += lines.size();
  return count;
}
