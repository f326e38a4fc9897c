// Request composition and the socket operations of HttpSession. The request texts are
// assembled with bounded appends into the fixed request buffer; the head is read so that no
// byte after its blank line leaves the socket: the reader peeks at what has arrived, finds the
// end of the head in it and then takes exactly the head's bytes, so the body stays queued for
// Receive. This gives the same results as reading one byte per call, with far fewer calls.
// After StartTls the same reads and writes go through the TLS channel (its peek works alike).
#include "http/http_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarry {

namespace {

// Appends zero-terminated `text` to the zero-terminated text in `buffer` (of `size` bytes),
// never past its last byte. Callers stay far below the size; the bound guards the rest.
void Append(char* buffer, std::size_t size, const char* text) {
  std::size_t used = std::strlen(buffer);
  while (*text != '\0' && used + 1 < size) buffer[used++] = *text++;
  buffer[used] = '\0';
}

void AppendLine(char* buffer, std::size_t size, const char* name, const char* value) {
  Append(buffer, size, name);
  Append(buffer, size, value);
  Append(buffer, size, "\r\n");
}

// The opening lines both requests share: request line, Host, the optional Referer, Accept.
void StartRequest(char* buffer, std::size_t size, const char* method, const char* host,
                  const char* path, const char* referer) {
  std::memset(buffer, 0, size);
  Append(buffer, size, method);
  Append(buffer, size, path);
  Append(buffer, size, " HTTP/1.1\r\n");
  AppendLine(buffer, size, "Host:", host);
  if (referer != nullptr) AppendLine(buffer, size, "Referer:", referer);
  Append(buffer, size, "Accept:*/*\r\n");
}

void AppendCookie(char* buffer, std::size_t size, const char* cookie) {
  if (cookie != nullptr && *cookie != '\0') AppendLine(buffer, size, "Cookie:", cookie);
}

}  // namespace

HttpSession::HttpSession(const HttpTimeouts& timeouts) : m_timeouts(timeouts) {}

HttpSession::~HttpSession() { Close(); }

const char* HttpSession::ComposeHead(const char* host, const char* path, int& length,
                                     const char* cookie, const char* referer) {
  StartRequest(m_request, sizeof m_request, "HEAD ", host, path, referer);
  Append(m_request, sizeof m_request,
         "User-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n");
  AppendCookie(m_request, sizeof m_request, cookie);
  Append(m_request, sizeof m_request, "\r\n");
  length = static_cast<int>(std::strlen(m_request));
  return m_request;
}

const char* HttpSession::ComposeGet(const char* host, const char* path, int& length,
                                    const char* cookie, const char* referer, std::int32_t rangeFrom,
                                    std::int32_t rangeTo) {
  StartRequest(m_request, sizeof m_request, "GET ", host, path, referer);
  Append(m_request, sizeof m_request, "User-Agent:Trawler\r\n");
  Append(m_request, sizeof m_request, "Connection:Keep-Alive\r\n");
  AppendCookie(m_request, sizeof m_request, cookie);
  if (rangeFrom > 0) {
    char range[48];
    if (rangeTo > rangeFrom) {
      std::snprintf(range, sizeof range, "%ld-%ld", static_cast<long>(rangeFrom),
                    static_cast<long>(rangeTo));
    } else {
      std::snprintf(range, sizeof range, "%ld-", static_cast<long>(rangeFrom));
    }
    AppendLine(m_request, sizeof m_request, "Range: bytes=", range);
  }
  Append(m_request, sizeof m_request, "\r\n");
  length = static_cast<int>(std::strlen(m_request));
  return m_request;
}

SessionResult HttpSession::Create() {
  if (m_connected != 0) return SessionResult::Failed;
  m_socket = TcpSocket::OpenStream();
  if (!m_socket.Valid()) {
    Close();
    return SessionResult::Failed;
  }
  return SessionResult::Done;
}

