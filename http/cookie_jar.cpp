// Set-Cookie parsing, cookie dates, host and path matching, and the Cookie line. The date
// reader accepts what servers write in practice: the tokens of a date in any order, found by
// their shape (a time h:m:s, a day of one or two digits, a month name, a year of two to four
// digits), as browsers read them.
#include "http/cookie_jar.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include <libpsl.h>

#include "http/response_head.h"
#include "http/split_url.h"

namespace quarry {
namespace {

constexpr std::string_view kSetCookie = "set-cookie:";
// A Max-Age beyond this many seconds (about 400 days) is cut to it, as browsers do.
constexpr std::int64_t kMaxCookieAge = 400LL * 24 * 3600;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (Lower(text[i]) != lowerPrefix[i]) return false;
  }
  return true;
}

bool HasControlBytes(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

bool IsIpAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;  // IPv6
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// `host` is `domain` or a name below it (never for an address given as numbers).
bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (!requestPath.starts_with(cookiePath)) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') ||
         requestPath[cookiePath.size()] == '/';
}

// The directory of the request path: where a cookie without Path applies.
std::string DefaultPath(std::string_view requestPath) {
  if (!requestPath.starts_with('/')) return "/";
  const std::size_t last = requestPath.rfind('/');
  return last == 0 ? "/" : std::string(requestPath.substr(0, last));
}

bool IsDateDelimiter(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b == 0x09 || (b >= 0x20 && b <= 0x2F) || (b >= 0x3B && b <= 0x40) ||
         (b >= 0x5B && b <= 0x60) || (b >= 0x7B && b <= 0x7E);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to `most` digits at the front of `token`; the rest must not start with a digit.
bool LeadingNumber(std::string_view& token, std::size_t least, std::size_t most, int& value) {
  std::size_t n = 0;
  value = 0;
  while (n < token.size() && IsDigit(token[n])) {
    if (++n > most) return false;
    value = value * 10 + (token[n - 1] - '0');
  }
  if (n < least) return false;
  token.remove_prefix(n);
  return true;
}

bool ParseTime(std::string_view token, int& h, int& m, int& s) {
  if (!LeadingNumber(token, 1, 2, h) || !token.starts_with(':')) return false;
  token.remove_prefix(1);
  if (!LeadingNumber(token, 1, 2, m) || !token.starts_with(':')) return false;
  token.remove_prefix(1);
  return LeadingNumber(token, 1, 2, s);
}

// The month 1..12 that `token` names by its first three letters, or 0.
int MonthOf(std::string_view token) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() < 3) return 0;
  const auto it = std::find(kMonths.begin(), kMonths.end(), LowerCopy(token.substr(0, 3)));
  return it == kMonths.end() ? 0 : static_cast<int>(it - kMonths.begin()) + 1;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// The public suffixes of the system's list (the publicsuffix package, else the library's own
// copy), read once; lookups only read it, so every thread may use it.
const psl_ctx_t* PublicSuffixes() {
  static const psl_ctx_t* const list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest != nullptr ? latest : psl_builtin();
  }();
  return list;
}

// Reads the attributes after the name and value into `cookie` (expiry, Secure) and the raw
// Domain and Path values; unknown attributes and unreadable values are ignored.
void ReadAttributes(std::string_view attributes, std::int64_t now, Cookie& cookie,
                    std::string& domain, std::string& path) {
  bool haveMaxAge = false;
  while (!attributes.empty()) {
    const std::size_t next = attributes.find(';');
    const std::string_view attribute = attributes.substr(0, next);
    attributes = next == std::string_view::npos ? std::string_view{} : attributes.substr(next + 1);
    const std::size_t eq = attribute.find('=');
    const std::string name = LowerCopy(TrimHeaderBlanks(attribute.substr(0, eq)));
    const std::string_view value = eq == std::string_view::npos
                                       ? std::string_view{}
                                       : TrimHeaderBlanks(attribute.substr(eq + 1));
    if (name == "max-age") {
      std::string_view digits = value;
      const bool negative = digits.starts_with('-');
      if (negative) digits.remove_prefix(1);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        continue;  // not a number: the attribute is ignored
      }
      std::int64_t age = 0;
      for (const char c : digits) age = std::min(age * 10 + (c - '0'), kMaxCookieAge);
      haveMaxAge = true;
      cookie.persistent = true;
      cookie.expires = negative || age == 0 ? std::numeric_limits<std::int64_t>::min() : now + age;
    } else if (name == "expires" && !haveMaxAge) {
      std::int64_t when = 0;
      if (ParseCookieDate(value, when)) {
        cookie.persistent = true;
        cookie.expires = when;
      }
    } else if (name == "domain") {
      std::string_view d = value;
      if (d.starts_with('.')) d.remove_prefix(1);
      domain = LowerCopy(d);
    } else if (name == "path") {
      path = value;
    } else if (name == "secure") {
      cookie.secure = true;
    }
  }
}

