#include "core/SysUtil.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/TempFolder.h"

namespace {


std::wstring OwnExeName() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  return slash ? slash + 1 : path;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// ---- CProcessList -----------------------------------------------------------

TEST(SysUtilProcessList, NamesTheCurrentProcessAfterRefresh) {
  CProcessList list;
  const DWORD self = GetCurrentProcessId();
  EXPECT_STREQ(list.GetNameById(self).c_str(), L"N/A");

  ASSERT_EQ(list.Refresh(), 1);
  EXPECT_TRUE(EqualNoCase(list.GetNameById(self).c_str(), OwnExeName()))
      << "got " << list.GetNameById(self).c_str();
  size_t selfEntries = 0;
  for (size_t i = 0; i < list.Count(); ++i) selfEntries += list.EntryAt(i)->pid == self;
  EXPECT_EQ(selfEntries, 1u);
  EXPECT_EQ(list.EntryAt(list.Count()), nullptr);

  list.RemoveAll();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_STREQ(list.GetNameById(self).c_str(), L"N/A");
}

TEST(SysUtilProcessList, RefreshReplacesTheEntries) {
  CProcessList list;
  ASSERT_EQ(list.Refresh(), 1);
  const size_t first = list.Count();
  ASSERT_EQ(list.Refresh(), 1);
  // Refreshing twice must not keep the first snapshot's entries as well.
  EXPECT_LT(list.Count(), first * 2);
}

TEST(SysUtilProcessList, UnknownIdGivesNotAvailable) {
  CProcessList list;
  ASSERT_EQ(list.Refresh(), 1);
  // Process ids are multiples of 4; an odd one never names a process.
  EXPECT_STREQ(list.GetNameById(0xFFFFFFF1u).c_str(), L"N/A");
}

// ---- CopyTextToClipboard ----------------------------------------------------

// The clipboard's Unicode text, or nullopt-like false when none can be read.
bool ReadClipboardText(std::wstring* text) {
  if (!OpenClipboard(nullptr)) return false;
  bool ok = false;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      *text = chars;
      ok = true;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return ok;
}

// scripts/test runs the suites under Xvfb, where Wine has a clipboard: there
// a failure is a failure. Only a session without a display skips.
bool HasDisplay() {
  wchar_t value[8];
  return GetEnvironmentVariableW(L"DISPLAY", value, 8) != 0;
}

TEST(SysUtilClipboard, RoundTripOfUnicodeText) {
  std::wstring text = L"caf\u00e9 \u65e5\u672c \U00020BB7 line\r\nnext\ttab";
  while (text.size() < 70000) text += L" \u6587\u4ef6 \U0001F600 0123456789";
  const int placed = CopyTextToClipboard(nullptr, text.c_str(), text.size());
  if (!placed && !HasDisplay()) GTEST_SKIP() << "no display, no clipboard";
  ASSERT_EQ(placed, 1);
  std::wstring read = L"untouched";
  ASSERT_TRUE(ReadClipboardText(&read));
  EXPECT_EQ(read, text);
  // A second copy replaces the first.
  ASSERT_EQ(CopyTextToClipboard(nullptr, L"second", 6), 1);
  ASSERT_TRUE(ReadClipboardText(&read));
  EXPECT_EQ(read, L"second");
}

TEST(SysUtilClipboard, PlacesTheGivenLengthAndATerminator) {
  struct Case {
    const wchar_t* text;
    size_t length;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"hello world", 11, L"hello world"},
      {L"hello world", 5, L"hello"},  // the length counts, not the terminator
      {L"anything", 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.length);
    const int placed = CopyTextToClipboard(nullptr, c.text, c.length);
    if (!placed && !HasDisplay()) GTEST_SKIP() << "no display, no clipboard";
    ASSERT_EQ(placed, 1);
    std::wstring text = L"untouched";
    ASSERT_TRUE(ReadClipboardText(&text));
    EXPECT_EQ(text, c.expected);
  }
}

TEST(SysUtilClipboard, NullTextWithALengthFails) {
  EXPECT_EQ(CopyTextToClipboard(nullptr, nullptr, 4), 0);
}

// ---- DebugTraceA / DebugTraceW ----------------------------------------------

