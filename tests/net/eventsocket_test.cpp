#include "net/EventSocket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Every wait is bounded: a missing network event fails the test instead of
// hanging it.
constexpr DWORD kWaitMs = 10000;
constexpr int kBacklog = 5;
constexpr uint32_t kLiveViewer = 1;
constexpr uint32_t kFileFetch = 3;
// Small kernel buffers make a large write hit WSAEWOULDBLOCK for certain.
constexpr int kSmallKernelBuffer = 64 * 1024;
constexpr size_t kLargeTransfer = 4 * 1024 * 1024;

class WinsockEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
  }
  void TearDown() override { WSACleanup(); }
};

const auto* const kWinsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = Loopback();
  return address;
}

std::unique_ptr<CSocketService> ListenLoopback() {
  return std::unique_ptr<CSocketService>(CSocketService::Listen(0, kBacklog, Loopback()));
}

// Network events seen on one socket so far, with the error code of each.
struct EventLog {
  long seen = 0;
  int error[FD_MAX_EVENTS] = {};

  void Add(const WSANETWORKEVENTS& events) {
    seen |= events.lNetworkEvents;
    for (int bit = 0; bit < FD_MAX_EVENTS; ++bit) {
      if (events.lNetworkEvents & (1L << bit)) error[bit] = events.iErrorCode[bit];
    }
  }
  bool Has(long mask) const { return (seen & mask) == mask; }
};

// Waits on the socket's event until every event of the mask was seen.
bool WaitFor(const CEventSocket& socket, long mask, EventLog* log) {
  while (!log->Has(mask)) {
    if (WaitForSingleObject(socket.Event(), kWaitMs) != WAIT_OBJECT_0) return false;
    WSANETWORKEVENTS events = {};
    if (!socket.EnumNetworkEvents(&events)) return false;
    log->Add(events);
  }
  return true;
}

// A listener with one connection between a client and its accepted end.
struct Connection {
  std::unique_ptr<CSocketService> service;
  std::unique_ptr<CSocketClient> client;
  std::unique_ptr<CSocketClient> server;
  EventLog listenLog;
  EventLog clientLog;
  EventLog serverLog;
};

void Establish(Connection* c, uint32_t clientType = kLiveViewer) {
  c->service = ListenLoopback();
  ASSERT_TRUE(c->service);
  const uint16_t port = c->service->LocalPort();
  ASSERT_NE(0, port);
  c->client.reset(CSocketClient::Connect(LoopbackAddress(port), clientType));
  ASSERT_TRUE(c->client);
  ASSERT_TRUE(WaitFor(*c->service, FD_ACCEPT, &c->listenLog));
  EXPECT_EQ(0, c->listenLog.error[FD_ACCEPT_BIT]);
  c->server.reset(CSocketService::WrapAccepted(c->service->Accept()));
  ASSERT_TRUE(c->server);
  ASSERT_TRUE(WaitFor(*c->client, FD_CONNECT, &c->clientLog));
  ASSERT_EQ(0, c->clientLog.error[FD_CONNECT_BIT]);
}

// Four-byte words counting up from 0, so a lost or reordered chunk shows.
std::vector<uint8_t> CountingBytes(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) {
    const uint32_t word = static_cast<uint32_t>(i / 4);
    bytes[i] = static_cast<uint8_t>(word >> (8 * (i % 4)));
  }
  return bytes;
}

void SetKernelBuffer(SOCKET socket, int option) {
  const int bytes = kSmallKernelBuffer;
  ASSERT_EQ(0, setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&bytes), sizeof(bytes)));
}

std::string Received(CSocketClient& socket) {
  return std::string(reinterpret_cast<const char*>(socket.Input().Data()), socket.Input().Size());
}

// ----------------------------------------------------------- Whole exchange

