// Settling after the parse, then the search hints. Settling numbers the named groups after all
// unnamed ones (groups of one name share a number), completes the group table and the highest
// group number, and resolves what the parse could only note: recursions, back-references and
// conditions that name a group. The hints are necessary conditions derived from the tree, so
// using them never changes a result: the text every match must begin with, the bytes a match
// can begin with, and, for a greedy one-byte repeat inside a list, what must follow it. Last,
// the repeats whose failures a search may remember get their memo slots.
#include <algorithm>
#include <unordered_map>

#include "harvest/regex/regex_engine.h"
#include "harvest/regex/regex_program.h"

namespace quarry {
namespace {

constexpr int kMaxFollowSets = 8;  // one-byte elements a follow hint looks through

// Names compare ignoring ASCII case; the key is the upper-cased name.
std::string NameKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

// The first named group of each name, so that lookups stay cheap in patterns with many names.
using NameTable = std::unordered_map<std::string, const NamedGroup*>;

NameTable MakeNameTable(const RegexProgram& program) {
  NameTable table;
  for (const NamedGroup& group : program.m_namedGroups) {
    table.emplace(NameKey(group.m_open->m_name), &group);
  }
  return table;
}

const NamedGroup* FirstNamed(const NameTable& names, const std::string& name) {
  const auto found = names.find(NameKey(name));
  return found != names.end() ? found->second : nullptr;
}

// The current number of the first group of that name, or -3 when there is none.
int LookUp(const NameTable& names, const std::string& name) {
  const NamedGroup* group = FirstNamed(names, name);
  return group != nullptr ? group->m_open->m_number : -3;
}

bool IsZeroWidth(ElementKind kind) {
  return kind == ElementKind::Empty || kind == ElementKind::Boundary ||
         kind == ElementKind::SearchStart || kind == ElementKind::GroupMarker ||
         kind == ElementKind::Assert;
}

int Height(const RegexElement* element) {
  int below = 0;
  auto visit = [&](const RegexElement* child) {
    if (child != nullptr) below = std::max(below, Height(child));
  };
  switch (element->Kind()) {
    case ElementKind::List:
      for (auto* child : static_cast<const ListElement*>(element)->m_elements) visit(child);
      break;
    case ElementKind::Alternative:
      for (auto* child : static_cast<const AlternativeElement*>(element)->m_branches) {
        visit(child);
      }
      break;
    case ElementKind::FixedRepeat:
      visit(static_cast<const FixedRepeatElement*>(element)->m_sub);
      break;
    case ElementKind::GreedyRepeat:
    case ElementKind::LazyRepeat:
    case ElementKind::PossessiveRepeat:
      visit(static_cast<const RepeatElement*>(element)->m_sub);
      break;
    case ElementKind::Independent:
      visit(static_cast<const IndependentElement*>(element)->m_sub);
      break;
    case ElementKind::Assert: visit(static_cast<const AssertElement*>(element)->m_sub); break;
    case ElementKind::Conditional: {
      const auto* conditional = static_cast<const ConditionalElement*>(element);
      visit(conditional->m_condition);
      visit(conditional->m_yes);
      visit(conditional->m_no);
      break;
    }
    default: break;  // leaves; a recursion's target is not part of its tree
  }
  return below + 1;
}

// What a match of an element can begin with: a set of bytes, whether it may match empty (so
// whatever follows may supply the first byte), or unknown (no conclusion).
struct FirstBytes {
  ByteSet m_set;
  bool m_nullable = false;
  bool m_unknown = false;
};

FirstBytes First(const RegexElement* element) {
  FirstBytes result;
  if (IsZeroWidth(element->Kind())) {
    result.m_nullable = true;
    return result;
  }
  if (const ByteSet* set = element->SingleByteSet()) {
    if (element->RightToLeft()) result.m_unknown = true;
    result.m_set = *set;
    return result;
  }
  switch (element->Kind()) {
    case ElementKind::String: {
      const auto* string = static_cast<const StringElement*>(element);
      if (string->m_rightToLeft || string->m_ignoreCase || string->m_text.empty()) {
        result.m_unknown = true;
      } else {
        result.m_set.Add(static_cast<unsigned char>(string->m_text[0]));
      }
      return result;
    }
    case ElementKind::List: {
      const auto* list = static_cast<const ListElement*>(element);
      if (list->m_rightToLeft) break;
      for (const RegexElement* child : list->m_elements) {
        const FirstBytes part = First(child);
        if (part.m_unknown) return part;
        result.m_set.AddAll(part.m_set);
        if (!part.m_nullable) return result;
      }
      result.m_nullable = true;
      return result;
    }
    case ElementKind::Alternative:
      for (const RegexElement* branch :
           static_cast<const AlternativeElement*>(element)->m_branches) {
        const FirstBytes part = First(branch);
        if (part.m_unknown) return part;
        result.m_set.AddAll(part.m_set);
        result.m_nullable = result.m_nullable || part.m_nullable;
      }
      return result;
    case ElementKind::FixedRepeat:
      return First(static_cast<const FixedRepeatElement*>(element)->m_sub);
    case ElementKind::GreedyRepeat:
    case ElementKind::LazyRepeat:
    case ElementKind::PossessiveRepeat: {
      const auto* repeat = static_cast<const RepeatElement*>(element);
      result = First(repeat->m_sub);
      result.m_nullable = result.m_nullable || repeat->m_minimum == 0;
      return result;
    }
    case ElementKind::Independent:
      return First(static_cast<const IndependentElement*>(element)->m_sub);
    default: break;  // back-references, conditionals, recursion
  }
  result.m_unknown = true;
  return result;
}

struct Prefix {
  std::string m_text;
  bool m_exact = false;  // the element matches exactly m_text, always
};

Prefix PrefixOf(const RegexElement* element) {
  Prefix result;
  if (IsZeroWidth(element->Kind())) {
    result.m_exact = true;
    return result;
  }
  switch (element->Kind()) {
    case ElementKind::String: {
      const auto* string = static_cast<const StringElement*>(element);
      if (!string->m_rightToLeft && !string->m_ignoreCase) {
        result.m_text = string->m_text;
        result.m_exact = true;
      }
      return result;
    }
    case ElementKind::List: {
      const auto* list = static_cast<const ListElement*>(element);
      if (list->m_rightToLeft) return result;
      for (const RegexElement* child : list->m_elements) {
        const Prefix part = PrefixOf(child);
        result.m_text += part.m_text;
        if (!part.m_exact) return result;
      }
      result.m_exact = true;
      return result;
    }
    case ElementKind::Alternative: {
      const auto& branches = static_cast<const AlternativeElement*>(element)->m_branches;
      for (std::size_t i = 0; i < branches.size(); ++i) {
        const Prefix part = PrefixOf(branches[i]);
        if (i == 0) {
          result.m_text = part.m_text;
          continue;
        }
        std::size_t common = 0;
        while (common < result.m_text.size() && common < part.m_text.size() &&
               result.m_text[common] == part.m_text[common]) {
          ++common;
        }
        result.m_text.resize(common);
      }
      return result;
    }
    case ElementKind::FixedRepeat:
      result.m_text = PrefixOf(static_cast<const FixedRepeatElement*>(element)->m_sub).m_text;
      return result;
    case ElementKind::GreedyRepeat:
    case ElementKind::LazyRepeat:
    case ElementKind::PossessiveRepeat: {
      const auto* repeat = static_cast<const RepeatElement*>(element);
      if (repeat->m_minimum >= 1) result.m_text = PrefixOf(repeat->m_sub).m_text;
      return result;
    }
    case ElementKind::Independent:
      return PrefixOf(static_cast<const IndependentElement*>(element)->m_sub);
    default: return result;
  }
}

// Gives each greedy one-byte repeat of a left-to-right list what must follow it in that list.
void SetFollowHints(RegexProgram& program) {
  for (const auto& owned : program.m_elements) {
    if (owned->Kind() != ElementKind::List) continue;
    auto* list = static_cast<ListElement*>(owned.get());
    if (list->m_rightToLeft) continue;
    const auto& elements = list->m_elements;
    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (elements[i]->Kind() != ElementKind::GreedyRepeat) continue;
      auto* repeat = static_cast<GreedyRepeatElement*>(elements[i]);
      if (repeat->m_sub->SingleByteSet() == nullptr || repeat->m_sub->RightToLeft()) continue;
      FollowHint hint;
      for (std::size_t j = i + 1; j < elements.size(); ++j) {
        const RegexElement* next = elements[j];
        if (IsZeroWidth(next->Kind())) continue;
        if (next->RightToLeft()) break;
        if (next->Kind() == ElementKind::String &&
            !static_cast<const StringElement*>(next)->m_ignoreCase) {
          hint.m_literal = static_cast<const StringElement*>(next)->m_text;
          break;
        }
        const ByteSet* set = next->SingleByteSet();
        if (set == nullptr || static_cast<int>(hint.m_sets.size()) >= kMaxFollowSets) break;
        hint.m_sets.push_back(*set);
      }
      repeat->m_follow = hint;
    }
  }
}

// Hands out memo slots (search_memo.h) to the repeats whose continuation is the same whenever
// they are reached: `fixed` holds for the root and stays true through lists, alternatives and
// conditional branches; inside a repeat it is false, since what follows an iteration depends on
// the count and on where the iteration began; the inside of an assertion, an independent group
// or a condition is tried to its first success and nothing after, so it is fixed again.
class MemoSlots {
public:
  explicit MemoSlots(RegexProgram& program) : m_program(program) {}

