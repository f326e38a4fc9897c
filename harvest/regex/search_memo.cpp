// The tables of the search memo. Position bits are cleared word by word from a list of the
// words that were set, so a call that set few of them pays little to forget them, however long
// the subject.
#include "harvest/regex/search_memo.h"

#include <algorithm>

namespace quarry {

void SearchMemo::Reset(const MemoShape& shape, int length) {
  m_failedStops.assign(static_cast<std::size_t>(shape.m_stopSlots), Range{});
  m_runs.assign(static_cast<std::size_t>(shape.m_runSlots), Range{});
  m_literals.assign(static_cast<std::size_t>(shape.m_literalSlots), LiteralSearch{});
  for (const std::size_t word : m_loopWordsSet) m_loopBits[word] = 0;
  m_loopWordsSet.clear();
  m_loopStride = static_cast<std::size_t>(length) + 1;
  m_loopSlots = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(shape.m_loopSlots),
                                                       kMaxLoopBits / m_loopStride));
}

void SearchMemo::AddFailedStops(int slot, int low, int high) {
  if (low > high) return;
  Range& known = m_failedStops[slot];
  if (known.low <= known.high && low <= known.high + 1 && known.low <= high + 1) {
    known.low = std::min(known.low, low);
    known.high = std::max(known.high, high);
  } else {
    known = Range{low, high};
  }
}

bool SearchMemo::LoopFailed(int slot, int position) const {
  if (slot >= m_loopSlots || m_loopBits.empty()) return false;
  const std::size_t bit = static_cast<std::size_t>(slot) * m_loopStride + position;
  return bit / 64 < m_loopBits.size() && ((m_loopBits[bit / 64] >> (bit % 64)) & 1U) != 0;
}

void SearchMemo::MarkLoopFailed(int slot, int position) {
  if (slot >= m_loopSlots) return;
  const std::size_t bit = static_cast<std::size_t>(slot) * m_loopStride + position;
  const std::size_t words = (static_cast<std::size_t>(m_loopSlots) * m_loopStride + 63) / 64;
  if (m_loopBits.size() < words) m_loopBits.resize(words, 0);
  std::uint64_t& word = m_loopBits[bit / 64];
  if (word == 0) m_loopWordsSet.push_back(bit / 64);
  word |= std::uint64_t{1} << (bit % 64);
}

}  // namespace quarry