TEST(EventSocket, LoopbackExchangeSignalsEveryEvent) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(Establish(&c));
  EXPECT_EQ(kLiveViewer, c.client->ClientType());
  EXPECT_EQ(0u, c.server->ClientType());
  EXPECT_EQ(Loopback(), c.server->PeerAddress());

  // An accepted socket may send at once.
  ASSERT_TRUE(WaitFor(*c.server, FD_WRITE, &c.serverLog));
  const char request[] = "request";
  ASSERT_EQ(1, c.client->Write(request, sizeof(request) - 1));
  EXPECT_EQ(0u, c.client->Output().Size());
  ASSERT_TRUE(WaitFor(*c.server, FD_READ, &c.serverLog));
  EXPECT_EQ(0, c.serverLog.error[FD_READ_BIT]);
  EXPECT_EQ(SOCKET_ERROR, c.server->OnRecv());
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
  EXPECT_EQ("request", Received(*c.server));

  const char reply[] = "reply";
  ASSERT_EQ(1, c.server->Write(reply, sizeof(reply) - 1));
  ASSERT_TRUE(WaitFor(*c.client, FD_READ, &c.clientLog));
  c.client->OnRecv();
  EXPECT_EQ("reply", Received(*c.client));

  c.client.reset();
  ASSERT_TRUE(WaitFor(*c.server, FD_CLOSE, &c.serverLog));
  EXPECT_EQ(0, c.serverLog.error[FD_CLOSE_BIT]);
  EXPECT_EQ(0, c.server->OnRecv());
}

TEST(EventSocket, ConnectToClosedPortReportsRefusalThroughConnectEvent) {
  uint16_t port = 0;
  {
    const std::unique_ptr<CSocketService> probe = ListenLoopback();
    ASSERT_TRUE(probe);
    port = probe->LocalPort();
  }
  ASSERT_NE(0, port);
  const std::unique_ptr<CSocketClient> client(CSocketClient::Connect(LoopbackAddress(port), kFileFetch));
  ASSERT_TRUE(client) << "a refused connect must be reported later, not at once";
  EventLog log;
  ASSERT_TRUE(WaitFor(*client, FD_CONNECT, &log));
  EXPECT_EQ(WSAECONNREFUSED, log.error[FD_CONNECT_BIT]);
}

TEST(EventSocket, QueuedBytesWaitForConnectAndLeaveOnWriteEvent) {
  const std::unique_ptr<CSocketService> service = ListenLoopback();
  ASSERT_TRUE(service);
  const std::unique_ptr<CSocketClient> client(CSocketClient::Connect(LoopbackAddress(service->LocalPort()), kLiveViewer));
  ASSERT_TRUE(client);
  // Written before the connection is up: the bytes stay queued.
  const char early[] = "early";
  ASSERT_EQ(1, client->Write(early, sizeof(early) - 1));
  EventLog clientLog;
  ASSERT_TRUE(WaitFor(*client, FD_CONNECT | FD_WRITE, &clientLog));
  EXPECT_EQ(0u, client->OnSend());

  EventLog listenLog;
  ASSERT_TRUE(WaitFor(*service, FD_ACCEPT, &listenLog));
  const std::unique_ptr<CSocketClient> server(CSocketService::WrapAccepted(service->Accept()));
  ASSERT_TRUE(server);
  EventLog serverLog;
  ASSERT_TRUE(WaitFor(*server, FD_READ, &serverLog));
  server->OnRecv();
  EXPECT_EQ("early", Received(*server));
}

// ------------------------------------------------------------ Large streams