  void Visit(RegexElement* element, bool fixed) {
    if (element == nullptr) return;
    switch (element->Kind()) {
      case ElementKind::List:
        for (RegexElement* child : static_cast<ListElement*>(element)->m_elements) {
          Visit(child, fixed);
        }
        break;
      case ElementKind::Alternative:
        for (RegexElement* branch : static_cast<AlternativeElement*>(element)->m_branches) {
          Visit(branch, fixed);
        }
        break;
      case ElementKind::FixedRepeat:
        Visit(static_cast<FixedRepeatElement*>(element)->m_sub, false);
        break;
      case ElementKind::GreedyRepeat:
      case ElementKind::LazyRepeat:
      case ElementKind::PossessiveRepeat: {
        auto* repeat = static_cast<RepeatElement*>(element);
        if (fixed) Assign(*repeat);
        Visit(repeat->m_sub, false);
        break;
      }
      case ElementKind::Independent:
        Visit(static_cast<IndependentElement*>(element)->m_sub, true);
        break;
      case ElementKind::Assert: Visit(static_cast<AssertElement*>(element)->m_sub, true); break;
      case ElementKind::Conditional: {
        auto* conditional = static_cast<ConditionalElement*>(element);
        Visit(conditional->m_condition, true);
        Visit(conditional->m_yes, fixed);
        Visit(conditional->m_no, fixed);
        break;
      }
      default: break;  // leaves
    }
  }

private:
  void Assign(RepeatElement& repeat) {
    const bool unbounded = repeat.Maximum() == kUnbounded;
    if (const ByteSet* set = repeat.m_sub->SingleByteSet()) {
      // Possessive repeats keep their first way whatever follows; lazy ones of one byte take a
      // byte per step and have no run to give back.
      if (repeat.Kind() != ElementKind::GreedyRepeat || repeat.m_sub->RightToLeft()) return;
      repeat.m_memoSlot = m_program.m_memoShape.m_stopSlots++;
      if (unbounded) repeat.m_runSlot = RunSlot(*set);
      return;
    }
    if (repeat.Kind() != ElementKind::PossessiveRepeat && unbounded) {
      repeat.m_memoSlot = m_program.m_memoShape.m_loopSlots++;
    }
  }

