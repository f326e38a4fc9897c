// A thin owner of one IPv4 TCP socket over POSIX sockets, and the few socket operations the
// HTTP client needs: a connect bounded in time, send and receive limits, and host-name
// resolution. Descriptor 0 is a valid socket here, so "no socket" is -1 (kNoSocket).
// Failures come back as results, never as signals: every send uses MSG_NOSIGNAL, so a peer
// that has gone away yields an error code instead of killing the process.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace quarry {

inline constexpr int kNoSocket = -1;

// How a bounded connect ended.
enum class ConnectOutcome {
  Connected,         // the connection is made; the socket is blocking again
  NotMade,           // time limit ran out, or the attempt failed (refused, unreachable)
  ModeSwitchFailed,  // the socket could not be switched to or from non-blocking mode
};

// Owns one socket descriptor and closes it when destroyed. Movable, not copyable.
class TcpSocket {
public:
  TcpSocket() = default;
  explicit TcpSocket(int descriptor) : m_descriptor(descriptor) {}
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // A new IPv4 stream socket for "tcp" (IPPROTO_TCP when the protocol database has no
  // entry). An invalid socket when the system refuses one.
  static TcpSocket OpenStream();

  bool Valid() const { return m_descriptor != kNoSocket; }
  int Descriptor() const { return m_descriptor; }

  // Closes the descriptor. The descriptor is forgotten either way (POSIX close releases it
  // even when it reports an error, so closing again could hit a reused number); false when the
  // system reported an error. True when there was nothing to close.
  bool Close();

  // Connects to `dottedAddress` (IPv4 dotted text) and `port`, waiting at most `timeoutMs`
  // milliseconds. A refused or failed attempt is told from a made one by the pending socket
  // error and reported as NotMade without waiting out the limit. An address that is not
  // dotted IPv4 text gives NotMade.
  ConnectOutcome ConnectWithin(const char* dottedAddress, int port, int timeoutMs);

  // True when nothing waits to be read and the peer has not closed or reset the connection:
  // a connection kept after an answer that a new request may use. Does not wait.
  bool IsQuiet() const;

  // SO_SNDTIMEO (sending) or SO_RCVTIMEO to `milliseconds`; false when the system refuses.
  bool SetTimeLimit(int milliseconds, bool sending);

  // One send of at most `size` bytes with MSG_NOSIGNAL, retried on EINTR. The count sent, or
  // -1 with the error in `*error`.
  long Send(const char* data, std::size_t size, int* error);

  // One receive of at most `size` bytes, retried on EINTR. `peek` leaves the bytes queued.
  // The count, 0 when the peer closed, or -1 with the error in `*error`.
  long Receive(char* buffer, std::size_t size, bool peek, int* error);
  // Bounds the receives from now on all together, not each on its own: they end within
  // `milliseconds` (and a quarter second) from now. A receive begun near the end waits only for
  // what is left, and one begun after it fails at once with EAGAIN, so a peer that sends a byte
  // now and then cannot hold a reader for ever. 0 lifts the bound; the limit of SetTimeLimit
  // then holds alone again.
  void SetReceiveDeadline(int milliseconds);

private:
  using Clock = std::chrono::steady_clock;

  // Before a receive under a deadline: false (errno EAGAIN) when it has passed; otherwise the
  // receive limit is narrowed when the one set would reach past it.
  bool ArmForDeadline();

  // Sets SO_RCVTIMEO (0: none) without touching the limit SetTimeLimit asked for.
  bool ArmReceiveLimit(int milliseconds);

  int m_descriptor = kNoSocket;
  int m_receiveLimitMs = 0;        // the receive limit SetTimeLimit asked for (0: none)
  int m_armedMs = 0;               // the SO_RCVTIMEO in force, narrower under a deadline
  Clock::time_point m_deadline{};  // the end of bounded receives, when m_bounded
  bool m_bounded = false;
};

// True for the error numbers that mean the peer or the network gave up or the time limit ran
// out (ETIMEDOUT, EAGAIN/EWOULDBLOCK, ECONNABORTED, ECONNRESET, EPIPE, EHOSTUNREACH, ESHUTDOWN);
// false for every other one.
bool IsGoneOrLateError(int error);

// The first IPv4 address of `host` as dotted text, or "" when it cannot be resolved.
std::string ResolveIpv4(const char* host);

}  // namespace quarry
