// The image endpoint's answer: cleaning the lenient text into strict JSON, decoding the
// obfuscated addresses, and picking each item's picture. The JSON library's parser and
// destructor walk nested values without recursion, so deeply nested garbage costs memory in
// proportion to its size and nothing more; the answer's size is capped before parsing.
#include "harvest/live_image_results.h"

#include <array>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "harvest/link_extraction.h"
#include "harvest/live_search.h"

namespace quarry {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The service's substitution of lower-case letters and digits, as encoded -> plain pairs.
constexpr std::string_view kObjUrlMap =
    "wa"
    "kb"
    "vc"
    "1d"
    "je"
    "uf"
    "2g"
    "ih"
    "ti"
    "3j"
    "hk"
    "sl"
    "4m"
    "gn"
    "5o"
    "rp"
    "qq"
    "6r"
    "fs"
    "pt"
    "7u"
    "ev"
    "ow"
    "81"
    "d2"
    "n3"
    "94"
    "c5"
    "m6"
    "07"
    "b8"
    "l9"
    "a0";

struct ObjUrlToken {
  std::string_view encoded;
  char plain;
};
constexpr std::array<ObjUrlToken, 3> kObjUrlTokens = {
    {{"_z2C$q", ':'}, {"_z&e3B", '.'}, {"AzdH3F", '/'}}};

constexpr std::array<char, 256> BuildObjUrlTable() {
  std::array<char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<char>(c);
  for (std::size_t i = 0; i + 1 < kObjUrlMap.size(); i += 2) {
    table[static_cast<unsigned char>(kObjUrlMap[i])] = kObjUrlMap[i + 1];
  }
  return table;
}
constexpr std::array<char, 256> kObjUrlTable = BuildObjUrlTable();

bool IsJsonBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The value of the four hex digits at `at`, or -1.
int HexQuad(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    if (!IsHex(text[i])) return -1;
    const char c = text[i];
    value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

bool IsContinuation(std::string_view text, std::size_t at, unsigned char low = 0x80,
                    unsigned char high = 0xBF) {
  if (at >= text.size()) return false;
  const auto c = static_cast<unsigned char>(text[at]);
  return c >= low && c <= high;
}

// Length of the well-formed UTF-8 sequence at `at` (lead byte >= 0x80), 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead >= 0xC2 && lead <= 0xDF) return IsContinuation(text, at + 1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    return IsContinuation(text, at + 1, low, high) && IsContinuation(text, at + 2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    return IsContinuation(text, at + 1, low, high) && IsContinuation(text, at + 2) &&
                   IsContinuation(text, at + 3)
               ? 4
               : 0;
  }
  return 0;
}

// Copies the escape at text[at] == '\\' into `out` in strict form; returns the bytes consumed.
std::size_t CleanEscape(std::string_view text, std::size_t at, std::string& out) {
  if (at + 1 >= text.size()) return 1;  // a lone backslash at the end: dropped
  const char e = text[at + 1];
  if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
      e == 't') {
    out.append(text.substr(at, 2));
    return 2;
  }
  if (e != 'u') return 1;  // a needless escape (\' \x ...): drop the backslash, keep the byte
  const int unit = HexQuad(text, at + 2);
  if (unit < 0) return 1;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    // A high surrogate must be followed by a low one, or the pair is no character.
    const int low = text.substr(at + 6, 2) == "\\u" ? HexQuad(text, at + 8) : -1;
    if (low >= 0xDC00 && low <= 0xDFFF) {
      out.append(text.substr(at, 12));
      return 12;
    }
    out.append("\\uFFFD");
    return 6;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    out.append("\\uFFFD");
    return 6;
  }
  out.append(text.substr(at, 6));
  return 6;
}

const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

std::string_view StringMember(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  if (value == nullptr || !value->is_string()) return {};
  return value->get_ref<const std::string&>();
}

// A count given as a JSON number or a string of digits; -1 when absent or not a count.
std::int64_t CountMember(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  if (value == nullptr) return -1;
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  if (value->is_number_unsigned()) {
    const auto n = value->get<std::uint64_t>();
    return n > static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int64_t>(n);
  }
  if (value->is_number_integer()) {
    const auto n = value->get<std::int64_t>();
    return n < 0 ? -1 : (n > kMax ? kMax : n);
  }
  if (value->is_number_float()) {
    const double n = value->get<double>();
    return n >= 0 && n < static_cast<double>(kMax) ? static_cast<std::int64_t>(n) : -1;
  }
  if (value->is_string()) {
    const std::string& text = value->get_ref<const std::string&>();
    if (text.empty() || text.size() > 9) return -1;
    std::int64_t n = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    return n;
  }
  return -1;
}

bool IsNonZeroFlag(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  if (value == nullptr) return false;
  if (value->is_number()) return value->get<double>() != 0;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_string()) {
    const std::string& text = value->get_ref<const std::string&>();
    return !text.empty() && text != "0";
  }
  return false;
}

