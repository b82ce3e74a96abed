// The dump-file fetch against a fake remote instance: a thread that accepts
// one connection on 127.0.0.1, reads the file request and plays a script.
#include <gtest/gtest.h>
#include <process.h>
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "jobs/RemoteJobs.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"
#include "tests/jobs/JobTestKit.h"
#include "tests/net/LoopbackPort.h"

using storefix::Bytes;
using storefix::FilesIn;
using storefix::ReadBytes;
using storefix::WriteBytes;

namespace {

constexpr DWORD kServerWaitMs = 10000;
constexpr wchar_t kRemotePath[] = L"C:\\dumps\\app \x00e9t\x00e9.dmp";  // not ASCII on purpose

std::string Word(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); }

std::string Payload(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 7 + i / 251) & 0xFF);
  return bytes;
}

struct Step {
  enum Kind { kSend, kWaitPercent, kClose, kHold } kind;
  std::string bytes;
  uint32_t percent = 0;
};

Step Send(const std::string& bytes) { return {Step::kSend, bytes, 0}; }
Step WaitPercent(uint32_t percent) { return {Step::kWaitPercent, "", percent}; }
Step Close() { return {Step::kClose, "", 0}; }
// Keeps the connection open and quiet until the test is over.
Step Hold() { return {Step::kHold, "", 0}; }

class FakeRemote {
 public:
  FakeRemote() {
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(m_listener, 1) == 0 &&
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      m_address = address;
    }
  }
  ~FakeRemote() {
    m_release.Set();
    if (m_thread) {
      WaitForSingleObject(m_thread, kServerWaitMs);
      CloseHandle(m_thread);
    }
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
  }

  const sockaddr_in& Address() const { return m_address; }

  void Play(std::vector<Step> script, JobItem* job) {
    m_script = std::move(script);
    m_job = job;
    m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Thread, this, 0, nullptr));
  }
  // After the job ended: the request as it arrived, and the percents the
  // job showed at each WaitPercent step.
  std::string Request() {
    m_served.WaitSet(kServerWaitMs);
    return m_request;
  }
  std::vector<uint32_t> SeenPercents() {
    m_served.WaitSet(kServerWaitMs);
    return m_percents;
  }
  void Release() { m_release.Set(); }
  // The percent the job showed when the first WaitPercent step was done.
  uint32_t FirstSeenPercent() {
    if (!m_waited.WaitSet(kServerWaitMs)) return 0;
    return m_firstPercent;
  }

 private:
  static unsigned __stdcall Thread(void* self) {
    static_cast<FakeRemote*>(self)->Serve();
    return 0;
  }

  static bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout = {long(kServerWaitMs / 1000), 0};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
  }

  bool ReadRequest(SOCKET s) {
    // The type, the length and the name; what the client sends is short.
    while (m_request.size() < 8 || m_request.size() < 8 + Length()) {
      char chunk[1024];
      if (!Readable(s)) return false;
      const int got = recv(s, chunk, sizeof(chunk), 0);
      if (got <= 0) return false;
      m_request.append(chunk, size_t(got));
    }
    return true;
  }
  size_t Length() const {
    uint32_t length = 0;
    std::memcpy(&length, m_request.data() + 4, 4);
    return length;
  }

  void Serve() {
    SOCKET s = Readable(m_listener) ? accept(m_listener, nullptr, nullptr) : INVALID_SOCKET;
    if (s != INVALID_SOCKET && ReadRequest(s)) {
      for (const Step& step : m_script) {
        if (!Run(s, step)) break;
      }
    }
    if (s != INVALID_SOCKET) {
      shutdown(s, SD_SEND);
      closesocket(s);
    }
    m_served.Set();
  }

  bool Run(SOCKET& s, const Step& step) {
    switch (step.kind) {
      case Step::kSend:
        return send(s, step.bytes.data(), int(step.bytes.size()), 0) == int(step.bytes.size());
      case Step::kWaitPercent: {
        // The job's reading is what we wait for; it reports it as percents.
        const ULONGLONG until = GetTickCount64() + kServerWaitMs;
        while (m_job->GetPercent() < step.percent && GetTickCount64() < until) SwitchToThread();
        m_percents.push_back(m_job->GetPercent());
        if (m_percents.size() == 1) {
          m_firstPercent = m_percents[0];
          m_waited.Set();
        }
        return true;
      }
      case Step::kClose:
        shutdown(s, SD_SEND);
        closesocket(s);
        s = INVALID_SOCKET;
        return false;
      case Step::kHold:
        m_release.WaitSet(kServerWaitMs);
        return true;
    }
    return false;
  }

  SOCKET m_listener = INVALID_SOCKET;
  sockaddr_in m_address = {};
  std::vector<Step> m_script;
  JobItem* m_job = nullptr;
  HANDLE m_thread = nullptr;
  std::string m_request;
  std::vector<uint32_t> m_percents;
  uint32_t m_firstPercent = 0;
  TestEvent m_served;
  TestEvent m_release;
  TestEvent m_waited;
};

