// Quarry's icons: SVG drawings in resources/icons/, compiled in through resources/quarry.qrc
// and rendered here at the sizes the window asks for, so they stay sharp at every size.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace quarry {

// The icon drawn in resources/icons/<name>.svg, with pixmaps for the tool bar (16 x 15) and for
// 16, 24, 32 and 48 pixels square. A null icon when there is no such drawing.
QIcon LoadIcon(const QString& name);

// The drawing of <name> rendered into `size`, centred and keeping its shape; a null pixmap when
// there is no such drawing.
QPixmap RenderIcon(const QString& name, const QSize& size);

}  // namespace quarry
