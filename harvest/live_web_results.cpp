// Reading live document result pages and redirector answers from their parsed trees.
#include "harvest/live_web_results.h"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "harvest/live_html.h"
#include "harvest/live_search.h"

namespace quarry {
namespace {

constexpr std::string_view kResultListId = "content_left";
constexpr std::string_view kLocationReplace = "location.replace(";
constexpr std::size_t kShownLocationBytes = 200;  // of a Location quoted in a log line

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string PageTitle(const xmlNode* root) { return HtmlText(HtmlFindElement(root, "title")); }

bool IsVerificationPage(const xmlNode* root) {
  return PageTitle(root).find(kLiveVerificationTitle) != std::string::npos;
}

bool TextContains(const xmlNode* root, std::string_view needle) {
  bool found = false;
  WalkTexts(root, [&](std::string_view text) {
    found = text.find(needle) != std::string_view::npos;
    return !found;
  });
  return found;
}

// True when `needle` stands in a text of the page outside `skipped` (and outside scripts).
bool TextOutsideContains(const xmlNode* root, const xmlNode* skipped, std::string_view needle) {
  bool found = false;
  WalkElements(root, [&](const xmlNode* node) {
    if (node == skipped || HtmlIsElement(node, "script") || HtmlIsElement(node, "style")) {
      return HtmlWalk::Skip;
    }
    found = HtmlOwnText(node).find(needle) != std::string::npos;
    return found ? HtmlWalk::Stop : HtmlWalk::Descend;
  });
  return found;
}

constexpr std::string_view kAdLabel = "广告";

// True for a block the service marks as promoted: an attribute data-tuiguang, a class word that
// starts with "ec_" or "ec-", or an element inside whose own text is the ad label.
bool IsPromotedBlock(const xmlNode* block) {
  bool promoted = false;
  WalkElements(block, [&](const xmlNode* node) {
    const std::string classes = HtmlAttribute(node, "class");
    promoted = xmlHasProp(const_cast<xmlNode*>(node),
                          reinterpret_cast<const xmlChar*>("data-tuiguang")) != nullptr ||
               classes.starts_with("ec_") || classes.starts_with("ec-") ||
               classes.find(" ec_") != std::string::npos ||
               classes.find(" ec-") != std::string::npos ||
               TrimBlanks(HtmlOwnText(node)) == kAdLabel;
    return promoted ? HtmlWalk::Stop : HtmlWalk::Descend;
  });
  return promoted;
}

bool IsResultBlock(const xmlNode* node) {
  return HtmlIsElement(node, "div") &&
         (HtmlHasClass(node, "c-container") || HtmlHasClass(node, "result"));
}

// The first a that is a direct child of an h3 inside `block`, or null.
const xmlNode* TitleLink(const xmlNode* block) {
  const xmlNode* link = nullptr;
  WalkElements(block, [&](const xmlNode* node) {
    if (!HtmlIsElement(node, "h3")) return HtmlWalk::Descend;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
      if (HtmlIsElement(child, "a")) {
        link = child;
        return HtmlWalk::Stop;
      }
    }
    return HtmlWalk::Skip;
  });
  return link;
}

// Reads one result block into `page`.
void ReadResult(std::string_view pageUrl, const xmlNode* block, LiveWebPage& page) {
  LiveWebResult result;
  const xmlNode* link = TitleLink(block);
  const std::string mu = HtmlAttribute(block, "mu");
  const std::string direct = mu.empty() ? std::string{} : ResolveLiveAddress(pageUrl, mu);
  const std::string href = HtmlAttribute(link, "href");
  const std::string linked = href.empty() ? std::string{} : ResolveLiveAddress(pageUrl, href);
  if (IsLiveClickThroughLink(direct) || IsLiveClickThroughLink(linked)) {
    ++page.adsSkipped;
    return;
  }
  if (!direct.empty()) {
    result.url = direct;
  } else if (!linked.empty()) {
    result.url = linked;
    result.needsResolving = IsLiveRedirectorLink(linked);
  } else {
    ++page.unusableResults;
    return;
  }
  if (IsLiveServicePage(result.url, pageUrl)) {
    ++page.serviceLinksSkipped;
    return;
  }
  if (link != nullptr) result.title = HtmlText(link);
  page.results.push_back(std::move(result));
}

LiveWebPage ReadPage(std::string_view pageUrl, std::string_view html) {
  LiveWebPage page;
  const HtmlDocument document(html);
  const xmlNode* root = document.Root();
  if (root == nullptr) {
    page.problem = document.Problem();
    return page;
  }
  if (IsVerificationPage(root)) {
    page.status = LiveWebPageStatus::Refused;
    page.problem = "the web search answered with its verification page";
    return page;
  }
  const xmlNode* list = HtmlFindById(root, kResultListId);
  int blocks = 0;
  WalkElements(list, [&](const xmlNode* node) {
    if (node == list || !IsResultBlock(node)) return HtmlWalk::Descend;
    ++blocks;
    if (IsPromotedBlock(node)) {
      ++page.adsSkipped;
    } else {
      ReadResult(pageUrl, node, page);
    }
    return HtmlWalk::Skip;  // blocks nested in a block belong to it
  });
  page.hasNextPage = TextOutsideContains(root, list, kLiveNextPageText);
  if (blocks > 0) {
    page.status = LiveWebPageStatus::Ok;
  } else if (TextContains(root, kLiveNoResultsText)) {
    page.status = LiveWebPageStatus::NoResults;
  } else {
    page.problem = list == nullptr ? "the page has no result list (#content_left)"
                                   : "the result list holds no result blocks (div.c-container)";
  }
  return page;
}

// The address in a refresh instruction such as "0;URL='http://...'"; empty when none.
std::string_view RefreshAddress(std::string_view content) {
  std::size_t at = content.find_first_of(";,");
  if (at == std::string_view::npos) return {};
  content = TrimBlanks(content.substr(at + 1));
  if (content.size() >= 3 && EqualsNoCase(content.substr(0, 3), "url")) {
    std::string_view rest = TrimBlanks(content.substr(3));
    if (!rest.starts_with('=')) return {};
    content = TrimBlanks(rest.substr(1));
  }
  if (!content.empty() && (content.front() == '\'' || content.front() == '"')) {
    const char quote = content.front();
    content.remove_prefix(1);
    at = content.find(quote);
    if (at != std::string_view::npos) content = content.substr(0, at);
  }
  return TrimBlanks(content);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;  // half a pair is no character
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The string literal that opens `text` (after blanks), its escapes undone; empty when there
// is no complete literal.
std::string ScriptString(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || (text.front() != '"' && text.front() != '\'' && text.front() != '`')) {
    return {};
  }
  const char quote = text.front();
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == quote) return out;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i >= text.size()) break;
    const char e = text[i];
    const std::size_t digits = e == 'x' ? 2 : (e == 'u' ? 4 : 0);
    if (digits == 0) {
      out.push_back(e == 'n' || e == 'r' || e == 't' ? ' ' : e);  // \/ \\ \' \" and the like
      continue;
    }
    std::uint32_t code = 0;
    bool ok = i + digits < text.size();
    for (std::size_t k = 1; ok && k <= digits; ++k) {
      const int v = HexValue(text[i + k]);
      ok = v >= 0;
      code = code * 16 + static_cast<std::uint32_t>(v < 0 ? 0 : v);
    }
    if (!ok) {
      out.push_back(e);
      continue;
    }
    AppendUtf8(out, code);
    i += digits;
  }
  return {};
}

