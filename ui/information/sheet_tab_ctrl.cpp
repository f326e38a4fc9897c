// SheetTabCtrl: see sheet_tab_ctrl.h. The tabs are trapezoids hanging from the page's lower
// edge; the inactive ones are drawn first, right to left, so each overlaps its right
// neighbour, and the active one last, in the page's own colour and joined to it.
#include "ui/information/sheet_tab_ctrl.h"

#include <QAbstractScrollArea>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace {

const QColor kInactiveTabColour(176, 176, 176);
const QColor kInactiveTextColour(40, 40, 40);

}  // namespace

namespace SheetTabGeometry {

int InitialStripWidth(int width, const SheetTabMetrics& metrics) {
  const int shared = std::max(0, width - 2 * metrics.arrowWidth - metrics.dividerWidth);
  const int half = shared / 2;
  return shared - half < 2 * metrics.arrowWidth ? shared : half;
}

SheetTabFrame LayOut(QSize size, int stripWidth, const SheetTabMetrics& metrics) {
  SheetTabFrame frame;
  const int width = std::max(0, size.width());
  const int bar = std::min(metrics.barHeight, std::max(0, size.height()));
  const int top = std::max(0, size.height()) - bar;
  const int arrow = metrics.arrowWidth;
  frame.page = QRect(0, 0, width, top);
  frame.leftArrow = QRect(0, top, arrow, bar);
  frame.rightArrow = QRect(arrow, top, arrow, bar);
  const int shared = std::max(0, width - 2 * arrow - metrics.dividerWidth);
  int strip = std::clamp(stripWidth, 0, shared);
  if (shared - strip < 2 * arrow) strip = shared;  // no room for a usable scroll bar
  frame.strip = QRect(2 * arrow, top, strip, bar);
  frame.divider = QRect(2 * arrow + strip, top, metrics.dividerWidth, bar);
  frame.scrollBar = QRect(frame.divider.right() + 1, top, shared - strip, bar);
  return frame;
}

std::vector<QPolygon> LayOutTabs(const std::vector<int>& textWidths, int height) {
  std::vector<QPolygon> tabs;
  const int bottom = std::max(1, height - kMargin);
  int x = kMargin;
  for (int text : textWidths) {
    const int width = text + 2 * (kTabPadding + kTabSlant);
    QPolygon outline;
    outline << QPoint(x, 0) << QPoint(x + width, 0) << QPoint(x + width - kTabSlant, bottom)
            << QPoint(x + kTabSlant, bottom);
    tabs.push_back(outline);
    x += width - kTabSlant;
  }
  return tabs;
}

int Overflow(const std::vector<QPolygon>& tabs, int stripWidth) {
  if (tabs.empty()) return 0;
  return std::max(0, tabs.back().boundingRect().right() + 1 + kMargin - stripWidth);
}

int TabAt(const std::vector<QPolygon>& tabs, int active, QPoint point) {
  const int count = static_cast<int>(tabs.size());
  if (active >= 0 && active < count && tabs[active].containsPoint(point, Qt::OddEvenFill))
    return active;
  for (int i = 0; i < count; ++i) {
    if (tabs[i].containsPoint(point, Qt::OddEvenFill)) return i;
  }
  return -1;
}

}  // namespace SheetTabGeometry

SheetTabCtrl::SheetTabCtrl(QWidget* parent)
    : QWidget(parent),
      m_left(new QToolButton(this)),
      m_right(new QToolButton(this)),
      m_scrollBar(new QScrollBar(Qt::Horizontal, this)) {
  setObjectName(QStringLiteral("SheetTabCtrl"));
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  for (QToolButton* arrow : {m_left, m_right}) {
    arrow->setAutoRaise(true);
    arrow->setAutoRepeat(true);
    arrow->setFocusPolicy(Qt::NoFocus);
  }
  m_left->setArrowType(Qt::LeftArrow);
  m_right->setArrowType(Qt::RightArrow);
  m_left->setObjectName(QStringLiteral("StripLeft"));
  m_right->setObjectName(QStringLiteral("StripRight"));
  m_scrollBar->setObjectName(QStringLiteral("PageScrollBar"));
  m_scrollBar->setFocusPolicy(Qt::NoFocus);
  connect(m_left, &QToolButton::clicked, this,
          [this] { ShiftStrip(-SheetTabGeometry::kScrollStep); });
  connect(m_right, &QToolButton::clicked, this,
          [this] { ShiftStrip(SheetTabGeometry::kScrollStep); });
  connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(m_linked))
      area->horizontalScrollBar()->setValue(value);
    emit PageScrolled(value);
  });
  Relayout();
}

SheetTabCtrl::~SheetTabCtrl() {
  for (auto& link : m_links) disconnect(link);
}

