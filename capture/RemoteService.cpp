// Remote-server mode: the listening socket, the requests of the clients and
// their replies, and the live stream to the viewers.
#include <cstring>
#include <utility>

#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/TraceRecord.h"
#include "formats/Ktr.h"
#include "net/EventSocket.h"
#include "net/RemoteProtocol.h"

namespace {
// UTF-8 of a full path: at most three bytes for each UTF-16 unit.
constexpr size_t kPathBytes = 3 * kLocalFilePathUnits;

bool SamePath(const wchar_t* a, const wchar_t* b) {
  wchar_t fullA[kLocalFilePathUnits], fullB[kLocalFilePathUnits];
  const DWORD lengthA = GetFullPathNameW(a, kLocalFilePathUnits, fullA, nullptr);
  const DWORD lengthB = GetFullPathNameW(b, kLocalFilePathUnits, fullB, nullptr);
  if (lengthA == 0 || lengthA >= kLocalFilePathUnits || lengthB == 0 || lengthB >= kLocalFilePathUnits) {
    return false;
  }
  return CompareStringOrdinal(fullA, -1, fullB, -1, TRUE) == CSTR_EQUAL;
}
}  // namespace

HANDLE CTraceCapture::ListenEvent() const { return m_listen != nullptr ? m_listen->Event() : nullptr; }

void CTraceCapture::OnListenEvent(CSocketService* listen, size_t* next) {
  WSANETWORKEVENTS events = {};
  if (!listen->EnumNetworkEvents(&events)) {
    return;
  }
  if ((events.lNetworkEvents & FD_ACCEPT) != 0 && events.iErrorCode[FD_ACCEPT_BIT] == 0) {
    AcceptWaiting(listen, next);
  }
  if ((events.lNetworkEvents & FD_CLOSE) != 0) {
    RemoveWait(listen->Event(), next);
    delete m_listen;
    m_listen = nullptr;
    Notify(kNotifyNotice, IDS_LISTEN_LOST);
  }
}

void CTraceCapture::AcceptWaiting(CSocketService* listen, size_t* next) {
  // Every waiting connection: FD_ACCEPT is signalled again only after an
  // accept, so one left in the backlog would wait for the next one.
  for (SOCKET accepted = listen->Accept(); accepted != INVALID_SOCKET; accepted = listen->Accept()) {
    if (m_clients.count >= kRemoteMaxConnections && !EvictClosingClient(next)) {
      closesocket(accepted);  // refused; the peer sees the close at once
      continue;
    }
    CSocketClient* client = CSocketService::WrapAccepted(accepted);
    if (client == nullptr) {
      continue;
    }
    if (!AddClient(client, kPhaseRequest)) {
      delete client;
      continue;
    }
    if (!m_waitHandles.Append(client->Event())) {
      RemoveClient(m_clients.count - 1, nullptr);
    }
  }
}

bool CTraceCapture::EvictClosingClient(size_t* next) {
  // A client whose reply is out only waits for its peer to close: its slot
  // goes to a new connection.
  size_t oldest = SIZE_MAX;
  const DWORD now = m_tick();
  for (size_t i = 0; i < m_clients.count; ++i) {
    if (m_clientStates[i]->phase == kPhaseClosing &&
        (oldest == SIZE_MAX || now - m_clientStates[i]->since > now - m_clientStates[oldest]->since)) {
      oldest = i;
    }
  }
  if (oldest == SIZE_MAX) {
    return false;
  }
  TearDownService(oldest, next);
  return true;
}

void CTraceCapture::OnServiceClientEvent(CSocketClient* client, size_t* next) {
  const size_t i = FindClient(client);
  WSANETWORKEVENTS events = {};
  if (i == SIZE_MAX) {
    return;
  }
  if (!client->EnumNetworkEvents(&events) || (events.lNetworkEvents & FD_CLOSE) != 0 ||
      ((events.lNetworkEvents & FD_WRITE) != 0 && events.iErrorCode[FD_WRITE_BIT] != 0) ||
      ((events.lNetworkEvents & FD_READ) != 0 && events.iErrorCode[FD_READ_BIT] != 0)) {
    TearDownService(i, next);
    return;
  }
  if ((events.lNetworkEvents & FD_WRITE) != 0 && !PumpReply(i)) {
    TearDownService(i, next);
    return;
  }
  if ((events.lNetworkEvents & FD_READ) != 0) {
    client->OnRecv();
    if (m_clientStates[i]->phase == kPhaseRequest) {
      ServeRequest(i, next);
    } else {
      client->Input().Consume(client->Input().Size());  // nothing more is asked
    }
  }
}

