// POSIX implementation of the socket owner. The connect is made non-blocking and awaited with
// poll(), not select(), which cannot watch descriptors of 1024 or more; the pending socket
// error then tells a refused attempt from a made connection, since poll reports both as
// writable. Interrupted calls (EINTR) are retried with the time that is left.
#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace quarry {

namespace {

// SO_SNDTIMEO or SO_RCVTIMEO (`option`) to `milliseconds`; 0 is no limit.
bool SetSocketLimit(int descriptor, int option, int milliseconds) {
  timeval limit{};
  limit.tv_sec = milliseconds / 1000;
  limit.tv_usec = (milliseconds % 1000) * 1000;
  return setsockopt(descriptor, SOL_SOCKET, option, &limit, sizeof limit) == 0;
}

bool SetNonBlocking(int descriptor, bool on) {
  int flags = fcntl(descriptor, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(descriptor, F_SETFL, flags) == 0;
}

// Waits for the non-blocking connect on `descriptor` to finish; true when it made a connection.
bool AwaitConnect(int descriptor, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    pollfd entry{descriptor, POLLOUT, 0};
    const int ready = poll(&entry, 1, waitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return false;
    return pending == 0;
  }
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : m_descriptor(other.m_descriptor),
      m_receiveLimitMs(other.m_receiveLimitMs),
      m_armedMs(other.m_armedMs),
      m_deadline(other.m_deadline),
      m_bounded(other.m_bounded) {
  other.m_descriptor = kNoSocket;
  other.m_bounded = false;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    m_descriptor = other.m_descriptor;
    m_receiveLimitMs = other.m_receiveLimitMs;
    m_armedMs = other.m_armedMs;
    m_deadline = other.m_deadline;
    m_bounded = other.m_bounded;
    other.m_descriptor = kNoSocket;
    other.m_bounded = false;
  }
  return *this;
}

TcpSocket TcpSocket::OpenStream() {
  // getprotobyname() is not thread-safe; the reentrant form is. Minimal systems may lack
  // /etc/protocols altogether, hence the fallback. The lookup reads that file, so it is made
  // once for the process, not once per connection.
  static const int protocol = [] {
    protoent entry{};
    protoent* found = nullptr;
    char scratch[1024];
    if (getprotobyname_r("tcp", &entry, scratch, sizeof scratch, &found) == 0 && found != nullptr)
      return found->p_proto;
    return static_cast<int>(IPPROTO_TCP);
  }();
  return TcpSocket(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol));
}

bool TcpSocket::Close() {
  if (m_descriptor == kNoSocket) return true;
  const int descriptor = m_descriptor;
  m_descriptor = kNoSocket;
  return close(descriptor) == 0;
}

ConnectOutcome TcpSocket::ConnectWithin(const char* dottedAddress, int port, int timeoutMs) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<std::uint16_t>(port));
  if (dottedAddress == nullptr || inet_pton(AF_INET, dottedAddress, &target.sin_addr) != 1) {
    return ConnectOutcome::NotMade;
  }
  if (m_descriptor == kNoSocket || !SetNonBlocking(m_descriptor, true)) {
    return ConnectOutcome::ModeSwitchFailed;
  }
  if (connect(m_descriptor, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    // EINTR leaves the attempt running in the background, like EINPROGRESS.
    if (errno != EINPROGRESS && errno != EINTR) return ConnectOutcome::NotMade;
    if (!AwaitConnect(m_descriptor, timeoutMs)) return ConnectOutcome::NotMade;
  }
  if (!SetNonBlocking(m_descriptor, false)) return ConnectOutcome::ModeSwitchFailed;
  return ConnectOutcome::Connected;
}

bool TcpSocket::IsQuiet() const {
  if (m_descriptor == kNoSocket) return false;
  pollfd entry{m_descriptor, POLLIN, 0};  // a close reads as readable; a reset as POLLERR
  int ready;
  do {
    ready = poll(&entry, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready == 0;
}

bool TcpSocket::SetTimeLimit(int milliseconds, bool sending) {
  if (m_descriptor == kNoSocket || milliseconds < 0) return false;
  if (sending) return SetSocketLimit(m_descriptor, SO_SNDTIMEO, milliseconds);
  if (!ArmReceiveLimit(milliseconds)) return false;
  m_receiveLimitMs = milliseconds;
  return true;
}

bool TcpSocket::ArmReceiveLimit(int milliseconds) {
  if (!SetSocketLimit(m_descriptor, SO_RCVTIMEO, milliseconds)) return false;
  m_armedMs = milliseconds;
  return true;
}

void TcpSocket::SetReceiveDeadline(int milliseconds) {
  m_bounded = milliseconds > 0;
  if (m_bounded) {
    m_deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  } else if (m_armedMs != m_receiveLimitMs && m_descriptor != kNoSocket) {
    ArmReceiveLimit(m_receiveLimitMs);
  }
}

bool TcpSocket::ArmForDeadline() {
  const Clock::time_point now = Clock::now();
  if (now < m_deadline) {
    // Narrowing costs a system call, so a limit that ends only a little past the deadline
    // stays: the receives right after the deadline was set (the usual case) need none.
    constexpr auto kGrace = std::chrono::milliseconds(250);
    if (m_armedMs != 0 && now + std::chrono::milliseconds(m_armedMs) <= m_deadline + kGrace) {
      return true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - now).count();
    if (ArmReceiveLimit(static_cast<int>(left))) return true;
  }
  errno = EAGAIN;
  return false;
}

long TcpSocket::Send(const char* data, std::size_t size, int* error) {
  for (;;) {
    const ssize_t sent = send(m_descriptor, data, size, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EINTR) continue;
    if (error != nullptr) *error = errno;
    return -1;
  }
}

long TcpSocket::Receive(char* buffer, std::size_t size, bool peek, int* error) {
  for (;;) {
    if (m_bounded && !ArmForDeadline()) {
      if (error != nullptr) *error = errno;
      return -1;
    }
    const ssize_t got = recv(m_descriptor, buffer, size, peek ? MSG_PEEK : 0);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    if (error != nullptr) *error = errno;
    return -1;
  }
}

bool IsGoneOrLateError(int error) {
  switch (error) {
    case ETIMEDOUT:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE:
    case EHOSTUNREACH:
    case ESHUTDOWN: return true;
    default: return false;
  }
}

std::string ResolveIpv4(const char* host) {
  if (host == nullptr || *host == '\0') return "";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &answer) != 0 || answer == nullptr) return "";
  std::string dotted;
  for (const addrinfo* item = answer; item != nullptr; item = item->ai_next) {
    if (item->ai_family != AF_INET || item->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(item->ai_addr);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) != nullptr) dotted = text;
    break;
  }
  freeaddrinfo(answer);
  return dotted;
}

}  // namespace quarry
