// What one compile produces: every element (owned here and destroyed together), the root, the
// group tables, the pending references the settling pass resolves, the stock element table, the
// hints the search loop uses to skip hopeless attempt positions and the count of memo slots.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "harvest/regex/regex_elements.h"

namespace quarry {

struct NamedGroup {
  ListElement* m_list;
  GroupMarkerElement* m_open;  // carries the name
  GroupMarkerElement* m_close;
};

// A branch of the root that begins with a literal text, perhaps followed directly by a
// memoised greedy one-byte repeat with a run slot (null otherwise).
struct BranchStart {
  std::string m_literal;
  int m_literalSlot = 0;  // branches that begin with the same literal share its searches
  const RepeatElement* m_repeat = nullptr;
};

inline constexpr int kStockSlots = 17;
// The shared stock elements of one engine (the dot, \w, \s, \d and their kin), by slot.
using StockElementTable = std::array<RegexElement*, kStockSlots>;

struct RegexProgram {
  // Creates an element owned by the program.
  template <typename T, typename... Args>
  T* Make(Args&&... args) {
    auto element = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = element.get();
    m_elements.push_back(std::move(element));
    return raw;
  }
  // The shared element of a stock slot, created on first use; slots outside 0..16 give slot 0.
  RegexElement* Stock(int slot);

  std::vector<std::unique_ptr<RegexElement>> m_elements;  // in creation order
  RegexElement* m_root = nullptr;
  int m_flags = 0;
  int m_maxGroupNumber = 0;
  int m_numberedGroups = 0;                 // numbered-group counter after the parse
  std::vector<RegexElement*> m_groupTable;  // slot 0 root, 1..N numbered, then named groups
  std::vector<NamedGroup> m_namedGroups;    // in order of appearance
  std::vector<RecursionElement*> m_pendingRecursions;
  std::vector<BackrefElement*> m_pendingBackrefs;
  std::vector<ConditionalElement*> m_pendingConditions;
  StockElementTable m_stock{};  // filled on first use

  // Search hints, set after settling (left-to-right patterns only). Every match begins with
  // m_prefix; when m_firstBytesKnown, every match begins with a byte of m_firstBytes.
  std::string m_prefix;
  ByteSet m_firstBytes;
  bool m_firstBytesKnown = false;

  // Memo slots handed out by the settling pass (search_memo.h).
  MemoShape m_memoShape;
  // How each branch of the root begins, when every one begins with a literal: the search loop
  // then goes from one place where some branch may match to the next (regex_engine.cpp).
  std::vector<BranchStart> m_branchStarts;
};

// Parses the pattern into `program` (root, group tables, pending lists). Never fails.
void BuildPattern(RegexProgram& program, const char* pattern, int length, int flags);
// Numbers named groups, fixes the group table and highest group number, resolves pending
// recursions, back-references and conditions by name, and computes the search hints.
void SettlePattern(RegexProgram& program);
// The element tree as one line.
std::string DumpElement(const RegexElement* element);

}  // namespace quarry
