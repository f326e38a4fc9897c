// CSizingBar. The bar's widget is a plain body that holds the child inside the client margins;
// the body and the title strip are watched for presses on the sizing edge, which the bar
// tracks itself (the main window's own separator does the same job from the other side), and
// presses on the margins, which are handed to Qt's dock drag as if they hit the title strip.
//
// A change of place shows up as Qt reparents and lays the bar out, in several resize events
// with sizes left over from the old place. Until the size of the new place has been restored
// those events are not recorded, else the old place's size would overwrite the new one's.
#include "ui/bars/sizing_bar.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSettings>
#include <QTimer>
#include <algorithm>

namespace quarry {

namespace {

constexpr int kFloatingBorder = 3;  // left, right and bottom of a floating bar
// Section and keys of the profile, in the order they are written.
constexpr char kSectionFormat[] = "%1-SCBar-%2";
constexpr const char* kSizeKeys[3][2] = {
    {"sizeHorzCX", "sizeHorzCY"}, {"sizeVertCX", "sizeVertCY"}, {"sizeFloatCX", "sizeFloatCY"}};

}  // namespace

BarPlace PlaceOf(Qt::DockWidgetArea side, bool floating) {
  if (floating) return BarPlace::Floating;
  switch (side) {
    case Qt::TopDockWidgetArea:
    case Qt::BottomDockWidgetArea: return BarPlace::Horizontal;
    case Qt::LeftDockWidgetArea:
    case Qt::RightDockWidgetArea: return BarPlace::Vertical;
    default: return BarPlace::Floating;
  }
}

QSize MinimumBarSize(BarPlace place) {
  switch (place) {
    case BarPlace::Horizontal: return kMinHorizontalSize;
    case BarPlace::Vertical: return kMinVerticalSize;
    case BarPlace::Floating: break;
  }
  return kMinFloatingSize;
}

Qt::Edge SizingEdgeOf(Qt::DockWidgetArea side) {
  switch (side) {
    case Qt::LeftDockWidgetArea: return Qt::RightEdge;
    case Qt::RightDockWidgetArea: return Qt::LeftEdge;
    case Qt::TopDockWidgetArea: return Qt::BottomEdge;
    case Qt::BottomDockWidgetArea: return Qt::TopEdge;
    default: return Qt::Edge(0);
  }
}

QRect SizingEdgeRect(const QRect& bar, Qt::DockWidgetArea side) {
  switch (SizingEdgeOf(side)) {
    case Qt::RightEdge:
      return QRect(bar.right() - kSizingEdge + 1, bar.top(), kSizingEdge, bar.height());
    case Qt::LeftEdge: return QRect(bar.left(), bar.top(), kSizingEdge, bar.height());
    case Qt::BottomEdge:
      return QRect(bar.left(), bar.bottom() - kSizingEdge + 1, bar.width(), kSizingEdge);
    case Qt::TopEdge: return QRect(bar.left(), bar.top(), bar.width(), kSizingEdge);
  }
  return QRect();
}

QMargins ClientMargins(Qt::DockWidgetArea side, bool floating, Qt::Edge titleSide) {
  QMargins margins = floating
                         ? QMargins(kFloatingBorder, kSizingEdge, kFloatingBorder, kFloatingBorder)
                         : QMargins(kSizingEdge, kSizingEdge, kSizingEdge, kSizingEdge);
  if (!floating) {
    switch (SizingEdgeOf(side)) {
      case Qt::RightEdge: margins.setRight(margins.right() + kSizingEdge); break;
      case Qt::LeftEdge: margins.setLeft(margins.left() + kSizingEdge); break;
      case Qt::BottomEdge: margins.setBottom(margins.bottom() + kSizingEdge); break;
      case Qt::TopEdge: margins.setTop(margins.top() + kSizingEdge); break;
    }
  }
  // The title strip already holds the border on its side.
  if (titleSide == Qt::TopEdge) margins.setTop(0);
  if (titleSide == Qt::LeftEdge) margins.setLeft(0);
  return margins;
}

QSize TrackedSize(Qt::DockWidgetArea side, const QSize& start, const QPoint& delta,
                  const QSize& minimum) {
  QSize size = start;
  switch (SizingEdgeOf(side)) {
    case Qt::RightEdge: size.setWidth(start.width() + delta.x()); break;
    case Qt::LeftEdge: size.setWidth(start.width() - delta.x()); break;
    case Qt::BottomEdge: size.setHeight(start.height() + delta.y()); break;
    case Qt::TopEdge: size.setHeight(start.height() - delta.y()); break;
  }
  return size.expandedTo(minimum);
}

}  // namespace quarry

using quarry::BarPlace;

