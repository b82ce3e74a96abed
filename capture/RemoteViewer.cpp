// Remote-viewer mode: the connection to a remote server takes the place of
// the local inputs, and its live records are staged like local ones.
#include <cstring>

#include "capture/TraceCapture.h"
#include "core/RecordBuilder.h"
#include "core/TraceRecord.h"
#include "net/EventSocket.h"
#include "net/RemoteProtocol.h"

namespace {
sockaddr_in NoRemoteAddress() {
  sockaddr_in none = {};
  none.sin_family = AF_INET;
  none.sin_addr.s_addr = INADDR_NONE;
  return none;
}

uint32_t ClientAddress(const CSocketClient* client) {
  const sockaddr_in& target = client->TargetAddress();
  return target.sin_family == AF_INET ? target.sin_addr.s_addr : client->PeerAddress();
}
}  // namespace

void CTraceCapture::OnControl(CaptureControlItem* item) {
  if (item->kind == kCaptureItemAdoptSocket && item->socket != nullptr && m_listenPort == 0) {
    // Behind the timer: the loop finds handles by value.
    if (!AddClient(item->socket, kPhaseRemote)) {
      DiscardCaptureItem(item);
      return;
    }
    if (!m_waitHandles.Append(item->socket->Event())) {
      RemoveClient(m_clients.count - 1, nullptr);
    }
    FreeCaptureItem(item);
    return;
  }
  if (item->kind == kCaptureItemLeaveRemote && m_listenPort == 0) {
    LeaveRemoteViewer();
  }
  DiscardCaptureItem(item);
}

void CTraceCapture::LeaveRemoteViewer() {
  m_remoteViewer = 0;
  CloseMapFiles();
  SetTracerProp(1);
  DeleteAllClients();
  if (!OpenMapFiles(0)) {
    CloseMapFiles();
  }
  m_remoteAddress = NoRemoteAddress();
}

int CTraceCapture::ReconnectRemote() {
  DeleteAllClients();
  CSocketClient* client = CSocketClient::Connect(m_remoteAddress, kRemoteLiveViewer);
  if (client != nullptr && AddClient(client, kPhaseRemote)) {
    return 1;
  }
  delete client;
  m_remoteViewer = 0;
  SetTracerProp(1);
  m_remoteAddress = NoRemoteAddress();
  Notify(kNotifyRemoteConnectFailed, AddressParam(kNoRemoteAddress));
  return 0;
}

void CTraceCapture::OnRemoteClientEvent(CSocketClient* client, size_t* next) {
  WSANETWORKEVENTS events = {};
  if (!client->EnumNetworkEvents(&events)) {
    TearDownRemote(client, kNotifyPeerLost, next);
    return;
  }
  if ((events.lNetworkEvents & FD_CONNECT) != 0) {
    if (events.iErrorCode[FD_CONNECT_BIT] != 0) {
      TearDownRemote(client, kNotifyRemoteConnectFailed, next);
      return;
    }
    CByteBuffer word;
    if (!AppendLe32(word, client->ClientType()) || !client->Write(word.Data(), word.Size())) {
      TearDownRemote(client, kNotifyPeerLost, next);
      return;
    }
    Notify(kNotifyRemoteConnected, AddressParam(ClientAddress(client)));
    if (!m_remoteViewer) {
      m_remoteViewer = 1;
      CloseMapFiles();
      SetTracerProp(0);
      if (!OpenMapFiles(0)) {
        TearDownRemote(client, kNotifyPeerLost, next);
        return;
      }
      m_remoteAddress = client->TargetAddress();
      *next = m_waitHandles.count;  // the array was rebuilt
    }
  }
  if ((events.lNetworkEvents & FD_READ) != 0 && events.iErrorCode[FD_READ_BIT] != 0) {
    TearDownRemote(client, kNotifyPeerLost, next);
    return;
  }
  if ((events.lNetworkEvents & FD_WRITE) != 0) {
    client->OnSend();
  }
  // A close can be reported before the last bytes were read: they are taken
  // first.
  if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) != 0) {
    client->OnRecv();
    if (!OnRemoteRecords(client)) {
      // Out of step: every later length would be read from the middle of
      // some record, so the connection goes rather than show garbage.
      TearDownRemote(client, kNotifyPeerLost, next);
      return;
    }
  }
  if ((events.lNetworkEvents & FD_CLOSE) != 0) {
    TearDownRemote(client, kNotifyPeerLost, next);
  }
}

int CTraceCapture::OnRemoteRecords(CSocketClient* client) {
  CByteBuffer& input = client->Input();
  const uint8_t* data = input.Data();
  const size_t size = input.Size();
  size_t offset = 0;
  bool inStep = true;
  const CCriticalSectionGuard guard(m_captureLock);
  m_import.Consume(m_import.Size());
  while (offset < size) {
    size_t length = 0;
    const LiveRecordStep step = NextLiveRecord(data + offset, size - offset, &length);
    if (step == LiveRecordStep::kNeedMore) {
      break;
    }
    if (step == LiveRecordStep::kOutOfStep) {
      inStep = false;
      break;
    }
    if (m_import.Append(data + offset, length) != length) {
      break;
    }
    offset += length;
  }
  input.Consume(inStep ? offset : size);
  const uint8_t* records = m_import.Data();
  const size_t taken = m_import.Size();
  if (taken != 0) {
    const uint32_t ignoreMask = IgnoreMask();
    for (size_t at = 0; at < taken; at += ReadLe16(records + at)) {
      AddRecord(&m_staging, ignoreMask, records + at, 0, kModeScan);
    }
    MarkArrival();
    for (size_t at = 0; at < taken;) {
      uint8_t* received = const_cast<uint8_t*>(records + at);
      const uint16_t length = ReadLe16(received);
      const uint16_t flags = ReadLe16(received + kLiveFlagsOffset);
      const uint8_t source = received[kLiveSourceTypeOffset];
      const uint32_t session = ReadLe32(received + kLiveSessionOffset);
      TraceRecord* staged = AddRecord(&m_staging, ignoreMask, received, 0, kModeBuild);
      if (staged != nullptr && (flags & kRecordLive) != 0) {
        staged->flags |= kRecordLive;
        staged->sourceType = source;
        staged->sessionId = session;
      }
      at += length;
    }
    m_import.Consume(taken);
  }
  return inStep ? 1 : 0;
}

void CTraceCapture::TearDownRemote(CSocketClient* client, uint32_t code, size_t* next) {
  Notify(code, AddressParam(ClientAddress(client)));
  RemoveClient(FindClient(client), next);
  if (m_remoteViewer) {
    LeaveRemoteViewer();
    *next = m_waitHandles.count;
  }
}