TEST(EventSocket, LargeWriteArrivesWholeAndInOrder) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(Establish(&c));
  ASSERT_NO_FATAL_FAILURE(SetKernelBuffer(c.server->Handle(), SO_SNDBUF));
  ASSERT_NO_FATAL_FAILURE(SetKernelBuffer(c.client->Handle(), SO_RCVBUF));
  const std::vector<uint8_t> sent = CountingBytes(kLargeTransfer);

  ASSERT_EQ(1, c.server->Write(sent.data(), sent.size()));
  ASSERT_GT(c.server->Output().Size(), 0u) << "the socket must have pushed back";

  std::vector<uint8_t> received;
  received.reserve(sent.size());
  const HANDLE events[] = {c.server->Event(), c.client->Event()};
  while (received.size() < sent.size()) {
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, kWaitMs);
    ASSERT_TRUE(woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1)
        << "stalled after " << received.size() << " bytes, " << c.server->Output().Size() << " queued";
    WSANETWORKEVENTS serverEvents = {};
    ASSERT_TRUE(c.server->EnumNetworkEvents(&serverEvents));
    if (serverEvents.lNetworkEvents & FD_WRITE) {
      ASSERT_EQ(0, serverEvents.iErrorCode[FD_WRITE_BIT]);
      c.server->OnSend();
    }
    WSANETWORKEVENTS clientEvents = {};
    ASSERT_TRUE(c.client->EnumNetworkEvents(&clientEvents));
    ASSERT_FALSE(clientEvents.lNetworkEvents & FD_CLOSE);
    if (clientEvents.lNetworkEvents & FD_READ) {
      ASSERT_EQ(0, clientEvents.iErrorCode[FD_READ_BIT]);
      c.client->OnRecv();
      CByteBuffer& input = c.client->Input();
      received.insert(received.end(), input.Data(), input.Data() + input.Size());
      input.Consume(input.Size());
    }
  }
  EXPECT_EQ(0u, c.server->Output().Size());
  ASSERT_EQ(sent.size(), received.size());
  EXPECT_TRUE(sent == received);
}

TEST(EventSocket, PeerClosingMidStreamLeavesNoByteBehind) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(Establish(&c));
  constexpr size_t kStreamBytes = 300000;
  const std::vector<uint8_t> sent = CountingBytes(kStreamBytes);
  ASSERT_EQ(1, c.server->Write(sent.data(), sent.size()));
  while (c.server->Output().Size() > 0) {
    ASSERT_TRUE(WaitFor(*c.server, FD_WRITE, &c.serverLog));
    c.server->OnSend();
    c.serverLog.seen &= ~FD_WRITE;
  }
  // Closed while the bytes are still on their way.
  c.server.reset();

  // As an owner does: read on every FD_READ, and once more on FD_CLOSE, which
  // may come before the last bytes were read.
  int last = SOCKET_ERROR;
  while (!c.clientLog.Has(FD_CLOSE)) {
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c.client->Event(), kWaitMs));
    WSANETWORKEVENTS events = {};
    ASSERT_TRUE(c.client->EnumNetworkEvents(&events));
    c.clientLog.Add(events);
    if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) last = c.client->OnRecv();
  }
  EXPECT_EQ(0, c.clientLog.error[FD_CLOSE_BIT]);
  EXPECT_EQ(0, last);
  ASSERT_EQ(sent.size(), c.client->Input().Size());
  EXPECT_EQ(0, std::memcmp(sent.data(), c.client->Input().Data(), sent.size()));
}

TEST(EventSocket, ResetByPeerKeepsUnsentBytesQueued) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(Establish(&c));
  ASSERT_NO_FATAL_FAILURE(SetKernelBuffer(c.server->Handle(), SO_SNDBUF));
  const std::vector<uint8_t> sent = CountingBytes(kLargeTransfer);
  ASSERT_EQ(1, c.server->Write(sent.data(), sent.size()));
  const size_t queued = c.server->Output().Size();
  ASSERT_GT(queued, 0u);

  // An abortive close: the peer goes away with unread data.
  const linger abort = {1, 0};
  ASSERT_EQ(0, setsockopt(c.client->Handle(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort)));
  c.client.reset();

  ASSERT_TRUE(WaitFor(*c.server, FD_CLOSE, &c.serverLog));
  // A failed send must not count as sent.
  EXPECT_EQ(queued, c.server->OnSend());
}

// ------------------------------------------------------------ Buffer limits

constexpr size_t kTestReceiveLimit = 64 * 1024;
constexpr size_t kTestSendLimit = 256 * 1024;
constexpr size_t kWriteChunk = 64 * 1024;
// Far more than any kernel buffering: a peer that never reads must have
// been dropped long before this much was offered.
constexpr size_t kFloodBytes = 64u * 1024 * 1024;

