// The element kinds of a compiled pattern. Each element has two operations: Match tries the
// first way to match at the context's position (moving it over what was consumed and pushing
// what a later MatchNext needs onto the backtrack stack), and MatchNext, called only after
// everything behind the element has failed, either finds the element's next way or undoes it
// completely and returns false. Elements are created and owned by the engine's program and refer
// to one another by plain pointers; one element (a stock class) may appear in many places.
// The fields are public because the builder fills them and the settling pass completes them
// (group numbers, recursion targets, search hints) before the first search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harvest/regex/match_context.h"

namespace quarry {

inline constexpr int kUnbounded = 2147483647;  // repeat maximum of *, + and {n,}

// A set of byte values, used for fast class membership.
struct ByteSet {
  std::uint64_t m_words[4] = {0, 0, 0, 0};
  bool Has(unsigned char byte) const { return (m_words[byte >> 6] >> (byte & 63)) & 1U; }
  void Add(unsigned char byte) { m_words[byte >> 6] |= std::uint64_t{1} << (byte & 63); }
  void AddAll(const ByteSet& other) {
    for (int i = 0; i < 4; ++i) m_words[i] |= other.m_words[i];
  }
  void Invert() {
    for (auto& word : m_words) word = ~word;
  }
  bool IsFull() const {
    return (m_words[0] & m_words[1] & m_words[2] & m_words[3]) == ~std::uint64_t{0};
  }
};

enum class ElementKind {
  Empty,
  String,
  Charset,
  PosixClass,
  Boundary,
  SearchStart,
  GroupMarker,
  Backref,
  List,
  Alternative,
  FixedRepeat,
  GreedyRepeat,
  LazyRepeat,
  PossessiveRepeat,
  Independent,
  Assert,
  Conditional,
  Recursion,
};

class RegexElement {
public:
  explicit RegexElement(ElementKind kind) : m_kind(kind) {}
  virtual ~RegexElement() = default;
  RegexElement(const RegexElement&) = delete;
  RegexElement& operator=(const RegexElement&) = delete;

  // First way to match at the context position; false leaves position and stacks unchanged.
  virtual bool Match(MatchContext& context) const = 0;
  // Next way to match, or false after undoing this element's earlier Match entirely.
  virtual bool MatchNext(MatchContext& context) const = 0;

  ElementKind Kind() const { return m_kind; }
  // For elements that always consume exactly one byte and keep no backtrack state (classes and
  // one-byte strings): the accepted bytes; null otherwise. Repeats of these run in a tight loop.
  const ByteSet* SingleByteSet() const { return m_singleByte ? &m_bytes : nullptr; }
  bool RightToLeft() const { return m_rightToLeft; }

  int m_stockSlot = -1;        // slot in the stock table, or -1
  bool m_rightToLeft = false;  // examines and consumes bytes leftwards
  bool m_singleByte = false;   // see SingleByteSet
  ByteSet m_bytes;             // valid when m_singleByte

private:
  ElementKind m_kind;
};

class EmptyElement : public RegexElement {
public:
  EmptyElement() : RegexElement(ElementKind::Empty) {}
  bool Match(MatchContext&) const override { return true; }
  bool MatchNext(MatchContext&) const override { return false; }
};

class StringElement : public RegexElement {
public:
  StringElement(std::string text, bool rightToLeft, bool ignoreCase);
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  std::string m_text;
  bool m_ignoreCase;
};

class CharsetElement : public RegexElement {
public:
  CharsetElement(bool rightToLeft, bool include);
  // Computes the byte set from ranges, single bytes and nested elements; call once complete.
  void Finish();
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  std::vector<std::pair<int, int>> m_ranges;  // inclusive, compared as signed bytes
  std::vector<int> m_singles;
  std::vector<const RegexElement*> m_nested;  // stock classes and named classes
  bool m_include;                             // false for a negated class
};

// The classification tests of named classes, in the order their names are tried.
enum class PosixTest {
  None,
  Alnum,
  Alpha,
  Ascii,
  Cntrl,
  Digit,
  Graph,
  Lower,
  Print,
  Punct,
  Space,
  Upper,
  Xdigit,
  Blank
};

class PosixClassElement : public RegexElement {
public:
  PosixClassElement(PosixTest test, bool rightToLeft, bool include);
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  PosixTest m_test;
  bool m_include;
};

enum class BoundaryKind { StartOfText, EndOfText, StartOfLine, EndOfLine, WordBoundary };

class BoundaryElement : public RegexElement {
public:
  BoundaryElement(BoundaryKind kind, bool positive)
      : RegexElement(ElementKind::Boundary), m_boundary(kind), m_positive(positive) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext&) const override { return false; }
  BoundaryKind m_boundary;
  bool m_positive;
};

