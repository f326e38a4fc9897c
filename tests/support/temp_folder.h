// A fresh folder under /tmp for one test, removed with everything in it when the test ends.
// Every test that writes files gets one, so tests never share or leave state behind.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace quarry::testing {

class TempFolder {
public:
  TempFolder() {
    char pattern[] = "/tmp/quarry-test-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) m_path = std::string(pattern) + "/";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Ends with '/'; empty when the folder could not be made.
  const std::string& Path() const { return m_path; }

private:
  std::string m_path;
};

}  // namespace quarry::testing
