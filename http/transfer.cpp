// The HEAD exchange and the two downloads. Every exchange composes one request on a fresh
// HttpSession, connects, sends (which reads the head), sets the body time limit and then reads
// the head's fields or the body; the session's destructor closes the socket on every way out.
// The downloads log each step and each chunk on the worker's log page with fixed texts.
// A file is received under a ".part" name created exclusively and takes its final name only
// when whole, so a name already on disk is never overwritten or appended to, and a file under
// its final name is never cut short, even by a crash. Every write is checked: a full disk is a
// failure, never a finished download, and it is told on the log and to the task.
#include "http/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/files.h"

namespace quarry {
namespace {

constexpr int kLengthTextSize = 40;  // Content-Length as read by the HEAD exchange
constexpr int kTypeTextSize = 30;    // Content-Type: enough to tell text/html
constexpr int kPageLengthTextSize = 30;
constexpr int kDispositionSize = 256;  // attachment names are read into this much of `name`
constexpr int kPartialContent = 206;

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// The file being received: "<final name>.part" while it grows, moved to its final name only
// once it is whole. The final name is reserved by creating its ".part" exclusively, so two
// downloads of one name in the same second pick different names; the move itself never
// replaces a file either, so a name taken meanwhile from outside moves it on to the next
// numbered name. Whatever is not completed is removed when the owner goes.
class PartFile {
public:
  explicit PartFile(FileIo& io) : m_io(io) {}
  ~PartFile() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_partPath.empty()) ::unlink(m_partPath.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // The errno value of the last failure of Create, WriteAll, StartOver or Complete.
  int Error() const { return m_error; }

  // Creates the ".part" of `wanted`, or of "stem(n).ext" when that name or its ".part" is
  // taken; the final name chosen is left in `wanted`. False when no name could be created.
  bool Create(std::string& wanted) {
    m_wanted = wanted;
    std::size_t slash = wanted.find_last_of('/');
    std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    m_dot = wanted.find_last_of('.');
    // A dot that opens the component (".profile") or lies in a folder name is no extension.
    if (m_dot == std::string::npos || m_dot <= componentStart) m_dot = wanted.size();
    for (int counter = 0; counter <= kMaxNameCounter; ++counter) {
      const std::string candidate = NameWith(counter);
      struct stat existing {};
      if (::lstat(candidate.c_str(), &existing) == 0) continue;
      if (errno != ENOENT) return Failed(errno);
      const std::string part = candidate + kPartSuffix;
      int fd = m_io.Open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) {
        m_fd = fd;
        m_partPath = part;
        m_counter = counter;
        wanted = candidate;
        return true;
      }
      if (errno != EEXIST) return Failed(errno);
    }
    return Failed(EEXIST);
  }

  bool WriteAll(const char* data, std::size_t size) {
    const int error = quarry::WriteAll(m_io, m_fd, data, size);
    return error == 0 || Failed(error);
  }

  // Drops everything written so far, for an answer that starts the file over.
  bool StartOver() {
    return (::ftruncate(m_fd, 0) == 0 && ::lseek(m_fd, 0, SEEK_SET) == 0) || Failed(errno);
  }

  // Flushes the whole file to disk and moves it to its final name, which is left in `file`;
  // the folder is flushed too, so the name outlives a power cut before the file's record is
  // written. False (and the ".part" removed) when the data may not be on disk or no name is
  // free.
  bool Complete(std::string& file) {
    // A late write error (a full disk under delayed allocation) shows here, not in write().
    const int flushError = ::fdatasync(m_fd) == 0 ? 0 : errno;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) return Failed(errno);
    if (flushError != 0) return Failed(flushError);
    for (int counter = m_counter; counter <= kMaxNameCounter; ++counter) {
      const std::string candidate = NameWith(counter);
      const int moved = RenameNoReplace(m_partPath, candidate);
      if (moved == EEXIST) continue;
      if (moved != 0) return Failed(moved);
      m_partPath.clear();
      SyncParentFolder(candidate);
      file = candidate;
      return true;
    }
    return Failed(EEXIST);
  }

private:
  bool Failed(int error) {
    m_error = error;
    return false;
  }

