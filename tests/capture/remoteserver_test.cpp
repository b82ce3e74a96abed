// The server side of the remote protocol against raw TCP clients on
// 127.0.0.1: requests in every shape, replies byte by byte, the connection
// limit, and the live stream.
#include <cstring>
#include <fstream>
#include <map>
#include <memory>

#include "capture/LocalFileList.h"
#include "net/RemoteProtocol.h"
#include "tests/capture/RemoteFixture.h"
#include "tests/core/TempFolder.h"

using namespace capture_test;

namespace {

constexpr DWORD kTestRequestMs = 1500;

// Every call is a fresh moment: the list is scanned again on each request.
DWORD NextTick() {
  static DWORD now = 0;
  return now += kLocalFilesRefreshMs;
}
DWORD LaterTick() { return NextTick(); }

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::vector<uint8_t> FileRequest(const std::string& path, uint32_t announced) {
  std::vector<uint8_t> out;
  PutLe32(out, kRemoteFileFetch);
  PutLe32(out, announced);
  out.insert(out.end(), path.begin(), path.end());
  return out;
}

std::vector<uint8_t> Word(uint32_t value) {
  std::vector<uint8_t> out;
  PutLe32(out, value);
  return out;
}

void Pause(DWORD ms) {
  // Pacing, so that the server reads the pieces one by one.
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, ms);
  CloseHandle(never);
}

class RemoteServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    ASSERT_TRUE(StartWinsock());
    ASSERT_TRUE(m_folder.valid());
    NoticeLog::Get().Clear();
    LocalFileFolders folders;
    wcscpy(folders.temp, m_folder.path().c_str());
    m_list.SetFolders(folders);
    m_list.SetTickSource(&LaterTick);
    m_port = FreePort();
    ASSERT_NE(0, m_port);
    m_tag = UniqueTag(L"srv");
    m_server = new RunningCapture(m_tag, m_port);
    (*m_server)->SetLocalFileList(&m_list);
    (*m_server)->SetRemoteLimits(kTestRequestMs, kRemoteLiveOutputBytes);
    Configure(m_server->get());
    ASSERT_TRUE(m_server->Start());
  }
  void TearDown() override { delete m_server; }
  // Seams set before the capture thread starts.
  virtual void Configure(CTraceCapture*) {}

  std::wstring MakeFile(const wchar_t* name, size_t bytes) {
    const std::wstring path = m_folder.File(name);
    std::vector<char> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = char((i * 7 + i / 4096) & 0xFF);
    std::ofstream(path.c_str(), std::ios::binary).write(data.data(), std::streamsize(bytes));
    return path;
  }
  // Sends the request and reads to the server's close.
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& request, bool* closed) {
    RawClient client(m_port);
    EXPECT_TRUE(client.Connected());
    EXPECT_TRUE(client.Send(request));
    return client.ReadToClose(closed);
  }
  size_t Connected() { return NoticeLog::Get().Count(kNotifyViewerConnected, AddressParam(Loopback())); }

  TempFolder m_folder{L"ktremote"};
  CLocalFileList m_list;
  uint16_t m_port = 0;
  std::wstring m_tag;
  RunningCapture* m_server = nullptr;
};

TEST_F(RemoteServerTest, EmptyListIsTwelveBytesAndTheServerCloses) {
  bool closed = false;
  const auto reply = Ask(Word(kRemoteDumpList), &closed);
  EXPECT_TRUE(closed);
  const std::vector<uint8_t> expected = {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(expected, reply);
}

TEST_F(RemoteServerTest, ListNamesEveryDumpFileWithItsSize) {
  const std::wstring a = MakeFile(L"keltra_a.dump", 100);
  const std::wstring b = MakeFile(L"keltra_b.dump", 7000);
  MakeFile(L"other.dump", 5);  // not a dump file of ours
  bool closed = false;
  const auto reply = Ask(Word(kRemoteDumpList), &closed);
  EXPECT_TRUE(closed);
  ASSERT_GE(reply.size(), 12u);
  EXPECT_EQ(reply.size() - 4, GetLe32(reply.data()));
  ASSERT_EQ(2u, GetLe64(reply.data() + 4));
  std::map<std::string, uint32_t> sizes;
  size_t at = 12;
  for (int entry = 0; entry < 2; ++entry) {
    ASSERT_LE(at + 4, reply.size());
    const uint32_t length = GetLe32(reply.data() + at);
    ASSERT_LE(at + 4 + length + 16, reply.size());
    const std::string name(reinterpret_cast<const char*>(reply.data() + at + 4), length);
    at += 4 + length;
    EXPECT_NE(0u, GetLe64(reply.data() + at));  // last-write time
    sizes[name] = GetLe32(reply.data() + at + 8);
    EXPECT_EQ(0xFFFFFFFFu, GetLe32(reply.data() + at + 12));
    at += 16;
  }
  EXPECT_EQ(reply.size(), at);
  EXPECT_EQ(100u, sizes[Utf8(a)]);
  EXPECT_EQ(7000u, sizes[Utf8(b)]);
}

TEST_F(RemoteServerTest, FileOfTenThousandBytesArrivesWhole) {
  const std::wstring path = MakeFile(L"keltra_big.dump", 10000);
  std::ifstream in(path.c_str(), std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string name = Utf8(path);
  bool closed = false;
  const auto reply = Ask(FileRequest(name, uint32_t(name.size())), &closed);
  EXPECT_TRUE(closed);
  ASSERT_EQ(10004u, reply.size());
  EXPECT_EQ(10000u, GetLe32(reply.data()));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), reply.begin() + 4));
}

