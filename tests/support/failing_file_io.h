// A FileIo that fails the way a full disk or a folder without write permission would, without
// either: creating files fails with `openError`, and once `writeBudget` bytes have been written
// every further write fails with `writeError`. Safe to share between worker threads.
#pragma once

#include <fcntl.h>

#include <atomic>
#include <cerrno>

#include "platform/files.h"

namespace quarry::testing {

class FailingFileIo : public FileIo {
public:
  std::atomic<int> openError{0};          // errno of every Open that creates; 0: the real call
  std::atomic<int> writeError{0};         // errno of writes past the budget; 0: never fail
  std::atomic<long long> writeBudget{0};  // bytes still written before writes fail

  int Open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_CREAT) != 0 && openError.load() != 0) {
      errno = openError.load();
      return -1;
    }
    return FileIo::Open(path, flags, mode);
  }

  ssize_t Write(int fd, const void* data, std::size_t size) override {
    if (writeError.load() != 0 &&
        writeBudget.fetch_sub(static_cast<long long>(size)) < static_cast<long long>(size)) {
      errno = writeError.load();
      return -1;
    }
    return FileIo::Write(fd, data, size);
  }
};

}  // namespace quarry::testing