int SheetTabCtrl::AddPage(QWidget* page, const QString& label, int image) {
  page->setParent(this);
  page->hide();
  page->installEventFilter(this);
  if (auto* area = qobject_cast<QAbstractScrollArea*>(page))
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // ours stands in for it
  m_tabs.push_back({page, label, image});
  if (m_tabs.size() == 1) {
    ActivatePage(0);
  } else {
    Relayout();
  }
  return Count() - 1;
}

bool SheetTabCtrl::RemovePage(int index) {
  if (index < 0 || index >= Count()) return false;
  QWidget* page = m_tabs[index].page;
  if (page == m_linked) {
    for (auto& link : m_links) disconnect(link);
    m_links.clear();
    m_linked = nullptr;
  }
  m_tabs.erase(m_tabs.begin() + index);
  delete page;
  if (m_tabs.empty()) {
    m_active = -1;
    m_offset = 0;
    Relayout();
    emit PageChanged(-1);
    return true;
  }
  if (index <= m_active) m_active = std::max(0, m_active - 1);
  ActivatePage(m_active);
  emit PageChanged(m_active);
  return true;
}

bool SheetTabCtrl::ActivatePage(int index) {
  if (index < 0 || index >= Count()) return false;
  m_active = index;
  for (int i = 0; i < Count(); ++i) {
    if (i != index) m_tabs[i].page->hide();
  }
  Relayout();
  m_tabs[index].page->show();
  LinkScrollBar();
  RevealActive();
  return true;
}

QWidget* SheetTabCtrl::Page(int index) const {
  return index >= 0 && index < Count() ? m_tabs[index].page : nullptr;
}

QString SheetTabCtrl::Label(int index) const {
  return index >= 0 && index < Count() ? m_tabs[index].label : QString();
}

SheetTabMetrics SheetTabCtrl::Metrics() const {
  SheetTabMetrics metrics;
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  metrics.arrowWidth = std::max(12, extent);
  metrics.barHeight = std::max(extent, fontMetrics().height() + 2 * SheetTabGeometry::kMargin + 2);
  return metrics;
}

SheetTabFrame SheetTabCtrl::Frame() const {
  const SheetTabMetrics metrics = Metrics();
  int strip = SheetTabGeometry::InitialStripWidth(width(), metrics);
  if (m_stripShare >= 0) {
    const int shared = std::max(0, width() - 2 * metrics.arrowWidth - metrics.dividerWidth);
    strip = static_cast<int>(m_stripShare * shared + 0.5);
  }
  return SheetTabGeometry::LayOut(size(), strip, metrics);
}

int SheetTabCtrl::StripOverflow() const {
  return SheetTabGeometry::Overflow(m_outlines, Frame().strip.width());
}

QPolygon SheetTabCtrl::TabOutline(int index) const {
  if (index < 0 || index >= static_cast<int>(m_outlines.size())) return {};
  const QRect strip = Frame().strip;
  return m_outlines[index].translated(strip.left() - m_offset, strip.top());
}

void SheetTabCtrl::Relayout() {
  const SheetTabFrame frame = Frame();
  QFont bold = font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  std::vector<int> widths;
  for (const Tab& tab : m_tabs) widths.push_back(metrics.horizontalAdvance(tab.label));
  m_outlines = SheetTabGeometry::LayOutTabs(widths, frame.strip.height());
  m_offset = std::clamp(m_offset, 0, SheetTabGeometry::Overflow(m_outlines, frame.strip.width()));
  m_left->setGeometry(frame.leftArrow);
  m_right->setGeometry(frame.rightArrow);
  m_left->setEnabled(m_offset > 0);
  m_right->setEnabled(m_offset < StripOverflow());
  m_scrollBar->setGeometry(frame.scrollBar);
  m_scrollBar->setVisible(!frame.scrollBar.isEmpty());
  if (QWidget* page = Page(m_active)) page->setGeometry(frame.page);
  update();
}

void SheetTabCtrl::ShiftStrip(int delta) {
  m_offset = std::clamp(m_offset + delta, 0, StripOverflow());
  Relayout();
}

void SheetTabCtrl::RevealActive() {
  if (m_active < 0 || m_active >= static_cast<int>(m_outlines.size())) return;
  const QRect tab = m_outlines[m_active].boundingRect();
  const int strip = Frame().strip.width();
  if (tab.left() - SheetTabGeometry::kMargin < m_offset) {
    m_offset = tab.left() - SheetTabGeometry::kMargin;
  } else if (tab.right() + 1 + SheetTabGeometry::kMargin > m_offset + strip) {
    m_offset = tab.right() + 1 + SheetTabGeometry::kMargin - strip;
  }
  Relayout();
}

void SheetTabCtrl::UserActivate(int index) {
  if (index == m_active || !ActivatePage(index)) return;
  emit PageChanged(index);
}

