// The viewer side of the remote protocol: a capture in remote-viewer mode
// fed by a server capture or by a fake server, leaving the mode on a lost
// connection, a broken stream or a command, and the local inputs coming back.
#include <ctime>

#include "net/RemoteProtocol.h"
#include "tests/capture/RemoteFixture.h"
#include "tools/trace-writer/WriterRecord.h"

using namespace capture_test;

namespace {

struct Stored {
  uint32_t sequence;
  uint8_t sourceType;
  uint16_t flags;
  uint32_t sessionId;
};

std::vector<Stored> StoredRecords(CTraceCapture* capture) {
  std::vector<Stored> out;
  const CStoreLock lock(capture, kLockShared);
  if (!lock.Held()) return out;
  CTraceView* view = capture->m_views[0];
  for (size_t i = 0; i < view->RecordCount(); ++i) {
    const TraceRecord* record = view->RecordAt(i);
    Seen seen = {};
    if (ParseMessage(record, &seen)) {
      out.push_back({seen.sequence, record->sourceType, record->flags, record->sessionId});
    }
  }
  return out;
}

// A narrow record of writer 9 as a server streams it.
std::vector<uint8_t> LiveRecord(uint32_t sequence, uint8_t source, uint32_t session, bool live = true) {
  static wchar_t message[kWriterMessageUnits];
  MakeWriterMessage(9, 1, sequence, message, kWriterMessageUnits);
  WriterRecordFields fields;
  fields.level = 2;
  fields.pid = kForeignPid;
  fields.tid = 1;
  fields.time = uint32_t(time(nullptr));
  fields.module = L"remote.exe";
  fields.message = message;
  std::vector<uint8_t> record(kMaxNarrowRecord);
  record.resize(BuildWriterRecord(fields, record.data(), record.size()));
  if (!record.empty()) {
    record[kLiveSourceTypeOffset] = source;
    record[kLiveFlagsOffset] = live ? uint8_t(kRecordLive) : 0;
    for (int i = 0; i < 4; ++i) record[kLiveSessionOffset + i] = uint8_t(session >> (8 * i));
  }
  return record;
}

class FakeServer {
 public:
  FakeServer() {
    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = LoopbackAddress(0);
    int length = sizeof(address);
    bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_listen, 1);
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }
  ~FakeServer() {
    if (m_peer != INVALID_SOCKET) closesocket(m_peer);
    closesocket(m_listen);
  }
  uint16_t Port() const { return m_port; }
  // Accepts the viewer and reads its request word.
  uint32_t Accept() {
    m_peer = accept(m_listen, nullptr, nullptr);
    const DWORD timeout = kNetTimeoutMs;
    setsockopt(m_peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    uint8_t word[4] = {};
    return recv(m_peer, reinterpret_cast<char*>(word), 4, MSG_WAITALL) == 4 ? GetLe32(word) : 0;
  }
  bool Send(const std::vector<uint8_t>& bytes) {
    return send(m_peer, reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0) == int(bytes.size());
  }

 private:
  SOCKET m_listen = INVALID_SOCKET;
  SOCKET m_peer = INVALID_SOCKET;
  uint16_t m_port = 0;
};

class RemoteViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    ASSERT_TRUE(StartWinsock());
    NoticeLog::Get().Clear();
    m_viewerTag = UniqueTag(L"vwr");
    m_viewer = new RunningCapture(m_viewerTag, 0);
    ASSERT_TRUE(m_viewer->Start());
  }
  void TearDown() override { delete m_viewer; }

  // Hands the viewer a connection to the port, as the connect command does.
  void Connect(uint16_t port) {
    CSocketClient* client = CSocketClient::Connect(LoopbackAddress(port), kRemoteLiveViewer);
    ASSERT_NE(nullptr, client);
    ASSERT_EQ(1, QueueCaptureItem(m_viewer->Thread(), NewCaptureItem(kCaptureItemAdoptSocket, client)));
  }
  // Connects to the fake server and waits for remote-viewer mode.
  void ConnectToFake(FakeServer& server) {
    Connect(server.Port());
    ASSERT_EQ(kRemoteLiveViewer, server.Accept());
    ASSERT_TRUE(Told(kNotifyRemoteConnected));
    ASSERT_TRUE(WaitFor([&] { return (*m_viewer)->RemoteViewerMode() == 1; }, kNetTimeoutMs));
  }
  bool Told(uint32_t code, size_t times = 1) {
    return WaitFor([&] { return NoticeLog::Get().Count(code, AddressParam(Loopback())) >= times; }, kNetTimeoutMs);
  }
  bool WaitForRecords(size_t n) {
    return WaitFor([&] { return StoredRecords(m_viewer->get()).size() >= n; }, kNetTimeoutMs);
  }
  // The viewer's own channel works: a local writer's records arrive.
  void ExpectLocalCaptureWorks(uint32_t already) {
    TestRing local(m_viewerTag, 1);
    ASSERT_TRUE(local.Ok());
    local.Append(1, 1, 5);
    local.Signal();
    EXPECT_TRUE(WaitForRecords(already + 5));
  }

  std::wstring m_viewerTag;
  RunningCapture* m_viewer = nullptr;
};

