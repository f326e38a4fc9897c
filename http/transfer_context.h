// What the page and file downloads need of the task that runs them: a place for their log
// lines, the task's stop flag, its proxies, the system calls that write files and a word when a
// file cannot be written. The task runner implements it; tests implement it with a recording stub,
// so the downloads are exercised without any threads.
#pragma once

#include <cstddef>
#include <string>

#include "platform/files.h"

namespace quarry {
struct ProxyChoice;
struct ProxySetting;
enum class ExchangeStart;  // exchange.h
}  // namespace quarry

namespace quarry {

class TransferContext {
public:
  virtual ~TransferContext() = default;

  // Writes one line on the log page of worker `thread` (1 to 6). Must not block for long:
  // it is called twice for every received chunk.
  virtual void Log(int thread, const std::string& text) = 0;

  // True once the task has been asked to stop; read before every receive.
  virtual bool IsStopped() const = 0;

  // The system calls a file download creates and writes its file with.
  virtual FileIo& Disk() { return FileIo::System(); }

  // The proxies the task's requests go through; null: every request goes direct.
  virtual const ProxyChoice* Proxies() const { return nullptr; }

  // An exchange of worker `thread` went through `proxy`, and `start` says how its start ended:
  // a Proxy outcome when the proxy stopped it, anything else once the proxy took the connection
  // (NoSocket says nothing of the proxy). Told once per exchange, before its other lines. The
  // default writes the line of a proxy failure on the worker's page (defined in exchange.cpp).
  virtual void OnProxyOutcome(int thread, const ProxySetting& proxy, ExchangeStart start);

  // A file download of worker `thread` received `bytes` more of its body.
  virtual void OnReceived(int thread, std::size_t bytes) {
    (void)thread;
    (void)bytes;
  }

  // A file download of worker `thread` could not create or write its file; `error` is the
  // errno value (ENOSPC for a full disk). Called once, after the download logged the failure.
  virtual void OnFileError(int thread, int error) {
    (void)thread;
    (void)error;
  }
};

}  // namespace quarry
