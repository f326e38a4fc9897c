// The search engine's addresses that every task is seeded from: the web-search base (documents),
// the image-search base (pictures) and the pattern that harvests picture links and further
// image result pages. All three are built once, at start-up, from the configured web-search and
// image-search hosts; a host may carry a port ("127.0.0.1:8080"), which is how tests and local
// mirrors stand in for the real service.
#pragma once

#include <string>

namespace quarry {

inline constexpr const char* kDefaultWebHost = "www.baidu.com";
inline constexpr const char* kDefaultImageHost = "image.baidu.com";
inline constexpr std::size_t kMaxSearchHostLength = 127;  // what an address split keeps of a host

struct SearchHosts {
  std::string webSearchBase;     // "http://" web host "/s?"
  std::string imageSearchBase;   // "http://" image host "/i?tn=baiduimage&...&word="
  std::string imageLinkPattern;  // further image result pages | .jpg | .gif | .bmp links
};

// The three texts for the given hosts; an empty host means the default one. False, with a
// message in `error` and `hosts` untouched, for a host over 127 bytes or one holding a byte
// that cannot stand in an address's host part (blank, control byte, '/', '?', '#', '\\', '@').
bool MakeSearchHosts(const std::string& webHost, const std::string& imageHost, SearchHosts* hosts,
                     std::string* error);

// Sets the program-wide copy. Called once at start-up, before any task runs; false (and the
// copy left as it was) for a host that MakeSearchHosts refuses.
bool ConfigureSearchHosts(const std::string& webHost, const std::string& imageHost,
                          std::string* error);

// The program-wide copy: the configured hosts, or the default ones when none were configured.
SearchHosts ProgramSearchHosts();

}  // namespace quarry
