#include "tools/trace-writer/WriterChannel.h"

#include "tools/trace-writer/WriterBytes.h"
#include "tools/trace-writer/WriterOptions.h"
#include "tools/trace-writer/WriterRing.h"

namespace {

struct KindNames {
  const wchar_t* mutex;
  const wchar_t* event;
  const wchar_t* mapping;
};

constexpr KindNames kKindNames[] = {
    {L"KELTRA_TRACE_MUTEX", L"KELTRA_TRACE_EVENT", L"KELTRA_TRACE_FILE"},
    {L"KELTRA_TRACE_MUTEX_EX", L"KELTRA_TRACE_EVENT_EX", L"KELTRA_TRACE_FILE_EX"},
    {L"KELTRA_OR_TRACE_MUTEX", L"KELTRA_OR_TRACE_EVENT", L"KELTRA_OR_TRACE_FILE"},
    {L"KELTRA_TRACE_MUTEX_EX_RESIDENT", L"KELTRA_TRACE_EVENT_EX_RESIDENT", L"KELTRA_TRACE_FILE_EX_RESIDENT"},
};
constexpr const wchar_t* kGlobalPrefix = L"Global\\";
constexpr DWORD kEventLookInterval = 100;

// A NULL DACL, so the tool and writers of other integrity levels can open
// what this writer creates.
class CNullDacl {
 public:
  CNullDacl() {
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.bInheritHandle = FALSE;
    if (InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&m_descriptor, TRUE, nullptr, FALSE)) {
      m_attributes.lpSecurityDescriptor = &m_descriptor;
    }
  }
  SECURITY_ATTRIBUTES* get() { return &m_attributes; }

 private:
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{};
};

uint32_t NewGeneration() {
  const uint32_t generation = GetTickCount() ^ (GetCurrentProcessId() << 16);
  return generation != 0 ? generation : 1;
}

}  // namespace

ChannelNames MakeChannelNames(uint32_t kind, bool global, const std::wstring& tag) {
  const KindNames& kindNames = kKindNames[kind < kWriterKinds ? kind : 0];
  const std::wstring prefix = global ? kGlobalPrefix : L"";
  const std::wstring suffix = tag.empty() ? L"" : L"_" + tag;
  return {prefix + kindNames.mutex + suffix, prefix + kindNames.event + suffix, prefix + kindNames.mapping + suffix};
}

uint32_t CWriterChannel::Capacity() const { return m_view.valid() ? Ring()->capacity : 0; }

int CWriterChannel::Open(uint32_t ringBytes, std::wstring* error) {
  CNullDacl security;
  m_ringBytes = ringBytes;
  m_mutex = CHandle(CreateMutexW(security.get(), FALSE, m_names.mutex.c_str()));
  if (!m_mutex.valid()) {
    *error = L"CreateMutexW " + m_names.mutex + L" failed, error " + std::to_wstring(GetLastError());
    return 0;
  }
  m_mapping = CHandle(
      CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0, ringBytes, m_names.mapping.c_str()));
  if (!m_mapping.valid()) {
    *error = L"CreateFileMappingW " + m_names.mapping + L" failed, error " + std::to_wstring(GetLastError());
    return 0;
  }
  m_view.reset(MapViewOfFile(m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  MEMORY_BASIC_INFORMATION info{};
  if (!m_view.valid() || VirtualQuery(m_view.get(), &info, sizeof(info)) == 0) {
    *error = L"MapViewOfFile " + m_names.mapping + L" failed, error " + std::to_wstring(GetLastError());
    return 0;
  }
  m_mappedBytes = info.RegionSize;
  if (Lock() == nullptr) {
    *error = L"WaitForSingleObject " + m_names.mutex + L" failed, error " + std::to_wstring(GetLastError());
    return 0;
  }
  Unlock();
  return 1;
}

TraceBufferHeader* CWriterChannel::Lock() {
  const DWORD waited = WaitForSingleObject(m_mutex.get(), INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    return nullptr;
  }
  if (!IsSoundWriterRing(Ring(), m_mappedBytes)) {
    // A mapping this writer created, or one another writer damaged.
    const size_t capacity = m_ringBytes < m_mappedBytes ? m_ringBytes : m_mappedBytes;
    InitWriterRing(Ring(), uint32_t(capacity), NewGeneration());
  }
  return Ring();
}

void CWriterChannel::Unlock() { ReleaseMutex(m_mutex.get()); }

void CWriterChannel::TouchRing() {
  constexpr size_t kPageBytes = 4096;
  if (Lock() == nullptr) {
    return;
  }
  auto* bytes = reinterpret_cast<volatile uint8_t*>(m_view.bytes());
  for (size_t at = 0; at < m_mappedBytes; at += kPageBytes) {
    bytes[at] = bytes[at];
  }
  Unlock();
}

bool CWriterChannel::OpenToolEvent() {
  if (m_event.valid()) {
    return true;
  }
  m_event = CHandle(OpenEventW(EVENT_MODIFY_STATE, FALSE, m_names.event.c_str()));
  return m_event.valid();
}

bool CWriterChannel::Signal() {
  std::lock_guard<std::mutex> guard(m_eventLock);
  if (!m_event.valid()) {
    const DWORD now = GetTickCount();
    if (m_eventLooked && now - m_lastEventLook < kEventLookInterval) {
      return false;
    }
    m_eventLooked = true;
    m_lastEventLook = now;
    if (!OpenToolEvent()) {
      return false;
    }
  }
  return SetEvent(m_event.get()) != FALSE;
}

bool CWriterChannel::WaitForEvent(uint32_t ms) {
  std::lock_guard<std::mutex> guard(m_eventLock);
  return PollForObject([&]() -> HANDLE { return OpenToolEvent() ? m_event.get() : nullptr; }, ms) != nullptr;
}
