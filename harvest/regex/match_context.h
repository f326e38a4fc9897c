// The working state of one search: the backtrack stack, the capture stack and its index, the
// current position and the subject. Elements keep everything they need for resuming on these
// stacks rather than in native frames, so a search's native recursion follows the nesting of the
// pattern and never the length of the subject. A caller that runs many searches may pass the
// same context to each of them so that the stacks' storage is reused.
//
// The context also meters a search: every element step, and every few bytes a tight loop
// scans, count against an optional step limit, and an optional interrupt check is polled every
// few thousand steps. Either one ends the search early, which then reports no match and says
// why in Halt().
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "harvest/regex/search_memo.h"

namespace quarry {

// Why a search ended before it had tried everything.
enum class SearchHalt { None, StepLimit, Interrupted };

class MatchContext {
public:
  // Pushes one entry onto the backtrack stack.
  void Push(std::int32_t value) { m_backtrack.push_back(value); }
  // Pops the top backtrack entry; an empty stack yields 0.
  std::int32_t Pop() {
    if (m_backtrack.empty()) return 0;
    const std::int32_t value = m_backtrack.back();
    m_backtrack.pop_back();
    return value;
  }
  int BacktrackSize() const { return static_cast<int>(m_backtrack.size()); }
  // Cuts the backtrack stack back to `size` entries (no-op when already smaller).
  void CutBacktrack(int size) {
    if (size >= 0 && static_cast<std::size_t>(size) < m_backtrack.size()) m_backtrack.resize(size);
  }
  int CaptureSize() const { return static_cast<int>(m_captures.size()); }
  // Removes every capture record from `size` on and points each affected group's index at
  // its next lower record, so that no index ever refers past the top of the capture stack.
  void CutCaptures(int size);
  // Index of the highest record of `group` below record index `below`, or -1.
  int FindLowerRecord(int group, int below) const;

  // Counts one step of work; false once the search must end (the step limit is used up or the
  // interrupt check asked for it). Elements then fail, and the search reports no match.
  bool Step() { return ++m_steps <= m_nextCheck || CheckPoint(); }
  // Counts a step where the search cannot end (a way back out of an element); the next Step
  // settles it.
  void CountStep() { ++m_steps; }
  // Counts the work of scanning `bytes` bytes in a tight loop; the next Step settles it.
  void CountScan(std::int64_t bytes) { m_steps += bytes / kScanBytesPerStep; }
  // Why the last search ended early, or None.
  SearchHalt Halt() const { return m_halt; }
  bool Halted() const { return m_halt != SearchHalt::None; }
  // Starts the metering of a search: no steps taken, nothing halted.
  void BeginSearch();

  static constexpr int kRecordSize = 4;  // group, start, end (-1 while open), re-entry depth
  // A byte test in a tight loop costs a small fraction of an element step.
  static constexpr std::int64_t kScanBytesPerStep = 16;
  // Steps between two calls of the interrupt check: rare enough to cost nothing, frequent
  // enough to answer within a fraction of a millisecond.
  static constexpr std::int64_t kInterruptCheckSteps = 4096;

  std::vector<std::int32_t> m_backtrack;
  std::vector<std::int32_t> m_captures;      // records of kRecordSize ints
  std::vector<std::int32_t> m_captureIndex;  // per group: latest record's index, or negative
  int m_position = 0;
  int m_searchStart = 0;
  const unsigned char* m_subject = nullptr;
  int m_length = 0;

  // Work limit of one search call in steps; negative means unlimited (the default). Tools that
  // feed untrusted patterns or subjects set it so that runaway backtracking ends.
  std::int64_t m_stepLimit = -1;
  // Polled during a search when set; returning true ends the search (Halt() says Interrupted).
  std::function<bool()> m_interrupt;
  std::int64_t m_steps = 0;  // steps of the current (or last) search call
  // Native depth used by group recursion in this search, against the engine's bound.
  int m_recursionDepth = 0;
  // Failures learnt during the current search call (see search_memo.h).
  SearchMemo m_memo;

private:
  // The slow half of Step: settles the limit and polls the interrupt check.
  bool CheckPoint();

  std::int64_t m_nextCheck = std::numeric_limits<std::int64_t>::max();
  SearchHalt m_halt = SearchHalt::None;
};

}  // namespace quarry
