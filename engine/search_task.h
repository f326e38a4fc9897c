// SearchTask: one order of the user (harvest files of one kind for one keyword into one
// folder). The record is also the record of the task files, written byte for byte, so its
// layout is a file format: 564 bytes, little-endian integers, NUL-terminated UTF-8 texts in
// fixed fields. The layout is pinned below by static checks on the size and every offset.
// The two run-time fields at the end cannot hold a 64-bit pointer; they are always written as
// zero and ignored on reading, and the real links live beside the record (engine/task.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <type_traits>

#include "harvest/file_kind.h"

namespace quarry {

// The state byte of a task. Value 2 is not used. Paused is never set by the program; a record
// read with it is runnable like a waiting one.
enum class TaskState : std::uint8_t { Waiting = 0, Running = 1, Paused = 3, Ended = 4 };

inline constexpr std::size_t kSearchTaskSize = 564;
inline constexpr std::size_t kCreatedAtSize = 20;  // "YYYY-MM-DD HH:MM:SS" and its NUL
inline constexpr std::size_t kKeywordSize = 258;   // 257 bytes of text and the NUL
inline constexpr std::size_t kFolderSize = 260;    // 259 bytes of path and the NUL
inline constexpr int kMinThreadCount = 1;
inline constexpr int kMaxThreadCount = 6;
inline constexpr int kMinPageCount = 1;
inline constexpr int kMaxPageCount = 500;
inline constexpr int kDefaultThreadCount = 3;
inline constexpr int kDefaultPageCount = 50;

struct SearchTask {
  FileKind kind;  // any byte may come from a file; check before indexing by it
  char createdAt[kCreatedAtSize];
  TaskState state;  // any byte may come from a file
  char keyword[kKeywordSize];
  std::int32_t pageCount;     // kept as read; use RunnablePageCount() to run
  std::int32_t pagesFetched;  // written by the workers under their runner's counter lock
  std::int32_t filesFetched;  // likewise
  std::int32_t threadCount;   // kept as read; use RunnableThreadCount() to run
  char folder[kFolderSize];   // ends with '/'
  std::uint32_t treeItem;     // always 0: the tree item lives in Task::treeItem
  std::uint32_t runner;       // always 0: the runner lives in Task::runner
};

static_assert(std::endian::native == std::endian::little,
              "task files hold little-endian integers written straight from memory");
static_assert(sizeof(SearchTask) == kSearchTaskSize);
static_assert(std::is_standard_layout_v<SearchTask>);
static_assert(std::is_trivially_copyable_v<SearchTask>);
static_assert(offsetof(SearchTask, kind) == 0);
static_assert(offsetof(SearchTask, createdAt) == 1);
static_assert(offsetof(SearchTask, state) == 21);
static_assert(offsetof(SearchTask, keyword) == 22);
static_assert(offsetof(SearchTask, pageCount) == 280);
static_assert(offsetof(SearchTask, pagesFetched) == 284);
static_assert(offsetof(SearchTask, filesFetched) == 288);
static_assert(offsetof(SearchTask, threadCount) == 292);
static_assert(offsetof(SearchTask, folder) == 296);
static_assert(offsetof(SearchTask, treeItem) == 556);
static_assert(offsetof(SearchTask, runner) == 560);

// The values the add-task dialog (or the command line) confirmed.
struct NewTaskValues {
  std::string keyword;                    // trimmed by MakeSearchTask
  std::string folder;                     // parent download folder, normally ending with '/'
  int threadCount = kDefaultThreadCount;  // 1 to 6
  int pageCount = kDefaultPageCount;      // 1 to 500
  FileKind kind = FileKind::Image;
};

// Fills `task` as a new waiting record made at `now` (local time): all other bytes zero,
// keyword = values.keyword without the blanks around it (spaces, ideographic spaces),
// folder = values.folder + keyword + "/". False, with a user-facing text in `error` and `task`
// untouched, for a blank keyword, one that is not well-formed UTF-8, one with a control
// character (newline, tab, 0x01, DEL, C1), a keyword over 257 bytes or one that is no folder
// name (contains '/' or a NUL, or is "." or ".."), an empty folder, a folder path over 259
// bytes, a thread count outside 1..6, a page count outside 1..500 or an unknown kind. Never
// cuts a text.
bool MakeSearchTask(const NewTaskValues& values, std::time_t now, SearchTask* task,
                    std::string* error);

// Length of the longest prefix of `text` of at most `limit` bytes that does not split a UTF-8
// character: the cut steps back over the continuation bytes of the first byte left out. The one
// cut of a text to a size, for fixed fields and for shown texts alike.
std::size_t CutOnCharacter(std::string_view text, std::size_t limit);

// The text of a fixed field: up to its NUL, or the whole field when a record read from a file
// has none; in that case an incomplete UTF-8 character at the field's end is left out.
std::string FieldText(const char* field, std::size_t size);
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}

// Copies `text` and its NUL into a field of `size` bytes, zero-filling the rest. False, with
// the field untouched, when the text (plus its NUL) does not fit or contains a NUL.
bool SetFieldText(char* field, std::size_t size, std::string_view text);

// threadCount and pageCount clamped to 1..6 and 1..500 for running; the record keeps what was
// read from its file.
int RunnableThreadCount(const SearchTask& task);
int RunnablePageCount(const SearchTask& task);

// True for the five kinds the program knows.
bool IsKnownKind(FileKind kind);

}  // namespace quarry
