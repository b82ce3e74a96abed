// The viewer's remote dump-file list: reading entries and replies byte by
// byte, and the request against real peers on 127.0.0.1 (a remote-server
// capture, a refused port, a server that never answers, one that sends
// garbage without end, one that stops after part of a list).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/LocalFileList.h"
#include "capture/RemoteDumpList.h"
#include "net/RemoteProtocol.h"
#include "tests/capture/RemoteFixture.h"
#include "tests/core/TempFolder.h"

using namespace capture_test;

namespace {

constexpr uint64_t kTime = 0x01D9000012345678ull;
constexpr uint32_t kSize = 70000;
constexpr uint32_t kCount = 0xFFFFFFFFu;

void PutLe64(std::vector<uint8_t>& out, uint64_t value) {
  PutLe32(out, uint32_t(value));
  PutLe32(out, uint32_t(value >> 32));
}

// A 32-bit length and the bytes after it. Built in place: at -O3, GCC 12
// reports a false overflow for push_back followed by insert.
std::vector<uint8_t> Prefixed(uint32_t announced, const void* bytes, size_t size) {
  std::vector<uint8_t> out(4 + size);
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(announced >> (8 * i));
  if (size != 0) std::memcpy(out.data() + 4, bytes, size);
  return out;
}

std::vector<uint8_t> Entry(const std::string& name, uint32_t announced, uint64_t time = kTime,
                           uint32_t size = kSize, uint32_t count = kCount) {
  std::vector<uint8_t> out = Prefixed(announced, name.data(), name.size());
  PutLe64(out, time);
  PutLe32(out, size);
  PutLe32(out, count);
  return out;
}
std::vector<uint8_t> Entry(const std::string& name) { return Entry(name, uint32_t(name.size())); }

CByteBuffer Buffer(const std::vector<uint8_t>& bytes) {
  CByteBuffer buffer;
  if (!bytes.empty()) buffer.Append(bytes.data(), bytes.size());
  return buffer;
}

std::vector<uint8_t> Payload(uint64_t count, const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> out;
  PutLe64(out, count);
  for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
  return out;
}

std::vector<uint8_t> Reply(const std::vector<uint8_t>& payload) {
  return Prefixed(uint32_t(payload.size()), payload.data(), payload.size());
}

std::vector<std::wstring> Paths(const DumpFileEntries& entries) {
  std::vector<std::wstring> out;
  for (size_t i = 0; i < entries.Count(); ++i) out.push_back(entries[i]->path.c_str());
  return out;
}

TEST(RecvDumpFileEntry, ReadsOneEntryAndConsumesExactlyIt) {
  std::vector<uint8_t> bytes = Entry("C:\\temp\\keltra_1.dump", 21, kTime, 1536, 7);
  bytes.push_back(0xAB);  // the next entry's first byte stays
  CByteBuffer buffer = Buffer(bytes);
  std::unique_ptr<DumpFileEntry> entry(RecvDumpFileEntry(buffer));
  ASSERT_NE(nullptr, entry);
  EXPECT_STREQ(L"C:\\temp\\keltra_1.dump", entry->path.c_str());
  EXPECT_EQ(kTime, entry->lastWrite);
  EXPECT_EQ(1536u, entry->size);
  EXPECT_EQ(7u, entry->recordCount);
  ASSERT_EQ(1u, buffer.Size());
  EXPECT_EQ(0xAB, buffer.Data()[0]);
}

// Every read the entry needs may come up short: each cut gives null and
// leaves the buffer untouched for the caller.
TEST(RecvDumpFileEntry, EveryShortReadGivesNullAndConsumesNothing) {
  const std::vector<uint8_t> whole = Entry("keltra_x.dump");
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE("bytes " + std::to_string(cut));
    CByteBuffer buffer = Buffer(std::vector<uint8_t>(whole.begin(), whole.begin() + ptrdiff_t(cut)));
    EXPECT_EQ(nullptr, RecvDumpFileEntry(buffer));
    EXPECT_EQ(cut, buffer.Size());
  }
}

