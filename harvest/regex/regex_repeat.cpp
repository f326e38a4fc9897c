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
//
// Repeats with a memo slot (search_memo.h) also note where the rest of the pattern failed after
// them and treat those places as failed from then on: a greedy one-byte repeat never gives back
// to a stop known to fail, so it fails at once when all of its stops are; another repeat never
// lets an iteration end where, with the minimum met, everything was already tried.
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
  if (Memoised(context)) {  // left to right only
    int count = 0;
    if (m_runSlot >= 0) {
      const int run = RunEnd(context, set, start) - start;
      count = run < limit ? run : limit;
    } else {
      while (count < limit && set.Has(context.m_subject[start + count])) ++count;
      context.CountScan(count);
    }
    if (count < m_minimum) return false;
    const int stop = HighestOpenStop(context, start + count, start + m_minimum);
    if (stop < 0) return false;
    context.m_position = stop;
    context.Push(stop - start);
    return true;
  }
  const unsigned char* subject = context.m_subject;
  int count = 0;
  if (leftwards) {
    while (count < limit && set.Has(subject[start - 1 - count])) ++count;
  } else {
    while (count < limit && set.Has(subject[start + count])) ++count;
  }
  context.CountScan(count);
  if (count < m_minimum) return false;
  context.m_position = leftwards ? start - count : start + count;
  context.Push(leftwards ? count : GiveBackToFollow(context, count));
  return true;
}

bool RepeatElement::FastGreedyNext(MatchContext& context) const {
  const bool leftwards = m_sub->RightToLeft();
  int count = context.Pop();
  context.CountStep();
  if (Memoised(context)) {
    // Everything after the repeat failed from here.
    const int stop = context.m_position;
    const int start = stop - count;
    context.m_memo.AddFailedStops(m_memoSlot, stop, stop);
    const int next = count > m_minimum ? HighestOpenStop(context, stop - 1, start + m_minimum) : -1;
    if (next < 0) {
      context.m_position = start;
      return false;
    }
    context.m_position = next;
    context.Push(next - start);
    return true;
  }
  if (count <= m_minimum) {
    context.m_position += leftwards ? count : -count;
    return false;
  }
  --count;
  context.m_position += leftwards ? 1 : -1;
  context.Push(leftwards ? count : GiveBackToFollow(context, count));
  return true;
}

int RepeatElement::HighestFollowStop(MatchContext& context, int stop, int bottom) const {
  if (!m_follow.Active() || stop < bottom) return stop;
  const int from = stop;
  if (m_follow.m_literal.empty()) {
    while (stop >= bottom && !m_follow.Holds(context, stop)) --stop;
  } else {
    // Only stops whose literal would begin with its first byte are worth a full test, and a
    // backward byte search finds them fast.
    const int offset = static_cast<int>(m_follow.m_sets.size());
    const auto first = static_cast<unsigned char>(m_follow.m_literal[0]);
    while (stop >= bottom) {
      const int last = stop + offset < context.m_length ? stop + offset : context.m_length - 1;
      const int low = bottom + offset;
      const void* found =
          last >= low ? memrchr(context.m_subject + low, first, last - low + 1) : nullptr;
      if (found == nullptr) {
        stop = bottom - 1;
        break;
      }
      stop =
          static_cast<int>(static_cast<const unsigned char*>(found) - context.m_subject) - offset;
      if (m_follow.Holds(context, stop)) break;
      --stop;
    }
  }
  context.CountScan(from - stop);
  return stop;
}

int RepeatElement::GiveBackToFollow(MatchContext& context, int count) const {
  if (!m_follow.Active()) return count;
  const int start = context.m_position - count;
  int stop = HighestFollowStop(context, context.m_position, start + m_minimum);
  if (stop < start + m_minimum) stop = start + m_minimum;
  context.m_position = stop;
  return stop - start;
}

int RepeatElement::HighestOpenStop(MatchContext& context, int stop, int bottom) const {
  SearchMemo& memo = context.m_memo;
  while (stop >= bottom) {
    const SearchMemo::Range& failed = memo.FailedStops(m_memoSlot);
    if (failed.Has(stop)) {
      stop = failed.low - 1;
      continue;
    }
    const int open = HighestFollowStop(context, stop, bottom);
    memo.AddFailedStops(m_memoSlot, open + 1, stop);
    if (open < bottom) return -1;
    if (!memo.FailedStops(m_memoSlot).Has(open)) return open;
    stop = open;
  }
  return -1;
}

int RepeatElement::RunEnd(MatchContext& context, const ByteSet& set, int from) const {
  SearchMemo::Range& run = context.m_memo.Run(m_runSlot);
  if (run.Has(from)) return run.high;
  int end = from;
  while (end < context.m_length && set.Has(context.m_subject[end])) ++end;
  context.CountScan(end - from);
  run = SearchMemo::Range{from, end};
  return end;
}

bool RepeatElement::NextIterationWay(MatchContext& context, int start, int iteration,
                                     bool judge) const {
  for (;;) {
    if (judge) {
      if (iteration < m_minimum) return true;
      const bool mayBeEmpty = iteration == m_minimum;
      if ((mayBeEmpty || context.m_position != start) && !LoopFailed(context, context.m_position)) {
        return true;
      }
    }
    if (!m_sub->MatchNext(context)) return false;
    judge = true;
  }
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
        if (!m_sub->Match(context) || !NextIterationWay(context, start, count + 1, true)) break;
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
    if (NextIterationWay(context, start, count, false)) {
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
  if (m_minimum == 0 && LoopFailed(context, context.m_position)) return false;
  return GreedyResume(context, 0, false);
}

bool GreedyRepeatElement::Match(MatchContext& context) const { return GreedyMatch(context); }

bool GreedyRepeatElement::MatchNext(MatchContext& context) const {
  if (m_sub->SingleByteSet()) return FastGreedyNext(context);
  const int count = context.Pop();
  context.CountStep();
  // Everything after the repeat failed here, after every further iteration had failed too.
  if (count >= m_minimum) MarkLoopFailed(context, context.m_position);
  return GreedyResume(context, count, true);
}

namespace {

// The mandatory iterations of a lazy repeat, run like a list of `count` copies.
bool RunCopies(MatchContext& context, const RegexElement* sub, int count, bool backtrack) {
  return RunSequence(context, count, backtrack ? count : 0, backtrack, [&](int) { return sub; });
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
  while (LoopFailed(context, context.m_position)) {
    if (!RunCopies(context, m_sub, m_minimum, true)) return false;
  }
  context.Push(0);
  return true;
}

bool LazyRepeatElement::MatchNext(MatchContext& context) const {
  int count = context.Pop();
  context.CountStep();
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
  // The rest failed here; one more iteration is the next way.
  if (count < m_extra) {
    const int start = context.m_position;
    if (m_sub->Match(context) && NextIterationWay(context, start, m_minimum + count + 1, true)) {
      context.Push(start);
      context.Push(count + 1);
      return true;
    }
    MarkLoopFailed(context, start);
  }
  while (count > 0) {
    const int start = context.Pop();
    if (NextIterationWay(context, start, m_minimum + count, false)) {
      context.Push(start);
      context.Push(count);
      return true;
    }
    // The rest failed at `start` before this iteration was tried, and now every way of it has.
    MarkLoopFailed(context, start);
    --count;
  }
  while (m_minimum > 0 && RunCopies(context, m_sub, m_minimum, true)) {
    if (!LoopFailed(context, context.m_position)) {
      context.Push(0);
      return true;
    }
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