// Reads the debugger output channel as a debug-output viewer does. With no
// debugger attached, OutputDebugStringA hands its text to whoever owns these
// objects. A reader thread keeps the buffer free, so that texts of other
// processes in the same session never block ours.
class DbWinReader {
 public:
  static constexpr DWORD kBufferBytes = 4096;
  static constexpr DWORD kWaitMs = 10000;

  DbWinReader() {
    m_bufferReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    if (m_bufferReady && GetLastError() == ERROR_ALREADY_EXISTS) m_busy = true;
    m_dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferBytes, L"DBWIN_BUFFER");
    if (m_mapping && GetLastError() == ERROR_ALREADY_EXISTS) m_busy = true;
    m_view = m_mapping ? static_cast<const char*>(MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, kBufferBytes)) : nullptr;
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!Ready()) return;
    m_thread = std::thread([this] { Run(); });
    SetEvent(m_bufferReady);
  }
  ~DbWinReader() {
    if (m_stop) SetEvent(m_stop);
    if (m_thread.joinable()) m_thread.join();
    if (m_view) UnmapViewOfFile(m_view);
    for (HANDLE handle : {m_mapping, m_dataReady, m_bufferReady, m_stop, m_arrived}) {
      if (handle) CloseHandle(handle);
    }
  }
  DbWinReader(const DbWinReader&) = delete;
  DbWinReader& operator=(const DbWinReader&) = delete;

  // False when the objects cannot be made or another reader owns them.
  bool Ready() const { return !m_busy && m_bufferReady && m_dataReady && m_view && m_stop && m_arrived; }

  // The next text this process sent.
  bool Next(std::string* text) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_texts.empty()) {
          *text = m_texts.front();
          m_texts.pop_front();
          return true;
        }
      }
      if (WaitForSingleObject(m_arrived, kWaitMs) != WAIT_OBJECT_0) return false;
    }
  }

 private:
  void Run() {
    const HANDLE waits[] = {m_stop, m_dataReady};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      DWORD pid = 0;
      std::memcpy(&pid, m_view, sizeof(pid));
      const char* chars = m_view + sizeof(pid);
      std::string text(chars, strnlen(chars, kBufferBytes - sizeof(pid)));
      SetEvent(m_bufferReady);
      if (pid != GetCurrentProcessId()) continue;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        m_texts.push_back(std::move(text));
      }
      SetEvent(m_arrived);
    }
  }

  HANDLE m_bufferReady = nullptr;
  HANDLE m_dataReady = nullptr;
  HANDLE m_mapping = nullptr;
  const char* m_view = nullptr;
  HANDLE m_stop = nullptr;
  HANDLE m_arrived = nullptr;
  bool m_busy = false;
  std::mutex m_lock;  // guards m_texts
  std::deque<std::string> m_texts;
  std::thread m_thread;
};