// The bar's widget. The main window sizes a dock widget from its widget's size hint, so the
// body asks for the bar's current size less the title strip; its minimum is left to the bar.
class CSizingBar::Body : public QWidget {
public:
  explicit Body(CSizingBar* bar) : QWidget(bar), m_bar(bar) {}
  QSize sizeHint() const override {
    QSize size = m_bar->sizeHint();
    if (const QWidget* title = m_bar->titleBarWidget()) {
      const QSize strip = title->sizeHint();
      if (m_bar->features() & QDockWidget::DockWidgetVerticalTitleBar) {
        size.rwidth() -= strip.width();
      } else {
        size.rheight() -= strip.height();
      }
    }
    return size.expandedTo(QSize(0, 0));
  }
  QSize minimumSizeHint() const override { return QSize(0, 0); }

private:
  CSizingBar* m_bar;
};

CSizingBar::CSizingBar(const QString& title, QMainWindow* frame, const QSize& defaultSize, int id)
    : QDockWidget(title, frame), m_frame(frame), m_id(id), m_body(new Body(this)) {
  setObjectName(QString::number(id));
  for (QSize& size : m_sizes) size = defaultSize;
  // Closable keeps the bar's entry in the main window's bar menu enabled; its close request
  // is refused below, so unticking the entry hides the bar instead.
  setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
              QDockWidget::DockWidgetFloatable);
  connect(toggleViewAction(), &QAction::triggered, this, [this](bool shown) {
    if (!shown) hide();
  });
  setAllowedAreas(Qt::AllDockWidgetAreas);
  m_body->setObjectName(QStringLiteral("BarBody"));
  setWidget(m_body);
  WatchMouse(m_body);
  connect(this, &QDockWidget::topLevelChanged, this, &CSizingBar::OnPlaceChanged);
  connect(this, &QDockWidget::dockLocationChanged, this, &CSizingBar::OnPlaceChanged);
  setMinimumSize(quarry::MinimumBarSize(m_place));
}

void CSizingBar::SetChild(QWidget* child) {
  m_child = child;
  child->setParent(m_body);
  child->show();
  LayOutChild();
}

QSize CSizingBar::CurrentSize(BarPlace place) const { return m_sizes[static_cast<int>(place)]; }

void CSizingBar::LoadState(QSettings& profile, const QString& profileName) {
  profile.beginGroup(QString::fromLatin1(quarry::kSectionFormat).arg(profileName).arg(m_id));
  for (BarPlace place : {BarPlace::Horizontal, BarPlace::Vertical, BarPlace::Floating}) {
    const int index = static_cast<int>(place);
    const QSize minimum = quarry::MinimumBarSize(place);
    bool ok = false;
    const int cx = profile.value(QLatin1String(quarry::kSizeKeys[index][0])).toInt(&ok);
    if (ok) m_sizes[index].setWidth(std::max(cx, minimum.width()));
    const int cy = profile.value(QLatin1String(quarry::kSizeKeys[index][1])).toInt(&ok);
    if (ok) m_sizes[index].setHeight(std::max(cy, minimum.height()));
  }
  profile.endGroup();
  if (!m_settling) RestorePlaceSize();
}

void CSizingBar::SaveState(QSettings& profile, const QString& profileName) const {
  profile.beginGroup(QString::fromLatin1(quarry::kSectionFormat).arg(profileName).arg(m_id));
  for (int index = 0; index < 3; ++index) {
    profile.setValue(QLatin1String(quarry::kSizeKeys[index][0]), m_sizes[index].width());
    profile.setValue(QLatin1String(quarry::kSizeKeys[index][1]), m_sizes[index].height());
  }
  profile.endGroup();
}

QSize CSizingBar::sizeHint() const { return CurrentSize(m_place); }

QSize CSizingBar::minimumSizeHint() const { return quarry::MinimumBarSize(m_place); }

void CSizingBar::closeEvent(QCloseEvent* event) {
  // Only the close button hides the bar; a close request to the window is refused.
  event->ignore();
}

void CSizingBar::resizeEvent(QResizeEvent* event) {
  QDockWidget::resizeEvent(event);
  LayOutChild();
  CheckPlace();  // a move to another place may show up here before Qt reports it
  if (!m_settling && isVisible()) m_sizes[static_cast<int>(m_place)] = event->size();
}

void CSizingBar::WatchMouse(QWidget* widget) {
  widget->setMouseTracking(true);
  widget->installEventFilter(this);
}

bool CSizingBar::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
      return HandleMouse(static_cast<QWidget*>(watched), static_cast<QMouseEvent*>(event));
    case QEvent::Leave:
      if (!m_tracking) static_cast<QWidget*>(watched)->unsetCursor();
      break;
    case QEvent::Resize:
      if (watched == m_body) LayOutChild();
      break;
    default: break;
  }
  return QDockWidget::eventFilter(watched, event);
}

