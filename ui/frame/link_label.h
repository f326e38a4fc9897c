// CLinkLabel: a hyperlink in a dialog. Its text is drawn in one of three colours (normal,
// under the pointer, visited) with a hand cursor over it; a click opens its link with the
// desktop's handler, beeps when that fails and otherwise marks the link visited.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QLabel>
#include <QUrl>
#include <functional>

namespace quarry {

inline constexpr QColor kLinkNormal{170, 225, 255};
inline constexpr QColor kLinkHover{255, 226, 120};
inline constexpr QColor kLinkVisited{215, 180, 255};
inline constexpr int kLinkHoverCheckMs = 100;  // how often the pointer's leaving is looked for

}  // namespace quarry

class CLinkLabel : public QLabel {
  Q_OBJECT

public:
  enum class Look { Normal, Hover, Visited };
  // Opens a link; true when it was handed to a program.
  using Opener = std::function<bool(const QUrl&)>;

  CLinkLabel(const QString& text, QWidget* parent, int id);

  // The link to open; when empty, the text itself is opened.
  void SetLink(const QString& link) { m_link = link; }
  QUrl Target() const;
  Look CurrentLook() const { return m_look; }
  QColor CurrentColour() const;
  bool Visited() const { return m_visited; }
  // Replaces the desktop's handler (tests).
  void SetOpener(Opener opener) { m_opener = std::move(opener); }

protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  void SetLook(Look look);

  QString m_link;
  Look m_look = Look::Normal;
  bool m_visited = false;
  QBasicTimer m_hoverTimer;
  Opener m_opener;
};
