// The viewer's side of the remote dump-file list: the request to a remote
// instance, the reading of its list reply, and the entries it names. A
// remote path is the other machine's and may be longer than a local one, so
// remote entries keep their path as a string of its own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/Handle.h"
#include "core/RefString.h"
#include "net/OwnedList.h"

// One file of a dump-file list, local or remote.
struct DumpFileEntry {
  CString path;
  uint64_t lastWrite = 0;  // FILETIME
  uint32_t size = 0;       // low 32 bits
  uint32_t recordCount = 0;
};

using DumpFileEntries = COwnedList<DumpFileEntry>;

// Reads one list entry at the buffer's read position: u32 name length (1 to
// 511), the UTF-8 name, u64 last-write time, u32 size, u32 record count. A
// short read, a length of 0 or above 511, or a name that is not UTF-8 gives
// null and leaves the buffer where it was; else the entry's bytes are
// consumed. The caller owns the result.
DumpFileEntry* RecvDumpFileEntry(CByteBuffer& buffer);

// Appends the entries of a list reply's payload (what follows its length
// word): the u64 count, then the entries, at most `maxEntries` of them and
// never past the first one that does not read. A payload too short for the
// count holds none. Returns the number appended.
size_t ReadDumpListPayload(CByteBuffer& payload, size_t maxEntries, DumpFileEntries& out);

// Bounds of one request, so that a silent or endless server cannot hold it.
struct DumpListLimits {
  DWORD connectMs = 5000;       // for the connection to be made
  DWORD idleMs = 5000;          // longest wait for the next bytes
  DWORD totalMs = 20000;        // for the whole exchange, however steady
  size_t maxReplyBytes = 4u << 20;
  size_t maxEntries = 8192;
};

enum class DumpListResult {
  kListed,        // connected; the entries read (maybe none) are in the list
  kNoConnection,  // no socket, or the connection could not be made
  kCancelled,     // the cancel event was set; the list is empty
};

// Asks the remote instance at `server` for its dump-file list and reads the
// reply within the limits. Whatever arrived before the server closed, went
// silent or passed a limit is read as far as it goes. `cancel` (may be
// null) ends the wait at once. Winsock must be started.
DumpListResult FetchRemoteDumpList(const sockaddr_in& server, const DumpListLimits& limits, HANDLE cancel,
                                   DumpFileEntries& out);

// One request run on a thread of its own, so the window keeps answering
// while the remote side takes its time. When it ends, `doneMessage` is
// posted to the window (wParam and lParam 0); the window then takes the
// result. Destroying the object cancels the request and waits for its
// thread, which the limits keep short. The request keeps the server it
// asked and the name the user gave it: the window may have connected
// elsewhere by the time the list arrives.
class CRemoteDumpListRequest {
 public:
  CRemoteDumpListRequest() = default;
  ~CRemoteDumpListRequest() { Cancel(); }
  CRemoteDumpListRequest(const CRemoteDumpListRequest&) = delete;
  CRemoteDumpListRequest& operator=(const CRemoteDumpListRequest&) = delete;

  // 1 when the thread runs; 0 when it could not be started or one runs.
  // `serverName` (may be null) is kept for the list's dialog.
  int Start(const sockaddr_in& server, const wchar_t* serverName, const DumpListLimits& limits, HWND window,
            UINT doneMessage);
  // The server of the last Start, and its name as given.
  const sockaddr_in& Server() const { return m_server; }
  const CString& ServerName() const { return m_serverName; }
  // True from Start until the result has been taken.
  bool Pending() const { return m_thread.valid(); }
  // True once the result is ready (the done message follows).
  bool Finished() const;
  // After the done message: waits for the thread, moves the entries into
  // `out` and returns the result; the object can start again.
  DumpListResult Take(DumpFileEntries& out);
  // Ends a running request early and waits for its thread.
  void Cancel();

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Join();

  sockaddr_in m_server = {};
  CString m_serverName;
  DumpListLimits m_limits;
  HWND m_window = nullptr;
  UINT m_doneMessage = 0;
  CHandle m_thread;
  CHandle m_cancel;  // manual-reset; set to end the request early
  // Written by the thread, read after it ended.
  DumpListResult m_result = DumpListResult::kCancelled;
  DumpFileEntries m_entries;
  volatile LONG m_done = 0;
};