// Sets the cookie's domain from its Domain attribute (empty: the origin's host alone). False
// when the attribute names another host's domain or a public suffix (a cookie for every site
// under "com.cn"); a public suffix that is the host itself makes a cookie for the host alone.
bool PlaceCookie(const CookieOrigin& origin, const std::string& domain, Cookie& cookie) {
  cookie.domain = origin.host;
  cookie.hostOnly = true;
  if (domain.empty()) return true;
  if (!DomainMatches(origin.host, domain)) return false;
  const psl_ctx_t* suffixes = PublicSuffixes();
  const bool publicSuffix = suffixes != nullptr
                                ? psl_is_public_suffix(suffixes, domain.c_str()) != 0
                                : domain.find('.') == std::string::npos;
  if (publicSuffix) return domain == origin.host;
  cookie.domain = domain;
  cookie.hostOnly = false;
  return true;
}

}  // namespace

bool ParseCookieDate(std::string_view text, std::int64_t& seconds) {
  bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsDateDelimiter(text[i])) ++i;
    std::size_t end = i;
    while (end < text.size() && !IsDateDelimiter(text[end])) ++end;
    const std::string_view token = text.substr(i, end - i);
    i = end;
    if (token.empty()) continue;
    int h = 0, m = 0, s = 0, value = 0;
    std::string_view dayText = token;
    std::string_view yearText = token;
    if (!haveTime && ParseTime(token, h, m, s)) {
      haveTime = true;
      hour = h, minute = m, second = s;
    } else if (!haveDay && LeadingNumber(dayText, 1, 2, value)) {
      haveDay = true;
      day = value;
    } else if (!haveMonth && MonthOf(token) > 0) {
      haveMonth = true;
      month = MonthOf(token);
    } else if (!haveYear && LeadingNumber(yearText, 2, 4, value)) {
      haveYear = true;
      year = value;
    }
  }
  if (!(haveTime && haveDay && haveMonth && haveYear)) return false;
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (year < 1601 || hour > 23 || minute > 59 || second > 59) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

bool CookieOriginOf(std::string_view address, CookieOrigin& origin) {
  const std::string copy(address);
  char host[kSplitHostSize];
  char path[kSplitPathSize];
  std::uint16_t port = 0;
  if (!StartsWithNoCase(copy, "http://") && !StartsWithNoCase(copy, "https://")) return false;
  if (!SplitUrl(copy.c_str(), host, path, port)) return false;
  origin.host = LowerCopy(host);
  const std::string_view wirePath(path);
  origin.path = std::string(wirePath.substr(0, wirePath.find('?')));
  origin.secure = StartsWithNoCase(copy, "https://");
  return true;
}