class SearchStartElement : public RegexElement {
public:
  SearchStartElement() : RegexElement(ElementKind::SearchStart) {}
  bool Match(MatchContext& context) const override {
    return context.m_position == context.m_searchStart;
  }
  bool MatchNext(MatchContext&) const override { return false; }
};

class GroupMarkerElement : public RegexElement {
public:
  GroupMarkerElement(int number, bool closes)
      : RegexElement(ElementKind::GroupMarker), m_number(number), m_closes(closes) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  int m_number;        // -1 until a named group is numbered
  bool m_closes;       // ends the capture in matching direction
  std::string m_name;  // only on the opening marker of a named group
};

class BackrefElement : public RegexElement {
public:
  BackrefElement(int number, bool rightToLeft, bool ignoreCase);
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  int m_number;  // negative when unresolved
  bool m_ignoreCase;
  std::string m_name;
};

class ListElement : public RegexElement {
public:
  explicit ListElement(bool rightToLeft) : RegexElement(ElementKind::List) {
    m_rightToLeft = rightToLeft;
  }
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  std::vector<RegexElement*> m_elements;
};

class AlternativeElement : public RegexElement {
public:
  AlternativeElement() : RegexElement(ElementKind::Alternative) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  std::vector<RegexElement*> m_branches;
};

// Matches `count` bytes of `set` at the position (before it when `leftwards`) and moves over
// them; false, with nothing moved, when one is missing. Repeats of one-byte elements use it.
bool MatchByteRun(MatchContext& context, const ByteSet& set, bool leftwards, int count);

// Runs a sequence of `count` members, `member(i)` in matching order: a list, a fixed repeat, or
// the mandatory iterations of a lazy repeat. With `backtrack` it first asks member `done - 1`
// for its next way; otherwise members `done`.. are matched afresh. A failing member makes the
// one before it try its next way, and so on.
template <typename Member>
bool RunSequence(MatchContext& context, int count, int done, bool backtrack, Member member) {
  int i = done;
  for (;;) {
    if (!backtrack) {
      while (i < count && member(i)->Match(context)) ++i;
      if (i == count) return true;
    }
    backtrack = false;
    for (;;) {
      if (i == 0) return false;
      --i;
      if (member(i)->MatchNext(context)) {
        ++i;
        break;
      }
    }
  }
}

class FixedRepeatElement : public RegexElement {
public:
  FixedRepeatElement(RegexElement* sub, int count)
      : RegexElement(ElementKind::FixedRepeat), m_sub(sub), m_count(count) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  RegexElement* m_sub;
  int m_count;
};

// What must follow a repeat inside its list: `m_sets[i]` holds the byte at offset i from where
// the repeat stops, then `m_literal` follows. A greedy repeat that gives bytes back skips the
// stopping places where this cannot hold, since everything after it would fail there anyway.
struct FollowHint {
  std::vector<ByteSet> m_sets;
  std::string m_literal;
  bool Active() const { return !m_sets.empty() || !m_literal.empty(); }
  bool Holds(const MatchContext& context, int position) const;
};

// Greedy, lazy and possessive repeats share their fields: sub-element, minimum and extra.
class RepeatElement : public RegexElement {
public:
  RepeatElement(ElementKind kind, RegexElement* sub, int minimum, int extra)
      : RegexElement(kind), m_sub(sub), m_minimum(minimum), m_extra(extra) {}
  RegexElement* m_sub;
  int m_minimum;
  int m_extra;          // maximum minus minimum
  FollowHint m_follow;  // set by the settling pass for left-to-right lists
  // Set by the settling pass for repeats whose continuation never changes (search_memo.h):
  // a greedy one-byte repeat's slot of failed stops, and its run slot (shared by repeats of the
  // same byte set; -1 when bounded); another greedy or lazy repeat's slot of position bits.
  int m_memoSlot = -1;
  int m_runSlot = -1;