  // Repeats of the same byte set share the run they scan.
  int RunSlot(const ByteSet& set) {
    for (std::size_t i = 0; i < m_sets.size(); ++i) {
      if (std::equal(std::begin(set.m_words), std::end(set.m_words),
                     std::begin(m_sets[i].m_words))) {
        return static_cast<int>(i);
      }
    }
    m_sets.push_back(set);
    m_program.m_memoShape.m_runSlots = static_cast<int>(m_sets.size());
    return m_program.m_memoShape.m_runSlots - 1;
  }

  RegexProgram& m_program;
  std::vector<ByteSet> m_sets;
};

// A failure is a fact about a position only when nothing that decides success depends on how
// the position was reached: back-references and capture tests read the captures, and a
// recursion reaches a group with another continuation.
bool MemoIsSound(const RegexProgram& program) {
  for (const auto& owned : program.m_elements) {
    switch (owned->Kind()) {
      case ElementKind::Backref: return false;
      case ElementKind::Conditional:
        if (static_cast<const ConditionalElement*>(owned.get())->m_number != -1) return false;
        break;
      case ElementKind::Recursion:
        if (static_cast<const RecursionElement*>(owned.get())->m_target != nullptr) return false;
        break;
      default: break;
    }
  }
  return true;
}

// How `branch` begins, or false when it does not begin with a literal. Group markers consume
// nothing and never fail, so they are looked through.
bool BranchStartOf(const RegexElement* branch, BranchStart& start) {
  std::vector<const RegexElement*> members;
  if (branch->Kind() == ElementKind::List) {
    const auto* list = static_cast<const ListElement*>(branch);
    if (list->m_rightToLeft) return false;
    for (const RegexElement* member : list->m_elements) {
      if (member->Kind() != ElementKind::GroupMarker) members.push_back(member);
    }
  } else {
    members.push_back(branch);
  }
  if (members.empty() || members[0]->Kind() != ElementKind::String) return false;
  const auto* string = static_cast<const StringElement*>(members[0]);
  if (string->m_rightToLeft || string->m_ignoreCase || string->m_text.empty()) return false;
  start.m_literal = string->m_text;
  if (members.size() > 1 && members[1]->Kind() == ElementKind::GreedyRepeat) {
    const auto* repeat = static_cast<const RepeatElement*>(members[1]);
    if (repeat->m_memoSlot >= 0 && repeat->m_runSlot >= 0) start.m_repeat = repeat;
  }
  return true;
}

void SetBranchStarts(RegexProgram& program) {
  std::vector<const RegexElement*> branches;
  if (program.m_root->Kind() == ElementKind::Alternative) {
    const auto& all = static_cast<const AlternativeElement*>(program.m_root)->m_branches;
    branches.assign(all.begin(), all.end());
  } else {
    branches.push_back(program.m_root);
  }
  std::vector<BranchStart> starts(branches.size());
  int slots = 0;
  for (std::size_t i = 0; i < branches.size(); ++i) {
    if (!BranchStartOf(branches[i], starts[i])) return;
    starts[i].m_literalSlot = slots;
    for (std::size_t j = 0; j < i; ++j) {
      if (starts[j].m_literal == starts[i].m_literal)
        starts[i].m_literalSlot = starts[j].m_literalSlot;
    }
    if (starts[i].m_literalSlot == slots) ++slots;
  }
  program.m_branchStarts = std::move(starts);
  program.m_memoShape.m_literalSlots = slots;
}

}  // namespace

