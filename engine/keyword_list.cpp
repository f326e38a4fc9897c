// Keyword lists. Lines are split on LF alone (a CR before it is a Windows line end); the blank
// test is done on the raw line so that a line of blanks is skipped rather than refused as an
// empty keyword, while a keyword with a tab inside is still refused by MakeSearchTask.
#include "engine/keyword_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quarry {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
constexpr char kCommentMark = '#';
constexpr std::size_t kReadChunk = 4096;

bool IsBlank(std::string_view line) {
  while (!line.empty()) {
    if (line.front() == ' ' || line.front() == '\t') {
      line.remove_prefix(1);
    } else if (line.starts_with(kIdeographicSpace)) {
      line.remove_prefix(kIdeographicSpace.size());
    } else {
      return false;
    }
  }
  return true;
}

bool Unfinished(const SearchTask& task) { return task.state != TaskState::Ended; }

}  // namespace

std::vector<KeywordLine> KeywordLines(std::string_view text, KeywordSource source) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::vector<KeywordLine> lines;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (IsBlank(line)) continue;
    if (source == KeywordSource::File && line.front() == kCommentMark) continue;
    lines.push_back({number, std::string(line)});
  }
  return lines;
}

bool MakeSearchTasks(const NewTaskValues& common, const std::vector<KeywordLine>& lines,
                     std::time_t now, std::vector<SearchTask>* tasks, std::string* error) {
  if (lines.empty()) {
    if (error) *error = "no keyword: every line is blank or a comment";
    return false;
  }
  std::vector<SearchTask> made;
  made.reserve(lines.size());
  for (const KeywordLine& line : lines) {
    NewTaskValues values = common;
    values.keyword = line.keyword;
    SearchTask task;
    std::string why;
    if (!MakeSearchTask(values, now, &task, &why)) {
      if (error) *error = "line " + std::to_string(line.number) + ": " + why;
      return false;
    }
    made.push_back(task);
  }
  tasks->insert(tasks->end(), made.begin(), made.end());
  return true;
}

bool SameHarvest(const SearchTask& a, const SearchTask& b) {
  return a.kind == b.kind && FieldText(a.folder) == FieldText(b.folder);
}

std::vector<std::string> DropUnfinishedTwins(std::vector<SearchTask>* tasks,
                                             const std::vector<SearchTask>& unfinished) {
  std::vector<std::string> dropped;
  std::vector<SearchTask> kept;
  for (const SearchTask& task : *tasks) {
    bool twin = false;
    for (const SearchTask& other : unfinished) {
      if (Unfinished(other) && SameHarvest(task, other)) twin = true;
    }
    for (const SearchTask& other : kept) {
      if (SameHarvest(task, other)) twin = true;
    }
    if (twin) {
      dropped.push_back(FieldText(task.keyword));
    } else {
      kept.push_back(task);
    }
  }
  *tasks = std::move(kept);
  return dropped;
}

bool ReadKeywordFile(const std::string& path, std::vector<KeywordLine>* lines, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  std::string text;
  if (file) {
    char buffer[kReadChunk];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  }
  if (!file || std::ferror(file.get())) {
    if (error) *error = "无法读取关键词文件 " + path + "（" + std::strerror(errno) + "）";
    return false;
  }
  *lines = KeywordLines(text, KeywordSource::File);
  return true;
}

}  // namespace quarry
