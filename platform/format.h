// printf-style formatting into a std::string, for the log lines of the transfers and the task
// runner. The text is measured before it is written, so a long address is never cut; a
// std::string argument stands for its characters (as its c_str() would).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace quarry {
namespace formatting {

template <typename T>
T Argument(T value) {
  return value;
}
inline const char* Argument(const std::string& text) { return text.c_str(); }

}  // namespace formatting

template <typename... Args>
std::string Format(const char* format, const Args&... args) {
  const int size = std::snprintf(nullptr, 0, format, formatting::Argument(args)...);
  if (size <= 0) return std::string();
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, formatting::Argument(args)...);
  text.resize(static_cast<std::size_t>(size));
  return text;
}

}  // namespace quarry
