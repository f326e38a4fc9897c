// Reading a file whole, as the tests compare what the program wrote with what they expect.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace quarry::testing {

// The bytes of the file at `path`; empty when it cannot be opened.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace quarry::testing
