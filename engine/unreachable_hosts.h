// The hosts that a task run could not reach. A host whose name did not resolve, or that refused
// or never took a connection, for kFailuresToGiveUp different addresses is given up for the
// rest of the run: its further addresses are skipped without a look-up or a connection, so a
// page that lists thousands of links to a dead host costs three failures, not thousands. A host
// that takes a connection before it is given up starts counting afresh.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarry {

class UnreachableHosts {
public:
  static constexpr int kFailuresToGiveUp = 3;

  // True when `host` has been given up.
  bool IsGivenUp(std::string_view host);
  // Notes that `address` on `host` could not be reached. True only for the failure that gives
  // the host up, so that the caller tells it once.
  bool NoteFailure(std::string_view host, std::string_view address);
  // Notes that `host` took a connection: its failures so far are forgotten.
  void NoteReached(std::string_view host);

private:
  struct Failures {
    std::vector<std::string> addresses;  // the distinct addresses that failed, up to the limit
    bool givenUp = false;
  };
  std::mutex m_lock;
  std::unordered_map<std::string, Failures> m_hosts;
};

}  // namespace quarry
