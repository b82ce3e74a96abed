// The client list of the remote protocol and the wait handles of its
// sockets: one list serves the viewers of a server and the one connection
// of a remote viewer.
#include <new>

#include "capture/TraceCapture.h"
#include "net/EventSocket.h"

int CTraceCapture::AddClient(CSocketClient* client, ClientPhase phase) {
  auto* state = new (std::nothrow) ClientState{phase, m_tick(), CHandle(), 0, client->PeerAddress()};
  if (state == nullptr || !m_clientStates.Reserve(m_clientStates.count + 1) || !m_clients.Append(client)) {
    delete state;
    return 0;
  }
  m_clientStates.Append(state);  // room reserved above
  return 1;
}

size_t CTraceCapture::FindClient(const CSocketClient* client) const {
  for (size_t i = 0; i < m_clients.count; ++i) {
    if (m_clients[i] == client) {
      return i;
    }
  }
  return SIZE_MAX;
}

void CTraceCapture::RemoveWait(HANDLE handle, size_t* next) {
  for (size_t i = 0; i < m_waitHandles.count; ++i) {
    if (m_waitHandles[i] == handle) {
      m_waitHandles.RemoveAt(i);
      if (next != nullptr && i < *next) {
        --*next;
      }
      return;
    }
  }
}

void CTraceCapture::RemoveClient(size_t i, size_t* next) {
  if (i >= m_clients.count) {
    return;
  }
  CSocketClient* client = m_clients[i];
  ClientState* state = m_clientStates[i];
  RemoveWait(client->Event(), next);
  m_clients.RemoveAt(i);
  m_clientStates.RemoveAt(i);
  delete state;  // closes a file reply's file
  delete client;
}

void CTraceCapture::DeleteAllClients() {
  while (m_clients.count != 0) {
    RemoveClient(m_clients.count - 1, nullptr);
  }
}
