// CAddTaskDlg: the dialog in which the user describes new tasks: keywords (one a line, typed or
// loaded from a UTF-8 text file; each line is a task), the folder to save under, the number of
// download threads (1 to 6, with arrows only), the number of result pages (1 to 500), the kind
// of file, the file filters (a section that opens on demand, starting from the settings'
// defaults), and whether the first task starts at once. OK checks every line and keeps the dialog
// open, with a message naming the line, for any a task could not be made from; keywords that
// are already unfinished tasks of the same kind and folder are left out and named.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "engine/search_task.h"
#include "records/file_facts.h"

class CFileRulesBox;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

class CAddTaskDlg : public QDialog {
  Q_OBJECT

public:
  // Chooses a folder: returns its path, or an empty text when the user cancelled.
  using FolderPicker =
      std::function<QString(QWidget* parent, const QString& title, const QString& start)>;

  // A fresh dialog: empty keyword, <home>DownData/, 3 threads, 50 pages, images, start at once.
  explicit CAddTaskDlg(const std::string& home, QWidget* parent = nullptr, int id = 150);

  // Chooses a file to read: returns its path, or an empty text when the user cancelled.
  using FilePicker = FolderPicker;

  // The confirmed values (after OK) of the first task: trimmed keyword, folder, threads, pages
  // and kind.
  const quarry::NewTaskValues& Values() const { return m_values; }
  // The confirmed values of every task to add, in the order of the lines, twins left out.
  const std::vector<quarry::NewTaskValues>& TaskValues() const { return m_tasks; }
  // The keywords OK left out because their task is already unfinished.
  const std::vector<std::string>& Skipped() const { return m_skipped; }
  // The unfinished tasks a new one must not repeat (same kind and folder).
  void SetUnfinishedTasks(std::vector<quarry::SearchTask> tasks) {
    m_unfinished = std::move(tasks);
  }
  // The filters shown: those the new tasks start from (the settings' defaults), and after OK
  // those every new task gets.
  void SetRules(const quarry::FileRules& rules);
  quarry::FileRules Rules() const;
  // Opens or closes the filter section.
  void ShowRules(bool shown);
  CFileRulesBox* RulesBox() const { return m_rules; }
  QToolButton* RulesToggle() const { return m_rulesToggle; }
  // Whether "立即下载" was ticked.
  bool StartAtOnce() const;
  // Replaces the desktop's folder picker (tests).
  void SetFolderPicker(FolderPicker picker) { m_picker = std::move(picker); }
  // Replaces the desktop's file picker of the keyword-file button (tests).
  void SetFilePicker(FilePicker picker) { m_filePicker = std::move(picker); }

public slots:
  void accept() override;

private:
  void Browse();
  void ShowRulesSummary();
  // Puts the keywords of a chosen UTF-8 file into the box, one a line (blank and '#' lines
  // left out); a file that cannot be read or is not UTF-8 is told and changes nothing.
  void LoadKeywordFile();
  // The reason a trimmed keyword cannot be stored whole or name the task's folder, or an empty
  // text.
  static QString KeywordRefusal(const QString& keyword);
  void Refuse(const QString& message, QWidget* focus);

  quarry::NewTaskValues m_values;
  std::vector<quarry::NewTaskValues> m_tasks;
  std::vector<std::string> m_skipped;
  std::vector<quarry::SearchTask> m_unfinished;
  QPlainTextEdit* m_keyword;
  QPushButton* m_loadKeywords;
  QLineEdit* m_folder;
  QPushButton* m_browse;
  QSpinBox* m_threads;
  QLineEdit* m_pages;
  QButtonGroup* m_kinds;
  QCheckBox* m_startAtOnce;
  QToolButton* m_rulesToggle;
  CFileRulesBox* m_rules;
  FolderPicker m_picker;
  FilePicker m_filePicker;
};
