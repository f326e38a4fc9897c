// Capture-stack upkeep shared by the elements that undo captures wholesale (possessive repeats,
// independent groups, assertions, conditionals): cutting the stack must also repair the index,
// or a later back-reference would read a record that no longer exists.
#include "harvest/regex/match_context.h"

namespace quarry {

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
