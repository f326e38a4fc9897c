// The per-task queue of addresses that the workers fetch.
//
// Entries are fixed 2360-byte `UrlNode` records. At most `maxInMemory` of them stay in memory;
// when that many are queued, the entries nearest the head (the next to be served) are written
// as raw records into numbered spill files "0", "1", ... in the task folder, leaving
// `keepInMemory` in memory, and the files come back oldest first when the list in memory runs
// dry. A 16,777,216-bit set of seen keys filters repeated result pages.
//
// Two locks: the queue lock guards the list, the counters and the spill files; the seen lock
// guards only the bit set. They are never held together. Messages (a spill that could not be
// written, a spill file that came back short) go to a sink that is called with no lock held,
// with the log page of the caller whose Add or Take raised them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/link_sink.h"

namespace quarry {

// One queued address. The same bytes, little-endian, are a record of a spill file; the fields
// that nothing fills are kept zero.
struct UrlNode {
  char source[1024];  // origin marker: "" result page, "http://" document, "null" image
  char url[1024];     // absolute address to fetch
  char title[256];    // link text, at most 255 bytes
  char extra[40];     // always empty
  std::int32_t reserved1;
  std::int32_t reserved2;
  std::uint8_t reservedByte;
  std::uint8_t isSearchPage;  // 1 for result pages, 0 for harvested links
  std::uint8_t padding[2];
  std::uint32_t link;  // next-entry pointer of the 32-bit file format; always 0 here
};

static_assert(sizeof(UrlNode) == 2360, "UrlNode is a spill-file record of 2360 bytes");
static_assert(offsetof(UrlNode, source) == 0);
static_assert(offsetof(UrlNode, url) == 1024);
static_assert(offsetof(UrlNode, title) == 2048);
static_assert(offsetof(UrlNode, extra) == 2304);
static_assert(offsetof(UrlNode, reserved1) == 2344);
static_assert(offsetof(UrlNode, reserved2) == 2348);
static_assert(offsetof(UrlNode, reservedByte) == 2352);
static_assert(offsetof(UrlNode, isSearchPage) == 2353);
static_assert(offsetof(UrlNode, link) == 2356);

// The caller's buffers that `UrlQueue::Take` fills; each text is NUL-terminated.
struct TakenUrl {
  char url[1024];
  char title[256];
  char source[1024];
  bool isSearchPage;
};

class UrlQueue {
public:
  static constexpr std::int32_t kDefaultMaxInMemory = 5000;
  static constexpr std::int32_t kDefaultKeepInMemory = 200;
  static constexpr std::size_t kSeenBits = std::size_t{1} << 24;

  // Called with the log page (`thread`) given to the Add or Take that raised the message.
  using MessageSink = std::function<void(int thread, const std::string&)>;

  // The limits are injectable so that tests can spill often; the task runner uses the defaults.
  explicit UrlQueue(std::int32_t maxInMemory = kDefaultMaxInMemory,
                    std::int32_t keepInMemory = kDefaultKeepInMemory);
  ~UrlQueue();
  UrlQueue(const UrlQueue&) = delete;
  UrlQueue& operator=(const UrlQueue&) = delete;

  // Where spill and reload messages go; called without any queue lock held. Set it before
  // other threads use the queue.
  void SetMessageSink(MessageSink sink);

  // Queues `link` at `end`: the front is the head, served next. A title over 255 bytes is cut
  // on a UTF-8 character boundary. With `checkSeen`, an address whose seen key is already
  // marked is dropped. False when nothing was queued: a url or source over 1023 bytes, or an
  // address already seen. Messages go to the sink with `thread`.
  bool Add(int thread, QueueEnd end, const LinkToQueue& link);

  // Removes the head entry into `out`, reloading the oldest spill file first when the list in
  // memory is empty. False when nothing is queued (then `out` is left as it was). Messages go
  // to the sink with `thread`.
  bool Take(int thread, TakenUrl* out);

  // True when nothing is left: the list is empty and no spill file is pending, or total <= 0.
  bool IsDrained();

  // Binds the queue to `folder` (the task folder) and empties it; spill files of the previous
  // folder that were not read back are deleted. The spill files are named `spillPrefix`
  // followed by their number: a queue beside another run's in the same folder takes a prefix
  // of its own.
  void Reset(const std::string& folder, const std::string& spillPrefix = "");

  // True when `entry` looks like a spill file, of this run or of one that ended without
  // unwinding (a crash): a regular file named by a number, or by a number, "-" and a number,
  // that holds a whole number of records.
  static bool IsSpillFile(const std::filesystem::directory_entry& entry);

  // Clears every bit of the seen set.
  void ClearSeen();

  // True when `url`'s key was not marked before (and marks it), false when it was. The key of
  // an address with "pn=" is its tail from there: a result page is known by its offset.
  bool TestAndSetSeen(std::string_view url);
  // The same with the whole address as the key, for addresses that are no result pages.
  bool TestAndSetSeenAddress(std::string_view url);

  // Figures for the runner's display and for tests.
  std::int32_t Total();
  std::int32_t InMemory();
  std::size_t PendingSpillFiles();
  std::int32_t MaxInMemory() const { return m_maxInMemory; }
  std::int32_t KeepInMemory() const { return m_keepInMemory; }

private:
  struct SpillFile {
    std::string name;
    std::int32_t written;  // records the file should hold
  };

  // Both run under the queue lock; messages for the sink are appended to `messages`.
  bool Spill(bool front, std::vector<std::string>* messages);
  void Reload(std::vector<std::string>* messages);
  // Writes the first `count` records of the list to `path`; false (and no file) on a failure.
  bool WriteSpillFile(const std::string& path, std::size_t count) const;
  void Link(bool front, const UrlNode& node, std::vector<std::string>* messages);
  std::string PathOf(const std::string& name) const;
  void Deliver(int thread, const std::vector<std::string>& messages);

  const std::int32_t m_maxInMemory;
  const std::int32_t m_keepInMemory;

  std::mutex m_lock;  // the queue lock
  std::string m_folder;
  std::string m_spillPrefix;
  std::deque<UrlNode> m_list;  // head at the front
  std::int32_t m_total = 0;    // queued and not yet taken, in memory and in spill files
  std::int32_t m_spillCounter = 0;
  std::deque<SpillFile> m_spillNames;  // oldest first
  bool m_spillFailing = false;         // a spill failed and none has succeeded since
  MessageSink m_sink;

  std::mutex m_seenLock;
  std::unique_ptr<std::uint8_t[]> m_seen;  // kSeenBits / 8 bytes
};

}  // namespace quarry
