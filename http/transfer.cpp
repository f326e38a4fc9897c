// The HEAD exchange and the two downloads. Every exchange composes one request on a fresh
// HttpSession, connects (or takes over the connection its HEAD kept), sends (which reads the
// head), sets the body time limit and then reads the head's fields or the body; the session's
// destructor closes the socket on every way out but the one that keeps it for the next exchange.
// The downloads log each step and each chunk on the worker's log page with fixed texts.
// An https target speaks TLS right after the connection is made; a certificate that is not
// trusted or names another host ends the exchange before any request is sent.
// A file is received under a ".part" name created exclusively and takes its final name only
// when whole, so a name already on disk is never overwritten or appended to, and a file under
// its final name is never cut short, even by a crash. Every write is checked: a full disk is a
// failure, never a finished download, and it is told on the log and to the task.
#include "http/transfer.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "http/chunked_body.h"
#include "platform/files.h"

namespace quarry {
namespace {

// The longest name a folder entry may have on Linux filesystems (NAME_MAX), in bytes.
constexpr std::size_t kLongestName = 255;

constexpr int kLengthTextSize = 40;  // Content-Length as read by the HEAD exchange
constexpr int kTypeTextSize = 30;    // Content-Type: enough to tell text/html
constexpr int kPageLengthTextSize = 30;
constexpr int kDispositionSize = 256;  // attachment names are read into this much of `name`
constexpr int kPartialContent = 206;
constexpr int kFound = 302;
// Of the extensions a name may have, only a text file's makes a page.
constexpr const char* kTextExtension = ".txt";
// How much of a file is written before its writeback to disk is started.
constexpr std::size_t kWritebackStep = 8u << 20;

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
    m_file.Close();
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
    m_componentStart = slash == std::string::npos ? 0 : slash + 1;
    m_dot = wanted.find_last_of('.');
    // A dot that opens the component (".profile") or lies in a folder name is no extension.
    if (m_dot == std::string::npos || m_dot <= m_componentStart) m_dot = wanted.size();
    for (int counter = 0; counter <= kMaxNameCounter; ++counter) {
      const std::string candidate = NameWith(counter);
      struct stat existing {};
      if (::lstat(candidate.c_str(), &existing) == 0) continue;
      if (errno != ENOENT) return Failed(errno);
      const std::string part = candidate + kPartSuffix;
      FileDescriptor file(m_io.Open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
      // Locked while it grows: a task that starts in this folder meanwhile takes only unlocked
      // ".part" files for a crash's leftovers. A lock already taken means such a task is
      // removing this very name; the next one will do.
      if (file.IsOpen() && !LockAlone(file.Get())) continue;
      if (file.IsOpen()) {
        m_file = std::move(file);
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
    const int error = quarry::WriteAll(m_io, m_file.Get(), data, size);
    if (error != 0) return Failed(error);
    m_written += size;
    // A large file starts going to disk while it still arrives, so that the flush of Complete
    // finds little left to write. Only a hint: Complete's flush is what makes the file safe.
    if (m_written - m_writebackFrom >= kWritebackStep) {
      ::sync_file_range(m_file.Get(), static_cast<off_t>(m_writebackFrom),
                        static_cast<off_t>(m_written - m_writebackFrom), SYNC_FILE_RANGE_WRITE);
      m_writebackFrom = m_written;
    }
    return true;
  }

  // Drops everything written so far, for an answer that starts the file over.
  bool StartOver() {
    m_written = m_writebackFrom = 0;
    return (::ftruncate(m_file.Get(), 0) == 0 && ::lseek(m_file.Get(), 0, SEEK_SET) == 0) ||
           Failed(errno);
  }

  // Flushes the whole file to disk and moves it to its final name, which is left in `file`;
  // the folder is flushed too, so the name outlives a power cut before the file's record is
  // written. False (and the ".part" removed) when the data may not be on disk or no name is
  // free.
  bool Complete(std::string& file) {
    // A late write error (a full disk under delayed allocation) shows here, not in write().
    if (::fdatasync(m_file.Get()) != 0) return Failed(errno);
    // Moved while still open, so still locked. Once flushed, the data is on disk whatever
    // closing says.
    for (int counter = m_counter; counter <= kMaxNameCounter; ++counter) {
      const std::string candidate = NameWith(counter);
      const int moved = RenameNoReplace(m_partPath, candidate);
      if (moved == EEXIST) continue;
      if (moved != 0) return Failed(moved);
      m_partPath.clear();
      m_file.Close();
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

  // The name asked for, with "(counter)" before its extension from 1 on. A name too long for
  // the folder once ".part" follows it is shortened before the extension, never inside a UTF-8
  // character, instead of failing the download.
  std::string NameWith(int counter) const {
    const std::string tail = (counter == 0 ? std::string() : "(" + std::to_string(counter) + ")") +
                             m_wanted.substr(m_dot);
    std::string stem = m_wanted.substr(0, m_dot);
    constexpr std::size_t kRoom = kLongestName - std::string_view(kPartSuffix).size();
    const std::size_t length = stem.size() - m_componentStart + tail.size();
    if (length > kRoom) {
      std::size_t cut = stem.size() - std::min(length - kRoom, stem.size() - m_componentStart);
      while (cut > m_componentStart && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
        --cut;
      stem.resize(cut);
    }
    return stem + tail;
  }

  FileIo& m_io;
  FileDescriptor m_file;
  int m_error = 0;
  std::string m_wanted;              // the name asked for
  std::size_t m_componentStart = 0;  // where its last component begins
  std::size_t m_dot = 0;             // where "(n)" goes into it
  int m_counter = 0;                 // the numbered name reserved by the ".part"
  std::size_t m_written = 0;         // bytes of the file written so far
  std::size_t m_writebackFrom = 0;   // where the writeback not yet started begins
  std::string m_partPath;            // empty once moved to the final name
};

// How the shared start of every exchange ended. A failure has the same number in each
// exchange's result, which Failed carries over.
enum class ExchangeStart : int { Ready = 1, NoAnswer = -1, NoSocket = -3, Broken = -8 };

static_assert(static_cast<int>(HeadResult::NoAnswer) == -1 &&
              static_cast<int>(PageResult::NothingReceived) == -1 &&
              static_cast<int>(FileResult::Incomplete) == -1);
static_assert(static_cast<int>(HeadResult::NoSocket) == -3 &&
              static_cast<int>(PageResult::NoSocket) == -3 &&
              static_cast<int>(FileResult::NoSocket) == -3);
static_assert(static_cast<int>(HeadResult::Unusable) == -8 &&
              static_cast<int>(PageResult::Broken) == -8 &&
              static_cast<int>(FileResult::Broken) == -8);

template <typename Result>
Result Failed(ExchangeStart start) {
  return static_cast<Result>(static_cast<int>(start));
}

// The shared start of every exchange: socket, connection, request and head, body time limit.
// The connection kept in target.spare is used when it still leads to the target; the request
// goes out on it as it would on a new one, and when the server closed it meanwhile or the
// answer fails on it, the request goes again on a new connection, so a kept connection never
// makes an exchange fail that a new one would have made.
ExchangeStart OpenExchange(HttpSession& session, const ExchangeTarget& target,
                           const HttpTimeouts& timeouts, TransferContext* context, int thread,
                           const char* connectingText) {
  if (target.spare != nullptr && !target.secure &&
      session.TakeOver(*target.spare, target.address, target.port)) {
    if (context != nullptr) context->Log(thread, connectingText);
    if (session.SendRequest() == 1) {
      if (session.SetTimeout(timeouts.bodyMs, false) != 1) return ExchangeStart::NoSocket;
      return ExchangeStart::Ready;
    }
    session.Close();
    if (session.Create() != 1) return ExchangeStart::NoSocket;
  } else {
    if (session.Create() != 1) return ExchangeStart::NoSocket;
    if (context != nullptr) context->Log(thread, connectingText);
  }
  const int connected = session.Connect(target.address, target.port);
  if (connected < 0) return ExchangeStart::Broken;
  if (connected == 0) return ExchangeStart::NoAnswer;
  if (target.secure) {
    const int secured = session.StartTls(target.host);
    if (secured != 1) {
      if (context != nullptr) context->Log(thread, TlsFailureLine(session.TlsProblem()));
      return secured < 0 ? ExchangeStart::Broken : ExchangeStart::NoAnswer;
    }
  }
  const int sent = session.SendRequest();
  if (sent < 0) return ExchangeStart::Broken;
  if (sent == 0) return ExchangeStart::NoAnswer;
  if (session.SetTimeout(timeouts.bodyMs, false) != 1) return ExchangeStart::NoSocket;
  return ExchangeStart::Ready;
}

// Leaves the connection of an answered HEAD in target.spare for the GET that follows, when
// the server keeps it open. A TLS connection is not kept: its channel would have to travel
// with it, and bytes that TLS read ahead would hide from the check that it is still quiet.
void KeepConnection(HttpSession& session, const ExchangeTarget& target) {
  if (target.spare != nullptr && !session.Secure() && session.KeepsAlive())
    session.KeepFor(*target.spare);
}

// Ends a file download whose file could not be created or written: the line that says why
// is the last of that file, and the task hears of it (a full disk stops the task).
FileResult FileNotWritten(TransferContext& context, int thread, const std::string& file,
                          int error) {
  context.Log(thread, "文件写入失败：" + file + "（" + std::strerror(error) + "）...");
  context.OnFileError(thread, error);
  return FileResult::NotWritten;
}

}  // namespace

std::string TlsFailureLine(const std::string& problem) {
  return "安全连接（TLS）失败：" + problem + "...";
}

std::string ProgressLine(std::uint64_t received) {
  if (received < 1024) return Format("下载速度：%d (B)......", static_cast<int>(received));
  return Format("下载速度：%.2f (KB)......", static_cast<double>(received) / 1024.0);
}

HeadResult HeadExchange(const ExchangeTarget& target, HeadAnswer& answer,
                        const HttpTimeouts& timeouts) {
  HttpSession session(timeouts);
  int requestLength = 0;
  session.ComposeHead(target.host, target.path, requestLength, nullptr, nullptr);
  const ExchangeStart start = OpenExchange(session, target, timeouts, nullptr, 0, nullptr);
  if (start != ExchangeStart::Ready) {
    answer.problem = session.TlsProblem();
    return Failed<HeadResult>(start);
  }

  const int status = session.StatusCode();
  if (status == kFound) return HeadResult::Redirect302;
  if (status < 200 || status > 299) return HeadResult::BadStatus;

  session.HeaderField("Last-Modified", answer.lastModified, kLastModifiedSize, 0);
  std::memset(answer.extension, 0, sizeof answer.extension);
  std::memcpy(answer.extension, "html", 4);

  answer.length = 0;
  char lengthText[kLengthTextSize];
  if (session.HeaderField("Content-Length", lengthText, kLengthTextSize, 0) > 0) {
    const int value = LengthValue(lengthText);
    if (value == 0) return HeadResult::ZeroLength;
    if (value > 0) answer.length = value;
  }

  char type[kTypeTextSize];
  if (session.HeaderField("Content-Type", type, kTypeTextSize, 0) < 0) return HeadResult::Unusable;
  if (std::strstr(type, "text/html") != nullptr) {
    answer.isPage = true;
    KeepConnection(session, target);
    return HeadResult::Answered;
  }

  const std::string_view objectPath(target.path);
  const bool named = objectPath.find('?') == std::string_view::npos
                         ? NameFromText(objectPath, answer.name, answer.extension)
                         : session.DispositionName(answer.name, kDispositionSize) > 0 &&
                               NameFromPath(answer.name, answer.extension);
  if (!named) return HeadResult::Unusable;
  // A name without an extension keeps the page's "html".
  answer.isPage = answer.extension[0] != '.' || strcasecmp(answer.extension, kTextExtension) == 0;
  KeepConnection(session, target);
  return HeadResult::Answered;
}

PageResult DownloadPage(TransferContext& context, int thread, const ExchangeTarget& target,
                        std::string& page, const HttpTimeouts& timeouts) {
  HttpSession session(timeouts);
  int requestLength = 0;
  session.ComposeGet(target.host, target.path, requestLength, nullptr, nullptr, 0, 0);
  const ExchangeStart start =
      OpenExchange(session, target, timeouts, &context, thread, "开始连接服务器......");
  if (start != ExchangeStart::Ready) return Failed<PageResult>(start);

  char lengthText[kPageLengthTextSize];
  long long total = 0;
  if (session.HeaderField("Content-Length", lengthText, kPageLengthTextSize, 0) > 0) {
    total = LengthValue(lengthText);
  }
  if (total <= 0) total = kDefaultPageTotal;
  // A chunked page arrives framed: it is read whole, up to its last chunk (a server that keeps
  // the connection open sends nothing after it), and then freed of its framing, which would
  // otherwise cut links apart wherever a chunk ends.
  char encoding[kPageLengthTextSize];
  const bool chunked =
      session.HeaderField("Transfer-Encoding", encoding, kPageLengthTextSize, 0) > 0 &&
      strcasestr(encoding, "chunked") != nullptr;
  std::string framed;
  bool whole = false;  // the last chunk came

  context.Log(thread, "开始接收数据......");
  long long received = 0;
  char chunk[kPageChunk + 1];
  while (!context.IsStopped() && received < total) {
    std::memset(chunk, 0, sizeof chunk);
    int count = session.Receive(chunk, kPageChunk);
    if (count <= 0) break;
    context.Log(thread, Format("接收到字节数：%d", count));
    received += count;
    context.Log(thread, ProgressLine(static_cast<std::uint64_t>(received)));
    if (chunked) {
      framed.append(chunk, static_cast<std::size_t>(count));
      whole = EndsAsLastChunk(framed) && DecodeChunked(framed, page);
      if (whole) break;
      continue;
    }
    // The page is text: a zero byte ends what is kept of its chunk.
    page.append(chunk, strnlen(chunk, static_cast<std::size_t>(count)));
  }
  if (chunked) {
    if (!whole) DecodeChunked(framed, page);  // a page broken off keeps what came of it
    page.erase(std::remove(page.begin(), page.end(), '\0'), page.end());
  }
  session.Close();
  context.Log(thread, "Socket已关闭......");
  return received > 0 ? PageResult::Received : PageResult::NothingReceived;
}

FileResult DownloadFile(TransferContext& context, int thread, const ExchangeTarget& target,
                        std::uint32_t total, std::string& file, const HttpTimeouts& timeouts) {
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
    session.ComposeGet(target.host, target.path, requestLength, nullptr, nullptr, rangeFrom, 0);
    const ExchangeStart start =
        OpenExchange(session, target, timeouts, &context, thread, "连接服务器......");
    if (start != ExchangeStart::Ready) return Failed<FileResult>(start);
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
  if (received < total) return FileResult::Incomplete;  // the ".part" goes with `output`
  if (!output.Complete(file)) return FileNotWritten(context, thread, file, output.Error());
  return FileResult::Complete;
}

}  // namespace quarry
