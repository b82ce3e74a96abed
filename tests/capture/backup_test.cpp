// Rolling backup files: sizes, order and completeness read back with the
// .ktr reader, series, and the failures that must not lose records.
#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "core/RecordBuilder.h"
#include "formats/Ktr.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/core/TempFolder.h"

using namespace capture_test;

namespace {

constexpr uint32_t kMegabyte = 1u << 20;

std::vector<std::wstring> BackupFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\kelbackup_*.ktr").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do names.push_back(folder + L"\\" + found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint64_t FileBytes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::wstring> FileMessages(const std::wstring& path) {
  std::vector<std::wstring> out;
  CTraceFile store;
  store.SetFileName(path.c_str(), L"backup");
  EXPECT_EQ(1, LoadKtr(&store)) << "reading " << std::string(path.begin(), path.end());
  if (store.Buffer() == nullptr) return out;
  CTraceRingWalker walker(store.Buffer());
  while (const TraceRecord* r = walker.Next()) out.push_back(r->Message());
  return out;
}

// A write that fails once, after `okCalls` calls went through.
int g_writesLeft = -1;
BOOL WINAPI FailingWrite(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
  if (g_writesLeft == 0) {
    g_writesLeft = -1;
    // Half of it reaches the disk, as when the disk fills up.
    WriteFile(file, data, bytes / 2, written, overlapped);
    return FALSE;
  }
  if (g_writesLeft > 0) --g_writesLeft;
  return WriteFile(file, data, bytes, written, overlapped);
}

class Backups : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    ASSERT_TRUE(m_folder.valid());
    m_capture = NewCapture(UniqueTag(L"backup"), 32u << 20, 4u << 20);
    ASSERT_EQ(1, m_capture->Init(0));
    g_appConfig.m_logEnable = 1;
    g_appConfig.m_logLimit = 1;
    g_appConfig.m_logSize = 1;
    g_appConfig.m_logFolder = CString(m_folder.path().c_str());
  }
  void TearDown() override {
    g_appConfig.m_logEnable = 0;
    m_capture->FlushBackup();  // closes the file before the folder goes
    m_capture->Release();
    g_writesLeft = -1;
  }
  // Stores `count` records whose messages are `chars` long.
  void Store(uint32_t count, size_t chars = 600) {
    const CStoreLock lock(m_capture, kLockExclusive);
    ASSERT_TRUE(lock.Held());
    const int group = g_moduleGroups.FindEnabled(L"mod.dll", 0);
    for (uint32_t i = 0; i < count; ++i) {
      std::wstring message = L"record " + std::to_wstring(m_next++) + L" ";
      message.append(chars, L'm');
      ASSERT_NE(nullptr, CTraceMgr::AddTraceItem(m_capture, group, kLevelInfo, L"mod.dll", nullptr, message.c_str(),
                                                 kForeignPid, 1, uint32_t(time(nullptr)), 0, nullptr, nullptr,
                                                 kModeBuild, 2048));
    }
  }
  // Ends the series: the open file is written with no reader sharing it.
  void CloseSeries() {
    g_appConfig.m_logEnable = 0;
    m_capture->FlushBackup();
    g_appConfig.m_logEnable = 1;
  }
  std::vector<std::wstring> RingMessages() {
    std::vector<std::wstring> out;
    CTraceRingWalker walker(m_capture->Buffer());
    while (const TraceRecord* r = walker.Next()) out.push_back(r->Message());
    return out;
  }
  std::vector<std::wstring> AllFileMessages(const std::vector<std::wstring>& files) {
    std::vector<std::wstring> out;
    for (const std::wstring& file : files) {
      const auto messages = FileMessages(file);
      out.insert(out.end(), messages.begin(), messages.end());
    }
    return out;
  }

  TempFolder m_folder{L"ktbackup"};
  CTraceCapture* m_capture = nullptr;
  uint32_t m_next = 1;
};

