// The connect, dump-file and history dialogs opened for real and driven
// from inside their modal loops; the remote file and upload dialogs made
// modeless over a host window.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/LocalFileList.h"
#include "core/TraceStore.h"
#include "net/RemoteServer.h"
#include "resource.h"
#include "tests/core/TempFolder.h"
#include "tests/ui/ControlText.h"
#include "tests/ui/dialogs/RealDialog.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/DumpFileDlg.h"
#include "ui/dialogs/HistroyDlg.h"
#include "ui/dialogs/RemoteFileDlg.h"
#include "ui/dialogs/SendToTalmoDlg.h"
#include "ui/dialogs/SockConnectDlg.h"

namespace {

using kt_test::Text;
using kt_test::Caption;
using kt_test::Cell;
struct Column {
  std::wstring text;
  int width;
  int format;
};
std::vector<Column> Columns(HWND list) {
  std::vector<Column> out;
  for (int i = 0;; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 64;
    if (!::SendMessageW(list, LVM_GETCOLUMNW, WPARAM(i), LPARAM(&column))) return out;
    out.push_back({text, column.cx, column.fmt & LVCFMT_JUSTIFYMASK});
  }
}
void Select(HWND list, int row, bool selected = true) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
  ::SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item));
}
bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }
bool Shown(HWND dialog, int id) { return ::IsWindowVisible(::GetDlgItem(dialog, id)) != FALSE; }

uint64_t FileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME time = {year, month, 0, day, hour, minute, second, 0};
  FILETIME file;
  SystemTimeToFileTime(&time, &file);
  return uint64_t(file.dwLowDateTime) | (uint64_t(file.dwHighDateTime) << 32);
}

using kt_test::RunForReal;

// ------------------------------------------------------------------ connect