class RmtSaveDump : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
  }
  static void TearDownTestSuite() { WSACleanup(); }

  void SetUp() override { ASSERT_TRUE(folder.valid()); }

  std::wstring Target() const { return folder.File(L"copy.dmp"); }

  // Runs the job on this thread against the script.
  void RunAgainst(const std::vector<Step>& script, JobRmtSaveDump& job) {
    remote.Play(script, &job);
    job.Run();
    remote.Release();
  }

  TempFolder folder;
  FakeRemote remote;
};

std::string ExpectedRequest() {
  const std::string name = "C:\\dumps\\app \xc3\xa9t\xc3\xa9.dmp";
  return Word(3) + Word(uint32_t(name.size())) + name;
}

TEST_F(RmtSaveDump, PayloadInDelayedChunksReportsRisingProgressAndIsWrittenWhole) {
  const std::string payload = Payload(10000);
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  std::vector<Step> script = {Send(Word(10000))};
  for (size_t i = 0; i < 5; ++i) {
    script.push_back(Send(payload.substr(i * 2000, 2000)));
    script.push_back(WaitPercent(uint32_t((i + 1) * 20)));
  }
  script.push_back(Close());
  RunAgainst(script, job);

  EXPECT_EQ(0, job.Failed());
  EXPECT_EQ(0u, job.ErrorCode());
  EXPECT_EQ(100u, job.GetPercent());
  EXPECT_EQ(ExpectedRequest(), remote.Request());
  EXPECT_EQ((std::vector<uint32_t>{20, 40, 60, 80, 100}), remote.SeenPercents());
  EXPECT_EQ(Bytes(payload.begin(), payload.end()), ReadBytes(Target()));
  EXPECT_EQ(std::vector<std::wstring>{L"copy.dmp"}, FilesIn(folder.path()));
}

TEST_F(RmtSaveDump, LengthZeroWritesAnEmptyFile) {
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  RunAgainst({Send(Word(0)), Close()}, job);
  EXPECT_EQ(0, job.Failed());
  EXPECT_EQ(std::vector<std::wstring>{L"copy.dmp"}, FilesIn(folder.path()));
  EXPECT_TRUE(ReadBytes(Target()).empty());
}

TEST_F(RmtSaveDump, SendAndCloseAtOnceIsReadToTheEnd) {
  // Everything, then the close, before the client has read a byte: the
  // close arrives together with (or before) the last data.
  const std::string payload = Payload(3 << 20);
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  RunAgainst({Send(Word(uint32_t(payload.size())) + payload), Close()}, job);
  EXPECT_EQ(0, job.Failed()) << job.ErrorCode();
  EXPECT_EQ(Bytes(payload.begin(), payload.end()), ReadBytes(Target()));
}