TEST_F(RemoteServerTest, LargeFileIsStreamedToTheEnd) {
  constexpr size_t kBytes = 6u << 20;  // far more than the read-ahead window
  const std::wstring path = MakeFile(L"keltra_large.dump", kBytes);
  const std::string name = Utf8(path);
  bool closed = false;
  const auto reply = Ask(FileRequest(name, uint32_t(name.size())), &closed);
  EXPECT_TRUE(closed);
  ASSERT_EQ(kBytes + 4, reply.size());
  EXPECT_EQ(kBytes, GetLe32(reply.data()));
  for (size_t i = 0; i < kBytes; i += 4099) {
    ASSERT_EQ(uint8_t((i * 7 + i / 4096) & 0xFF), reply[4 + i]) << "byte " << i;
  }
}

TEST_F(RemoteServerTest, SamePathWrittenOtherwiseIsServed) {
  MakeFile(L"keltra_c.dump", 33);
  const std::wstring folderName = m_folder.path().substr(m_folder.path().find_last_of(L'\\') + 1);
  const std::wstring spellings[] = {
      m_folder.path() + L"\\.\\KELTRA_C.DUMP",
      m_folder.path() + L"\\..\\" + folderName + L"\\keltra_c.dump",
      m_folder.path() + L"/keltra_c.dump",
  };
  for (const std::wstring& spelling : spellings) {
    const std::string name = Utf8(spelling);
    bool closed = false;
    const auto reply = Ask(FileRequest(name, uint32_t(name.size())), &closed);
    ASSERT_EQ(37u, reply.size()) << name;
    EXPECT_EQ(33u, GetLe32(reply.data()));
  }
}

struct BadRequest {
  const char* name;
  std::vector<uint8_t> (*make)(RemoteServerTest* test);
};

class RemoteServerRefuses : public RemoteServerTest, public ::testing::WithParamInterface<BadRequest> {
 public:
  std::wstring Outside() { return MakeFile(L"outside.txt", 50); }
  std::wstring Listed() { return MakeFile(L"keltra_listed.dump", 50); }
};

TEST_P(RemoteServerRefuses, ClosesWithoutReply) {
  const auto request = GetParam().make(this);
  bool closed = false;
  const auto reply = Ask(request, &closed);
  EXPECT_TRUE(closed) << "the server must close the connection";
  EXPECT_TRUE(reply.empty()) << reply.size() << " bytes";
  EXPECT_EQ(0u, Connected());
}


const BadRequest kBadRequests[] = {
    {"type0", [](RemoteServerTest*) { return Word(0); }},
    {"type4", [](RemoteServerTest*) { return Word(4); }},
    {"type5", [](RemoteServerTest*) { return Word(5); }},
    {"short_word", [](RemoteServerTest*) { return std::vector<uint8_t>{2, 0}; }},
    {"name_length_0", [](RemoteServerTest*) { return FileRequest("", 0); }},
    {"name_length_512",
     [](RemoteServerTest*) { return FileRequest(std::string(512, 'a'), 512); }},
    {"name_truncated",
     [](RemoteServerTest* t) {
       const std::string name = Utf8(static_cast<RemoteServerRefuses*>(t)->Listed());
       auto request = FileRequest(name, uint32_t(name.size()));
       request.resize(request.size() - 3);
       return request;
     }},
    {"path_not_listed",
     [](RemoteServerTest* t) {
       const std::string name = Utf8(static_cast<RemoteServerRefuses*>(t)->Outside());
       return FileRequest(name, uint32_t(name.size()));
     }},
    {"listed_name_with_nul",
     [](RemoteServerTest* t) {
       std::string name = Utf8(static_cast<RemoteServerRefuses*>(t)->Listed());
       name += std::string("\0x", 2);
       return FileRequest(name, uint32_t(name.size()));
     }},
    {"missing_file_of_our_pattern",
     [](RemoteServerTest* t) {
       std::string name = Utf8(static_cast<RemoteServerRefuses*>(t)->Outside());
       name = name.substr(0, name.find_last_of('\\') + 1) + "keltra_none.dump";
       return FileRequest(name, uint32_t(name.size()));
     }},
};

