// The life of a server that a test starts as a child process on 127.0.0.1 (nginx, tinyproxy,
// danted): waiting until it takes connections, and ending it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace quarry::testing {

// Waits up to 10 seconds for the child `*pid` to take connections on 127.0.0.1:`port`. False
// when it exited first (the port was taken, its configuration refused: `*pid` becomes -1) or
// never listened.
inline bool WaitUntilChildListens(pid_t* pid, int port) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(*pid, nullptr, WNOHANG) == *pid) {
      *pid = -1;
      return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool made = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (made) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Ends the child `*pid` (nothing when it is -1): SIGTERM, up to three seconds to go, then
// SIGKILL. `*pid` becomes -1.
inline void HaltChild(pid_t* pid) {
  if (*pid <= 0) return;
  ::kill(*pid, SIGTERM);
  for (int waited = 0; waited < 300; ++waited) {
    if (::waitpid(*pid, nullptr, WNOHANG) == *pid) {
      *pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(*pid, SIGKILL);
  ::waitpid(*pid, nullptr, 0);
  *pid = -1;
}

}  // namespace quarry::testing
