// Proxies: how a task's requests reach a server through an HTTP proxy (absolute-form requests
// for http addresses, a CONNECT tunnel for https ones) or a SOCKS5 proxy (the target named by
// its host, which the proxy resolves), with optional user and password. This file holds what
// needs no socket: reading a proxy address, choosing the proxy of a target (the program's
// setting, or else the conventional http_proxy, https_proxy and no_proxy environment
// variables), and the bytes of each handshake, composed and read here so that tests check them
// byte for byte. OpenExchange speaks them on the connection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

enum class ProxyKind : std::uint8_t { None, Http, Socks5 };

// Longest user name and password: SOCKS5 gives each a one-byte length.
inline constexpr std::size_t kMaxProxyCredentialBytes = 255;
// Longest target host a SOCKS5 request can name (a one-byte length).
inline constexpr std::size_t kMaxSocksHostBytes = 255;

struct ProxySetting {
  ProxyKind kind = ProxyKind::None;
  std::string host;      // name or dotted address of the proxy
  int port = 0;          // 1 to 65535
  std::string user;      // empty: no credentials
  std::string password;  // with the user
};

// Reads "http://[user:password@]host:port" or "socks5://[user:password@]host:port" (user and
// password percent-decoded; "socks5h://" is taken for "socks5://", the proxy resolving names
// either way), or "none" (direct). A missing port is 1080 for SOCKS5; an HTTP proxy without a
// scheme is taken as http://, as the environment variables are commonly written. False, with a
// reason in `error` and `proxy` untouched, for any other scheme, a missing host, a bad port, a
// path after the port, or credentials longer than 255 bytes.
bool ParseProxyUrl(std::string_view text, ProxySetting* proxy, std::string* error);

// The address text of `proxy` that ParseProxyUrl reads back ("none" for none), credentials
// percent-encoded; the settings file keeps it.
std::string ProxyUrlText(const ProxySetting& proxy);

// The same without the password, for logs and summaries.
std::string ProxyShownText(const ProxySetting& proxy);

// The proxies of a run: the program's setting when there is one, else the environment's.
struct ProxyChoice {
  bool fromEnvironment = true;       // no setting made: the variables below decide
  ProxySetting setting;              // the setting; kind None: every request goes direct
  ProxySetting httpProxy;            // http_proxy, for http addresses
  ProxySetting httpsProxy;           // https_proxy (or HTTPS_PROXY), for https addresses
  std::vector<std::string> noProxy;  // no_proxy (or NO_PROXY): hosts reached directly
};

// Reads a choice from the environment through `get` (getenv in the program): http_proxy
// (lower case only, as HTTP_PROXY can be set by a CGI request), https_proxy or HTTPS_PROXY,
// no_proxy or NO_PROXY (names separated by commas and blanks; "*" for every host; a name
// stands for itself and the names below it; a leading dot is ignored). A variable that does not
// read as a proxy address is ignored, and said in `ignored` when given.
ProxyChoice ProxyChoiceFromEnvironment(const char* (*get)(const char*),
                                       std::vector<std::string>* ignored = nullptr);

// The proxy a request to `host` goes through, or null for a direct connection.
const ProxySetting* ProxyFor(const ProxyChoice& choice, std::string_view host, bool secure);

// --- The bytes of the handshakes ---

// `request` (a request whose line is "METHOD /path HTTP/1.1") made fit for an HTTP proxy:
// the path becomes the absolute address http://host[:port]/path, and a Proxy-Authorization
// line follows the request line when the proxy has credentials. The rest is kept byte for byte.
std::string AbsoluteFormRequest(std::string_view request, std::string_view host, int port,
                                const ProxySetting& proxy);

// The CONNECT request that opens a tunnel to host:port through an HTTP proxy.
std::string ConnectRequest(std::string_view host, int port, const ProxySetting& proxy);

// "Basic " and the base64 of "user:password".
std::string BasicCredentials(const ProxySetting& proxy);

// SOCKS5: the greeting (no authentication, and user/password when the proxy has credentials),
// the user/password message, and the request to connect to `host` by name.
std::string Socks5Greeting(const ProxySetting& proxy);
std::string Socks5Credentials(const ProxySetting& proxy);
std::string Socks5ConnectRequest(std::string_view host, int port);

// What a proxy's answer in a handshake says.
enum class ProxyReply {
  Go,                  // on to the next step
  WantsCredentials,    // SOCKS5 chose user/password
  CredentialsRefused,  // the proxy wants credentials, or refused the ones given
  TargetRefused,       // the proxy does not allow the target (its rules, or a general failure)
  TargetUnreachable,   // the proxy could not reach the target (host, network, refused, time)
  Broken,              // not the protocol's answer
};

// Reads the SOCKS5 method choice (2 bytes), the answer to the credentials (2 bytes), and the
// reply to a connect request (its first 4 bytes; the bound address that follows is read and
// dropped by the caller: see Socks5ReplyLength).
ProxyReply ReadSocks5Choice(std::string_view answer);
ProxyReply ReadSocks5Authentication(std::string_view answer);
ProxyReply ReadSocks5Reply(std::string_view answer);
// The whole length of a connect reply whose first 5 bytes are `start`: 0 when the address type
// is unknown.
std::size_t Socks5ReplyLength(std::string_view start);

// What the status code of an HTTP proxy's answer to CONNECT says: 2xx Go, 401 and 407
// CredentialsRefused, 500, 502, 503 and 504 TargetUnreachable, anything else TargetRefused.
ProxyReply ReadConnectStatus(int code);

// True when `head`, the answer to a plain (absolute-form) request sent to an HTTP proxy, is the
// proxy's own refusal of the credentials rather than the target's answer: a 407, or a 401 that
// carries a proxy's marks (a Proxy-Authenticate line, or tinyproxy's Server name without the
// Via line that tinyproxy writes into every answer it relays).
bool IsProxyCredentialRefusal(std::string_view head);

}  // namespace quarry