INSTANTIATE_TEST_SUITE_P(Requests, RemoteServerRefuses, ::testing::ValuesIn(kBadRequests),
                         [](const ::testing::TestParamInfo<BadRequest>& info) { return std::string(info.param.name); });

TEST_F(RemoteServerTest, RequestSplitAcrossReadsIsAssembled) {
  const std::wstring path = MakeFile(L"keltra_split.dump", 4097);
  const std::string name = Utf8(path);
  const auto request = FileRequest(name, uint32_t(name.size()));
  RawClient client(m_port);
  ASSERT_TRUE(client.Connected());
  const size_t cuts[] = {0, 2, 6, 9, request.size()};
  for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
    ASSERT_TRUE(client.Send(std::vector<uint8_t>(request.begin() + cuts[i], request.begin() + cuts[i + 1])));
    Pause(150);
  }
  bool closed = false;
  const auto reply = client.ReadToClose(&closed);
  EXPECT_TRUE(closed);
  ASSERT_EQ(4101u, reply.size());
  EXPECT_EQ(4097u, GetLe32(reply.data()));
}

TEST_F(RemoteServerTest, ReplyIsSentWhateverFollowsTheRequest) {
  auto request = Word(kRemoteDumpList);
  request.resize(request.size() + 3000, 0xEE);
  bool closed = false;
  const auto reply = Ask(request, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(12u, reply.size());
}

TEST_F(RemoteServerTest, NinthConnectionIsClosedAtOnceAndAFreedSlotServesAgain) {
  std::vector<RawClient*> viewers;
  for (int i = 0; i < 8; ++i) {
    viewers.push_back(new RawClient(m_port));
    ASSERT_TRUE(viewers.back()->Connected());
    ASSERT_TRUE(viewers.back()->Send(Word(kRemoteLiveViewer)));
  }
  ASSERT_TRUE(WaitFor([&] { return Connected() == 8; }, kNetTimeoutMs));
  {
    RawClient ninth(m_port);
    ASSERT_TRUE(ninth.Connected());  // the system accepts; the server closes
    ninth.Send(Word(kRemoteDumpList));
    bool closed = false;
    EXPECT_TRUE(ninth.ReadToClose(&closed).empty());
    EXPECT_TRUE(closed);
  }
  delete viewers.back();
  viewers.pop_back();
  ASSERT_TRUE(WaitFor([&] { return NoticeLog::Get().Count(kNotifyPeerLost, AddressParam(Loopback())) == 1; },
                      kNetTimeoutMs));
  bool closed = false;
  EXPECT_EQ(12u, Ask(Word(kRemoteDumpList), &closed).size());
  for (RawClient* viewer : viewers) delete viewer;
}

// Wine can leave FD_ACCEPT unsignalled while connections wait in the
// backlog (after a stale FD_ACCEPT whose accept failed). This loop never
// sees the listening socket's event at all.
CTraceCapture* g_deafServer = nullptr;

DWORD WINAPI WaitWithoutListenEvent(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
  const HANDLE listen = g_deafServer->ListenEvent();
  if (listen != nullptr) WSAResetEvent(listen);
  HANDLE kept[MAXIMUM_WAIT_OBJECTS];
  DWORD index[MAXIMUM_WAIT_OBJECTS];
  DWORD n = 0;
  for (DWORD i = 0; i < count && n < MAXIMUM_WAIT_OBJECTS; ++i) {
    if (handles[i] != listen) {
      index[n] = i;
      kept[n++] = handles[i];
    }
  }
  const DWORD result = WaitForMultipleObjectsEx(n, kept, all, ms, alertable);
  return result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + n ? WAIT_OBJECT_0 + index[result - WAIT_OBJECT_0] : result;
}

class DeafListenerTest : public RemoteServerTest {
 protected:
  void Configure(CTraceCapture* server) override {
    g_deafServer = server;
    server->SetWaitFunction(&WaitWithoutListenEvent);
  }
};

TEST_F(DeafListenerTest, WaitingConnectionsAreServedWithoutTheListenEvent) {
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<RawClient>(m_port));
    ASSERT_TRUE(clients.back()->Connected());
    ASSERT_TRUE(clients.back()->Send(Word(kRemoteDumpList)));
  }
  for (auto& client : clients) {
    bool closed = false;
    ASSERT_EQ(12u, client->ReadToClose(&closed).size());
    EXPECT_TRUE(closed);
  }
  // Past the limit too: the ninth is taken from the backlog and closed.
  std::vector<std::unique_ptr<RawClient>> viewers;
  for (int i = 0; i < 8; ++i) {
    viewers.push_back(std::make_unique<RawClient>(m_port));
    ASSERT_TRUE(viewers.back()->Send(Word(kRemoteLiveViewer)));
  }
  ASSERT_TRUE(WaitFor([&] { return Connected() == 8; }, kNetTimeoutMs));
  RawClient ninth(m_port);
  bool closed = false;
  EXPECT_TRUE(ninth.ReadToClose(&closed).empty());
  EXPECT_TRUE(closed);
}

