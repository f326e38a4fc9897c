// ThreadLog: the log page of one worker thread. Newest line on top; the page keeps at most 401
// lines and drops the oldest. Lines arrive in batches (see CInfoView), so a batch is one
// insertion at the top and at most one removal at the bottom, never a row at a time.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTreeView>
#include <deque>

inline constexpr int kMaxLogLines = 401;

class ThreadLogModel : public QAbstractTableModel {
  Q_OBJECT

public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Puts `oldestFirst` on top, the last of them topmost, and trims the page to kMaxLogLines.
  // Returns the number of lines that are now on the page from this batch.
  int AddLines(std::deque<QString> oldestFirst);
  const QString& Line(int row) const { return m_lines[static_cast<std::size_t>(row)]; }

private:
  std::deque<QString> m_lines;  // newest first
};

class ThreadLog : public QTreeView {
  Q_OBJECT

public:
  static constexpr int kMarkWidth = 20;    // column 0, a blank
  static constexpr int kTextWidth = 1000;  // column 1, the line, at least
  static constexpr int kTextMargin = 12;   // beside a line's own width in its column

  // The page of worker `thread` (1 to 6).
  explicit ThreadLog(int thread, QWidget* parent = nullptr);

  // Adds a batch as the model does; a line wider than the text column widens it, so that no
  // line is cut off and the page scrolls to the end of the longest.
  int AddLines(std::deque<QString> oldestFirst);
  int LineCount() const { return m_model.rowCount(); }
  // Line `row`, 0 being the newest.
  QString Line(int row) const { return m_model.Line(row); }

private:
  static constexpr int kControlColumns = 8;

  // At least the width `line` takes when drawn: each character counted at the widest of its
  // kind (printable ASCII, control, other).
  long long WidthBound(const QString& line) const;

  ThreadLogModel m_model;
  int m_asciiWidth = 0;
  int m_controlWidth = 0;
  int m_otherWidth = 0;
};
