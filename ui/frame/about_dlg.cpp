// CAboutDlg. The contents sit at their places in the full-size box from the start; while the
// box grows or shrinks its rounded mask shows only as much of them as its height allows.
#include "ui/frame/about_dlg.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimerEvent>
#include <algorithm>

#include "ui/frame/link_label.h"

namespace quarry {

namespace {

constexpr int kTextLeft = 30;
constexpr int kTextWidth = kAboutSize.width() - 2 * kTextLeft;
constexpr int kTitlePixels = 22;
constexpr int kLineHeight = 20;
constexpr QRect kOkRect(kAboutSize.width() - 100, kAboutSize.height() - 42, 70, 26);

QFont AboutFont(int pixels, bool bold = false) {
  QFont font;
  font.setFamilies(
      {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QLabel* TextLine(QWidget* parent, const QString& text, int top, const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  QPalette colours = label->palette();
  colours.setColor(QPalette::WindowText, kAboutText);
  label->setPalette(colours);
  label->setGeometry(kTextLeft, top, kTextWidth, QFontMetrics(font).height() + 2);
  return label;
}

QPainterPath Rounded(const QRectF& rect) {
  QPainterPath path;
  const qreal radius = std::min<qreal>(kAboutRadius, rect.height() / 2);
  path.addRoundedRect(rect, radius, radius);
  return path;
}

}  // namespace

QRect AboutGeometry(const QRect& screen, int height) {
  QRect box(QPoint(0, 0), QSize(kAboutSize.width(), height));
  box.moveCenter(screen.center());
  return box;
}

}  // namespace quarry

CAboutButton::CAboutButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setObjectName(QStringLiteral("1"));
  setCursor(Qt::PointingHandCursor);
}

void CAboutButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QColor(60, 60, 60));
  painter.setBrush(m_hot ? quarry::kAboutButtonHover : quarry::kAboutButton);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
  painter.setPen(isDown() ? QColor(255, 255, 255) : QColor(20, 20, 20));
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter, text());
}

void CAboutButton::enterEvent(QEnterEvent* event) {
  QPushButton::enterEvent(event);
  m_hot = true;
  update();
}

void CAboutButton::leaveEvent(QEvent* event) {
  QPushButton::leaveEvent(event);
  m_hot = false;
  update();
}

CAboutDlg::CAboutDlg(const QString& readme, const std::string& home, QWidget* parent, int id)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QString::number(id));
  setWindowTitle(QStringLiteral("关于Rivulet"));
  setModal(true);
  const QFont text = quarry::AboutFont(quarry::kAboutFontPixels);
  setFont(text);
  quarry::TextLine(this, QStringLiteral("Quarry " QUARRY_VERSION), 48,
                   quarry::AboutFont(quarry::kTitlePixels, true));
  quarry::TextLine(this, QStringLiteral("献给每一位耐心在网上搜寻资料的人。"), 82, text);
  quarry::TextLine(this, QStringLiteral("按关键词从搜索引擎成批下载同一类文件，"), 110, text);
  quarry::TextLine(this, QStringLiteral("记下每个文件的来源；任务队列在重启后依然保留。"),
                   110 + quarry::kLineHeight, text);

  m_readmeLink = new CLinkLabel(QStringLiteral("项目说明：README.md"), this, 1012);
  m_readmeLink->SetLink(readme);
  m_readmeLink->setGeometry(quarry::kTextLeft, 160, quarry::kTextWidth, quarry::kLineHeight);
  const QString homeText = QString::fromStdString(home);
  m_homeLink = new CLinkLabel(QString(), this, 1013);
  m_homeLink->setText(QFontMetrics(text).elidedText(QStringLiteral("主文件夹：") + homeText,
                                                    Qt::ElideMiddle, quarry::kTextWidth));
  m_homeLink->SetLink(homeText);
  m_homeLink->setGeometry(quarry::kTextLeft, 160 + quarry::kLineHeight + 2, quarry::kTextWidth,
                          quarry::kLineHeight);
  for (CLinkLabel* link : {m_readmeLink, m_homeLink}) link->setFont(text);

  m_ok = new CAboutButton(QStringLiteral("确定"), this);
  m_ok->setGeometry(quarry::kOkRect);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &CAboutDlg::StartClosing);
  SetHeight(0);
}

void CAboutDlg::StartClosing() {
  m_growing = false;
  m_timer.start(quarry::kAboutTickMs, Qt::PreciseTimer, this);
}

void CAboutDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_growing = true;
  m_height = 0;
  SetHeight(0);
  m_timer.start(quarry::kAboutTickMs, Qt::PreciseTimer, this);
}

void CAboutDlg::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box(QPointF(0, 0), QSizeF(quarry::kAboutSize));
  painter.fillPath(quarry::Rounded(box), quarry::kAboutBackground);
  // The caption strip: the top of the rounded box, cut off at its own height.
  QPainterPath caption = quarry::Rounded(box).intersected([] {
    QPainterPath strip;
    strip.addRect(0, 0, quarry::kAboutSize.width(), quarry::kAboutCaptionHeight);
    return strip;
  }());
  painter.fillPath(caption, quarry::kAboutCaption);
  painter.setPen(quarry::kAboutText);
  painter.setFont(font());
  painter.drawText(
      QRect(quarry::kAboutRadius, 0, quarry::kAboutSize.width(), quarry::kAboutCaptionHeight),
      Qt::AlignLeft | Qt::AlignVCenter, windowTitle());
}

void CAboutDlg::timerEvent(QTimerEvent* event) {
  if (event->timerId() != m_timer.timerId()) {
    QDialog::timerEvent(event);
    return;
  }
  const int full = quarry::kAboutSize.height();
  if (m_growing) {
    SetHeight(std::min(m_height + quarry::kAboutStep, full));
    if (m_height >= full) m_timer.stop();
    return;
  }
  SetHeight(std::max(m_height - quarry::kAboutStep, 0));
  if (m_height <= 0) {
    m_timer.stop();
    accept();
  }
}

void CAboutDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CAboutDlg::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - m_dragOffset);
}

void CAboutDlg::keyPressEvent(QKeyEvent* event) {
  // Escape closes the box the same way as its button does.
  if (event->key() == Qt::Key_Escape) {
    StartClosing();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CAboutDlg::SetHeight(int height) {
  m_height = height;
  // Growing and shrinking keep the box centred where it was opened.
  QRect area = geometry();
  if (m_height == 0 || !isVisible()) {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), quarry::kAboutSize);
  }
  const QRect place = quarry::AboutGeometry(area, std::max(m_height, 1));
  setGeometry(place);
  setMask(QRegion(quarry::Rounded(QRectF(0, 0, place.width(), std::max(m_height, 1)))
                      .toFillPolygon()
                      .toPolygon()));
  // Qt needs a height; an empty box is a one-pixel line hidden by its empty mask.
  if (m_height == 0) setMask(QRegion(0, 0, 1, 1));
}
