// Match and MatchNext of the elements that decide how often or whether their sub-element runs:
// greedy, lazy and possessive repeats, independent groups, assertions, conditionals and
// recursion. Repeats iterate and never recurse per byte: a repeat of a one-byte element (a
// class, the dot, a single character) runs in a tight loop and keeps one count on the backtrack
// stack, greedy ones giving bytes back one at a time, lazy ones taking one more at a time; a
// repeat of anything else keeps, per iteration, the sub-element's own entries followed by the
// iteration's start position, then the count on top. An iteration beyond the minimum must
// consume input, so a sub-element that can match empty cannot make a repeat loop forever.
// After a later way of one iteration a greedy repeat extends again from there, as greedy
// matching requires: (a|ab)*c finds abac whole.
#include <cstring>

#include "harvest/regex/regex_elements.h"

namespace quarry {

bool FollowHint::Holds(const MatchContext& context, int position) const {
  const int literalAt = position + static_cast<int>(m_sets.size());
  const int literalLength = static_cast<int>(m_literal.size());
  if (literalLength > 0) {
    // The literal's first byte is the most selective test, so it goes first.
    if (literalAt >= context.m_length || literalLength > context.m_length - literalAt) return false;
    if (context.m_subject[literalAt] != static_cast<unsigned char>(m_literal[0])) return false;
  }
  int at = position;
  for (const ByteSet& set : m_sets) {
    if (at >= context.m_length || !set.Has(context.m_subject[at])) return false;
    ++at;
  }
  return literalLength <= 1 || std::memcmp(context.m_subject + literalAt + 1, m_literal.data() + 1,
                                           literalLength - 1) == 0;
}

bool RepeatElement::FastGreedyMatch(MatchContext& context, const ByteSet& set) const {
  const bool leftwards = m_sub->RightToLeft();
  const int start = context.m_position;
  const int available = leftwards ? start : context.m_length - start;
  const int limit = available < Maximum() ? available : Maximum();
  const unsigned char* subject = context.m_subject;
  int count = 0;
  if (leftwards) {
    while (count < limit && set.Has(subject[start - 1 - count])) ++count;
  } else {
    while (count < limit && set.Has(subject[start + count])) ++count;
  }
  if (count < m_minimum) return false;
  context.m_position = leftwards ? start - count : start + count;
  context.Push(leftwards ? count : GiveBackToFollow(context, count));
  return true;
}

bool RepeatElement::FastGreedyNext(MatchContext& context) const {
  const bool leftwards = m_sub->RightToLeft();
  int count = context.Pop();
  if (count <= m_minimum) {
    context.m_position += leftwards ? count : -count;
    return false;
  }
  --count;
  context.m_position += leftwards ? 1 : -1;
  context.Push(leftwards ? count : GiveBackToFollow(context, count));
  return true;
}

int RepeatElement::GiveBackToFollow(MatchContext& context, int count) const {
  if (!m_follow.Active()) return count;
  while (count > m_minimum && !m_follow.Holds(context, context.m_position)) {
    --count;
    --context.m_position;
  }
  return count;
}

// Moves a general greedy repeat on from `count` iterations. Forward, it adds iterations while
// they match (beyond the minimum only those that consume input); backtracking, it asks the last
// iteration for its next way and then extends again, or gives that iteration up.
bool RepeatElement::GreedyResume(MatchContext& context, int count, bool backtrack) const {
  const int maximum = Maximum();
  for (;;) {
    if (!backtrack) {
      while (count < maximum) {
        const int start = context.m_position;
        if (!m_sub->Match(context)) break;
        if (context.m_position == start && count >= m_minimum) {
          bool moved = false;
          while (m_sub->MatchNext(context)) {
            if (context.m_position != start) {
              moved = true;
              break;
            }
          }
          if (!moved) break;
        }
        context.Push(start);
        ++count;
      }
      if (count >= m_minimum) {
        context.Push(count);
        return true;
      }
    }
    backtrack = false;
    if (count <= 0) return false;
    const int start = context.Pop();
    bool again = m_sub->MatchNext(context);
    if (count > m_minimum) {
      while (again && context.m_position == start) again = m_sub->MatchNext(context);
    }
    if (again) {
      context.Push(start);
      continue;
    }
    --count;
    if (count >= m_minimum) {
      context.Push(count);
      return true;
    }
    backtrack = true;
  }
}

bool RepeatElement::GreedyMatch(MatchContext& context) const {
  if (!context.Step()) return false;
  if (const ByteSet* set = m_sub->SingleByteSet()) return FastGreedyMatch(context, *set);
  return GreedyResume(context, 0, false);
}

bool GreedyRepeatElement::Match(MatchContext& context) const { return GreedyMatch(context); }

bool GreedyRepeatElement::MatchNext(MatchContext& context) const {
  if (m_sub->SingleByteSet()) return FastGreedyNext(context);
  return GreedyResume(context, context.Pop(), true);
}

namespace {

// The mandatory iterations of a lazy repeat, run like a list of `count` copies.
bool RunCopies(MatchContext& context, const RegexElement* sub, int count, bool backtrack) {
  int i = backtrack ? count : 0;
  for (;;) {
    if (!backtrack) {
      while (i < count && sub->Match(context)) ++i;
      if (i == count) return true;
    }
    backtrack = false;
    for (;;) {
      if (i == 0) return false;
      --i;
      if (sub->MatchNext(context)) {
        ++i;
        break;
      }
    }
  }
}

}  // namespace

bool LazyRepeatElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  if (const ByteSet* set = m_sub->SingleByteSet()) {
    // A one-byte sub-element: the minimum run, then one more byte per MatchNext.
    if (!MatchByteRun(context, *set, m_sub->RightToLeft(), m_minimum)) return false;
    context.Push(0);
    return true;
  }
  if (!RunCopies(context, m_sub, m_minimum, false)) return false;
  context.Push(0);
  return true;
}

