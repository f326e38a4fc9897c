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
#include "platform/format.h"

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

  // Hands the whole file over as it is, unflushed under its ".part" name, with what names it.
  void HandOver(WholeFile& whole) {
    whole.file = std::move(m_file);
    whole.partPath = std::move(m_partPath);
    m_partPath.clear();
    whole.counter = m_counter;
    whole.nameWith = [wanted = m_wanted, componentStart = m_componentStart, dot = m_dot](
                         int counter) { return NameWith(wanted, componentStart, dot, counter); };
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
    return NameWith(m_wanted, m_componentStart, m_dot, counter);
  }
  static std::string NameWith(const std::string& wanted, std::size_t componentStart,
                              std::size_t dot, int counter) {
    const std::string tail =
        (counter == 0 ? std::string() : "(" + std::to_string(counter) + ")") + wanted.substr(dot);
    std::string stem = wanted.substr(0, dot);
    constexpr std::size_t kRoom = kLongestName - std::string_view(kPartSuffix).size();
    const std::size_t length = stem.size() - componentStart + tail.size();
    if (length > kRoom) {
      std::size_t cut = stem.size() - std::min(length - kRoom, stem.size() - componentStart);
      while (cut > componentStart && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
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

// The result of an exchange that did not start, in the numbers each exchange has always
// reported: a time-out -1, no connection -2, no socket -3, anything else -8.
template <typename Result>
Result Failed(ExchangeStart start) {
  switch (start) {
    case ExchangeStart::NoAnswer: return static_cast<Result>(-1);
    case ExchangeStart::NotConnected: return static_cast<Result>(-2);
    case ExchangeStart::NoSocket: return static_cast<Result>(-3);
    case ExchangeStart::BadAddress:
    case ExchangeStart::Untrusted:
    case ExchangeStart::Broken:
    case ExchangeStart::ProxyUnreachable:
    case ExchangeStart::ProxyCredentials:
    case ExchangeStart::ProxyRefused:
    case ExchangeStart::Ready: break;
  }
  return static_cast<Result>(-8);
}

static_assert(static_cast<int>(HeadResult::NoAnswer) == -1 &&
              static_cast<int>(PageResult::NothingReceived) == -1 &&
              static_cast<int>(FileResult::Incomplete) == -1);
static_assert(static_cast<int>(HeadResult::NotConnected) == -2 &&
              static_cast<int>(PageResult::NotConnected) == -2 &&
              static_cast<int>(FileResult::NotConnected) == -2);
static_assert(static_cast<int>(HeadResult::NoSocket) == -3 &&
              static_cast<int>(PageResult::NoSocket) == -3 &&
              static_cast<int>(FileResult::NoSocket) == -3);
static_assert(static_cast<int>(HeadResult::Unusable) == -8 &&
              static_cast<int>(PageResult::Broken) == -8 &&
              static_cast<int>(FileResult::Broken) == -8);

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

// Why a file's body did not come whole.

std::string FileFailureLine(FileFailure failure, std::uint64_t received, std::uint64_t expected) {
  const auto count = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
  switch (failure) {
    case FileFailure::HeadTooLong:
      return Format("文件下载失败：应答头超过 %d 字节，无法读取...",
                    static_cast<int>(HttpSession::kHeadSize));
    case FileFailure::ErrorStatus:
      return Format("文件下载失败：服务器应答状态 %d...", static_cast<int>(received));
    case FileFailure::TimedOut:
      return Format("文件下载失败：接收超时，只收到 %llu / %llu 字节...", count(received),
                    count(expected));
    case FileFailure::NoLengthTimedOut:
      return Format("文件下载失败：应答没有给出长度，接收超时前服务器没有结束（收到 %llu 字节）...",
                    count(received));
    case FileFailure::ClosedEarly:
      return expected > 0
                 ? Format("文件下载失败：服务器提前关闭了连接，只收到 %llu / %llu 字节...",
                          count(received), count(expected))
                 : Format("文件下载失败：服务器在最后一块之前关闭了连接（收到 %llu 字节）...",
                          count(received));
    case FileFailure::ReceiveFailed:
      return Format("文件下载失败：连接中断，只收到 %llu 字节...", count(received));
    case FileFailure::BrokenChunks:
      return Format("文件下载失败：分块编码损坏（收到 %llu 字节）...", count(received));
    case FileFailure::None: break;
  }
  return "文件下载失败...";
}

// The line for an exchange that failed before its head was read.
std::string StartFailureLine(ExchangeStart start) {
  switch (start) {
    case ExchangeStart::NotConnected: return "文件下载失败：无法连接服务器（被拒绝或超时）...";
    case ExchangeStart::NoAnswer: return "文件下载失败：发送请求或等待应答头超时...";
    case ExchangeStart::NoSocket: return "文件下载失败：无法建立连接所需的套接字...";
    case ExchangeStart::ProxyUnreachable:
    case ExchangeStart::ProxyCredentials:
    case ExchangeStart::ProxyRefused: return "文件下载失败：代理服务器未能连接目标...";
    case ExchangeStart::BadAddress:
    case ExchangeStart::Untrusted:
    case ExchangeStart::Broken:
    case ExchangeStart::Ready: break;
  }
  return "文件下载失败：服务器在应答头结束前断开...";
}

// The body of a file answer, read into the ".part" over one or more attempts. Each answer
// says how its body ends: after its Content-Length, after its last chunk, or when the server
// closes the connection; only a body that ended so is whole.
class BodyReader {
public:
  BodyReader(TransferContext& context, int thread, PartFile& output, std::uint32_t headLength,
             BodyWatch* watch)
      : m_context(context),
        m_thread(thread),
        m_output(output),
        m_watch(watch),
        m_headLength(headLength),
        m_buffer(new char[kFileRead]),
        m_whole(headLength == 0) {}

  std::uint64_t Received() const { return m_received; }
  bool Whole() const { return m_whole; }
  bool Refused() const { return m_refused; }
  FileFailure Failure() const { return m_failure; }
  std::string FailureLine() const { return FileFailureLine(m_failure, m_received, m_expected); }

  // Takes the framing of the answer whose head `session` read; a body not `resumed` starts at
  // its first byte (the caller emptied the file).
  void Begin(const HttpSession& session, bool resumed) {
    if (!resumed) {
      m_received = 0;
      if (m_watch != nullptr) m_watch->Restart();
    }
    const ResponseHead head = session.StoredHead();
    char text[kPageLengthTextSize];
    m_chunked = head.HeaderField("Transfer-Encoding", text, sizeof text, 0) == HeaderRead::Copied &&
                strcasestr(text, "chunked") != nullptr;
    m_decoder = ChunkedDecoder{};
    m_lengthKnown = false;
    m_expected = m_headLength;
    if (!m_chunked &&
        head.HeaderField("Content-Length", text, sizeof text, 0) == HeaderRead::Copied) {
      const int length = LengthValue(text);
      if (length >= 0) {
        m_lengthKnown = true;
        m_expected = m_received + static_cast<std::uint64_t>(length);
      }
    }
    m_failure = FileFailure::None;
  }

  // Reads this answer's body until it is whole, ends short, is refused or the task stops.
  // False when the file could not be written.
  bool ReadAttempt(HttpSession& session) {
    std::string decoded;
    while (!m_context.IsStopped() && !m_refused) {
      std::size_t wanted = kFileRead;
      if (m_lengthKnown) {
        if (m_received >= m_expected) {
          m_whole = true;
          return true;
        }
        wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, m_expected - m_received));
      }
      const int count = session.Receive(m_buffer.get(), static_cast<int>(wanted));
      if (count == 0) {
        // Closed: the end of a body framed by the closing, early for any other.
        const bool closingEnds = !m_lengthKnown && !m_chunked;
        m_whole = closingEnds && m_received >= m_expected;
        if (!m_whole) m_failure = FileFailure::ClosedEarly;
        return true;
      }
      if (count < 0) {
        const int error = session.ReceiveError();
        const bool timedOut = error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT;
        m_failure = !timedOut                    ? FileFailure::ReceiveFailed
                    : m_lengthKnown || m_chunked ? FileFailure::TimedOut
                                                 : FileFailure::NoLengthTimedOut;
        return true;
      }
      if (!m_chunked) {
        if (!Write(m_buffer.get(), static_cast<std::size_t>(count))) return false;
        continue;
      }
      decoded.clear();
      const bool readable =
          m_decoder.Feed(m_buffer.get(), static_cast<std::size_t>(count), decoded);
      if (!Write(decoded.data(), decoded.size())) return false;
      if (!readable) {
        m_failure = FileFailure::BrokenChunks;
        return true;
      }
      if (m_decoder.Done()) {
        m_whole = true;
        return true;
      }
    }
    return true;
  }

private:
  // Writes file bytes and logs them a chunk at a time, as they have always been logged.
  bool Write(const char* data, std::size_t size) {
    if (size == 0) return true;
    if (m_watch != nullptr && !m_watch->See(data, size)) {
      m_refused = true;
      return true;
    }
    if (!m_output.WriteAll(data, size)) return false;
    m_context.OnReceived(m_thread, size);
    for (std::size_t logged = 0; logged < size; logged += kFileChunk) {
      const std::size_t piece = std::min<std::size_t>(kFileChunk, size - logged);
      m_received += piece;
      m_context.Log(m_thread, Format("接收到 %d 字节.....", static_cast<int>(piece)));
      m_context.Log(m_thread, ProgressLine(m_received));
    }
    return true;
  }

  TransferContext& m_context;
  const int m_thread;
  PartFile& m_output;
  BodyWatch* const m_watch;  // null: every body is kept
  bool m_refused = false;    // the watch refused the file
  const std::uint64_t m_headLength;  // what the HEAD said, a floor for a body ended by closing
  std::unique_ptr<char[]> m_buffer;
  std::uint64_t m_received = 0;  // bytes of the file on disk
  std::uint64_t m_expected = 0;  // the length the body must reach, 0 when unknown
  bool m_lengthKnown = false;    // the answer gave its Content-Length
  bool m_chunked = false;
  bool m_whole;  // an empty file is whole before it is asked for
  FileFailure m_failure = FileFailure::None;
  ChunkedDecoder m_decoder;
};

}  // namespace