bool CSizingBar::HandleMouse(QWidget* widget, QMouseEvent* event) {
  const QPoint point = widget->mapTo(this, event->position().toPoint());
  const bool onEdge =
      quarry::SizingEdgeRect(rect(), isFloating() ? Qt::NoDockWidgetArea : m_side).contains(point);
  if (m_tracking) {
    if (event->type() == QEvent::MouseMove) {
      const QSize size = quarry::TrackedSize(m_side, m_trackStartSize,
                                             event->globalPosition().toPoint() - m_trackStart,
                                             quarry::MinimumBarSize(m_place));
      ApplyExtent(size);
    } else if (event->type() == QEvent::MouseButtonRelease ||
               (event->type() == QEvent::MouseButtonPress && event->button() == Qt::RightButton)) {
      EndTracking();
    }
    return true;
  }
  if (event->type() == QEvent::MouseMove && event->buttons() == Qt::NoButton) {
    if (onEdge) {
      const Qt::Edge edge = quarry::SizingEdgeOf(m_side);
      widget->setCursor(edge == Qt::LeftEdge || edge == Qt::RightEdge ? Qt::SizeHorCursor
                                                                      : Qt::SizeVerCursor);
    } else {
      widget->unsetCursor();
    }
    return false;
  }
  if (event->type() == QEvent::MouseButtonPress && event->button() == Qt::LeftButton && onEdge) {
    m_tracking = true;
    m_trackStart = event->globalPosition().toPoint();
    m_trackStartSize = size();
    return true;
  }
  if (widget != m_body) return false;  // the title strip handles the rest itself
  // The margins of the client area: a press drags the bar and a double-click floats or docks
  // it, as on the title strip. Qt's drag starts only from the title strip, so the press is
  // handed to the bar as if it hit the strip at the same distance from the bar's left.
  if (event->type() == QEvent::MouseButtonDblClick && event->button() == Qt::LeftButton) {
    setFloating(!isFloating());
    return true;
  }
  QWidget* title = titleBarWidget();
  const QRect titleArea = title ? title->geometry() : QRect(0, 0, width(), quarry::kSizingEdge);
  const QPoint inTitle(std::clamp(point.x(), titleArea.left(), titleArea.right()),
                       titleArea.center().y());
  QMouseEvent moved(event->type(), QPointF(inTitle), event->globalPosition(), event->button(),
                    event->buttons(), event->modifiers());
  QApplication::sendEvent(this, &moved);
  return true;
}

void CSizingBar::EndTracking() {
  m_tracking = false;
  m_sizes[static_cast<int>(m_place)] = size();
}

void CSizingBar::OnPlaceChanged() {
  CheckPlace();
  // Qt may report the side before the bar has left its floating window; look again later.
  QTimer::singleShot(0, this, &CSizingBar::CheckPlace);
}

void CSizingBar::CheckPlace() {
  const bool floating = isFloating();
  const Qt::DockWidgetArea side = floating ? Qt::NoDockWidgetArea : m_frame->dockWidgetArea(this);
  const BarPlace place = quarry::PlaceOf(side, floating);
  if (place == m_place && side == m_side) return;
  m_place = place;
  m_side = side;
  m_settling = true;
  setMinimumSize(quarry::MinimumBarSize(m_place));
  PlaceChanged();
  LayOutChild();
  // Qt lays the bar out in its new place after this returns; restore the size after that.
  QTimer::singleShot(0, this, &CSizingBar::RestorePlaceSize);
}

void CSizingBar::RestorePlaceSize() {
  CheckPlace();
  ApplyExtent(CurrentSize(m_place));
  m_settling = false;
}

void CSizingBar::ApplyExtent(const QSize& size) {
  if (isFloating()) {
    resize(size);
    return;
  }
  if (m_place == BarPlace::Vertical) {
    m_frame->resizeDocks({this}, {size.width()}, Qt::Horizontal);
  } else if (m_place == BarPlace::Horizontal) {
    m_frame->resizeDocks({this}, {size.height()}, Qt::Vertical);
  }
}

void CSizingBar::LayOutChild() {
  if (!m_child) return;
  const QMargins margins = quarry::ClientMargins(m_side, isFloating(), TitleSide());
  // The margins are measured from the bar's outline; the body starts after the title strip.
  const QRect client = rect().marginsRemoved(margins).intersected(m_body->geometry());
  m_child->setGeometry(QRect(m_body->mapFrom(this, client.topLeft()), client.size()));
}
