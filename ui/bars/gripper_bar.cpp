// CGripperBar and its title strip. The bar paints the grey fill and the border over its whole
// area; the strip, a transparent child on top of it, paints the gripper lines and the close
// button and hands every other press and double-click on to the dock widget, which drags,
// floats and docks the bar as Qt does for any title bar.
#include "ui/bars/gripper_bar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

namespace quarry {

namespace {

constexpr int kLineThickness = 2;  // a raised line: one light row, one dark row
constexpr int kLineMargin = 3;     // between a line's ends and its neighbours
constexpr int kGlyphInset = 3;     // the cross starts this far in from the button's corner
constexpr qreal kGlyphPenWidth = 1.6;

void DrawEdge(QPainter& painter, const QRect& rect, bool raised) {
  const QColor topLeft = raised ? kEdgeLight : kEdgeDark;
  const QColor bottomRight = raised ? kEdgeDark : kEdgeLight;
  painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), topLeft);
  painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), topLeft);
  painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottomRight);
  painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottomRight);
}

}  // namespace

bool VerticalGripper(Qt::DockWidgetArea side, bool floating) {
  return !floating && (side == Qt::TopDockWidgetArea || side == Qt::BottomDockWidgetArea);
}

QRect CloseButtonRect(const QRect& strip, bool vertical) {
  // Across the strip the button ends with it, so that it sits on the gripper next to the
  // client area.
  if (vertical) {
    return QRect(strip.right() + 1 - kCloseButtonSize, strip.top() + kCloseButtonInset,
                 kCloseButtonSize, kCloseButtonSize);
  }
  return QRect(strip.right() + 1 - kCloseButtonInset - kCloseButtonSize,
               strip.bottom() + 1 - kCloseButtonSize, kCloseButtonSize, kCloseButtonSize);
}

GripperLines GripperLineRects(const QRect& strip, bool vertical) {
  const QRect button = CloseButtonRect(strip, vertical);
  const int span = kGripperLineGap + kLineThickness;  // both lines from the first's start
  if (vertical) {
    const int x = strip.right() + 1 - kGripperWidth + (kGripperWidth - span) / 2;
    const int top = button.bottom() + 1 + kLineMargin;
    const int height = strip.bottom() - kSizingEdge - kLineMargin - top + 1;
    return {QRect(x, top, kLineThickness, height),
            QRect(x + kGripperLineGap, top, kLineThickness, height)};
  }
  const int y = strip.bottom() + 1 - kGripperWidth + (kGripperWidth - span) / 2;
  const int left = strip.left() + kSizingEdge + kLineMargin;
  const int width = button.left() - kLineMargin - left;
  return {QRect(left, y, width, kLineThickness),
          QRect(left, y + kGripperLineGap, width, kLineThickness)};
}

}  // namespace quarry

// The gripper strip: the dock widget's title bar widget.
class CGripperTitle : public QWidget {
public:
  explicit CGripperTitle(CGripperBar* bar) : QWidget(bar), m_bar(bar) {
    setObjectName(QStringLiteral("Gripper"));
    setMouseTracking(true);
  }

  void SetVertical(bool vertical) {
    m_vertical = vertical;
    update();
  }
  bool vertical() const { return m_vertical; }
  bool hot() const { return m_hot; }
  bool pushed() const { return m_pushed; }
  QRect Button() const { return quarry::CloseButtonRect(rect(), m_vertical); }

