// A scripted HTTP peer for network tests. It listens on 127.0.0.1 on a free port and plays,
// in its own thread, one script per accepted connection: read the request, send bytes, pause,
// close or reset, hold the connection without reading or answering. Everything it reads is
// recorded per connection, so tests can compare the exact request bytes. Every wait inside
// the server also watches a wake-up pipe, so Stop() (called by the fixture's TearDown) ends a
// script that holds, pauses or is blocked on a client that does not read, then joins the thread.
//
// Typical use in a test of a ScriptedServerTest fixture:
//   server.Connection().ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n").Close();
//   ASSERT_TRUE(server.Start());
//   ... talk to 127.0.0.1:server.Port() ...
//   EXPECT_EQ(server.Received(0), "GET / HTTP/1.1\r\n...");
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace quarry::testing {

class ScriptedServer {
public:
  // The script of one connection; its steps run in order. A script that ends without Close,
  // Reset or Hold closes the connection.
  class Script {
  public:
    // Reads until the request's blank line (CR LF CR LF) or until the peer closes.
    Script& ReadRequest();
    // Reads exactly `count` bytes (less if the peer closes first).
    Script& ReadBytes(std::size_t count);
    // Reads until the peer closes its side.
    Script& ReadUntilClosed();
    // Sends `bytes` whole (waits while the client's window is full).
    Script& Send(std::string bytes);
    // Waits `milliseconds`.
    Script& Pause(int milliseconds);
    // Closes the connection normally (FIN).
    Script& Close();
    // Closes the connection with a reset (RST).
    Script& Reset();
    // Keeps the connection open, reading nothing and sending nothing, until Stop().
    Script& Hold();

  private:
    friend class ScriptedServer;
    enum class Kind {
      kReadRequest,
      kReadBytes,
      kReadUntilClosed,
      kSend,
      kPause,
      kClose,
      kReset,
      kHold
    };
    struct Step {
      Kind kind;
      std::string bytes;
      std::size_t count = 0;
    };
    std::vector<Step> m_steps;
  };

  ScriptedServer() = default;
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Adds the script for the next connection to be accepted (scripts are played in the order of
  // acceptance). Add every script before Start(); the reference stays valid.
  Script& Connection();

  // Binds 127.0.0.1 on a free port, listens and starts the server thread. False on failure.
  bool Start();
  // Wakes every wait of the server, joins its thread and closes its sockets. Idempotent.
  void Stop();

  int Port() const { return m_port; }
  // The bytes read so far on connection `index` (in order of acceptance); "" if none.
  std::string Received(std::size_t index) const;
  // Connections accepted so far.
  std::size_t Accepted() const;
  // Waits up to `milliseconds` for `count` connections to have been accepted.
  bool WaitForAccepted(std::size_t count, int milliseconds) const;

private:
  void Run();
  void Play(int connection, std::size_t index);
  bool WaitFor(int descriptor, short events, int timeoutMs);  // false on stop or failure
  void Append(std::size_t index, const char* data, std::size_t size);

  std::deque<Script> m_scripts;  // a deque, so that earlier Connection() references stay valid
  int m_listener = -1;
  int m_wakeRead = -1;
  int m_wakeWrite = -1;
  int m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_received;  // guarded by m_mutex
  std::size_t m_accepted = 0;           // guarded by m_mutex
};

// Fixture: one scripted server per test, stopped and joined in TearDown.
class ScriptedServerTest : public ::testing::Test {
protected:
  void TearDown() override { server.Stop(); }
  ScriptedServer server;
};

}  // namespace quarry::testing
