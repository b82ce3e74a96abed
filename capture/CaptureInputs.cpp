// Opening and closing the capture's inputs and the wait array over them.
#include <new>

#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "net/EventSocket.h"

namespace {
constexpr int kListenBacklog = 5;
constexpr size_t kObjectNameChars = 64;

// A NULL DACL lets traced programs of every user and integrity open what
// this program creates.
struct OpenSecurity {
  SECURITY_DESCRIPTOR descriptor = {};
  SECURITY_ATTRIBUTES attributes = {};

  bool Build() {
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
      return false;
    }
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    return true;
  }
};

bool IsNtPlatform() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL known = GetVersionExW(&version);
#pragma GCC diagnostic pop
  return !known || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

struct BufferGroupNames {
  const wchar_t* ready;
  const wchar_t* data;
  const wchar_t* mapping;
};

// The object just created, or none when it existed already (another
// reader owns that buffer).
CHandle Created(HANDLE handle) {
  CHandle owner(handle);
  if (owner.valid() && GetLastError() == ERROR_ALREADY_EXISTS) {
    owner.reset();
  }
  return owner;
}

// Creates ready event, data event and mapping in this order, none of which
// may exist yet, labels them and maps the view. 1 when mapped; otherwise
// everything made is closed again.
int OpenBufferGroup(const BufferGroupNames& names, DWORD size, DWORD viewAccess, SECURITY_ATTRIBUTES* attributes,
                    CaptureHandOver* group) {
  group->ready = Created(CreateEventW(attributes, FALSE, FALSE, names.ready));
  if (group->ready.valid()) {
    group->data = Created(CreateEventW(attributes, FALSE, FALSE, names.data));
  }
  if (group->data.valid()) {
    group->mapping =
        Created(CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0, size, names.mapping));
  }
  if (group->mapping.valid()) {
    if (IsNt6OrLater()) {
      SetLowIntegrityLabel(names.ready);
      SetLowIntegrityLabel(names.data);
      SetLowIntegrityLabel(names.mapping);
    }
    group->view.reset(MapViewOfFile(group->mapping.get(), viewAccess, 0, 0, size));
  }
  if (!group->view.valid()) {
    group->Close();
    return 0;
  }
  SetEvent(group->ready.get());  // the buffer is free for a writer
  return 1;
}
}  // namespace

int CTraceCapture::OpenKelBuffer(int global, SECURITY_ATTRIBUTES* attributes) {
  wchar_t ready[kObjectNameChars], data[kObjectNameChars], mapping[kObjectNameChars];
  const wchar_t* prefix = global ? kGlobalPrefix : L"";
  const wchar_t* dash = m_inputTag[0] != 0 ? L"_" : L"";
  StrPrintfW(ready, kObjectNameChars, L"%sKEL_BUFFER_READY%s%s", prefix, dash, m_inputTag);
  StrPrintfW(data, kObjectNameChars, L"%sKEL_DATA_READY%s%s", prefix, dash, m_inputTag);
  StrPrintfW(mapping, kObjectNameChars, L"%sKEL_BUFFER%s%s", prefix, dash, m_inputTag);
  return OpenBufferGroup({ready, data, mapping}, kKelBufferSize, FILE_MAP_READ | FILE_MAP_WRITE, attributes, &m_kel);
}

int CTraceCapture::OpenDbwin(SECURITY_ATTRIBUTES* attributes) {
  wchar_t ready[kObjectNameChars], data[kObjectNameChars], mapping[kObjectNameChars];
  const wchar_t* dash = m_inputTag[0] != 0 ? L"_" : L"";
  StrPrintfW(ready, kObjectNameChars, L"DBWIN_BUFFER_READY%s%s", dash, m_inputTag);
  StrPrintfW(data, kObjectNameChars, L"DBWIN_DATA_READY%s%s", dash, m_inputTag);
  StrPrintfW(mapping, kObjectNameChars, L"DBWIN_BUFFER%s%s", dash, m_inputTag);
  return OpenBufferGroup({ready, data, mapping}, kDbwinBufferSize, FILE_MAP_READ, attributes, &m_dbwin);
}

