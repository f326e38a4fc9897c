// The three exchanges a worker runs for one address: the HEAD exchange that tells a page from
// a file and names it, the download of a page into memory and the download of a file onto
// disk with up to three attempts that resume with a byte range. Each runs on fresh
// HttpSessions in the calling thread; the downloads report their steps through a
// TransferContext and end early when it says the task is stopping.
#pragma once

#include <cstdint>
#include <string>

#include "http/http_session.h"
#include "http/response_head.h"
#include "http/transfer_context.h"

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
// The result of a file download whose file could not be created, written, flushed or moved to
// its final name (no space, no permission): not a failure of the exchange but of the disk.
constexpr int kFileNotWritten = -9;
// Appended to the final name of a file while it is being received.
inline constexpr const char* kPartSuffix = ".part";

// One HEAD exchange with `address`:`port` for `host` and `path` (as split from the address).
// 1 on success: a page (Content-Type contains "text/html"; extension "html") or a file whose
// name and extension were found; `length` is the Content-Length, 0 when absent or not a
// number. Failures: -1 not connected in time or the send/head read gave 0; -3 no socket or
// the receive limit could not be set; -4 status 302; -5 Content-Length of zero; -7 any other
// status outside 200 to 299; -8 bad address, send/head read gave -1, no Content-Type, or no
// usable file name.
int HeadExchange(const char* host, const char* path, const char* address,
                 char (&lastModified)[kLastModifiedSize], char (&extension)[kExtensionSize],
                 char (&name)[kNameSize], int port, int& length,
                 const HttpTimeouts& timeouts = HttpTimeouts{});

// GETs `path` into `page` (appended, each chunk up to its first zero byte), reading up to the
// answer's Content-Length (kDefaultPageTotal when absent), until the server closes, the body
// time limit runs out or the task stops. 1 when at least one byte arrived, else -1; -3 no
// socket or limit; -8 bad address or the head read gave -1.
int DownloadPage(TransferContext& context, int thread, const char* host, const char* path,
                 std::string& page, const char* address, int port,
                 const HttpTimeouts& timeouts = HttpTimeouts{});

// GETs `path` into a new file at `file` until `total` bytes are written, in at most
// kFileAttempts attempts. The bytes go to `file` + kPartSuffix, which is flushed and renamed
// to `file` once whole. An existing file is never touched: the new one gets a numbered name
// ("a(1).doc") and `file` is updated to the path actually written. A resumed 2xx answer other
// than 206 starts the file over; an error answer to a resume writes nothing. 0 when `total`
// bytes arrived (an empty file for 0); -1 fewer bytes, not connected in time or the send/head
// read gave 0; -3 no socket or limit; -8 bad address or the head read gave -1;
// kFileNotWritten when the file could not be created, written or renamed: that is logged as
// the file's last line and told to `context` (OnFileError). The file is written through
// `context`.Disk(). On any failure nothing is left on disk.
int DownloadFile(TransferContext& context, int thread, const char* host, const char* path,
                 std::uint32_t total, const char* address, int port, std::string& file,
                 const HttpTimeouts& timeouts = HttpTimeouts{});

// The progress line shown after each chunk for `received` bytes so far.
std::string ProgressLine(std::uint64_t received);

}  // namespace quarry