// The client sends `count` bytes; the server reads on every event and never
// consumes. Returns when the client has sent them all or the server dropped
// it (then true).
bool FloodServer(Connection* c, size_t count) {
  const std::vector<uint8_t> flood = CountingBytes(count);
  EXPECT_EQ(1, c->client->Write(flood.data(), flood.size()));
  while (c->server->DropError() == 0 && c->server->Input().Size() < count) {
    const HANDLE events[] = {c->server->Event(), c->client->Event()};
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, kWaitMs);
    if (woken != WAIT_OBJECT_0 && woken != WAIT_OBJECT_0 + 1) {
      ADD_FAILURE() << "stalled with " << c->server->Input().Size() << " bytes received";
      return false;
    }
    WSANETWORKEVENTS clientEvents = {};
    if (c->client->EnumNetworkEvents(&clientEvents) && (clientEvents.lNetworkEvents & FD_WRITE)) {
      c->client->OnSend();
    }
    WSANETWORKEVENTS serverEvents = {};
    EXPECT_TRUE(c->server->EnumNetworkEvents(&serverEvents));
    c->serverLog.Add(serverEvents);
    if (serverEvents.lNetworkEvents & (FD_READ | FD_CLOSE)) c->server->OnRecv();
    if (c->serverLog.Has(FD_CLOSE) && c->server->DropError() == 0) return false;
  }
  if (c->server->DropError() == 0) return false;
  // The owner learns of the drop through the socket's event.
  EXPECT_TRUE(WaitFor(*c->server, FD_CLOSE, &c->serverLog));
  return true;
}

// The far end of a dropped connection finds it gone: after any bytes that
// reached it, a read gives the end or an error, never "nothing yet".
void ExpectPeerSeesTheEnd(const CSocketClient& peer) {
  std::vector<char> bytes(kWriteChunk);
  size_t drained = 0;
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(peer.Handle(), &readable);
    timeval wait = {static_cast<long>(kWaitMs / 1000), 0};
    ASSERT_EQ(1, select(0, &readable, nullptr, nullptr, &wait)) << "after " << drained << " bytes";
    const int got = recv(peer.Handle(), bytes.data(), static_cast<int>(bytes.size()), 0);
    if (got <= 0) {
      if (got < 0) {
        EXPECT_NE(WSAEWOULDBLOCK, WSAGetLastError());
      }
      return;
    }
    drained += static_cast<size_t>(got);
    ASSERT_LT(drained, kFloodBytes);
  }
}

// A peer may leave exactly the receive limit unconsumed; one byte more and
// it is dropped, and the owner learns it from the socket's own event.
TEST(EventSocketLimits, PeerPastTheReceiveLimitIsDropped) {
  struct Case {
    size_t sent;
    bool dropped;
  } const cases[] = {{kTestReceiveLimit, false}, {kTestReceiveLimit + 1, true}, {4 * kTestReceiveLimit, true}};
  for (const Case& test : cases) {
    Connection c;
    ASSERT_NO_FATAL_FAILURE(Establish(&c));
    c.server->SetBufferLimits(kTestReceiveLimit, kTestSendLimit);
    EXPECT_EQ(test.dropped, FloodServer(&c, test.sent)) << test.sent;
    if (!test.dropped) {
      ASSERT_EQ(test.sent, c.server->Input().Size());
      EXPECT_EQ(0, std::memcmp(CountingBytes(test.sent).data(), c.server->Input().Data(), test.sent));
      continue;
    }
    EXPECT_EQ(WSAENOBUFS, c.serverLog.error[FD_CLOSE_BIT]) << test.sent;
    EXPECT_EQ(INVALID_SOCKET, c.server->Handle());
    EXPECT_EQ(0, c.server->OnRecv());
    EXPECT_EQ(0, c.server->Write("x", 1));
    // Told once: the next look finds nothing new.
    WSANETWORKEVENTS again = {};
    ASSERT_TRUE(c.server->EnumNetworkEvents(&again));
    EXPECT_EQ(0, again.lNetworkEvents);
    ExpectPeerSeesTheEnd(*c.client);
  }
}

