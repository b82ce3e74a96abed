// Thin wrappers around operating-system services shared by several layers:
// the process list, the clipboard, debug output, the program's version, the
// session id, access checks, integrity labels and posting with retries.
// None of them shows a message or throws: failure is 0, null, "N/A" or an
// empty string, and the caller decides. Functions that only newer Windows
// versions have are looked up at run time; when one is missing, the utility
// that needs it fails and the program goes on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"

// Looks up an export of a module the process has already loaded (kernel32
// and advapi32 always are); null when the module or the function is missing.
template <class Fn>
Fn LookupSystemFunction(const wchar_t* module, const char* name) {
  const HMODULE handle = GetModuleHandleW(module);
  if (!handle) return nullptr;
  const FARPROC proc = GetProcAddress(handle, name);
  // Through the generic function type, which converts to any other without
  // a cast-function-type warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// Text of GetNameById for a process the list does not hold, and of
// GetModuleVersionString for a module without a version.
constexpr wchar_t kNotAvailableText[] = L"N/A";

// Running processes by id, for showing executable names beside process ids.
// Owned by the window or dialog that made it; not synchronised.
class CProcessList {
 public:
  struct Entry {
    uint32_t pid;
    CString name;  // executable file name
  };

  CProcessList() = default;
  ~CProcessList() { RemoveAll(); }
  CProcessList(const CProcessList&) = delete;
  CProcessList& operator=(const CProcessList&) = delete;

  // Empties the list and fills it from a process snapshot, in snapshot order.
  // 1 on success (a walk cut short by lack of memory keeps what it has);
  // 0 when the snapshot functions are missing or the snapshot fails.
  int Refresh();
  // The executable name of the process as a new reference, or "N/A".
  CString GetNameById(uint32_t pid) const;
  void RemoveAll();

  size_t Count() const { return m_entries.count; }
  // The list keeps ownership; null past the end.
  const Entry* EntryAt(size_t index) const { return index < m_entries.count ? m_entries[index] : nullptr; }

 private:
  CGrowArray<Entry*> m_entries;
};

// Puts `length` characters of text and a terminator on the clipboard as
// CF_UNICODETEXT. 1 when placed; 0 when the clipboard cannot be opened, the
// memory cannot be had or the clipboard refuses it (the memory is then freed).
int CopyTextToClipboard(HWND owner, const wchar_t* text, size_t length);

// Longest formatted message of DebugTraceA, and longest line it sends.
constexpr size_t kDebugTraceMessageChars = 1023;
constexpr size_t kDebugTraceLineChars = 2047;
// The word in front of every DebugTraceA line.
constexpr char kDebugTracePrefix[] = "Orvan";

// Formats with Windows printf rules (cut to 1023 characters) and sends
// "Orvan, <message>" with OutputDebugStringA.
void DebugTraceA(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
// Formats at most 2047 wide characters and sends them as they are with
// OutputDebugStringW.
void DebugTraceW(const wchar_t* format, ...);

// Writes "N/A" into the buffer, then, when the module's file has version
// information, its file version "major.minor.build.revision". 1 when a
// version was written; 0 otherwise (also when it would not fit the buffer).
// A null module means the program's own file.
int GetModuleVersionString(HMODULE module, wchar_t* buffer, size_t size);

// Session of the current process; 0 when ProcessIdToSessionId is missing or fails.
DWORD GetCurrentSessionId();

// 0 when the path does not exist; 1 on systems outside the NT family;
// otherwise 1 when the current user may write (data and append) to it,
// 0 when not or when the check fails.
int CanWriteFile(const wchar_t* path);

// 1 when the current token is a member of the built-in Administrators group.
int IsUserAdmin();

// Gives the named kernel object the low mandatory integrity label
// "S:(ML;;NW;;;LW)". 1 on success.
int SetLowIntegrityLabel(const wchar_t* name);

// Posting with retries, for the notifications of worker threads to a
// window: three attempts in all, sleeping 0, 25 and then 50 ms after the
// failures. 1 when posted; 0 for a null window or after three failures.
int PostMessageRetry(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The same over given post and sleep functions, so that the retries can be
// watched without a refusing window.
using PostMessageFn = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
using SleepFn = void(WINAPI*)(DWORD);
constexpr int kPostAttempts = 3;
constexpr DWORD kPostFirstRetryWaitMs = 25;
int PostMessageRetry(HWND window, UINT message, WPARAM wParam, LPARAM lParam, PostMessageFn post, SleepFn sleep);

// Where a once-a-second timer is next due so that it falls markMs after
// the system clock's second changes: the milliseconds from a moment
// msIntoSecond into a second to the next such mark, never under half a
// second, so a timer re-armed with it on every tick keeps its period and
// only its phase moves. Records are stamped and settled in whole seconds of
// that clock; ticks just after each change see them as soon as they can.
DWORD MsToSecondMark(DWORD msIntoSecond, DWORD markMs);
// The system clock's milliseconds into its current second.
DWORD SystemMsIntoSecond();

// The current user's name; empty when it cannot be read.
CString GetCurrentUserName();