SessionResult HttpSession::Connect(const char* address, int port) {
  if (address == nullptr) return SessionResult::Failed;
  m_port = port;
  const std::size_t length = strnlen(address, kAddressSize);
  if (length >= kAddressSize) return SessionResult::Failed;
  std::memcpy(m_address, address, length + 1);
  // Text that is not dotted IPv4 is bad input, not a connection that failed to come about.
  in_addr parsed{};
  if (inet_pton(AF_INET, m_address, &parsed) != 1) return SessionResult::Failed;
  if (port < 0 || port > 65535) return SessionResult::Failed;

  const ConnectOutcome outcome = m_socket.ConnectWithin(m_address, port, m_timeouts.connectMs);
  switch (outcome) {
    case ConnectOutcome::Connected: m_connected = 1; return SessionResult::Done;
    case ConnectOutcome::NotMade: return SessionResult::NoAnswer;
    case ConnectOutcome::ModeSwitchFailed: break;
  }
  return SessionResult::Failed;
}

SessionResult HttpSession::StartTls(const char* host) {
  m_tlsProblem.clear();
  if (m_connected == 0 || m_tls != nullptr) {
    m_tlsProblem = "not connected";
    return SessionResult::Failed;
  }
  // The handshake is bounded as a head read is, as a whole: the server's first words.
  SetTimeout(m_timeouts.sendMs, true);
  if (SetTimeout(m_timeouts.headMs, false) != SessionResult::Done) {
    m_tlsProblem = "no time limit for the handshake";
    return SessionResult::NoAnswer;
  }
  auto channel = std::make_unique<TlsChannel>();
  m_socket.SetReceiveDeadline(m_timeouts.headMs);
  const TlsStart started = channel->Start(m_socket, host);
  m_socket.SetReceiveDeadline(0);
  if (started == TlsStart::Ready) {
    m_tls = std::move(channel);
    return SessionResult::Done;
  }
  m_tlsProblem = channel->Problem();
  return started == TlsStart::NoAnswer ? SessionResult::NoAnswer : SessionResult::Failed;
}

long HttpSession::SendSome(const char* data, std::size_t size, int* error) {
  if (m_tls != nullptr) return m_tls->Write(data, size, error);
  return m_socket.Send(data, size, error);
}

long HttpSession::ReceiveSome(char* buffer, std::size_t size, bool peek, int* error) {
  if (m_tls != nullptr) return m_tls->Read(buffer, size, peek, error);
  return m_socket.Receive(buffer, size, peek, error);
}

SessionResult HttpSession::SendRequest(const char* text, int length) {
  if (m_connected == 0) return SessionResult::Failed;
  if (text == nullptr) {
    text = m_request;
    length = static_cast<int>(strnlen(m_request, sizeof m_request));
  } else if (length <= 0) {
    length = static_cast<int>(std::strlen(text));
  }
  const SessionResult sent = Send(text, static_cast<std::size_t>(length));
  if (sent != SessionResult::Done) return sent;
  int headLength = 0;
  return ReadHead(headLength);
}

SessionResult HttpSession::Send(const char* text, std::size_t length) {
  if (m_connected == 0) return SessionResult::Failed;
  SetTimeout(m_timeouts.sendMs, true);  // a refused limit only means sending may wait longer
  std::size_t sent = 0;
  while (sent < length) {
    int error = 0;
    const long count = SendSome(text + sent, length - sent, &error);
    if (count < 0)
      return IsGoneOrLateError(error) ? SessionResult::NoAnswer : SessionResult::Failed;
    // A stream socket that takes nothing would loop for ever.
    if (count == 0) return SessionResult::Failed;
    sent += static_cast<std::size_t>(count);
  }
  return SessionResult::Done;
}

SessionResult HttpSession::ReadHead(int& length) {
  for (int interim = 0; interim <= kMaxInterimHeads; ++interim) {
    const SessionResult result = ReadOneHead();
    if (result != SessionResult::Done) return result;
    length = m_headLength;
    // A "100 Continue" is an interim head: the real one follows.
    if (StatusCode() != 100) return SessionResult::Done;
    m_headDone = 0;
  }
  // Endless interim heads are treated as a broken head rather than read for ever.
  return SessionResult::Failed;
}

// Reads one head over m_head within headMs all told, however the server spreads its bytes.
// Done, NoAnswer (receive error or time limit) or Failed (peer closed).
SessionResult HttpSession::ReadOneHead() {
  if (m_connected == 0) return SessionResult::Failed;
  std::memset(m_head, 0, sizeof m_head);
  m_headDone = 0;
  m_headCut = false;
  m_headLength = -1;
  if (SetTimeout(m_timeouts.headMs, false) != SessionResult::Done) return SessionResult::NoAnswer;
  m_socket.SetReceiveDeadline(m_timeouts.headMs);
  const SessionResult result = ReadHeadBytes();
  m_socket.SetReceiveDeadline(0);
  return result;
}