bool LazyRepeatElement::MatchNext(MatchContext& context) const {
  int count = context.Pop();
  if (const ByteSet* set = m_sub->SingleByteSet()) {
    const bool leftwards = m_sub->RightToLeft();
    const int at = leftwards ? context.m_position - 1 : context.m_position;
    if (count < m_extra && at >= 0 && at < context.m_length && set->Has(context.m_subject[at])) {
      context.m_position += leftwards ? -1 : 1;
      context.Push(count + 1);
      return true;
    }
    const int taken = m_minimum + count;
    context.m_position += leftwards ? taken : -taken;
    return false;
  }
  if (count < m_extra) {
    const int start = context.m_position;
    if (m_sub->Match(context)) {
      bool moved = context.m_position != start;
      while (!moved && m_sub->MatchNext(context)) moved = context.m_position != start;
      if (moved) {
        context.Push(start);
        context.Push(count + 1);
        return true;
      }
    }
  }
  while (count > 0) {
    const int start = context.Pop();
    while (m_sub->MatchNext(context)) {
      if (context.m_position != start) {
        context.Push(start);
        context.Push(count);
        return true;
      }
    }
    --count;
  }
  if (m_minimum > 0 && RunCopies(context, m_sub, m_minimum, true)) {
    context.Push(0);
    return true;
  }
  return false;
}

// Possessive repeats and independent groups keep their first way only: the backtrack entries
// of the inside are cut, and MatchNext just undoes position and captures.
namespace {

template <typename FirstWay>
bool KeepFirstWay(MatchContext& context, FirstWay firstWay) {
  const int position = context.m_position;
  const int captures = context.CaptureSize();
  const int backtrack = context.BacktrackSize();
  if (!firstWay()) return false;
  context.CutBacktrack(backtrack);
  context.Push(position);
  context.Push(captures);
  return true;
}

bool UndoFirstWay(MatchContext& context) {
  const int captures = context.Pop();
  const int position = context.Pop();
  context.CutCaptures(captures);
  context.m_position = position;
  return false;
}

}  // namespace

bool PossessiveRepeatElement::Match(MatchContext& context) const {
  return KeepFirstWay(context, [&] { return GreedyMatch(context); });
}

bool PossessiveRepeatElement::MatchNext(MatchContext& context) const {
  return UndoFirstWay(context);
}

bool IndependentElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  return KeepFirstWay(context, [&] { return m_sub->Match(context); });
}

bool IndependentElement::MatchNext(MatchContext& context) const { return UndoFirstWay(context); }

// Assertions consume nothing and are never re-entered; captures made inside a positive one stay.
bool AssertElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  const int position = context.m_position;
  const int captures = context.CaptureSize();
  const int backtrack = context.BacktrackSize();
  const bool matched = m_sub->Match(context) == m_positive;
  context.CutBacktrack(backtrack);
  context.m_position = position;
  if (!matched) {
    context.CutCaptures(captures);
    return false;
  }
  context.Push(captures);
  return true;
}

bool AssertElement::MatchNext(MatchContext& context) const {
  context.CutCaptures(context.Pop());
  return false;
}

bool ConditionalElement::Match(MatchContext& context) const {
  if (!context.Step()) return false;
  const int position = context.m_position;
  const int captures = context.CaptureSize();
  const int backtrack = context.BacktrackSize();
  bool yes;
  if (m_number == -1) {
    yes = m_condition == nullptr || m_condition->Match(context);
    context.CutBacktrack(backtrack);
    context.m_position = position;
  } else {
    const int n = m_number;
    yes = n >= 0 && n < static_cast<int>(context.m_captureIndex.size()) &&
          context.m_captureIndex[n] >= 0;
  }
  const RegexElement* branch = yes ? m_yes : m_no;
  if (branch != nullptr && !branch->Match(context)) {
    context.CutCaptures(captures);
    return false;
  }
  context.Push(captures);
  context.Push(yes ? 1 : 0);
  return true;
}

bool ConditionalElement::MatchNext(MatchContext& context) const {
  const bool yes = context.Pop() != 0;
  const int captures = context.Pop();
  const RegexElement* branch = yes ? m_yes : m_no;
  if (branch != nullptr && branch->MatchNext(context)) {
    context.Push(captures);
    context.Push(yes ? 1 : 0);
    return true;
  }
  context.CutCaptures(captures);
  return false;
}

bool RecursionElement::Match(MatchContext& context) const {
  if (m_target == nullptr) return true;
  if (!context.Step()) return false;
  if (context.m_recursionDepth > kMaxRecursionWeight - m_weight) return false;
  context.m_recursionDepth += m_weight;
  const bool matched = m_target->Match(context);
  context.m_recursionDepth -= m_weight;
  return matched;
}

bool RecursionElement::MatchNext(MatchContext& context) const {
  if (m_target == nullptr) return false;
  context.m_recursionDepth += m_weight;
  const bool matched = m_target->MatchNext(context);
  context.m_recursionDepth -= m_weight;
  return matched;
}

}  // namespace quarry
