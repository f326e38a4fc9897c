// The addresses and request lines of live mode, which talks to the search service as it runs
// today rather than as the classic result pages describe it: https only, the keyword
// percent-encoded, image results fetched as JSON from a script endpoint in pages of 30, and
// document results from the web search with a file-type query in pages of 10.
//
// Everything here is a pure function of its arguments, so the runner can build a task's
// result-page addresses one at a time as paging goes on. The host arguments are the task's
// web-search and image-search hosts (a host may carry ":port", as the tests use it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/file_kind.h"
#include "harvest/search_pages.h"  // PercentEncode

namespace quarry {

// Results asked for per page and the step of the `pn` offset.
inline constexpr int kLiveImagePageStep = 30;
inline constexpr int kLiveWebPageStep = 10;
// Past this offset the image service serves the same pictures again: paging stops below it.
inline constexpr int kLiveImageOffsetCap = 1000;

// What live requests present themselves as: the service expects a desktop browser (a mobile
// one gets another page layout) that reads Chinese.
inline constexpr const char* kLiveUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";
inline constexpr const char* kLiveAcceptLanguage = "zh-CN,zh;q=0.9";

// Host of the service's verification page: a redirect there is a refusal, never followed.
inline constexpr std::string_view kLiveRefusalHost = "wappass.baidu.com";

// The `pn` offset of result page `index` (0 the first) of a task of `kind`; -1 for a negative
// index, an unknown kind, or an image page at or past kLiveImageOffsetCap.
int LiveResultPageOffset(FileKind kind, int index);

// The result-page address at offset `pn` for `keyword` (raw bytes, UTF-8):
//   images     https://IMAGEHOST/search/acjson?tn=resultjson_com&ipn=rj&ie=utf-8&oe=utf-8
//              &word=K&pn=P&rn=30
//   documents  https://WEBHOST/s?wd=K%20filetype%3Apdf&pn=P&rn=10&ie=utf-8 (doc, ppt, xls alike)
// Empty for an unknown kind, a negative offset, an empty host, or an address longer than the
// queue's 1023 bytes (a keyword of up to 257 bytes always fits with a host of up to 127).
std::string LiveResultPageUrl(FileKind kind, std::string_view webHost, std::string_view imageHost,
                              std::string_view keyword, int pn);

// The address whose answer hands out the session cookies for `kind`: https://HOST/ of the
// image host for images, of the web host otherwise. Empty for an unknown kind or empty host.
std::string LiveCookieUrl(FileKind kind, std::string_view webHost, std::string_view imageHost);

// Header lines ("Name: value", without CRLF) that a live result-page request of `kind` adds
// to Host and Connection: the browser identity and language, and for the image endpoint the
// Referer (https://IMAGEHOST/) and X-Requested-With that a script call carries. Cookies are
// not among them: they come from the task's cookie jar.
std::vector<std::string> LiveResultPageHeaders(FileKind kind, std::string_view imageHost);

// True for an absolute http:// or https:// address (scheme in any case) with a non-empty host,
// no blank or control byte, at most 1023 bytes: one the queue and the transfer can take.
bool IsUsableLiveAddress(std::string_view address);

// True when `address` is the service's link redirector: http(s)://HOST/link?url=... on any
// host (the tests run the service on 127.0.0.1).
bool IsLiveRedirectorLink(std::string_view address);

// True when `address` is one of the service's ad click-through addresses ("/baidu.php?url=",
// "/aclick?"): asking for it counts as a click on an ad, so it is never requested.
bool IsLiveClickThroughLink(std::string_view address);

// True when `address` is another page of the service that serves `pageUrl`, and no result:
// its front page, a search ("/s?...", "/s/..."), on the same host (the port and case aside).
bool IsLiveServicePage(std::string_view address, std::string_view pageUrl);

// True when a redirect to `location` sends the client to the verification page (the host is
// kLiveRefusalHost, any scheme and letter case).
bool IsLiveRefusalLocation(std::string_view location);

// `reference` made absolute against the absolute address `base`: an absolute http(s) address
// is returned as it is, "//host/..." takes the base's scheme, "/path" the base's scheme and
// host, "?query" the base's path, any other relative form replaces the last segment of the
// base's path (dot segments are left to the address split). Empty for another scheme
// (javascript:, mailto:, ...) and when the result is not a usable live address.
std::string ResolveLiveAddress(std::string_view base, std::string_view reference);

}  // namespace quarry
