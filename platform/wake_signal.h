// A wake-up for a thread that waits a while and then looks again. Raise wakes every thread in
// Wait; a thread that read Count before it looked and found nothing to do returns from Wait at
// once when the signal rose in between, so no raise between the look and the wait is lost. The
// limit of a wait stays, so a missed raise costs no more than the old poll did.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quarry {

class WakeSignal {
public:
  std::uint64_t Count() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_count;
  }

  void Raise() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      ++m_count;
    }
    m_raised.notify_all();
  }

  // Returns when the signal has risen since `seen` was its count, or after `limit`.
  void Wait(std::uint64_t seen, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_raised.wait_for(guard, limit, [&] { return m_count != seen; });
  }

private:
  std::mutex m_lock;
  std::condition_variable m_raised;
  std::uint64_t m_count = 0;
};

}  // namespace quarry