void SheetTabCtrl::LinkScrollBar() {
  for (auto& link : m_links) disconnect(link);
  m_links.clear();
  m_linked = Page(m_active);
  auto* area = qobject_cast<QAbstractScrollArea*>(m_linked);
  if (area == nullptr) {
    m_scrollBar->setRange(0, 0);
    return;
  }
  QScrollBar* own = area->horizontalScrollBar();
  auto follow = [this, own] {
    const QSignalBlocker quiet(m_scrollBar);
    m_scrollBar->setPageStep(own->pageStep());
    m_scrollBar->setSingleStep(own->singleStep());
    m_scrollBar->setRange(own->minimum(), own->maximum());
    m_scrollBar->setValue(own->value());
  };
  follow();
  m_links.push_back(connect(own, &QScrollBar::rangeChanged, this, follow));
  m_links.push_back(connect(own, &QScrollBar::valueChanged, this, follow));
}

bool SheetTabCtrl::HandleTabKey(QKeyEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier) || Count() == 0) return false;
  if (event->key() == Qt::Key_PageUp) {
    UserActivate(m_active <= 0 ? Count() - 1 : m_active - 1);
  } else if (event->key() == Qt::Key_PageDown) {
    UserActivate(m_active + 1 >= Count() ? 0 : m_active + 1);
  } else {
    return false;
  }
  return true;
}

bool SheetTabCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & Qt::ControlModifier) &&
        (key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown)) {
      event->accept();  // the page's own tab switch wins over any window shortcut
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress && HandleTabKey(static_cast<QKeyEvent*>(event)))
    return true;
  return QWidget::eventFilter(watched, event);
}

void SheetTabCtrl::keyPressEvent(QKeyEvent* event) {
  if (!HandleTabKey(event)) QWidget::keyPressEvent(event);
}

void SheetTabCtrl::resizeEvent(QResizeEvent*) {
  Relayout();
  RevealActive();
}

void SheetTabCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const SheetTabFrame frame = Frame();
  if (event->button() == Qt::LeftButton && frame.divider.contains(point)) {
    m_dragging = true;
    m_dragGrab = point.x() - frame.divider.left();
    return;
  }
  if (event->button() == Qt::LeftButton && frame.strip.contains(point)) {
    const QPoint inStrip = point - frame.strip.topLeft() + QPoint(m_offset, 0);
    const int tab = SheetTabGeometry::TabAt(m_outlines, m_active, inStrip);
    if (tab >= 0) {
      UserActivate(tab);
      return;
    }
  }
  event->ignore();  // not ours: the window under the point may take it
}

void SheetTabCtrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const SheetTabFrame frame = Frame();
  if (m_dragging) {
    const SheetTabMetrics metrics = Metrics();
    const int shared = std::max(1, width() - 2 * metrics.arrowWidth - metrics.dividerWidth);
    const int strip = std::clamp(point.x() - m_dragGrab - frame.strip.left(), 0, shared);
    m_stripShare = static_cast<double>(strip) / shared;
    Relayout();
    return;
  }
  setCursor(frame.divider.contains(point) ? Qt::SplitHCursor : Qt::ArrowCursor);
  event->ignore();
}

void SheetTabCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (m_dragging && event->button() == Qt::LeftButton) {
    m_dragging = false;
    return;
  }
  event->ignore();
}

void SheetTabCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const SheetTabFrame frame = Frame();
  const QRect bar(0, frame.strip.top(), width(), frame.strip.height());
  painter.fillRect(bar, palette().window());
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawLine(bar.topLeft(), bar.topRight());

  // The divider: a raised grip.
  const QRect grip = frame.divider.adjusted(1, 2, -1, -2);
  painter.setPen(palette().color(QPalette::Light));
  painter.drawLine(grip.topLeft(), grip.bottomLeft());
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawLine(grip.topRight(), grip.bottomRight());

  painter.setClipRect(frame.strip);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const QPoint shift(frame.strip.left() - m_offset, frame.strip.top());
  QFont bold = font();
  bold.setBold(true);
  auto drawTab = [&](int i, bool active) {
    const QPolygon outline = m_outlines[i].translated(shift);
    QWidget* page = m_tabs[i].page;
    const QColor pageColour = qobject_cast<QAbstractScrollArea*>(page)
                                  ? page->palette().color(QPalette::Base)
                                  : page->palette().color(QPalette::Window);
    painter.setBrush(active ? pageColour : kInactiveTabColour);
    painter.setPen(active ? palette().color(QPalette::WindowText)
                          : palette().color(QPalette::Dark));
    painter.drawPolygon(outline);
    if (active) {  // open into the page: its top edge takes the page's colour
      painter.setPen(QPen(pageColour, 2));
      painter.drawLine(outline.point(0) + QPoint(1, 0), outline.point(1) - QPoint(1, 0));
    }
    painter.setFont(active ? bold : font());
    painter.setPen(active ? palette().color(QPalette::WindowText) : kInactiveTextColour);
    painter.drawText(outline.boundingRect(), Qt::AlignCenter, m_tabs[i].label);
  };
  for (int i = Count() - 1; i >= 0; --i) {
    if (i != m_active) drawTab(i, false);
  }
  if (m_active >= 0) drawTab(m_active, true);
}