CookieStore CookieJar::Store(const CookieOrigin& origin, std::string_view setCookie,
                             std::int64_t now) {
  const std::size_t semicolon = setCookie.find(';');
  const std::string_view pair = setCookie.substr(0, semicolon);
  const std::size_t equals = pair.find('=');
  if (equals == std::string_view::npos) return CookieStore::Refused;
  Cookie cookie;
  cookie.name = TrimHeaderBlanks(pair.substr(0, equals));
  cookie.value = TrimHeaderBlanks(pair.substr(equals + 1));
  if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieBytes ||
      HasControlBytes(cookie.name) || HasControlBytes(cookie.value)) {
    return CookieStore::Refused;
  }
  std::string domain;
  std::string path;
  ReadAttributes(
      semicolon == std::string_view::npos ? std::string_view{} : setCookie.substr(semicolon + 1),
      now, cookie, domain, path);
  if (cookie.secure && !origin.secure) return CookieStore::Refused;
  if (!PlaceCookie(origin, domain, cookie)) return CookieStore::Refused;
  cookie.path = path.starts_with('/') ? path : DefaultPath(origin.path);

  std::lock_guard lock(m_mutex);
  RemoveExpired(now);
  const auto same = std::find_if(m_cookies.begin(), m_cookies.end(), [&](const Cookie& c) {
    return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
  });
  if (cookie.persistent && cookie.expires <= now) {
    if (same != m_cookies.end()) m_cookies.erase(same);
    return CookieStore::Removed;
  }
  if (same != m_cookies.end()) {
    cookie.created = same->created;
    *same = std::move(cookie);
    return CookieStore::Stored;
  }
  cookie.created = m_nextCreated++;
  MakeRoom(cookie.domain);
  m_cookies.push_back(std::move(cookie));
  return CookieStore::Stored;
}

int CookieJar::StoreFromHead(const CookieOrigin& origin, std::string_view head, std::int64_t now) {
  int stored = 0;
  while (!head.empty()) {
    const std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view{} : head.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!StartsWithNoCase(line, kSetCookie)) continue;
    if (Store(origin, TrimHeaderBlanks(line.substr(kSetCookie.size())), now) == CookieStore::Stored)
      ++stored;
  }
  return stored;
}

std::string CookieJar::CookieLine(const CookieOrigin& origin, std::int64_t now,
                                  std::size_t maxBytes) const {
  std::vector<const Cookie*> chosen;
  std::lock_guard lock(m_mutex);
  for (const Cookie& c : m_cookies) {
    if (c.persistent && c.expires <= now) continue;
    if (c.secure && !origin.secure) continue;
    if (c.hostOnly ? origin.host != c.domain : !DomainMatches(origin.host, c.domain)) continue;
    if (!PathMatches(origin.path, c.path)) continue;
    chosen.push_back(&c);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
    return a->created < b->created;
  });
  std::string line;
  for (const Cookie* c : chosen) {
    const std::size_t grow = (line.empty() ? 0 : 2) + c->name.size() + 1 + c->value.size();
    if (line.size() + grow > maxBytes) continue;
    if (!line.empty()) line.append("; ");
    line.append(c->name).append("=").append(c->value);
  }
  return line;
}

std::vector<Cookie> CookieJar::Cookies(std::int64_t now) const {
  std::lock_guard lock(m_mutex);
  std::vector<Cookie> alive;
  for (const Cookie& c : m_cookies) {
    if (!c.persistent || c.expires > now) alive.push_back(c);
  }
  return alive;
}

void CookieJar::Clear() {
  std::lock_guard lock(m_mutex);
  m_cookies.clear();
}

void CookieJar::RemoveExpired(std::int64_t now) {
  std::erase_if(m_cookies, [now](const Cookie& c) { return c.persistent && c.expires <= now; });
}

// Drops the oldest cookie of `domain` when it has its share, and the oldest of all when the
// jar is full, before a new one is added.
void CookieJar::MakeRoom(const std::string& domain) {
  const auto oldest = [this](auto keep) {
    auto found = m_cookies.end();
    for (auto it = m_cookies.begin(); it != m_cookies.end(); ++it) {
      if (keep(*it) && (found == m_cookies.end() || it->created < found->created)) found = it;
    }
    if (found != m_cookies.end()) m_cookies.erase(found);
  };
  const auto ofDomain = [&](const Cookie& c) { return c.domain == domain; };
  if (static_cast<std::size_t>(std::count_if(m_cookies.begin(), m_cookies.end(), ofDomain)) >=
      kMaxCookiesPerDomain) {
    oldest(ofDomain);
  }
  if (m_cookies.size() >= kMaxCookies) oldest([](const Cookie&) { return true; });
}

}  // namespace quarry
