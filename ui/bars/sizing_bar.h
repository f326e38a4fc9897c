// CSizingBar: a docking bar that the user resizes by dragging its inner edge, floats, docks on
// any side of the main window and toggles between docked and floating with a double-click.
// It is a QDockWidget whose one child fills the client area (the size-the-child style).
//
// The bar keeps one current size for each place it can be in (docked along the top or bottom,
// docked on the left or right, floating); leaving a place and coming back restores the size
// it had there. Each place has a minimum that no drag goes below. The geometry of the frame
// around the child (borders, the sizing edge facing the main window's centre) is plain
// functions, so that it is tested without painting.
#pragma once

#include <QDockWidget>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QMainWindow;
class QSettings;

namespace quarry {

// The three places of a bar, each with a size of its own.
enum class BarPlace { Horizontal, Vertical, Floating };

inline constexpr int kSizingEdge = 5;  // width of the border and of the sizing edge
inline constexpr QSize kMinHorizontalSize{33, 32};
inline constexpr QSize kMinVerticalSize{33, 32};
inline constexpr QSize kMinFloatingSize{37, 32};
inline constexpr QSize kInitialBarSize{200, 200};  // before the default size is given

// Horizontal for the top and bottom, Vertical for the left and right, Floating otherwise.
BarPlace PlaceOf(Qt::DockWidgetArea side, bool floating);
QSize MinimumBarSize(BarPlace place);

// The edge of a bar docked on `side` that faces the frame's centre; Qt::NoDockWidgetArea
// (floating or undocked) has none.
Qt::Edge SizingEdgeOf(Qt::DockWidgetArea side);

// The strip of `bar` (a rectangle in the bar's own coordinates) that starts a resize when
// pressed; empty when the bar has no sizing edge.
QRect SizingEdgeRect(const QRect& bar, Qt::DockWidgetArea side);

// The space between the bar's outline and its client area, leaving out the side where the
// title (gripper) strip sits when `titleSide` is not 0: a border of 5 pixels (floating: 3 on
// the left, right and bottom, 5 at the top) plus the sizing edge.
QMargins ClientMargins(Qt::DockWidgetArea side, bool floating, Qt::Edge titleSide);

// The size along the dragged axis after the pointer moved by `delta` from the press, for a
// bar that had `start` when the drag began, never below `minimum`.
QSize TrackedSize(Qt::DockWidgetArea side, const QSize& start, const QPoint& delta,
                  const QSize& minimum);

}  // namespace quarry

class CSizingBar : public QDockWidget {
  Q_OBJECT

public:
  // A bar of `frame` with `title`, its three sizes set to `defaultSize`, named by its child
  // ID. It is not docked yet: the frame calls addDockWidget.
  CSizingBar(const QString& title, QMainWindow* frame, const QSize& defaultSize, int id);

  // Puts `child` into the bar; it fills the client area from now on.
  void SetChild(QWidget* child);
  QWidget* Child() const { return m_child; }

  int Id() const { return m_id; }
  quarry::BarPlace Place() const { return m_place; }
  Qt::DockWidgetArea Side() const { return m_side; }
  QSize CurrentSize(quarry::BarPlace place) const;
  bool IsTracking() const { return m_tracking; }

  // The six sizes in the profile section "<profile>-SCBar-<id>". On loading, a value below its
  // minimum becomes the minimum and a missing one keeps the current size.
  void LoadState(QSettings& profile, const QString& profileName);
  void SaveState(QSettings& profile, const QString& profileName) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  // The side of the bar where its title strip sits (0 when it has none): the client area
  // leaves that side to it.
  virtual Qt::Edge TitleSide() const { return Qt::Edge(0); }
  // Called when the bar's place or side has changed, before its size is restored.
  virtual void PlaceChanged() {}

  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Watches `widget` (a part of the bar drawn over it) for presses on the sizing edge and on
  // the client margins.
  void WatchMouse(QWidget* widget);

private:
  class Body;

  void OnPlaceChanged();
  void CheckPlace();
  void RestorePlaceSize();
  void ApplyExtent(const QSize& size);
  void LayOutChild();
  bool HandleMouse(QWidget* widget, QMouseEvent* event);
  void EndTracking();

  QMainWindow* m_frame;
  int m_id;
  QWidget* m_body;
  QWidget* m_child = nullptr;
  QSize m_sizes[3];
  quarry::BarPlace m_place = quarry::BarPlace::Floating;
  Qt::DockWidgetArea m_side = Qt::NoDockWidgetArea;
  bool m_settling = false;  // the place changed and its size is not restored yet
  bool m_tracking = false;
  QPoint m_trackStart;  // global position of the press on the sizing edge
  QSize m_trackStartSize;
};