  QSize sizeHint() const override { return QSize(quarry::kTitleExtent, quarry::kTitleExtent); }
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const quarry::GripperLines lines = quarry::GripperLineRects(rect(), m_vertical);
    for (const QRect& line : {lines.first, lines.second}) {
      if (line.isEmpty()) continue;
      // Light on the top or left, dark on the bottom or right: a raised line.
      const QRect light = m_vertical ? QRect(line.left(), line.top(), 1, line.height())
                                     : QRect(line.left(), line.top(), line.width(), 1);
      painter.fillRect(line, quarry::kEdgeDark);
      painter.fillRect(light, quarry::kEdgeLight);
    }
    const QRect button = Button();
    if (m_pushed) {
      quarry::DrawEdge(painter, button, false);
    } else if (m_hot) {
      quarry::DrawEdge(painter, button, true);
    }
    // The cross, drawn in the text colour; pushed, it moves with the sunken face.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), quarry::kGlyphPenWidth));
    const QRectF glyph = QRectF(button)
                             .adjusted(quarry::kGlyphInset + 0.5, quarry::kGlyphInset + 0.5,
                                       -quarry::kGlyphInset - 0.5, -quarry::kGlyphInset - 0.5)
                             .translated(m_pushed ? 1 : 0, m_pushed ? 1 : 0);
    painter.drawLine(glyph.topLeft(), glyph.bottomRight());
    painter.drawLine(glyph.topRight(), glyph.bottomLeft());
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && Button().contains(event->position().toPoint())) {
      m_pressedOnButton = true;
      SetState(false, true);
      return;
    }
    event->ignore();  // the dock widget drags the bar
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    UpdateState(event->position().toPoint(), event->buttons());
    if (!m_pressedOnButton) event->ignore();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!m_pressedOnButton) {
      event->ignore();
      return;
    }
    m_pressedOnButton = false;
    const bool over = Button().contains(event->position().toPoint());
    SetState(over, false);
    if (over && event->button() == Qt::LeftButton) {
      SetState(false, false);
      m_bar->hide();
    }
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (Button().contains(event->position().toPoint())) {
      mousePressEvent(event);  // a quick second click on the button is a click
      return;
    }
    event->ignore();  // the dock widget floats or docks the bar
  }
  void leaveEvent(QEvent*) override { SetState(false, m_pushed && m_pressedOnButton); }

private:
  void UpdateState(const QPoint& point, Qt::MouseButtons buttons) {
    const bool over = Button().contains(point);
    const bool down = buttons & Qt::LeftButton;
    SetState(over && !down, over && down && m_pressedOnButton);
  }

  void SetState(bool hot, bool pushed) {
    if (hot == m_hot && pushed == m_pushed) return;
    m_hot = hot;
    m_pushed = pushed;
    update();
  }

  CGripperBar* m_bar;
  bool m_vertical = false;
  bool m_hot = false;
  bool m_pushed = false;
  bool m_pressedOnButton = false;
};

CGripperBar::CGripperBar(const QString& title, QMainWindow* frame, const QSize& defaultSize, int id,
                         bool showGripper)
    : CSizingBar(title, frame, defaultSize, id),
      m_title(new CGripperTitle(this)),
      m_showGripper(showGripper) {
  if (!showGripper) m_title->setFixedSize(0, 0);
  setTitleBarWidget(m_title);
  WatchMouse(m_title);
  connect(qApp, &QApplication::focusChanged, this, &CGripperBar::OnFocusChanged);
  connect(this, &QWidget::windowTitleChanged, m_title, qOverload<>(&QWidget::update));
}

bool CGripperBar::CloseHot() const { return m_title->hot(); }

bool CGripperBar::ClosePushed() const { return m_title->pushed(); }

QRect CGripperBar::CloseButtonGeometry() const {
  if (!m_showGripper) return QRect();
  return m_title->Button().translated(m_title->pos());
}

Qt::Edge CGripperBar::TitleSide() const {
  if (!m_showGripper) return Qt::Edge(0);
  return m_title->vertical() ? Qt::LeftEdge : Qt::TopEdge;
}

void CGripperBar::PlaceChanged() {
  const bool vertical = quarry::VerticalGripper(Side(), isFloating());
  setFeatures(vertical ? features() | QDockWidget::DockWidgetVerticalTitleBar
                       : features() & ~QDockWidget::DockWidgetVerticalTitleBar);
  m_title->SetVertical(vertical);
}

void CGripperBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), quarry::kBarFill);
  painter.setPen(quarry::kBarBorder);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CGripperBar::OnFocusChanged() {
  QWidget* focus = QApplication::focusWidget();
  const bool active = focus && isAncestorOf(focus);
  if (active == m_active) return;
  m_active = active;
  m_title->update();
}
