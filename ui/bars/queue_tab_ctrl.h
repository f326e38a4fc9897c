// CQueueTabCtrl: the small tab control of the task-queue bar. It holds pages (child widgets),
// shows the active one inside a 3-D border and draws a strip of tabs along its top or bottom
// edge; a press on a tab activates its page, which may slide in from the left. The layout of
// the strip, the tabs and the page is plain functions, tested without painting.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

namespace quarry {

// Style bits: where the tabs go, whether they share the width equally, whether pages slide in.
inline constexpr int kTabsTop = 1;
inline constexpr int kTabsBottom = 2;
inline constexpr int kTabsEqualWidth = 4;
inline constexpr int kTabsSlideIn = 8;
inline constexpr int kDefaultTabStyle = kTabsBottom;

inline constexpr int kTabStripHeight = 23;
inline constexpr int kPageSideInset = 2;   // the page's distance from the left and right
inline constexpr int kPageFarInset = 2;    // and from the edge away from the tabs
inline constexpr int kTabTextExtra = 27;   // a tab's width beyond its text, with an icon
inline constexpr int kTabNoIconLess = 18;  // less this without one
inline constexpr int kTabGapOnOverflow = 1;
inline constexpr int kActiveTabReach = 2;  // the active tab reaches this far into the page
inline constexpr int kTabIconSize = 16;
inline constexpr int kTabIconTop = 3;  // the icon's distance below the tab's top
inline constexpr int kTabIconLeft = 5;
inline constexpr int kTabTextLeft = 5;  // without icon; with one it follows the icon
inline constexpr int kTabIconTextGap = 2;
inline constexpr int kTabFontPixels = 12;
inline constexpr int kSlideIntervalMs = 15;
inline constexpr int kSlideSteps = 10;
inline constexpr int kSlideVisibleStart = 10;  // pixels of the page shown on the first step
inline constexpr QColor kTabBackground{100, 100, 100};
inline constexpr QColor kTabText{100, 200, 200};
inline constexpr QColor kTabEdgeLight{200, 200, 200};
inline constexpr QColor kTabEdgeDark{30, 30, 30};

// The low four bits of `style`, with 0 taken as kTabsTop.
int EffectiveTabStyle(int style);
// The tabs run along the bottom only when that bit is set and the top bit is not.
bool TabsAtBottom(int style);

// The area of the page and its border inside `client` (the control's client rectangle).
QRect PageRect(const QRect& client, int style);
// Where page widgets go: the page rectangle inside its border (1 or 2 pixels).
QRect PageWidgetRect(const QRect& client, int style, int borderStyle);
// The strip the tabs are laid out in.
QRect TabStripRect(const QRect& client, int style);
// A tab's natural width for a title `textWidth` pixels wide.
int NaturalTabWidth(int textWidth, bool hasIcon);
// The tab rectangles for pages of the given natural widths, left to right in `strip`.
std::vector<QRect> LayoutTabs(const QRect& strip, int style, const std::vector<int>& naturalWidths);
// Where a sliding page is after `step` steps (0 is the first tick; kSlideSteps and later: home).
QRect SlideRect(const QRect& page, int step);

// The tab font: SimSun where installed, else the CJK font the scripts install.
QFont TabFont();

}  // namespace quarry

class CQueueTabCtrl : public QWidget {
  Q_OBJECT

public:
  enum class Ownership { NotOwned, Owned };

  explicit CQueueTabCtrl(int style = quarry::kDefaultTabStyle, QWidget* parent = nullptr,
                         int id = 125);
  // Deletes the owned pages; the others are handed back unparented to whoever made them.
  ~CQueueTabCtrl() override;

  // Appends a page: the widget moves into the page area, hidden until Refresh or
  // SetActivePage shows it. Returns its index.
  int AddPage(QWidget* page, const QString& title, const QIcon& icon = QIcon(),
              Ownership ownership = Ownership::NotOwned);
  // Lays the tabs out and shows the active page (the first when none is active yet).
  void Refresh();
  // Hides the active page and shows page `index`, at once or sliding in. An index outside the
  // pages is ignored.
  void SetActivePage(int index);

  int ActivePage() const { return m_active; }
  int PageCount() const { return static_cast<int>(m_pages.size()); }
  QWidget* Page(int index) const;
  QRect TabRect(int index) const;
  int Style() const { return m_style; }
  int BorderStyle() const { return m_borderStyle; }
  void SetBorderStyle(int borderStyle);
  bool IsSliding() const { return m_slide.isActive(); }
  QRect PageArea() const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

private:
  struct PageRecord {
    QPointer<QWidget> widget;
    bool owned = false;
    QString title;
    QIcon icon;
    QRect tab;
  };

  void LayOut();
  void PaintTab(class QPainter& painter, const PageRecord& page, bool active) const;

  int m_style;
  int m_borderStyle = 1;
  int m_active = -1;
  int m_slideStep = 0;
  QBasicTimer m_slide;
  std::vector<PageRecord> m_pages;
};
