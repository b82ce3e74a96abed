#include "jobs/LocalJobs.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "tests/core/RecordFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/TextFixture.h"
#include "tests/jobs/JobTestKit.h"

namespace {

constexpr uint32_t kGroup = 0x1;

void LoadGroupTable() {
  if (g_moduleGroups.Count() == 0) {
    ASSERT_EQ(1, g_moduleGroups.LoadFromResource());
  }
}

// A file store that says when it is deleted, and whose lock can fail.
class WatchedStore : public CTraceFile {
 public:
  explicit WatchedStore(bool* deleted = nullptr, bool lockFails = false)
      : m_deleted(deleted), m_lockFails(lockFails) {}
  ~WatchedStore() override {
    if (m_deleted) *m_deleted = true;
  }
  int Lock(int, int) override { return m_lockFails ? 0 : 1; }

 private:
  bool* m_deleted;
  bool m_lockFails;
};

struct Row {
  uint32_t time;
  uint16_t milliseconds;
  uint32_t pid;
  const wchar_t* message;
};

// r0..r5 as the selection cases below number them.
const Row kRows[] = {
    {100, 0, 1, L"r0"}, {100, 500, 2, L"r1"}, {101, 0, 1, L"r2"},
    {102, 0, 2, L"r3"}, {103, 0, 1, L"r4"},  {104, 0, 2, L"r5"},
};

void Fill(CTraceMgr* store) {
  ASSERT_TRUE(store->SetFileName(L"C:\\logs\\small.ktr", L"small.ktr"));
  ASSERT_TRUE(store->GrowBuffer(1 << 16));
  for (const Row& row : kRows) {
    RecordSpec spec;
    spec.time = row.time;
    spec.milliseconds = row.milliseconds;
    spec.pid = row.pid;
    spec.message = row.message;
    spec.groupFlag = kGroup;
    TraceRecord* record = AddRecord(store, spec);
    ASSERT_NE(record, nullptr);
    store->AddToProcessStats(record);
  }
}

// A view over every record of the store, held by the test.
CTraceView* AllRecordsView(CTraceMgr* store) {
  CTraceView* view = store->CreateView(kGroup);
  if (!view) return nullptr;
  view->Rebuild();
  view->AddRef();
  return view;
}

std::vector<std::wstring> Messages(const CTraceView* view) {
  std::vector<std::wstring> messages;
  for (size_t i = 0; i < view->RecordCount(); ++i) messages.emplace_back(view->RecordAt(i)->Message());
  return messages;
}

std::vector<std::wstring> Messages(const CTraceMgr* store) {
  std::vector<std::wstring> messages;
  for (const TraceRecord* record : StoredRecords(*store)) messages.emplace_back(record->Message());
  return messages;
}

CTraceFilter PidFilter(uint32_t pid) {
  CTraceFilter filter;
  filter.AddProcessId(pid);
  return filter;
}

// --- JobFilter ---------------------------------------------------------------

TEST(JobFilter, SelectionFollowsTheRecordThroughTheNewFilter) {
  LoadGroupTable();
  struct Case {
    const char* name;
    int selected;
    uint32_t pid;
    int expected;
    size_t count;
  };
  const Case cases[] = {
      {"kept", 2, 1, 1, 3},
      {"kept among records of the same second", 1, 2, 0, 3},
      {"filtered out: next second", 1, 1, 1, 3},
      {"filtered out: later record", 3, 1, 2, 3},
      {"all earlier: the last record", 5, 1, 2, 3},
      {"empty result", 2, 9, -1, 0},
      {"no selection", -1, 1, -1, 3},
      {"selection past the end", 6, 1, -1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* store = new WatchedStore;
    Fill(store);
    CTraceView* view = AllRecordsView(store);
    ASSERT_NE(view, nullptr);
    view->m_selectedRow = c.selected;
    {
      JobFilter job(view, 0, PidFilter(c.pid), c.selected);
      EXPECT_EQ(view->State(), kViewFilterJob);
      EXPECT_STREQ(job.Title().c_str(), (L"Searching \"" + std::wstring(view->m_title.c_str()) + L"\"").c_str());
      job.Run();
      EXPECT_EQ(job.Failed(), 0);
      EXPECT_EQ(job.SelectedIndex(), c.expected);
      EXPECT_EQ(view->RecordCount(), c.count);
      EXPECT_EQ(view->m_selectedRow, c.expected);
      EXPECT_EQ(view->m_topRow, c.expected);
      EXPECT_EQ(view->State(), kViewIdle);
      EXPECT_EQ(view->Changed(), 1);
      EXPECT_EQ(job.GetPercent(), 100u);
    }
    EXPECT_EQ(view->State(), kViewIdle);
    view->Release();
    store->Release();
  }
}

TEST(JobFilter, LockFailureLeavesTheViewAsItWas) {
  LoadGroupTable();
  bool deleted = false;
  auto* store = new WatchedStore(&deleted, true);
  Fill(store);
  CTraceView* view = AllRecordsView(store);
  ASSERT_NE(view, nullptr);
  view->m_selectedRow = 3;
  view->m_topRow = 1;
  {
    JobFilter job(view, 0, PidFilter(1), 3);
    job.Run();
    EXPECT_EQ(job.Failed(), 1);
    EXPECT_EQ(job.ErrorCode(), 0u);
    EXPECT_EQ(job.SelectedIndex(), -1);
    EXPECT_EQ(view->State(), kViewIdle);
    EXPECT_EQ(view->RecordCount(), 6u);
    EXPECT_EQ(view->m_selectedRow, 3);
    EXPECT_EQ(view->m_topRow, 1);
    EXPECT_EQ(job.GetPercent(), 100u);
  }
  view->Release();
  store->Release();
  EXPECT_TRUE(deleted);
}

TEST(JobFilter, JobDeletedWithoutRunningGivesTheViewBack) {
  LoadGroupTable();
  auto* store = new WatchedStore;
  Fill(store);
  CTraceView* view = AllRecordsView(store);
  ASSERT_NE(view, nullptr);
  auto* job = new JobFilter(view, 0, PidFilter(1), 2);
  EXPECT_EQ(view->State(), kViewFilterJob);
  EXPECT_EQ(store->RefCount(), 2);
  delete job;
  EXPECT_EQ(view->State(), kViewIdle);
  EXPECT_EQ(store->RefCount(), 1);
  EXPECT_EQ(view->RecordCount(), 6u);

  // A manager without a local worker refuses the post: the same.
  CJobMgr manager;
  EXPECT_EQ(manager.PostFilter(view, 0, PidFilter(1), 2), 0);
  EXPECT_EQ(view->State(), kViewIdle);
  EXPECT_EQ(store->RefCount(), 1);
  view->Release();
  store->Release();
}

TEST(JobFilter, JobKeepsTheStoreOfAClosedDocument) {
  LoadGroupTable();
  bool deleted = false;
  auto* store = new WatchedStore(&deleted);
  Fill(store);
  CTraceView* view = AllRecordsView(store);
  ASSERT_NE(view, nullptr);
  auto* job = new JobFilter(view, 0, PidFilter(2), 1);
  // The document closes while the job waits in the queue.
  view->Release();
  store->Release();
  EXPECT_FALSE(deleted);
  job->Run();
  EXPECT_EQ(job->SelectedIndex(), 0);
  EXPECT_EQ(Messages(job->View()), (std::vector<std::wstring>{L"r1", L"r3", L"r5"}));
  delete job;
  EXPECT_TRUE(deleted);
}

// --- JobFile -----------------------------------------------------------------

TEST(JobFile, SaveAndOpenRoundTrips) {
  LoadGroupTable();
  const TempFolder folder;
  ASSERT_TRUE(folder.valid());
  auto* store = new WatchedStore;
  Fill(store);
  CTraceView* view = AllRecordsView(store);
  ASSERT_NE(view, nullptr);
  view->m_filter.Assign(0, PidFilter(2));
  view->Rebuild();

  struct Case {
    const wchar_t* file;
    bool wholeStore;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {L"all.ktr", true, {L"r0", L"r1", L"r2", L"r3", L"r4", L"r5"}},
      {L"view.ktr", false, {L"r1", L"r3", L"r5"}},
      {L"noextension", true, {L"r0", L"r1", L"r2", L"r3", L"r4", L"r5"}},
      {L"all.txt", true, {L"r0", L"r1", L"r2", L"r3", L"r4", L"r5"}},
      {L"view.TXT", false, {L"r1", L"r3", L"r5"}},
      {L"view.html", false, {L"r1", L"r3", L"r5"}},
      {L"all.zip", true, {L"r0", L"r1", L"r2", L"r3", L"r4", L"r5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.file)));
    const std::wstring path = folder.File(c.file);
    JobFile save(c.wholeStore ? IDS_JOB_SAVING : IDS_JOB_SAVING_VIEW, path.c_str(), c.wholeStore ? store : nullptr,
                 c.wholeStore ? nullptr : view);
    EXPECT_EQ(save.Title(), CString((std::wstring(c.wholeStore ? L"Saving \"" : L"Saving view \"") + c.file + L"\"").c_str()));
    save.Run();
    EXPECT_EQ(save.Failed(), 0);
    EXPECT_EQ(save.GetPercent(), 100u);

    auto* opened = new CTraceFile;
    JobFile open(IDS_JOB_OPENING, path.c_str(), opened, nullptr);
    opened->Release();
    EXPECT_EQ(open.Title(), CString((std::wstring(L"Opening \"") + c.file + L"\"").c_str()));
    open.Run();
    EXPECT_EQ(open.Failed(), 0);
    EXPECT_EQ(open.GetPercent(), 100u);
    EXPECT_EQ(Messages(open.Store()), c.expected);
  }
  view->Release();
  store->Release();
}

TEST(JobFile, FailuresKeepTheTitleForTheReport) {
  LoadGroupTable();
  const TempFolder folder;
  ASSERT_TRUE(folder.valid());
  auto* store = new WatchedStore;
  Fill(store);
  const std::wstring missingFolder = folder.File(L"missing\\out.ktr");
  JobFile save(IDS_JOB_SAVING, missingFolder.c_str(), store, nullptr);
  save.Run();
  EXPECT_EQ(save.Failed(), 1);
  EXPECT_EQ(save.ErrorCode(), 0u);
  EXPECT_STREQ(save.Title().c_str(), L"Saving \"out.ktr\"");
  EXPECT_EQ(GetFileAttributesW(missingFolder.c_str()), INVALID_FILE_ATTRIBUTES);

  auto* opened = new CTraceFile;
  const std::wstring missingFile = folder.File(L"none.ktr");
  JobFile open(IDS_JOB_OPENING, missingFile.c_str(), opened, nullptr);
  opened->Release();
  open.Run();
  EXPECT_EQ(open.Failed(), 1);
  EXPECT_STREQ(open.Title().c_str(), L"Opening \"none.ktr\"");

  JobFile locked(IDS_JOB_SAVING, folder.File(L"x.ktr").c_str(), new WatchedStore(nullptr, true), nullptr);
  locked.Store()->Release();
  locked.Run();
  EXPECT_EQ(locked.Failed(), 1);
  EXPECT_EQ(GetFileAttributesW(folder.File(L"x.ktr").c_str()), INVALID_FILE_ATTRIBUTES);

  JobFile unknown(IDS_JOB_SEARCHING, folder.File(L"y.ktr").c_str(), store, nullptr);
  unknown.Run();
  EXPECT_EQ(unknown.Failed(), 1);
  store->Release();
}

TEST(JobFile, SavingAViewHoldsItsStore) {
  LoadGroupTable();
  const TempFolder folder;
  ASSERT_TRUE(folder.valid());
  bool deleted = false;
  auto* store = new WatchedStore(&deleted);
  Fill(store);
  CTraceView* view = AllRecordsView(store);
  ASSERT_NE(view, nullptr);
  auto* job = new JobFile(IDS_JOB_SAVING_VIEW, folder.File(L"v.ktr").c_str(), nullptr, view);
  view->Release();
  store->Release();
  EXPECT_FALSE(deleted);
  job->Run();
  EXPECT_EQ(job->Failed(), 0);
  delete job;
  EXPECT_TRUE(deleted);
}

// --- JobSaveDump -------------------------------------------------------------

TEST(JobSaveDump, NumberedNamesGoBeforeTheFileNamesExtension) {
  struct Case {
    const wchar_t* path;
    uint32_t number;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\d\\trace.ktr", 0, L"C:\\d\\trace(0).ktr"},
      {L"C:\\d\\trace.ktr", 12, L"C:\\d\\trace(12).ktr"},
      {L"C:\\d.x\\trace", 0, L"C:\\d.x\\trace(0)"},
      {L"C:/d.x/trace", 1, L"C:/d.x/trace(1)"},
      {L"C:\\d\\a.b.dump", 3, L"C:\\d\\a.b(3).dump"},
      {L"C:\\p%s\\t%d.ktr", 1, L"C:\\p%s\\t%d(1).ktr"},
      {L"trace", 0, L"trace(0)"},
      {L"C:\\d\\", 0, L"C:\\d\\(0)"},
  };
  for (const Case& c : cases) {
    CString name;
    ASSERT_EQ(MakeNumberedName(c.path, c.number, name), 1);
    EXPECT_STREQ(name.c_str(), c.expected);
  }
}

std::string ReadFileText(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  char buffer[256];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
  CloseHandle(file);
  return std::string(buffer, read);
}

TEST(JobSaveDump, CopiesUnderAFreeName) {
  const TempFolder folder;
  ASSERT_TRUE(folder.valid());
  ASSERT_TRUE(CreateDirectoryW(folder.File(L"dir.v1").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(folder.File(L"p%sq").c_str(), nullptr));
  const std::wstring source = folder.File(L"source.dmp");
  ASSERT_TRUE(WriteFileBytes(source, "dump"));
  struct Case {
    const wchar_t* destination;
    int avoid;
    std::vector<const wchar_t*> existing;
    const wchar_t* chosen;
  };
  const Case cases[] = {
      {L"new.dmp", 1, {}, L"new.dmp"},
      {L"trace.ktr", 1, {L"trace.ktr"}, L"trace(0).ktr"},
      {L"twice.ktr", 1, {L"twice.ktr", L"twice(0).ktr"}, L"twice(1).ktr"},
      {L"dir.v1\\dump", 1, {L"dir.v1\\dump"}, L"dir.v1\\dump(0)"},
      {L"p%sq\\t%d.ktr", 1, {L"p%sq\\t%d.ktr"}, L"p%sq\\t%d(0).ktr"},
      {L"over.ktr", 0, {L"over.ktr"}, L"over.ktr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.destination)));
    for (const wchar_t* name : c.existing) {
      ASSERT_TRUE(WriteFileBytes(folder.File(name), "old"));
    }
    JobSaveDump job(source.c_str(), folder.File(c.destination).c_str(), c.avoid);
    job.Run();
    EXPECT_EQ(job.Failed(), 0);
    EXPECT_EQ(job.GetPercent(), 0u);
    EXPECT_EQ(std::wstring(job.Destination().c_str()), folder.File(c.chosen));
    EXPECT_EQ(ReadFileText(folder.File(c.chosen)), "dump");
    for (const wchar_t* name : c.existing) {
      if (std::wstring(name) != c.chosen) {
        EXPECT_EQ(ReadFileText(folder.File(name)), "old");
      }
    }
  }
}

TEST(JobSaveDump, FailureComesFromTheCopy) {
  const TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::wstring source = folder.File(L"source.dmp");
  ASSERT_TRUE(WriteFileBytes(source, "dump"));
  struct Case {
    const char* name;
    std::wstring source;
    std::wstring destination;
    int avoid;
    DWORD error;
  };
  const Case cases[] = {
      {"missing source", folder.File(L"none.dmp"), folder.File(L"a.dmp"), 1, ERROR_FILE_NOT_FOUND},
      {"missing source, overwrite", folder.File(L"none.dmp"), folder.File(L"a.dmp"), 0, ERROR_FILE_NOT_FOUND},
      {"missing folder", source, folder.File(L"nowhere\\a.dmp"), 1, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobSaveDump job(c.source.c_str(), c.destination.c_str(), c.avoid);
    EXPECT_STREQ(job.Title().c_str(), L"Saving dump file \"a.dmp\"");
    job.Run();
    EXPECT_EQ(job.Failed(), 1);
    EXPECT_EQ(job.ErrorCode(), c.error);
    EXPECT_EQ(GetFileAttributesW(c.destination.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// --- Through the manager, to a real window -------------------------------------

// A hidden message-only window that takes the notifications as the frame does.
class NoticeWindow {
 public:
  NoticeWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KtJobNoticeWindow";
    RegisterClassW(&windowClass);
    m_window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               windowClass.hInstance, nullptr);
  }
  ~NoticeWindow() {
    if (m_window) DestroyWindow(m_window);
  }
  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;
  HWND get() const { return m_window; }

  // The next ThreadsNotify, or false after the time-out.
  bool Next(MSG* message, DWORD ms = 10000) {
    const DWORD start = GetTickCount();
    for (;;) {
      if (PeekMessageW(message, m_window, ThreadsNotify, ThreadsNotify, PM_REMOVE)) return true;
      const DWORD spent = GetTickCount() - start;
      if (spent >= ms) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_POSTMESSAGE);
    }
  }

 private:
  HWND m_window = nullptr;
};

// Save, open and copy posted one after another reach the window in order,
// each as code 10 then code 11 with the same job, which the window deletes.
TEST(LocalJobs, PostedJobsReportToTheOwnerWindow) {
  LoadGroupTable();
  const TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::wstring saved = folder.File(L"saved.ktr");
  ASSERT_TRUE(WriteFileBytes(folder.File(L"copy.ktr"), "old"));
  auto* store = new WatchedStore;
  Fill(store);
  NoticeWindow window;
  ASSERT_NE(window.get(), nullptr);
  IdleCapture capture;
  CJobMgr manager;
  ASSERT_EQ(manager.Start(&capture, window.get(), 1), 1);
  ASSERT_EQ(manager.PostSaveFile(saved.c_str(), store, nullptr), 1);
  store->Release();
  ASSERT_EQ(manager.PostOpenFile(saved.c_str()), 1);
  ASSERT_EQ(manager.PostSaveDump(saved.c_str(), folder.File(L"copy.ktr").c_str(), 1), 1);

  const uint32_t titles[] = {IDS_JOB_SAVING, IDS_JOB_OPENING, IDS_JOB_SAVING_DUMP};
  for (uint32_t title : titles) {
    SCOPED_TRACE(title);
    MSG started = {};
    ASSERT_TRUE(window.Next(&started));
    EXPECT_EQ(started.wParam, WPARAM(kNotifyJobStarted));
    MSG ended = {};
    ASSERT_TRUE(window.Next(&ended));
    EXPECT_EQ(ended.wParam, WPARAM(kNotifyJobFinished));
    ASSERT_EQ(ended.lParam, started.lParam);
    auto* job = reinterpret_cast<JobItem*>(ended.lParam);
    EXPECT_EQ(job->TitleId(), title);
    EXPECT_EQ(job->Failed(), 0);
    if (title == IDS_JOB_OPENING) {
      EXPECT_EQ(Messages(static_cast<JobFile*>(job)->Store()),
                (std::vector<std::wstring>{L"r0", L"r1", L"r2", L"r3", L"r4", L"r5"}));
    }
    if (title == IDS_JOB_SAVING_DUMP) {
      EXPECT_EQ(std::wstring(static_cast<JobSaveDump*>(job)->Destination().c_str()), folder.File(L"copy(0).ktr"));
    }
    delete job;
  }
  manager.Stop();
}

}  // namespace