void CTraceCapture::ServeRequest(size_t i, size_t* next) {
  CSocketClient* client = m_clients[i];
  CByteBuffer& input = client->Input();
  RemoteRequest request;
  const RemoteRequestParse parsed = ParseRemoteRequest(input.Data(), input.Size(), &request);
  if (parsed == RemoteRequestParse::kIncomplete) {
    return;  // the rest comes with a later read, or the tick drops it
  }
  int served = 0;
  if (parsed == RemoteRequestParse::kComplete) {
    client->SetClientType(request.type);
    if (request.type == kRemoteLiveViewer) {
      m_clientStates[i]->phase = kPhaseLive;
      Notify(kNotifyViewerConnected, AddressParam(m_clientStates[i]->address));
      served = 1;
    } else if (request.type == kRemoteDumpList) {
      served = StartListReply(i);
    } else {
      served = StartFileReply(i, request.name, request.nameBytes);
    }
  }
  input.Consume(input.Size());
  if (!served) {
    TearDownService(i, next);
  }
}

int CTraceCapture::WriteDumpFileEntry(const LocalFileEntry* entry, CByteBuffer& out) {
  char path[kPathBytes];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, entry->path, -1, path, int(sizeof(path)), nullptr, nullptr);
  if (bytes <= 0) {
    return 0;
  }
  const uint32_t length = uint32_t(bytes - 1);  // without the terminator
  return AppendLe32(out, length) && out.Append(path, length) == length && AppendLe64(out, entry->lastWrite) &&
         AppendLe32(out, entry->size) && AppendLe32(out, entry->recordCount);
}

int CTraceCapture::StartListReply(size_t i) {
  m_fileList->Refresh(kLocalFilesDump);
  const LocalFileArray& files = m_fileList->DumpFiles();
  CByteBuffer reply;
  const size_t at = BeginRemoteReply(reply);
  if (at == SIZE_MAX || !AppendLe64(reply, files.count)) {
    return 0;
  }
  for (size_t f = 0; f < files.count; ++f) {
    if (!WriteDumpFileEntry(files[f], reply)) {
      return 0;
    }
  }
  if (!EndRemoteReply(reply, at) || !m_clients[i]->Write(reply.Data(), reply.Size())) {
    return 0;
  }
  m_clientStates[i]->phase = kPhaseReply;
  m_clientStates[i]->since = m_tick();
  return PumpReply(i);
}

int CTraceCapture::StartFileReply(size_t i, const uint8_t* name, uint32_t nameBytes) {
  wchar_t path[kLocalFilePathUnits];
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(name),
                                        int(nameBytes), path, int(kLocalFilePathUnits - 1));
  if (units <= 0 || std::memchr(name, 0, nameBytes) != nullptr) {
    return 0;
  }
  path[units] = 0;
  // Only the files this server lists are served, whatever path names them.
  m_fileList->Refresh(kLocalFilesDump);
  const LocalFileArray& files = m_fileList->DumpFiles();
  const LocalFileEntry* match = nullptr;
  for (size_t f = 0; f < files.count && match == nullptr; ++f) {
    if (SamePath(path, files[f]->path)) {
      match = files[f];
    }
  }
  if (match == nullptr) {
    return 0;
  }
  CHandle file(CreateFileW(match->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.valid()) {
    return 0;
  }
  LARGE_INTEGER size = {};
  CByteBuffer head;
  if (!GetFileSizeEx(file.get(), &size) || uint64_t(size.QuadPart) > UINT32_MAX ||
      !AppendLe32(head, uint32_t(size.QuadPart)) || !m_clients[i]->Write(head.Data(), head.Size())) {
    return 0;
  }
  ClientState& state = *m_clientStates[i];
  state.phase = kPhaseReply;
  state.since = m_tick();
  state.file = std::move(file);
  state.fileLeft = uint32_t(size.QuadPart);
  return PumpReply(i);
}

