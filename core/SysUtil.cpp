#include "core/SysUtil.h"

#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/Handle.h"
#include "core/StrUtil.h"

namespace {

constexpr wchar_t kKernel32[] = L"Kernel32.dll";
constexpr wchar_t kAdvapi32[] = L"Advapi32.dll";

// Snapshot functions, looked up once; a magic static keeps the first
// lookup safe should two threads race to it.
struct ToolhelpFunctions {
  using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
  using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

  CreateSnapshotFn createSnapshot;
  ProcessWalkFn first;
  ProcessWalkFn next;

  bool Complete() const { return createSnapshot && first && next; }
};

const ToolhelpFunctions& Toolhelp() {
  static const ToolhelpFunctions functions = {
      LookupSystemFunction<ToolhelpFunctions::CreateSnapshotFn>(kKernel32, "CreateToolhelp32Snapshot"),
      LookupSystemFunction<ToolhelpFunctions::ProcessWalkFn>(kKernel32, "Process32FirstW"),
      LookupSystemFunction<ToolhelpFunctions::ProcessWalkFn>(kKernel32, "Process32NextW"),
  };
  return functions;
}

class CLibraryOwner {
 public:
  explicit CLibraryOwner(const wchar_t* name) : m_module(LoadLibraryW(name)) {}
  ~CLibraryOwner() {
    if (m_module) FreeLibrary(m_module);
  }
  CLibraryOwner(const CLibraryOwner&) = delete;
  CLibraryOwner& operator=(const CLibraryOwner&) = delete;

  template <class Fn>
  Fn Function(const char* name) const {
    if (!m_module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(m_module, name)));
  }

 private:
  HMODULE m_module;
};

bool IsNtPlatform() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExW(&info)) return true;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The rights CanWriteFile asks for: write data and append data.
constexpr DWORD kWriteAccess = FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr SECURITY_INFORMATION kFileSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;

// Puts the thread back as it was: a caller that impersonates keeps its own
// token, which RevertToSelf alone would drop.
void RestoreThreadToken(const CHandle& previous) {
  if (!previous.valid()) {
    RevertToSelf();
    return;
  }
  if (!SetThreadToken(nullptr, previous.get())) RevertToSelf();
}

// Runs the access check under the process's own token as an impersonation
// token; 1 granted, 0 refused or failed.
int CheckWriteAccess(PSECURITY_DESCRIPTOR descriptor) {
  HANDLE opened = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &opened)) {
    if (GetLastError() != ERROR_NO_TOKEN) return 0;
    opened = nullptr;
  }
  const CHandle previous(opened);
  if (!ImpersonateSelf(SecurityImpersonation)) {
    return 0;
  }
  int result = 0;
  HANDLE queried = nullptr;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE | STANDARD_RIGHTS_READ,
                      TRUE, &queried)) {
    const CHandle token(queried);
    GENERIC_MAPPING mapping = {};
    mapping.GenericWrite = FILE_GENERIC_WRITE;
    DWORD desired = kWriteAccess;
    MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges = {};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    if (AccessCheck(descriptor, token.get(), desired, &mapping, &privileges, &privilegesSize, &granted, &status))
      result = status ? 1 : 0;
  }
  RestoreThreadToken(previous);
  return result;
}

constexpr wchar_t kLowIntegritySddl[] = L"S:(ML;;NW;;;LW)";

constexpr size_t kUserNameChars = 257;  // UNLEN and the terminator

constexpr wchar_t kVersionLibrary[] = L"version.dll";
constexpr wchar_t kVersionRootBlock[] = L"\\";
constexpr size_t kModulePathChars = 32768;  // the longest extended-length path

}  // namespace

