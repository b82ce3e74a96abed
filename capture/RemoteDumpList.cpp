#include "capture/RemoteDumpList.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/SysUtil.h"
#include "net/EventSocket.h"
#include "net/RemoteProtocol.h"

namespace {

constexpr size_t kNameLengthBytes = 4;
constexpr size_t kEntryTailBytes = 8 + 4 + 4;  // last write, size, count
constexpr size_t kCountBytes = 8;

uint64_t ReadLe64(const uint8_t* p) { return uint64_t(ReadLe32(p)) | (uint64_t(ReadLe32(p + 4)) << 32); }

// The remaining time of a budget that started at `start`, 0 once spent.
DWORD Remaining(DWORD start, DWORD budget) {
  const DWORD spent = GetTickCount() - start;
  return spent < budget ? budget - spent : 0;
}

}  // namespace

DumpFileEntry* RecvDumpFileEntry(CByteBuffer& buffer) {
  const uint8_t* p = buffer.Data();
  const size_t size = buffer.Size();
  if (size < kNameLengthBytes) {
    return nullptr;
  }
  const uint32_t nameBytes = ReadLe32(p);
  if (nameBytes == 0 || nameBytes > kRemoteMaxNameBytes || size - kNameLengthBytes < nameBytes ||
      size - kNameLengthBytes - nameBytes < kEntryTailBytes) {
    return nullptr;
  }
  const char* name = reinterpret_cast<const char*>(p + kNameLengthBytes);
  if (std::memchr(name, 0, nameBytes) != nullptr) {
    return nullptr;
  }
  // UTF-8 never takes fewer bytes than UTF-16 units.
  wchar_t path[kRemoteMaxNameBytes + 1];
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, int(nameBytes), path,
                                        int(kRemoteMaxNameBytes));
  if (units <= 0) {
    return nullptr;
  }
  auto* entry = new (std::nothrow) DumpFileEntry;
  if (entry == nullptr || !entry->path.Assign(path, size_t(units))) {
    delete entry;
    return nullptr;
  }
  const uint8_t* tail = p + kNameLengthBytes + nameBytes;
  entry->lastWrite = ReadLe64(tail);
  entry->size = ReadLe32(tail + 8);
  entry->recordCount = ReadLe32(tail + 12);
  buffer.Consume(kNameLengthBytes + nameBytes + kEntryTailBytes);
  return entry;
}

size_t ReadDumpListPayload(CByteBuffer& payload, size_t maxEntries, DumpFileEntries& out) {
  if (payload.Size() < kCountBytes) {
    return 0;
  }
  const uint64_t announced = ReadLe64(payload.Data());
  payload.Consume(kCountBytes);
  const uint64_t wanted = announced < maxEntries ? announced : maxEntries;
  size_t appended = 0;
  while (appended < wanted) {
    DumpFileEntry* entry = RecvDumpFileEntry(payload);
    if (entry == nullptr || !out.Append(entry)) {
      break;
    }
    ++appended;
  }
  return appended;
}

