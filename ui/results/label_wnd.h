// CLabelWnd: the pop-up of the thumbnail grid that tells where the picture under the pointer
// came from and where it was saved: a 300 x 70 light-yellow box with a line "网址：" followed
// by the source address and a line "位置：" followed by the file's path. A text too long for
// its line goes on over a second line and is then shortened in the middle, so the start and
// the end (the file name) stay visible. The pop-up lets the mouse through to the grid below.
#pragma once

#include <QString>
#include <QWidget>

class CLabelWnd : public QWidget {
  Q_OBJECT

public:
  explicit CLabelWnd(QWidget* parent = nullptr);

  // Shows `url` and `path` from the next paint on.
  void SetTexts(const QString& url, const QString& path);
  const QString& url() const { return m_url; }
  const QString& path() const { return m_path; }

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QString m_url;
  QString m_path;
};