TEST(RecvDumpFileEntry, NameLengthsAndContents) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool accepted;
    std::wstring path;
  };
  const Case cases[] = {
      {"511 bytes", Entry(std::string(511, 'a')), true, std::wstring(511, L'a')},
      {"512 bytes", Entry(std::string(512, 'a')), false, L""},
      {"length 0", Entry("", 0), false, L""},
      {"length far past the bytes", Entry("abc", 0x7FFFFFFF), false, L""},
      {"UTF-8 name", Entry("C:\\d\xC3\xBCmp\\\xE6\x97\xA5.dump"), true, L"C:\\d\u00FCmp\\\u65E5.dump"},
      {"not UTF-8", Entry("C:\\bad\xFF.dump"), false, L""},
      {"a 0 byte inside", Entry(std::string("C:\\a\0b.dump", 11)), false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CByteBuffer buffer = Buffer(c.bytes);
    std::unique_ptr<DumpFileEntry> entry(RecvDumpFileEntry(buffer));
    if (!c.accepted) {
      EXPECT_EQ(nullptr, entry);
      EXPECT_EQ(c.bytes.size(), buffer.Size());
      continue;
    }
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(c.path, entry->path.c_str());
    EXPECT_EQ(0u, buffer.Size());
  }
}

TEST(ReadDumpListPayload, StopsAtTheCountTheCapOrTheFirstBadEntry) {
  struct Case {
    const char* what;
    std::vector<uint8_t> payload;
    size_t cap;
    std::vector<std::wstring> paths;
  };
  const auto a = Entry("a.dump");
  const auto b = Entry("b.dump");
  const auto bad = Entry("c.dump", 600);
  const Case cases[] = {
      {"empty payload", {}, 100, {}},
      {"count cut short", {2, 0, 0, 0}, 100, {}},
      {"count 0, bytes after it", Payload(0, {a}), 100, {}},
      {"count 1 of 2 entries", Payload(1, {a, b}), 100, {L"a.dump"}},
      {"count 3, two entries", Payload(3, {a, b}), 100, {L"a.dump", L"b.dump"}},
      {"bad second entry", Payload(3, {a, bad, b}), 100, {L"a.dump"}},
      {"count far past the cap", Payload(0xFFFFFFFFFFFFFFFFull, {a, b, a}), 2, {L"a.dump", L"b.dump"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CByteBuffer payload = Buffer(c.payload);
    DumpFileEntries out;
    EXPECT_EQ(c.paths.size(), ReadDumpListPayload(payload, c.cap, out));
    EXPECT_EQ(c.paths, Paths(out));
  }
}

// One connection on 127.0.0.1 served by `serve` on a thread; the peer's
// socket is closed when serve returns or the peer is destroyed.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::function<void(SOCKET, const std::atomic<bool>&)> serve) {
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = LoopbackAddress(0);
    int length = sizeof(address);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_listener, 1);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_address = address;
    m_thread = std::thread([this, serve] {
      SOCKET peer = accept(m_listener, nullptr, nullptr);
      if (peer == INVALID_SOCKET) return;
      m_accepted = true;
      serve(peer, m_stop);
      closesocket(peer);
    });
  }
  ~ScriptedPeer() {
    m_stop = true;
    closesocket(m_listener);
    m_thread.join();
  }
  const sockaddr_in& Address() const { return m_address; }
  bool Accepted() const { return m_accepted; }

 private:
  SOCKET m_listener = INVALID_SOCKET;
  sockaddr_in m_address = {};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_accepted{false};
  std::thread m_thread;
};

// Reads the 4-byte request, then waits until told to stop.
void ReadRequest(SOCKET peer, std::vector<uint8_t>* request) {
  uint8_t word[4];
  int have = 0;
  while (have < 4) {
    const int got = recv(peer, reinterpret_cast<char*>(word + have), 4 - have, 0);
    if (got <= 0) break;
    have += got;
  }
  if (request) request->assign(word, word + have);
}