TEST_F(RemoteViewerTest, ShowsTheServersRecordsInOrderAndResumesLocallyWhenTheServerGoes) {
  const std::wstring serverTag = UniqueTag(L"srv");
  const uint16_t port = FreePort();
  RunningCapture server(serverTag, port);
  ASSERT_TRUE(server.Start());
  Connect(port);
  ASSERT_TRUE(Told(kNotifyRemoteConnected));
  ASSERT_TRUE(Told(kNotifyViewerConnected));
  EXPECT_TRUE(WaitFor([&] { return (*m_viewer)->RemoteAddress().sin_addr.s_addr == Loopback(); }, kNetTimeoutMs));
  EXPECT_EQ(1u, (*m_viewer)->RemoteViewerMode());
  // While remote, this machine's writers are not read.
  {
    TestRing local(m_viewerTag, 0);
    local.Append(2, 1, 3);
    local.Signal();
  }
  constexpr uint32_t kCount = 600;
  TestRing ring(serverTag, 0, 4u << 20);  // holds every record: none is overrun
  ASSERT_TRUE(ring.Ok());
  for (uint32_t first = 1; first <= kCount; first += 100) {
    ring.Append(1, first, 100);
    ring.Signal();
  }
  ASSERT_TRUE(WaitFor([&] { return ViewRecords(m_viewer->get()).size() >= kCount; }, kNetTimeoutMs));
  const auto records = ViewRecords(m_viewer->get());
  EXPECT_EQ(size_t(kCount), records.size());
  EXPECT_TRUE(HoldsAllInOrder(records, 1, 1, kCount));
  for (const Stored& stored : StoredRecords(m_viewer->get())) {
    ASSERT_EQ(kSourceWriterRing, stored.sourceType);
    ASSERT_EQ(kRecordLive, stored.flags & kRecordLive);
    ASSERT_EQ(0u, stored.sessionId);  // the local set of the server's channels
  }
  server.Stop();
  ASSERT_TRUE(Told(kNotifyPeerLost));
  EXPECT_TRUE(WaitFor([&] { return (*m_viewer)->RemoteAddress().sin_addr.s_addr == INADDR_NONE; }, kNetTimeoutMs));
  EXPECT_EQ(0u, (*m_viewer)->RemoteViewerMode());
  EXPECT_EQ(0, (*m_viewer)->RemoteAddress().sin_port);
  ExpectLocalCaptureWorks(kCount);
}

TEST_F(RemoteViewerTest, KeepsSourceAndSessionOfEachRecordAndJoinsSplitRecords) {
  FakeServer server;
  Connect(server.Port());
  ASSERT_EQ(kRemoteLiveViewer, server.Accept());
  ASSERT_TRUE(Told(kNotifyRemoteConnected));
  std::vector<uint8_t> stream;
  const uint8_t sources[] = {kSourceDebugOutput, kSourceCopyData, kSourceWriterRing};
  for (uint32_t i = 0; i < 3; ++i) {
    const auto record = LiveRecord(i + 1, sources[i], 40 + i);
    stream.insert(stream.end(), record.begin(), record.end());
  }
  const auto notLive = LiveRecord(4, kSourceDescribedEvent, 99, false);
  stream.insert(stream.end(), notLive.begin(), notLive.end());
  // The last record in two sends, the cut inside its head.
  const size_t cut = stream.size() - notLive.size() + 20;
  ASSERT_TRUE(server.Send(std::vector<uint8_t>(stream.begin(), stream.begin() + cut)));
  ASSERT_TRUE(WaitForRecords(3));
  ASSERT_TRUE(server.Send(std::vector<uint8_t>(stream.begin() + cut, stream.end())));
  ASSERT_TRUE(WaitForRecords(4));
  const auto stored = StoredRecords(m_viewer->get());
  ASSERT_EQ(4u, stored.size());
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(i + 1, stored[i].sequence);
    EXPECT_EQ(sources[i], stored[i].sourceType);
    EXPECT_EQ(40 + i, stored[i].sessionId);
    EXPECT_EQ(kRecordLive, stored[i].flags & kRecordLive);
  }
  // Not captured live on the server: kept as the importer stored it.
  EXPECT_EQ(0, stored[3].flags & kRecordLive);
  EXPECT_NE(99u, stored[3].sessionId);
}

