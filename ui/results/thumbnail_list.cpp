// The thumbnail grid; see thumbnail_list.h.
#include "ui/results/thumbnail_list.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include "records/record_store.h"
#include "ui/results/label_wnd.h"
#include "ui/results/thumbnail_decoder.h"

using namespace quarry;

namespace {

const QColor kGridBackground(255, 255, 255);
const QColor kSelectedFrame(0, 0, 200);
const QColor kCellFrame(200, 200, 200);
const QColor kNameColour(0, 100, 150);
const QColor kHintColour(120, 120, 120);
constexpr int kHintFontPixels = 16;
constexpr int kSelectedFrameWidth = 2;
constexpr int kNameFontPixels = 11;  // keeps a name under a tall picture inside the frame
constexpr int kScrollStep = kCellSize / 4;
constexpr std::size_t kShortestDrawnText = 3;  // cells with a text this short are not drawn

QString LocalPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

ThumbnailList::ThumbnailList(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_label(new CLabelWnd(viewport())),
      m_decoder(new ThumbnailDecoder(this)) {
  setObjectName(QStringLiteral("3001"));
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setAutoFillBackground(false);
  QFont nameFont = font();
  nameFont.setPixelSize(kNameFontPixels);
  setFont(nameFont);
  horizontalScrollBar()->setSingleStep(kScrollStep);
  verticalScrollBar()->setSingleStep(kScrollStep);
  connect(m_decoder, &ThumbnailDecoder::decoded, this, &ThumbnailList::OnDecoded,
          Qt::QueuedConnection);
  UpdateColumns();
  UpdateScrollBars();
}

ThumbnailList::~ThumbnailList() {
  // The decoder is a child, but its threads must stop before the cells they were for go.
  delete m_decoder;
}

void ThumbnailList::Reset() {
  Clear();
  m_total = 0;
  m_position = PagePosition{1, 0};
}

void ThumbnailList::ShowPage(const RecordPage& read) {
  Clear();
  m_total = read.count;
  m_position = PagePosition{read.page, read.pageCount};
  for (const Record& record : read.records) AddCell(record.fileName, record.url);
}

void ThumbnailList::AddLiveRecord(const std::string& path, const std::string& url) {
  ++m_total;
  m_position.count = PageCountFor(m_total);
  if (m_position.current == 0) m_position.current = 1;
  if (m_position.current == m_position.count && cellCount() < kRecordsPerPage) AddCell(path, url);
}

void ThumbnailList::SelectCell(int index) {
  if (index == m_selected) return;
  if (m_selected >= 0) viewport()->update(ViewRect(m_selected));
  m_selected = index;
  if (m_selected >= 0) viewport()->update(ViewRect(m_selected));
}

QRect ThumbnailList::ViewRect(int index) const {
  return CellRect(index, m_columns).translated(-ScrollOffset());
}

void ThumbnailList::SetHint(const QString& hint) {
  if (hint == m_hint) return;
  m_hint = hint;
  if (m_cells.empty()) viewport()->update();
}

void ThumbnailList::Clear() {
  HideLabel();
  m_decoder->DropQueued();
  ++m_batch;  // pictures of the old page still being decoded are dropped when they arrive
  m_cells.clear();
  m_selected = -1;
  m_hover = -1;
  UpdateScrollBars();
  viewport()->update();
}

void ThumbnailList::AddCell(const std::string& path, const std::string& url) {
  const int index = cellCount();
  m_cells.push_back(ThumbnailCell{path, url, QImage(), ThumbnailCell::Picture::Decoding});
  m_decoder->Decode(m_batch, index, LocalPath(path));
  UpdateScrollBars();
  viewport()->update(ViewRect(index));
}

void ThumbnailList::OnDecoded(quint64 batch, int index, const QImage& image) {
  if (batch != m_batch || index < 0 || index >= cellCount()) return;
  ThumbnailCell& cell = m_cells[index];
  cell.image = image;
  cell.picture = image.isNull() ? ThumbnailCell::Picture::Missing : ThumbnailCell::Picture::Shown;
  viewport()->update(ViewRect(index));
  emit pictureDone(index);
}

void ThumbnailList::HideLabel() {
  m_label->hide();
  m_hover = -1;
}

void ThumbnailList::UpdateColumns() {
  const int room =
      contentsRect().width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const int columns = ColumnCount(room);
  if (columns == m_columns) return;
  m_columns = columns;
  HideLabel();  // its cell may have moved away from the pointer
  viewport()->update();
}

void ThumbnailList::UpdateScrollBars() {
  const QSize area = viewport()->size();
  const int width = m_columns * kCellSize;
  const int height = RowCount(cellCount(), m_columns) * kCellSize;
  horizontalScrollBar()->setRange(0, std::max(0, width - area.width()));
  horizontalScrollBar()->setPageStep(area.width());
  verticalScrollBar()->setRange(0, std::max(0, height - area.height()));
  verticalScrollBar()->setPageStep(area.height());
}

QPoint ThumbnailList::ScrollOffset() const {
  return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void ThumbnailList::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), kGridBackground);
  if (m_cells.empty() && !m_hint.isEmpty()) {
    QFont hintFont = font();
    hintFont.setPixelSize(kHintFontPixels);
    painter.setFont(hintFont);
    painter.setPen(kHintColour);
    painter.drawText(viewport()->rect(), Qt::AlignCenter, m_hint);
    return;
  }
  for (int i = 0; i < cellCount(); ++i) {
    if (ViewRect(i).intersects(event->rect())) PaintCell(painter, i);
  }
}

