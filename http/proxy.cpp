// Proxy addresses, the choice of a target's proxy and the handshake bytes. Credentials in an
// address are percent-decoded on reading and encoded on writing, so a password may hold ':',
// '@' or '/'. SOCKS5 names the target by its host (address type 3) so that the proxy resolves
// it: the program never looks up a host it reaches through a proxy.
#include "http/proxy.h"

#include <algorithm>
#include <cctype>

#include "http/response_head.h"

namespace quarry {
namespace {

constexpr int kDefaultSocksPort = 1080;
constexpr int kMaxPort = 65535;
constexpr char kSocksVersion = 5;
constexpr char kSocksAuthVersion = 1;  // the user/password sub-negotiation's own version
constexpr char kSocksNoAuthentication = 0;
constexpr char kSocksUserPassword = 2;
constexpr char kSocksConnect = 1;
constexpr char kSocksDomainName = 3;
constexpr unsigned char kSocksNoMethod = 0xFF;
constexpr int kUnauthorized = 401;
constexpr int kProxyAuthenticationRequired = 407;

bool Refuse(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string PercentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string Base64(std::string_view data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned value = (static_cast<unsigned char>(data[i]) << 16) |
                           (static_cast<unsigned char>(data[i + 1]) << 8) |
                           static_cast<unsigned char>(data[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(value >> shift) & 63];
  }
  if (i < data.size()) {
    unsigned value = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) value |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kAlphabet[(value >> 18) & 63];
    out += kAlphabet[(value >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(value >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// "host:port" as a request names it: a port always, an IPv6 literal in brackets.
std::string Authority(std::string_view host, int port) {
  std::string out =
      host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]" : std::string(host);
  return out + ":" + std::to_string(port);
}

bool ParsePort(std::string_view text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxPort) return false;
  *port = value;
  return true;
}

// True when `host` is `name` or a host below it ("a.example.com" below "example.com").
bool HostMatches(std::string_view host, std::string_view name) {
  if (name.starts_with('.')) name.remove_prefix(1);
  if (name.empty()) return false;
  const std::string lowerHost = Lower(host);
  const std::string lowerName = Lower(name);
  if (lowerHost == lowerName) return true;
  return lowerHost.size() > lowerName.size() && lowerHost.ends_with(lowerName) &&
         lowerHost[lowerHost.size() - lowerName.size() - 1] == '.';
}

}  // namespace

bool ParseProxyUrl(std::string_view text, ProxySetting* proxy, std::string* error) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty() || Lower(text) == "none") {
    *proxy = ProxySetting{};
    return true;
  }
  ProxySetting read;
  const std::size_t schemeEnd = text.find("://");
  const std::string scheme =
      schemeEnd == std::string_view::npos ? "http" : Lower(text.substr(0, schemeEnd));
  if (schemeEnd != std::string_view::npos) text.remove_prefix(schemeEnd + 3);
  if (scheme == "http") {
    read.kind = ProxyKind::Http;
  } else if (scheme == "socks5" || scheme == "socks5h") {
    read.kind = ProxyKind::Socks5;
  } else {
    return Refuse(
        error, "the proxy must be http://host:port or socks5://host:port, not " + scheme + "://");
  }
  // A trailing slash is allowed (as the variables are often written), a path is not.
  if (text.ends_with('/')) text.remove_suffix(1);
  if (text.find('/') != std::string_view::npos)
    return Refuse(error, "the proxy address has a path; give only host:port");
  const std::size_t at = text.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view credentials = text.substr(0, at);
    const std::size_t colon = credentials.find(':');
    if (!PercentDecode(credentials.substr(0, colon), &read.user) ||
        (colon != std::string_view::npos &&
         !PercentDecode(credentials.substr(colon + 1), &read.password)))
      return Refuse(error, "the proxy's user or password has a bad %-escape");
    if (read.user.empty()) return Refuse(error, "the proxy's user name is empty");
    if (read.user.size() > kMaxProxyCredentialBytes ||
        read.password.size() > kMaxProxyCredentialBytes)
      return Refuse(error, "the proxy's user name or password is longer than 255 bytes");
    text.remove_prefix(at + 1);
  }
  std::string_view port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return Refuse(error, "the proxy host has no closing ]");
    read.host = std::string(text.substr(1, close - 1));
    text.remove_prefix(close + 1);
    if (!text.empty() && text.front() != ':')
      return Refuse(error, "the proxy address is not host:port");
    if (!text.empty()) port = text.substr(1);
  } else {
    const std::size_t colon = text.rfind(':');
    read.host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) port = text.substr(colon + 1);
  }
  if (read.host.empty()) return Refuse(error, "the proxy address has no host");
  if (port.empty() && read.kind == ProxyKind::Socks5) {
    read.port = kDefaultSocksPort;
  } else if (!ParsePort(port, &read.port)) {
    return Refuse(error, "the proxy address needs a port from 1 to 65535");
  }
  *proxy = std::move(read);
  return true;
}

