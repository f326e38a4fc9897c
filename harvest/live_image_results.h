// Live image result pages: the JSON answer of the image service's script endpoint, read into
// the pictures to fetch. The answer is not always strict JSON (it escapes apostrophes as \',
// for one), so it is first cleaned into strict JSON and then parsed with a JSON library.
//
// Shape relied upon: a top-level object with `listNum` (results in all) and `data`, an array
// of items, the last ones possibly empty objects. An item counts when it has `thumbURL`; the
// picture is `replaceUrl[0].ObjURL` (or `ObjUrl`), else the decoded `objURL`, else
// `middleURL`, taking the first that is a usable address. A refusal is an object with a
// non-zero `antiFlag` and no `data`. Anything else is a malformed answer with a reason.
//
// Entry points for the runner: ParseLiveImagePage on each answer body, then
// LiveImagePagingGoesOn to decide whether to ask for the page at pn + kLiveImagePageStep.
// Nothing here throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// Longest answer read; the page download itself stops near 2 MB.
inline constexpr std::size_t kMaxLiveImageAnswerBytes = 8u << 20;

// Where an item's picture address came from.
enum class LiveImageSource { ReplaceUrl, ObjUrl, MiddleUrl };

struct LiveImageItem {
  std::string url;  // the picture to fetch: a usable absolute http(s) address
  LiveImageSource source = LiveImageSource::ReplaceUrl;
  std::string title;    // the page title the picture came from, tags removed (may be empty)
  std::string pageUrl;  // that page's address when the answer gives a usable one, else empty
  std::string type;     // picture format as the service names it ("jpg", "png", ...), may be empty
  int width = 0;        // 0 when absent
  int height = 0;
};

enum class LiveImagePageStatus {
  Ok,        // an answer with `data` (possibly without a single item)
  Refused,   // the service refuses the client (antiFlag): refresh cookies, pause, retry
  Malformed  // not JSON even after cleaning, or not the shape above; `problem` says how
};

struct LiveImagePage {
  LiveImagePageStatus status = LiveImagePageStatus::Malformed;
  std::vector<LiveImageItem> items;  // in the answer's order
  int thumbItems = 0;                // items with thumbURL, kept or not
  int unusableItems = 0;             // items with thumbURL but no usable picture address
  std::int64_t listNum = -1;         // results in all; -1 when the answer has none
  std::string problem;               // Refused/Malformed: a short English reason for the log
};

// Decodes an obfuscated `objURL`/`fromURL`: the tokens "_z2C$q" ":", "_z&e3B" ".", "AzdH3F"
// "/" first, then the service's one-to-one map of lower-case letters and digits; every other
// byte is kept. "ippr_z2C$qAzdH3FAzdH3F" decodes to "http://".
std::string DecodeObjUrl(std::string_view text);

// Strict JSON from the service's lenient text: inside strings an escape of a character that
// needs none (\' \x ...) becomes the character, raw control bytes become \u00XX escapes and
// bytes that are not UTF-8 become U+FFFD; outside strings a comma before } or ] is dropped
// and a leading byte-order mark is skipped. Strict JSON comes out unchanged.
std::string CleanLenientJson(std::string_view text);

// Reads one answer of the image endpoint.
LiveImagePage ParseLiveImagePage(std::string_view body);

// Whether the page after the one at offset `pn` is worth asking for: the page was Ok, had an
// item with thumbURL, the next offset stays below listNum (when known) and below
// kLiveImageOffsetCap.
bool LiveImagePagingGoesOn(const LiveImagePage& page, int pn);

}  // namespace quarry
