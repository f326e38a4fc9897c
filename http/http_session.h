// One HTTP exchange with one server over a socket of its own. An exchange composes exactly one
// request into m_request, creates the socket, connects within a time limit, sends the request
// (which also reads the response head into m_head) and then reads the head's fields or the
// body. The session lives on the stack of the operation that performs the exchange; its
// destructor closes the socket. Operations report a SessionResult and never throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "http/response_head.h"
#include "http/tls_channel.h"
#include "platform/tcp_socket.h"

namespace quarry {

// Time limits of one exchange, in milliseconds, each greater than 0 (a socket limit of 0 would
// mean no limit at all). The defaults are the real limits; tests pass shorter ones.
struct HttpTimeouts {
  int connectMs = 60000;  // wait for a non-blocking connect to complete
  int sendMs = 10000;     // socket send limit, set before the request is sent
  int headMs = 10000;     // limit of a whole head read, and of a TLS handshake
  int bodyMs = 20000;     // receive limit the exchanges set once the head is read
};

class SpareConnection;

// How a session operation ended (see each contract for what counts as which).
enum class SessionResult {
  Done,      // it did what it says
  NoAnswer,  // a time limit ran out, the connection was refused, or the peer went away
  Failed,    // anything else: bad input, not connected, a broken head, a refused certificate
};

class HttpSession {
public:
  static constexpr std::size_t kRequestSize = 2048;
  static constexpr std::size_t kHeadSize = 2048;   // head bytes; m_head has one more for the zero
  static constexpr std::size_t kAddressSize = 16;  // dotted IPv4 text, at most 15 characters
  static constexpr int kMaxInterimHeads = 8;       // "100 Continue" heads skipped before giving up

  explicit HttpSession(const HttpTimeouts& timeouts = HttpTimeouts{});
  virtual ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // --- Request composition (the buffer is cleared first; lengths are not checked) ---

  // Writes the HEAD request for `host` and `path` into m_request, its length into `length`;
  // returns m_request. `cookie` and `referer` may be null; an empty cookie adds no line.
  const char* ComposeHead(const char* host, const char* path, int& length, const char* cookie,
                          const char* referer);
  // The same for GET. A Range line appears only for rangeFrom > 0; its end only when
  // rangeTo > rangeFrom.
  const char* ComposeGet(const char* host, const char* path, int& length, const char* cookie,
                         const char* referer, std::int32_t rangeFrom, std::int32_t rangeTo);

  // --- Socket operations ---

  // Done when a socket was made; Failed when already connected or the system gives no socket.
  SessionResult Create();
  // Connects to `address` (dotted IPv4, at most 15 characters) and `port`. Done connected;
  // NoAnswer not connected within connectMs or refused; Failed no/too long/not dotted address,
  // or the socket mode could not be switched (also when Create was not called).
  SessionResult Connect(const char* address, int port);
  // Starts TLS on the connected socket for `host` (an https address): every later send and
  // receive is encrypted. Done the server proved to be `host`; NoAnswer no handshake within the
  // head limit or the server hung up; Failed the certificate was refused or the handshake
  // failed, or not connected. TlsProblem() says why when not Done. The time limits of the
  // socket stay in force.
  SessionResult StartTls(const char* host);
  // Sends `text` (`length` bytes; m_request with its zero-terminated length when `text` is
  // null) and reads the response head. Failed not connected; NoAnswer or Failed when sending
  // fails (NoAnswer for time-out and gone-peer errors); else the result of ReadHead.
  SessionResult SendRequest(const char* text = nullptr, int length = 0);
  // Sends `length` bytes of `text` whole without reading anything (a proxy's handshake).
  // Failed not connected or the socket took nothing; NoAnswer for time-out and gone-peer errors.
  SessionResult Send(const char* text, std::size_t length);
  // Reads one response head into m_head (skipping "100" interim heads) and stores its byte
  // count into `length`. Done head stored; NoAnswer receive error or time limit; Failed the
  // server closed before the head ended, too many interim heads, or not connected. A head
  // counts as complete at CR LF CR LF or after kHeadSize bytes; no byte beyond the head is
  // taken off the socket.
  SessionResult ReadHead(int& length);
  // One receive of at most `size` bytes. The count; 0 when not connected or the server closed;
  // negative on error. A result of 0 or less closes the socket.
  int Receive(char* buffer, int size);
  // Bounds the receives from now on all together to `milliseconds` (0 lifts the bound); see
  // TcpSocket::SetReceiveDeadline. Heads and the TLS handshake are bounded so by themselves.
  void SetReceiveDeadline(int milliseconds);
  // Sets the send (`sending`) or receive time limit; Done accepted, Failed refused or no socket.
  SessionResult SetTimeout(int milliseconds, bool sending);
  // Closes the socket: Done, or Failed when the system reported an error on closing (the
  // socket is released and the session disconnected either way).
  SessionResult Close();

