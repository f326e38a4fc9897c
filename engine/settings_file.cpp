// A line reader for the keys, as Qt writes them ("[Settings]" then "searchMode=live"); line
// ends of either kind.
#include "engine/settings_file.h"

#include <fstream>

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

SearchMode ReadSearchMode(const std::string& profile) {
  std::string value;
  if (!ReadSettingValue(profile, kSearchModeKey, &value)) return SearchMode::Classic;
  return value == kLiveModeValue ? SearchMode::Live : SearchMode::Classic;
}

}  // namespace quarry