DumpListResult FetchRemoteDumpList(const sockaddr_in& server, const DumpListLimits& limits, HANDLE cancel,
                                   DumpFileEntries& out) {
  out.Clear();
  std::unique_ptr<CSocketClient> client(CSocketClient::Connect(server, kRemoteDumpList));
  if (!client) {
    DebugTraceA("FetchRemoteDumpList, connect, CSocketClient::Connect");
    return DumpListResult::kNoConnection;
  }
  client->SetBufferLimits(limits.maxReplyBytes + kRemoteReplyLengthBytes, CSocketClient::kDefaultSendLimit);
  const DWORD start = GetTickCount();
  HANDLE events[2] = {client->Event(), cancel};
  const DWORD eventCount = cancel != nullptr ? 2 : 1;
  bool connected = false;
  bool lengthSeen = false;
  size_t wanted = 0;  // payload bytes to wait for
  CByteBuffer& input = client->Input();
  for (;;) {
    DWORD wait = connected ? limits.idleMs : Remaining(start, limits.connectMs);
    const DWORD total = Remaining(start, limits.totalMs);
    if (total < wait) {
      wait = total;
    }
    if (wait == 0) {
      break;
    }
    const DWORD signalled = WSAWaitForMultipleEvents(eventCount, events, FALSE, wait, FALSE);
    if (signalled == WSA_WAIT_EVENT_0 + 1) {
      return DumpListResult::kCancelled;
    }
    if (signalled != WSA_WAIT_EVENT_0) {
      break;  // silent too long, or the wait failed
    }
    WSANETWORKEVENTS network = {};
    if (!client->EnumNetworkEvents(&network)) {
      break;
    }
    if ((network.lNetworkEvents & FD_CONNECT) != 0) {
      if (network.iErrorCode[FD_CONNECT_BIT] != 0) {
        break;
      }
      connected = true;
      uint8_t request[4];
      const uint32_t type = kRemoteDumpList;
      std::memcpy(request, &type, sizeof(request));
      if (!client->Write(request, sizeof(request))) {
        break;
      }
    }
    // What arrived before a close is still read.
    if ((network.lNetworkEvents & (FD_READ | FD_CLOSE)) != 0) {
      client->OnRecv();
    }
    if (!lengthSeen && input.Size() >= kRemoteReplyLengthBytes) {
      const uint32_t length = ReadLe32(input.Data());
      wanted = length < limits.maxReplyBytes ? length : limits.maxReplyBytes;
      lengthSeen = true;
    }
    if (lengthSeen && input.Size() - kRemoteReplyLengthBytes >= wanted) {
      break;
    }
    if ((network.lNetworkEvents & FD_CLOSE) != 0) {
      break;
    }
  }
  if (!connected) {
    DebugTraceA("FetchRemoteDumpList, connect, FD_CONNECT");
    return DumpListResult::kNoConnection;
  }
  if (lengthSeen) {
    input.Consume(kRemoteReplyLengthBytes);
    if (input.size > wanted) {
      input.size = wanted;
    }
    ReadDumpListPayload(input, limits.maxEntries, out);
  }
  return DumpListResult::kListed;
}

int CRemoteDumpListRequest::Start(const sockaddr_in& server, const wchar_t* serverName, const DumpListLimits& limits,
                                  HWND window, UINT doneMessage) {
  if (m_thread.valid() || !m_serverName.Assign(serverName != nullptr ? serverName : L"")) {
    return 0;
  }
  if (!m_cancel.valid()) {
    m_cancel.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_cancel.valid()) {
      return 0;
    }
  }
  ResetEvent(m_cancel.get());
  m_server = server;
  m_limits = limits;
  m_window = window;
  m_doneMessage = doneMessage;
  m_entries.Clear();
  m_result = DumpListResult::kCancelled;
  InterlockedExchange(&m_done, 0);
  m_thread.reset(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
  return m_thread.valid() ? 1 : 0;
}

bool CRemoteDumpListRequest::Finished() const {
  return m_thread.valid() && InterlockedCompareExchange(const_cast<volatile LONG*>(&m_done), 0, 0) != 0;
}

DumpListResult CRemoteDumpListRequest::Take(DumpFileEntries& out) {
  Join();
  out.Clear();
  out.Swap(m_entries);
  return m_result;
}

void CRemoteDumpListRequest::Cancel() {
  if (!m_thread.valid()) {
    return;
  }
  SetEvent(m_cancel.get());
  Join();
  m_entries.Clear();
  m_result = DumpListResult::kCancelled;
}

void CRemoteDumpListRequest::Join() {
  if (!m_thread.valid()) {
    return;
  }
  WaitForSingleObject(m_thread.get(), INFINITE);
  m_thread.Close();
}

DWORD WINAPI CRemoteDumpListRequest::ThreadProc(void* self) {
  auto* request = static_cast<CRemoteDumpListRequest*>(self);
  try {
    request->m_result = FetchRemoteDumpList(request->m_server, request->m_limits, request->m_cancel.get(),
                                            request->m_entries);
  } catch (...) {
    request->m_entries.Clear();
    request->m_result = DumpListResult::kCancelled;
  }
  InterlockedExchange(&request->m_done, 1);
  if (request->m_window != nullptr) {
    PostMessageW(request->m_window, request->m_doneMessage, 0, 0);
  }
  return 0;
}
