// The upload job against a fake log server on 127.0.0.1 (tests/net/log_server.py).
#include <gtest/gtest.h>
#include <process.h>
#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/StrUtil.h"
#include "formats/FileDispatch.h"
#include "formats/Zip.h"
#include "jobs/UploadJob.h"
#include "res/resource.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"
#include "tests/jobs/JobTestKit.h"
#include "tests/net/LoopbackPort.h"
#include "tests/net/ScriptServer.h"

using namespace storefix;

namespace {

constexpr DWORD kWaitMs = 30000;
// Posts are recorded, never delivered: any non-null handle will do.
const HWND kProgressWindow = reinterpret_cast<HWND>(0x1234);

// --- the posts the job makes to its progress window ---

struct StepPost {
  uint16_t step;
  uint16_t error;
  LPARAM value;
  bool operator==(const StepPost& other) const {
    return step == other.step && error == other.error && value == other.value;
  }
};

std::ostream& operator<<(std::ostream& out, const StepPost& post) {
  return out << "(" << post.step << ", " << post.error << ", " << post.value << ")";
}

CRITICAL_SECTION g_postLock;
std::vector<StepPost> g_posts;

BOOL WINAPI RecordPost(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  EnterCriticalSection(&g_postLock);
  if (message == WM_APP) g_posts.push_back({LOWORD(wParam), HIWORD(wParam), lParam});
  LeaveCriticalSection(&g_postLock);
  return TRUE;
}

void WINAPI NoSleep(DWORD) {}

std::vector<StepPost> TakePosts() {
  EnterCriticalSection(&g_postLock);
  std::vector<StepPost> posts;
  posts.swap(g_posts);
  LeaveCriticalSection(&g_postLock);
  return posts;
}

// Any certificate or credential prompt is refused at once.
LONG g_prompts = 0;
DWORD WINAPI RefusePrompt(HWND, HINTERNET, DWORD, DWORD, void**) {
  InterlockedIncrement(&g_prompts);
  return ERROR_CANCELLED;
}

// --- the test's own requests to the server's control paths ---

struct Logged {
  std::string method;
  std::string path;
  size_t bodyLength;
};

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class Upload : public CStoreTest {
 protected:
  static void SetUpTestSuite() {
    InitializeCriticalSection(&g_postLock);
    ASSERT_EQ(1, g_inetSession.Open());
    s_savedPrompt = g_inetErrorDlg;
    g_inetErrorDlg = RefusePrompt;
    s_server = new ScriptServer;
    ASSERT_TRUE(s_server->Start("log_server.py", "")) << s_server->Line();
    std::istringstream line(s_server->Line());
    std::string word;
    line >> word >> s_port;
    ASSERT_EQ("PORT", word);
  }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
    g_inetErrorDlg = s_savedPrompt;
    g_inetSession.Close();
    DeleteCriticalSection(&g_postLock);
  }

  void SetUp() override {
    CStoreTest::SetUp();
    PointAt(s_port);
    ASSERT_EQ("reset", Control("/control/reset"));
    TakePosts();
  }
  void TearDown() override {
    SetEnvironmentVariableW(kLogServerEnvironment, nullptr);
    CStoreTest::TearDown();
  }

  static void PointAt(uint16_t port) {
    const std::wstring origin = L"http://127.0.0.1:" + std::to_wstring(port);
    SetEnvironmentVariableW(kLogServerEnvironment, origin.c_str());
  }
  static std::string Control(const std::string& path) { return test_net::LoopbackHttpGet(s_port, path); }