std::string ProxyUrlText(const ProxySetting& proxy) {
  if (proxy.kind == ProxyKind::None) return "none";
  std::string text = proxy.kind == ProxyKind::Http ? "http://" : "socks5://";
  if (!proxy.user.empty())
    text += PercentEncode(proxy.user) + ":" + PercentEncode(proxy.password) + "@";
  return text + Authority(proxy.host, proxy.port);
}

std::string ProxyShownText(const ProxySetting& proxy) {
  if (proxy.kind == ProxyKind::None) return "none";
  std::string text = proxy.kind == ProxyKind::Http ? "http://" : "socks5://";
  if (!proxy.user.empty()) text += PercentEncode(proxy.user) + "@";
  return text + Authority(proxy.host, proxy.port);
}

ProxyChoice ProxyChoiceFromEnvironment(const char* (*get)(const char*),
                                       std::vector<std::string>* ignored) {
  ProxyChoice choice;
  auto first = [&](std::initializer_list<const char*> names, const char** which) {
    for (const char* name : names) {
      const char* value = get(name);
      if (value != nullptr && *value != '\0') {
        *which = name;
        return std::string(value);
      }
    }
    return std::string();
  };
  auto read = [&](std::initializer_list<const char*> names, ProxySetting* proxy) {
    const char* name = nullptr;
    const std::string value = first(names, &name);
    if (value.empty()) return;
    std::string error;
    if (!ParseProxyUrl(value, proxy, &error)) {
      *proxy = ProxySetting{};
      if (ignored) ignored->push_back(std::string(name) + " is ignored: " + error);
    }
  };
  read({"http_proxy"}, &choice.httpProxy);
  read({"https_proxy", "HTTPS_PROXY"}, &choice.httpsProxy);
  const char* name = nullptr;
  const std::string list = first({"no_proxy", "NO_PROXY"}, &name);
  std::string item;
  for (char c : list + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) choice.noProxy.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return choice;
}

const ProxySetting* ProxyFor(const ProxyChoice& choice, std::string_view host, bool secure) {
  if (!choice.fromEnvironment) {
    return choice.setting.kind == ProxyKind::None ? nullptr : &choice.setting;
  }
  const ProxySetting& proxy = secure ? choice.httpsProxy : choice.httpProxy;
  if (proxy.kind == ProxyKind::None) return nullptr;
  for (const std::string& name : choice.noProxy) {
    if (name == "*") return nullptr;
    // "host:port" entries name the host alone here.
    std::string_view bare = name;
    if (const std::size_t colon = bare.rfind(':');
        colon != std::string_view::npos && bare.find(':') == colon)
      bare = bare.substr(0, colon);
    if (HostMatches(host, bare)) return nullptr;
  }
  return &proxy;
}

std::string BasicCredentials(const ProxySetting& proxy) {
  return "Basic " + Base64(proxy.user + ":" + proxy.password);
}

std::string AbsoluteFormRequest(std::string_view request, std::string_view host, int port,
                                const ProxySetting& proxy) {
  const std::size_t space = request.find(' ');
  const std::size_t lineEnd = request.find("\r\n");
  if (space == std::string_view::npos || lineEnd == std::string_view::npos || space > lineEnd)
    return std::string(request);
  std::string out(request.substr(0, space + 1));
  out += "http://";
  out += port == 80 ? std::string(host) : Authority(host, port);
  out += request.substr(space + 1, lineEnd + 2 - space - 1);
  if (!proxy.user.empty()) out += "Proxy-Authorization: " + BasicCredentials(proxy) + "\r\n";
  out += request.substr(lineEnd + 2);
  return out;
}