  std::string NameWith(int counter) const {
    if (counter == 0) return m_wanted;
    return m_wanted.substr(0, m_dot) + "(" + std::to_string(counter) + ")" + m_wanted.substr(m_dot);
  }

  FileIo& m_io;
  int m_fd = -1;
  int m_error = 0;
  std::string m_wanted;    // the name asked for
  std::size_t m_dot = 0;   // where "(n)" goes into it
  int m_counter = 0;       // the numbered name reserved by the ".part"
  std::string m_partPath;  // empty once moved to the final name
};

// The shared start of every exchange: socket, connection, request and head, body time limit.
// 1 when the head is read and the limit set, else the exchange's failure code.
int OpenExchange(HttpSession& session, const char* address, int port, const HttpTimeouts& timeouts,
                 TransferContext* context, int thread, const char* connectingText) {
  if (session.Create() != 1) return -3;
  if (context != nullptr) context->Log(thread, connectingText);
  int connected = session.Connect(address, port);
  if (connected < 0) return -8;
  if (connected == 0) return -1;
  int sent = session.SendRequest();
  if (sent < 0) return -8;
  if (sent == 0) return -1;
  if (session.SetTimeout(timeouts.bodyMs, false) != 1) return -3;
  return 1;
}

// Ends a file download whose file could not be created or written: the line that says why
// is the last of that file, and the task hears of it (a full disk stops the task).
int FileNotWritten(TransferContext& context, int thread, const std::string& file, int error) {
  context.Log(thread, "文件写入失败：" + file + "（" + std::strerror(error) + "）...");
  context.OnFileError(thread, error);
  return kFileNotWritten;
}

}  // namespace

std::string ProgressLine(std::uint64_t received) {
  if (received < 1024) return Format("下载速度：%d (B)......", static_cast<int>(received));
  return Format("下载速度：%.2f (KB)......", static_cast<double>(received) / 1024.0);
}

int HeadExchange(const char* host, const char* path, const char* address,
                 char (&lastModified)[kLastModifiedSize], char (&extension)[kExtensionSize],
                 char (&name)[kNameSize], int port, int& length, const HttpTimeouts& timeouts) {
  HttpSession session(timeouts);
  int requestLength = 0;
  session.ComposeHead(host, path, requestLength, nullptr, nullptr);
  int opened = OpenExchange(session, address, port, timeouts, nullptr, 0, nullptr);
  if (opened != 1) return opened;

  int status = session.StatusCode();
  if (status == 302) return -4;
  if (status < 200 || status > 299) return -7;

  session.HeaderField("Last-Modified", lastModified, kLastModifiedSize, 0);
  std::memset(extension, 0, sizeof extension);
  std::memcpy(extension, "html", 4);

  length = 0;
  char lengthText[kLengthTextSize];
  if (session.HeaderField("Content-Length", lengthText, kLengthTextSize, 0) > 0) {
    int value = LengthValue(lengthText);
    if (value == 0) return -5;  // nothing to fetch
    if (value > 0) length = value;
  }

  char type[kTypeTextSize];
  if (session.HeaderField("Content-Type", type, kTypeTextSize, 0) < 0) return -8;
  if (std::strstr(type, "text/html") != nullptr) return 1;

  std::string_view objectPath(path);
  if (objectPath.find('?') == std::string_view::npos)
    return NameFromText(objectPath, name, extension);
  if (session.DispositionName(name, kDispositionSize) <= 0) return -8;
  return NameFromPath(name, extension);
}

