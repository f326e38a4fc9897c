// The three exchanges a worker runs for one address: the HEAD exchange that tells a page from
// a file and names it, the download of a page into memory and the download of a file onto
// disk with up to three attempts that resume with a byte range. Each runs on its own
// HttpSessions in the calling thread, connecting anew unless the target carries a connection
// the HEAD exchange kept open; the downloads report their steps through a TransferContext and
// end early when it says the task is stopping.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "http/exchange.h"
#include "http/http_session.h"
#include "http/response_head.h"
#include "http/transfer_context.h"
#include "platform/files.h"

namespace quarry {

// A page answer without a usable Content-Length is read up to this many bytes.
constexpr int kDefaultPageTotal = 2048000;
// Attempts of one file download; later ones resume from the first missing byte.
constexpr int kFileAttempts = 3;
// Bytes asked of one receive for a page; the size of one logged chunk of a file.
constexpr int kPageChunk = 1024;
constexpr int kFileChunk = 4096;
// A file is received up to this many bytes per call and written in one piece, then logged
// chunk by chunk: a 4 KB receive per call cost a large file nearly half of its throughput.
constexpr int kFileRead = 16 * kFileChunk;
// Numbered names tried when the local path of a file is already taken.
constexpr int kMaxNameCounter = 9999;
// Appended to the final name of a file while it is being received.
inline constexpr const char* kPartSuffix = ".part";

// What a file request carries beyond the classic one: the session cookies of the live road
// and the address of the page the file was found on. Empty fields add no line, so a classic
// request stays byte for byte what it was.
struct FileRequestExtras {
  std::string cookie;   // the Cookie value, "" for none
  std::string referer;  // the Referer value, "" for none
};

// A file received whole and still under its ".part" name, handed over to whoever makes it
// durable and gives it its final name (engine/file_committer.h). The ".part" stays open, and so
// locked against a task that starts in the folder meanwhile.
struct WholeFile {
  FileDescriptor file;
  std::string partPath;  // "<final name>.part"
  int counter = 0;       // the numbered name that the ".part" reserves
  // The final name with number `counter` ("a(2).doc"; 0: the name asked for).
  std::function<std::string(int counter)> nameWith;
};

// How a HEAD exchange ended. The numbers are the codes the transfer has always reported.
enum class HeadResult : int {
  Answered = 1,       // a page, or a file whose name was found
  NoAnswer = -1,      // the send or the head read timed out, or the TLS handshake did
  NotConnected = -2,  // the connection was refused or not made in time
  NoSocket = -3,      // no socket, or the body time limit could not be set
  Redirect302 = -4,   // status 302
  ZeroLength = -5,    // a Content-Length of zero: nothing to fetch
  BadStatus = -7,     // any other status outside 200 to 299
  Unusable = -8,      // a bad address, a broken head, no Content-Type, or no usable file name
};

// How a page download ended.
enum class PageResult : int {
  Received = 1,          // at least one byte arrived
  NothingReceived = -1,  // no byte; or the send or head read timed out
  NotConnected = -2,     // the connection was refused or not made in time
  NoSocket = -3,         // no socket, or the body time limit could not be set
  Broken = -8,           // a bad address, or the head read broke off
};

// How a file download ended.
enum class FileResult : int {
  Complete = 0,       // the whole body arrived and the file has its final name
  Incomplete = -1,    // the body was not whole after the attempts (cut short, a time limit, a
                      // broken framing); or the send or head read timed out
  NotConnected = -2,  // the connection was refused or not made in time
  NoSocket = -3,      // no socket, or the body time limit could not be set
  Broken = -8,        // a bad address, the head read broke off or overflowed, or an error status
  NotWritten = -9,    // the file could not be created, written, flushed or moved to its name (no
                      // space, no permission): a failure of the disk, not of the exchange
  Refused = -10,      // its BodyWatch refused the file: nothing is kept
};

// Why the attempts at a file's body ended without it whole.
enum class FileFailure {
  None,
  HeadTooLong,       // the GET's head did not end within the head buffer
  ErrorStatus,       // the GET was answered with an error status
  TimedOut,          // a receive's time limit ran out before the body's length was reached
  NoLengthTimedOut,  // a body framed by the closing alone ended by the time limit instead
  ClosedEarly,       // the server closed before the body's length or its last chunk
  ReceiveFailed,     // the connection broke (reset, unreachable)
  BrokenChunks,      // the chunk framing was not readable
};

// How a file download ended, beyond its result: the failure of its last attempt.
struct FileDownloadEnd {
  FileFailure failure = FileFailure::None;
  int status = 0;              // the error status answered, with ErrorStatus
  std::uint64_t received = 0;  // bytes of the body that had arrived
};

// Sees the bytes of a file as they are written, in order, and may refuse the file.
class BodyWatch {
public:
  virtual ~BodyWatch() = default;
  // The body starts again from its first byte (a server that ignored a resume's range).
  virtual void Restart() = 0;
  // `data` follows the bytes seen so far. False refuses the file: its download ends at once
  // and nothing of it is kept.
  virtual bool See(const char* data, std::size_t size) = 0;
};

// What a HEAD exchange tells of an address.
struct HeadAnswer {
  char lastModified[kLastModifiedSize] = {};  // the raw Last-Modified value, leading blank kept
  char extension[kExtensionSize] = {};        // "html" for a page or a name without one, else the
                                              // name's extension with its dot (".doc")
  char name[kNameSize] = {};                  // the file name; a page leaves it as it was
  int length = 0;                             // the Content-Length, 0 when absent or not a number
  int status = 0;                             // the status answered, 0 when none was read
  // A page, fetched into memory and searched for links: a text/html answer, a name without an
  // extension, or a text file (".txt" in any case). Anything else is a file to save.
  bool isPage = false;
  std::string problem;  // why a secure connection was not made (certificate, handshake), or ""
  // How the exchange began: Ready, or why not (a Proxy outcome: the proxy stopped it).
  ExchangeStart start = ExchangeStart::Ready;
};

// One HEAD exchange with `target`. Answered for a page (Content-Type contains "text/html") or a
// file whose name and extension were found; `answer` then says which and how long. The other
// results are failures (see HeadResult); outputs written before one keep what was written.
HeadResult HeadExchange(const ExchangeTarget& target, HeadAnswer& answer,
                        const HttpTimeouts& timeouts = HttpTimeouts{});

// GETs the target into `page` (appended, each chunk up to its first zero byte), reading up to
// the answer's Content-Length (kDefaultPageTotal when absent), until the server closes, the
// body time limit runs out or the task stops.
PageResult DownloadPage(TransferContext& context, int thread, const ExchangeTarget& target,
                        std::string& page, const HttpTimeouts& timeouts = HttpTimeouts{});

// GETs the target into a new file at `file`, in at most kFileAttempts attempts. The GET's own
// head frames the body: its Content-Length, its chunks, or else the server closing the
// connection; a body framed by the closing alone is cut short when it ends under `total` (the
// HEAD's length). A body is whole only so: one cut short, one that a time limit ended, a
// head too long to read or a broken chunk framing is a failure, with a line that says which.
// The bytes go to `file` + kPartSuffix, which is flushed and renamed to `file` once whole. An
// existing file is never touched: the new one gets a numbered name
// ("a(1).doc") and `file` is updated to the path actually written. A resumed 2xx answer other
// than 206 starts the file over; an error answer to a resume writes nothing. NotWritten is
// logged as the file's last line and told to `context` (OnFileError). The file is written
// through `context`.Disk(). On any failure nothing is left on disk. Given `whole`, a whole file
// is neither flushed nor renamed: its ".part" is handed over in `whole` and `file` names the
// final name it reserves. Given `watch`, every byte of the body passes it before it is written,
// and a refusal ends the download (Refused). Given `end`, it tells how the last attempt failed.
FileResult DownloadFile(TransferContext& context, int thread, const ExchangeTarget& target,
                        std::uint32_t total, std::string& file,
                        const HttpTimeouts& timeouts = HttpTimeouts{}, WholeFile* whole = nullptr,
                        const FileRequestExtras& extras = FileRequestExtras{},
                        BodyWatch* watch = nullptr, FileDownloadEnd* end = nullptr);

// The progress line shown after each chunk for `received` bytes so far.
std::string ProgressLine(std::uint64_t received);

}  // namespace quarry
