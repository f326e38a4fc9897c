// The HTML side of live mode: a parsed page owned by one object, and the few tree walks the
// live parsers need (element by id, class words, attributes, text). Pages are parsed by the
// HTML parser of libxml2, which repairs loose markup the way browsers mostly do, never aborts
// on hostile input, and bounds the nesting it builds (deeper content is dropped), so a page
// costs time and memory in proportion to its size. Every walk here uses an explicit stack.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include <libxml/tree.h>

namespace quarry {

// Largest page parsed; the page download itself stops near 2 MB.
inline constexpr std::size_t kMaxHtmlBytes = 8u << 20;

class HtmlDocument {
public:
  // Parses `html` as UTF-8, or refuses it (Root() null, Problem() says why) when it is larger
  // than kMaxHtmlBytes or yields no document.
  explicit HtmlDocument(std::string_view html);
  ~HtmlDocument();
  HtmlDocument(const HtmlDocument&) = delete;
  HtmlDocument& operator=(const HtmlDocument&) = delete;

  // The html element, or null.
  const xmlNode* Root() const;
  const std::string& Problem() const { return m_problem; }

private:
  xmlDoc* m_document = nullptr;
  std::string m_problem;
};

enum class HtmlWalk { Descend, Skip, Stop };

// Visits the elements below `root` (root included) in document order; `visit` says whether
// to go into the element's children, skip them, or end the walk.
void WalkElements(const xmlNode* root, const std::function<HtmlWalk(const xmlNode*)>& visit);

// Visits the text below `root` in document order, leaving out script and style contents;
// `visit` returns false to end the walk.
void WalkTexts(const xmlNode* root, const std::function<bool(std::string_view)>& visit);

// The text held directly by `node` (its text children joined), script and style included.
std::string HtmlOwnText(const xmlNode* node);

// True when `node` is an element named `name` (lower case).
bool HtmlIsElement(const xmlNode* node, std::string_view name);

// The value of attribute `name` (lower case) of element `node`; empty when absent.
std::string HtmlAttribute(const xmlNode* node, const char* name);

// True when the element's class attribute holds `word` as one of its blank-separated words.
bool HtmlHasClass(const xmlNode* node, std::string_view word);

// The first element below `root` whose id is `id`, or null.
const xmlNode* HtmlFindById(const xmlNode* root, std::string_view id);

// The first element below `root` named `name`, or null.
const xmlNode* HtmlFindElement(const xmlNode* root, std::string_view name);

// The text of `node` as a reader sees it: its texts joined, each run of blanks as one blank,
// no blanks at either end.
std::string HtmlText(const xmlNode* node);

}  // namespace quarry
