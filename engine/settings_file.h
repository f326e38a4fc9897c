// The program's settings in the home's sys/quarry.ini that the engine's front ends share. The
// window writes the file with Qt's settings store (INI format); the command line reads the
// values it needs here, without Qt.
#pragma once

#include <string>

#include "engine/task.h"

namespace quarry {

// The group and key of the search mode, and their values.
inline constexpr const char* kSettingsGroup = "Settings";
inline constexpr const char* kSearchModeKey = "searchMode";
inline constexpr const char* kClassicModeValue = "classic";
inline constexpr const char* kLiveModeValue = "live";
// The proxy: an address ParseProxyUrl reads, "none" for direct connections; no key: the
// conventional environment variables decide.
inline constexpr const char* kProxyKey = "proxy";

// The default filters of new tasks (the settings dialog's; the add-task dialog starts from
// them): sizes in bytes, a picture's least width and height, the picture formats kept as a
// list ("jpg,png"; empty: every one), and the two duplicate checks as true or false.
inline constexpr const char* kMinBytesKey = "minBytes";
inline constexpr const char* kMaxBytesKey = "maxBytes";
inline constexpr const char* kMinWidthKey = "minWidth";
inline constexpr const char* kMinHeightKey = "minHeight";
inline constexpr const char* kFormatsKey = "formats";
inline constexpr const char* kNearDuplicatesKey = "nearDuplicates";
inline constexpr const char* kHomeDuplicatesKey = "homeDuplicates";

// The default filters the INI file `profile` holds; a missing or unreadable value keeps the
// built-in default.
FileRules ReadDefaultRules(const std::string& profile);

// The search mode that the INI file `profile` holds; Classic when the file, the group or the
// key is missing or holds another value.
SearchMode ReadSearchMode(const std::string& profile);

// The value of `key` in the settings group of `profile`, without the quotes Qt may put around
// it; false when the file, the group or the key is missing.
bool ReadSettingValue(const std::string& profile, const char* key, std::string* value);

}  // namespace quarry
