// TLS over a connected socket, for https addresses. One process-wide client context trusts the
// system's certificate store (and, for tests, one extra authority); every channel verifies the
// server's chain and that the certificate names the host asked for (a name, or an IPv4 address
// written as the host). A refused handshake is told with the reason in words, so that the log
// can say whether the certificate was untrusted or made for another host.
//
// The socket keeps its blocking mode and its SO_SNDTIMEO/SO_RCVTIMEO limits: OpenSSL reads and
// writes it directly, and a limit that runs out surfaces as a read or write that would block,
// reported here as EAGAIN, the same error the plain socket gives.
#pragma once

#include <cstddef>
#include <string>

#include "platform/tcp_socket.h"

typedef struct ssl_st SSL;

namespace quarry {

// Adds the authority certificate(s) in the PEM file `path` to those trusted by every later
// handshake; empty `path` trusts the system store alone again. False, with the reason in
// `error`, when the file cannot be read as certificates (the trust is then left as it was).
// Meant for tests and local stand-ins, which make their own authority.
bool SetTlsExtraAuthority(const std::string& path, std::string* error = nullptr);

// How a handshake ended.
enum class TlsStart {
  Ready,     // the channel is encrypted and the server proved to be `host`
  NoAnswer,  // the time limit ran out or the peer went away during the handshake
  Refused,   // the certificate is not trusted, names another host, or the handshake failed
};

class TlsChannel {
public:
  TlsChannel() = default;
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Runs the client handshake on the connected, blocking `socket` for `host` (the name sent as
  // SNI and checked against the certificate). The channel reads and writes through `socket`,
  // which must outlive it. On Refused and NoAnswer, Problem() says why in a short English text.
  TlsStart Start(TcpSocket& socket, const char* host);

  // One write of at most `size` bytes: the count, or -1 with the errno-like error in `*error`
  // (EAGAIN when the send limit ran out, EPIPE when the peer is gone, EPROTO otherwise).
  long Write(const char* data, std::size_t size, int* error);
  // One read of at most `size` bytes (`peek` leaves them for the next read): the count, 0 when
  // the peer closed, or -1 with the error in `*error` as for Write.
  long Read(char* buffer, std::size_t size, bool peek, int* error);

  // Sends the closing alert when the channel is still sound; the socket stays with its owner.
  void Shutdown();

  const std::string& Problem() const { return m_problem; }

private:
  long Failed(int result, int* error);

  SSL* m_ssl = nullptr;
  bool m_broken = false;  // a fatal error happened: no closing alert may be sent
  std::string m_problem;
};

}  // namespace quarry
