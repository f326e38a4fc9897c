// Reading a file whole, as the tests compare what the program wrote with what they expect.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace quarry::testing {

// The bytes of the file at `path`; empty when it cannot be opened. Read in one go through the
// stream buffer: a byte-by-byte read of a 50 MB download is slow under the sanitizers.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace quarry::testing
