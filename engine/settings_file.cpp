// ReadSearchMode: a line reader for the one key, as Qt writes it ("[Settings]" then
// "searchMode=live"); line ends of either kind.
#include "engine/settings_file.h"

#include <fstream>

namespace quarry {

SearchMode ReadSearchMode(const std::string& profile) {
  std::ifstream in(profile);
  std::string line;
  bool inGroup = false;
  const std::string group = std::string("[") + kSettingsGroup + "]";
  const std::string key = std::string(kSearchModeKey) + "=";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inGroup = line == group;
    } else if (inGroup && line.rfind(key, 0) == 0) {
      return line.substr(key.size()) == kLiveModeValue ? SearchMode::Live : SearchMode::Classic;
    }
  }
  return SearchMode::Classic;
}

}  // namespace quarry
