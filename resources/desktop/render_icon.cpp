// render_icon: draws an SVG drawing into a square PNG of the size asked, for the installed
// application icon's fixed sizes; the build runs it, so the drawing is the only source.
//   render_icon SVG SIZE PNG
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kLargestSize = 1024;  // pixels; the hicolor theme's sizes stop at 512

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: render_icon SVG SIZE PNG\n", stderr);
    return 2;
  }
  const int size = std::atoi(argv[2]);
  if (size <= 0 || size > kLargestSize) {
    std::fprintf(stderr, "render_icon: bad size %s\n", argv[2]);
    return 2;
  }
  QSvgRenderer drawing(QString::fromLocal8Bit(argv[1]));
  if (!drawing.isValid()) {
    std::fprintf(stderr, "render_icon: cannot read %s\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter);
  }
  if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "render_icon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