TEST_F(Backups, SmallLimitKeepsEveryFileUnderItAndReadsBackInOrder) {
  for (uint32_t size : {0u, 1u}) {  // 0 is taken as the smallest limit
    SCOPED_TRACE(size);
    TempFolder folder(L"ktbackup");
    g_appConfig.m_logFolder = CString(folder.path().c_str());
    g_appConfig.m_logSize = size;
    for (int tick = 0; tick < 4; ++tick) {
      Store(1500);
      m_capture->FlushBackup();
    }
    EXPECT_EQ(m_capture->Buffer()->recordCount, m_capture->BackupWritten());
    CloseSeries();
    const auto files = BackupFiles(folder.path());
    ASSERT_GE(files.size(), 3u);
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_LT(FileBytes(files[i]), kMegabyte);
      wchar_t number[16];
      swprintf(number, 16, L"_%04u.ktr", unsigned(i));
      EXPECT_NE(std::wstring::npos, files[i].find(number));
    }
    EXPECT_TRUE(RingMessages() == AllFileMessages(files));
    const CStoreLock lock(m_capture, kLockExclusive);
    ASSERT_TRUE(lock.Held());
    m_capture->Clear();
  }
}

TEST_F(Backups, OffAndOnStartsANewSeries) {
  Store(10);
  m_capture->FlushBackup();
  const auto first = BackupFiles(m_folder.path());
  ASSERT_EQ(1u, first.size());
  g_appConfig.m_logEnable = 0;
  m_capture->FlushBackup();
  EXPECT_EQ(0u, m_capture->BackupFileNumber());
  // The series is named by the second it starts in.
  const time_t started = time(nullptr);
  ASSERT_TRUE(WaitFor([&] { return time(nullptr) != started; }, 3000));
  g_appConfig.m_logEnable = 1;
  Store(5);
  m_capture->FlushBackup();
  CloseSeries();
  const auto both = BackupFiles(m_folder.path());
  ASSERT_EQ(2u, both.size());
  const std::wstring second = both[0] == first[0] ? both[1] : both[0];
  EXPECT_NE(std::wstring::npos, second.find(L"_0000.ktr"));
  EXPECT_EQ(10u, FileMessages(first[0]).size());
  EXPECT_EQ(5u, FileMessages(second).size());
}

TEST_F(Backups, MissingFolderGivesTheNoticeAndResumesWhenItAppears) {
  const std::wstring missing = m_folder.File(L"later");
  g_appConfig.m_logFolder = CString(missing.c_str());
  Store(20);
  m_capture->FlushBackup();
  m_capture->FlushBackup();
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, IDS_BACKUP_CREATE_FAILED));
  EXPECT_EQ(0u, m_capture->BackupWritten());
  ASSERT_TRUE(CreateDirectoryW(missing.c_str(), nullptr));
  Store(5);
  m_capture->FlushBackup();
  CloseSeries();
  const auto files = BackupFiles(missing);
  ASSERT_EQ(1u, files.size());
  EXPECT_NE(std::wstring::npos, files[0].find(L"_0000.ktr"));
  EXPECT_TRUE(RingMessages() == FileMessages(files[0]));
  for (const std::wstring& file : files) DeleteFileW(file.c_str());
  RemoveDirectoryW(missing.c_str());
}

TEST_F(Backups, EmptyFolderNeverWritesIntoTheCurrentFolder) {
  g_appConfig.m_logFolder = CString(L"");
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  const size_t before = BackupFiles(current).size();
  Store(5);
  m_capture->FlushBackup();
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, IDS_BACKUP_CREATE_FAILED));
  EXPECT_EQ(before, BackupFiles(current).size());
  EXPECT_EQ(0u, m_capture->BackupWritten());
}

TEST_F(Backups, FailedWriteGoesOnInANewFileWithoutLosingRecords) {
  m_capture->SetBackupWriteFunction(&FailingWrite);
  Store(30);
  g_writesLeft = 11;  // the header and ten records go through
  m_capture->FlushBackup();
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, IDS_BACKUP_WRITE_FAILED));
  EXPECT_EQ(10u, m_capture->BackupWritten());
  Store(10);
  m_capture->FlushBackup();
  EXPECT_EQ(40u, m_capture->BackupWritten());
  CloseSeries();
  const auto files = BackupFiles(m_folder.path());
  ASSERT_EQ(2u, files.size());
  EXPECT_EQ(10u, FileMessages(files[0]).size());  // the torn record was cut off
  EXPECT_TRUE(RingMessages() == AllFileMessages(files));
}

}  // namespace
