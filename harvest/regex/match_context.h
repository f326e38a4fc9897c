// The working state of one search: the backtrack stack, the capture stack and its index, the
// current position and the subject. Elements keep everything they need for resuming on these
// stacks rather than in native frames, so a search's native recursion follows the nesting of the
// pattern and never the length of the subject. A caller that runs many searches may pass the
// same context to each of them so that the stacks' storage is reused.
#pragma once

#include <cstdint>
#include <vector>

namespace quarry {

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

  // Counts one step of work; false once the step limit is used up (the search then fails).
  bool Step() { return m_stepLimit < 0 || ++m_steps <= m_stepLimit; }
  bool Exhausted() const { return m_stepLimit >= 0 && m_steps > m_stepLimit; }

  static constexpr int kRecordSize = 4;  // group, start, end (-1 while open), re-entry depth

  std::vector<std::int32_t> m_backtrack;
  std::vector<std::int32_t> m_captures;      // records of kRecordSize ints
  std::vector<std::int32_t> m_captureIndex;  // per group: latest record's index, or negative
  int m_position = 0;
  int m_searchStart = 0;
  const unsigned char* m_subject = nullptr;
  int m_length = 0;

  // Work limit of one search call in element steps; negative means unlimited (the default).
  // Tools that feed untrusted patterns set it so that exponential backtracking ends.
  std::int64_t m_stepLimit = -1;
  std::int64_t m_steps = 0;
  // Native depth used by group recursion in this search, against the engine's bound.
  int m_recursionDepth = 0;
};

}  // namespace quarry