int CProcessList::Refresh() {
  RemoveAll();
  const ToolhelpFunctions& toolhelp = Toolhelp();
  if (!toolhelp.Complete()) return 0;
  const CHandle snapshot(toolhelp.createSnapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return 0;
  PROCESSENTRY32W process = {};
  process.dwSize = sizeof(process);
  for (BOOL more = toolhelp.first(snapshot.get(), &process); more; more = toolhelp.next(snapshot.get(), &process)) {
    Entry* entry = new (std::nothrow) Entry{process.th32ProcessID, CString()};
    if (!entry) break;
    if (!entry->name.Assign(process.szExeFile) || !m_entries.Append(entry)) {
      delete entry;
      break;
    }
  }
  return 1;
}

CString CProcessList::GetNameById(uint32_t pid) const {
  for (size_t i = 0; i < m_entries.count; ++i) {
    if (m_entries[i]->pid == pid) return m_entries[i]->name;
  }
  return CString(kNotAvailableText);
}

void CProcessList::RemoveAll() {
  for (size_t i = 0; i < m_entries.count; ++i) delete m_entries[i];
  m_entries.Free();
}

int CopyTextToClipboard(HWND owner, const wchar_t* text, size_t length) {
  if (!text && length) return 0;
  if (length >= SIZE_MAX / sizeof(wchar_t)) return 0;
  if (!OpenClipboard(owner)) return 0;
  int placed = 0;
  EmptyClipboard();
  const size_t bytes = (length + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (auto* target = static_cast<wchar_t*>(GlobalLock(memory))) {
      if (length) std::memcpy(target, text, length * sizeof(wchar_t));
      target[length] = L'\0';
      GlobalUnlock(memory);
      // The clipboard owns the memory once it takes it.
      placed = SetClipboardData(CF_UNICODETEXT, memory) ? 1 : 0;
    }
    if (!placed) GlobalFree(memory);
  }
  CloseClipboard();
  return placed;
}

void DebugTraceA(const char* format, ...) {
  char message[kDebugTraceMessageChars + 1];
  va_list args;
  va_start(args, format);
  StrVPrintfA(message, sizeof(message), format, args);
  va_end(args);
  char line[kDebugTraceLineChars + 1];
  StrPrintfA(line, sizeof(line), "%s, %s", kDebugTracePrefix, message);
  OutputDebugStringA(line);
}

void DebugTraceW(const wchar_t* format, ...) {
  wchar_t line[kDebugTraceLineChars + 1];
  va_list args;
  va_start(args, format);
  StrVPrintfW(line, kDebugTraceLineChars + 1, format, args);
  va_end(args);
  OutputDebugStringW(line);
}

int GetModuleVersionString(HMODULE module, wchar_t* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  StrCopyNW(buffer, size, kNotAvailableText);

  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  const CLibraryOwner library(kVersionLibrary);
  const auto getSize = library.Function<SizeFn>("GetFileVersionInfoSizeW");
  const auto getInfo = library.Function<InfoFn>("GetFileVersionInfoW");
  const auto query = library.Function<QueryFn>("VerQueryValueW");
  if (!getSize || !getInfo || !query) return 0;

  auto* path = static_cast<wchar_t*>(std::malloc(kModulePathChars * sizeof(wchar_t)));
  if (!path) return 0;
  int result = 0;
  const DWORD pathLength = GetModuleFileNameW(module, path, kModulePathChars);
  DWORD ignored = 0;
  const DWORD infoSize = pathLength && pathLength < kModulePathChars ? getSize(path, &ignored) : 0;
  void* info = infoSize ? std::malloc(infoSize) : nullptr;
  if (info && getInfo(path, 0, infoSize, info)) {
    void* value = nullptr;
    UINT valueSize = 0;
    if (query(info, kVersionRootBlock, &value, &valueSize) && value && valueSize >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
      wchar_t text[64];
      const int length = StrPrintfW(text, sizeof(text) / sizeof(text[0]), L"%d.%d.%d.%d",
                                    static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
                                    static_cast<int>(LOWORD(fixed->dwFileVersionMS)),
                                    static_cast<int>(HIWORD(fixed->dwFileVersionLS)),
                                    static_cast<int>(LOWORD(fixed->dwFileVersionLS)));
      // A cut version would be a wrong one: keep "N/A" then.
      if (length > 0 && static_cast<size_t>(length) < size) {
        StrCopyNW(buffer, size, text);
        result = 1;
      }
    }
  }
  std::free(info);
  std::free(path);
  return result;
}

DWORD GetCurrentSessionId() {
  using SessionFn = BOOL(WINAPI*)(DWORD, DWORD*);
  static const auto processIdToSessionId = LookupSystemFunction<SessionFn>(kKernel32, "ProcessIdToSessionId");
  DWORD session = 0;
  if (!processIdToSessionId || !processIdToSessionId(GetCurrentProcessId(), &session)) return 0;
  return session;
}

int CanWriteFile(const wchar_t* path) {
  if (!path || !*path || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return 0;
  if (!IsNtPlatform()) return 1;
  DWORD needed = 0;
  if (GetFileSecurityW(path, kFileSecurityParts, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      needed == 0)
    return 0;
  auto* descriptor = static_cast<PSECURITY_DESCRIPTOR>(std::malloc(needed));
  if (!descriptor) return 0;
  int result = 0;
  DWORD size = needed;
  if (GetFileSecurityW(path, kFileSecurityParts, descriptor, size, &needed)) result = CheckWriteAccess(descriptor);
  std::free(descriptor);
  return result;
}

int IsUserAdmin() {
  using MembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
  const auto checkMembership = LookupSystemFunction<MembershipFn>(kAdvapi32, "CheckTokenMembership");
  if (!checkMembership) return 0;
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                0, &administrators))
    return 0;
  BOOL member = FALSE;
  const int result = checkMembership(nullptr, administrators, &member) && member ? 1 : 0;
  FreeSid(administrators);
  return result;
}

int SetLowIntegrityLabel(const wchar_t* name) {
  using ConvertFn = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
  const auto convert =
      LookupSystemFunction<ConvertFn>(kAdvapi32, "ConvertStringSecurityDescriptorToSecurityDescriptorW");
  if (!convert || !name || !*name) return 0;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!convert(kLowIntegritySddl, SDDL_REVISION_1, &descriptor, nullptr)) return 0;
  int result = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL sacl = nullptr;
  if (GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) && present) {
    // The API takes a writable name although it does not change it.
    result = SetNamedSecurityInfoW(const_cast<wchar_t*>(name), SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr,
                                   nullptr, nullptr, sacl) == ERROR_SUCCESS
                 ? 1
                 : 0;
  }
  LocalFree(descriptor);
  return result;
}

