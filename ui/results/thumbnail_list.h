// ThumbnailList: the face of the result browser for image tasks, a grid of thumbnails thirty to
// a page, read page by page from the task's records database. The rows hold as many cells as
// the width fits, counted again whenever the grid is resized; the room of a vertical scroll bar
// is always kept, so that the bar coming or going never changes the count.
//
// Every cell has a frame, a picture drawn at thumbnail size and the file's name under it. The
// pictures are decoded by a ThumbnailDecoder on other threads: a cell shows its frame and name
// at once and its picture as soon as it is ready; a picture that cannot be decoded leaves the
// cell without one. Each page load starts a new batch, so pictures still arriving for a page
// the user has left are dropped. A click selects a cell; the pointer over a cell shows the
// CLabelWnd pop-up with the picture's address and path.
//
// Everything here runs on the user-interface thread; live additions reach it through
// CQuarryView, which collects them from the workers.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "ui/results/thumbnail_layout.h"

class CLabelWnd;
namespace quarry {
class ThumbnailDecoder;
}

struct ThumbnailCell {
  enum class Picture { Decoding, Shown, Missing };
  std::string path;  // the saved file
  std::string url;   // the address it came from
  QImage image;      // at its drawn size once shown; null otherwise
  Picture picture = Picture::Decoding;
};

class ThumbnailList : public QAbstractScrollArea {
  Q_OBJECT

public:
  explicit ThumbnailList(QWidget* parent = nullptr);
  ~ThumbnailList() override;

  // Empties the grid and forgets the page position: a new task is about to be shown.
  void Reset();
  // Shows the page `read` of the task's records and takes its page position.
  void ShowPage(const quarry::RecordPage& read);
  // Empties the grid, keeping the page position: the page could not be read.
  void ClearPage() { Clear(); }
  // A picture saved while the task runs: counts it, and on the last page with room left it
  // gets a cell at once.
  void AddLiveRecord(const std::string& path, const std::string& url);

  quarry::PagePosition position() const { return m_position; }
  long long total() const { return m_total; }
  int cellCount() const { return static_cast<int>(m_cells.size()); }
  const ThumbnailCell& cell(int index) const { return m_cells.at(index); }
  int selectedCell() const { return m_selected; }
  // Selects cell `index` (-1 clears), as a click on it would.
  void SelectCell(int index);
  CLabelWnd* label() const { return m_label; }
  // The rectangle of cell `index` in the viewport's coordinates.
  QRect ViewRect(int index) const;
  // The cells a row holds at the grid's present width.
  int columns() const { return m_columns; }
  // A line shown in the middle of an empty grid (empty: none).
  void SetHint(const QString& hint);
  QString hint() const { return m_hint; }

signals:
  // The picture of cell `index` of the current page arrived or turned out missing.
  void pictureDone(int index);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;

private:
  void Clear();
  void AddCell(const std::string& path, const std::string& url);
  void OnDecoded(quint64 batch, int index, const QImage& image);
  void HideLabel();
  void UpdateScrollBars();
  void UpdateColumns();
  void PaintCell(QPainter& painter, int index);
  QPoint ScrollOffset() const;

  std::vector<ThumbnailCell> m_cells;  // the current page, at most 30
  long long m_total = 0;               // records of the task, live additions included
  quarry::PagePosition m_position;
  int m_selected = -1;
  int m_hover = -1;  // the cell whose texts the pop-up shows
  quint64 m_batch = 0;
  int m_columns = 1;
  QString m_hint;
  CLabelWnd* m_label;
  quarry::ThumbnailDecoder* m_decoder;
};
