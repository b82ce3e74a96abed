// Fetching a dump file from a remote instance: the client side of the
// remote protocol's file request.
#include <cstring>
#include <memory>

#include "core/Containers.h"
#include "core/Handle.h"
#include "formats/FilePath.h"
#include "formats/FileReplace.h"
#include "jobs/RemoteJobs.h"
#include "net/EventSocket.h"

namespace {

constexpr size_t kWordBytes = sizeof(uint32_t);
constexpr size_t kReceiveChunk = 64 * 1024;
constexpr uint32_t kPercent = 100;

// The reply as it arrives: the length word, then the payload, written
// straight into a temporary file beside the target that becomes the target
// only when the reply is whole.
class CDumpReceiver {
 public:
  CDumpReceiver(const wchar_t* localPath, volatile uint32_t* progress) : m_localPath(localPath), m_progress(progress) {}

  // Takes received bytes. 0, or the error that ends the transfer.
  DWORD Take(const uint8_t* data, size_t size);
  bool LengthSeen() const { return m_lengthSeen; }
  bool Complete() const { return m_lengthSeen && m_received == m_expected; }
  // Puts the file in place. 0 or the Win32 error.
  DWORD Commit();

 private:
  DWORD TakeLengthWord(const uint8_t*& data, size_t& size);
  DWORD CreateTarget();

  const wchar_t* m_localPath;
  volatile uint32_t* m_progress;
  uint8_t m_word[kWordBytes] = {};
  size_t m_wordBytes = 0;
  bool m_lengthSeen = false;
  uint64_t m_expected = 0;
  uint64_t m_received = 0;
  CFileReplacement m_replacement;  // declared before the file: closed first
  CHandle m_file;
};

DWORD CDumpReceiver::TakeLengthWord(const uint8_t*& data, size_t& size) {
  while (m_wordBytes < kWordBytes && size != 0) {
    m_word[m_wordBytes++] = *data++;
    --size;
  }
  if (m_wordBytes < kWordBytes) return 0;
  uint32_t length = 0;
  std::memcpy(&length, m_word, sizeof(length));  // little-endian on the wire and here
  m_lengthSeen = true;
  m_expected = length;
  if (m_expected > JobRmtSaveDump::kMaxDumpBytes) return ERROR_INVALID_DATA;
  return CreateTarget();
}

DWORD CDumpReceiver::CreateTarget() {
  if (!m_replacement.Begin(m_localPath)) return ERROR_INVALID_PARAMETER;
  m_file = CHandle(CreateFileW(m_replacement.TempPath(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_file.valid()) {
    const DWORD error = GetLastError();
    return error ? error : ERROR_CANNOT_MAKE;
  }
  return 0;
}

DWORD CDumpReceiver::Take(const uint8_t* data, size_t size) {
  if (!m_lengthSeen) {
    const DWORD error = TakeLengthWord(data, size);
    if (error || !m_lengthSeen) return error;
  }
  if (size == 0) return 0;
  // More than announced: the reply is not what was asked for.
  if (size > m_expected - m_received) return ERROR_INVALID_DATA;
  DWORD written = 0;
  if (!WriteFile(m_file.get(), data, DWORD(size), &written, nullptr) || written != size) {
    const DWORD error = GetLastError();
    return error ? error : ERROR_WRITE_FAULT;
  }
  m_received += size;
  *m_progress = uint32_t(m_received * kPercent / m_expected);
  return 0;
}

DWORD CDumpReceiver::Commit() {
  if (!m_file.Close()) return GetLastError();
  if (!m_replacement.Commit()) {
    const DWORD error = GetLastError();
    return error ? error : ERROR_CANNOT_MAKE;
  }
  return 0;
}

// Reads what the socket holds now. 0 while the transfer goes on; sets
// `closed` when the peer's close was reached.
DWORD ReceiveAvailable(SOCKET socket, CByteBuffer& chunk, CDumpReceiver& receiver, bool& closed) {
  for (;;) {
    const int received = recv(socket, reinterpret_cast<char*>(chunk.base), int(kReceiveChunk), 0);
    if (received == 0) {
      closed = true;
      return 0;
    }
    if (received < 0) {
      const int error = WSAGetLastError();
      return error == WSAEWOULDBLOCK ? 0 : DWORD(error);
    }
    const DWORD error = receiver.Take(chunk.base, size_t(received));
    if (error) return error;
  }
}

// The request: type, name length, the name in UTF-8 without terminator.
bool BuildRequest(const wchar_t* remotePath, CByteBuffer& request) {
  char name[JobRmtSaveDump::kMaxRemotePathBytes + 1];
  // The count includes the terminator, which is not sent; a name that does
  // not fit fails the conversion.
  const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, remotePath, -1, name, int(sizeof(name)),
                                        nullptr, nullptr);
  if (bytes <= 1) return false;
  const uint32_t length = uint32_t(bytes - 1);
  const uint32_t type = kRemoteFileFetch;
  return request.Append(&type, kWordBytes) == kWordBytes && request.Append(&length, kWordBytes) == kWordBytes &&
         request.Append(name, length) == length;
}

// Connects, sends the request and takes the reply until the peer closes.
// 0 when the peer closed (or went quiet after the whole reply), else the
// error that ended it.
DWORD Transfer(CSocketClient& client, const CByteBuffer& request, CByteBuffer& chunk, CDumpReceiver& receiver,
               DWORD idleMs, DWORD totalMs) {
  const ULONGLONG deadline = GetTickCount64() + totalMs;
  WSAEVENT event = client.Event();
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WSAETIMEDOUT;
    const ULONGLONG left = deadline - now;
    const DWORD wait = left < idleMs ? DWORD(left) : idleMs;
    const DWORD signalled = WSAWaitForMultipleEvents(1, &event, FALSE, wait, TRUE);
    if (signalled == WSA_WAIT_TIMEOUT) {
      // A peer that sent the whole reply and keeps the connection open.
      if (receiver.Complete()) return 0;
      return WSAETIMEDOUT;
    }
    // An APC ran: the worker is asked to stop.
    if (signalled != WSA_WAIT_EVENT_0) return ERROR_OPERATION_ABORTED;
    WSANETWORKEVENTS events = {};
    if (!client.EnumNetworkEvents(&events)) continue;
    if (events.lNetworkEvents & FD_CONNECT) {
      if (events.iErrorCode[FD_CONNECT_BIT]) return DWORD(events.iErrorCode[FD_CONNECT_BIT]);
      if (!client.Write(request.Data(), request.Size())) {
        return client.DropError() ? DWORD(client.DropError()) : DWORD(WSAECONNABORTED);
      }
    }
    if (events.lNetworkEvents & FD_WRITE) client.OnSend();
    if ((events.lNetworkEvents & FD_READ) && events.iErrorCode[FD_READ_BIT]) {
      return DWORD(events.iErrorCode[FD_READ_BIT]);
    }
    if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) {
      // FD_CLOSE may come before the last bytes were read: read to the end.
      bool closed = false;
      const DWORD error = ReceiveAvailable(client.Handle(), chunk, receiver, closed);
      if (error) return error;
      if (closed || (events.lNetworkEvents & FD_CLOSE)) {
        if (!closed && events.iErrorCode[FD_CLOSE_BIT]) return DWORD(events.iErrorCode[FD_CLOSE_BIT]);
        // Closed before the length word: failed without a code, as before.
        return receiver.LengthSeen() && !receiver.Complete() ? DWORD(ERROR_HANDLE_EOF) : 0;
      }
    }
  }
}

}  // namespace

