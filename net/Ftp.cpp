// FTP listing and download through the global session.
#include <cwchar>
#include <new>
#include <string>

#include "core/Handle.h"
#include "core/SysUtil.h"
#include "net/Inet.h"
#include "net/RemoteServer.h"

namespace {

constexpr uint32_t kConnectedPercent = 25;
constexpr uint32_t kFullPercent = 100;
constexpr DWORD kReadChunk = 4096;
constexpr wchar_t kParentName[] = L"..";
constexpr wchar_t kAllFiles[] = L"*.*";

void SetProgress(volatile uint32_t* progress, uint32_t percent) {
  if (progress) InterlockedExchange(reinterpret_cast<volatile LONG*>(progress), static_cast<LONG>(percent));
}

// The error of the last failed call; a failure that left none still fails.
DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error ? error : fallback;
}

HINTERNET ConnectFtp(const CRemoteServer& server) {
  const bool named = !server.anonymous;
  return InternetConnectW(g_inetSession.get(), server.host.c_str(), server.port,
                          named ? server.user.c_str() : nullptr, named ? server.password.c_str() : nullptr,
                          INTERNET_SERVICE_FTP, 0, 0);
}

// The folder of the entry with its closing "/".
std::wstring FolderOf(const CRemoteServer& server) {
  std::wstring folder = server.path.c_str();
  if (folder.empty() || folder.back() != L'/') folder += L'/';
  return folder;
}

bool IsDotName(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, kParentName) == 0; }

CFtpFileEntry* MakeEntry(const wchar_t* name, uint32_t attributes, const FILETIME& lastWrite, uint32_t size) {
  auto* entry = new (std::nothrow) CFtpFileEntry;
  if (!entry) return nullptr;
  entry->name = name;
  entry->attributes = attributes;
  entry->lastWrite = lastWrite;
  entry->size = size;
  return entry;
}

// Reads the open remote file into the local one. 0 or the error.
DWORD CopyRemoteFile(HINTERNET remote, HANDLE local, uint32_t size, volatile uint32_t* progress) {
  uint8_t chunk[kReadChunk];
  uint64_t received = 0;
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(remote, chunk, sizeof(chunk), &read)) return LastErrorOr(ERROR_READ_FAULT);
    // Only an empty read ends the file: a short one is just what the
    // connection had at hand.
    if (read == 0) break;
    received += read;
    if (size) {
      const uint64_t percent = received * kFullPercent / size;
      SetProgress(progress, static_cast<uint32_t>(percent < kFullPercent ? percent : kFullPercent));
    }
    DWORD written = 0;
    if (!WriteFile(local, chunk, read, &written, nullptr) || written != read) return LastErrorOr(ERROR_WRITE_FAULT);
  }
  if (size && static_cast<uint32_t>(received) != size) {
    DebugTraceA("CInetConnect::FtpGetFile, 4, got %llu of %u bytes", static_cast<unsigned long long>(received), size);
    return ERROR_INVALID_DATA;
  }
  return 0;
}

}  // namespace

DWORD CInetConnect::FtpList(const CRemoteServer& server, CFtpListing& listing, volatile uint32_t* progress) {
  listing.Clear();
  CInetConnect connection(ConnectFtp(server));
  if (!connection) return LastErrorOr(ERROR_INTERNET_CANNOT_CONNECT);
  SetProgress(progress, kConnectedPercent);

  const std::wstring folder = FolderOf(server);
  size_t first = 0;
  if (folder != L"/") {
    if (!listing.Append(MakeEntry(kParentName, FILE_ATTRIBUTE_DIRECTORY, FILETIME{}, 0))) return ERROR_OUTOFMEMORY;
    first = 1;
  }
  WIN32_FIND_DATAW found;
  // Declared after the connection so that it is closed first.
  CInetConnect find(FtpFindFirstFileW(connection.get(), (folder + kAllFiles).c_str(), &found, INTERNET_FLAG_RELOAD, 0));
  if (!find) {
    const DWORD error = GetLastError();
    // An empty folder: WinINet's own answer, or a failure without a cause
    // (Wine) or with only the server's text, for a folder that is there.
    if (error == ERROR_NO_MORE_FILES) return 0;
    if ((error == 0 || error == ERROR_INTERNET_EXTENDED_ERROR) &&
        FtpSetCurrentDirectoryW(connection.get(), folder.c_str())) {
      return 0;
    }
    listing.Clear();
    return error ? error : ERROR_INTERNET_EXTENDED_ERROR;
  }
  do {
    if (IsDotName(found.cFileName)) continue;
    if (!listing.Append(MakeEntry(found.cFileName, found.dwFileAttributes, found.ftLastWriteTime, found.nFileSizeLow))) {
      listing.Clear();
      return ERROR_OUTOFMEMORY;
    }
  } while (InternetFindNextFileW(find.get(), &found));
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) {
    // A listing cut short would show a folder with files missing.
    listing.Clear();
    return error ? error : ERROR_INTERNET_EXTENDED_ERROR;
  }
  listing.SortFrom(first, CompareFtpEntries);
  return 0;
}

DWORD CInetConnect::FtpGetFile(const CRemoteServer& server, const wchar_t* remoteName, uint32_t size,
                               const wchar_t* localPath, volatile uint32_t* progress) {
  if (!remoteName || !remoteName[0] || !localPath) return ERROR_INVALID_PARAMETER;
  CHandle local(CreateFileW(localPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!local.valid()) return LastErrorOr(ERROR_OPEN_FAILED);

  DWORD error = 0;
  {
    CInetConnect connection(ConnectFtp(server));
    if (!connection) {
      error = LastErrorOr(ERROR_INTERNET_CANNOT_CONNECT);
    } else {
      const std::wstring remotePath = FolderOf(server) + remoteName;
      CInetConnect remote(
          FtpOpenFileW(connection.get(), remotePath.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
      error = remote ? CopyRemoteFile(remote.get(), local.get(), size, progress)
                     : LastErrorOr(ERROR_INTERNET_EXTENDED_ERROR);
    }
  }
  if (!local.Close() && !error) error = LastErrorOr(ERROR_WRITE_FAULT);
  if (error) {
    // Nothing may stay behind that looks like a finished download.
    DeleteFileW(localPath);
    DebugTraceA("CInetConnect::FtpGetFile, 9, error %lu", error);
  }
  return error;
}

DWORD CInetConnect::SftpList(const CRemoteServer&, CFtpListing& listing, volatile uint32_t*) {
  listing.Clear();
  return ERROR_NOT_SUPPORTED;
}

DWORD CInetConnect::SftpGetFile(const CRemoteServer&, const wchar_t*, uint32_t, const wchar_t*, volatile uint32_t*) {
  return ERROR_NOT_SUPPORTED;
}