SessionResult HttpSession::ReadHeadBytes() {
  std::size_t stored = 0;
  bool complete = false;
  while (!complete && stored < kHeadSize) {
    int error = 0;
    const long seen = ReceiveSome(m_head + stored, kHeadSize - stored, true, &error);
    if (seen < 0) return SessionResult::NoAnswer;
    if (seen == 0) return SessionResult::Failed;
    // Look for CR LF CR LF ending inside the new bytes; it may begin in the stored ones.
    std::size_t take = static_cast<std::size_t>(seen);
    for (std::size_t end = stored; end < stored + static_cast<std::size_t>(seen); ++end) {
      if (end >= 3 && m_head[end - 3] == '\r' && m_head[end - 2] == '\n' &&
          m_head[end - 1] == '\r' && m_head[end] == '\n') {
        take = end + 1 - stored;
        complete = true;
        break;
      }
    }
    // The peeked bytes are queued, so this takes exactly them (a short read only repeats).
    while (take > 0) {
      const long got = ReceiveSome(m_head + stored, take, false, &error);
      if (got < 0) return SessionResult::NoAnswer;
      if (got == 0) return SessionResult::Failed;
      stored += static_cast<std::size_t>(got);
      take -= static_cast<std::size_t>(got);
    }
  }
  m_head[stored] = '\0';
  m_headCut = !complete;
  m_headLength = static_cast<std::int32_t>(stored);
  m_headDone = 1;
  return SessionResult::Done;
}

void HttpSession::SetReceiveDeadline(int milliseconds) {
  m_socket.SetReceiveDeadline(milliseconds);
}

int HttpSession::Receive(char* buffer, int size) {
  if (m_connected == 0) return 0;
  if (buffer == nullptr || size <= 0) return -1;
  int error = 0;
  const long got = ReceiveSome(buffer, static_cast<std::size_t>(size), false, &error);
  m_receiveError = got < 0 ? error : 0;
  if (got <= 0) Close();
  return static_cast<int>(got);
}

bool HttpSession::KeepsAlive() {
  if (m_headDone == 0) return false;
  char connection[64] = {};
  const HeaderRead found = StoredHead().HeaderLine("Connection", connection, sizeof connection);
  if (found == HeaderRead::TooLong) return false;  // too long to read: better a new connection
  for (char& c : connection) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (std::strncmp(m_head, "HTTP/1.1 ", 9) == 0)
    return found == HeaderRead::Absent || std::strstr(connection, "close") == nullptr;
  return std::strncmp(m_head, "HTTP/1.0 ", 9) == 0 && found == HeaderRead::Copied &&
         std::strstr(connection, "keep-alive") != nullptr;
}

void HttpSession::KeepFor(SpareConnection& spare) {
  if (m_connected == 0 || m_tls != nullptr) return;
  spare.m_socket = std::move(m_socket);
  std::memcpy(spare.m_address, m_address, sizeof m_address);
  spare.m_port = m_port;
  m_connected = 0;
}

bool HttpSession::TakeOver(SpareConnection& spare, const char* address, int port) {
  TcpSocket kept = std::move(spare.m_socket);
  if (m_connected != 0 || !kept.Valid() || address == nullptr || port != spare.m_port ||
      std::strncmp(address, spare.m_address, sizeof spare.m_address) != 0) {
    return false;
  }
  // A server that closed the connection after its answer, or sent bytes nobody asked for, has
  // left nothing a request can use.
  if (!kept.IsQuiet()) return false;
  m_socket = std::move(kept);
  std::memcpy(m_address, spare.m_address, sizeof m_address);
  m_port = port;
  m_connected = 1;
  return true;
}

SessionResult HttpSession::SetTimeout(int milliseconds, bool sending) {
  return m_socket.SetTimeLimit(milliseconds, sending) ? SessionResult::Done : SessionResult::Failed;
}

SessionResult HttpSession::Close() {
  if (m_tls != nullptr) {
    m_tls->Shutdown();
    m_tls.reset();
  }
  const bool closed = m_socket.Close();
  m_connected = 0;
  return closed ? SessionResult::Done : SessionResult::Failed;
}

}  // namespace quarry
