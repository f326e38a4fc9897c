// The steps of an address that every road takes on its way to a server: split it and resolve
// its host (Locate), then ask what it holds (AskHead). Both tell failures on the worker's log
// page and keep the run's unreachable hosts through the road's host.
#pragma once

#include <cstdint>

#include "engine/road.h"
#include "http/split_url.h"
#include "http/transfer.h"

namespace quarry {

// The dotted-address buffer of a worker: "255.255.255.255" and change.
inline constexpr std::size_t kDestinationAddressSize = 25;

// Where a taken address is served from.
struct Destination {
  char host[kSplitHostSize] = {};
  char path[kSplitPathSize] = {};
  std::uint16_t port = 80;
  char dotted[kDestinationAddressSize] = {};  // the host's IPv4 address
  bool secure = false;                        // https: TLS, in either mode
  const ProxySetting* proxy = nullptr;        // the proxy to go through; null: direct
  // The HEAD's connection, kept for the GET when the server leaves it open: a connection less
  // per address.
  SpareConnection spare;

  ExchangeTarget Target() { return {host, path, dotted, port, secure, &spare, proxy}; }
};

// Splits `address` and resolves its host into `where`, unless the task's proxies send it
// through a proxy, which resolves the host itself. A malformed address is dropped without
// a line; a host that does not resolve is told with the address, not the host. False for both,
// and for a host given up for the run.
bool Locate(RoadHost& host, int thread, const char* address, Destination* where);

// Asks `target` what `address` holds into `head`; every failure gives up the address alike,
// with its lines. False on a failure.
bool AskHead(RoadHost& host, int thread, const char* address, const ExchangeTarget& target,
             HeadAnswer* head);

}  // namespace quarry
