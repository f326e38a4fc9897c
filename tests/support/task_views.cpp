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

TreeItemId MemoryTree::InsertTaskItem(TaskRoot root, const std::string& text, int image,
                                      Task* task) {
  items.push_back({++m_lastId, root, text, image, task});
  return m_lastId;
}

void MemoryTree::DeleteItem(TreeItemId item) {
  deleted.push_back(item);
  std::erase_if(items, [item](const Item& present) { return present.id == item; });
  if (onDelete) onDelete(item);
}

void MemoryTree::ExpandRoot(TaskRoot root) { expanded.push_back(root); }

std::vector<Task*> MemoryTree::Children(TaskRoot root) const {
  std::vector<Task*> tasks;
  for (const Item& item : items) {
    if (item.root == root) tasks.push_back(item.task);
  }
  return tasks;
}

std::vector<std::string> MemoryTree::TextsUnder(TaskRoot root) const {
  std::vector<std::string> texts;
  for (const Item& item : items) {
    if (item.root == root) texts.push_back(item.text);
  }
  return texts;
}

const MemoryTree::Item* MemoryTree::Find(TreeItemId item) const {
  for (const Item& present : items) {
    if (present.id == item) return &present;
  }
  return nullptr;
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