LiveRedirect RedirectFrom(std::string_view base, std::string_view address, const char* what) {
  LiveRedirect redirect;
  redirect.url = ResolveLiveAddress(base, address);
  if (redirect.url.empty()) {
    redirect.problem = std::string(what) + " names no usable address";
  } else {
    redirect.status = LiveRedirectStatus::Resolved;
  }
  return redirect;
}

LiveRedirect ReadRedirectorPage(std::string_view redirectorUrl, std::string_view body) {
  LiveRedirect redirect;
  const HtmlDocument document(body);
  const xmlNode* root = document.Root();
  if (root == nullptr) {
    redirect.problem = document.Problem();
    return redirect;
  }
  if (IsVerificationPage(root)) {
    redirect.status = LiveRedirectStatus::Refused;
    redirect.problem = "the redirector answered with the verification page";
    return redirect;
  }
  std::string refresh;
  std::string scripted;
  WalkElements(root, [&](const xmlNode* node) {
    if (HtmlIsElement(node, "meta") && refresh.empty() &&
        EqualsNoCase(TrimBlanks(HtmlAttribute(node, "http-equiv")), "refresh")) {
      refresh = RefreshAddress(HtmlAttribute(node, "content"));
    }
    if (HtmlIsElement(node, "script") && scripted.empty()) {
      const std::string code = HtmlOwnText(node);
      const std::size_t at = code.find(kLocationReplace);
      if (at != std::string::npos) {
        scripted = ScriptString(std::string_view(code).substr(at + kLocationReplace.size()));
      }
    }
    return HtmlWalk::Descend;
  });
  if (!refresh.empty()) return RedirectFrom(redirectorUrl, refresh, "the refresh instruction");
  if (!scripted.empty()) return RedirectFrom(redirectorUrl, scripted, "the script");
  redirect.problem = "the redirector's page names no address";
  return redirect;
}