// Text with no repeats within 26 characters, so a cut in the wrong place shows.
std::string Pattern(size_t length) {
  std::string text(length, ' ');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

TEST(SysUtilDebugTrace, NarrowTextGetsThePrefixWord) {
  DbWinReader reader;
  if (!reader.Ready()) GTEST_SKIP() << "the debugger output channel is in use";
  const std::string longText = Pattern(3000);

  DebugTraceA("CMainFrame::OnThreadsNotify, %d", 111);
  DebugTraceA("call ImportKelMapFile, 444-1, %d", -7);
  DebugTraceA("%s", longText.c_str());
  DebugTraceA("%s", "");

  std::string text;
  ASSERT_TRUE(reader.Next(&text));
  EXPECT_EQ(text, "Orvan, CMainFrame::OnThreadsNotify, 111");
  ASSERT_TRUE(reader.Next(&text));
  EXPECT_EQ(text, "Orvan, call ImportKelMapFile, 444-1, -7");
  ASSERT_TRUE(reader.Next(&text));
  EXPECT_EQ(text, "Orvan, " + longText.substr(0, 1023));
  ASSERT_TRUE(reader.Next(&text));
  EXPECT_EQ(text, "Orvan, ");
}

TEST(SysUtilDebugTrace, WideTextGoesOutWithoutPrefix) {
  DbWinReader reader;
  if (!reader.Ready()) GTEST_SKIP() << "the debugger output channel is in use";
  const std::string longText = Pattern(3000);
  const std::wstring wideLong(longText.begin(), longText.end());

  DebugTraceW(L"CTraceCapture::Start, %d, %s", 3, L"channel");
  DebugTraceW(L"%s", wideLong.c_str());

  std::string text;
  ASSERT_TRUE(reader.Next(&text));
  EXPECT_EQ(text, "CTraceCapture::Start, 3, channel");
  ASSERT_TRUE(reader.Next(&text));
  EXPECT_EQ(text, longText.substr(0, 2047));
}

// ---- GetModuleVersionString -------------------------------------------------

bool IsDottedVersion(const wchar_t* text) {
  int parts = 0;
  const wchar_t* p = text;
  for (;;) {
    if (!std::iswdigit(*p)) return false;
    while (std::iswdigit(*p)) ++p;
    ++parts;
    if (*p != L'.') break;
    ++p;
  }
  return *p == L'\0' && parts == 4;
}

TEST(SysUtilModuleVersion, ModuleWithoutVersionLeavesNotAvailable) {
  // The test program carries no version resource.
  wchar_t text[32] = L"garbage";
  EXPECT_EQ(GetModuleVersionString(nullptr, text, 32), 0);
  EXPECT_STREQ(text, L"N/A");
}

TEST(SysUtilModuleVersion, SystemModuleGivesFourNumbers) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  wchar_t text[32] = L"garbage";
  ASSERT_EQ(GetModuleVersionString(kernel, text, 32), 1);
  EXPECT_TRUE(IsDottedVersion(text)) << text;
}

TEST(SysUtilModuleVersion, VersionThatDoesNotFitIsNotCut) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  wchar_t text[8] = L"garbage";  // "1.2.3.4" would fit, a real version does not
  wchar_t full[32];
  ASSERT_EQ(GetModuleVersionString(kernel, full, 32), 1);
  if (std::wcslen(full) < 8) GTEST_SKIP() << "version too short to cut";
  EXPECT_EQ(GetModuleVersionString(kernel, text, 8), 0);
  EXPECT_STREQ(text, L"N/A");
  EXPECT_EQ(GetModuleVersionString(kernel, nullptr, 8), 0);
}

// ---- Session, user, administrators -----------------------------------------

TEST(SysUtilSession, LooksUpTheSessionOfThisProcess) {
  DWORD expected = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &expected));
  EXPECT_EQ(GetCurrentSessionId(), expected);
}

TEST(SysUtilUser, NameMatchesTheEnvironment) {
  const CString name = GetCurrentUserName();
  ASSERT_FALSE(name.IsEmpty());
  wchar_t fromEnvironment[257];
  const DWORD length = GetEnvironmentVariableW(L"USERNAME", fromEnvironment, 257);
  if (length == 0 || length >= 257) GTEST_SKIP() << "USERNAME not set";
  EXPECT_TRUE(EqualNoCase(name.c_str(), fromEnvironment));
}

// Membership read the long way, from the token's group list.
bool TokenListsEnabledAdministrators() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  bool found = false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (GetTokenInformation(token, TokenGroups, buffer.data(), size, &size) &&
      AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &admins)) {
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      const SID_AND_ATTRIBUTES& group = groups->Groups[i];
      if ((group.Attributes & SE_GROUP_ENABLED) && !(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) &&
          EqualSid(group.Sid, admins))
        found = true;
    }
    FreeSid(admins);
  }
  CloseHandle(token);
  return found;
}

TEST(SysUtilUser, AdminAnswerMatchesTheTokenGroups) {
  EXPECT_EQ(IsUserAdmin(), TokenListsEnabledAdministrators() ? 1 : 0);
}

// ---- CanWriteFile -----------------------------------------------------------

TEST(SysUtilCanWrite, MissingPathsAreNotWritable) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  EXPECT_EQ(CanWriteFile(folder.File(L"missing").c_str()), 0);
  EXPECT_EQ(CanWriteFile(folder.File(L"missing\\deeper").c_str()), 0);
  EXPECT_EQ(CanWriteFile(L""), 0);
  EXPECT_EQ(CanWriteFile(nullptr), 0);
}

