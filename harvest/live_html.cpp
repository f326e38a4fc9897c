// The parsed-page owner and the tree walks of live mode, over libxml2's HTML parser.
#include "harvest/live_html.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

namespace quarry {
namespace {

// Parser options: repair what is broken, say nothing on the terminal, fetch nothing.
constexpr int kParseOptions =
    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;

std::string_view NameOf(const xmlNode* node) {
  return node->name == nullptr ? std::string_view{} : reinterpret_cast<const char*>(node->name);
}

bool IsTextNode(const xmlNode* node) {
  return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

std::string_view ContentOf(const xmlNode* node) {
  return node->content == nullptr ? std::string_view{}
                                  : reinterpret_cast<const char*>(node->content);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Depth-first, document order, with an explicit stack.
template <typename Visit>
void Walk(const xmlNode* root, Visit visit) {
  if (root == nullptr) return;
  std::vector<const xmlNode*> stack{root};
  std::vector<const xmlNode*> children;
  while (!stack.empty()) {
    const xmlNode* node = stack.back();
    stack.pop_back();
    const HtmlWalk step = visit(node);
    if (step == HtmlWalk::Stop) return;
    if (step == HtmlWalk::Skip) continue;
    children.clear();
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
      children.push_back(child);
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
}

}  // namespace

HtmlDocument::HtmlDocument(std::string_view html) {
  if (html.size() > kMaxHtmlBytes) {
    m_problem = "the page is larger than " + std::to_string(kMaxHtmlBytes) + " bytes";
    return;
  }
  // The library's global set-up must run once before threads parse on their own.
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  m_document =
      htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8", kParseOptions);
  if (Root() == nullptr) m_problem = "the page holds no HTML";
}

HtmlDocument::~HtmlDocument() {
  if (m_document != nullptr) xmlFreeDoc(m_document);
}

const xmlNode* HtmlDocument::Root() const {
  return m_document == nullptr ? nullptr : xmlDocGetRootElement(m_document);
}

void WalkElements(const xmlNode* root, const std::function<HtmlWalk(const xmlNode*)>& visit) {
  Walk(root, [&](const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE ? visit(node) : HtmlWalk::Skip;
  });
}

void WalkTexts(const xmlNode* root, const std::function<bool(std::string_view)>& visit) {
  Walk(root, [&](const xmlNode* node) {
    if (IsTextNode(node)) return visit(ContentOf(node)) ? HtmlWalk::Skip : HtmlWalk::Stop;
    if (node->type != XML_ELEMENT_NODE || HtmlIsElement(node, "script") ||
        HtmlIsElement(node, "style")) {
      return HtmlWalk::Skip;
    }
    return HtmlWalk::Descend;
  });
}

std::string HtmlOwnText(const xmlNode* node) {
  std::string text;
  if (node == nullptr) return text;
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (IsTextNode(child)) text.append(ContentOf(child));
  }
  return text;
}

bool HtmlIsElement(const xmlNode* node, std::string_view name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && NameOf(node) == name;
}

std::string HtmlAttribute(const xmlNode* node, const char* name) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return {};
  xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

bool HtmlHasClass(const xmlNode* node, std::string_view word) {
  const std::string classes = HtmlAttribute(node, "class");
  std::size_t at = 0;
  while (at < classes.size()) {
    while (at < classes.size() && IsBlank(classes[at])) ++at;
    std::size_t end = at;
    while (end < classes.size() && !IsBlank(classes[end])) ++end;
    if (end > at && std::string_view(classes).substr(at, end - at) == word) return true;
    at = end;
  }
  return false;
}

const xmlNode* HtmlFindById(const xmlNode* root, std::string_view id) {
  const xmlNode* found = nullptr;
  WalkElements(root, [&](const xmlNode* node) {
    if (HtmlAttribute(node, "id") != id) return HtmlWalk::Descend;
    found = node;
    return HtmlWalk::Stop;
  });
  return found;
}

const xmlNode* HtmlFindElement(const xmlNode* root, std::string_view name) {
  const xmlNode* found = nullptr;
  WalkElements(root, [&](const xmlNode* node) {
    if (NameOf(node) != name) return HtmlWalk::Descend;
    found = node;
    return HtmlWalk::Stop;
  });
  return found;
}

std::string HtmlText(const xmlNode* node) {
  std::string text;
  bool blank = false;
  WalkTexts(node, [&](std::string_view piece) {
    for (const char c : piece) {
      if (IsBlank(c)) {
        blank = !text.empty();
      } else {
        if (blank) text.push_back(' ');
        blank = false;
        text.push_back(c);
      }
    }
    return true;
  });
  return text;
}

}  // namespace quarry