LiveRedirect ReadRedirectorAnswer(std::string_view redirectorUrl, int status,
                                  std::string_view location, std::string_view body) {
  if (IsRedirectStatus(status)) {
    LiveRedirect redirect;
    if (TrimBlanks(location).empty()) {
      redirect.problem = "the redirector answered " + std::to_string(status) + " without Location";
      return redirect;
    }
    if (IsLiveRefusalLocation(TrimBlanks(location))) {
      redirect.status = LiveRedirectStatus::Refused;
      redirect.problem = "the redirector sent the request to the verification page";
      return redirect;
    }
    return RedirectFrom(redirectorUrl, location, "the redirect");
  }
  if (status == 200) return ReadRedirectorPage(redirectorUrl, body);
  LiveRedirect redirect;
  redirect.problem = "the redirector answered status " + std::to_string(status);
  return redirect;
}

}  // namespace

LiveWebPage ParseLiveWebPage(std::string_view pageUrl, std::string_view html) {
  try {
    return ReadPage(pageUrl, html);
  } catch (const std::exception& error) {  // only memory exhaustion can come here
    LiveWebPage page;
    page.problem = std::string("the page could not be read: ") + error.what();
    return page;
  }
}

LiveWebPage ParseLiveWebAnswer(std::string_view pageUrl, int status, std::string_view location,
                               std::string_view body) {
  if (IsRedirectStatus(status) && IsLiveRefusalLocation(TrimBlanks(location))) {
    LiveWebPage page;
    page.status = LiveWebPageStatus::Refused;
    page.problem = "the web search redirected the request to its verification page";
    return page;
  }
  if (status != 200) {
    LiveWebPage page;
    page.problem = "the web search answered status " + std::to_string(status);
    if (IsRedirectStatus(status)) {
      page.problem.append(" to ").append(TrimBlanks(location).substr(0, kShownLocationBytes));
    }
    return page;
  }
  return ParseLiveWebPage(pageUrl, body);
}

LiveRedirect ParseRedirectorAnswer(std::string_view redirectorUrl, int status,
                                   std::string_view location, std::string_view body) {
  try {
    return ReadRedirectorAnswer(redirectorUrl, status, location, body);
  } catch (const std::exception& error) {
    LiveRedirect redirect;
    redirect.problem = std::string("the redirector's answer could not be read: ") + error.what();
    return redirect;
  }
}

}  // namespace quarry