  static std::vector<Logged> Log() {
    std::vector<Logged> log;
    std::istringstream lines(Control("/control/log"));
    std::string line;
    while (std::getline(lines, line)) {
      const size_t tab1 = line.find('\t');
      const size_t tab2 = line.find('\t', tab1 + 1);
      log.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), std::stoul(line.substr(tab2 + 1))});
    }
    return log;
  }

  // Fills the source until its upload zip needs `pieces` pieces. The
  // records are enciphered in the file, so the zip hardly shrinks them.
  size_t FillForPieces(uint32_t pieces) {
    const SYSTEMTIME anyTime = {2024, 1, 0, 2, 3, 4, 5, 0};
    for (int i = 0;; ++i) {
      Item item;
      item.message = L"upload record " + std::to_wstring(i) + L" with some text to carry";
      item.pid = 100 + i % 5;
      if (!Add(source, item)) return 0;
      if (i % 25 != 0) continue;
      CZipHandleOwner zip(ZipForUpload(&source, anyTime, nullptr));
      const size_t size = CZip::GetMemorySize(zip.get());
      if ((size + kUploadPieceBytes - 1) / kUploadPieceBytes >= pieces) return size;
    }
  }

  JobSendToTalmo* MakeJob(CTraceMgr* store, CTraceView* view) {
    auto* job = new JobSendToTalmo(nullptr, kProgressWindow, store, view);
    job->SetPostFunctions(RecordPost, NoSleep);
    return job;
  }

  static ScriptServer* s_server;
  static uint16_t s_port;
  static InetErrorDlgFn s_savedPrompt;
};

ScriptServer* Upload::s_server = nullptr;
uint16_t Upload::s_port = 0;
InetErrorDlgFn Upload::s_savedPrompt = nullptr;

std::wstring ComputerNameKey() {
  wchar_t name[128];
  DWORD chars = 128;
  if (!GetComputerNameW(name, &chars)) name[0] = 0;
  return EncodeComputerName(name);
}

Bytes DecodeBase64(const std::string& text) {
  const std::wstring wide = Widen(text);
  Bytes bytes(text.size() * 3 / 4 + 1);
  bytes.resize(Base64Decode(wide.c_str(), wide.size(), bytes.data(), bytes.size()));
  return bytes;
}

TEST_F(Upload, ThreePiecesReassembleToTheZipOfTheStore) {
  const size_t size = FillForPieces(3);
  ASSERT_GT(size, 2 * kUploadPieceBytes);
  ASSERT_LE(size, 3 * kUploadPieceBytes);
  source.ExchangeHasData(1);
  std::unique_ptr<JobSendToTalmo> job(MakeJob(&source, nullptr));
  EXPECT_EQ(IDS_JOB_SENDING, job->TitleId());
  EXPECT_STREQ(L"Prepare sending", job->Title().c_str());
  job->Run();

  EXPECT_STREQ(L"Sending \"source.ktr\"", job->Title().c_str());
  EXPECT_EQ((std::vector<StepPost>{{1, 0, 0}, {2, 0, 0}, {3, 0, 33}, {3, 0, 66}, {3, 0, 100}, {3, 0, 100}, {4, 0, 0}}),
            TakePosts());
  EXPECT_EQ(100u, job->GetPercent());
  EXPECT_EQ(0, source.HasData());
  EXPECT_EQ(0, job->Failed());

  const std::vector<Logged> log = Log();
  ASSERT_EQ(4u, log.size());
  EXPECT_EQ("GET", log[0].method);
  EXPECT_EQ("/logadmin/upload.do?SiteUrl=trace&LanguageId=1&AT=QW", log[0].path);
  // The time text is the job's own clock: its form is checked, then it is
  // put into the expected paths as sent.
  const std::regex timeKey("UPLDT=(\\d\\d:\\d\\d:\\d{4}-\\d\\d:\\d\\d:\\d\\d)&");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(log[1].path, match, timeKey)) << log[1].path;
  const std::string when = match[1];
  const std::string name = Narrow(ComputerNameKey());
  Bytes zip;
  for (uint32_t n = 1; n <= 3; ++n) {
    const size_t length = n < 3 ? kUploadPieceBytes : size - 2 * kUploadPieceBytes;
    const std::string expected = "/logadmin/upload.do?SiteUrl=trace&LanguageId=1&AT=UL&ConfID=0&PT=RPT&TrTy=3&CmNm=" +
                                 name + "&PLenUnCom=" + std::to_string(length) + "&PLenCom=" + std::to_string(length) +
                                 "&PCount=3&PNum=" + std::to_string(n) + "&UPLDT=" + when + "&Flag=0&isUTF8=1&Ext=zip";
    EXPECT_EQ("POST", log[n].method);
    EXPECT_EQ(expected, log[n].path);
    const std::string text = Control("/control/body?n=" + std::to_string(n));
    EXPECT_EQ(text.size(), log[n].bodyLength);
    EXPECT_EQ((length + 2) / 3 * 4, text.size());
    const Bytes piece = DecodeBase64(text);
    EXPECT_EQ(length, piece.size());
    zip.insert(zip.end(), piece.begin(), piece.end());
  }

  // The pieces make the zip: one .ktr entry that opens to the same records.
  const std::wstring path = folder.File(L"uploaded.zip");
  ASSERT_TRUE(WriteBytes(path, zip));
  CUnzip archive;
  ASSERT_EQ(UNZ_OK, archive.Open(path.c_str()));
  ASSERT_EQ(UNZ_OK, archive.GoToFirstFile());
  wchar_t entry[256];
  ASSERT_EQ(UNZ_OK, archive.GetCurrentFileName(entry, 256));
  EXPECT_TRUE(std::regex_match(Narrow(entry), std::regex("keltra_\\d{8}_\\d{6}\\.ktr"))) << Narrow(entry);
  EXPECT_NE(UNZ_OK, archive.GoToNextFile());
  archive.Close();
  CTraceFile loaded;
  ASSERT_EQ(1, OpenFile(&loaded, path.c_str()));
  EXPECT_EQ(Records(source).size(), Records(loaded).size());
}

