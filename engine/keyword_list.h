// Keyword lists: many tasks with the same settings, one per keyword, from the add-task
// dialog's box (one keyword a line) or from a UTF-8 text file given to quarry-cli. Each keyword
// is checked as a single one is (MakeSearchTask); a list with a bad line makes no task at all,
// so the user fixes the line and adds the list again without doubles. A keyword whose task is
// already waiting, running or paused in the same folder for the same kind is left out and named,
// as running it twice would fetch the same files into the same folder.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "engine/search_task.h"

namespace quarry {

// Where a list comes from. A file may hold comments (lines starting with '#'); in the dialog's
// box such a line is a keyword like any other.
enum class KeywordSource { Box, File };

struct KeywordLine {
  int number = 0;       // 1 for the first line of the text
  std::string keyword;  // the line as written, without its line end
};

// The keyword lines of `text`, in order: lines end with LF, CRLF or the end of the text; a
// UTF-8 byte-order mark before the first line is dropped; blank lines (spaces, tabs and
// ideographic spaces only) and, from a file, comment lines are left out.
std::vector<KeywordLine> KeywordLines(std::string_view text, KeywordSource source);

// One waiting record per line, made at `now` from `common` with the line's keyword, appended
// to `tasks` in order. False, with "line N: why" in `error` and `tasks` untouched, at the
// first line MakeSearchTask refuses, or with a text of its own when `lines` is empty.
bool MakeSearchTasks(const NewTaskValues& common, const std::vector<KeywordLine>& lines,
                     std::time_t now, std::vector<SearchTask>* tasks, std::string* error);

// True when both records harvest the same kind into the same task folder.
bool SameHarvest(const SearchTask& a, const SearchTask& b);

// Removes from `tasks` every record that repeats an unfinished one of `unfinished` (a waiting,
// running or paused record; ended ones do not count) or an earlier record of `tasks`, keeping
// the order of the others; returns the keywords removed, in order.
std::vector<std::string> DropUnfinishedTwins(std::vector<SearchTask>* tasks,
                                             const std::vector<SearchTask>& unfinished);

// Reads the keyword file at `path` as KeywordLines does with KeywordSource::File. False, with
// a text naming the file in `error`, when it cannot be read.
bool ReadKeywordFile(const std::string& path, std::vector<KeywordLine>* lines, std::string* error);

}  // namespace quarry