TEST(SysUtilCanWrite, OwnFolderAndFileAreWritable) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  EXPECT_EQ(CanWriteFile(folder.path().c_str()), 1);
  EXPECT_EQ(CanWriteFile((folder.path() + L"\\").c_str()), 1);
  const std::wstring file = folder.File(L"own.txt");
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);
  EXPECT_EQ(CanWriteFile(file.c_str()), 1);
}

// A folder whose access list lets everyone read and list it, and nobody
// write; the full list is put back before the folder is removed.
TEST(SysUtilCanWrite, FolderWithoutWriteAccessIsNotWritable) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  PSECURITY_DESCRIPTOR readOnly = nullptr;
  PSECURITY_DESCRIPTOR full = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FRFX;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                   nullptr));
  ASSERT_TRUE(
      ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &full, nullptr));
  ASSERT_TRUE(SetFileSecurityW(folder.path().c_str(), DACL_SECURITY_INFORMATION, readOnly));
  EXPECT_EQ(CanWriteFile(folder.path().c_str()), 0);
  EXPECT_TRUE(SetFileSecurityW(folder.path().c_str(), DACL_SECURITY_INFORMATION, full));
  EXPECT_EQ(CanWriteFile(folder.path().c_str()), 1);
  LocalFree(readOnly);
  LocalFree(full);
}

// The thread's impersonation level, or -1 when it has no token of its own.
int ThreadImpersonationLevel() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return -1;
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof(level), &size);
  CloseHandle(token);
  return read ? int(level) : -2;
}

// The check impersonates the process's own token: afterwards the thread is
// as it was, with no token or with the caller's own impersonation (at a
// level the check never uses), on the granted, refused and missing paths.
TEST(SysUtilCanWrite, LeavesTheThreadTokenAsItWas) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::wstring missing = folder.File(L"missing");
  ASSERT_EQ(ThreadImpersonationLevel(), -1);
  EXPECT_EQ(CanWriteFile(folder.path().c_str()), 1);
  EXPECT_EQ(ThreadImpersonationLevel(), -1);
  EXPECT_EQ(CanWriteFile(missing.c_str()), 0);
  EXPECT_EQ(ThreadImpersonationLevel(), -1);

  ASSERT_TRUE(ImpersonateSelf(SecurityIdentification));
  ASSERT_EQ(ThreadImpersonationLevel(), int(SecurityIdentification));
  EXPECT_EQ(CanWriteFile(folder.path().c_str()), 1);
  EXPECT_EQ(ThreadImpersonationLevel(), int(SecurityIdentification));
  EXPECT_EQ(CanWriteFile(missing.c_str()), 0);
  EXPECT_EQ(ThreadImpersonationLevel(), int(SecurityIdentification));
  PSECURITY_DESCRIPTOR full = nullptr;
  ASSERT_TRUE(
      ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &full, nullptr));
  const std::wstring locked = folder.File(L"locked");
  ASSERT_TRUE(CreateDirectoryW(locked.c_str(), nullptr));
  PSECURITY_DESCRIPTOR noWrite = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FRFX;;;WD)", SDDL_REVISION_1, &noWrite,
                                                                   nullptr));
  EXPECT_TRUE(SetFileSecurityW(locked.c_str(), DACL_SECURITY_INFORMATION, noWrite));
  EXPECT_EQ(CanWriteFile(locked.c_str()), 0);
  EXPECT_EQ(ThreadImpersonationLevel(), int(SecurityIdentification));
  RevertToSelf();
  EXPECT_TRUE(SetFileSecurityW(locked.c_str(), DACL_SECURITY_INFORMATION, full));
  RemoveDirectoryW(locked.c_str());
  LocalFree(full);
  LocalFree(noWrite);
  EXPECT_EQ(ThreadImpersonationLevel(), -1);
}

// ---- SetLowIntegrityLabel ---------------------------------------------------

TEST(SysUtilIntegrity, LabelsAnExistingNamedObject) {
  wchar_t name[64];
  swprintf(name, 64, L"KT_SYSUTIL_LABEL_%lu", GetCurrentProcessId());
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(SetLowIntegrityLabel(name), 1);
  CloseHandle(event);
  // (Wine accepts a label for any kernel-object name, existing or not, so a
  // missing object cannot be told apart here.)
  EXPECT_EQ(SetLowIntegrityLabel(nullptr), 0);
  EXPECT_EQ(SetLowIntegrityLabel(L""), 0);
}