TEST_F(Upload, AViewIsSentUnderItsTitleAndItsChangedFlagCleared) {
  FillForPieces(1);
  ASSERT_EQ(1, source.AddView(L"all", 0xFFFFFFFF, 0));
  CTraceView* view = source.m_views[source.m_views.count - 1];
  view->ExchangeChanged(1);
  std::unique_ptr<JobSendToTalmo> job(MakeJob(nullptr, view));
  EXPECT_EQ(IDS_JOB_SENDING_VIEW, job->TitleId());
  EXPECT_STREQ(L"Prepare sending view", job->Title().c_str());
  job->Run();
  EXPECT_EQ(std::wstring(L"Sending view \"") + view->m_title.c_str() + L"\"", job->Title().c_str());
  const std::vector<StepPost> posts = TakePosts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ((StepPost{4, 0, 0}), posts.back());
  EXPECT_EQ(0, view->Changed());
}

// Failures of the query and of a piece: one failure post, no step 4, the
// source still marked as not sent.
TEST_F(Upload, ServerRefusalsEndWithOneFailurePost) {
  FillForPieces(3);
  struct Case {
    const char* scenario;
    std::vector<StepPost> posts;
    size_t requests;
  } cases[] = {
      {"query=busy", {{1, 0, 0}, {2, IDS_SEND_ERR_SERVER_BUSY, 0}}, 1},
      {"query=nostatus", {{1, 0, 0}, {2, IDS_SEND_ERR_SERVER_BUSY, 0}}, 1},
      {"query=500", {{1, 0, 0}, {2, IDS_SEND_ERR_HTTP, 500}}, 1},
      {"query=404", {{1, 0, 0}, {2, IDS_SEND_ERR_HTTP, 404}}, 1},
      {"fail=2", {{1, 0, 0}, {2, 0, 0}, {3, 0, 33}, {3, IDS_SEND_ERR_HTTP, 0}}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    ASSERT_EQ("reset", Control(std::string("/control/reset?") + c.scenario));
    source.ExchangeHasData(1);
    std::unique_ptr<JobSendToTalmo> job(MakeJob(&source, nullptr));
    job->Run();
    EXPECT_EQ(c.posts, TakePosts());
    EXPECT_EQ(c.requests, Log().size());
    EXPECT_EQ(1, source.HasData());
  }
  EXPECT_EQ(0, g_prompts);
}

TEST_F(Upload, ClosedPortIsAConnectionError) {
  FillForPieces(1);
  const uint16_t port = UnusedLoopbackPort();
  ASSERT_NE(0, port);
  PointAt(port);
  std::unique_ptr<JobSendToTalmo> job(MakeJob(&source, nullptr));
  job->Run();
  EXPECT_EQ((std::vector<StepPost>{{1, 0, 0}, {2, IDS_SEND_ERR_INTERNET, ERROR_INTERNET_CANNOT_CONNECT}}),
            TakePosts());
}

TEST_F(Upload, ZipsThatCannotBeSentAreRefusedBeforeAnyRequest) {
  // Empty, and over the 4 MiB limit (the zip stops there).
  CTraceFile empty;
  std::unique_ptr<JobSendToTalmo> none(MakeJob(&empty, nullptr));
  none->Run();
  EXPECT_EQ((std::vector<StepPost>{{1, IDS_SEND_ERR_INVALID_LOG, 0}}), TakePosts());

  CTraceFile large;
  ASSERT_EQ(1, large.GrowBuffer(24u << 20));
  // Text that differs from its first block on, so its cipher text does not
  // deflate: the zip passes 4 MiB.
  uint32_t seed = 12345;
  for (int i = 0; i < 55000; ++i) {
    Item item;
    wchar_t text[48];
    seed = seed * 1103515245u + 12345u;
    const uint32_t a = seed;
    seed = seed * 1103515245u + 12345u;
    swprintf(text, 48, L"%08x%08x", a, seed);
    item.message = std::wstring(text) + L" a record among many to pass the upload limit";
    ASSERT_NE(nullptr, Add(large, item));
  }
  std::unique_ptr<JobSendToTalmo> big(MakeJob(&large, nullptr));
  big->Run();
  EXPECT_EQ((std::vector<StepPost>{{1, IDS_SEND_ERR_INVALID_LOG, 0}}), TakePosts());
  EXPECT_TRUE(Log().empty());
}

TEST_F(Upload, CancelledBeforeRunningSendsNothing) {
  FillForPieces(1);
  std::unique_ptr<JobSendToTalmo> job(MakeJob(&source, nullptr));
  job->Cancel();
  job->Run();
  EXPECT_EQ((std::vector<StepPost>{{1, IDS_SEND_ERR_CANCELLED, 0}}), TakePosts());
  EXPECT_TRUE(Log().empty());
}

unsigned __stdcall RunJob(void* job) {
  static_cast<JobSendToTalmo*>(job)->Run();
  return 0;
}

TEST_F(Upload, CancelWhileAPieceStallsReportsCancelNotAConnectionError) {
  FillForPieces(3);
  ASSERT_EQ("reset", Control("/control/reset?stall=2"));
  std::unique_ptr<JobSendToTalmo> job(MakeJob(&source, nullptr));
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunJob, job.get(), 0, nullptr));
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ("stalled", Control("/control/wait_stall"));
  job->Cancel();
  // Whether or not closing the handles cut the wait short, the answer that
  // now comes must not turn the cancel into anything else.
  Control("/control/release");
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kWaitMs));
  CloseHandle(thread);
  EXPECT_EQ((std::vector<StepPost>{{1, 0, 0}, {2, 0, 0}, {3, 0, 33}, {3, IDS_SEND_ERR_CANCELLED, 0}}), TakePosts());
  EXPECT_EQ(3u, Log().size());
}