void ThumbnailList::PaintCell(QPainter& painter, int index) {
  const ThumbnailCell& cell = m_cells[index];
  if (cell.path.size() <= kShortestDrawnText) return;
  const QRect area = ViewRect(index);
  const QRect frame = area.adjusted(kFrameInset, kFrameInset, -kFrameInset, -kFrameInset);

  // A frame drawn as nested one-pixel rectangles stays inside `frame` whatever its width.
  const bool selected = index == m_selected;
  painter.setPen(selected ? kSelectedFrame : kCellFrame);
  painter.setBrush(Qt::NoBrush);
  for (int ring = 0; ring < (selected ? kSelectedFrameWidth : 1); ++ring)
    painter.drawRect(frame.adjusted(ring, ring, -ring - 1, -ring - 1));

  const QRect picture =
      PictureRect(area, cell.image.isNull() ? ThumbnailDrawSize(QSize()) : cell.image.size());
  if (!cell.image.isNull()) painter.drawImage(picture.topLeft(), cell.image);

  // The name: 2 pixels under the picture, within the frame; a name still too wide for the
  // frame (wide letters) loses its end rather than spilling over the next cell.
  const QFontMetrics metrics(font());
  const QRect inner = frame.adjusted(kSelectedFrameWidth, 0, -kSelectedFrameWidth, 0);
  const QString name =
      metrics.elidedText(QString::fromStdString(ShortFileName(FileNamePart(cell.path))),
                         Qt::ElideRight, inner.width());
  painter.setPen(kNameColour);
  painter.drawText(
      QRect(inner.left(), picture.bottom() + 1 + kNameGap, inner.width(), metrics.height()),
      Qt::AlignHCenter | Qt::AlignTop, name);
}

void ThumbnailList::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateColumns();
  UpdateScrollBars();
}

void ThumbnailList::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pointer = event->position().toPoint();
  const int index = CellAt(pointer + ScrollOffset(), cellCount(), m_columns);
  if (index < 0) {
    HideLabel();
    return;
  }
  if (index == m_hover) return;
  m_hover = index;
  const ThumbnailCell& cell = m_cells[index];
  m_label->SetTexts(QString::fromStdString(cell.url), QString::fromStdString(cell.path));
  m_label->move(LabelPosition(pointer, viewport()->size()));
  m_label->show();
  m_label->raise();
  m_label->repaint();
}

void ThumbnailList::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  SelectCell(CellAt(event->position().toPoint() + ScrollOffset(), cellCount(), m_columns));
}

void ThumbnailList::wheelEvent(QWheelEvent* event) {
  HideLabel();
  QAbstractScrollArea::wheelEvent(event);
}

void ThumbnailList::focusOutEvent(QFocusEvent* event) {
  HideLabel();
  QAbstractScrollArea::focusOutEvent(event);
}

void ThumbnailList::scrollContentsBy(int, int) {
  HideLabel();
  viewport()->update();
}

bool ThumbnailList::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave) HideLabel();
  return QAbstractScrollArea::viewportEvent(event);
}
