// The grid's address pop-up; see label_wnd.h.
#include "ui/results/label_wnd.h"

#include <QPainter>
#include <QStringList>
#include <QTextLayout>

#include "ui/results/thumbnail_layout.h"

namespace {

const QColor kLabelBackground(240, 240, 180);
const QColor kLabelBorder(0, 0, 0);
const QColor kLabelText(0, 0, 0);
constexpr int kLabelFontPixels = 12;
constexpr int kLabelMargin = 4;
const QString kAddressPrefix = QStringLiteral("网址：");
const QString kLocationPrefix = QStringLiteral("位置：");

// `text` in at most two lines of `width` pixels: broken anywhere, the second line shortened in
// the middle when the rest does not fit.
QStringList TwoLines(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine first = layout.createLine();
  if (!first.isValid()) {
    layout.endLayout();
    return {QString()};
  }
  first.setLineWidth(width);
  layout.endLayout();
  const QString rest = text.mid(first.textStart() + first.textLength());
  QStringList lines{text.mid(first.textStart(), first.textLength())};
  if (!rest.isEmpty()) lines << QFontMetrics(font).elidedText(rest, Qt::ElideMiddle, width);
  return lines;
}

}  // namespace

CLabelWnd::CLabelWnd(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LabelWnd"));
  setFixedSize(quarry::kLabelSize);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  QFont labelFont = font();
  labelFont.setPixelSize(kLabelFontPixels);
  setFont(labelFont);
  hide();
}

void CLabelWnd::SetTexts(const QString& url, const QString& path) {
  m_url = url;
  m_path = path;
}

void CLabelWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kLabelBackground);
  painter.setPen(kLabelBorder);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  painter.setPen(kLabelText);
  const int width = this->width() - 2 * kLabelMargin;
  const QFontMetrics metrics(font());
  QStringList lines = TwoLines(kAddressPrefix + m_url, font(), width);
  lines << TwoLines(kLocationPrefix + m_path, font(), width);
  int y = kLabelMargin;
  for (const QString& line : lines) {
    painter.drawText(QRect(kLabelMargin, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                     line);
    y += metrics.height();
  }
}