void SettlePattern(RegexProgram& program) {
  auto& table = program.m_groupTable;
  if (table.empty()) table.resize(1, nullptr);
  table[0] = program.m_root;
  int counter = program.m_numberedGroups;
  const NameTable names = MakeNameTable(program);
  for (NamedGroup& group : program.m_namedGroups) {
    table.push_back(group.m_list);
    if (group.m_open->m_number >= 1) continue;
    const NamedGroup* first = FirstNamed(names, group.m_open->m_name);
    int number;
    if (first == nullptr || first == &group || first->m_open->m_number < 0) {
      number = ++counter;
    } else {
      number = first->m_open->m_number;
    }
    group.m_open->m_number = group.m_close->m_number = number;
  }
  int highest = counter;
  for (const NamedGroup& group : program.m_namedGroups) {
    highest = std::max(highest, group.m_open->m_number);
  }
  program.m_maxGroupNumber = highest;

  std::unordered_map<const RegexElement*, int> heights;  // one walk per distinct target
  for (RecursionElement* recursion : program.m_pendingRecursions) {
    if (recursion->m_number == -3) recursion->m_number = LookUp(names, recursion->m_name);
    if (recursion->m_number >= 0 && recursion->m_number < static_cast<int>(table.size())) {
      const RegexElement* target = table[recursion->m_number];
      recursion->m_target = target;
      if (target == nullptr) continue;
      auto [entry, added] = heights.try_emplace(target, 0);
      if (added) entry->second = Height(target);
      recursion->m_weight = entry->second + 1;
    }
  }
  for (BackrefElement* backref : program.m_pendingBackrefs) {
    backref->m_number = LookUp(names, backref->m_name);
  }
  for (ConditionalElement* conditional : program.m_pendingConditions) {
    const int number = LookUp(names, conditional->m_name);
    if (number != -3) {
      conditional->m_number = number;
      conditional->m_condition = nullptr;
    }
  }

  if ((program.m_flags & kFlagRightToLeft) == 0 && program.m_root != nullptr) {
    program.m_prefix = PrefixOf(program.m_root).m_text;
    const FirstBytes first = First(program.m_root);
    program.m_firstBytesKnown = !first.m_unknown && !first.m_nullable;
    program.m_firstBytes = first.m_set;
    SetFollowHints(program);
  }
  if (program.m_root != nullptr && MemoIsSound(program)) {
    MemoSlots(program).Visit(program.m_root, true);
  }
  if ((program.m_flags & kFlagRightToLeft) == 0 && program.m_root != nullptr) {
    SetBranchStarts(program);
  }
}

}  // namespace quarry