// Consumed bytes no longer count: a peer whose bytes are taken as they
// come may send many times the limit.
TEST(EventSocketLimits, ConsumedInputDoesNotCountAgainstThePeer) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(Establish(&c));
  c.server->SetBufferLimits(kTestReceiveLimit, kTestSendLimit);
  std::vector<uint8_t> received;
  for (int round = 0; round < 4; ++round) {
    ASSERT_FALSE(FloodServer(&c, kTestReceiveLimit));
    CByteBuffer& input = c.server->Input();
    received.insert(received.end(), input.Data(), input.Data() + input.Size());
    input.Consume(input.Size());
  }
  EXPECT_EQ(4 * kTestReceiveLimit, received.size());
  EXPECT_EQ(0, c.server->DropError());
}

// A connection whose server side has the test limits and whose kernel
// buffers are small, so the limits are reached with little data.
void EstablishSmallBuffers(Connection* c) {
  ASSERT_NO_FATAL_FAILURE(Establish(c));
  ASSERT_NO_FATAL_FAILURE(SetKernelBuffer(c->server->Handle(), SO_SNDBUF));
  ASSERT_NO_FATAL_FAILURE(SetKernelBuffer(c->client->Handle(), SO_RCVBUF));
  c->server->SetBufferLimits(kTestReceiveLimit, kTestSendLimit);
}

// The server writes to a peer that never reads: writes are taken while the
// queue stays within the send limit, and the write that would pass it drops
// the peer instead of queueing more.
TEST(EventSocketLimits, PeerThatNeverReadsIsDroppedAtTheSendLimit) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(EstablishSmallBuffers(&c));
  const std::vector<uint8_t> chunk = CountingBytes(kWriteChunk);
  size_t offered = 0;
  size_t largestQueue = 0;
  int written = 1;
  while (offered < kFloodBytes) {
    const size_t queued = c.server->Output().Size();
    written = c.server->Write(chunk.data(), chunk.size());
    if (!written) {
      EXPECT_GT(queued + kWriteChunk, kTestSendLimit) << "dropped below the limit";
      break;
    }
    offered += kWriteChunk;
    if (c.server->Output().Size() > largestQueue) largestQueue = c.server->Output().Size();
  }
  ASSERT_EQ(0, written) << "never dropped after " << offered << " bytes";
  EXPECT_LE(largestQueue, kTestSendLimit);
  EXPECT_EQ(WSAENOBUFS, c.server->DropError());
  ASSERT_TRUE(WaitFor(*c.server, FD_CLOSE, &c.serverLog));
  EXPECT_EQ(WSAENOBUFS, c.serverLog.error[FD_CLOSE_BIT]);
  ExpectPeerSeesTheEnd(*c.client);
}

// Up to the send limit nothing is lost: the queue fills to the limit while
// the peer does not read, then the peer reads every byte in order.
TEST(EventSocketLimits, QueueUpToTheSendLimitArrivesWhole) {
  Connection c;
  ASSERT_NO_FATAL_FAILURE(EstablishSmallBuffers(&c));
  // A single write into an empty queue is taken whatever its size.
  const std::vector<uint8_t> sent = CountingBytes(2 * kTestSendLimit);
  ASSERT_EQ(1, c.server->Write(sent.data(), kTestSendLimit + kWriteChunk));
  ASSERT_GT(c.server->Output().Size(), 0u);
  std::vector<uint8_t> received;
  size_t offered = kTestSendLimit + kWriteChunk;
  while (received.size() < sent.size()) {
    // More arrives only while the queue has room for it.
    if (offered < sent.size() && c.server->Output().Size() + kWriteChunk <= kTestSendLimit) {
      ASSERT_EQ(1, c.server->Write(sent.data() + offered, kWriteChunk));
      offered += kWriteChunk;
    }
    const HANDLE events[] = {c.server->Event(), c.client->Event()};
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, kWaitMs);
    ASSERT_TRUE(woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1) << received.size();
    WSANETWORKEVENTS serverEvents = {};
    ASSERT_TRUE(c.server->EnumNetworkEvents(&serverEvents));
    ASSERT_FALSE(serverEvents.lNetworkEvents & FD_CLOSE);
    if (serverEvents.lNetworkEvents & FD_WRITE) c.server->OnSend();
    WSANETWORKEVENTS clientEvents = {};
    ASSERT_TRUE(c.client->EnumNetworkEvents(&clientEvents));
    if (clientEvents.lNetworkEvents & FD_READ) {
      c.client->OnRecv();
      CByteBuffer& input = c.client->Input();
      received.insert(received.end(), input.Data(), input.Data() + input.Size());
      input.Consume(input.Size());
    }
  }
  EXPECT_EQ(0, c.server->DropError());
  EXPECT_TRUE(sent == received);
}

