// A cookie jar for the live mode's conversations with the search service: it keeps what the
// service's Set-Cookie answers hand out and composes the Cookie line of later requests, with
// the rules browsers follow for the attributes that matter here (name and value, Domain, Path,
// Expires and Max-Age, Secure). A Domain that is a public suffix (the system's public-suffix
// list, as libpsl reads it) is only accepted as the request's own host, so that a cookie can
// never cover every site under "com" or "com.cn".
//
// One jar serves one task; its workers may share it, so every operation takes the jar's lock.
// Times are seconds since the Unix epoch, passed in so that tests control the clock.
//
// Entry points for the runner: CookieOriginOf(address) once per request; StoreFromHead on
// each response head (also on redirects, before following them); CookieLine for the next
// request's "Cookie:" header; Clear when the service refuses and the cookies are fetched anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// Bounds that keep a misbehaving server from filling memory.
inline constexpr std::size_t kMaxCookieBytes = 4096;  // name and value together
inline constexpr std::size_t kMaxCookies = 300;
inline constexpr std::size_t kMaxCookiesPerDomain = 50;

// The request a cookie came with or goes out with.
struct CookieOrigin {
  std::string host;     // lower case, without port
  std::string path;     // the request path without query, starting with "/"
  bool secure = false;  // https
};

struct Cookie {
  std::string name;
  std::string value;
  std::string domain;  // lower case, without a leading dot
  std::string path;
  bool hostOnly = true;     // no Domain attribute: only for exactly `domain`
  bool secure = false;      // only over https
  bool persistent = false;  // has an expiry; a session cookie lives as long as the jar
  std::int64_t expires = std::numeric_limits<std::int64_t>::max();
  std::uint64_t created = 0;  // order of arrival, kept when a cookie is replaced
};

enum class CookieStore {
  Stored,   // added or replaced
  Removed,  // it came already expired: an existing cookie of that name was deleted
  Refused   // malformed, too large, a foreign domain, or Secure from a plain origin
};

// The origin of an absolute http:// or https:// address; false when it does not split.
bool CookieOriginOf(std::string_view address, CookieOrigin& origin);

// Seconds since the epoch of a cookie date ("Wed, 21 Oct 2026 07:28:00 GMT" and the looser
// forms servers write); false when it names no valid date.
bool ParseCookieDate(std::string_view text, std::int64_t& seconds);

class CookieJar {
public:
  // Reads one Set-Cookie value received for a request to `origin` at time `now`.
  CookieStore Store(const CookieOrigin& origin, std::string_view setCookie, std::int64_t now);

  // Stores every "Set-Cookie:" line (any letter case) of a response head; returns how many
  // were stored.
  int StoreFromHead(const CookieOrigin& origin, std::string_view head, std::int64_t now);

  // The value of the Cookie header for a request to `origin` ("a=1; b=2"), empty when no
  // cookie applies: longer paths first, then older cookies first. Cookies that would make the
  // value longer than `maxBytes` are left out, so the line fits the request buffer.
  std::string CookieLine(const CookieOrigin& origin, std::int64_t now,
                         std::size_t maxBytes = std::numeric_limits<std::size_t>::max()) const;

  // The cookies alive at `now`, in the order of arrival.
  std::vector<Cookie> Cookies(std::int64_t now) const;

  void Clear();

private:
  void RemoveExpired(std::int64_t now);
  void MakeRoom(const std::string& domain);

  mutable std::mutex m_mutex;
  std::vector<Cookie> m_cookies;
  std::uint64_t m_nextCreated = 0;
};

}  // namespace quarry
