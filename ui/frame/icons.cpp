// Icon loading. Each pixmap is rendered from the drawing at its own size rather than scaled
// from another, and the tool-bar size (16 x 15) keeps the drawing square, centred.
#include "ui/frame/icons.h"

#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>

// The resources live in a static library; their registration must be pulled in by name.
static void InitQuarryResources() { Q_INIT_RESOURCE(quarry); }

namespace quarry {

namespace {

constexpr QSize kIconSizes[] = {{16, 15}, {16, 16}, {24, 24}, {32, 32}, {48, 48}};

}  // namespace

QPixmap RenderIcon(const QString& name, const QSize& size) {
  static const bool initialised = (InitQuarryResources(), true);
  (void)initialised;
  QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
  if (!renderer.isValid()) return QPixmap();
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  const int side = std::min(size.width(), size.height());
  renderer.render(&painter,
                  QRectF((size.width() - side) / 2.0, (size.height() - side) / 2.0, side, side));
  return pixmap;
}

QIcon LoadIcon(const QString& name) {
  QIcon icon;
  for (const QSize& size : kIconSizes) {
    const QPixmap pixmap = RenderIcon(name, size);
    if (pixmap.isNull()) return QIcon();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace quarry
