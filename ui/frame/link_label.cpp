// CLinkLabel. The hover colour is taken on entering; a timer then looks every 100 ms for the
// pointer having left, so that a leave the label never heard of (a pop-up, a fast move into
// another window) still restores the colour.
#include "ui/frame/link_label.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent, int id)
    : QLabel(text, parent),
      m_opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName(QString::number(id));
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_TranslucentBackground);
}

QUrl CLinkLabel::Target() const {
  const QString target = m_link.isEmpty() ? text() : m_link;
  return QUrl::fromUserInput(target, QDir::currentPath(), QUrl::AssumeLocalFile);
}

QColor CLinkLabel::CurrentColour() const {
  switch (m_look) {
    case Look::Hover: return quarry::kLinkHover;
    case Look::Visited: return quarry::kLinkVisited;
    case Look::Normal: break;
  }
  return quarry::kLinkNormal;
}

void CLinkLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(CurrentColour());
  painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, text());
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  SetLook(Look::Hover);
  m_hoverTimer.start(quarry::kLinkHoverCheckMs, this);
}

void CLinkLabel::timerEvent(QTimerEvent* event) {
  if (event->timerId() != m_hoverTimer.timerId()) {
    QLabel::timerEvent(event);
    return;
  }
  if (underMouse()) return;
  m_hoverTimer.stop();
  SetLook(m_visited ? Look::Visited : Look::Normal);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  if (!m_opener(Target())) {
    QApplication::beep();
    return;
  }
  m_visited = true;
  SetLook(Look::Visited);
}

void CLinkLabel::SetLook(Look look) {
  if (look == m_look) return;
  m_look = look;
  update();
}
