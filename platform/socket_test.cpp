// Socket failures leave their reason in the platform's error model.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "tools/script_server.h"

namespace {

TEST(SocketErrorTest, ARefusedConnectAndAnUnknownNameSayWhy) {
  const uint16_t port = tools::RefusingPort();
  platform::SocketHandle s = platform::OpenStreamSocket();
  ASSERT_NE(s, platform::kInvalidSocket);
  ASSERT_TRUE(platform::SetNonBlocking(s, true));
  uint32_t address = 0;
  ASSERT_TRUE(platform::ResolveIPv4("127.0.0.1", &address));
  platform::StartConnect(s, address, port);
  EXPECT_EQ(platform::WaitConnected(s, 5000), -1);
  EXPECT_NE(platform::LastError().code(), 0);
  EXPECT_EQ(platform::LastError().text().rfind("connect: ", 0), 0u) << platform::LastError().text();
  platform::CloseSocket(s);

  EXPECT_FALSE(platform::ResolveIPv4("no-such-host.invalid", &address));
  EXPECT_EQ(platform::LastError().text().rfind("resolve no-such-host.invalid: ", 0), 0u)
      << platform::LastError().text();
}

TEST(SocketErrorTest, AReceiveOnAClosedDescriptorFailsWithItsReason) {
  char buffer[4];
  EXPECT_EQ(platform::Recv(987654, buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(platform::LastError().text().rfind("recv: ", 0), 0u) << platform::LastError().text();
  EXPECT_EQ(platform::Send(987654, buffer, sizeof buffer), -1);
  EXPECT_EQ(platform::LastError().text().rfind("send: ", 0), 0u);
}

}  // namespace
