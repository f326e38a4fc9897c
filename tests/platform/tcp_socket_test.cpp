// The socket layer's error classes and name resolution (no network beyond the loopback).
#include "platform/tcp_socket.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace quarry {
namespace {

TEST(TcpSocketTest, SendErrorsThatMeanTheTimeLimitOrAGonePeerGiveZero) {
  for (const int error :
       {ETIMEDOUT, EAGAIN, EWOULDBLOCK, ECONNABORTED, ECONNRESET, EPIPE, EHOSTUNREACH, ESHUTDOWN}) {
    EXPECT_EQ(SendErrorResult(error), 0) << error;
  }
  for (const int error : {EBADF, ENOTSOCK, EINVAL, ENOTCONN, EMSGSIZE, ENOMEM, 0}) {
    EXPECT_EQ(SendErrorResult(error), -1) << error;
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
  EXPECT_TRUE(second.SetTimeLimit(1500, false));
  EXPECT_FALSE(second.SetTimeLimit(-1, false));
  EXPECT_TRUE(second.Close());
  EXPECT_EQ(second.Descriptor(), kNoSocket);
  EXPECT_TRUE(second.Close());  // nothing left to close
  EXPECT_FALSE(second.SetTimeLimit(100, true));
}

}  // namespace
}  // namespace quarry
