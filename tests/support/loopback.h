// Loopback sockets for the tests, which talk only to servers they start on 127.0.0.1: a free
// port to start a server on, and a listener that takes connections and never answers them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace quarry::testing {

// A socket bound to a free port of 127.0.0.1, listening when `backlog` is not negative. Nothing
// ever accepts: a connection is made (while the queue has room) and no byte comes back.
class SilentListener {
public:
  explicit SilentListener(int backlog = 64) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(m_fd, backlog) != 0) ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
  }
  ~SilentListener() {
    if (m_fd >= 0) ::close(m_fd);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  // 0 when no port could be had.
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
  int m_fd = -1;
  int m_port = 0;
};

// A port of 127.0.0.1 that was free a moment ago, for a server started by a child process; 0
// when none could be had.
inline int FreeLoopbackPort() { return SilentListener(-1).Port(); }

}  // namespace quarry::testing