int CTraceCapture::AppendWait(HANDLE handle) {
  return handle != nullptr ? m_waitHandles.Append(handle) : 1;
}

int CTraceCapture::BuildWaitArray() {
  m_waitHandles.count = 0;
  if (!m_remoteViewer) {
    for (int kind = 0; kind < kChannelKinds; ++kind) {
      if (!AppendWait(m_local[kind].Event()) || !AppendWait(m_global[kind].Event())) {
        return 0;
      }
    }
    if (m_kel.view.valid() && !AppendWait(m_kel.data.get())) {
      return 0;
    }
    if (m_dbwin.view.valid() && !AppendWait(m_dbwin.data.get())) {
      return 0;
    }
    if (m_listen != nullptr && !AppendWait(m_listen->Event())) {
      return 0;
    }
  }
  for (size_t i = 0; i < m_clients.count; ++i) {
    if (!AppendWait(m_clients[i]->Event())) {
      return 0;
    }
  }
  // The timer last: inputs signalled together with it are served first.
  return AppendWait(m_timer.get());
}

int CTraceCapture::OpenMapFiles(int reconnect) {
  m_waitHandles.count = 0;
  m_timer.reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
  LARGE_INTEGER due = {};
  if (!m_timer.valid() || !SetWaitableTimer(m_timer.get(), &due, kCaptureTickMs, nullptr, nullptr, FALSE)) {
    Notify(kNotifyNotice, IDS_START_CAPTURE_FAILED);
    Log("CTraceCapture::OpenMapFiles, 333-2", 0);
    return 0;
  }
  if (m_remoteViewer && reconnect) {
    ReconnectRemote();
  }
  if (!m_remoteViewer) {
    OpenSecurity security;
    SECURITY_ATTRIBUTES* attributes = nullptr;
    if (IsNtPlatform()) {
      if (!security.Build()) {
        Notify(kNotifyNotice, IDS_START_CAPTURE_FAILED);
        Log("CTraceCapture::OpenMapFiles, 333-3", 0);
        return 0;
      }
      attributes = &security.attributes;
    }
    for (int kind = 0; kind < kChannelKinds; ++kind) {
      if (!m_local[kind].OpenEvent(attributes) || (m_sessionId > 0 && !m_global[kind].OpenEvent(attributes))) {
        Notify(kNotifyNotice, IDS_START_CAPTURE_FAILED);
        Log("CTraceCapture::OpenMapFiles, 333-4", kind);
        return 0;
      }
    }
    if (g_appConfig.m_hvnEnable && !OpenKelBuffer(int(m_admin), attributes)) {
      Notify(kNotifyNotice, IDS_START_HVN_FAILED);
    }
    if (g_appConfig.m_dbWinEnable) {
      OpenDbwin(attributes);
    }
    if (m_listenPort != 0 && m_listen == nullptr) {
      m_listen = CSocketService::Listen(m_listenPort, kListenBacklog);
      if (m_listen == nullptr) {
        Notify(kNotifyNotice, IDS_LISTEN_CREATE_FAILED);
        return 0;
      }
    }
  }
  return BuildWaitArray();
}

void CTraceCapture::CloseMapFiles() {
  if (m_timer.valid()) {
    CancelWaitableTimer(m_timer.get());
    m_timer.reset();
  }
  m_qrcLocal.Close();
  m_qrcGlobal.Close();
  m_stone.Close();
  CloseBackupFile();
  m_kel.Close();
  m_dbwin.Close();
  for (int kind = 0; kind < kChannelKinds; ++kind) {
    m_local[kind].Close();
    m_global[kind].Close();
  }
  m_waitHandles.count = 0;
}
