// The search engine's addresses of the classic mode, all built here from the configured
// web-search and image-search hosts: the web-search base (documents), the image-search base
// (pictures), the image link pattern that harvests picture links and further image result
// pages, and the result-page addresses a task is seeded with. A host may carry a port
// ("127.0.0.1:8080"), which is how tests and local stand-ins take the service's place.
//
// The keyword is percent-encoded (every byte but letters, digits and "-._~"), so the service
// receives exactly the keyword: a raw "#" would end the address there, a raw "&" would start a
// field of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "harvest/file_kind.h"

namespace quarry {

inline constexpr const char* kDefaultWebHost = "www.baidu.com";
inline constexpr const char* kDefaultImageHost = "image.baidu.com";
inline constexpr std::size_t kMaxSearchHostLength = 127;  // what an address split keeps of a host
// The result offset from one result page to the next: an image page shows 18 pictures (21
// are asked for), a web page 10 results.
inline constexpr std::int32_t kImagePageStep = 18;
inline constexpr std::int32_t kDocumentPageStep = 10;

struct SearchHosts {
  std::string webSearchBase;     // "http://" web host "/s?"
  std::string imageSearchBase;   // "http://" image host "/i?tn=baiduimage&...&word="
  std::string imageLinkPattern;  // further image result pages | .jpg | .gif | .bmp links
  std::string webHost;           // the hosts themselves, for the live mode's addresses
  std::string imageHost;
};

// The three texts for the given hosts; an empty host means the default one. False, with a
// message in `error` and `hosts` untouched, for a host over 127 bytes or one holding a byte
// that cannot stand in an address's host part (blank, control byte, '/', '?', '#', '\\', '@').
bool MakeSearchHosts(const std::string& webHost, const std::string& imageHost, SearchHosts* hosts,
                     std::string* error);

// The image link pattern for `imageHost`: a further result page of the image search, or an
// http:// address ending in jpg, gif or bmp. The host's dots stay unescaped, so each matches
// any byte but a line feed, which keeps the pattern the service's pages have always been
// matched with.
std::string BuildImageLinkPattern(std::string_view imageHost);

// `text` with every byte outside A-Z a-z 0-9 - . _ ~ written as %XX (upper-case hex).
std::string PercentEncode(std::string_view text);

// The address of result page `index` of the search for `keyword` (raw bytes) and `kind`, on
// `base`: the image-search base for images, the web-search base for the other kinds. Page 0 is
// the first page, asked for without an offset; page i starts at result i x the page step.
std::string ResultPageUrl(std::string_view base, FileKind kind, std::string_view keyword,
                          std::int32_t index);

}  // namespace quarry
