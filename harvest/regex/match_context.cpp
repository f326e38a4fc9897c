// Capture-stack upkeep shared by the elements that undo captures wholesale (possessive repeats,
// independent groups, assertions, conditionals): cutting the stack must also repair the index,
// or a later back-reference would read a record that no longer exists. And the metering of a
// search: Step's fast path only compares the count with the next check point, computed here.
#include "harvest/regex/match_context.h"

#include <algorithm>

namespace quarry {
namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

}  // namespace

void MatchContext::BeginSearch() {
  m_steps = 0;
  m_halt = SearchHalt::None;
  m_nextCheck = m_interrupt ? kInterruptCheckSteps : kNever;
  if (m_stepLimit >= 0) m_nextCheck = std::min(m_nextCheck, m_stepLimit);
}

bool MatchContext::CheckPoint() {
  if (m_halt != SearchHalt::None) return false;
  if (m_stepLimit >= 0 && m_steps > m_stepLimit) {
    m_halt = SearchHalt::StepLimit;
  } else if (m_interrupt && m_interrupt()) {
    m_halt = SearchHalt::Interrupted;
  }
  if (m_halt != SearchHalt::None) {
    m_nextCheck = std::numeric_limits<std::int64_t>::min();  // every later step comes here
    return false;
  }
  m_nextCheck = m_interrupt ? m_steps + kInterruptCheckSteps : kNever;
  if (m_stepLimit >= 0) m_nextCheck = std::min(m_nextCheck, m_stepLimit);
  return true;
}

int MatchContext::FindLowerRecord(int group, int below) const {
  for (int index = below - kRecordSize; index >= 0; index -= kRecordSize) {
    if (m_captures[index] == group) return index;
  }
  return -1;
}

void MatchContext::CutCaptures(int size) {
  if (size < 0) size = 0;
  for (int index = CaptureSize() - kRecordSize; index >= size; index -= kRecordSize) {
    const int group = m_captures[index];
    if (group >= 0 && group < static_cast<int>(m_captureIndex.size()) &&
        m_captureIndex[group] == index) {
      m_captureIndex[group] = FindLowerRecord(group, index);
    }
  }
  if (static_cast<std::size_t>(size) < m_captures.size()) m_captures.resize(size);
}

}  // namespace quarry
