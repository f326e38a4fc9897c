// What the two download benchmarks share: a transfer context that keeps quiet, the byte pattern
// of the served files, a temporary download folder emptied before each run, the best time of
// each run, and starting a peer tool and waiting for it.
#pragma once

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "http/transfer_context.h"

namespace quarry::bench {

class QuietContext : public TransferContext {
public:
  void Log(int, const std::string& text) override { m_bytes += text.size(); }
  bool IsStopped() const override { return false; }

private:
  std::size_t m_bytes = 0;
};

// One mebibyte of bytes that do not repeat within a file system block or compress to nothing.
inline std::string PatternBlock() {
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + i / 977);
  return block;
}

// Writes `size` bytes of `block`, repeated, to `path`.
inline void WriteRepeated(const std::string& path, const std::string& block, std::size_t size) {
  std::ofstream file(path, std::ios::binary);
  for (std::size_t written = 0; written < size; written += block.size()) file << block;
}

// A new folder under /tmp, with its trailing slash; empty when none could be made.
inline std::string MakeTempFolder() {
  char pattern[] = "/tmp/quarry-bench-XXXXXX";
  return mkdtemp(pattern) == nullptr ? std::string() : std::string(pattern) + "/";
}

// Empties `folder` (it is made anew) and returns it, for the next run to download into.
inline std::string EmptiedFolder(const std::string& folder) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// The shortest time of each named run over a benchmark's repetitions.
class BestTimes {
public:
  void Record(const std::string& name, double seconds) {
    auto found = m_best.find(name);
    if (found == m_best.end() || seconds < found->second) m_best[name] = seconds;
  }
  // The best time of `name`, or a negative number when it never ran.
  double Of(const std::string& name) const {
    auto found = m_best.find(name);
    return found == m_best.end() ? -1.0 : found->second;
  }

private:
  std::map<std::string, double> m_best;
};

// Runs `arguments` (the first a full path) and waits; true when it exited with 0.
inline bool RunTool(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quarry::bench
