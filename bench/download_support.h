// What the two download benchmarks share: a transfer context that keeps quiet, the byte pattern
// of the served files, a temporary download folder, and starting a peer tool and waiting for it.
#pragma once

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstddef>
#include <fstream>
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