TEST(UploadText, ComputerNameAndQuerySeparator) {
  EXPECT_EQ(L"build+host+01", EncodeComputerName(L"build_host.01"));
  EXPECT_EQ(L"caf%C3%A9", EncodeComputerName(L"caf\x00e9"));
  EXPECT_EQ(L"", EncodeComputerName(nullptr));
  struct Case {
    const wchar_t* url;
    const wchar_t* joined;
  } cases[] = {
      {L"http://h/p", L"http://h/p?"},
      {L"http://h/p?", L"http://h/p?"},
      {L"http://h/p?a=1", L"http://h/p?a=1&"},
      {L"http://h/p?a=1&", L"http://h/p?a=1&"},
  };
  for (const Case& c : cases) {
    std::wstring url = c.url;
    AppendQuerySeparator(url);
    EXPECT_EQ(c.joined, url);
  }
}

TEST(UploadText, TheSeamReplacesOnlyTheOrigin) {
  SetEnvironmentVariableW(kLogServerEnvironment, nullptr);
  EXPECT_EQ(std::wstring(kLogServerOrigin) + L"/logadmin/upload.do?SiteUrl=trace&LanguageId=1&", LogServerBaseUrl());
  SetEnvironmentVariableW(kLogServerEnvironment, L"http://127.0.0.1:8080");
  EXPECT_EQ(L"http://127.0.0.1:8080/logadmin/upload.do?SiteUrl=trace&LanguageId=1&", LogServerBaseUrl());
  SetEnvironmentVariableW(kLogServerEnvironment, nullptr);
}

}  // namespace
