// InfoPage: the first page of the information view, eight rows of figures of the selected
// task (keyword, state, start time, pages to fetch, pages fetched, files downloaded, folder,
// threads), each with the page's one icon, its label and its value; below them a ninth row
// with the search mode of the task's current or latest run and a tenth with its progress.
#pragma once

#include <QIcon>
#include <QString>
#include <QTreeWidget>

#include "engine/search_task.h"

class InfoPage : public QTreeWidget {
  Q_OBJECT

public:
  static constexpr int kRows = 8;         // the figures of the task record
  static constexpr int kModeRow = kRows;  // the row of the run's search mode
  static constexpr int kProgressRow = kModeRow + 1;  // how far the run has come
  static constexpr int kIconColumnWidth = 25;
  static constexpr int kLabelColumnWidth = 120;
  static constexpr int kValueColumnWidth = 900;
  static constexpr int kIconSize = 20;

  explicit InfoPage(QWidget* parent = nullptr);

  // Writes the eight values of `task` into the value column.
  void ShowTask(const quarry::SearchTask& task);
  // Writes the search mode of the task's run (empty when it has not run in this program).
  void ShowMode(const QString& mode);
  // Writes how far the task's run has come (empty when it has not run in this program).
  void ShowProgress(const QString& progress);
  // Empties the value column: no task is shown.
  void Clear();

  // The height that shows the header and every row without scrolling.
  int FullHeight() const;

  QString Label(int row) const;
  QString Value(int row) const;

  // "等待", "运行", "暂停" or "完成"; empty for a state byte the program does not know.
  static QString StateLabel(quarry::TaskState state);
  // The page's one icon, 20 x 20.
  static QIcon RowIcon();
};
