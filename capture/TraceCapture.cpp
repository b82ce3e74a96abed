// The capture store itself: construction, the ring's growth and the freeing
// of its oldest records, Clear and destruction.
#include "capture/TraceCapture.h"

#include <new>

#include "core/AppConfig.h"
#include "core/RecordBuilder.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "capture/LocalFileList.h"
#include "core/TraceView.h"
#include "net/EventSocket.h"

const ChannelNameSet kChannelTable[kChannelKinds] = {
    {L"KELTRA_TRACE_MUTEX", L"KELTRA_TRACE_EVENT", L"KELTRA_TRACE_FILE"},
    {L"KELTRA_TRACE_MUTEX_EX", L"KELTRA_TRACE_EVENT_EX", L"KELTRA_TRACE_FILE_EX"},
    {L"KELTRA_OR_TRACE_MUTEX", L"KELTRA_OR_TRACE_EVENT", L"KELTRA_OR_TRACE_FILE"},
    {L"KELTRA_TRACE_MUTEX_EX_RESIDENT", L"KELTRA_TRACE_EVENT_EX_RESIDENT", L"KELTRA_TRACE_FILE_EX_RESIDENT"},
};

namespace {
constexpr uint32_t kMegabyteShift = 20;
constexpr size_t kStringChars = 64;
// After freeing, at least one record of the largest size must fit.
constexpr uint32_t kSecondPassBelow = kMaxNarrowRecord;
constexpr uint32_t kPageBytes = 4096;

HMODULE CurrentModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&CurrentModule), &module);
  return module;
}

CString LoadText(UINT id, const wchar_t* fallback) {
  wchar_t text[kStringChars];
  if (LoadStringW(CurrentModule(), id, text, int(kStringChars)) <= 0) {
    StrCopyNW(text, kStringChars, fallback);
  }
  return CString(text);
}

}  // namespace

CTraceCapture::CTraceCapture(HWND owner) : m_owner(owner) {
  m_admin = uint32_t(IsUserAdmin());
  m_sessionId = IsNt6OrLater() ? GetCurrentSessionId() : 0;
  m_ownPid = GetCurrentProcessId();
  m_remoteAddress.sin_family = AF_INET;
  m_remoteAddress.sin_addr.s_addr = INADDR_NONE;
  m_fileList = &g_localFileList;
  NameChannels(nullptr);
}

CTraceCapture::~CTraceCapture() {
  SetTracerProp(0);
  DeleteAllClients();
  m_clients.Free();
  m_clientStates.Free();
  delete m_listen;
  m_listen = nullptr;
  CloseMapFiles();
  // The views go with the CTraceMgr part; they only point into the ring,
  // which is released after them.
  for (size_t i = 0; i < m_views.count; ++i) {
    m_views[i]->Release();
  }
  m_views.Free();
  m_buffer = nullptr;
}

void CTraceCapture::NameChannels(const wchar_t* tag) {
  auto name = [tag](wchar_t* dest, const wchar_t* prefix, const wchar_t* base) {
    if (tag != nullptr && tag[0] != 0) {
      StrPrintfW(dest, kChannelNameChars, L"%s%s_%s", prefix, base, tag);
    } else {
      StrPrintfW(dest, kChannelNameChars, L"%s%s", prefix, base);
    }
  };
  for (int kind = 0; kind < kChannelKinds; ++kind) {
    const ChannelNameSet& names = kChannelTable[kind];
    wchar_t mutex[kChannelNameChars], event[kChannelNameChars], mapping[kChannelNameChars];
    for (int global = 0; global < 2; ++global) {
      const wchar_t* prefix = global ? kGlobalPrefix : L"";
      name(mutex, prefix, names.mutex);
      name(event, prefix, names.event);
      name(mapping, prefix, names.mapping);
      CTraceChannel& channel = global ? m_global[kind] : m_local[kind];
      channel.Init(global ? m_sessionId : 0, mutex, event, mapping);
    }
  }
}

void CTraceCapture::SetChannelTag(const wchar_t* tag) {
  NameChannels(tag);
  StrCopyNW(m_inputTag, kOlderTagChars, tag != nullptr ? tag : L"");
  m_qrcLocal.SetTag(tag);
  m_qrcGlobal.SetTag(tag);
  m_stone.SetTag(tag);
}