struct BrokenStream {
  const char* name;
  std::vector<uint8_t> bytes;
};

class RemoteViewerBrokenStream : public RemoteViewerTest, public ::testing::WithParamInterface<BrokenStream> {};

TEST_P(RemoteViewerBrokenStream, TearsDownAndCapturesLocallyAgain) {
  FakeServer server;
  Connect(server.Port());
  ASSERT_EQ(kRemoteLiveViewer, server.Accept());
  ASSERT_TRUE(Told(kNotifyRemoteConnected));
  auto stream = LiveRecord(1, kSourceWriterRing, 0);
  stream.insert(stream.end(), GetParam().bytes.begin(), GetParam().bytes.end());
  stream.resize(stream.size() + 64, 0x33);
  ASSERT_TRUE(server.Send(stream));
  ASSERT_TRUE(Told(kNotifyPeerLost));
  EXPECT_TRUE(WaitFor([&] { return (*m_viewer)->RemoteViewerMode() == 0; }, kNetTimeoutMs));
  EXPECT_TRUE(WaitForRecords(1)) << "the record before the break is kept";
  EXPECT_EQ(1u, StoredRecords(m_viewer->get()).size());
  ExpectLocalCaptureWorks(1);
}

std::vector<uint8_t> HeadWith(uint16_t length, uint8_t version) {
  std::vector<uint8_t> head(60, 0);
  head[0] = uint8_t(length);
  head[1] = uint8_t(length >> 8);
  head[2] = version;
  return head;
}

const BrokenStream kBroken[] = {
    {"length_52", HeadWith(52, 3)},
    {"length_12289", HeadWith(12289, 3)},
    {"length_0", HeadWith(0, 3)},
    {"version_2", HeadWith(100, 2)},
};

INSTANTIATE_TEST_SUITE_P(Streams, RemoteViewerBrokenStream, ::testing::ValuesIn(kBroken),
                         [](const ::testing::TestParamInfo<BrokenStream>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(RemoteViewerTest, FailedConnectIsToldAndLocalCaptureGoesOn) {
  Connect(FreePort());
  ASSERT_TRUE(Told(kNotifyRemoteConnectFailed));
  EXPECT_EQ(0u, (*m_viewer)->RemoteViewerMode());
  EXPECT_EQ(0u, NoticeLog::Get().Count(kNotifyPeerLost, AddressParam(Loopback())));
  ExpectLocalCaptureWorks(0);
}

TEST_F(RemoteViewerTest, LeaveCommandReturnsToLocalCapture) {
  FakeServer server;
  ConnectToFake(server);
  if (HasFatalFailure()) return;
  ASSERT_EQ(1, QueueCaptureItem(m_viewer->Thread(), NewCaptureItem(kCaptureItemLeaveRemote, nullptr)));
  EXPECT_TRUE(WaitFor([&] { return (*m_viewer)->RemoteViewerMode() == 0; }, kNetTimeoutMs));
  ExpectLocalCaptureWorks(0);
}

TEST_F(RemoteViewerTest, RestartWhileRemoteConnectsAgain) {
  FakeServer server;
  ConnectToFake(server);
  if (HasFatalFailure()) return;
  m_viewer->Stop();
  NoticeLog::Get().Clear();
  ASSERT_TRUE(m_viewer->Start());
  ASSERT_EQ(kRemoteLiveViewer, server.Accept());
  ASSERT_TRUE(Told(kNotifyRemoteConnected));
  EXPECT_EQ(1u, (*m_viewer)->RemoteViewerMode());
}

}  // namespace