// ---- PostMessageRetry -------------------------------------------------------

// Records what PostMessageRetry does through its seams; the post fails
// until `failures` attempts have been made.
struct PostRecorder {
  static inline int failures = 0;
  static inline int attempts = 0;
  static inline std::vector<DWORD> sleeps;
  static inline UINT message = 0;
  static inline WPARAM wParam = 0;
  static inline LPARAM lParam = 0;

  static void Reset(int failing) {
    failures = failing;
    attempts = 0;
    sleeps.clear();
  }
  static BOOL WINAPI Post(HWND, UINT msg, WPARAM w, LPARAM l) {
    message = msg;
    wParam = w;
    lParam = l;
    return ++attempts > failures;
  }
  static void WINAPI Sleep(DWORD ms) { sleeps.push_back(ms); }
};

TEST(SysUtilPostMessageRetry, TriesThreeTimesWithGrowingWaits) {
  struct Case {
    int failures;
    int result;
    int attempts;
    std::vector<DWORD> sleeps;
  };
  const Case cases[] = {
      {0, 1, 1, {}},
      {1, 1, 2, {0}},
      {2, 1, 3, {0, 25}},
      {3, 0, 3, {0, 25, 50}},
      {100, 0, 3, {0, 25, 50}},
  };
  const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "failures " << c.failures);
    PostRecorder::Reset(c.failures);
    EXPECT_EQ(PostMessageRetry(window, WM_APP, 11, 0x5678, PostRecorder::Post, PostRecorder::Sleep), c.result);
    EXPECT_EQ(PostRecorder::attempts, c.attempts);
    EXPECT_EQ(PostRecorder::sleeps, c.sleeps);
    EXPECT_EQ(PostRecorder::message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(PostRecorder::wParam, 11u);
    EXPECT_EQ(PostRecorder::lParam, 0x5678);
  }
}

TEST(SysUtilPostMessageRetry, NullWindowIsNotTried) {
  PostRecorder::Reset(0);
  EXPECT_EQ(PostMessageRetry(nullptr, WM_APP, 0, 0, PostRecorder::Post, PostRecorder::Sleep), 0);
  EXPECT_EQ(PostRecorder::attempts, 0);
  EXPECT_EQ(PostMessageRetry(nullptr, WM_APP, 0, 0), 0);
}

TEST(SysUtilPostMessageRetry, WindowThatIsGoneFailsForReal) {
  // A handle that names no window: every PostMessageW attempt fails.
  const HWND gone = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFFFFF0));
  ASSERT_FALSE(IsWindow(gone));
  EXPECT_EQ(PostMessageRetry(gone, WM_APP, 0, 0), 0);
}

}  // namespace

// ---- MsToSecondMark -----------------------------------------------------------

TEST(SysUtilSecondMark, LandsOnTheMarkAtLeastHalfASecondAhead) {
  for (const DWORD mark : {0u, 5u, 120u, 999u}) {
    for (DWORD ms = 0; ms < 1000; ++ms) {
      const DWORD delay = MsToSecondMark(ms, mark);
      ASSERT_GE(delay, 500u) << ms << " " << mark;
      ASSERT_LT(delay, 1500u) << ms << " " << mark;
      ASSERT_EQ((ms + delay) % 1000, mark) << ms << " " << mark;
    }
  }
}

TEST(SysUtilSecondMark, ATickNearItsMarkKeepsAboutASecond) {
  // A timer that fires a little late or early is re-armed for the next
  // second's mark, not for the one it just missed or is about to reach.
  struct Case {
    DWORD ms, mark, delay;
  } cases[] = {{5, 5, 1000}, {9, 5, 996}, {1, 5, 1004}, {125, 120, 995}, {110, 120, 1010}, {998, 0, 1002}};
  for (const Case& c : cases) {
    EXPECT_EQ(MsToSecondMark(c.ms, c.mark), c.delay) << c.ms << " " << c.mark;
  }
}
