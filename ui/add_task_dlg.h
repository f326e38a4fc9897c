// CAddTaskDlg: the dialog in which the user describes a new task: keyword, the folder to save
// under, the number of download threads (1 to 6, with arrows only), the number of result pages
// (1 to 500), the kind of file, and whether the task starts at once. OK checks the values and
// keeps the dialog open, with a message, for any the task could not be made from.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "engine/search_task.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CAddTaskDlg : public QDialog {
  Q_OBJECT

public:
  // Chooses a folder: returns its path, or an empty text when the user cancelled.
  using FolderPicker =
      std::function<QString(QWidget* parent, const QString& title, const QString& start)>;

  // A fresh dialog: empty keyword, <home>DownData/, 3 threads, 50 pages, images, start at once.
  explicit CAddTaskDlg(const std::string& home, QWidget* parent = nullptr, int id = 150);

  // The confirmed values (after OK): trimmed keyword, folder, threads, pages and kind.
  const quarry::NewTaskValues& Values() const { return m_values; }
  // Whether "立即下载" was ticked.
  bool StartAtOnce() const;
  // Replaces the desktop's folder picker (tests).
  void SetFolderPicker(FolderPicker picker) { m_picker = std::move(picker); }

public slots:
  void accept() override;

private:
  void Browse();
  // The reason a trimmed keyword cannot be stored whole or name the task's folder, or an empty
  // text.
  static QString KeywordRefusal(const QString& keyword);
  void Refuse(const QString& message, QWidget* focus);

  quarry::NewTaskValues m_values;
  QLineEdit* m_keyword;
  QLineEdit* m_folder;
  QPushButton* m_browse;
  QSpinBox* m_threads;
  QLineEdit* m_pages;
  QButtonGroup* m_kinds;
  QCheckBox* m_startAtOnce;
  FolderPicker m_picker;
};