std::string ProgressLine(std::uint64_t received) {
  if (received < 1024) return Format("下载速度：%d (B)......", static_cast<int>(received));
  return Format("下载速度：%.2f (KB)......", static_cast<double>(received) / 1024.0);
}

HeadResult HeadExchange(const ExchangeTarget& target, HeadAnswer& answer,
                        const HttpTimeouts& timeouts) {
  HttpSession session(timeouts);
  int requestLength = 0;
  session.ComposeHead(target.host, target.path, requestLength, nullptr, nullptr);
  const ExchangeStart start = OpenExchange(session, target, nullptr, 0, nullptr);
  answer.start = start;
  if (start != ExchangeStart::Ready) {
    answer.problem = session.TlsProblem();
    return Failed<HeadResult>(start);
  }

  const ResponseHead head = session.StoredHead();
  const int status = head.StatusCode();
  answer.status = status;
  if (status == kFound) return HeadResult::Redirect302;
  if (status < 200 || status > 299) return HeadResult::BadStatus;

  head.HeaderField("Last-Modified", answer.lastModified, kLastModifiedSize, 0);
  std::memset(answer.extension, 0, sizeof answer.extension);
  std::memcpy(answer.extension, "html", 4);

  answer.length = 0;
  char lengthText[kLengthTextSize];
  if (head.HeaderField("Content-Length", lengthText, kLengthTextSize, 0) == HeaderRead::Copied) {
    const int value = LengthValue(lengthText);
    if (value == 0) return HeadResult::ZeroLength;
    if (value > 0) answer.length = value;
  }

  char type[kTypeTextSize];
  if (head.HeaderField("Content-Type", type, kTypeTextSize, 0) == HeaderRead::Absent)
    return HeadResult::Unusable;
  if (std::strstr(type, "text/html") != nullptr) {
    answer.isPage = true;
    KeepConnection(session, target);
    return HeadResult::Answered;
  }

  const std::string_view objectPath(target.path);
  const bool named = objectPath.find('?') == std::string_view::npos
                         ? NameFromText(objectPath, answer.name, answer.extension)
                         : head.DispositionName(answer.name, kDispositionSize) &&
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
      OpenExchange(session, target, &context, thread, "开始连接服务器......");
  if (start != ExchangeStart::Ready) return Failed<PageResult>(start);
  const ResponseHead head = session.StoredHead();

  char lengthText[kPageLengthTextSize];
  long long total = 0;
  if (head.HeaderField("Content-Length", lengthText, kPageLengthTextSize, 0) ==
      HeaderRead::Copied) {
    total = LengthValue(lengthText);
  }
  if (total <= 0) total = kDefaultPageTotal;
  // A chunked page arrives framed: it is read whole, up to its last chunk (a server that keeps
  // the connection open sends nothing after it), and then freed of its framing, which would
  // otherwise cut links apart wherever a chunk ends.
  char encoding[kPageLengthTextSize];
  const bool chunked = head.HeaderField("Transfer-Encoding", encoding, kPageLengthTextSize, 0) ==
                           HeaderRead::Copied &&
                       strcasestr(encoding, "chunked") != nullptr;
  std::string framed;
  bool whole = false;  // the last chunk came

  context.Log(thread, "开始接收数据......");
  long long received = 0;
  char chunk[kPageChunk + 1];
  while (!context.IsStopped() && received < total) {
    std::memset(chunk, 0, sizeof chunk);
    int count = session.Receive(chunk, kPageChunk);
    if (count < 0 && session.ReceiveError() == EAGAIN) {
      context.Log(thread, Format("接收网页超时（已收到 %lld 字节）......", received));
    }
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
  context.Log(thread, "连接已关闭......");
  return received > 0 ? PageResult::Received : PageResult::NothingReceived;
}

FileResult DownloadFile(TransferContext& context, int thread, const ExchangeTarget& target,
                        std::uint32_t total, std::string& file, const HttpTimeouts& timeouts,
                        WholeFile* whole, const FileRequestExtras& extras, BodyWatch* watch,
                        FileDownloadEnd* end) {
  FileDownloadEnd ignored;
  if (end == nullptr) end = &ignored;
  *end = FileDownloadEnd{};
  PartFile output(context.Disk());
  bool created = output.Create(file);
  context.Log(thread, file);
  if (!created) return FileNotWritten(context, thread, file, output.Error());

  BodyReader body(context, thread, output, total, watch);
  // A stop is also honoured between attempts, so a stopped task does not connect again.
  for (int attempt = 0; attempt < kFileAttempts && !body.Whole() && !context.IsStopped();
       ++attempt) {
    HttpSession session(timeouts);
    int requestLength = 0;
    // Offsets beyond the request's 32-bit range cannot be asked for; such an attempt asks for
    // the whole file and starts over below.
    const std::uint64_t received = body.Received();
    std::int32_t rangeFrom = received <= INT32_MAX ? static_cast<std::int32_t>(received) : 0;
    session.ComposeGet(target.host, target.path, requestLength,
                       extras.cookie.empty() ? nullptr : extras.cookie.c_str(),
                       extras.referer.empty() ? nullptr : extras.referer.c_str(), rangeFrom, 0);
    const ExchangeStart start = OpenExchange(session, target, &context, thread, "连接服务器......");
    if (start != ExchangeStart::Ready) {
      context.Log(thread, StartFailureLine(start));
      return Failed<FileResult>(start);
    }
    if (session.HeadCut()) {
      end->failure = FileFailure::HeadTooLong;
      context.Log(thread, FileFailureLine(FileFailure::HeadTooLong, 0, 0));
      return FileResult::Broken;
    }
    const int status = session.StatusCode();
    if (status < 200 || status > 299) {
      // An error answer to a resumed request carries no part of the file: keep what is on
      // disk and let the next attempt ask again. A first answer like it holds no file at all.
      end->failure = FileFailure::ErrorStatus;
      end->status = status;
      if (rangeFrom > 0) continue;
      context.Log(thread, FileFailureLine(FileFailure::ErrorStatus, status, 0));
      return FileResult::Broken;
    }
    // A server that ignores the range sends the whole file again: keep it, not the old part.
    const bool resumed = rangeFrom > 0 && status == kPartialContent;
    if (!resumed && received > 0 && !output.StartOver())
      return FileNotWritten(context, thread, file, output.Error());
    body.Begin(session, resumed);
    context.Log(thread, "开始接收数据......");
    if (!body.ReadAttempt(session)) return FileNotWritten(context, thread, file, output.Error());
    if (body.Refused()) break;
    end->failure = body.Failure();
    end->received = body.Received();
    // Each attempt that ended short says why; a stopped task's download simply ends.
    if (!body.Whole() && !context.IsStopped()) context.Log(thread, body.FailureLine());
  }
  context.Log(thread, "连接已关闭......");
  if (body.Refused()) return FileResult::Refused;
  if (!body.Whole()) return FileResult::Incomplete;  // the ".part" goes with `output`
  if (whole != nullptr) {
    output.HandOver(*whole);
    return FileResult::Complete;
  }
  if (!output.Complete(file)) return FileNotWritten(context, thread, file, output.Error());
  return FileResult::Complete;
}

}  // namespace quarry
