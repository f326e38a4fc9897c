// FileList (IDC_FILE_LIST): the face of the result browser for document tasks, a report list of
// thirty saved files a page with the columns " " (the kind's icon), "序号" (the record's
// number), "标题" (the link's title), "文件名" (the saved file's name, its whole path in the
// tool tip) and "原始网址" (its address). A double-click asks for the row's file to be opened.
// Runs on the user-interface thread only.
#pragma once

#include <QTreeWidget>
#include <string>

#include "engine/search_task.h"
#include "records/record_store.h"
#include "ui/results/thumbnail_layout.h"

class FileList : public QTreeWidget {
  Q_OBJECT

public:
  enum Column { kIconColumn, kNumberColumn, kTitleColumn, kFileColumn, kUrlColumn, kColumnCount };

  explicit FileList(QWidget* parent = nullptr);

  // Empties the list and forgets the page position: a task of kind `kind` is about to be shown.
  void Reset(quarry::FileKind kind);
  // Shows the page `read` of the task's records and takes its page position.
  void ShowPage(const quarry::RecordPage& read);
  // Empties the list, keeping the page position: the page could not be read.
  void ClearPage() { clear(); }
  // A file saved while the task runs: counted, and listed when the page has fewer than 30 rows.
  void AddLiveRecord(const std::string& path, const std::string& url, const std::string& title);

  quarry::PagePosition position() const { return m_position; }
  // The saved file of `row`; empty for no row.
  static QString PathOf(const QTreeWidgetItem* row);
  long long total() const { return m_total; }

signals:
  // The user double-clicked a row whose file is `path`.
  void openRequested(const QString& path);

private:
  void AddRow(const std::string& path, const std::string& url, const std::string& title);

  quarry::FileKind m_kind = quarry::FileKind::Word;
  long long m_total = 0;  // records of the task, live additions included
  quarry::PagePosition m_position;
};