DWORD MsToSecondMark(DWORD msIntoSecond, DWORD markMs) {
  constexpr DWORD kSecondMs = 1000;
  DWORD delay = (kSecondMs + markMs % kSecondMs - msIntoSecond % kSecondMs) % kSecondMs;
  if (delay < kSecondMs / 2) {
    delay += kSecondMs;
  }
  return delay;
}

DWORD SystemMsIntoSecond() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return DWORD(ticks / 10000 % 1000);
}

int PostMessageRetry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessageRetry(window, message, wParam, lParam, PostMessageW, Sleep);
}

int PostMessageRetry(HWND window, UINT message, WPARAM wParam, LPARAM lParam, PostMessageFn post, SleepFn sleep) {
  if (!window || !post || !sleep) return 0;
  DWORD wait = 0;
  for (int attempt = 0; attempt < kPostAttempts; ++attempt) {
    if (post(window, message, wParam, lParam)) return 1;
    sleep(wait);
    wait = wait ? wait * 2 : kPostFirstRetryWaitMs;
  }
  return 0;
}

CString GetCurrentUserName() {
  wchar_t name[kUserNameChars];
  DWORD size = kUserNameChars;
  if (!GetUserNameW(name, &size)) return CString();
  name[kUserNameChars - 1] = L'\0';
  return CString(name);
}
