// The result browser; see quarry_view.h.
#include "ui/results/quarry_view.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "records/record_store.h"
#include "ui/results/file_list.h"
#include "ui/results/thumbnail_list.h"

using namespace quarry;

namespace {

const QString kDatabaseError = QStringLiteral("打开数据库出错!");
const QString kFileMissing = QStringLiteral("文件不存在：%1");
const QString kOpenFailed = QStringLiteral("无法打开文件：%1");
const QString kPageText = QStringLiteral("第 %1 / %2 页");
const QColor kPageLineBackground(228, 228, 228);
constexpr QMargins kPageLineMargins{8, 2, 8, 2};

// True only when the task's database certainly does not exist (neither it nor its folder is
// there); a database that cannot even be looked at counts as there, and unreadable.
bool DatabaseMissing(const std::string& folder) {
  std::error_code error;
  const auto path = std::filesystem::path(RecordStore::ConnectionString(folder));
  return std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
}

}  // namespace

CQuarryView::CQuarryView(QWidget* parent)
    : QWidget(parent),
      m_thumbnails(new ThumbnailList(this)),
      m_files(new FileList(this)),
      m_pageLabel(new QLabel(this)) {
  setObjectName(QStringLiteral("QuarryView"));
  m_pageLabel->setObjectName(QStringLiteral("PageLabel"));
  m_pageLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_pageLabel->setContentsMargins(kPageLineMargins);
  m_pageLabel->setAutoFillBackground(true);
  QPalette colours = m_pageLabel->palette();
  colours.setColor(QPalette::Window, kPageLineBackground);
  m_pageLabel->setPalette(colours);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_thumbnails, 1);
  layout->addWidget(m_files, 1);
  layout->addWidget(m_pageLabel);
  m_files->hide();
  m_pageLabel->hide();
  connect(this, &CQuarryView::pagingChanged, this, &CQuarryView::UpdatePageLabel);
  // ShowTask runs inside task control's lock: the message box and its event loop come after.
  m_showMessage = [this](const QString& text) {
    QMetaObject::invokeMethod(
        this, [this, text] { QMessageBox::warning(this, QStringLiteral("Quarry 1.0"), text); },
        Qt::QueuedConnection);
  };
  connect(m_files, &FileList::openRequested, this, &CQuarryView::OpenFile);
}

CQuarryView::~CQuarryView() = default;

void CQuarryView::ShowTask(FileKind kind, const std::string& folder) {
  {
    std::lock_guard<std::mutex> guard(m_savedLock);
    m_saved.clear();
  }
  m_heldLive.clear();
  m_hasTask = true;
  m_kind = kind;
  m_folder = folder;
  if (kind == FileKind::Image) {
    m_files->hide();
    m_files->Reset(kind);
    m_thumbnails->show();
    m_thumbnails->Reset();
  } else {
    m_thumbnails->hide();
    m_thumbnails->Reset();
    m_files->show();
    m_files->Reset(kind);
  }
  LoadPage(1);
}

void CQuarryView::Blank() {
  {
    std::lock_guard<std::mutex> guard(m_savedLock);
    m_saved.clear();
  }
  m_heldLive.clear();
  ++m_generation;  // a page on its way is for a task no longer shown
  m_loading = false;
  m_hasTask = false;
  m_kind = FileKind::Image;
  m_folder.clear();
  m_files->hide();
  m_files->Reset(FileKind::Word);
  m_thumbnails->show();
  m_thumbnails->Reset();
  emit pagingChanged();
}

void CQuarryView::OnRecordAdded(FileKind kind, const std::string& localPath, const std::string& url,
                                const std::string& title) {
  bool first;
  {
    std::lock_guard<std::mutex> guard(m_savedLock);
    first = m_saved.empty();
    m_saved.push_back(SavedRecord{kind, localPath, url, title});
  }
  if (first) QMetaObject::invokeMethod(this, &CQuarryView::DrainSavedRecords, Qt::QueuedConnection);
}

void CQuarryView::DrainSavedRecords() {
  std::vector<SavedRecord> saved;
  {
    std::lock_guard<std::mutex> guard(m_savedLock);
    saved.swap(m_saved);
  }
  if (!m_hasTask || saved.empty()) return;
  if (m_loading) {
    m_heldLive.insert(m_heldLive.end(), saved.begin(), saved.end());
    return;
  }
  for (const SavedRecord& record : saved) AddLive(record);
  emit pagingChanged();
}

void CQuarryView::AddLive(const SavedRecord& record) {
  // A record of the other face's kinds cannot belong to the task shown.
  if ((record.kind == FileKind::Image) != (m_kind == FileKind::Image)) return;
  if (m_kind == FileKind::Image)
    m_thumbnails->AddLiveRecord(record.path, record.url);
  else
    m_files->AddLiveRecord(record.path, record.url, record.title);
}

void CQuarryView::NextPage() {
  if (CanNextPage()) LoadPage(position().current + 1);
}

void CQuarryView::PreviousPage() {
  if (CanPreviousPage()) LoadPage(position().current - 1);
}

void CQuarryView::FirstPage() {
  if (CanFirstPage()) LoadPage(1);
}

void CQuarryView::LastPage() {
  if (CanLastPage()) LoadPage(position().count);
}

void CQuarryView::SetHint(const QString& hint) { m_thumbnails->SetHint(hint); }

void CQuarryView::UpdatePageLabel() {
  m_pageLabel->setVisible(m_hasTask);
  if (!m_hasTask) return;
  // An empty task still shows its one (empty) page.
  const PagePosition at = position();
  m_pageLabel->setText(kPageText.arg(std::max(at.current, 1)).arg(std::max(at.count, 1)));
}

PagePosition CQuarryView::position() const {
  return showsThumbnails() ? m_thumbnails->position() : m_files->position();
}

bool CQuarryView::showsThumbnails() const { return !m_hasTask || m_kind == FileKind::Image; }

void CQuarryView::LoadPage(int page) {
  const int generation = ++m_generation;
  auto snapshot = std::make_shared<RecordPageSnapshot>();
  if (!snapshot->Begin(m_folder)) {
    ShowLoadedPage(generation, false, RecordPage{});
    return;
  }
  m_loading = true;
  struct Loaded {
    bool ok = false;
    RecordPage read;
  };
  auto* watcher = new QFutureWatcher<Loaded>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
    const Loaded loaded = watcher->result();
    watcher->deleteLater();
    ShowLoadedPage(generation, loaded.ok, loaded.read);
  });
  watcher->setFuture(QtConcurrent::run([snapshot, page] {
    Loaded loaded;
    loaded.ok = snapshot->Read(page, loaded.read);
    return loaded;
  }));
}

void CQuarryView::ShowLoadedPage(int generation, bool ok, const RecordPage& read) {
  if (generation != m_generation) return;  // another page was asked for since
  m_loading = false;
  if (showsThumbnails()) {
    ok ? m_thumbnails->ShowPage(read) : m_thumbnails->ClearPage();
  } else {
    ok ? m_files->ShowPage(read) : m_files->ClearPage();
  }
  std::vector<SavedRecord> held;
  held.swap(m_heldLive);
  for (const SavedRecord& record : held) AddLive(record);
  emit pagingChanged();
  if (!ok && !DatabaseMissing(m_folder)) m_showMessage(kDatabaseError);
}

void CQuarryView::OpenFile(const QString& path) {
  if (!QFileInfo::exists(path)) {
    m_showMessage(kFileMissing.arg(path));
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) m_showMessage(kOpenFailed.arg(path));
}
