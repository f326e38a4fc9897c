// The contents of every task folder of a home: sys/contents.sqlite holds one row a kept file,
// content(sha256, path), written as tasks keep files whatever the settings say, so that the
// duplicate check across the home finds the files of runs made before it was turned on. The
// index is a cache: a path whose file is gone no longer counts, and losing the file loses no
// data, so its commits are not synced.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "records/record_store.h"

namespace quarry {

inline constexpr const char* kHomeIndexFileName = "contents.sqlite";

class HomeIndex {
public:
  // Opens (creating) the index in `sysFolder` (ending with '/'). False when it cannot be used;
  // the index then finds nothing and keeps nothing.
  bool Open(const std::string& sysFolder, RecordError* error = nullptr);
  bool IsOpen();
  // A file of the home with this content that still exists, other than `except`; "" for none.
  std::string Find(const std::string& sha256, const std::string& except = std::string());
  // Adds (sha256, path) pairs in one transaction.
  bool Add(const std::vector<std::pair<std::string, std::string>>& files);

private:
  std::mutex m_lock;  // the connection is shared by the task's threads
  Connection m_db;
};

}  // namespace quarry