void Linger(const std::atomic<bool>& stop) {
  while (!stop) Sleep(10);
}

DumpListLimits ShortLimits() {
  DumpListLimits limits;
  limits.connectMs = 3000;
  limits.idleMs = 300;
  limits.totalMs = 5000;
  limits.maxReplyBytes = 64 * 1024;
  limits.maxEntries = 100;
  return limits;
}

class FetchDumpList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartWinsock()); }
};

TEST_F(FetchDumpList, RefusedPortIsNoConnection) {
  const uint16_t port = FreePort();
  DumpFileEntries out;
  EXPECT_EQ(DumpListResult::kNoConnection, FetchRemoteDumpList(LoopbackAddress(port), ShortLimits(), nullptr, out));
  EXPECT_EQ(0u, out.Count());
}

TEST_F(FetchDumpList, SilentServerEndsWithAnEmptyList) {
  std::vector<uint8_t> request;
  ScriptedPeer peer([&](SOCKET s, const std::atomic<bool>& stop) {
    ReadRequest(s, &request);
    Linger(stop);
  });
  DumpFileEntries out;
  EXPECT_EQ(DumpListResult::kListed, FetchRemoteDumpList(peer.Address(), ShortLimits(), nullptr, out));
  EXPECT_EQ(0u, out.Count());
  EXPECT_TRUE(peer.Accepted());
  EXPECT_EQ((std::vector<uint8_t>{2, 0, 0, 0}), request);
}

// The entries that arrived before the server went quiet are shown.
TEST_F(FetchDumpList, ServerThatStallsMidListKeepsTheEntriesRead) {
  const auto payload = Payload(5, {Entry("a.dump"), Entry("b.dump")});
  // The length announces more entries than are sent.
  const std::vector<uint8_t> bytes = Prefixed(uint32_t(payload.size() + 200), payload.data(), payload.size());
  ScriptedPeer peer([&](SOCKET s, const std::atomic<bool>& stop) {
    ReadRequest(s, nullptr);
    send(s, reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0);
    Linger(stop);
  });
  DumpFileEntries out;
  EXPECT_EQ(DumpListResult::kListed, FetchRemoteDumpList(peer.Address(), ShortLimits(), nullptr, out));
  EXPECT_EQ((std::vector<std::wstring>{L"a.dump", L"b.dump"}), Paths(out));
}

// A peer that announces 4 GB and never stops sending is cut off at the
// reply limit; what it sent does not parse, so nothing is listed.
TEST_F(FetchDumpList, EndlessGarbageIsCutAtTheReplyLimit) {
  std::atomic<size_t> sent{0};
  ScriptedPeer peer([&](SOCKET s, const std::atomic<bool>& stop) {
    ReadRequest(s, nullptr);
    std::vector<char> junk(4096, char(0xEE));
    junk[0] = junk[1] = junk[2] = junk[3] = char(0xFF);
    while (!stop) {
      const int n = send(s, junk.data(), int(junk.size()), 0);
      if (n <= 0) break;
      sent += size_t(n);
      junk[0] = junk[1] = junk[2] = junk[3] = char(0xEE);
    }
  });
  DumpFileEntries out;
  const DumpListLimits limits = ShortLimits();
  EXPECT_EQ(DumpListResult::kListed, FetchRemoteDumpList(peer.Address(), limits, nullptr, out));
  EXPECT_EQ(0u, out.Count());
  EXPECT_GE(sent.load(), limits.maxReplyBytes);
}

TEST_F(FetchDumpList, CancelEndsTheWait) {
  ScriptedPeer peer([&](SOCKET s, const std::atomic<bool>& stop) {
    ReadRequest(s, nullptr);
    Linger(stop);
  });
  HANDLE cancel = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  DumpListLimits limits = ShortLimits();
  limits.idleMs = 600000;
  limits.totalMs = 600000;
  DumpFileEntries out;
  EXPECT_EQ(DumpListResult::kCancelled, FetchRemoteDumpList(peer.Address(), limits, cancel, out));
  CloseHandle(cancel);
}

