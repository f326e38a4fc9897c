// The socket layer's error classes, name resolution and time limits (no network beyond the
// loopback).
#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace quarry {
namespace {

TEST(TcpSocketTest, SendErrorsThatMeanTheTimeLimitOrAGonePeerAreTold) {
  for (const int error :
       {ETIMEDOUT, EAGAIN, EWOULDBLOCK, ECONNABORTED, ECONNRESET, EPIPE, EHOSTUNREACH, ESHUTDOWN}) {
    EXPECT_TRUE(IsGoneOrLateError(error)) << error;
  }
  for (const int error : {EBADF, ENOTSOCK, EINVAL, ENOTCONN, EMSGSIZE, ENOMEM, 0}) {
    EXPECT_FALSE(IsGoneOrLateError(error)) << error;
  }
}

TEST(TcpSocketTest, ResolvesToDottedIpv4) {
  EXPECT_EQ(ResolveIpv4("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ResolveIpv4("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveIpv4(""), "");
  EXPECT_EQ(ResolveIpv4(nullptr), "");
}

TEST(TcpSocketTest, OwnerClosesOnceAndMovesItsDescriptor) {
  TcpSocket first = TcpSocket::OpenStream();
  ASSERT_TRUE(first.Valid());
  const int descriptor = first.Descriptor();
  TcpSocket second(std::move(first));
  EXPECT_FALSE(first.Valid());
  EXPECT_EQ(second.Descriptor(), descriptor);
  EXPECT_TRUE(second.Close());
  EXPECT_EQ(second.Descriptor(), kNoSocket);
  EXPECT_TRUE(second.Close());  // nothing left to close
  EXPECT_FALSE(second.SetTimeLimit(100, true));
}

// The limit as the system holds it, read back from the socket.
timeval LimitOf(const TcpSocket& socket, int option) {
  timeval limit{-1, -1};
  socklen_t size = sizeof limit;
  EXPECT_EQ(getsockopt(socket.Descriptor(), SOL_SOCKET, option, &limit, &size), 0);
  return limit;
}

TEST(TcpSocketTest, TimeLimitsReachTheSocketInSecondsAndMicroseconds) {
  struct Case {
    int milliseconds;
    long seconds;
    long microseconds;
  } cases[] = {{1500, 1, 500000}, {20000, 20, 0}, {20, 0, 20000}, {0, 0, 0}};
  TcpSocket socket = TcpSocket::OpenStream();
  ASSERT_TRUE(socket.Valid());
  for (const Case& c : cases) {
    for (const bool sending : {false, true}) {
      ASSERT_TRUE(socket.SetTimeLimit(c.milliseconds, sending)) << c.milliseconds;
      const timeval limit = LimitOf(socket, sending ? SO_SNDTIMEO : SO_RCVTIMEO);
      EXPECT_EQ(limit.tv_sec, c.seconds) << c.milliseconds << (sending ? " send" : " receive");
      EXPECT_EQ(limit.tv_usec, c.microseconds)
          << c.milliseconds << (sending ? " send" : " receive");
    }
  }
  // Setting one direction leaves the other alone; a negative limit is refused and changes nothing.
  ASSERT_TRUE(socket.SetTimeLimit(1500, false));
  ASSERT_TRUE(socket.SetTimeLimit(0, true));
  EXPECT_FALSE(socket.SetTimeLimit(-1, false));
  EXPECT_EQ(LimitOf(socket, SO_RCVTIMEO).tv_usec, 500000);
  EXPECT_EQ(LimitOf(socket, SO_SNDTIMEO).tv_sec, 0);
}

TEST(TcpSocketTest, AReadFromASilentServerEndsAtTheReceiveLimit) {
  // A listener that never accepts: the kernel completes the connection, and nothing is sent.
  TcpSocket listener = TcpSocket::OpenStream();
  ASSERT_TRUE(listener.Valid());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener.Descriptor(), reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(listener.Descriptor(), 4), 0);
  ASSERT_EQ(getsockname(listener.Descriptor(), reinterpret_cast<sockaddr*>(&address), &size), 0);

  TcpSocket client = TcpSocket::OpenStream();
  ASSERT_EQ(client.ConnectWithin("127.0.0.1", ntohs(address.sin_port), 5000),
            ConnectOutcome::Connected);
  constexpr int kLimitMs = 500;
  ASSERT_TRUE(client.SetTimeLimit(kLimitMs, false));
  char buffer[16];
  int error = 0;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Receive(buffer, sizeof buffer, false, &error), -1);
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  EXPECT_TRUE(error == EAGAIN || error == EWOULDBLOCK) << error;
  // Wide bounds: this checks the unit of the limit, not the speed of the machine.
  EXPECT_GE(waited.count(), kLimitMs * 8 / 10);
  EXPECT_LT(waited.count(), kLimitMs + 2500);
}

// A peer that sends a byte every 40 ms keeps each receive short, yet the deadline ends them all:
// the reader gets some bytes, then EAGAIN, and after the deadline is lifted the limit it had
// set holds again.
TEST(TcpSocketTest, ADeadlineEndsReceivesFromAPeerThatTrickles) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  TcpSocket reader(pair[0]);
  TcpSocket writer(pair[1]);
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (int sent = 0; sent < 100 && !done.load(); ++sent) {
      int error = 0;
      if (writer.Send("x", 1, &error) != 1) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  ASSERT_TRUE(reader.SetTimeLimit(10000, false));
  reader.SetReceiveDeadline(400);
  int received = 0;
  int error = 0;
  char byte = 0;
  while (reader.Receive(&byte, 1, false, &error) == 1) ++received;
  EXPECT_TRUE(error == EAGAIN || error == EWOULDBLOCK) << error;
  EXPECT_GT(received, 0);
  EXPECT_LT(received, 100);  // all the peer had: the deadline did not hold
  reader.SetReceiveDeadline(0);
  EXPECT_EQ(LimitOf(reader, SO_RCVTIMEO).tv_sec, 10);
  EXPECT_EQ(reader.Receive(&byte, 1, false, &error), 1);  // unbounded again
  done.store(true);
  trickle.join();
}

}  // namespace
}  // namespace quarry
