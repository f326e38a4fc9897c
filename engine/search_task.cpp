// Making a new task record from the add-task dialog's values, and reading and writing the
// record's fixed text fields safely. Input that does not fit a field is refused, never cut, so
// a stored text is always whole UTF-8; a field read from a damaged file may lack its NUL, and
// then only the field's own bytes are read.
#include "engine/search_task.h"

#include <algorithm>
#include <cstring>

namespace quarry {
namespace {

constexpr const char* kCreatedAtFormat = "%Y-%m-%d %H:%M:%S";

bool Refuse(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Number of bytes a UTF-8 character takes, judged by its first byte; 0 for a byte that cannot
// start one (a continuation byte or an invalid lead).
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// Length of `text` without an incomplete UTF-8 character at its end. The last character starts
// where a cut before the last byte would; a lead whose continuation bytes are missing is
// dropped, invalid bytes are left as they are.
std::size_t WithoutCutCharacter(const char* text, std::size_t length) {
  if (length == 0) return 0;
  const std::size_t last = CutOnCharacter(std::string_view(text, length), length - 1);
  const std::size_t need = Utf8Length(static_cast<unsigned char>(text[last]));
  return last + need > length ? last : length;
}

// `text` without the blanks around it: ASCII spaces and ideographic spaces (U+3000), which an
// input method types as easily. Other characters are kept, so a tab is refused, not trimmed.
std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  for (bool trimmed = true; trimmed && !text.empty();) {
    trimmed = false;
    if (text.front() == ' ') {
      text.remove_prefix(1);
      trimmed = true;
    } else if (text.starts_with(kIdeographicSpace)) {
      text.remove_prefix(kIdeographicSpace.size());
      trimmed = true;
    }
    if (text.empty()) break;
    if (text.back() == ' ') {
      text.remove_suffix(1);
      trimmed = true;
    } else if (text.ends_with(kIdeographicSpace)) {
      text.remove_suffix(kIdeographicSpace.size());
      trimmed = true;
    }
  }
  return text;
}

// True when `text` is well-formed UTF-8: no stray continuation byte, no character cut short,
// no overlong form, no surrogate half and nothing past U+10FFFF. Anything else would become a
// folder name no listing can show and a search the service cannot read.
bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(lead);
    if (length == 0 || i + length > text.size()) return false;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};  // by length: no overlong
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

// True when `text` holds a control character: C0 (0x00-0x1F), DEL, or C1 (U+0080-U+009F, in
// UTF-8 the bytes C2 80 to C2 9F). It would break the folder name and every listing of it.
bool HasControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size()) {
      const unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) return true;
    }
  }
  return false;
}

}  // namespace

std::size_t CutOnCharacter(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  // text[cut] is the first byte left out; step back while it continues a character.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

std::string FieldText(const char* field, std::size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  if (nul) return std::string(field, static_cast<const char*>(nul) - field);
  return std::string(field, WithoutCutCharacter(field, size));
}

bool SetFieldText(char* field, std::size_t size, std::string_view text) {
  if (text.size() >= size || text.find('\0') != std::string_view::npos) return false;
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), text.size());
  return true;
}

int RunnableThreadCount(const SearchTask& task) {
  return std::clamp<int>(task.threadCount, kMinThreadCount, kMaxThreadCount);
}

int RunnablePageCount(const SearchTask& task) {
  return std::clamp<int>(task.pageCount, kMinPageCount, kMaxPageCount);
}

bool IsKnownKind(FileKind kind) {
  return static_cast<std::uint8_t>(kind) <= static_cast<std::uint8_t>(FileKind::Excel);
}

bool MakeSearchTask(const NewTaskValues& values, std::time_t now, SearchTask* task,
                    std::string* error) {
  const std::string keyword(TrimBlanks(values.keyword));
  if (keyword.empty()) return Refuse(error, "关键词不能为空!");
  if (!IsValidUtf8(keyword)) return Refuse(error, "关键词不是有效的UTF-8文本。");
  if (HasControlCharacter(keyword)) {
    return Refuse(error, "关键词不能含有控制字符（如换行、制表符）。");
  }
  if (keyword.size() > kKeywordSize - 1) {
    return Refuse(error, "关键词太长：最多" + std::to_string(kKeywordSize - 1) + "字节。");
  }
  // The keyword names the task's own sub-folder, so it must stay one folder name inside the
  // chosen folder.
  if (keyword.find('/') != std::string::npos || keyword.find('\0') != std::string::npos ||
      keyword == "." || keyword == "..") {
    return Refuse(error, "关键词不能用作文件夹名：不能含有“/”，也不能是“.”或“..”。");
  }
  if (values.folder.empty()) return Refuse(error, "下载文件夹不能为空!");
  std::string folder = values.folder;
  if (folder.back() != '/') folder += '/';
  folder += keyword;
  folder += '/';
  if (folder.size() > kFolderSize - 1) {
    return Refuse(
        error, "下载文件夹路径太长：加上关键词最多" + std::to_string(kFolderSize - 1) + "字节。");
  }
  if (values.threadCount < kMinThreadCount || values.threadCount > kMaxThreadCount) {
    return Refuse(error, "下载线程数必须在1到6之间。");
  }
  if (values.pageCount < kMinPageCount || values.pageCount > kMaxPageCount) {
    return Refuse(error, "抓取页数必须在1到500之间。");
  }
  if (!IsKnownKind(values.kind)) return Refuse(error, "未知的文件类型。");

  std::tm local{};
  char createdAt[kCreatedAtSize] = {};
  // strftime gives 0 when the text would not fit, e.g. for a year past 9999.
  if (!localtime_r(&now, &local) ||
      std::strftime(createdAt, sizeof createdAt, kCreatedAtFormat, &local) == 0) {
    return Refuse(error, "无法取得当前时间。");
  }

  SearchTask made;
  std::memset(&made, 0, sizeof made);
  made.kind = values.kind;
  made.state = TaskState::Waiting;
  made.pageCount = values.pageCount;
  made.threadCount = values.threadCount;
  // Every length was checked above, so none of these can fail.
  SetFieldText(made.createdAt, sizeof made.createdAt, createdAt);
  SetFieldText(made.keyword, sizeof made.keyword, keyword);
  SetFieldText(made.folder, sizeof made.folder, folder);
  *task = made;
  return true;
}

}  // namespace quarry
