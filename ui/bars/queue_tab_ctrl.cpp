// CQueueTabCtrl. Layout happens on every resize and on Refresh; painting only draws what the
// layout computed. The slide-in moves the page widget itself, one step per timer tick.
#include "ui/bars/queue_tab_ctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

namespace quarry {

namespace {

constexpr int kStripTopLeft = 2;    // tabs on top: the strip's inset on the left
constexpr int kStripSide = 6;       // its inset on the right, and on both sides at the bottom
constexpr int kStripBottomGap = 1;  // tabs at the bottom: the strip ends this far above
constexpr int kStyleBits = 0xF;

int BorderWidth(int borderStyle) { return borderStyle == 2 ? 2 : 1; }

// A frame one pixel wide, `topLeft` on the top and left, `bottomRight` on the others.
void DrawFrame(QPainter& painter, const QRect& rect, const QColor& topLeft,
               const QColor& bottomRight) {
  painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), topLeft);
  painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), topLeft);
  painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottomRight);
  painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottomRight);
}

}  // namespace

int EffectiveTabStyle(int style) {
  style &= kStyleBits;
  return style == 0 ? kTabsTop : style;
}

bool TabsAtBottom(int style) {
  style = EffectiveTabStyle(style);
  return (style & kTabsBottom) && !(style & kTabsTop);
}

QRect PageRect(const QRect& client, int style) {
  QRect page = client.adjusted(kPageSideInset, 0, -kPageSideInset, 0);
  if (TabsAtBottom(style)) {
    page.setTop(client.top() + kPageFarInset);
    page.setBottom(client.bottom() - kTabStripHeight);
  } else {
    page.setTop(client.top() + kTabStripHeight);
    page.setBottom(client.bottom() - kPageFarInset);
  }
  return page;
}

QRect PageWidgetRect(const QRect& client, int style, int borderStyle) {
  const int border = BorderWidth(borderStyle);
  return PageRect(client, style).adjusted(border, border, -border, -border);
}

QRect TabStripRect(const QRect& client, int style) {
  if (TabsAtBottom(style)) {
    const int bottom = client.bottom() - kStripBottomGap;
    return QRect(QPoint(client.left() + kStripSide, bottom - kTabStripHeight + 1),
                 QPoint(client.right() - kStripSide, bottom));
  }
  return QRect(QPoint(client.left() + kStripTopLeft, client.top()),
               QPoint(client.right() - kStripSide, client.top() + kTabStripHeight - 1));
}

int NaturalTabWidth(int textWidth, bool hasIcon) {
  return textWidth + kTabTextExtra - (hasIcon ? 0 : kTabNoIconLess);
}

std::vector<QRect> LayoutTabs(const QRect& strip, int style,
                              const std::vector<int>& naturalWidths) {
  std::vector<QRect> tabs;
  if (naturalWidths.empty()) return tabs;
  const int count = static_cast<int>(naturalWidths.size());
  const int shared = strip.width() / count;
  const bool equal = EffectiveTabStyle(style) & kTabsEqualWidth;
  int total = 0;
  for (int width : naturalWidths) total += width;
  int x = strip.left();
  if (equal || total <= strip.width()) {
    for (int width : naturalWidths) {
      const int given = equal ? shared : width;
      tabs.emplace_back(x, strip.top(), given, strip.height());
      x += given;
    }
    return tabs;
  }
  // Too wide: one pixel between tabs, and a tab wider than the one before it (the first
  // compares with the last) makes do with an equal share.
  int previous = naturalWidths.back();
  for (int width : naturalWidths) {
    const int given = width > previous ? shared : width;
    tabs.emplace_back(x, strip.top(), given, strip.height());
    x += given + kTabGapOnOverflow;
    previous = given;
  }
  return tabs;
}

QRect SlideRect(const QRect& page, int step) {
  if (step >= kSlideSteps) return page;
  const int start = page.left() - page.width() + kSlideVisibleStart;
  return page.translated(start - page.left() + step * (page.width() / kSlideSteps), 0);
}

