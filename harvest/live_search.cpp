// Live-mode result-page addresses, request lines and the few address checks the live parsers
// share. Host names are compared without regard to letter case, as DNS does.
#include "harvest/live_search.h"

#include <string>
#include <string_view>

#include "harvest/link_extraction.h"

namespace quarry {
namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Parts of an absolute http(s) address; false for anything else.
struct AddressParts {
  std::string_view scheme;     // "http" or "https" as written
  std::string_view authority;  // host[:port], possibly with user info
  std::string_view rest;       // path, query and fragment ("" or starting with / ? #)
};

bool SplitAddress(std::string_view address, AddressParts& parts) {
  std::size_t schemeEnd;
  if (StartsWithNoCase(address, kHttps)) {
    schemeEnd = kHttps.size() - 3;
  } else if (StartsWithNoCase(address, kHttp)) {
    schemeEnd = kHttp.size() - 3;
  } else {
    return false;
  }
  const std::size_t hostStart = schemeEnd + 3;
  const std::size_t hostEnd = address.find_first_of("/?#", hostStart);
  parts.scheme = address.substr(0, schemeEnd);
  parts.authority = address.substr(
      hostStart, hostEnd == std::string_view::npos ? std::string_view::npos : hostEnd - hostStart);
  parts.rest = hostEnd == std::string_view::npos ? std::string_view{} : address.substr(hostEnd);
  return true;
}

// True when `reference` starts with a scheme ("mailto:", "javascript:", ...).
bool HasScheme(std::string_view reference) {
  const std::size_t colon = reference.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = reference[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) {
      return false;
    }
  }
  return true;
}

// The host name of an authority: without user info and port.
std::string_view HostOf(std::string_view authority) {
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  const std::size_t colon = authority.find(':');
  return authority.substr(0, colon);
}

std::string_view WebFileType(FileKind kind) {
  std::string_view extension = DocumentExtension(kind);
  if (!extension.empty()) extension.remove_prefix(1);  // the query names the type without dot
  return extension;
}

}  // namespace

int LiveResultPageOffset(FileKind kind, int index) {
  if (index < 0) return -1;
  if (kind == FileKind::Image) {
    constexpr int kImagePages = (kLiveImageOffsetCap + kLiveImagePageStep - 1) / kLiveImagePageStep;
    return index < kImagePages ? index * kLiveImagePageStep : -1;
  }
  if (WebFileType(kind).empty()) return -1;
  // An absurd index must not wrap into a negative offset.
  constexpr int kWebPages = 100000000;
  return index < kWebPages ? index * kLiveWebPageStep : -1;
}

std::string LiveResultPageUrl(FileKind kind, std::string_view webHost, std::string_view imageHost,
                              std::string_view keyword, int pn) {
  if (pn < 0) return {};
  std::string url;
  if (kind == FileKind::Image) {
    if (imageHost.empty()) return {};
    url.append(kHttps).append(imageHost);
    // The service's own script names the keyword twice, as queryWord and as word.
    const std::string word = PercentEncode(keyword);
    url.append("/search/acjson?tn=resultjson_com&ipn=rj&ie=utf-8&oe=utf-8&queryWord=");
    url.append(word).append("&word=").append(word);
    url.append("&pn=").append(std::to_string(pn));
    url.append("&rn=").append(std::to_string(kLiveImagePageStep));
  } else {
    const std::string_view type = WebFileType(kind);
    if (type.empty() || webHost.empty()) return {};
    url.append(kHttps).append(webHost).append("/s?wd=").append(PercentEncode(keyword));
    url.append("%20filetype%3A").append(type);
    url.append("&pn=").append(std::to_string(pn));
    url.append("&rn=").append(std::to_string(kLiveWebPageStep)).append("&ie=utf-8");
  }
  if (url.size() > kMaxLinkBytes) return {};
  return url;
}

std::string LiveCookieUrl(FileKind kind, std::string_view webHost, std::string_view imageHost) {
  if (kind != FileKind::Image && WebFileType(kind).empty()) return {};
  const std::string_view host = kind == FileKind::Image ? imageHost : webHost;
  if (host.empty()) return {};
  return std::string(kHttps).append(host).append("/");
}

