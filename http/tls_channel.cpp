// The TLS channel over OpenSSL. The records go through a small BIO of our own over the session's
// TcpSocket rather than OpenSSL's socket BIO: its writes use send() with MSG_NOSIGNAL, so a
// server that hangs up in the middle of a request is an error result and never a SIGPIPE that
// ends the whole program, and its reads keep the socket's deadline, so a server that trickles
// its handshake or its head cannot hold a worker for ever.
//
// The client context is shared by every channel of the process and replaced as a whole when
// the extra authority changes; a channel holds its own reference, so a handshake under way is
// never disturbed by the swap.
#include "http/tls_channel.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <mutex>

namespace quarry {

namespace {

// What a channel reads off the socket at once when it can.
constexpr std::size_t kReadAheadBytes = 64 * 1024;

// --- The socket BIO ---

TcpSocket& SocketOf(BIO* bio) { return *static_cast<TcpSocket*>(BIO_get_data(bio)); }

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  int error = 0;
  const long sent = SocketOf(bio).Send(data, static_cast<std::size_t>(size), &error);
  if (sent < 0) {
    errno = error;
    if (WouldBlock(error)) BIO_set_retry_write(bio);
  }
  return static_cast<int>(sent);
}

// Through the socket's own receive, so that a deadline on the socket bounds the handshake and
// the records of a head as it bounds a plain read.
int BioRead(BIO* bio, char* buffer, int size) {
  BIO_clear_retry_flags(bio);
  int error = 0;
  const long got = SocketOf(bio).Receive(buffer, static_cast<std::size_t>(size), false, &error);
  if (got < 0) {
    errno = error;
    if (WouldBlock(error)) BIO_set_retry_read(bio);
  }
  // OpenSSL asks BIO_eof to tell a peer that hung up from a read that failed.
  if (got == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
  return static_cast<int>(got);
}

long BioControl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    default: return 0;
  }
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quarry socket");
    if (made != nullptr) {
      BIO_meth_set_write(made, BioWrite);
      BIO_meth_set_read(made, BioRead);
      BIO_meth_set_ctrl(made, BioControl);
      BIO_meth_set_create(made, BioCreate);
    }
    return made;
  }();
  return method;
}

// --- The shared client context ---

std::string LastErrorText(const char* fallback) {
  const unsigned long code = ERR_peek_last_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

SSL_CTX* MakeContext(const std::string& extraAuthority, std::string* error) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) {
    if (error != nullptr) *error = LastErrorText("no TLS context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  // Many servers end an answer by closing without the closing alert; the transfer checks the
  // lengths itself, so such an end is read as an ordinary close.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(context, SSL_MODE_AUTO_RETRY);
  // Reading ahead takes whole socket buffers at once instead of one record header and body at a
  // time, and lets Read fill a large buffer from what already arrived.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_default_read_buffer_len(context, kReadAheadBytes);
  SSL_CTX_set_default_verify_paths(context);
  if (!extraAuthority.empty() &&
      SSL_CTX_load_verify_locations(context, extraAuthority.c_str(), nullptr) != 1) {
    if (error != nullptr) *error = extraAuthority + ": " + LastErrorText("not a certificate file");
    SSL_CTX_free(context);
    return nullptr;
  }
  return context;
}

struct SharedContext {
  std::mutex lock;
  SSL_CTX* context = nullptr;  // made on first use
};

SharedContext& Shared() {
  static SharedContext shared;
  return shared;
}

// A reference to the current context (the caller frees it), or null.
SSL_CTX* AcquireContext() {
  SharedContext& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  if (shared.context == nullptr) shared.context = MakeContext("", nullptr);
  if (shared.context != nullptr) SSL_CTX_up_ref(shared.context);
  return shared.context;
}

}  // namespace

bool SetTlsExtraAuthority(const std::string& path, std::string* error) {
  ERR_clear_error();
  SSL_CTX* made = MakeContext(path, error);
  ERR_clear_error();
  if (made == nullptr) return false;
  SharedContext& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  if (shared.context != nullptr) SSL_CTX_free(shared.context);
  shared.context = made;
  return true;
}

TlsChannel::~TlsChannel() {
  if (m_ssl != nullptr) SSL_free(m_ssl);
}

