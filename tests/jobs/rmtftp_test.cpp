// Listing and fetching jobs against the FTP test server (tests/net).
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/TraceRecord.h"
#include "formats/Ktr.h"
#include "jobs/RemoteJobs.h"
#include "net/RemoteServer.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"
#include "tests/net/FtpSuite.h"

using namespace storefix;

namespace {

constexpr int kTraceRecords = 40;


std::wstring MessageText(int i) { return L"remote record " + std::to_wstring(i); }

class RmtFtp : public FtpSuite<CStoreTest> {
 protected:
  // A trace file in the server's logs folder, written as this program writes one.
  void PutTraceFile(const wchar_t* name) {
    for (int i = 0; i < kTraceRecords; ++i) {
      Item item;
      item.message = MessageText(i);
      item.pid = 100 + i % 3;
      ASSERT_NE(nullptr, Add(source, item));
    }
    const std::wstring path = s_root + L"\\logs\\" + name;
    ASSERT_EQ(1, SaveKtr(&source, path.c_str(), nullptr));
    m_written = path;
  }
  void TearDown() override {
    if (!m_written.empty()) DeleteFileW(m_written.c_str());
    CStoreTest::TearDown();
  }

  std::wstring TempName(const wchar_t* remoteName) {
    wchar_t path[MAX_PATH];
    const std::wstring prefix = folder.path() + L"\\";
    EXPECT_EQ(1, MakeRemoteTempName(remoteName, prefix.c_str(), path, MAX_PATH));
    return path;
  }

  std::wstring m_written;
};

TEST_F(RmtFtp, ListsAFolderWithItsTitle) {
  PutTraceFile(L"trace.ktr");
  const CRemoteServer server = Server(L"/logs");
  JobRmtList job(server);
  EXPECT_EQ(IDS_JOB_REMOTE_LIST, job.TitleId());
  EXPECT_STREQ(L"List \"ftp://127.0.0.1/logs\"", job.Title().c_str());
  job.Run();
  EXPECT_EQ(0, job.Failed());
  EXPECT_EQ(100u, job.GetPercent());
  EXPECT_EQ((std::vector<std::wstring>{L"[..", L"[Beta", L"[old", L"A.txt", L"b.ktr", L"big.bin", L"c.log", L"noext",
                                       L"trace.ktr"}),
            Names(job.Listing()));
}

// The dialog that posted a listing may be destroyed while the job waits or
// runs: the job works on its own copy of the entry and its own listing.
TEST_F(RmtFtp, ListingOutlivesTheEntryItWasMadeFrom) {
  PutTraceFile(L"trace.ktr");
  auto* server = new CRemoteServer(Server(L"/logs/"));
  JobRmtList job(*server);
  server->host = L"256.0.0.1";
  server->path = L"/nowhere/";
  delete server;
  job.Run();
  EXPECT_EQ(0, job.Failed()) << job.ErrorCode();
  EXPECT_EQ(L"/logs/", std::wstring(job.Server().path.c_str()));
  EXPECT_EQ(L"trace.ktr", Names(job.Listing()).back());
}

TEST_F(RmtFtp, ListingResultsByServerEntry) {
  struct Case {
    const char* what;
    CRemoteServer server;
    int failed;
    DWORD error;
    std::vector<std::wstring> names;
  };
  const Case cases[] = {
      {"empty folder", Server(L"/empty/"), 0, 0, {L"[.."}},
      {"wrong password", Server(L"/logs/", L"secret-1"), 1, ERROR_INTERNET_LOGIN_FAILURE, {}},
      {"sftp", Server(L"/logs/", kPassword, kProtocolSftp), 1, ERROR_NOT_SUPPORTED, {}},
      {"no protocol", Server(L"/logs/", kPassword, kProtocolNone), 1, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobRmtList job(c.server);
    job.Run();
    EXPECT_EQ(c.failed, job.Failed());
    EXPECT_EQ(c.error, job.ErrorCode());
    EXPECT_EQ(100u, job.GetPercent());
    EXPECT_EQ(c.names, Names(job.Listing()));
  }
}

TEST_F(RmtFtp, FetchedTraceFileOpensThroughTheDispatch) {
  PutTraceFile(L"trace.ktr");
  const CRemoteServer server = Server(L"/logs/");
  const std::wstring local = TempName(L"trace.ktr");
  JobRmtGet job(server, L"trace.ktr", 0, local.c_str());
  EXPECT_STREQ(L"Get \"trace.ktr\"", job.Title().c_str());
  job.Run();
  ASSERT_EQ(0, job.Failed()) << job.ErrorCode();
  EXPECT_EQ(IDS_JOB_REMOTE_GET, job.TitleId());
  const std::wstring opening = L"Opening \"" + local.substr(local.rfind(L'\\') + 1) + L"\"";
  EXPECT_EQ(opening, job.Title().c_str());
  EXPECT_EQ(100u, job.GetPercent());
  const std::vector<const TraceRecord*> records = Records(*job.Store());
  ASSERT_EQ(size_t(kTraceRecords), records.size());
  for (int i = 0; i < kTraceRecords; ++i) {
    EXPECT_STREQ(MessageText(i).c_str(), records[i]->StringAt(records[i]->messageOffset));
  }
  // The dispatch made the store's views (one per group at least).
  EXPECT_FALSE(job.Store()->m_views.count == 0);
  EXPECT_EQ(local, job.Store()->m_filePath.c_str());
}

TEST_F(RmtFtp, FetchFailuresLeaveNoTemporaryFile) {
  struct Case {
    const char* what;
    CRemoteServer server;
    const wchar_t* name;
    bool codeExpected;
    DWORD error;
  };
  const Case cases[] = {
      // Downloaded whole, but not a trace file: the load fails.
      {"not a trace file", Server(L"/logs/"), L"b.ktr", false, 0},
      {"missing file", Server(L"/logs/"), L"gone.ktr", true, 0},
      {"sftp", Server(L"/logs/", kPassword, kProtocolSftp), L"b.ktr", true, ERROR_NOT_SUPPORTED},
      {"no protocol", Server(L"/logs/", kPassword, kProtocolNone), L"b.ktr", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring local = TempName(c.name);
    JobRmtGet job(c.server, c.name, 0, local.c_str());
    job.Run();
    EXPECT_EQ(1, job.Failed());
    if (!c.codeExpected) {
      EXPECT_EQ(0u, job.ErrorCode());
    } else if (c.error) {
      EXPECT_EQ(c.error, job.ErrorCode());
    } else {
      EXPECT_NE(0u, job.ErrorCode());
    }
    EXPECT_EQ(100u, job.GetPercent());
    EXPECT_TRUE(FilesIn(folder.path()).empty());
  }
}

}  // namespace
