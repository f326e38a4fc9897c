// SheetTabCtrl: a page container with its tabs along the bottom edge, as a workbook shows its
// sheets. The bottom bar holds, from the left: two arrows that shift the tab strip, the strip
// itself, a divider the user drags to share the width, and a horizontal scroll bar that scrolls
// the active page (it stands in for the page's own, which is switched off).
//
// The geometry lives in plain functions (SheetTabGeometry) that take sizes and return
// rectangles, so tests check it without painting; paintEvent only draws what they computed.
// The parent learns of every tab the user picks and of every removal through PageChanged.
#pragma once

#include <QPolygon>
#include <QRect>
#include <QScrollBar>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <vector>

// Sizes of the bottom bar; the tab strip's height follows the font.
struct SheetTabMetrics {
  int barHeight = 20;    // the whole bottom bar
  int arrowWidth = 16;   // each of the strip's two arrows; the scroll bar's arrows likewise
  int dividerWidth = 6;  // the draggable divider
};

// Where everything of the control goes for a given size.
struct SheetTabFrame {
  QRect page;        // the active page
  QRect leftArrow;   // shifts the strip to the left (shows earlier tabs)
  QRect rightArrow;  // shifts it to the right
  QRect strip;       // the tabs, clipped
  QRect divider;     // drag handle between strip and scroll bar
  QRect scrollBar;   // empty when the strip takes the whole width
};

namespace SheetTabGeometry {

inline constexpr int kMargin = 3;       // around the tabs inside the strip
inline constexpr int kTabPadding = 6;   // between a tab's slanted side and its text
inline constexpr int kTabSlant = 6;     // horizontal run of each slanted side
inline constexpr int kScrollStep = 20;  // pixels the strip moves per arrow click

// The strip's initial width: half of what is left beside the arrows and the divider, or all
// of it when the other half would not hold the scroll bar's two arrows.
int InitialStripWidth(int width, const SheetTabMetrics& metrics);

// The frame for a control of `size` whose strip is `stripWidth` wide (clamped so that the
// scroll bar keeps room for its arrows or disappears).
SheetTabFrame LayOut(QSize size, int stripWidth, const SheetTabMetrics& metrics);

// The tab outlines in strip coordinates before shifting, for tabs whose labels are
// `textWidths` wide, in a strip `height` high. Neighbours overlap by one slant.
std::vector<QPolygon> LayOutTabs(const std::vector<int>& textWidths, int height);

// How far the strip can be shifted: the part of the tabs (and the right margin) beyond
// `stripWidth`, or 0.
int Overflow(const std::vector<QPolygon>& tabs, int stripWidth);

// The tab under `point` (strip coordinates, already shifted back), the active one first since
// it is drawn on top; -1 for none.
int TabAt(const std::vector<QPolygon>& tabs, int active, QPoint point);

}  // namespace SheetTabGeometry

class SheetTabCtrl : public QWidget {
  Q_OBJECT

public:
  explicit SheetTabCtrl(QWidget* parent = nullptr);
  ~SheetTabCtrl() override;

  // Appends `page` (the control takes it over) with `label`; `image` is reserved (-1: none).
  // The first page of an empty control becomes active; others stay hidden. Returns its index.
  int AddPage(QWidget* page, const QString& label, int image = -1);
  // Takes out tab `index` and destroys its page; when it was at or before the active one, the
  // active index moves back by one (not below 0). Notifies the parent. False for a bad index.
  bool RemovePage(int index);
  // Shows page `index` and hides the others; false for a bad index. No notification.
  bool ActivatePage(int index);

  int Count() const { return static_cast<int>(m_tabs.size()); }
  int ActiveIndex() const { return m_active; }
  QWidget* Page(int index) const;
  QString Label(int index) const;

  // For tests and the gallery: the current frame, the strip's shift and its limit, the arrows
  // and the page scroll bar.
  SheetTabFrame Frame() const;
  int StripOffset() const { return m_offset; }
  // The bottom bar's sizes for the present font and style.
  SheetTabMetrics Metrics() const;
  int StripOverflow() const;
  QToolButton* LeftArrow() const { return m_left; }
  QToolButton* RightArrow() const { return m_right; }
  QScrollBar* PageScrollBar() const { return m_scrollBar; }
  // The tab outline of `index` in control coordinates, as drawn now.
  QPolygon TabOutline(int index) const;

signals:
  // The user picked tab `index`, or a removal left `index` active (-1: the control is empty).
  void PageChanged(int index);
  // The page scroll bar moved the active page to `value`.
  void PageScrolled(int value);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct Tab {
    QWidget* page;
    QString label;
    int image;
  };

  void Relayout();
  void ShiftStrip(int delta);
  void RevealActive();
  void UserActivate(int index);
  bool HandleTabKey(QKeyEvent* event);
  void LinkScrollBar();

  std::vector<Tab> m_tabs;
  std::vector<QPolygon> m_outlines;  // strip coordinates, unshifted
  int m_active = -1;
  int m_offset = 0;            // strip shift, 0 to StripOverflow()
  double m_stripShare = -1.0;  // the strip's part of the shared width; < 0: initial
  bool m_dragging = false;
  int m_dragGrab = 0;  // where in the divider the drag took hold
  QToolButton* m_left;
  QToolButton* m_right;
  QScrollBar* m_scrollBar;
  QWidget* m_linked = nullptr;  // the page whose scroll bar ours follows
  std::vector<QMetaObject::Connection> m_links;
};
