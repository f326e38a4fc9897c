// Building the search addresses from the hosts. The image host goes into the link pattern as
// written: its dots are not escaped, so each matches any byte but a line feed, which costs
// nothing in practice and keeps the pattern the service's pages have always been matched with.
#include "engine/search_hosts.h"

#include <mutex>

#include "harvest/link_extraction.h"

namespace quarry {
namespace {

constexpr const char* kImageQuery = "/i?tn=baiduimage&ct=201326592&cl=2&lm=-1&pv=&z=3&word=";

bool CheckHost(const std::string& host, const char* what, std::string* error) {
  if (host.size() > kMaxSearchHostLength) {
    if (error) *error = std::string(what) + " is longer than 127 bytes";
    return false;
  }
  for (unsigned char c : host) {
    if (c <= ' ' || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '\\' || c == '@') {
      if (error) *error = std::string(what) + " \"" + host + "\" is not a host name";
      return false;
    }
  }
  return true;
}

std::mutex g_lock;
bool g_configured = false;
SearchHosts g_hosts;

}  // namespace

bool MakeSearchHosts(const std::string& webHost, const std::string& imageHost, SearchHosts* hosts,
                     std::string* error) {
  const std::string web = webHost.empty() ? kDefaultWebHost : webHost;
  const std::string image = imageHost.empty() ? kDefaultImageHost : imageHost;
  if (!CheckHost(web, "the web-search host", error) ||
      !CheckHost(image, "the image-search host", error)) {
    return false;
  }
  hosts->webSearchBase = "http://" + web + "/s?";
  hosts->imageSearchBase = "http://" + image + kImageQuery;
  hosts->imageLinkPattern = BuildImageLinkPattern(image);
  return true;
}

bool ConfigureSearchHosts(const std::string& webHost, const std::string& imageHost,
                          std::string* error) {
  SearchHosts hosts;
  if (!MakeSearchHosts(webHost, imageHost, &hosts, error)) return false;
  std::lock_guard<std::mutex> guard(g_lock);
  g_hosts = std::move(hosts);
  g_configured = true;
  return true;
}

SearchHosts ProgramSearchHosts() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (!g_configured) {
    MakeSearchHosts("", "", &g_hosts, nullptr);
    g_configured = true;
  }
  return g_hosts;
}

}  // namespace quarry