void CTraceCapture::SetRingLimits(uint64_t reserveBytes, uint32_t commitStep, uint32_t freeStep) {
  m_reservation = reserveBytes;
  if (commitStep != 0) {
    m_commitStep = commitStep;
  }
  m_freeStep = freeStep;
}

int CTraceCapture::Init(uint16_t port) {
  m_listenPort = port;
  if (port == 0) {
    if (!m_lock.Init()) {
      return 0;
    }
    const CString name = LoadText(IDS_CAPTURE_NAME, L"CAPTURE");
    if (!SetFileName(name.c_str(), name.c_str()) || !GrowBuffer(0)) {
      return 0;
    }
    const CString all = LoadText(IDS_ALL_VIEW, L"ALL");
    if (!AddView(all.c_str(), kAllGroups, 0)) {
      return 0;
    }
  }
  int staged;
  bool imported;
  {
    const CCriticalSectionGuard guard(m_captureLock);
    staged = m_staging.GrowBuffer(kStagingStartBytes);
    imported = m_import.Reserve(kImportStartBytes) != nullptr;
  }
  if (!staged || !imported) {
    return 0;
  }
  if (IsNt6OrLater()) {
    using FilterFn = BOOL(WINAPI*)(UINT, DWORD);
    auto filter = reinterpret_cast<FilterFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilter")));
    if (filter != nullptr) {
      filter(WM_COPYDATA, MSGFLT_ADD);
    }
  }
  using ShellFn = HWND(WINAPI*)();
  auto shell = reinterpret_cast<ShellFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetShellWindow")));
  m_shell = shell != nullptr ? shell() : nullptr;
  SetTracerProp(1);
  return 1;
}

int CTraceCapture::SetTracerProp(int set) {
  if (m_owner == nullptr) {
    return 0;
  }
  return ::SetTracerProp(m_owner, m_shell, set);
}

int CTraceCapture::Lock(int mode, int wait) { return m_lock.Lock(mode, wait); }

void CTraceCapture::Unlock(int mode) { m_lock.Unlock(); }

int CTraceCapture::GrowBuffer(uint32_t bytes) {
  if (m_ring.Base() == nullptr) {
    if (m_reservation == 0) {
      m_reservation = uint64_t(ClampMaxMem(g_appConfig.m_maxMem)) << kMegabyteShift;
    }
    if (!m_ring.Create(m_reservation, m_commitStep)) {
      return 0;
    }
    m_ring.PrepareAhead(kRingPrepareAheadBytes);
    m_buffer = reinterpret_cast<TraceBufferHeader*>(m_ring.Base());
    InitBufferHeader(m_buffer, m_ring.Committed());
    return m_buffer->freeBytes >= bytes;
  }
  TraceBufferHeader* h = m_buffer;
  while (h->freeBytes < bytes) {
    // Committing more only helps while the ring has not lapped.
    const bool lapped = h->recordCount != 0 && h->first >= h->write;
    if (!lapped && !m_ring.Full() && m_ring.CommitNext()) {
      const uint32_t added = m_ring.Committed() - h->capacity;
      h->capacity += added;
      h->end = h->capacity;
      h->freeBytes += added;
      continue;
    }
    uint32_t step = FreeStep();
    if (step < bytes) {
      step = bytes;
    }
    FreeRingSpace(step, 1);
    Notify(kNotifyNotice, kNoticeOldestDropped);
    break;
  }
  return h->freeBytes >= bytes;
}

uint32_t CTraceCapture::FreeStep() const {
  if (m_freeStep != 0) {
    return m_freeStep;
  }
  return m_buffer != nullptr && m_buffer->capacity <= kRingSmallCapacity ? kRingFreeSmall : kRingFreeLarge;
}

