// The address typed to reach a remote instance: host and port rules, and the
// socket address it resolves to.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "net/RemoteAddress.h"

namespace {

TEST(RemoteAddress, HostAndPortRules) {
  struct Case {
    const wchar_t* text;
    int accepted;
    const wchar_t* host;
    uint16_t port;
  };
  const Case cases[] = {
      {L"127.0.0.1", 1, L"127.0.0.1", 6000},
      {L"127.0.0.1:0", 1, L"127.0.0.1", 6000},
      {L"127.0.0.1:", 1, L"127.0.0.1", 6000},
      {L"127.0.0.1:1", 1, L"127.0.0.1", 1},
      {L"127.0.0.1:6001", 1, L"127.0.0.1", 6001},
      {L"127.0.0.1:65535", 1, L"127.0.0.1", 65535},
      {L"127.0.0.1:65536", 0, nullptr, 0},  // would wrap to 0, i.e. 6000
      {L"127.0.0.1:71536", 0, nullptr, 0},  // would wrap to 6000
      {L"127.0.0.1:4294973296", 0, nullptr, 0},
      {L"127.0.0.1:-1", 0, nullptr, 0},
      {L"127.0.0.1:60x", 0, nullptr, 0},
      {L"127.0.0.1: 6000", 0, nullptr, 0},
      {L"127.0.0.1:6000:7000", 0, nullptr, 0},
      {L"localhost:6002", 1, L"localhost", 6002},
      {L":6000", 0, nullptr, 0},
      {L"", 0, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.text, c.text + wcslen(c.text)));
    CString host;
    uint16_t port = 0;
    ASSERT_EQ(c.accepted, ParseRemoteAddress(c.text, &host, &port));
    if (c.accepted) {
      EXPECT_STREQ(c.host, host.c_str());
      EXPECT_EQ(c.port, port);
    }
  }
}

class RemoteSocketAddress : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
  }
  void TearDown() override { WSACleanup(); }
};

TEST_F(RemoteSocketAddress, DottedAndNamedHostsResolve) {
  struct Case {
    const wchar_t* text;
    int made;
    uint16_t port;
  };
  const Case cases[] = {
      {L"127.0.0.1", 1, 6000},
      {L"127.0.0.1:6123", 1, 6123},
      {L"localhost:6124", 1, 6124},
      {L"127.0.0.1:65536", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.text, c.text + wcslen(c.text)));
    sockaddr_in address = {};
    ASSERT_EQ(c.made, MakeRemoteSocketAddress(c.text, &address));
    if (c.made) {
      EXPECT_EQ(AF_INET, address.sin_family);
      EXPECT_EQ(c.port, ntohs(address.sin_port));
      EXPECT_EQ(htonl(INADDR_LOOPBACK), address.sin_addr.s_addr);
    }
  }
}

}  // namespace