  // --- A connection kept for the next exchange ---

  // True when the stored head lets the connection serve another request: an HTTP/1.1 answer
  // without "Connection: close", or an HTTP/1.0 one with "Connection: keep-alive".
  bool KeepsAlive();
  // Hands the connection to `spare` and leaves the session disconnected. Nothing when not
  // connected or speaking TLS.
  void KeepFor(SpareConnection& spare);
  // Takes over the connection in `spare` when it leads to `address` and `port` and is still
  // quiet (no byte waiting, not closed by the server); true then, and the session is connected
  // as if Create and Connect had made it. `spare` is empty afterwards either way.
  bool TakeOver(SpareConnection& spare, const char* address, int port);

  // --- The stored head ---

  // A reader of the stored head; one with no head stored (every query answers -1) until a
  // head read has completed.
  ResponseHead StoredHead() const;
  // Its status code, or -1 when no head is stored.
  int StatusCode() const { return StoredHead().StatusCode(); }

  // --- Read access for the exchanges and tests ---

  const HttpTimeouts& Timeouts() const { return m_timeouts; }
  const char* Request() const { return m_request; }
  const char* Head() const { return m_head; }  // always zero-terminated
  int HeadLength() const { return m_headLength; }
  bool HeadDone() const { return m_headDone != 0; }
  // True when the stored head filled kHeadSize bytes without its blank line: the rest of the
  // head is still on the socket, where Receive would take it for the body.
  bool HeadCut() const { return m_headCut; }
  // The error number of the last receive that failed (EAGAIN for a time limit), or 0.
  int ReceiveError() const { return m_receiveError; }
  int Port() const { return m_port; }
  const char* Address() const { return m_address; }
  bool Connected() const { return m_connected != 0; }
  int SocketDescriptor() const { return m_socket.Descriptor(); }
  bool Secure() const { return m_tls != nullptr; }
  const std::string& TlsProblem() const { return m_tlsProblem; }

private:
  char m_request[kRequestSize] = {};
  char m_head[kHeadSize + 1] = {};  // room for the zero after a full-size head
  std::int32_t m_port = 80;
  char m_address[kAddressSize] = {};
  std::int32_t m_connected = 0;
  TcpSocket m_socket;  // kNoSocket when there is none
  std::int32_t m_headDone = 0;
  std::int32_t m_headLength = -1;
  HttpTimeouts m_timeouts;
  std::unique_ptr<TlsChannel> m_tls;  // set once StartTls succeeded
  std::string m_tlsProblem;
  bool m_headCut = false;
  int m_receiveError = 0;

  SessionResult ReadOneHead();
  SessionResult ReadHeadBytes();  // the reading of ReadOneHead, under its deadline
  // Send and receive on the socket, through TLS when it was started; as TcpSocket's.
  long SendSome(const char* data, std::size_t size, int* error);
  long ReceiveSome(char* buffer, std::size_t size, bool peek, int* error);
};

// A connection that one exchange left open for the next exchange with the same server: the
// GET of an address goes out on the connection its HEAD used, when the server kept it open.
// Closed when dropped or replaced.
class SpareConnection {
public:
  bool Holds() const { return m_socket.Valid(); }

private:
  friend class HttpSession;
  TcpSocket m_socket;
  char m_address[HttpSession::kAddressSize] = {};
  int m_port = 0;
};

}  // namespace quarry