void CTraceCapture::TouchRingAhead(uint32_t bytes) {
  const CStoreLock lock(this, kLockShared, 0);
  if (m_buffer == nullptr || !lock.Held()) {
    return;
  }
  // Every writer of the ring takes the exclusive lock, so rewriting a byte
  // with its own value races with nobody.
  TraceBufferHeader* h = m_buffer;
  const bool lapped = h->recordCount != 0 && h->first >= h->write;
  const uint64_t span = uint64_t(bytes) + FreeStep();
  uint64_t at = h->write;
  if (m_touchedTo > at && m_touchedTo - at < span) {
    at = m_touchedTo;
  }
  const uint64_t stop = h->write + span;
  for (uint64_t reached = at; reached < stop; reached += kPageBytes) {
    uint64_t offset = reached;
    if (offset >= h->capacity) {
      // Past the committed end only a lapped ring goes on, at its front.
      offset = offset - h->capacity + h->headerSize;
      if (!lapped || offset >= h->write) {
        break;
      }
    }
    volatile uint8_t* byte = h->Bytes() + offset;
    *byte = *byte;
    m_touchedTo = reached + kPageBytes;
  }
}

void CALLBACK CTraceCapture::DropRecord(void* context, TraceRecord* record) {
  static_cast<CTraceCapture*>(context)->RemoveFromProcessStats(record);
}

void CTraceCapture::FreeRingSpace(uint32_t needed, int secondPass) {
  TraceBufferHeader* h = m_buffer;
  if (h == nullptr) {
    return;
  }
  const TraceRingRelease released = ReleaseOldestRecords(h, needed, &CTraceCapture::DropRecord, this);
  if (released.dropped != 0) {
    if (m_backupWritten > released.dropped) {
      m_backupWritten -= released.dropped;
    } else {
      m_backupWritten = 0;
      m_backupPosition = h->recordCount != 0 ? reinterpret_cast<TraceRecord*>(h->Bytes() + h->first) : nullptr;
    }
    // Also a view a filter job owns: no view may keep a pointer into the
    // released bytes. The job works under the shared lock, so it is not
    // inside its walk now.
    for (size_t i = 0; i < m_views.count; ++i) {
      m_views[i]->RemoveRange(released.low, released.high);
    }
    ResetSearch();
  }
  if (secondPass && h->recordCount != 0 && h->freeBytes < kSecondPassBelow) {
    FreeRingSpace(needed, 0);
  }
}

LONG CTraceCapture::Clear() {
  if (m_buffer != nullptr) {
    ResetBufferHeader(m_buffer);
  }
  {
    const CCriticalSectionGuard guard(m_captureLock);
    ResetStaging();
  }
  for (size_t i = m_processStats.count; i > 1; --i) {
    delete m_processStats[i - 1];
  }
  if (m_processStats.count > 1) {
    m_processStats.count = 1;
  }
  if (m_processStats.count == 1) {
    CTraceProcessStat* all = m_processStats[0];
    all->m_count = 0;
    all->m_groupMask = 0;
    for (size_t g = 0; g < all->m_groupCounts.count; ++g) {
      all->m_groupCounts[g] = 0;
    }
  }
  // Every view, a filter job's too: none may point into the emptied ring.
  for (size_t i = 0; i < m_views.count; ++i) {
    m_views[i]->ResetCounters();
  }
  ResetSearch();
  m_backupWritten = 0;
  m_backupPosition = nullptr;
  return ExchangeHasData(0);
}

void CTraceCapture::Notify(uint32_t code, LPARAM value) {
  if (m_post != nullptr) {
    PostStatus(m_owner, code, value, m_post, &Sleep);
  } else {
    PostStatus(m_owner, code, value);
  }
}

void CTraceCapture::Log(const char* text, int value) {
  // While this process reads the debugger channel, writing to it from the
  // capture thread would wait on our own buffer.
  if (m_dbwin.view.valid()) {
    return;
  }
  DebugTraceA("%s, %d", text, value);
}

uint64_t CTraceCapture::LostRecords() const {
  uint64_t lost = 0;
  for (int kind = 0; kind < kChannelKinds; ++kind) {
    lost += m_local[kind].LostRecords() + m_global[kind].LostRecords();
  }
  return lost;
}

uint32_t CTraceCapture::StagedCount() const {
  const CCriticalSectionGuard guard(m_captureLock);
  const TraceBufferHeader* h = m_staging.Buffer();
  return h != nullptr ? h->recordCount : 0;
}
