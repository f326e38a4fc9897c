// The file list of the result browser; see file_list.h.
#include "ui/results/file_list.h"

#include <QFile>
#include <QHeaderView>
#include <QIcon>

#include "records/record_store.h"

// Resources must be registered from the global namespace; the library is static, so the
// resource data is only linked in through this call.
static void InitResultViewResources() { Q_INIT_RESOURCE(result_view); }

using namespace quarry;

namespace {

const QColor kRowText(0, 100, 150);
const QColor kRowBackground(200, 200, 200);
constexpr QSize kKindIconSize{20, 20};
constexpr int kColumnWidths[FileList::kColumnCount] = {50, 50, 300, 160, 480};
const char* const kColumnTitles[FileList::kColumnCount] = {" ", "序号", "标题", "文件名",
                                                           "原始网址"};
// The icons of the document kinds, in the order of their FileKind codes 1 to 4.
const char* const kKindIcons[] = {":/results/word.png", ":/results/slides.png", ":/results/pdf.png",
                                  ":/results/excel.png"};
const char* const kHeaderStyle =
    "QHeaderView::section { background-color: rgb(228, 228, 228); color: black; border: none;"
    " border-right: 1px solid rgb(176, 176, 176); border-bottom: 1px solid rgb(176, 176, 176);"
    " padding: 3px 4px; }";

QIcon KindIcon(FileKind kind) {
  const int code = static_cast<int>(kind);
  if (code < 1 || code > 4) return QIcon();
  return QIcon(QString::fromLatin1(kKindIcons[code - 1]));
}

}  // namespace

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
  InitResultViewResources();
  setObjectName(QStringLiteral("IDC_FILE_LIST"));
  setColumnCount(kColumnCount);
  QStringList titles;
  for (const char* title : kColumnTitles) titles << QString::fromUtf8(title);
  setHeaderLabels(titles);
  header()->setStretchLastSection(false);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  header()->setStyleSheet(QString::fromLatin1(kHeaderStyle));
  for (int column = 0; column < kColumnCount; ++column)
    setColumnWidth(column, kColumnWidths[column]);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setIconSize(kKindIconSize);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setFrameShape(QFrame::NoFrame);
  setTextElideMode(Qt::ElideMiddle);  // long names and addresses keep both ends

  // The selection stays visible when the list loses the focus.
  QPalette colours = palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
  setPalette(colours);

  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { emit openRequested(PathOf(item)); });
}

void FileList::Reset(FileKind kind) {
  clear();
  m_kind = kind;
  m_total = 0;
  m_position = PagePosition{1, 0};
}

void FileList::ShowPage(const RecordPage& read) {
  clear();
  m_total = read.count;
  m_position = PagePosition{read.page, read.pageCount};
  for (const Record& record : read.records) AddRow(record.fileName, record.url, record.title);
}

void FileList::AddLiveRecord(const std::string& path, const std::string& url,
                             const std::string& title) {
  // Counting the live records lets the next page be reached once this one is full.
  ++m_total;
  m_position.count = PageCountFor(m_total);
  if (m_position.current == 0) m_position.current = 1;
  if (topLevelItemCount() < kRecordsPerPage) AddRow(path, url, title);
}

QString FileList::PathOf(const QTreeWidgetItem* row) {
  return row ? row->data(kFileColumn, Qt::UserRole).toString() : QString();
}

void FileList::AddRow(const std::string& path, const std::string& url, const std::string& title) {
  const long long number =
      static_cast<long long>(m_position.current - 1) * kRecordsPerPage + topLevelItemCount() + 1;
  auto* item = new QTreeWidgetItem;
  item->setIcon(kIconColumn, KindIcon(m_kind));
  item->setText(kNumberColumn, QString::number(number));
  item->setText(kTitleColumn, QString::fromStdString(title));
  const QString whole = QFile::decodeName(QByteArray::fromStdString(path));
  item->setText(kFileColumn, QFile::decodeName(QByteArray::fromStdString(FileNamePart(path))));
  item->setToolTip(kFileColumn, whole);
  item->setData(kFileColumn, Qt::UserRole, whole);
  item->setText(kUrlColumn, QString::fromStdString(url));
  for (int column = 0; column < kColumnCount; ++column) {
    item->setForeground(column, kRowText);
    item->setBackground(column, kRowBackground);
  }
  addTopLevelItem(item);
}