  // The most iterations, kUnbounded for *, + and {n,}.
  int Maximum() const {
    return m_extra > kUnbounded - m_minimum ? kUnbounded : m_minimum + m_extra;
  }

protected:
  bool Memoised(const MatchContext& context) const {
    return m_memoSlot >= 0 && context.m_memo.m_enabled;
  }
  bool GreedyMatch(MatchContext& context) const;
  bool GreedyResume(MatchContext& context, int count, bool backtrack) const;
  bool FastGreedyMatch(MatchContext& context, const ByteSet& set) const;
  bool FastGreedyNext(MatchContext& context) const;
  // Left to right, gives bytes of a one-byte run back while what must follow cannot start at
  // the position (never below the minimum); returns the count kept.
  int GiveBackToFollow(MatchContext& context, int count) const;
  // The highest stop from `stop` down to `bottom` where what must follow may start; below
  // `bottom` when there is none.
  int HighestFollowStop(MatchContext& context, int stop, int bottom) const;
  // With the memo: the highest stop from `stop` down to `bottom` not known to fail, noting the
  // stops the follow hint rules out; -1 when there is none.
  int HighestOpenStop(MatchContext& context, int stop, int bottom) const;
  // With the memo: where the run of `set` that holds `from` ends, scanned once per run.
  int RunEnd(MatchContext& context, const ByteSet& set, int from) const;
  // Loop memo of general repeats: known failure from `position` with the minimum met.
  bool LoopFailed(const MatchContext& context, int position) const {
    return Memoised(context) && context.m_memo.LoopFailed(m_memoSlot, position);
  }
  void MarkLoopFailed(MatchContext& context, int position) const {
    if (Memoised(context)) context.m_memo.MarkLoopFailed(m_memoSlot, position);
  }
  // Whether the sub-element's way that ended at the position may count as iteration number
  // `iteration` begun at `start`: beyond the minimum it must move, and from the minimum on the
  // repeat must not be known to fail from its end. When not, later ways are taken until one
  // may (`judge` false asks for the next way first); false, with the sub-element undone, when
  // none remains.
  bool NextIterationWay(MatchContext& context, int start, int iteration, bool judge) const;
};

class GreedyRepeatElement : public RepeatElement {
public:
  GreedyRepeatElement(RegexElement* sub, int minimum, int extra)
      : RepeatElement(ElementKind::GreedyRepeat, sub, minimum, extra) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
};

class LazyRepeatElement : public RepeatElement {
public:
  LazyRepeatElement(RegexElement* sub, int minimum, int extra)
      : RepeatElement(ElementKind::LazyRepeat, sub, minimum, extra) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
};

class PossessiveRepeatElement : public RepeatElement {
public:
  PossessiveRepeatElement(RegexElement* sub, int minimum, int extra)
      : RepeatElement(ElementKind::PossessiveRepeat, sub, minimum, extra) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
};

class IndependentElement : public RegexElement {
public:
  explicit IndependentElement(RegexElement* sub)
      : RegexElement(ElementKind::Independent), m_sub(sub) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  RegexElement* m_sub;
};

class AssertElement : public RegexElement {
public:
  AssertElement(RegexElement* sub, bool positive)
      : RegexElement(ElementKind::Assert), m_sub(sub), m_positive(positive) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  RegexElement* m_sub;
  bool m_positive;
};

class ConditionalElement : public RegexElement {
public:
  ConditionalElement() : RegexElement(ElementKind::Conditional) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  int m_number = -1;  // group whose capture is tested; -1 for an expression condition
  std::string m_name;
  RegexElement* m_condition = nullptr;
  RegexElement* m_yes = nullptr;
  RegexElement* m_no = nullptr;
};

// Native depth that group recursion may use in one search, in element levels. A recursion costs
// the height of its target; past the bound the recursion fails to match, so patterns that
// re-enter a group without consuming input, or deeply, end instead of exhausting the stack.
inline constexpr int kMaxRecursionWeight = 2500;

class RecursionElement : public RegexElement {
public:
  RecursionElement(int number, std::string name)
      : RegexElement(ElementKind::Recursion), m_number(number), m_name(std::move(name)) {}
  bool Match(MatchContext& context) const override;
  bool MatchNext(MatchContext& context) const override;
  int m_number;  // -3 while a name is unresolved
  std::string m_name;
  const RegexElement* m_target = nullptr;
  int m_weight = 1;  // height of the target's tree, set by the settling pass
};

}  // namespace quarry
