// Test helpers for running whole tasks: the local search service started as a child process
// and a plain HTTP client to read its answers independently of Quarry's own. The recording
// views, the finished queue, the tree, files and loopback sockets come from tests/support/.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/views.h"
#include "tests/support/files.h"
#include "tests/support/loopback.h"
#include "tests/support/task_views.h"
#include "tests/support/temp_folder.h"

namespace quarry::testing {

// The Python search service of tests/servers on a free port of 127.0.0.1.
class SearchServiceProcess {
public:
  SearchServiceProcess() = default;
  ~SearchServiceProcess();
  SearchServiceProcess(const SearchServiceProcess&) = delete;
  SearchServiceProcess& operator=(const SearchServiceProcess&) = delete;
  // Starts it with `options` (e.g. "--results", "30"); false when it did not report a port.
  bool Start(const std::vector<std::string>& options);
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  static std::string ScriptPath();

private:
  pid_t m_pid = -1;
  int m_port = 0;
};

// GETs `target` (path and query) from 127.0.0.1:`port` over HTTP/1.0; returns the status (or
// -1) and fills `body`.
int HttpGet(int port, const std::string& target, std::string* body);
// The path and query of an http://127.0.0.1:PORT/... address.
std::string TargetOf(const std::string& url);
}  // namespace quarry::testing
