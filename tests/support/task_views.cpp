// See task_views.h.
#include "tests/support/task_views.h"

#include <thread>

namespace quarry::testing {

void RecordingInfoView::AppendLog(int thread, const std::string& text) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_lines.emplace_back(thread, text);
  if (onLine) onLine(thread, text);
}

void RecordingInfoView::ShowTask(const SearchTask&) {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_shown;
}

void RecordingInfoView::ResetThreadPages() {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_resets;
  m_pages = 0;
}

void RecordingInfoView::AddThreadPages(int count) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_pages = count;
}

std::vector<std::pair<int, std::string>> RecordingInfoView::Lines() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_lines;
}

std::vector<std::string> RecordingInfoView::LinesOf(int thread) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<std::string> lines;
  for (auto& [n, text] : m_lines) {
    if (n == thread) lines.push_back(text);
  }
  return lines;
}

bool RecordingInfoView::HasLine(const std::string& text) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (auto& line : m_lines) {
    if (line.second == text) return true;
  }
  return false;
}

bool RecordingInfoView::HasLineContaining(const std::string& part) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (auto& line : m_lines) {
    if (line.second.find(part) != std::string::npos) return true;
  }
  return false;
}

int RecordingInfoView::Resets() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_resets;
}

int RecordingInfoView::Pages() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_pages;
}

int RecordingInfoView::Shown() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_shown;
}

void RecordingResultView::OnRecordAdded(FileKind, const std::string& localPath, const std::string&,
                                        const std::string&) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_added.push_back(localPath);
}

void RecordingResultView::ShowTask(FileKind, const std::string& folder) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_shown.push_back(folder);
}

std::vector<std::string> RecordingResultView::Added() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_added;
}

std::vector<std::string> RecordingResultView::Shown() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_shown;
}

std::string RecordingEvents::TextOf(const Task* task) const {
  for (const auto& [named, text] : m_names) {
    if (named == task) return text;
  }
  return "?";
}

void RecordingEvents::Line(std::string line) { m_lines.push_back(std::move(line)); }

void RecordingEvents::OnTaskAdded(const Task* task, const SearchTask& record, TaskRoot root) {
  std::lock_guard<std::mutex> guard(m_lock);
  const std::string text = FieldText(record.keyword);
  m_names.emplace_back(task, text);
  m_items.push_back({task, root, text});
  Line(std::string("added ") + TaskRootText(root) + " " + text);
}

void RecordingEvents::OnTaskMoved(const Task* task, TaskRoot root) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::erase_if(m_items, [task](const Item& item) { return item.task == task; });
  m_items.push_back({task, root, TextOf(task)});
  Line(std::string("moved ") + TaskRootText(root) + " " + TextOf(task));
}

void RecordingEvents::OnTaskRemoved(const Task* task) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::erase_if(m_items, [task](const Item& item) { return item.task == task; });
  Line("removed " + TextOf(task));
}

void RecordingEvents::OnStateChanged(const Task* task, TaskState state) {
  std::lock_guard<std::mutex> guard(m_lock);
  Line("state " + TextOf(task) + " " + std::to_string(static_cast<int>(state)));
}

void RecordingEvents::OnProgress(const Task* task, const SearchTask&,
                                 const TaskProgress& progress) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_progress = progress;
  Line("progress " + TextOf(task));
}

void RecordingEvents::OnFileSaved(const Task* task, FileKind, const std::string&,
                                  const std::string& url) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_saved.push_back(url);
  Line("saved " + TextOf(task));
}

void RecordingEvents::OnFailure(const Task* task, const std::string&, FailureReason) {
  std::lock_guard<std::mutex> guard(m_lock);
  Line("failed " + TextOf(task));
}

std::vector<const Task*> RecordingEvents::Children(TaskRoot root) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<const Task*> tasks;
  for (const Item& item : m_items) {
    if (item.root == root) tasks.push_back(item.task);
  }
  return tasks;
}

std::vector<std::string> RecordingEvents::TextsUnder(TaskRoot root) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<std::string> texts;
  for (const Item& item : m_items) {
    if (item.root == root) texts.push_back(item.text);
  }
  return texts;
}

bool RecordingEvents::RootOf(const Task* task, TaskRoot* root) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (const Item& item : m_items) {
    if (item.task != task) continue;
    *root = item.root;
    return true;
  }
  return false;
}

std::vector<std::string> RecordingEvents::Lines() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_lines;
}

TaskProgress RecordingEvents::LastProgress() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_progress;
}

std::vector<std::string> RecordingEvents::SavedUrls() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_saved;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace quarry::testing
