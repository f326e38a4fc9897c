// The URL queue: a list of fixed records in memory, spill files for the overflow, a seen set.
//
// The in-memory list is a deque of `UrlNode` values with the head at the front; the record's
// own 4-byte link field is not used for chaining (a 64-bit pointer does not fit) and is kept at
// 0, which is also what the spill files carry in it.
//
// A spill writes the entries nearest the head into the next numbered file and removes them from
// memory only once the whole file has been written and closed, so a full disk or an unwritable
// folder leaves the list as it was (it then grows past the limit and the next insertion tries
// again). Each spill file remembers how many records it was given, so a file that comes back
// short or cannot be opened lowers the total by exactly what was lost.
#include "engine/url_queue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/search_task.h"
#include "engine/url_hash.h"
#include "platform/files.h"

namespace quarry {
namespace {

constexpr std::size_t kSeenBytes = UrlQueue::kSeenBits / 8;
constexpr std::uint32_t kSeenMask = static_cast<std::uint32_t>(UrlQueue::kSeenBits - 1);

// Records gathered into one write of a spill file.
constexpr std::size_t kSpillBatch = 64;

// The text up to its first zero byte, as a field of a record holds it.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// Copies a text that is known to fit (size < N) and leaves the rest of the field zero.
template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::copy_n(text.data(), length, field);  // an empty view may have no data at all
  field[length] = '\0';
}

// Texts read back from a file are not trusted to be terminated within their fields.
void TerminateFields(UrlNode& node) {
  node.source[sizeof(node.source) - 1] = '\0';
  node.url[sizeof(node.url) - 1] = '\0';
  node.title[sizeof(node.title) - 1] = '\0';
  node.extra[sizeof(node.extra) - 1] = '\0';
  node.link = 0;
}

std::string ShortSpillMessage(const std::string& path, std::int32_t read) {
  char buffer[1400];
  std::snprintf(buffer, sizeof(buffer),
                "读取URL临时文件 %s 时出错!可能没有全部读入,(读入了%d条数据)", path.c_str(),
                static_cast<int>(read));
  return buffer;
}

}  // namespace

UrlQueue::UrlQueue(std::int32_t maxInMemory, std::int32_t keepInMemory)
    : m_maxInMemory(maxInMemory < 1 ? 1 : maxInMemory),
      m_keepInMemory(keepInMemory < 0
                         ? 0
                         : (keepInMemory >= m_maxInMemory ? m_maxInMemory - 1 : keepInMemory)),
      m_seen(std::make_unique<std::uint8_t[]>(kSeenBytes)) {}

// What is queued goes with the queue; its spill files are no one else's to read.
UrlQueue::~UrlQueue() {
  for (const SpillFile& file : m_spillNames) std::remove(PathOf(file.name).c_str());
}

void UrlQueue::SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_sink = std::move(sink);
}

bool UrlQueue::Add(int thread, QueueEnd end, const LinkToQueue& link) {
  const std::string_view url = UpToNul(link.url);
  const std::string_view source = UpToNul(link.source);
  const std::string_view title = UpToNul(link.title);
  // Addresses and sources that do not fit are refused whole: a cut address would fetch
  // something else.
  if (url.size() >= sizeof(UrlNode::url) || source.size() >= sizeof(UrlNode::source)) return false;
  // Tested before the queue lock is taken: the two locks are never held together.
  if (link.checkSeen && !TestAndSetSeen(url)) return false;

  UrlNode node{};
  CopyField(node.url, url);
  CopyField(node.title, title.substr(0, CutOnCharacter(title, sizeof(node.title) - 1)));
  CopyField(node.source, source);
  node.isSearchPage = link.isSearchPage ? 1 : 0;

  std::vector<std::string> messages;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Link(end == QueueEnd::Front, node, &messages);
    ++m_total;
  }
  Deliver(thread, messages);
  return true;
}

void UrlQueue::Link(bool front, const UrlNode& node, std::vector<std::string>* messages) {
  if (static_cast<std::int64_t>(m_list.size()) >= m_maxInMemory) Spill(front, messages);
  if (front) {
    m_list.push_front(node);
  } else {
    m_list.push_back(node);
  }
}

bool UrlQueue::Take(int thread, TakenUrl* out) {
  std::vector<std::string> messages;
  bool taken = false;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    // A spill file that cannot be read gives nothing; go on to the next one.
    while (m_list.empty() && !m_spillNames.empty()) Reload(&messages);
    if (!m_list.empty()) {
      const UrlNode& head = m_list.front();
      std::memcpy(out->url, head.url, sizeof(out->url));
      std::memcpy(out->title, head.title, sizeof(out->title));
      std::memcpy(out->source, head.source, sizeof(out->source));
      out->isSearchPage = head.isSearchPage != 0;
      m_list.pop_front();
      --m_total;
      taken = true;
    }
  }
  Deliver(thread, messages);
  return taken;
}

bool UrlQueue::IsDrained() {
  std::lock_guard<std::mutex> guard(m_lock);
  return (m_list.empty() && m_spillNames.empty()) || m_total <= 0;
}

