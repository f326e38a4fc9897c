// The scripted loopback server. One thread accepts connections one after another and plays
// the script that belongs to each; all its sockets are non-blocking and every wait is a poll()
// that also watches the read end of a pipe, which Stop() writes to. A test can therefore end
// at any point of a script without waiting for it.
#include "tests/http/scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace quarry::testing {

namespace {

constexpr char kBlankLine[] = "\r\n\r\n";

void CloseIfOpen(int& descriptor) {
  if (descriptor >= 0) close(descriptor);
  descriptor = -1;
}

bool MakeNonBlocking(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL, 0);
  return flags >= 0 && fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

ScriptedServer::Script& ScriptedServer::Script::ReadRequest() {
  m_steps.push_back({Kind::kReadRequest, {}, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::ReadBytes(std::size_t count) {
  m_steps.push_back({Kind::kReadBytes, {}, count});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::ReadUntilClosed() {
  m_steps.push_back({Kind::kReadUntilClosed, {}, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::Send(std::string bytes) {
  m_steps.push_back({Kind::kSend, std::move(bytes), 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::Pause(int milliseconds) {
  m_steps.push_back({Kind::kPause, {}, static_cast<std::size_t>(milliseconds)});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::Close() {
  m_steps.push_back({Kind::kClose, {}, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::Reset() {
  m_steps.push_back({Kind::kReset, {}, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::Hold() {
  m_steps.push_back({Kind::kHold, {}, 0});
  return *this;
}

ScriptedServer::~ScriptedServer() { Stop(); }

ScriptedServer::Script& ScriptedServer::Connection() {
  m_scripts.emplace_back();
  return m_scripts.back();
}

bool ScriptedServer::Start() {
  if (m_thread.joinable()) return false;
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  m_wakeRead = wake[0];
  m_wakeWrite = wake[1];
  m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listener < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(m_listener, 16) != 0 || !MakeNonBlocking(m_listener) ||
      getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    CloseIfOpen(m_listener);
    return false;
  }
  m_port = ntohs(address.sin_port);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.assign(m_scripts.size(), std::string());
  }
  m_stopping = false;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void ScriptedServer::Stop() {
  m_stopping = true;
  if (m_wakeWrite >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(m_wakeWrite, &byte, 1);
  }
  if (m_thread.joinable()) m_thread.join();
  CloseIfOpen(m_listener);
  CloseIfOpen(m_wakeRead);
  CloseIfOpen(m_wakeWrite);
}

std::string ScriptedServer::Received(std::size_t index) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return index < m_received.size() ? m_received[index] : std::string();
}

std::size_t ScriptedServer::Accepted() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_accepted;
}

bool ScriptedServer::WaitForAccepted(std::size_t count, int milliseconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (Accepted() < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool ScriptedServer::WaitFor(int descriptor, short events, int timeoutMs) {
  pollfd entries[2] = {{m_wakeRead, POLLIN, 0}, {descriptor, events, 0}};
  const nfds_t count = descriptor >= 0 ? 2 : 1;
  for (;;) {
    if (m_stopping) return false;
    const int ready = poll(entries, count, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || m_stopping || (entries[0].revents & POLLIN)) return false;
    if (ready == 0) return descriptor < 0;  // a pure pause ends by its time running out
    return true;
  }
}

void ScriptedServer::Append(std::size_t index, const char* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_received[index].append(data, size);
}

void ScriptedServer::Run() {
  for (std::size_t index = 0; index < m_scripts.size(); ++index) {
    int connection = -1;
    while (connection < 0) {
      if (!WaitFor(m_listener, POLLIN, -1)) return;
      connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (connection < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
          errno != ECONNABORTED) {
        return;
      }
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_accepted;
    }
    Play(connection, index);
    if (m_stopping) return;
  }
}

// Plays script `index` on `connection` and closes it (unless a step already did).
void ScriptedServer::Play(int connection, std::size_t index) {
  char buffer[4096];
  // Reads once into the record; the count, 0 when the peer closed, -1 on stop or failure.
  auto readOnce = [&](std::size_t limit) -> long {
    for (;;) {
      if (!WaitFor(connection, POLLIN, -1)) return -1;
      const ssize_t got =
          recv(connection, buffer, limit < sizeof buffer ? limit : sizeof buffer, 0);
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (got > 0) Append(index, buffer, static_cast<std::size_t>(got));
      return got < 0 ? -1 : static_cast<long>(got);
    }
  };

  bool open = true;
  for (const Script::Step& step : m_scripts[index].m_steps) {
    if (!open || m_stopping) break;
    switch (step.kind) {
      case Script::Kind::kReadRequest: {
        // One byte at a time, so that nothing behind the blank line is taken.
        std::size_t matched = 0;
        while (matched < 4) {
          if (readOnce(1) <= 0) {
            matched = 4;
            break;
          }
          const char byte = buffer[0];
          matched = byte == kBlankLine[matched] ? matched + 1 : (byte == '\r' ? 1 : 0);
        }
        break;
      }
      case Script::Kind::kReadBytes: {
        std::size_t left = step.count;
        while (left > 0) {
          const long got = readOnce(left);
          if (got <= 0) break;
          left -= static_cast<std::size_t>(got);
        }
        break;
      }
      case Script::Kind::kReadUntilClosed:
        while (readOnce(sizeof buffer) > 0) {
        }
        break;
      case Script::Kind::kSend: {
        std::size_t done = 0;
        while (done < step.bytes.size()) {
          const ssize_t sent =
              send(connection, step.bytes.data() + done, step.bytes.size() - done, MSG_NOSIGNAL);
          if (sent > 0) {
            done += static_cast<std::size_t>(sent);
          } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!WaitFor(connection, POLLOUT, -1)) break;
          } else {
            break;  // the client has gone; the rest of the script still runs
          }
        }
        break;
      }
      case Script::Kind::kPause: WaitFor(-1, 0, static_cast<int>(step.count)); break;
      case Script::Kind::kClose: open = false; break;
      case Script::Kind::kReset: {
        linger abortive{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        open = false;
        break;
      }
      case Script::Kind::kHold: WaitFor(-1, 0, -1); break;
    }
  }
  close(connection);
}

}  // namespace quarry::testing