int DownloadPage(TransferContext& context, int thread, const char* host, const char* path,
                 std::string& page, const char* address, int port, const HttpTimeouts& timeouts) {
  HttpSession session(timeouts);
  int requestLength = 0;
  session.ComposeGet(host, path, requestLength, nullptr, nullptr, 0, 0);
  int opened =
      OpenExchange(session, address, port, timeouts, &context, thread, "开始连接服务器......");
  if (opened != 1) return opened;

  char lengthText[kPageLengthTextSize];
  long long total = 0;
  if (session.HeaderField("Content-Length", lengthText, kPageLengthTextSize, 0) > 0) {
    total = LengthValue(lengthText);
  }
  if (total <= 0) total = kDefaultPageTotal;

  context.Log(thread, "开始接收数据......");
  long long received = 0;
  char chunk[kPageChunk + 1];
  while (!context.IsStopped() && received < total) {
    std::memset(chunk, 0, sizeof chunk);
    int count = session.Receive(chunk, kPageChunk);
    if (count <= 0) break;
    context.Log(thread, Format("接收到字节数：%d", count));
    received += count;
    // The page is text: a zero byte ends what is kept of its chunk.
    page.append(chunk, strnlen(chunk, static_cast<std::size_t>(count)));
    context.Log(thread, ProgressLine(static_cast<std::uint64_t>(received)));
  }
  session.Close();
  context.Log(thread, "Socket已关闭......");
  return received > 0 ? 1 : -1;
}

int DownloadFile(TransferContext& context, int thread, const char* host, const char* path,
                 std::uint32_t total, const char* address, int port, std::string& file,
                 const HttpTimeouts& timeouts) {
  PartFile output(context.Disk());
  bool created = output.Create(file);
  context.Log(thread, file);
  if (!created) return FileNotWritten(context, thread, file, output.Error());

  std::uint64_t received = 0;
  std::unique_ptr<char[]> buffer(new char[kFileRead]);
  // A stop is also honoured between attempts, so a stopped task does not connect again.
  for (int attempt = 0; attempt < kFileAttempts && received < total && !context.IsStopped();
       ++attempt) {
    HttpSession session(timeouts);
    int requestLength = 0;
    // Offsets beyond the request's 32-bit range cannot be asked for; such an attempt asks for
    // the whole file and starts over below.
    std::int32_t rangeFrom = received <= INT32_MAX ? static_cast<std::int32_t>(received) : 0;
    session.ComposeGet(host, path, requestLength, nullptr, nullptr, rangeFrom, 0);
    int opened =
        OpenExchange(session, address, port, timeouts, &context, thread, "连接服务器......");
    if (opened != 1) return opened;
    if (received > 0) {
      int status = session.StatusCode();
      // An error answer to a resumed request carries no part of the file: keep what is on
      // disk and let the next attempt ask again.
      if (status < 200 || status > 299) continue;
      // A server that ignores the range sends the whole file again: keep it, not the old part.
      if (status != kPartialContent) {
        if (!output.StartOver()) return FileNotWritten(context, thread, file, output.Error());
        received = 0;
      }
    }

    context.Log(thread, "开始接收数据......");
    while (!context.IsStopped() && received < total) {
      // Never ask for more than the chunks that still complete the file, so a server that
      // sends too much leaves at most one chunk's overshoot, as with single-chunk receives.
      std::uint64_t missing = total - received;
      std::uint64_t wanted = (missing + kFileChunk - 1) / kFileChunk * kFileChunk;
      int count = session.Receive(buffer.get(),
                                  static_cast<int>(std::min<std::uint64_t>(wanted, kFileRead)));
      if (count <= 0) break;
      if (!output.WriteAll(buffer.get(), static_cast<std::size_t>(count)))
        return FileNotWritten(context, thread, file, output.Error());
      for (int logged = 0; logged < count; logged += kFileChunk) {
        int piece = std::min(kFileChunk, count - logged);
        received += static_cast<std::uint64_t>(piece);
        context.Log(thread, Format("接收到 %d 字节.....", piece));
        context.Log(thread, ProgressLine(received));
      }
    }
  }
  context.Log(thread, "Socket已关闭......");
  if (received < total) return -1;  // the ".part" goes with `output`
  if (!output.Complete(file)) return FileNotWritten(context, thread, file, output.Error());
  return 0;
}

}  // namespace quarry