// The real server: a capture in remote-server mode lists its dump files.
TEST_F(FetchDumpList, RemoteServerCaptureListsItsDumpFiles) {
  LoadGroupsOnce();
  TempFolder folder(L"ktdumplist");
  ASSERT_TRUE(folder.valid());
  for (const wchar_t* name : {L"keltra_one.dump", L"keltra_two.dump"}) {
    std::ofstream(folder.File(name).c_str(), std::ios::binary) << std::string(1536, 'x');
  }
  CLocalFileList list;
  LocalFileFolders folders;
  wcscpy(folders.temp, folder.path().c_str());
  list.SetFolders(folders);
  const uint16_t port = FreePort();
  RunningCapture server(UniqueTag(L"dls"), port);
  server->SetLocalFileList(&list);
  ASSERT_TRUE(server.Start());
  DumpFileEntries out;
  ASSERT_EQ(DumpListResult::kListed, FetchRemoteDumpList(LoopbackAddress(port), ShortLimits(), nullptr, out));
  std::vector<std::wstring> paths = Paths(out);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ((std::vector<std::wstring>{folder.File(L"keltra_one.dump"), folder.File(L"keltra_two.dump")}), paths);
  for (size_t i = 0; i < out.Count(); ++i) {
    EXPECT_EQ(1536u, out[i]->size);
    EXPECT_EQ(kCount, out[i]->recordCount);
  }
}

// The request on its own thread posts its message when done; the window's
// thread takes the entries.
TEST_F(FetchDumpList, RequestThreadPostsWhenDoneAndHandsOverTheEntries) {
  const auto bytes = Reply(Payload(1, {Entry("z.dump")}));
  ScriptedPeer peer([&](SOCKET s, const std::atomic<bool>& stop) {
    ReadRequest(s, nullptr);
    send(s, reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0);
    Linger(stop);
  });
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  constexpr UINT kDone = WM_APP + 7;
  CRemoteDumpListRequest request;
  ASSERT_EQ(1, request.Start(peer.Address(), L"peer", ShortLimits(), window, kDone));
  EXPECT_TRUE(request.Pending());
  EXPECT_EQ(0, request.Start(peer.Address(), L"peer", ShortLimits(), window, kDone));
  MSG msg = {};
  bool done = false;
  while (!done && MsgWaitForMultipleObjects(0, nullptr, FALSE, kNetTimeoutMs, QS_POSTMESSAGE) == WAIT_OBJECT_0) {
    while (PeekMessageW(&msg, window, kDone, kDone, PM_REMOVE)) done = true;
  }
  ASSERT_TRUE(done);
  EXPECT_TRUE(request.Finished());
  DumpFileEntries out;
  EXPECT_EQ(DumpListResult::kListed, request.Take(out));
  EXPECT_FALSE(request.Pending());
  EXPECT_EQ((std::vector<std::wstring>{L"z.dump"}), Paths(out));
  DestroyWindow(window);
}

TEST_F(FetchDumpList, DestroyingARunningRequestCancelsIt) {
  ScriptedPeer peer([&](SOCKET s, const std::atomic<bool>& stop) {
    ReadRequest(s, nullptr);
    Linger(stop);
  });
  DumpListLimits limits = ShortLimits();
  limits.idleMs = 600000;
  limits.totalMs = 600000;
  auto* request = new CRemoteDumpListRequest;
  ASSERT_EQ(1, request->Start(peer.Address(), L"peer", limits, nullptr, 0));
  ASSERT_TRUE(WaitFor([&] { return peer.Accepted(); }, kNetTimeoutMs));
  delete request;  // returns: the ctest time limit would catch a hang
}

}  // namespace