std::string ConnectRequest(std::string_view host, int port, const ProxySetting& proxy) {
  const std::string authority = Authority(host, port);
  std::string out = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (!proxy.user.empty()) out += "Proxy-Authorization: " + BasicCredentials(proxy) + "\r\n";
  return out + "\r\n";
}

std::string Socks5Greeting(const ProxySetting& proxy) {
  std::string out{kSocksVersion};
  if (proxy.user.empty()) {
    out += '\x01';
    out += kSocksNoAuthentication;
  } else {
    out += '\x02';
    out += kSocksNoAuthentication;
    out += kSocksUserPassword;
  }
  return out;
}

std::string Socks5Credentials(const ProxySetting& proxy) {
  std::string out{kSocksAuthVersion};
  out += static_cast<char>(proxy.user.size());
  out += proxy.user;
  out += static_cast<char>(proxy.password.size());
  out += proxy.password;
  return out;
}

std::string Socks5ConnectRequest(std::string_view host, int port) {
  std::string out{kSocksVersion, kSocksConnect, 0, kSocksDomainName};
  out += static_cast<char>(host.size());
  out += host;
  out += static_cast<char>((port >> 8) & 0xFF);
  out += static_cast<char>(port & 0xFF);
  return out;
}

ProxyReply ReadSocks5Choice(std::string_view answer) {
  if (answer.size() != 2 || answer[0] != kSocksVersion) return ProxyReply::Broken;
  if (answer[1] == kSocksNoAuthentication) return ProxyReply::Go;
  if (answer[1] == kSocksUserPassword) return ProxyReply::WantsCredentials;
  if (static_cast<unsigned char>(answer[1]) == kSocksNoMethod)
    return ProxyReply::CredentialsRefused;
  return ProxyReply::Broken;
}

ProxyReply ReadSocks5Authentication(std::string_view answer) {
  if (answer.size() != 2 || answer[0] != kSocksAuthVersion) return ProxyReply::Broken;
  return answer[1] == 0 ? ProxyReply::Go : ProxyReply::CredentialsRefused;
}

ProxyReply ReadSocks5Reply(std::string_view answer) {
  if (answer.size() < 4 || answer[0] != kSocksVersion || answer[2] != 0) return ProxyReply::Broken;
  switch (answer[1]) {
    case 0: return ProxyReply::Go;
    case 1:                                        // general failure
    case 2:                                        // not allowed by the rules
    case 7:                                        // command not supported
    case 8: return ProxyReply::TargetRefused;      // address type not supported
    case 3:                                        // network unreachable
    case 4:                                        // host unreachable
    case 5:                                        // connection refused
    case 6: return ProxyReply::TargetUnreachable;  // time to live expired
    default: return ProxyReply::Broken;
  }
}

std::size_t Socks5ReplyLength(std::string_view start) {
  constexpr std::size_t kFixed = 4 + 2;  // version, reply, reserved, type; the port
  if (start.size() < 5) return 0;
  switch (start[3]) {
    case 1: return kFixed + 4;
    case 4: return kFixed + 16;
    case kSocksDomainName: return kFixed + 1 + static_cast<unsigned char>(start[4]);
    default: return 0;
  }
}

ProxyReply ReadConnectStatus(int code) {
  if (code >= 200 && code < 300) return ProxyReply::Go;
  // Some proxies refuse wrong credentials with 401 rather than 407; to a CONNECT only the
  // proxy answers.
  if (code == 401 || code == 407) return ProxyReply::CredentialsRefused;
  // Some proxies answer 500 when they could not connect, others 502 or 504.
  if (code == 500 || code == 502 || code == 503 || code == 504)
    return ProxyReply::TargetUnreachable;
  return ProxyReply::TargetRefused;
}

bool IsProxyCredentialRefusal(std::string_view head) {
  const ResponseHead reader(head.data(), static_cast<int>(head.size()));
  const int code = reader.StatusCode();
  if (code == kProxyAuthenticationRequired) return true;
  if (code != kUnauthorized) return false;
  if (!reader.Value("Proxy-Authenticate").empty()) return true;
  // tinyproxy answers wrong credentials with a 401 and WWW-Authenticate, as a target would;
  // only its Server name and the missing Via line of a relayed answer tell the two apart.
  return Lower(reader.Value("Server")).starts_with("tinyproxy") && reader.Value("Via").empty();
}

}  // namespace quarry
