// CQuarryView: the result browser, the upper pane of the main window. It shows the files saved
// for the selected task, thirty a page: a ThumbnailList for image tasks, a FileList
// (IDC_FILE_LIST) for the document kinds, and pages through them with the four commands of
// the "结果浏览(&P)" menu, whose enabling rules it answers for whichever face is showing.
//
// Task control reaches it as the engine's ResultView. ShowTask comes on the user-interface
// thread. OnRecordAdded comes on worker threads while they hold their runner's view lock, so it
// only appends the record to a buffer and, for the first record of a batch, queues one call
// that drains the buffer on the user-interface thread: a worker never waits for that thread.
// ShowTask empties the buffer, so records of a task that was selected before never reach the
// page of the next one (task control detaches a runner before it shows another task).
//
// A task that never ran has no database yet: its page is empty and nothing is said. Only a
// database that exists and cannot be read is reported ("打开数据库出错!").
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/views.h"
#include "records/record_store.h"
#include "ui/results/thumbnail_layout.h"

class FileList;
class QLabel;
class ThumbnailList;

class CQuarryView : public QWidget, public quarry::ResultView {
  Q_OBJECT

public:
  // Shows a message to the user; replaced by tests, which cannot answer a message box.
  using MessageSink = std::function<void(const QString& text)>;

  explicit CQuarryView(QWidget* parent = nullptr);
  ~CQuarryView() override;

  // ResultView. ShowTask must be called on the user-interface thread; OnRecordAdded on any.
  void ShowTask(quarry::FileKind kind, const std::string& folder) override;
  // Shows no task, as before the first selection: the task shown was deleted.
  void Blank();
  void OnRecordAdded(quarry::FileKind kind, const std::string& localPath, const std::string& url,
                     const std::string& title) override;

  // The paging commands and their enabling rules, for the face that is showing.
  void NextPage();
  void PreviousPage();
  void FirstPage();
  void LastPage();
  bool CanNextPage() const { return quarry::CanNextPage(position()); }
  bool CanPreviousPage() const { return quarry::CanPreviousPage(position()); }
  bool CanFirstPage() const { return quarry::CanFirstPage(position()); }
  bool CanLastPage() const { return quarry::CanLastPage(position()); }
  quarry::PagePosition position() const;

  // True while the thumbnail grid is the face showing (also before any task was shown).
  bool showsThumbnails() const;
  ThumbnailList* thumbnailList() const { return m_thumbnails; }
  FileList* fileList() const { return m_files; }
  void SetMessageSink(MessageSink sink) { m_showMessage = std::move(sink); }
  // The line the empty grid shows while no task is shown (empty: none).
  void SetHint(const QString& hint);
  // "第 X / Y 页"; hidden while no task is shown.
  QLabel* pageLabel() const { return m_pageLabel; }
  // True from the moment a page is asked for until it is shown: it is read on another thread.
  bool IsLoadingPage() const { return m_loading; }

signals:
  // The page position or the face changed: the paging commands may be enabled differently.
  void pagingChanged();

private:
  struct SavedRecord {
    quarry::FileKind kind;
    std::string path;
    std::string url;
    std::string title;
  };

  // Asks for page `page`: the rows it is read from are fixed here, at once (so that every file
  // told afterwards is one the page does not hold), and the page is read on a pool thread and
  // shown when it comes, unless another page was asked for meanwhile.
  void LoadPage(int page);
  void ShowLoadedPage(int generation, bool ok, const quarry::RecordPage& read);
  void AddLive(const SavedRecord& record);
  void DrainSavedRecords();
  void OpenFile(const QString& path);
  void UpdatePageLabel();

  ThumbnailList* m_thumbnails;
  FileList* m_files;
  QLabel* m_pageLabel;
  bool m_hasTask = false;
  quarry::FileKind m_kind = quarry::FileKind::Image;
  std::string m_folder;  // of the task shown
  MessageSink m_showMessage;

  std::mutex m_savedLock;  // held only to append or to take the whole buffer
  std::vector<SavedRecord> m_saved;
  int m_generation = 0;                 // of the page asked for last
  bool m_loading = false;               // a page is being read
  std::vector<SavedRecord> m_heldLive;  // files told while it is read, added once it is shown
};
