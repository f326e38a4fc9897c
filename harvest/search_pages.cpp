// Building the search addresses from the hosts and a task's keyword and kind.
#include "harvest/search_pages.h"

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

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// The file-type part of a document search; images and unknown kinds have none.
std::string_view FileTypePrefix(FileKind kind) {
  switch (kind) {
    case FileKind::Word: return "q1=filetype:doc%20";
    case FileKind::Slides: return "q1=filetype:ppt%20";
    case FileKind::Pdf: return "q1=filetype:pdf%20";
    case FileKind::Excel: return "q1=filetype:xls%20";
    default: return {};
  }
}

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
  hosts->webHost = web;
  hosts->imageHost = image;
  return true;
}

std::string BuildImageLinkPattern(std::string_view imageHost) {
  std::string pattern = "http://";
  pattern += imageHost;
  pattern +=
      "/i\\?z=0&cl=2&ct=\\d+&sn=&lm=-1&cm=1&sc=0&bu=&rn=21&tn=baiduimage&word=[^\\s]*&pn=\\d+"
      "|http://[^\\s]*.jpg|http://[^\\s]*.gif|http://[^\\s]*.bmp";
  return pattern;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

std::string ResultPageUrl(std::string_view base, FileKind kind, std::string_view keyword,
                          std::int32_t index) {
  std::string url(base);
  if (kind == FileKind::Image) {
    url += PercentEncode(keyword);
    if (index == 0) return url + "&z=0";
    return url + "&rn=21&pn=" + std::to_string(kImagePageStep * index) + "&ln=2000";
  }
  url += FileTypePrefix(kind);
  url += PercentEncode(keyword);
  if (index == 0) return url;
  return url + "&pn=" + std::to_string(kDocumentPageStep * index);
}

}  // namespace quarry