TlsStart TlsChannel::Start(TcpSocket& socket, const char* host) {
  m_problem.clear();
  ERR_clear_error();
  SSL_CTX* context = AcquireContext();
  BIO_METHOD* method = SocketMethod();
  if (context == nullptr || method == nullptr || host == nullptr) {
    if (context != nullptr) SSL_CTX_free(context);
    m_problem = LastErrorText("TLS is not available");
    return TlsStart::Refused;
  }
  m_ssl = SSL_new(context);
  SSL_CTX_free(context);  // the channel holds its own reference now
  BIO* bio = m_ssl != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) {
    m_problem = LastErrorText("no TLS channel");
    m_broken = true;
    return TlsStart::Refused;
  }
  BIO_set_data(bio, &socket);
  SSL_set_bio(m_ssl, bio, bio);

  // An address written as the host is checked against the certificate's IP entries; a name is
  // sent as SNI and checked against its DNS names.
  in_addr numeric{};
  const bool checked =
      inet_pton(AF_INET, host, &numeric) == 1
          ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host) == 1
          : SSL_set_tlsext_host_name(m_ssl, host) == 1 && SSL_set1_host(m_ssl, host) == 1;
  // "f*.example.com" names no host a user meant: only whole-label wildcards pass.
  X509_VERIFY_PARAM_set_hostflags(SSL_get0_param(m_ssl), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (!checked) {
    m_problem = std::string("cannot check the certificate for ") + host;
    m_broken = true;
    return TlsStart::Refused;
  }

  errno = 0;
  const int result = SSL_connect(m_ssl);
  if (result == 1) return TlsStart::Ready;
  m_broken = true;
  const long verified = SSL_get_verify_result(m_ssl);
  if (verified != X509_V_OK) {
    m_problem = std::string("certificate refused: ") + X509_verify_cert_error_string(verified);
    return TlsStart::Refused;
  }
  const int kind = SSL_get_error(m_ssl, result);
  const int error = errno;
  if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
    m_problem = "no answer to the TLS handshake in time";
    return TlsStart::NoAnswer;
  }
  if (kind == SSL_ERROR_SYSCALL) {
    m_problem = "the server hung up during the TLS handshake";
    return WouldBlock(error) || error == 0 || error == ECONNRESET || error == EPIPE
               ? TlsStart::NoAnswer
               : TlsStart::Refused;
  }
  m_problem = "TLS handshake failed: " + LastErrorText("protocol error");
  return TlsStart::Refused;
}

long TlsChannel::Failed(int result, int* error) {
  const int kind = SSL_get_error(m_ssl, result);
  int code = EPROTO;
  switch (kind) {
    case SSL_ERROR_ZERO_RETURN: return 0;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: code = EAGAIN; break;
    case SSL_ERROR_SYSCALL:
      code = errno != 0 ? errno : ECONNRESET;
      m_broken = true;
      break;
    default: m_broken = true; break;
  }
  if (error != nullptr) *error = code;
  return -1;
}

long TlsChannel::Write(const char* data, std::size_t size, int* error) {
  if (m_ssl == nullptr || m_broken) {
    if (error != nullptr) *error = EPIPE;
    return -1;
  }
  ERR_clear_error();
  errno = 0;
  const int chunk = size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
  const int written = SSL_write(m_ssl, data, chunk);
  if (written > 0) return written;
  return Failed(written, error);
}

long TlsChannel::Read(char* buffer, std::size_t size, bool peek, int* error) {
  if (m_ssl == nullptr || m_broken) {
    if (error != nullptr) *error = ECONNRESET;
    return -1;
  }
  ERR_clear_error();
  errno = 0;
  const int chunk = size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
  const int got = peek ? SSL_peek(m_ssl, buffer, chunk) : SSL_read(m_ssl, buffer, chunk);
  if (got <= 0) return Failed(got, error);
  // One record is at most 16 KB: take the further records already read ahead as well, without
  // waiting for more, as one receive of a plain socket takes what has arrived.
  long total = got;
  while (!peek && total < chunk && SSL_has_pending(m_ssl) == 1) {
    const int more = SSL_read(m_ssl, buffer + total, chunk - static_cast<int>(total));
    if (more <= 0) {
      ERR_clear_error();  // told by the next read
      break;
    }
    total += more;
  }
  return total;
}

void TlsChannel::Shutdown() {
  if (m_ssl == nullptr || m_broken) return;
  // One call sends the alert without waiting for the server's: the connection ends here.
  ERR_clear_error();
  SSL_shutdown(m_ssl);
  ERR_clear_error();
}

}  // namespace quarry
