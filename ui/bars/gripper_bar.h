// CGripperBar: the sizing bar in Quarry's grey look, with a gripper to drag it by and a small
// close button at the gripper's end. The gripper is the dock widget's title strip, drawn by
// us: along the top of the bar, or down its left side when the bar is docked at the top or
// bottom of the window. Releasing the button over the close button hides the bar; the main
// window's tool-bar context menu shows it again.
#pragma once

#include <QColor>
#include <QRect>

#include "ui/bars/sizing_bar.h"

namespace quarry {

inline constexpr int kGripperWidth = 12;
inline constexpr int kTitleExtent = kSizingEdge + kGripperWidth;  // border plus gripper
inline constexpr int kCloseButtonSize = 13;
inline constexpr int kCloseButtonInset = 12;  // from the bar's edge at the gripper's end
inline constexpr int kGripperLineGap = 3;     // between the starts of the two lines
inline constexpr QColor kBarFill{100, 100, 100};
inline constexpr QColor kBarBorder{0, 0, 0};
inline constexpr QColor kEdgeLight{210, 210, 210};
inline constexpr QColor kEdgeDark{40, 40, 40};

// Where the gripper strip runs: along the top, or down the left side when docked top or bottom.
bool VerticalGripper(Qt::DockWidgetArea side, bool floating);

// The close button inside a title strip of `strip` (strip coordinates).
QRect CloseButtonRect(const QRect& strip, bool vertical);

// The two raised lines of the gripper inside `strip`: each a rectangle two pixels thick (light
// side first), ending before the close button.
struct GripperLines {
  QRect first;
  QRect second;
};
GripperLines GripperLineRects(const QRect& strip, bool vertical);

}  // namespace quarry

class CGripperTitle;

class CGripperBar : public CSizingBar {
  Q_OBJECT

public:
  CGripperBar(const QString& title, QMainWindow* frame, const QSize& defaultSize, int id,
              bool showGripper = true);

  // The state of the close button: hot (pointer over it, button up), pushed (pressed on it
  // and still over it); active while the focus is in the bar.
  bool CloseHot() const;
  bool ClosePushed() const;
  bool IsActive() const { return m_active; }
  // The close button in the bar's coordinates (empty without a gripper).
  QRect CloseButtonGeometry() const;

protected:
  Qt::Edge TitleSide() const override;
  void PlaceChanged() override;
  void paintEvent(QPaintEvent* event) override;

private:
  void OnFocusChanged();

  CGripperTitle* m_title;
  bool m_showGripper;
  bool m_active = false;
};
