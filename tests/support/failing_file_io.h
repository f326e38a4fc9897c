// A FileIo that fails the way a full disk or a folder without write permission would, without
// either: creating files fails with `openError`, and once `writeBudget` bytes have been written
// every further write fails with `writeError`. Safe to share between worker threads.
//
// RecordingFileIo also notes, in order, the steps that make a group of files durable (flushes,
// renames, folder flushes), each with what `state` says at that moment (for example which rows
// the task database holds), and the events a test notes itself.
#pragma once

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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

class RecordingFileIo : public FailingFileIo {
public:
  std::function<std::string()> state;  // appended to each event after a blank; set before use

  void Note(const std::string& event) {
    const std::string line = state ? event + " " + state() : event;
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.push_back(line);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events;
  }

  int Fdatasync(int fd) override {
    Note("fdatasync");
    return FileIo::Fdatasync(fd);
  }
  int Syncfs(int fd) override {
    Note("syncfs");
    return FileIo::Syncfs(fd);
  }
  int MoveNoReplace(const std::string& from, const std::string& to) override {
    Note("rename " + to.substr(to.rfind('/') + 1));
    return FileIo::MoveNoReplace(from, to);
  }
  bool SyncFolder(const std::string& folder) override {
    Note("sync-folder");
    return FileIo::SyncFolder(folder);
  }

private:
  std::mutex m_lock;
  std::vector<std::string> m_events;
};

}  // namespace quarry::testing