TEST(SockConnectDialog, OffersTheAddressesUsedAndTakesTheTypedOne) {
  kt_test::CTestHostWindow host(600, 400);
  CStringList history;
  history.AddUnique(L"localhost:6001");
  history.AddUnique(L"127.0.0.1");
  CSockConnectDlg dialog(&history);
  int count = 0;
  std::wstring first;
  const INT_PTR result = RunForReal(dialog, host.get(), IDD_SOCK_CONNECT, [&](HWND hwnd) {
    kt_test::SaveWindowShot(hwnd, L"connect");
    HWND combo = ::GetDlgItem(hwnd, IDC_CONNECT_ADDRESS);
    count = int(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
    first = Text(hwnd, IDC_CONNECT_ADDRESS);
    ::SetWindowTextW(combo, L"127.0.0.1:6123");
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(2, count);
  EXPECT_EQ(L"localhost:6001", first);  // the first entry is selected
  EXPECT_STREQ(L"127.0.0.1:6123", dialog.m_address.c_str());
}

TEST(SockConnectDialog, CancelTakesNothingAndOkReadsAtMost1023Characters) {
  kt_test::CTestHostWindow host(600, 400);
  CSockConnectDlg cancelled(nullptr);
  EXPECT_EQ(IDCANCEL, RunForReal(cancelled, host.get(), IDD_SOCK_CONNECT, [&](HWND hwnd) {
              ::SetDlgItemTextW(hwnd, IDC_CONNECT_ADDRESS, L"127.0.0.1");
              kt_test::ClickButton(hwnd, IDCANCEL);
            }));
  EXPECT_TRUE(cancelled.m_address.IsEmpty());
  CSockConnectDlg longText(nullptr);
  const std::wstring typed(1100, L'a');
  EXPECT_EQ(IDOK, RunForReal(longText, host.get(), IDD_SOCK_CONNECT, [&](HWND hwnd) {
              ::SetDlgItemTextW(hwnd, IDC_CONNECT_ADDRESS, typed.c_str());
              kt_test::ClickButton(hwnd, IDOK);
            }));
  EXPECT_EQ(1023u, longText.m_address.GetLength());
}

// ---------------------------------------------------------------- dump file

class DumpFileDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    Add(L"C:\\temp\\keltra_small.dump", 1023, FileTime(2026, 12, 10, 8, 30, 0));
    Add(L"C:\\temp\\keltra_half.dump", 1536, FileTime(2026, 12, 9, 23, 59, 58));
    Add(L"/var/tmp/keltra_far.dump", 5u << 20, FileTime(2025, 1, 2, 3, 4, 5));
  }
  void Add(const wchar_t* path, uint32_t size, uint64_t time) {
    auto* entry = new DumpFileEntry;
    entry->path = path;
    entry->size = size;
    entry->lastWrite = time;
    entry->recordCount = 0xFFFFFFFF;
    entries.Append(entry);
  }
  kt_test::CTestHostWindow host{700, 500};
  DumpFileEntries entries;
};

TEST_F(DumpFileDialog, ListsTheFilesAndTakesTheSelectedOne) {
  CDumpFileDlg dialog(entries, nullptr);
  std::vector<Column> columns;
  std::vector<std::vector<std::wstring>> rows;
  bool okAtStart = true;
  std::wstring path, caption;
  const INT_PTR result = RunForReal(dialog, host.get(), IDD_DUMP_FILE, [&](HWND hwnd) {
    HWND list = ::GetDlgItem(hwnd, IDC_DUMP_LIST);
    columns = Columns(list);
    for (int r = 0; r < ListView_GetItemCount(list); ++r) {
      rows.push_back({Cell(list, r, 0), Cell(list, r, 1), Cell(list, r, 2)});
    }
    okAtStart = Enabled(hwnd, IDOK);
    caption = Caption(hwnd);
    Select(list, 1);
    path = Text(hwnd, IDC_DUMP_PATH);
    kt_test::SaveWindowShot(hwnd, L"dumpfile");
    EXPECT_TRUE(Enabled(hwnd, IDOK));
    kt_test::ClickButton(hwnd, IDOK);
  });
  ASSERT_EQ(3u, columns.size());
  EXPECT_EQ(L"Name", columns[0].text);
  EXPECT_EQ(240, columns[0].width);
  EXPECT_EQ(L"Size", columns[1].text);
  EXPECT_EQ(80, columns[1].width);
  EXPECT_EQ(LVCFMT_RIGHT, columns[1].format);
  EXPECT_EQ(L"Modified", columns[2].text);
  EXPECT_EQ(120, columns[2].width);
  EXPECT_EQ(LVCFMT_RIGHT, columns[2].format);
  const std::vector<std::vector<std::wstring>> expected = {
      {L"keltra_small.dump", L"1023 B", L"12/10/2026 08:30:00"},
      {L"keltra_half.dump", L"1 KB", L"12/09/2026 23:59:58"},
      {L"keltra_far.dump", L"5120 KB", L"01/02/2025 03:04:05"},
  };
  EXPECT_EQ(expected, rows);
  EXPECT_FALSE(okAtStart);
  EXPECT_EQ(L"Select Dump File", caption);
  EXPECT_EQ(L"C:\\temp\\keltra_half.dump", path);
  EXPECT_EQ(IDOK, result);
  EXPECT_STREQ(L"C:\\temp\\keltra_half.dump", dialog.m_path.c_str());
}

TEST_F(DumpFileDialog, RemoteListNamesItsServerAndADoubleClickChooses) {
  CDumpFileDlg dialog(entries, L"127.0.0.1:6000");
  std::wstring caption, path;
  const INT_PTR result = RunForReal(dialog, host.get(), IDD_DUMP_FILE, [&](HWND hwnd) {
    caption = Caption(hwnd);
    Select(::GetDlgItem(hwnd, IDC_DUMP_LIST), 2);
    path = Text(hwnd, IDC_DUMP_PATH);
    kt_test::DoubleClickRow(hwnd, IDC_DUMP_LIST, -1);  // not on a row: nothing
    EXPECT_TRUE(::IsWindow(hwnd));
    kt_test::DoubleClickRow(hwnd, IDC_DUMP_LIST, 0);
  });
  EXPECT_EQ(L"Select Dump File (Remote)", caption);
  EXPECT_EQ(L"\\\\127.0.0.1:6000\\/var/tmp/keltra_far.dump", path);
  EXPECT_EQ(IDOK, result);
  EXPECT_STREQ(L"C:\\temp\\keltra_small.dump", dialog.m_path.c_str());
}

// ------------------------------------------------------------------ history

class HistoryDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.valid());
    for (const wchar_t* name : {L"keltra_a.ktr", L"keltra_b.ktr", L"keltra_c.ktr", L"keltra_d.ktr"}) {
      const std::wstring path = folder.File(name);
      std::ofstream(path.c_str(), std::ios::binary) << std::string(2000, 'k');
      files.Append(NewLocalFileEntry(path.c_str(), FileTime(2026, 12, 1, 10, 0, 0), 2000, 7));
    }
    files[3]->recordCount = kLocalFileNoCount;
  }
  void TearDown() override { CLocalFileList().FreeList(files); }
  std::vector<std::wstring> Paths() const {
    std::vector<std::wstring> out;
    for (size_t i = 0; i < files.count; ++i) out.push_back(files[i]->path);
    return out;
  }
  static bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  TempFolder folder{L"kthistory"};
  LocalFileArray files;
  kt_test::CTestHostWindow host{700, 500};
};

