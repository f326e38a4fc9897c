// FailurePage: the information view's page "失败列表". For the selected task it shows how many
// addresses did not become files for each reason, marking the reasons that "重试失败的文件" tries
// again, and beside that the failures themselves, one a row: reason, attempts, address, detail.
//
// The page is filled from the task's database when the frame asks (the selection moved, a task
// ended), never while a task's threads write. A task may hold thousands of failures: the rows
// are read in one go but reach the list through a model that hands them out in batches as the
// list scrolls, so the view builds only the rows it is asked for.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "records/file_facts.h"

class QLabel;
class QTreeView;
class QTreeWidget;

// The failures as a table of four columns, handed to the view kBatch rows at a time.
class FailureModel : public QAbstractTableModel {
  Q_OBJECT

public:
  enum Column { kReasonColumn, kAttemptsColumn, kUrlColumn, kDetailColumn, kColumnCount };
  static constexpr int kBatch = 200;

  explicit FailureModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  void SetFailures(std::vector<quarry::FailureRow> failures);
  // Every failure, handed out or not.
  int Total() const { return static_cast<int>(m_failures.size()); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

private:
  std::vector<quarry::FailureRow> m_failures;
  int m_shown = 0;  // rows handed to the view
};

class FailurePage : public QWidget {
  Q_OBJECT

public:
  static constexpr int kCountsWidth = 260;
  // The counts' columns.
  enum CountColumn { kCountReasonColumn, kCountColumn, kRetryColumn };

  explicit FailurePage(QWidget* parent = nullptr);

  // Reads the failures of the task folder `folder` (ending with '/') and shows them. A folder
  // without a database (a task that never ran) shows none; false, showing none and a line
  // that says why, when the database cannot be read.
  bool ShowFolder(const std::string& folder);
  // Shows `failures`.
  void ShowFailures(std::vector<quarry::FailureRow> failures);
  // Shows nothing: no task is selected.
  void Clear();

  // How many failures of `reason` are shown.
  int Count(quarry::FailureReason reason) const {
    return m_counts[static_cast<std::size_t>(reason)];
  }
  QLabel* Summary() const { return m_summary; }
  QTreeWidget* Counts() const { return m_countList; }
  QTreeView* List() const { return m_list; }
  FailureModel* Model() const { return m_model; }

private:
  std::array<int, quarry::kFailureReasonCount> m_counts{};
  QLabel* m_summary;
  QTreeWidget* m_countList;
  QTreeView* m_list;
  FailureModel* m_model;
};
