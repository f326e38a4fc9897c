// What one search call has learnt about hopeless states, so that backtracking never explores
// the same hopeless state twice. The settling pass gives a memo slot to each greedy or lazy
// repeat whose continuation (everything the pattern still has to match after it) is the same
// whenever the repeat is reached: not inside another repeat, in a pattern without
// back-references, capture tests or recursion, whose outcome could depend on how a position was
// reached. For such a repeat, "the rest failed from position p" holds for the whole call:
// - a greedy repeat of a one-byte element (a class, the dot) keeps one range of stops where the
//   rest is known to fail, and the last run of its byte set it scanned; an attempt that starts
//   inside the same run finds every stop it could give back to in that range and fails at once
//   instead of scanning the run and giving it back again, which made a long run without blanks
//   cost time growing with the square of its length;
// - any other greedy or lazy repeat keeps a bit per position meaning "from here, with the
//   minimum count met, neither more iterations nor the rest can match"; iterations that end
//   there are treated as failed, which makes nested repeats such as (a*)*b polynomial.
// The memo only cuts off work that would fail, and failing work leaves nothing behind, so every
// result, captures included, is that of the plain backtracker. It is reset by every search call,
// since \G and the subject may differ between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarry {

// How many slots of each kind a compiled pattern uses.
struct MemoShape {
  int m_stopSlots = 0;     // greedy one-byte repeats: failed stops
  int m_runSlots = 0;      // distinct byte sets of those repeats: scanned runs
  int m_loopSlots = 0;     // other greedy and lazy repeats: position bits
  int m_literalSlots = 0;  // distinct literals that begin the root's branches
};

class SearchMemo {
public:
  // A range of positions; empty when low > high.
  struct Range {
    int low = 0;
    int high = -1;
    bool Has(int position) const { return low <= position && position <= high; }
  };

  // Forgets everything and sizes the tables for a program's slots and a subject of `length`
  // bytes. Position bits are kept for as many loop slots as kMaxLoopBits allows.
  void Reset(const MemoShape& shape, int length);

  // Stops of one-byte repeat `slot` where the rest is known to fail.
  const Range& FailedStops(int slot) const { return m_failedStops[slot]; }
  // Adds the stops low..high: joined with the known range when the two touch, else replacing it
  // (searches move one way, so the newest range is the useful one).
  void AddFailedStops(int slot, int low, int high);
  // The run of a byte set last scanned for run slot `slot`: every byte from low up to high
  // belongs to the set and the byte at high does not (or high is the subject's length).
  Range& Run(int slot) { return m_runs[slot]; }

  // What the search loop knows of a literal that begins branches of the root: no occurrence
  // begins from `from` up to before `to`, and when `found`, one begins at `to`.
  struct LiteralSearch {
    int from = 0;
    int to = -1;
    bool found = false;
  };
  LiteralSearch& Literal(int slot) { return m_literals[slot]; }

  // True when general repeat `slot` is known to fail from `position` once its minimum is met.
  bool LoopFailed(int slot, int position) const;
  void MarkLoopFailed(int slot, int position);

  // False makes searches run the plain backtracker; the twin test compares the two.
  bool m_enabled = true;

  // Bound on the position bits of one call (16 MB): slots beyond it are not memoised.
  static constexpr std::size_t kMaxLoopBits = std::size_t{1} << 27;

private:
  std::vector<Range> m_failedStops;
  std::vector<Range> m_runs;
  std::vector<LiteralSearch> m_literals;
  std::vector<std::uint64_t> m_loopBits;    // slot after slot, m_loopStride bits each
  std::vector<std::size_t> m_loopWordsSet;  // words of m_loopBits that are not zero
  int m_loopSlots = 0;                      // slots that get position bits this call
  std::size_t m_loopStride = 0;             // subject length + 1
};

}  // namespace quarry