TEST_F(RemoteServerTest, ListClientsNeverHoldTheSlots) {
  // Twice as many list clients as slots, one after another, each leaving
  // its connection open after the reply: the server closes each one.
  std::vector<RawClient*> clients;
  for (int i = 0; i < 16; ++i) {
    clients.push_back(new RawClient(m_port));
    ASSERT_TRUE(clients.back()->Send(Word(kRemoteDumpList)));
    EXPECT_EQ(12u, clients.back()->Read(12).size()) << "client " << i;
  }
  for (RawClient* client : clients) {
    bool closed = false;
    EXPECT_TRUE(client->ReadToClose(&closed).empty());
    EXPECT_TRUE(closed);
    delete client;
  }
}

TEST_F(RemoteServerTest, SilentClientIsDroppedAfterTheTimeLimit) {
  RawClient client(m_port);
  ASSERT_TRUE(client.Connected());
  bool closed = false;
  EXPECT_TRUE(client.ReadToClose(&closed).empty());
  EXPECT_TRUE(closed);
}

TEST_F(RemoteServerTest, LiveViewerGetsEveryRecordFramedAndIsReportedComingAndGoing) {
  TestRing ring(m_tag, 0);
  ASSERT_TRUE(ring.Ok());
  RawClient viewer(m_port);
  ASSERT_TRUE(viewer.Send(Word(kRemoteLiveViewer)));
  ASSERT_TRUE(WaitFor([&] { return Connected() == 1; }, kNetTimeoutMs));
  constexpr uint32_t kRecords = 300;
  ring.Append(1, 1, kRecords);
  ring.Signal();
  uint32_t seen = 0;
  while (seen < kRecords) {
    const auto head = viewer.Read(4);
    ASSERT_EQ(4u, head.size()) << "after " << seen << " records";
    const uint16_t length = uint16_t(head[0] | (head[1] << 8));
    ASSERT_GE(length, 53u);
    ASSERT_LE(length, 12288u);
    ASSERT_EQ(3, head[2]);
    EXPECT_EQ(kSourceWriterRing, head[3]);
    const auto rest = viewer.Read(length - 4u);
    ASSERT_EQ(length - 4u, rest.size());
    EXPECT_EQ(kRecordLive, (rest[0] | (rest[1] << 8)) & kRecordLive);
    EXPECT_EQ(kForeignPid, GetLe32(rest.data() + 8));
    ++seen;
  }
  viewer.Close();
  EXPECT_TRUE(WaitFor([&] { return NoticeLog::Get().Count(kNotifyPeerLost, AddressParam(Loopback())) == 1; },
                      kNetTimeoutMs));
}

TEST_F(RemoteServerTest, ViewerThatDoesNotReadIsDropped) {
  (*m_server)->SetRemoteLimits(kTestRequestMs, 256u << 10);
  TestRing ring(m_tag, 0, 4u << 20);
  ASSERT_TRUE(ring.Ok());
  RawClient viewer(m_port, 4096);
  ASSERT_TRUE(viewer.Send(Word(kRemoteLiveViewer)));
  ASSERT_TRUE(WaitFor([&] { return Connected() == 1; }, kNetTimeoutMs));
  // Far more than the socket buffers hold, in batches the ring can take.
  bool dropped = false;
  for (uint32_t batch = 0; batch < 400 && !dropped; ++batch) {
    ring.Append(1, 1 + batch * 200, 200);
    ring.Signal();
    dropped = WaitFor([&] { return NoticeLog::Get().Count(kNotifyPeerLost, AddressParam(Loopback())) == 1; }, 30);
  }
  EXPECT_TRUE(dropped || WaitFor([&] { return NoticeLog::Get().Count(kNotifyPeerLost, AddressParam(Loopback())) == 1; },
                                 kNetTimeoutMs));
}

}  // namespace
