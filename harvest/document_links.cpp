// Document result pages: the anchor scan, the href and title of one anchor, and tag removal.
//
// The scan walks the page from one "<a " to the first "</a>" after it and resumes its search
// for the next "<a " at that "</a>", so anchors never overlap. An anchor at index 0 ends the
// scan without being read: the search engine's pages never start with a link, and the scan has
// always treated index 0 as "nothing found". Only the exact lower-case spellings `<a `,
// `href="` and `</a>` are recognised; the search engine writes its result links that way.
#include <string>
#include <string_view>
#include <utility>

#include "harvest/link_extraction.h"

namespace quarry {
namespace {

constexpr std::string_view kAnchorOpen = "<a ";
constexpr std::string_view kAnchorClose = "</a>";
constexpr std::string_view kHrefOpen = "href=\"";

void LowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

}  // namespace

std::string_view DocumentExtension(FileKind kind) {
  switch (kind) {
    case FileKind::Word: return ".doc";
    case FileKind::Slides: return ".ppt";
    case FileKind::Pdf: return ".pdf";
    case FileKind::Excel: return ".xls";
    default: return {};
  }
}

std::string StripTags(std::string_view text, std::string_view open, std::string_view close) {
  // With an empty marker there is no tag to find; searching for one would never advance.
  if (open.empty() || close.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t lt = text.find(open, pos);
    if (lt == std::string_view::npos) break;
    out.append(text.substr(pos, lt - pos));
    const std::size_t gt = text.find(close, lt + open.size());
    if (gt == std::string_view::npos) {
      pos = lt;  // an unclosed tag is text: keep it and everything after it
      break;
    }
    pos = gt + close.size();
  }
  if (pos < text.size()) out.append(text.substr(pos));
  return out;
}

bool ParseAnchor(std::string_view extension, std::string_view anchor, std::string& href,
                 std::string& title) {
  const std::size_t i = anchor.find(kHrefOpen);
  if (i == std::string_view::npos || i == 0) return false;
  const std::size_t valueStart = i + kHrefOpen.size();
  const std::size_t q = anchor.find('"', valueStart);
  if (q == std::string_view::npos) return false;
  std::string link(anchor.substr(valueStart, q - valueStart));
  LowerAscii(link);
  // The extension may stand anywhere in the link (".docx", ".doc?id=1"), but a link that
  // begins with it has no name before it.
  const std::size_t at = extension.empty() ? std::string::npos : link.find(extension);
  if (at == std::string::npos || at == 0) return false;
  const std::size_t g = anchor.find('>', q);
  if (g == std::string_view::npos) return false;
  const std::size_t k = anchor.find(kAnchorClose, g);
  if (k == std::string_view::npos) return false;
  title = StripTags(anchor.substr(g + 1, k - g - 1), "<", ">");
  href = std::move(link);
  return true;
}

int ExtractDocumentLinks(LinkSink& sink, int thread, FileKind kind, std::string_view page) {
  const std::string_view extension = DocumentExtension(kind);
  if (extension.empty()) return 0;
  int queued = 0;
  std::string href;
  std::string title;
  std::size_t b = page.find(kAnchorOpen);
  while (b != std::string_view::npos && b > 0 && !sink.IsStopped()) {
    const std::size_t e = page.find(kAnchorClose, b + kAnchorOpen.size());
    if (e == std::string_view::npos) break;
    const std::string_view anchor = page.substr(b, e - b + kAnchorClose.size());
    if (ParseAnchor(extension, anchor, href, title) && href.size() <= kMaxLinkBytes) {
      if (sink.Add(thread, QueueEnd::Front,
                   {.url = href, .title = title, .source = kDocumentLinkSource})) {
        ++queued;
        sink.Log(thread, "解析到：" + href + " ...");
      }
    }
    b = page.find(kAnchorOpen, e);
  }
  return queued;
}

}  // namespace quarry