// Replies that must leave no file, and an older file at the target as it was.
TEST_F(RmtSaveDump, BadRepliesLeaveNoFileAndKeepAnOldOne) {
  const std::string payload = Payload(10000);
  struct Case {
    const char* what;
    std::vector<Step> script;
    DWORD error;
  } cases[] = {
      {"closed before the length word", {Send("\x10\x27"), Close()}, 0},
      {"closed early", {Send(Word(10000) + payload.substr(0, 3000)), Close()}, ERROR_HANDLE_EOF},
      {"extra bytes", {Send(Word(100) + payload.substr(0, 104)), Close()}, ERROR_INVALID_DATA},
      {"extra bytes in a later read",
       {Send(Word(100) + payload.substr(0, 100)), WaitPercent(100), Send("x"), Close()},
       ERROR_INVALID_DATA},
      {"length above the cap", {Send(Word(0xFFFFFFFF) + payload), Hold()}, ERROR_INVALID_DATA},
  };
  const Bytes old = storefix::ToBytes("the old copy");
  for (const Case& c : cases) {
    TempFolder caseFolder;
    const std::wstring target = caseFolder.File(L"old.dmp");
    ASSERT_TRUE(WriteBytes(target, old));
    FakeRemote server;
    JobRmtSaveDump job(server.Address(), kRemotePath, target.c_str());
    server.Play(c.script, &job);
    job.Run();
    server.Release();
    EXPECT_EQ(1, job.Failed()) << c.what;
    EXPECT_EQ(c.error, job.ErrorCode()) << c.what;
    EXPECT_EQ(100u, job.GetPercent()) << c.what;
    EXPECT_EQ(old, ReadBytes(target)) << c.what;
    EXPECT_EQ(std::vector<std::wstring>{L"old.dmp"}, FilesIn(caseFolder.path())) << c.what;
  }
}

TEST_F(RmtSaveDump, SilenceTimesOut) {
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  job.SetTimeouts(300, 60000);
  RunAgainst({Send(Word(10000) + "abc"), Hold()}, job);
  EXPECT_EQ(1, job.Failed());
  EXPECT_EQ(DWORD(WSAETIMEDOUT), job.ErrorCode());
  EXPECT_TRUE(FilesIn(folder.path()).empty());
}

TEST_F(RmtSaveDump, OverallDeadlineEndsAPeerThatKeepsTheConnectionBusy) {
  // Quiet for less than the idle limit each time, but never done.
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  job.SetTimeouts(60000, 400);
  RunAgainst({Send(Word(10000) + "abc"), Hold()}, job);
  EXPECT_EQ(1, job.Failed());
  EXPECT_EQ(DWORD(WSAETIMEDOUT), job.ErrorCode());
  EXPECT_TRUE(FilesIn(folder.path()).empty());
}

TEST_F(RmtSaveDump, WholeReplyFromAPeerThatStaysOpenIsTakenAfterTheIdleLimit) {
  const std::string payload = Payload(500);
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  job.SetTimeouts(300, 60000);
  RunAgainst({Send(Word(500) + payload), Hold()}, job);
  EXPECT_EQ(0, job.Failed()) << job.ErrorCode();
  EXPECT_EQ(Bytes(payload.begin(), payload.end()), ReadBytes(Target()));
}

TEST_F(RmtSaveDump, ClosedPortFailsWithTheConnectError) {
  sockaddr_in address = remote.Address();
  const uint16_t port = UnusedLoopbackPort();
  ASSERT_NE(0, port);
  address.sin_port = htons(port);
  JobRmtSaveDump job(address, kRemotePath, Target().c_str());
  job.SetTimeouts(5000, 5000);
  job.Run();
  EXPECT_EQ(1, job.Failed());
  EXPECT_EQ(DWORD(WSAECONNREFUSED), job.ErrorCode());
  EXPECT_EQ(100u, job.GetPercent());
  EXPECT_TRUE(FilesIn(folder.path()).empty());
}