std::vector<std::string> LiveResultPageHeaders(FileKind kind, std::string_view imageHost) {
  std::vector<std::string> lines;
  lines.push_back(std::string("User-Agent: ") + kLiveUserAgent);
  lines.push_back(std::string("Accept-Language: ") + kLiveAcceptLanguage);
  if (kind == FileKind::Image) {
    lines.push_back("Accept: application/json, text/javascript, */*; q=0.01");
    lines.push_back(std::string("Referer: ").append(kHttps).append(imageHost).append("/"));
    lines.push_back("X-Requested-With: XMLHttpRequest");
  } else {
    lines.push_back("Accept: text/html,application/xhtml+xml,*/*;q=0.8");
  }
  return lines;
}

bool IsUsableLiveAddress(std::string_view address) {
  AddressParts parts;
  if (address.size() > kMaxLinkBytes || !SplitAddress(address, parts)) return false;
  if (HostOf(parts.authority).empty()) return false;
  for (const char c : address) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
  }
  return true;
}

bool IsLiveRedirectorLink(std::string_view address) {
  AddressParts parts;
  if (!SplitAddress(address, parts)) return false;
  return parts.rest.starts_with("/link?") && parts.rest.find("url=") != std::string_view::npos;
}

bool IsLiveClickThroughLink(std::string_view address) {
  AddressParts parts;
  if (!SplitAddress(address, parts)) return false;
  return StartsWithNoCase(parts.rest, "/baidu.php?") || StartsWithNoCase(parts.rest, "/aclick?");
}

bool IsLiveServicePage(std::string_view address, std::string_view pageUrl) {
  AddressParts link;
  AddressParts page;
  if (!SplitAddress(address, link) || !SplitAddress(pageUrl, page)) return false;
  if (!EqualsNoCase(HostOf(link.authority), HostOf(page.authority))) return false;
  const std::string_view path = link.rest;
  return path.empty() || path == "/" || path.starts_with("/?") || path.starts_with("/#") ||
         path == "/s" || path.starts_with("/s?") || path.starts_with("/s/");
}

bool IsLiveRefusalLocation(std::string_view location) {
  AddressParts parts;
  if (!SplitAddress(location, parts)) return false;
  return EqualsNoCase(HostOf(parts.authority), kLiveRefusalHost);
}

std::string ResolveLiveAddress(std::string_view base, std::string_view reference) {
  // Blanks around a header value or an attribute are no part of the address.
  while (!reference.empty() && (reference.front() == ' ' || reference.front() == '\t')) {
    reference.remove_prefix(1);
  }
  while (!reference.empty() && (reference.back() == ' ' || reference.back() == '\t')) {
    reference.remove_suffix(1);
  }
  std::string out;
  AddressParts parts;
  if (StartsWithNoCase(reference, kHttp) || StartsWithNoCase(reference, kHttps)) {
    out = reference;
  } else if (reference.empty() || HasScheme(reference) || !SplitAddress(base, parts)) {
    return {};
  } else if (reference.starts_with("//")) {
    out.append(parts.scheme).append(":").append(reference);
  } else if (reference.starts_with("/")) {
    out.append(parts.scheme).append("://").append(parts.authority).append(reference);
  } else if (reference.starts_with("?")) {
    const std::string_view path = parts.rest.substr(0, parts.rest.find_first_of("?#"));
    out.append(parts.scheme).append("://").append(parts.authority);
    out.append(path.empty() ? "/" : path).append(reference);
  } else {
    std::string_view path = parts.rest.substr(0, parts.rest.find_first_of("?#"));
    path = path.substr(0, path.rfind('/') == std::string_view::npos ? 0 : path.rfind('/') + 1);
    out.append(parts.scheme).append("://").append(parts.authority);
    out.append(path.empty() ? "/" : path).append(reference);
  }
  return IsUsableLiveAddress(out) ? out : std::string{};
}

}  // namespace quarry