JobRmtSaveDump::JobRmtSaveDump(const sockaddr_in& address, const wchar_t* remotePath, const wchar_t* localPath)
    : JobItem(IDS_JOB_SAVING_REMOTE_DUMP, FileNamePart(localPath)),
      m_address(address),
      m_remotePath(remotePath ? remotePath : L""),
      m_localPath(localPath ? localPath : L"") {}

void JobRmtSaveDump::Run() {
  SetFailed(0);
  m_progress = 0;
  CByteBuffer request;
  CByteBuffer chunk(kReceiveChunk);
  if (!BuildRequest(m_remotePath.c_str(), request) || m_localPath.IsEmpty()) {
    SetFailed(ERROR_INVALID_PARAMETER);
  } else if (!chunk.base) {
    SetFailed(ERROR_OUTOFMEMORY);
  } else {
    std::unique_ptr<CSocketClient> client(CSocketClient::Connect(m_address, kRemoteFileFetch));
    if (client) {
      CDumpReceiver receiver(m_localPath.c_str(), &m_progress);
      const DWORD error = Transfer(*client, request, chunk, receiver, m_idleTimeoutMs, m_totalTimeoutMs);
      client.reset();
      if (error) {
        SetFailed(error);
      } else if (receiver.LengthSeen()) {
        const DWORD committed = receiver.Commit();
        if (committed) {
          SetFailed(committed);
        } else {
          ClearFailed();
        }
      }
    }
  }
  m_progress = kPercent;
}

