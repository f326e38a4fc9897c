// A line reader for the keys, as Qt writes them ("[Settings]" then "searchMode=live"); line
// ends of either kind.
#include "engine/settings_file.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "engine/picture.h"

namespace quarry {

bool ReadSettingValue(const std::string& profile, const char* key, std::string* value) {
  std::ifstream in(profile);
  std::string line;
  bool inGroup = false;
  const std::string group = std::string("[") + kSettingsGroup + "]";
  const std::string start = std::string(key) + "=";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inGroup = line == group;
    } else if (inGroup && line.rfind(start, 0) == 0) {
      *value = line.substr(start.size());
      if (value->size() >= 2 && value->front() == '"' && value->back() == '"')
        *value = value->substr(1, value->size() - 2);
      return true;
    }
  }
  return false;
}

FileRules ReadDefaultRules(const std::string& profile) {
  FileRules rules;
  std::string value;
  const auto number = [&](const char* key, std::int64_t low, std::int64_t high,
                          std::int64_t fallback) {
    if (!ReadSettingValue(profile, key, &value)) return fallback;
    char* end = nullptr;
    const long long read = std::strtoll(value.c_str(), &end, 10);
    return value.empty() || *end != '\0' || read < low || read > high ? fallback
                                                                        : std::int64_t{read};
  };
  const auto flag = [&](const char* key) {
    return ReadSettingValue(profile, key, &value) && value == "true";
  };
  constexpr std::int64_t kMaxSide = 100000;
  rules.minBytes = number(kMinBytesKey, 0, INT64_MAX, rules.minBytes);
  rules.maxBytes = number(kMaxBytesKey, 0, INT64_MAX, rules.maxBytes);
  rules.minWidth = static_cast<int>(number(kMinWidthKey, 0, kMaxSide, 0));
  rules.minHeight = static_cast<int>(number(kMinHeightKey, 0, kMaxSide, 0));
  std::uint32_t formats = 0;
  std::string bad;
  if (ReadSettingValue(profile, kFormatsKey, &value) && ParsePictureFormats(value, &formats, &bad))
    rules.formats = formats == kEveryPictureFormat ? 0 : formats;
  rules.nearDuplicates = flag(kNearDuplicatesKey);
  rules.homeDuplicates = flag(kHomeDuplicatesKey);
  return rules;
}

SearchMode ReadSearchMode(const std::string& profile) {
  std::string value;
  if (!ReadSettingValue(profile, kSearchModeKey, &value)) return SearchMode::Classic;
  return value == kLiveModeValue ? SearchMode::Live : SearchMode::Classic;
}

}  // namespace quarry