TEST_F(RmtSaveDump, UnreachableAtOnceFailsWithoutCode) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = INADDR_NONE;
  JobRmtSaveDump job(address, kRemotePath, Target().c_str());
  job.Run();
  EXPECT_EQ(1, job.Failed());
  EXPECT_EQ(0u, job.ErrorCode());
  EXPECT_EQ(100u, job.GetPercent());
}

TEST_F(RmtSaveDump, PathsTheRequestCannotCarryAreRefusedBeforeConnecting) {
  const std::wstring tooLong(512, L'x');
  for (const wchar_t* path : {L"", tooLong.c_str()}) {
    JobRmtSaveDump job(remote.Address(), path, Target().c_str());
    job.Run();
    EXPECT_EQ(1, job.Failed());
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), job.ErrorCode());
  }
}

unsigned __stdcall RunJob(void* job) {
  static_cast<JobRmtSaveDump*>(job)->Run();
  return 0;
}

void CALLBACK NoWork(ULONG_PTR) {}

TEST_F(RmtSaveDump, AStopWritesNoFile) {
  JobRmtSaveDump job(remote.Address(), kRemotePath, Target().c_str());
  remote.Play({Send(Word(10000) + Payload(1000)), WaitPercent(10), Hold()}, &job);
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunJob, &job, 0, nullptr));
  ASSERT_NE(nullptr, thread);
  // Part of the reply is in: a stop now must not leave it as a file.
  ASSERT_EQ(10u, remote.FirstSeenPercent());
  ASSERT_NE(0u, QueueUserAPC(NoWork, thread, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kServerWaitMs));
  CloseHandle(thread);
  remote.Release();
  EXPECT_EQ(1, job.Failed());
  EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), job.ErrorCode());
  EXPECT_TRUE(FilesIn(folder.path()).empty());
}

}  // namespace

namespace {

// The manager's remote posts: the job runs on the remote worker and comes
// back with the finished notice.
JobItem* g_finishedJob = nullptr;
HANDLE g_finishedEvent = nullptr;

BOOL WINAPI KeepFinishedJob(HWND, UINT message, WPARAM code, LPARAM value) {
  if (message == ThreadsNotify && code == kNotifyJobFinished) {
    g_finishedJob = reinterpret_cast<JobItem*>(value);
    SetEvent(g_finishedEvent);
  }
  return TRUE;
}

void WINAPI NoPause(DWORD) {}

TEST_F(RmtSaveDump, PostedThroughTheManagerItRunsOnTheRemoteWorker) {
  const std::string payload = Payload(5000);
  TestEvent finished;
  g_finishedEvent = finished.get();
  g_finishedJob = nullptr;
  IdleCapture capture;
  CJobMgr manager;
  manager.SetPostFunctions(KeepFinishedJob, NoPause);
  ASSERT_EQ(1, manager.Start(&capture, reinterpret_cast<HWND>(0x1000), 0));
  remote.Play({Send(Word(5000) + payload), Close()}, nullptr);
  EXPECT_EQ(0, manager.PostRemoteList(nullptr));
  ASSERT_EQ(1, manager.PostRemoteSaveDump(remote.Address(), kRemotePath, Target().c_str()));
  ASSERT_TRUE(finished.WaitSet());
  ASSERT_NE(nullptr, g_finishedJob);
  EXPECT_EQ(IDS_JOB_SAVING_REMOTE_DUMP, g_finishedJob->TitleId());
  EXPECT_STREQ(L"Saving remote dump file \"copy.dmp\"", g_finishedJob->Title().c_str());
  EXPECT_EQ(0, g_finishedJob->Failed());
  delete g_finishedJob;
  manager.Stop();
  EXPECT_EQ(Bytes(payload.begin(), payload.end()), ReadBytes(Target()));
}

}  // namespace