void UrlQueue::Reset(const std::string& folder, const std::string& spillPrefix) {
  std::lock_guard<std::mutex> guard(m_lock);
  // Files of the old binding would otherwise be left behind or, worse, read into the new task.
  for (const SpillFile& file : m_spillNames) std::remove(PathOf(file.name).c_str());
  m_spillNames.clear();
  m_folder = folder;
  m_spillPrefix = spillPrefix;
  m_list.clear();
  m_list.shrink_to_fit();
  m_total = 0;
  m_spillCounter = 0;
  m_spillFailing = false;
}

void UrlQueue::ClearSeen() {
  std::lock_guard<std::mutex> guard(m_seenLock);
  std::memset(m_seen.get(), 0, kSeenBytes);
}

bool UrlQueue::TestAndSetSeen(std::string_view url) {
  url = UpToNul(url);
  // Result pages differ only in their offset: keying on the "pn=" tail catches repeats of a
  // page whatever the rest of the address says.
  const std::size_t tail = url.find("pn=");
  return TestAndSetSeenAddress(tail == std::string_view::npos ? url : url.substr(tail));
}

bool UrlQueue::TestAndSetSeenAddress(std::string_view key) {
  key = UpToNul(key);
  const std::uint32_t bit = Lookup2Hash(key.data(), key.size()) & kSeenMask;
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit % 8));
  std::lock_guard<std::mutex> guard(m_seenLock);
  std::uint8_t& byte = m_seen[bit / 8];
  if (byte & mask) return false;
  byte = static_cast<std::uint8_t>(byte | mask);
  return true;
}

std::int32_t UrlQueue::Total() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_total;
}

std::int32_t UrlQueue::InMemory() {
  std::lock_guard<std::mutex> guard(m_lock);
  return static_cast<std::int32_t>(m_list.size());
}

std::size_t UrlQueue::PendingSpillFiles() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_spillNames.size();
}

bool UrlQueue::Spill(bool front, std::vector<std::string>* messages) {
  const std::string name = m_spillPrefix + std::to_string(m_spillCounter++);
  const std::string path = PathOf(name);
  const std::size_t count =
      m_list.size() > static_cast<std::size_t>(m_keepInMemory) ? m_list.size() - m_keepInMemory : 0;
  if (count == 0) return false;

  if (!WriteSpillFile(path, count)) {
    // Reported once per run of failures, not on every insertion that retries.
    if (!m_spillFailing) messages->push_back(front ? "AddHead error" : "AddTail error");
    m_spillFailing = true;
    return false;
  }
  m_spillFailing = false;
  m_list.erase(m_list.begin(), m_list.begin() + static_cast<std::ptrdiff_t>(count));
  m_spillNames.push_back({name, static_cast<std::int32_t>(count)});
  return true;
}

bool UrlQueue::WriteSpillFile(const std::string& path, std::size_t count) const {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file.IsOpen()) return false;
  std::vector<char> batch;
  batch.reserve(kSpillBatch * sizeof(UrlNode));
  bool written = true;
  for (std::size_t i = 0; i < count && written; ++i) {
    const char* raw = reinterpret_cast<const char*>(&m_list[i]);
    batch.insert(batch.end(), raw, raw + sizeof(UrlNode));
    if (batch.size() == kSpillBatch * sizeof(UrlNode) || i + 1 == count) {
      written = WriteAll(FileIo::System(), file.Get(), batch.data(), batch.size()) == 0;
      batch.clear();
    }
  }
  // A failing close (a late write error) loses records too.
  written = file.Close() == 0 && written;
  if (!written) ::unlink(path.c_str());
  return written;
}

void UrlQueue::Reload(std::vector<std::string>* messages) {
  const SpillFile file = m_spillNames.front();
  m_spillNames.pop_front();
  const std::string path = PathOf(file.name);

  // What could be read is used; a trailing partial record is no record.
  std::string bytes;
  ReadWholeFile(path, &bytes);
  std::int32_t read = 0;
  for (std::size_t at = 0; at + sizeof(UrlNode) <= bytes.size(); at += sizeof(UrlNode)) {
    UrlNode node;
    std::memcpy(&node, bytes.data() + at, sizeof(UrlNode));
    TerminateFields(node);
    Link(false, node, messages);
    ++read;
  }
  ::unlink(path.c_str());
  if (read < file.written) {
    m_total -= file.written - read;
    messages->push_back(ShortSpillMessage(path, read));
  }
}

bool UrlQueue::IsSpillFile(const std::filesystem::directory_entry& entry) {
  const auto isNumber = [](std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  const std::string name = entry.path().filename().string();
  const std::size_t dash = name.find('-');
  const bool spillName = dash == std::string::npos
                             ? isNumber(name)
                             : isNumber(std::string_view(name).substr(0, dash)) &&
                                   isNumber(std::string_view(name).substr(dash + 1));
  std::error_code error;
  if (!spillName || entry.is_symlink(error) || !entry.is_regular_file(error)) return false;
  const std::uintmax_t size = entry.file_size(error);
  return !error && size != 0 && size % sizeof(UrlNode) == 0;
}

std::string UrlQueue::PathOf(const std::string& name) const {
  if (m_folder.empty() || m_folder.back() == '/') return m_folder + name;
  return m_folder + "/" + name;
}

void UrlQueue::Deliver(int thread, const std::vector<std::string>& messages) {
  if (messages.empty()) return;
  MessageSink sink;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    sink = m_sink;
  }
  if (!sink) return;
  for (const std::string& message : messages) sink(thread, message);
}

}  // namespace quarry