int CTraceCapture::PumpReply(size_t i) {
  ClientState& state = *m_clientStates[i];
  CSocketClient* client = m_clients[i];
  if (state.phase != kPhaseReply) {
    client->OnSend();
    return 1;
  }
  // The file is read only as fast as the socket takes it, so a big file
  // never sits whole in memory and a slow peer never blocks this thread.
  for (;;) {
    while (state.file.valid() && state.fileLeft != 0 && client->Output().Size() < kRemoteFileWindowBytes) {
      uint8_t piece[kRemoteFilePieceBytes];
      const DWORD wanted = state.fileLeft < sizeof(piece) ? state.fileLeft : DWORD(sizeof(piece));
      DWORD read = 0;
      if (!ReadFile(state.file.get(), piece, wanted, &read, nullptr) || read == 0 || !client->Write(piece, read)) {
        // The file shrank or failed: the reply cannot reach its length,
        // and the peer must see a short reply, not a complete one.
        return 0;
      }
      state.fileLeft -= read;
      state.since = m_tick();
    }
    const size_t before = client->Output().Size();
    const size_t left = client->OnSend();
    if (left < before) {
      state.since = m_tick();
    }
    if (left != 0) {
      return 1;  // FD_WRITE resumes
    }
    if (!state.file.valid() || state.fileLeft == 0) {
      break;
    }
  }
  state.file.reset();
  // Everything went out: the peer reads to the end of the stream, and the
  // slot is free again as soon as it closes too.
  shutdown(client->Handle(), SD_SEND);
  state.phase = kPhaseClosing;
  state.since = m_tick();
  return 1;
}

void CTraceCapture::TearDownService(size_t i, size_t* next) {
  CSocketClient* client = m_clients[i];
  if (client->ClientType() == kRemoteLiveViewer && m_clientStates[i]->phase != kPhaseRequest) {
    Notify(kNotifyPeerLost, AddressParam(m_clientStates[i]->address));
  }
  RemoveClient(i, next);
}

void CTraceCapture::ExpireClients(size_t* next) {
  if (m_listenPort == 0) {
    return;
  }
  const DWORD now = m_tick();
  for (size_t i = m_clients.count; i > 0; --i) {
    const ClientState& state = *m_clientStates[i - 1];
    const DWORD age = now - state.since;
    const bool expired = state.phase == kPhaseDrop || (state.phase == kPhaseRequest && age >= m_requestMs) ||
                         (state.phase == kPhaseReply && age >= kRemoteReplyStallMs) ||
                         (state.phase == kPhaseClosing && age >= kRemoteLingerMs);
    if (expired) {
      TearDownService(i - 1, next);
    }
  }
}

void CTraceCapture::ForwardToRemotes() {
  bool anyLive = false;
  for (size_t i = 0; i < m_clients.count; ++i) {
    anyLive = anyLive || m_clientStates[i]->phase == kPhaseLive;
  }
  {
    const CCriticalSectionGuard guard(m_captureLock);
    m_import.Consume(m_import.Size());
    const TraceBufferHeader* h = m_staging.Buffer();
    if (anyLive && h != nullptr && h->recordCount != 0) {
      CTraceRingWalker walker(h);
      while (const TraceRecord* record = walker.Next()) {
        if (record->version == 0 || record->pid == m_ownPid) {
          continue;
        }
        uint8_t* room = m_import.Reserve(kNarrowRecordLimit);
        if (room == nullptr) {
          break;
        }
        if (ToNarrowRecord(room, kNarrowRecordLimit, record) != nullptr) {
          m_import.size += ReadLe16(room);
        }
      }
    }
    ResetStaging();
  }
  if (m_import.Size() == 0) {
    return;
  }
  for (size_t i = 0; i < m_clients.count; ++i) {
    if (m_clientStates[i]->phase != kPhaseLive) {
      continue;
    }
    CSocketClient* client = m_clients[i];
    // A viewer that does not read would make this process hold everything
    // captured since; it is dropped at the next tick instead.
    if (client->Output().Size() + m_import.Size() > m_liveOutputLimit ||
        !client->Write(m_import.Data(), m_import.Size())) {
      m_clientStates[i]->phase = kPhaseDrop;
    }
  }
  m_import.Consume(m_import.Size());
}