QFont TabFont() {
  QFont font;
  font.setFamilies(
      {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(kTabFontPixels);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace quarry

CQueueTabCtrl::CQueueTabCtrl(int style, QWidget* parent, int id)
    : QWidget(parent), m_style(quarry::EffectiveTabStyle(style)) {
  setObjectName(QString::number(id));
  setFont(quarry::TabFont());
  setCursor(Qt::ArrowCursor);
}

CQueueTabCtrl::~CQueueTabCtrl() {
  for (PageRecord& page : m_pages) {
    if (!page.widget) continue;
    if (page.owned) {
      delete page.widget;
    } else {
      page.widget->hide();
      page.widget->setParent(nullptr);
    }
  }
}

int CQueueTabCtrl::AddPage(QWidget* page, const QString& title, const QIcon& icon,
                           Ownership ownership) {
  PageRecord record;
  record.widget = page;
  record.owned = ownership == Ownership::Owned;
  record.title = title;
  record.icon = icon;
  page->setParent(this);
  page->setGeometry(PageArea());
  page->hide();
  m_pages.push_back(record);
  return PageCount() - 1;
}

void CQueueTabCtrl::Refresh() {
  LayOut();
  if (m_active < 0 && !m_pages.empty()) {
    SetActivePage(0);
  } else if (QWidget* page = Page(m_active)) {
    page->show();
  }
  update();
}

void CQueueTabCtrl::SetActivePage(int index) {
  if (index < 0 || index >= PageCount()) return;
  if (QWidget* old = Page(m_active)) old->hide();
  m_active = index;
  QWidget* page = Page(index);
  if (!page) return;
  if (m_style & quarry::kTabsSlideIn) {
    m_slideStep = 0;
    m_slide.start(quarry::kSlideIntervalMs, this);
  } else {
    m_slide.stop();
    page->setGeometry(PageArea());
    page->show();
  }
  update();
}

QWidget* CQueueTabCtrl::Page(int index) const {
  if (index < 0 || index >= PageCount()) return nullptr;
  return m_pages[static_cast<std::size_t>(index)].widget;
}

QRect CQueueTabCtrl::TabRect(int index) const {
  if (index < 0 || index >= PageCount()) return QRect();
  return m_pages[static_cast<std::size_t>(index)].tab;
}

void CQueueTabCtrl::SetBorderStyle(int borderStyle) {
  m_borderStyle = borderStyle == 2 ? 2 : 1;
  LayOut();
  update();
}

QRect CQueueTabCtrl::PageArea() const {
  return quarry::PageWidgetRect(rect(), m_style, m_borderStyle);
}

void CQueueTabCtrl::LayOut() {
  const QFontMetrics metrics(font());
  std::vector<int> widths;
  for (const PageRecord& page : m_pages) {
    widths.push_back(
        quarry::NaturalTabWidth(metrics.horizontalAdvance(page.title), !page.icon.isNull()));
  }
  const std::vector<QRect> tabs =
      quarry::LayoutTabs(quarry::TabStripRect(rect(), m_style), m_style, widths);
  for (std::size_t i = 0; i < m_pages.size(); ++i) {
    m_pages[i].tab = tabs[i];
    // A page in the middle of sliding in gets its place on the next tick.
    if (m_pages[i].widget && !(IsSliding() && static_cast<int>(i) == m_active))
      m_pages[i].widget->setGeometry(PageArea());
  }
}

void CQueueTabCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), quarry::kTabBackground);
  const QRect page = quarry::PageRect(rect(), m_style);
  quarry::DrawFrame(painter, page, quarry::kTabEdgeLight, quarry::kTabEdgeDark);
  if (m_borderStyle == 2) {
    quarry::DrawFrame(painter, page.adjusted(1, 1, -1, -1), palette().color(QPalette::Button),
                      palette().color(QPalette::Dark));
  }
  painter.setFont(font());
  for (std::size_t i = 0; i < m_pages.size(); ++i) {
    if (static_cast<int>(i) != m_active) PaintTab(painter, m_pages[i], false);
  }
  // The active tab last, so that it covers the border where it joins the page.
  if (m_active >= 0) PaintTab(painter, m_pages[static_cast<std::size_t>(m_active)], true);
}

void CQueueTabCtrl::PaintTab(QPainter& painter, const PageRecord& page, bool active) const {
  const bool bottom = quarry::TabsAtBottom(m_style);
  QRect tab = page.tab;
  if (active) {
    if (bottom) {
      tab.setTop(tab.top() - quarry::kActiveTabReach);
    } else {
      tab.setBottom(tab.bottom() + quarry::kActiveTabReach);
    }
  }
  painter.fillRect(tab, quarry::kTabBackground);
  // Raised edges on the three sides away from the page; the side facing the page stays open.
  const QRect left(tab.left(), tab.top(), 1, tab.height());
  const QRect right(tab.right(), tab.top(), 1, tab.height());
  const QRect far = bottom ? QRect(tab.left(), tab.bottom(), tab.width(), 1)
                           : QRect(tab.left(), tab.top(), tab.width(), 1);
  painter.fillRect(left, quarry::kTabEdgeLight);
  painter.fillRect(far, bottom ? quarry::kTabEdgeDark : quarry::kTabEdgeLight);
  painter.fillRect(right, quarry::kTabEdgeDark);

  int textLeft = page.tab.left() + quarry::kTabTextLeft;
  if (!page.icon.isNull()) {
    const QRect icon(page.tab.left() + quarry::kTabIconLeft, page.tab.top() + quarry::kTabIconTop,
                     quarry::kTabIconSize, quarry::kTabIconSize);
    page.icon.paint(&painter, icon);
    textLeft = icon.right() + 1 + quarry::kTabIconTextGap;
  }
  painter.setPen(quarry::kTabText);
  const QRect text(textLeft, page.tab.top(), page.tab.right() - textLeft, page.tab.height());
  painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, page.title);
}

void CQueueTabCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  for (int i = 0; i < PageCount(); ++i) {
    if (!TabRect(i).contains(event->position().toPoint())) continue;
    if (i != m_active) SetActivePage(i);
    return;
  }
}

void CQueueTabCtrl::resizeEvent(QResizeEvent*) { LayOut(); }

void CQueueTabCtrl::timerEvent(QTimerEvent* event) {
  if (event->timerId() != m_slide.timerId()) {
    QWidget::timerEvent(event);
    return;
  }
  QWidget* page = Page(m_active);
  if (!page) {
    m_slide.stop();
    return;
  }
  page->setGeometry(quarry::SlideRect(PageArea(), m_slideStep));
  page->show();
  if (m_slideStep >= quarry::kSlideSteps) {
    m_slide.stop();
  } else {
    ++m_slideStep;
  }
}
