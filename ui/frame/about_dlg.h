// CAboutDlg: the About box. A frameless, rounded grey box that opens centred on the screen by
// growing from nothing and closes by shrinking back when its OK button is pressed; it can be
// dragged by any point. It shows the program's title, a dedication, two lines about the
// program and two links: the project's README and the program's home folder.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QDialog>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <string>

class CLinkLabel;

namespace quarry {

inline constexpr QSize kAboutSize{390, 240};
inline constexpr int kAboutRadius = 20;
inline constexpr int kAboutCaptionHeight = 35;
inline constexpr int kAboutStep = 5;  // pixels of height per tick
inline constexpr int kAboutTickMs = 1;
inline constexpr int kAboutFontPixels = 13;
inline constexpr QColor kAboutBackground{120, 120, 120};
inline constexpr QColor kAboutCaption{72, 72, 72};
inline constexpr QColor kAboutText{240, 240, 240};
inline constexpr QColor kAboutButton{150, 150, 150};
inline constexpr QColor kAboutButtonHover{190, 190, 190};

// The box's place when it is `height` pixels high, centred in `screen`.
QRect AboutGeometry(const QRect& screen, int height);

}  // namespace quarry

// The About box's OK button, drawn by us, lighter while the pointer is over it.
class CAboutButton : public QPushButton {
  Q_OBJECT

public:
  CAboutButton(const QString& text, QWidget* parent);
  bool Hot() const { return m_hot; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

private:
  bool m_hot = false;
};

class CAboutDlg : public QDialog {
  Q_OBJECT

public:
  // `readme` is the path of the project's README, `home` the home folder.
  CAboutDlg(const QString& readme, const std::string& home, QWidget* parent = nullptr,
            int id = 100);

  bool IsOpening() const { return m_growing && m_timer.isActive(); }
  bool IsClosing() const { return !m_growing && m_timer.isActive(); }
  CLinkLabel* ReadmeLink() const { return m_readmeLink; }
  CLinkLabel* HomeLink() const { return m_homeLink; }
  CAboutButton* OkButton() const { return m_ok; }

public slots:
  // Starts shrinking; the box closes, accepted, when nothing is left of it.
  void StartClosing();

protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void SetHeight(int height);

  QBasicTimer m_timer;
  bool m_growing = true;
  int m_height = 0;
  QPoint m_dragOffset;
  CLinkLabel* m_readmeLink;
  CLinkLabel* m_homeLink;
  CAboutButton* m_ok;
};
