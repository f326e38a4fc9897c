// Live document result pages and the service's link redirector.
//
// A result page lists each result as a div with the class c-container (or result) inside the
// element with id content_left. Ads stand among them: a block marked as promoted (an attribute
// data-tuiguang, a class that starts with "ec_" or "ec-", or a label reading "广告") or one
// whose link is a click-through address is skipped whole, since any request to it counts as a
// click; so is a link to another page of the service itself (a related search), which is no
// result. The div's `mu`
// attribute, when present, is the document's real address; its title is the text of the first h3 >
// a, whose href is usually the service's redirector. Only these three marks are relied upon: the
// service hashes and changes the names of everything else. The text "下一页" (next page) marks a
// further page, "未找到相关结果" a search without results, and a page titled "百度安全验证" a
// refusal.
//
// The redirector answers either a redirect whose Location is the address, or a small page
// that sends the browser on with <meta http-equiv="refresh" content="0;URL='...'"> or
// window.location.replace("...").
//
// Entry points for the runner:
//   - each redirect of a result-page request: IsLiveRefusalLocation (live_search.h) on its
//     Location before following it;
//   - the final answer: ParseLiveWebAnswer(page address, status, Location, body);
//   - each result with needsResolving: fetch the redirector without following redirects and
//     without reading a non-HTML body, then ParseRedirectorAnswer.
// Nothing here throws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarry {

inline constexpr std::string_view kLiveNextPageText = "下一页";
inline constexpr std::string_view kLiveNoResultsText = "未找到相关结果";
inline constexpr std::string_view kLiveVerificationTitle = "百度安全验证";

struct LiveWebResult {
  std::string url;              // a usable absolute address: the mu, else the title link
  std::string title;            // text of h3 > a; empty when the result has none
  bool needsResolving = false;  // url is the redirector: ParseRedirectorAnswer gives the address
};

enum class LiveWebPageStatus {
  Ok,           // result blocks were found (`results` may still be empty, see unusableResults)
  NoResults,    // the service found nothing for the query
  Refused,      // the service asks for a verification: refresh cookies, pause, retry
  Unrecognised  // none of the known marks: the layout changed or another page came; `problem`
};

struct LiveWebPage {
  LiveWebPageStatus status = LiveWebPageStatus::Unrecognised;
  std::vector<LiveWebResult> results;  // in page order
  int unusableResults = 0;             // result blocks with neither mu nor a usable link
  int adsSkipped = 0;                  // promoted blocks and click-through links, never asked for
  int serviceLinksSkipped = 0;         // links to the service's own search pages
  bool hasNextPage = false;            // "下一页" stands on the page outside the result list
  std::string problem;                 // Refused/Unrecognised: a short English reason for the log
};

// Reads a result page (the body of a 200 answer) fetched from `pageUrl`, against which
// relative links are resolved.
LiveWebPage ParseLiveWebPage(std::string_view pageUrl, std::string_view html);

// Reads the final answer to a result-page request: a redirect to the verification host is a
// refusal, any other redirect or status than 200 is Unrecognised, and a 200 answer is read by
// ParseLiveWebPage.
LiveWebPage ParseLiveWebAnswer(std::string_view pageUrl, int status, std::string_view location,
                               std::string_view body);

enum class LiveRedirectStatus {
  Resolved,     // `url` is the address the redirector names
  Refused,      // sent to the verification page instead
  Unrecognised  // no address found; `problem` says what came
};

struct LiveRedirect {
  LiveRedirectStatus status = LiveRedirectStatus::Unrecognised;
  std::string url;      // Resolved: a usable absolute address
  std::string problem;  // Refused/Unrecognised: a short English reason for the log
};

// Reads the redirector's answer to a request for `redirectorUrl`: `status`, its Location
// header (empty when none) and, for a 200 answer, its body.
LiveRedirect ParseRedirectorAnswer(std::string_view redirectorUrl, int status,
                                   std::string_view location, std::string_view body);

}  // namespace quarry