TEST_F(HistoryDialog, ShowsEveryTraceFileAndOpensTheSelection) {
  CHistroyDlg dialog(files);
  std::vector<Column> columns;
  std::vector<std::wstring> first, last;
  bool openAtStart = true, deleteAtStart = true;
  std::wstring path;
  const INT_PTR result = RunForReal(dialog, host.get(), IDD_HISTORY, [&](HWND hwnd) {
    HWND list = ::GetDlgItem(hwnd, IDC_HISTORY_LIST);
    columns = Columns(list);
    first = {Cell(list, 0, 0), Cell(list, 0, 1), Cell(list, 0, 2), Cell(list, 0, 3)};
    last = {Cell(list, 3, 0), Cell(list, 3, 1)};
    openAtStart = Enabled(hwnd, IDOK);
    deleteAtStart = Enabled(hwnd, IDC_HISTORY_DELETE);
    Select(list, 2);
    Select(list, 0);
    path = Text(hwnd, IDC_HISTORY_PATH);
    EXPECT_TRUE(Enabled(hwnd, IDOK));
    EXPECT_TRUE(Enabled(hwnd, IDC_HISTORY_DELETE));
    kt_test::SaveWindowShot(hwnd, L"history");
    kt_test::ClickButton(hwnd, IDOK);
  });
  ASSERT_EQ(4u, columns.size());
  EXPECT_EQ(L"Name", columns[0].text);
  EXPECT_EQ(200, columns[0].width);
  EXPECT_EQ(L"Number", columns[1].text);
  EXPECT_EQ(70, columns[1].width);
  EXPECT_EQ(LVCFMT_RIGHT, columns[1].format);
  EXPECT_EQ(L"Size", columns[2].text);
  EXPECT_EQ(L"Modified", columns[3].text);
  EXPECT_EQ(120, columns[3].width);
  EXPECT_EQ((std::vector<std::wstring>{L"keltra_a.ktr", L"7", L"1 KB", L"12/01/2026 10:00:00"}), first);
  EXPECT_EQ((std::vector<std::wstring>{L"keltra_d.ktr", L"4294967295"}), last);
  EXPECT_FALSE(openAtStart);
  EXPECT_FALSE(deleteAtStart);
  EXPECT_EQ(folder.File(L"keltra_a.ktr"), path);
  EXPECT_EQ(IDOK, result);
  ASSERT_EQ(2u, dialog.m_chosen.size());
  EXPECT_EQ(folder.File(L"keltra_a.ktr"), dialog.m_chosen[0].c_str());  // list order
  EXPECT_EQ(folder.File(L"keltra_c.ktr"), dialog.m_chosen[1].c_str());
}

