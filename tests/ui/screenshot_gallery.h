// The screenshot gallery: UI tests save every window state a user sees as a PNG file under
// build/<tree>/screenshots/, so a reviewer can look at each window without running Quarry.
// Widgets are grabbed offscreen; a pop-up (menu, tool tip, label) is grabbed on its own.
#pragma once

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

#ifndef QUARRY_SCREENSHOT_DIR
#error "QUARRY_SCREENSHOT_DIR names the gallery folder; tests/ui/CMakeLists.txt defines it"
#endif

namespace quarry::testing {

// Writes `widget` as it is drawn now to "<gallery>/<name>.png"; false when it could not.
inline bool SaveScreenshot(QWidget& widget, const QString& name) {
  const QString folder = QStringLiteral(QUARRY_SCREENSHOT_DIR);
  if (!QDir().mkpath(folder)) return false;
  return widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace quarry::testing
