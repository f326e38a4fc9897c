// Helpers for the whole-task tests; see harvest_fixture.h.
#include "tests/engine/harvest_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace quarry::testing {

SearchServiceProcess::~SearchServiceProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
}

std::string SearchServiceProcess::ScriptPath() {
  std::filesystem::path here(__FILE__);
  return (here.parent_path().parent_path() / "servers" / "search_service.py").string();
}

bool SearchServiceProcess::Start(const std::vector<std::string>& options) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  std::vector<std::string> args = {"python3", ScriptPath(), "--port", "0"};
  args.insert(args.end(), options.begin(), options.end());
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp("python3", argv.data());
    ::_exit(127);
  }
  m_pid = pid;
  ::close(pipeFds[1]);
  std::string line;
  pollfd waiter{pipeFds[0], POLLIN, 0};
  // The interpreter starts slowly on a busy machine.
  while (line.find('\n') == std::string::npos && ::poll(&waiter, 1, 30000) > 0) {
    char chunk[64];
    ssize_t got = ::read(pipeFds[0], chunk, sizeof(chunk));
    if (got <= 0) break;
    line.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  m_port = std::atoi(line.c_str());
  return m_port > 0;
}

int HttpGet(int port, const std::string& target, std::string* body) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char chunk[8192];
  ssize_t got;
  while ((got = ::recv(fd, chunk, sizeof(chunk), 0)) > 0) answer.append(chunk, got);
  ::close(fd);
  std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos || answer.size() < 12) return -1;
  if (body) *body = answer.substr(end + 4);
  return std::atoi(answer.c_str() + 9);
}

std::string TargetOf(const std::string& url) {
  std::size_t slash = url.find('/', url.find("://") + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

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

void FinishedQueue::PostTaskFinished(SearchTask* task) {
  if (onPost) onPost(task);
  std::lock_guard<std::mutex> guard(m_lock);
  m_tasks.push_back(task);
  m_ready.notify_all();
}

SearchTask* FinishedQueue::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(m_lock);
  if (!m_ready.wait_for(guard, timeout, [this] { return !m_tasks.empty(); })) return nullptr;
  SearchTask* task = m_tasks.front();
  m_tasks.pop_front();
  return task;
}

TreeItemId MemoryTree::InsertTaskItem(TaskRoot root, const std::string& text, int, Task* task) {
  TreeItemId id = m_next++;
  m_items[id] = Item{root, text, task};
  return id;
}

void MemoryTree::DeleteItem(TreeItemId item) {
  m_items.erase(item);
  if (onDelete) onDelete(item);
}

void MemoryTree::ExpandRoot(TaskRoot) {}

std::vector<Task*> MemoryTree::Children(TaskRoot root) const {
  std::vector<Task*> tasks;
  for (auto& [id, item] : m_items) {
    if (item.root == root) tasks.push_back(item.task);
  }
  return tasks;
}

const MemoryTree::Item* MemoryTree::Find(TreeItemId item) const {
  auto found = m_items.find(item);
  return found == m_items.end() ? nullptr : &found->second;
}

SilentListener::SilentListener() {
  m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::listen(m_fd, 64);
  socklen_t size = sizeof(address);
  ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
  m_port = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
  if (m_fd >= 0) ::close(m_fd);
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