// One question for the whole selection; a file that cannot be deleted keeps
// its row and entry and is named afterwards; the others go, in order kept.
TEST_F(HistoryDialog, DeletionAsksOnceAndKeepsWhatCouldNotBeDeleted) {
  const std::vector<std::wstring> before = Paths();
  // Held open without delete sharing: the file cannot be deleted now.
  HANDLE held = ::CreateFileW(before[2].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  CHistroyDlg dialog(files);
  kt_test::CPopupRecorder boxes;
  boxes.messageBoxAnswer = IDYES;
  std::vector<std::wstring> rowsAfter;
  const INT_PTR result = RunForReal(dialog, host.get(), IDD_HISTORY, [&](HWND hwnd) {
    HWND list = ::GetDlgItem(hwnd, IDC_HISTORY_LIST);
    for (int row : {0, 2, 3}) Select(list, row);
    kt_test::ClickButton(hwnd, IDC_HISTORY_DELETE);
    for (int r = 0; r < ListView_GetItemCount(list); ++r) rowsAfter.push_back(Cell(list, r, 0));
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  ::CloseHandle(held);
  EXPECT_EQ(IDCANCEL, result);
  ASSERT_EQ(2u, boxes.messageBoxes.size());
  EXPECT_EQ(L"Delete the 3 selected files?", boxes.messageBoxes[0].text);
  EXPECT_EQ(UINT(MB_YESNO | MB_ICONQUESTION), boxes.messageBoxes[0].type);
  EXPECT_EQ(L"These files could not be deleted:\r\n" + before[2], boxes.messageBoxes[1].text);
  EXPECT_EQ(UINT(MB_ICONWARNING), boxes.messageBoxes[1].type);
  EXPECT_EQ((std::vector<std::wstring>{L"keltra_b.ktr", L"keltra_c.ktr"}), rowsAfter);
  EXPECT_EQ((std::vector<std::wstring>{before[1], before[2]}), Paths());
  EXPECT_FALSE(Exists(before[0]));
  EXPECT_TRUE(Exists(before[1]));
  EXPECT_TRUE(Exists(before[2]));
  EXPECT_FALSE(Exists(before[3]));
}

TEST_F(HistoryDialog, AnsweringNoDeletesNothing) {
  const std::vector<std::wstring> before = Paths();
  CHistroyDlg dialog(files);
  kt_test::CPopupRecorder boxes;
  boxes.messageBoxAnswer = IDNO;
  int rows = 0;
  RunForReal(dialog, host.get(), IDD_HISTORY, [&](HWND hwnd) {
    HWND list = ::GetDlgItem(hwnd, IDC_HISTORY_LIST);
    Select(list, 1);
    kt_test::ClickButton(hwnd, IDC_HISTORY_DELETE);
    rows = ListView_GetItemCount(list);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  ASSERT_EQ(1u, boxes.messageBoxes.size());
  EXPECT_EQ(L"Delete the file \"" + before[1] + L"\"?", boxes.messageBoxes[0].text);
  EXPECT_EQ(4, rows);
  EXPECT_EQ(before, Paths());
  for (const auto& path : before) EXPECT_TRUE(Exists(path));
}

TEST_F(HistoryDialog, DoubleClickOpensThatFile) {
  CHistroyDlg dialog(files);
  const INT_PTR result = RunForReal(dialog, host.get(), IDD_HISTORY,
                                    [&](HWND hwnd) { kt_test::DoubleClickRow(hwnd, IDC_HISTORY_LIST, 3); });
  EXPECT_EQ(IDOK, result);
  ASSERT_EQ(1u, dialog.m_chosen.size());
  EXPECT_EQ(folder.File(L"keltra_d.ktr"), dialog.m_chosen[0].c_str());
}

// -------------------------------------------------------------- remote file

class RemoteFileDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    g_remoteServers.Clear();
    g_remoteServers.AddUnique(new CRemoteServer(L"127.0.0.1", kProtocolFtp, 2121, L"/logs", L"", L""));
    g_remoteServers.AddUnique(new CRemoteServer(L"localhost", kProtocolFtp, 0, L"/", L"tracer", L"pw"));
    dialog = new CRemoteFileDlg(&owner);
    ASSERT_NE(nullptr, dialog->Create(host.get()));
    owner = dialog;
    hwnd = dialog->m_hWnd;
    ::ShowWindow(hwnd, SW_SHOW);
  }
  void TearDown() override {
    if (owner != nullptr) ::DestroyWindow(hwnd);
    EXPECT_EQ(nullptr, owner);  // the dialog cleared its owner's pointer
    g_remoteServers.Clear();
  }
  kt_test::CTestHostWindow host{800, 600};
  IRemoteFileDlg* owner = nullptr;
  CRemoteFileDlg* dialog = nullptr;
  HWND hwnd = nullptr;
};

TEST_F(RemoteFileDialog, StartsWithItsProtocolHistoryAndColumns) {
  kt_test::SaveWindowShot(hwnd, L"remotefile");
  EXPECT_EQ(L"Remote File", Caption(hwnd));
  EXPECT_EQ(L"FTP", Text(hwnd, IDC_REMOTE_PROTOCOL));
  HWND history = ::GetDlgItem(hwnd, IDC_REMOTE_HISTORY);
  ASSERT_EQ(2, int(::SendMessageW(history, CB_GETCOUNT, 0, 0)));
  wchar_t item[128] = {};
  ::SendMessageW(history, CB_GETLBTEXT, 0, LPARAM(item));
  EXPECT_STREQ(L"ftp://127.0.0.1/logs", item);
  const std::vector<Column> columns = Columns(::GetDlgItem(hwnd, IDC_REMOTE_FILES));
  ASSERT_EQ(3u, columns.size());
  EXPECT_EQ(L"Name", columns[0].text);
  EXPECT_EQ(230, columns[0].width);
  EXPECT_EQ(LVCFMT_LEFT, columns[0].format);
  EXPECT_EQ(80, columns[1].width);
  EXPECT_EQ(LVCFMT_RIGHT, columns[2].format);
  EXPECT_EQ(L"0", Text(hwnd, IDC_REMOTE_PORT));
  EXPECT_EQ(L"/", Text(hwnd, IDC_REMOTE_PATH));
}

TEST_F(RemoteFileDialog, AnonymousTurnsUserAndPasswordOff) {
  EXPECT_TRUE(Enabled(hwnd, IDC_REMOTE_USER));
  kt_test::ClickButton(hwnd, IDC_REMOTE_ANONYMOUS);
  EXPECT_FALSE(Enabled(hwnd, IDC_REMOTE_USER));
  EXPECT_FALSE(Enabled(hwnd, IDC_REMOTE_PASSWORD));
  kt_test::ClickButton(hwnd, IDC_REMOTE_ANONYMOUS);
  EXPECT_TRUE(Enabled(hwnd, IDC_REMOTE_USER));
  EXPECT_TRUE(Enabled(hwnd, IDC_REMOTE_PASSWORD));
}

// A port that is no 16-bit number stops the listing on the port: the host
// before it is taken, the fields after it keep the entry's values.
TEST_F(RemoteFileDialog, BadPortStopsTheListingWithTheFocusOnThePort) {
  for (const wchar_t* port : {L"65536", L"21x", L"-1"}) {
    dialog->m_server = CRemoteServer();
    ::SetDlgItemTextW(hwnd, IDC_REMOTE_SERVER, L"127.0.0.1");
    ::SetDlgItemTextW(hwnd, IDC_REMOTE_PORT, port);
    ::SetDlgItemTextW(hwnd, IDC_REMOTE_PATH, L"/typed/");
    kt_test::CPopupRecorder boxes;
    kt_test::ClickButton(hwnd, IDC_REMOTE_LIST_FILES);
    EXPECT_TRUE(boxes.messageBoxes.empty()) << std::wstring(port);
    EXPECT_EQ(::GetDlgItem(hwnd, IDC_REMOTE_PORT), ::GetFocus()) << std::wstring(port);
    EXPECT_EQ(1u, dialog->m_ready);
    EXPECT_EQ(L"Remote File", Caption(hwnd));
    EXPECT_STREQ(L"127.0.0.1", dialog->m_server.host.c_str());
    EXPECT_STREQ(L"/", dialog->m_server.path.c_str());
  }
}

TEST_F(RemoteFileDialog, AnEntryThatDoesNotNormaliseIsRefused) {
  kt_test::CPopupRecorder boxes;
  ::SetDlgItemTextW(hwnd, IDC_REMOTE_SERVER, L"");
  ::SetDlgItemTextW(hwnd, IDC_REMOTE_PORT, L"21");
  kt_test::ClickButton(hwnd, IDC_REMOTE_LIST_FILES);
  ASSERT_EQ(1u, boxes.messageBoxes.size());
  EXPECT_EQ(L"start list files failed!", boxes.messageBoxes[0].text);
  EXPECT_EQ(UINT(MB_ICONERROR), boxes.messageBoxes[0].type);
  EXPECT_EQ(1u, dialog->m_ready);
  EXPECT_TRUE(Enabled(hwnd, IDC_REMOTE_LIST_FILES));
}

TEST_F(RemoteFileDialog, HideKeepsTheDialog) {
  kt_test::ClickButton(hwnd, IDCANCEL);
  EXPECT_TRUE(::IsWindow(hwnd));
  EXPECT_FALSE(::IsWindowVisible(hwnd));
  EXPECT_EQ(dialog, owner);
}

// A listing handed over shows its rows; the job's listing is left empty.
TEST_F(RemoteFileDialog, ListingDoneShowsTheRowsAndReturnsToReady) {
  CFtpListing listing;
  for (const wchar_t* name : {L"..", L"old", L"big.ktr"}) {
    auto* entry = new CFtpFileEntry;
    entry->name = name;
    entry->attributes = name[0] == L'b' ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DIRECTORY;
    entry->size = 1536;
    listing.Append(entry);
  }
  dialog->OnListFilesDone(listing);
  EXPECT_EQ(0u, listing.Count());
  HWND list = ::GetDlgItem(hwnd, IDC_REMOTE_FILES);
  ASSERT_EQ(3, ListView_GetItemCount(list));
  EXPECT_EQ(L"..", Cell(list, 0, 0));
  EXPECT_EQ(L"<>", Cell(list, 1, 1));
  EXPECT_EQ(L"1 KB", Cell(list, 2, 1));
  EXPECT_EQ(L"", Cell(list, 0, 2));
  EXPECT_EQ(1u, dialog->m_ready);
  EXPECT_EQ(list, ::GetFocus());
}

// ------------------------------------------------------------------- upload

class UploadDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    store = new CTraceFile;
    dialog = new CSendToTalmoDlg(&owner);
    ASSERT_NE(nullptr, dialog->Create(host.get()));
    owner = dialog;
    hwnd = dialog->m_hWnd;
    job = new JobSendToTalmo(host.get(), hwnd, store, nullptr);
    dialog->Start(job);
    ::ShowWindow(hwnd, SW_SHOW);
  }
  void TearDown() override {
    if (owner != nullptr) ::DestroyWindow(hwnd);
    EXPECT_EQ(nullptr, owner);
    delete job;
    store->Release();
  }
  void Step(uint16_t step, uint16_t error, uint32_t value) {
    ::SendMessageW(hwnd, WM_APP, MAKEWPARAM(step, error), LPARAM(value));
  }
  kt_test::CTestHostWindow host{600, 400};
  IUploadDlg* owner = nullptr;
  CSendToTalmoDlg* dialog = nullptr;
  CTraceFile* store = nullptr;
  JobSendToTalmo* job = nullptr;
  HWND hwnd = nullptr;
};

TEST_F(UploadDialog, ShowsEachStepAndClosesOnlyAtTheEnd) {
  EXPECT_FALSE(Shown(hwnd, IDCANCEL));
  EXPECT_FALSE(Shown(hwnd, IDOK));
  EXPECT_EQ(L"Preparing send to talmo", Text(hwnd, IDC_SEND_STEP1));
  kt_test::ClickButton(hwnd, IDCANCEL);  // before the first step: nothing
  ::SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(::IsWindow(hwnd));
  Step(1, 0, 0);
  EXPECT_TRUE(Shown(hwnd, IDCANCEL));
  Step(2, 0, 0);
  Step(3, 0, 33);
  EXPECT_EQ(L"Sending to talmo...33%", Text(hwnd, IDC_SEND_STEP3));
  Step(3, 0, 100);
  Step(4, 0, 0);
  kt_test::SaveWindowShot(hwnd, L"upload");
  EXPECT_EQ(L"Send to talmo completed", Caption(hwnd));
  EXPECT_EQ(L"Send to talmo completed", Text(hwnd, IDC_SEND_RESULT));
  EXPECT_EQ(L"OK", Text(hwnd, IDCANCEL));
  EXPECT_TRUE(Shown(hwnd, IDCANCEL));
  kt_test::ClickButton(hwnd, IDCANCEL);
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST_F(UploadDialog, CancelWaitsForTheJobsNotice) {
  Step(1, 0, 0);
  Step(2, 0, 0);
  kt_test::ClickButton(hwnd, IDCANCEL);
  EXPECT_EQ(L"User canceled, please wait...", Caption(hwnd));
  EXPECT_FALSE(Shown(hwnd, IDCANCEL));
  EXPECT_EQ(nullptr, dialog->Job());
  Step(3, IDS_SEND_ERR_CANCELLED, 0);
  EXPECT_EQ(L"Send to talmo cancelled", Caption(hwnd));
  EXPECT_EQ(L"Sending to talmo...Failed (User cancelled)", Text(hwnd, IDC_SEND_STEP3));
  EXPECT_TRUE(Shown(hwnd, IDOK));
  kt_test::ClickButton(hwnd, IDOK);
  EXPECT_FALSE(::IsWindow(hwnd));
}

// The frame deletes the finished job and says so first: a Cancel after that
// never reaches the job.
TEST_F(UploadDialog, AForgottenJobIsNeverCancelled) {
  Step(1, 0, 0);
  dialog->ForgetJob(nullptr);
  EXPECT_EQ(job, dialog->Job());
  dialog->ForgetJob(job);
  EXPECT_EQ(nullptr, dialog->Job());
  kt_test::ClickButton(hwnd, IDCANCEL);
  EXPECT_EQ(L"Send to talmo", Caption(hwnd));
  EXPECT_TRUE(::IsWindow(hwnd));
}

}  // namespace
