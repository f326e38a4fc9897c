// Turning a downloaded result page into queue entries. Image tasks run the image link pattern
// over the page and queue every match; document tasks scan the page for "<a " ... "</a>"
// anchors and queue each href that contains the kind's file extension, with the anchor's text
// as title. Every link goes to the front of the queue exactly as found (document hrefs
// lower-cased), without resolving relative links and without the seen-address check, and each
// one is logged on the worker's page as "解析到：<link> ...".
//
// All searches are plain byte searches, so any byte text works (UTF-8 included): the markers
// searched for are ASCII, which never occurs inside a multi-byte UTF-8 character, and
// lower-casing touches ASCII letters only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "harvest/file_kind.h"
#include "harvest/link_sink.h"

namespace quarry {

// Longest address the queue holds (its field is 1024 bytes with the terminating NUL). A longer
// link is skipped rather than cut, since a cut address points somewhere else.
inline constexpr std::size_t kMaxLinkBytes = 1023;

// Origin markers the queue carries along with each extracted link.
inline constexpr const char* kImageLinkSource = "null";
inline constexpr const char* kDocumentLinkSource = "http://";

// The extension ".doc", ".ppt", ".pdf" or ".xls" of the document kinds; empty for the others.
std::string_view DocumentExtension(FileKind kind);

// Search steps an image page may use per byte: dozens of times what result pages and pages
// of long runs without blanks need, so that only a pattern gone wild reaches it.
inline constexpr std::int64_t kImageStepsPerByte = 64;

// Compiles `pattern` (flags 0; the image link pattern of harvest/search_pages.h) and queues every
// match in `page`, each search starting at the end of the previous match. Ends early, keeping what
// it queued, when the task stops or when the searches use up kImageStepsPerByte steps per page byte
// (logged). Returns the number of links the sink accepted.
int ExtractImageLinks(LinkSink& sink, int thread, std::string_view pattern, std::string_view page);

// Scans `page` for anchors and queues the hrefs that contain the extension of `kind` (a
// document kind; any other kind queues nothing), until the task stops. Returns the number of
// links the sink accepted.
int ExtractDocumentLinks(LinkSink& sink, int thread, FileKind kind, std::string_view page);

// Reads one anchor ("<a ... </a>"): the lower-cased text of its href="..." and its text with
// tags removed. False when the href is missing, starts the anchor, is unterminated, lacks the
// extension (or has it only at index 0), or when the tag or the "</a>" is not closed.
bool ParseAnchor(std::string_view extension, std::string_view anchor, std::string& href,
                 std::string& title);

// `text` with every `open` ... `close` stretch removed; an `open` without a `close` after it
// keeps the rest of the text from that `open` on.
std::string StripTags(std::string_view text, std::string_view open, std::string_view close);

}  // namespace quarry
