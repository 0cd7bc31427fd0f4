// Socket failures hand back their own reason.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "tools/script_server.h"

namespace {

TEST(SocketErrorTest, ARefusedConnectAndAnUnknownNameSayWhy) {
  const uint16_t port = tools::RefusingPort();
  platform::CSocket s(platform::OpenStreamSocket());
  ASSERT_TRUE(s.IsValid());
  ASSERT_TRUE(platform::SetNonBlocking(s.Get(), true));
  uint32_t address = 0;
  ASSERT_TRUE(platform::ResolveIPv4("127.0.0.1", &address));
  platform::StartConnect(s.Get(), address, port);
  platform::Outcome why;
  EXPECT_EQ(platform::WaitConnected(s.Get(), 5000, &why), -1);
  EXPECT_NE(why.code(), 0);
  EXPECT_EQ(why.text().rfind("connect: ", 0), 0u) << why.text();

  EXPECT_FALSE(platform::ResolveIPv4("no-such-host.invalid", &address, &why));
  EXPECT_EQ(why.text().rfind("resolve no-such-host.invalid: ", 0), 0u) << why.text();
}

TEST(SocketErrorTest, CallsOnAClosedDescriptorFailWithTheirReason) {
  constexpr platform::SocketHandle kClosed = 987654;
  char buffer[4];
  platform::Outcome why;
  EXPECT_EQ(platform::Recv(kClosed, buffer, sizeof buffer, 0, &why), -1);
  EXPECT_EQ(why.text().rfind("recv: ", 0), 0u) << why.text();
  EXPECT_EQ(platform::Send(kClosed, buffer, sizeof buffer, &why), -1);
  EXPECT_EQ(why.text().rfind("send: ", 0), 0u) << why.text();
  why = platform::SendAll(kClosed, buffer, sizeof buffer);
  EXPECT_EQ(why.text().rfind("send: ", 0), 0u) << why.text();
  why = platform::SetNonBlocking(kClosed, true);
  EXPECT_EQ(why.text().rfind("socket mode: ", 0), 0u) << why.text();
  why = platform::SetSocketTimeouts(kClosed, 1000);
  EXPECT_EQ(why.text().rfind("socket time-out: ", 0), 0u) << why.text();
}

}  // namespace