std::string Trimmed(std::string text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Reads one item that has thumbURL; false when no candidate address is usable.
bool ReadItem(const Json& item, LiveImageItem& out) {
  const Json* replace = Member(item, "replaceUrl");
  const Json* first =
      replace != nullptr && replace->is_array() && !replace->empty() ? &replace->front() : nullptr;
  std::string_view plain;
  std::string_view plainFrom;
  if (first != nullptr) {
    plain = StringMember(*first, "ObjURL");
    if (plain.empty()) plain = StringMember(*first, "ObjUrl");
    plainFrom = StringMember(*first, "FromURL");
    if (plainFrom.empty()) plainFrom = StringMember(*first, "FromUrl");
  }
  const std::string decoded = DecodeObjUrl(StringMember(item, "objURL"));
  const std::string_view middle = StringMember(item, "middleURL");
  if (IsUsableLiveAddress(plain)) {
    out.url = plain;
    out.source = LiveImageSource::ReplaceUrl;
  } else if (IsUsableLiveAddress(decoded)) {
    out.url = decoded;
    out.source = LiveImageSource::ObjUrl;
  } else if (IsUsableLiveAddress(middle)) {
    out.url = middle;
    out.source = LiveImageSource::MiddleUrl;
  } else {
    return false;
  }
  if (IsUsableLiveAddress(plainFrom)) {
    out.pageUrl = plainFrom;
  } else {
    std::string from = DecodeObjUrl(StringMember(item, "fromURL"));
    if (IsUsableLiveAddress(from)) out.pageUrl = std::move(from);
  }
  out.title = Trimmed(StripTags(StringMember(item, "fromPageTitle"), "<", ">"));
  out.type = StringMember(item, "type");
  const std::int64_t width = CountMember(item, "width");
  const std::int64_t height = CountMember(item, "height");
  out.width = width < 0 ? 0 : static_cast<int>(width);
  out.height = height < 0 ? 0 : static_cast<int>(height);
  return true;
}

LiveImagePage Malformed(std::string problem) {
  LiveImagePage page;
  page.status = LiveImagePageStatus::Malformed;
  page.problem = std::move(problem);
  return page;
}

LiveImagePage ReadAnswer(std::string_view body) {
  if (body.size() > kMaxLiveImageAnswerBytes) {
    return Malformed("the answer is larger than " + std::to_string(kMaxLiveImageAnswerBytes) +
                     " bytes");
  }
  const std::string cleaned = CleanLenientJson(body);
  if (cleaned.find_first_not_of(" \t\r\n") == std::string::npos) {
    return Malformed("the answer is empty");
  }
  Json doc;
  try {
    doc = Json::parse(cleaned, nullptr, true, true);
  } catch (const Json::parse_error& error) {
    return Malformed("the answer is not JSON (byte " + std::to_string(error.byte) + ")");
  } catch (const Json::exception&) {
    return Malformed("the answer is not JSON (a number out of range)");
  }
  if (!doc.is_object()) return Malformed("the answer is not a JSON object");
  LiveImagePage page;
  page.listNum = CountMember(doc, "listNum");
  if (IsNonZeroFlag(doc, "antiFlag")) {
    page.status = LiveImagePageStatus::Refused;
    const std::string_view message = StringMember(doc, "message");
    page.problem = "the image service refused the request";
    if (!message.empty()) page.problem.append(": ").append(message);
    return page;
  }
  const Json* data = Member(doc, "data");
  if (data == nullptr) return Malformed("the answer has no data list");
  if (!data->is_array()) return Malformed("the answer's data is not a list");
  page.status = LiveImagePageStatus::Ok;
  for (const Json& item : *data) {
    if (StringMember(item, "thumbURL").empty()) continue;  // the trailing {} among them
    ++page.thumbItems;
    LiveImageItem read;
    if (ReadItem(item, read)) {
      page.items.push_back(std::move(read));
    } else {
      ++page.unusableItems;
    }
  }
  return page;
}

}  // namespace

std::string DecodeObjUrl(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool token = false;
    for (const ObjUrlToken& t : kObjUrlTokens) {
      if (text.substr(i, t.encoded.size()) == t.encoded) {
        out.push_back(t.plain);
        i += t.encoded.size();
        token = true;
        break;
      }
    }
    if (!token) out.push_back(kObjUrlTable[static_cast<unsigned char>(text[i++])]);
  }
  return out;
}

std::string CleanLenientJson(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  bool inString = false;
  while (i < text.size()) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (!inString) {
      if (c == ',') {
        std::size_t next = i + 1;
        while (next < text.size() && IsJsonBlank(text[next])) ++next;
        if (next < text.size() && (text[next] == '}' || text[next] == ']')) {
          i = next;  // a trailing comma: the blanks after it go too
          continue;
        }
      }
      inString = c == '"';
      out.push_back(c);
      ++i;
    } else if (c == '"') {
      inString = false;
      out.push_back(c);
      ++i;
    } else if (c == '\\') {
      i += CleanEscape(text, i, out);
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out.append("\\u00");
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
      ++i;
    } else if (byte < 0x80) {
      out.push_back(c);
      ++i;
    } else if (const std::size_t length = Utf8SequenceLength(text, i); length > 0) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out.append(kReplacement);
      ++i;
    }
  }
  return out;
}

LiveImagePage ParseLiveImagePage(std::string_view body) {
  try {
    return ReadAnswer(body);
  } catch (const std::exception& error) {
    // Only running out of memory is left to come here; the caller still gets a result.
    return Malformed(std::string("the answer could not be read: ") + error.what());
  }
}

bool LiveImagePagingGoesOn(const LiveImagePage& page, int pn) {
  if (page.status != LiveImagePageStatus::Ok || page.thumbItems == 0) return false;
  if (pn < 0 || pn >= kLiveImageOffsetCap) return false;
  const int next = pn + kLiveImagePageStep;
  return next < kLiveImageOffsetCap && (page.listNum < 0 || next < page.listNum);
}

}  // namespace quarry