// ------------------------------------------------------------ Construction

TEST(EventSocket, ListenerRefusesPortHeldByAnotherListener) {
  const std::unique_ptr<CSocketService> first = ListenLoopback();
  ASSERT_TRUE(first);
  const std::unique_ptr<CSocketService> second(CSocketService::Listen(first->LocalPort(), kBacklog, Loopback()));
  EXPECT_FALSE(second);
}

TEST(EventSocket, AcceptWithoutPendingConnectionDoesNotBlock) {
  const std::unique_ptr<CSocketService> service = ListenLoopback();
  ASSERT_TRUE(service);
  EXPECT_EQ(INVALID_SOCKET, service->Accept());
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
}

TEST(EventSocket, ConnectToBroadcastAddressMakesNoSocket) {
  sockaddr_in address = LoopbackAddress(1);
  address.sin_addr.s_addr = INADDR_NONE;
  EXPECT_EQ(nullptr, CSocketClient::Connect(address, kLiveViewer));
}

TEST(EventSocket, WrapAcceptedOfInvalidSocketIsNull) {
  EXPECT_EQ(nullptr, CSocketService::WrapAccepted(INVALID_SOCKET));
}

TEST(EventSocket, CloseReleasesEventOnceAndLeavesNothingOpen) {
  const std::unique_ptr<CSocketService> service = ListenLoopback();
  ASSERT_TRUE(service);
  const WSAEVENT event = service->Event();
  service->Close();
  EXPECT_EQ(INVALID_SOCKET, service->Handle());
  EXPECT_EQ(nullptr, service->Event());
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(event, 0));
  service->Close();
}

// ------------------------------------------------------------ Host helpers

TEST(EventSocket, AddrToStringWritesOctetsInWireOrder) {
  struct Case {
    uint32_t hostOrder;
    const char* text;
  };
  const Case cases[] = {
      {0x7F000001u, "127.0.0.1"},  {0x00000000u, "0.0.0.0"},       {0xFFFFFFFFu, "255.255.255.255"},
      {0x0A141E28u, "10.20.30.40"}, {0xC0A801FEu, "192.168.1.254"}, {0x01020304u, "1.2.3.4"},
  };
  for (const Case& test : cases) {
    EXPECT_STREQ(test.text, AddrToString(htonl(test.hostOrder)).c_str()) << test.text;
  }
}

TEST(EventSocket, ResolveHostTakesDottedTextAndLocalName) {
  EXPECT_EQ(Loopback(), ResolveHost(L"127.0.0.1"));
  const uint32_t local = ResolveHost(L"localhost");
  ASSERT_NE(INADDR_NONE, local);
  EXPECT_EQ(127u, ntohl(local) >> 24) << AddrToString(local).c_str();
}

TEST(EventSocket, ResolveHostOfEmptyOrNullNameIsNone) {
  EXPECT_EQ(INADDR_NONE, ResolveHost(L""));
  EXPECT_EQ(INADDR_NONE, ResolveHost(nullptr));
}

TEST(EventSocket, WideToAnsiConvertsShortAndLongText) {
  EXPECT_STREQ("", WideToAnsi(nullptr).c_str());
  EXPECT_STREQ("localhost", WideToAnsi(L"localhost").c_str());
  // Under the tests' code page 1252.
  EXPECT_STREQ("caf\xE9", WideToAnsi(L"caf\u00E9").c_str());
  const std::wstring longText(300, L'h');
  EXPECT_EQ(std::string(300, 'h'), WideToAnsi(longText.c_str()).c_str());
}

}  // namespace
