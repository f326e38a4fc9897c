// See unreachable_hosts.h.
#include "engine/unreachable_hosts.h"

#include <algorithm>

namespace quarry {

bool UnreachableHosts::IsGivenUp(std::string_view host) {
  std::lock_guard<std::mutex> guard(m_lock);
  const auto found = m_hosts.find(std::string(host));
  return found != m_hosts.end() && found->second.givenUp;
}

bool UnreachableHosts::NoteFailure(std::string_view host, std::string_view address) {
  std::lock_guard<std::mutex> guard(m_lock);
  Failures& failures = m_hosts[std::string(host)];
  if (failures.givenUp) return false;
  std::vector<std::string>& seen = failures.addresses;
  if (std::find(seen.begin(), seen.end(), address) != seen.end()) return false;
  seen.emplace_back(address);
  if (static_cast<int>(seen.size()) < kFailuresToGiveUp) return false;
  failures.givenUp = true;
  seen.clear();
  seen.shrink_to_fit();
  return true;
}

void UnreachableHosts::NoteReached(std::string_view host) {
  std::lock_guard<std::mutex> guard(m_lock);
  const auto found = m_hosts.find(std::string(host));
  if (found != m_hosts.end() && !found->second.givenUp) m_hosts.erase(found);
}

}  // namespace quarry
