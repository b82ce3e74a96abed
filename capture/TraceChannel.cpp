#include "capture/TraceChannel.h"

#include <cstring>
#include <utility>

#include "core/RecordImport.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"

namespace {
constexpr size_t kRecordSequenceOffset = 20;

uint16_t ReadU16(const uint8_t* at) {
  uint16_t value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

uint32_t ReadU32(const uint8_t* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

}  // namespace

bool IsNt6OrLater() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&version)) {
    return false;
  }
#pragma GCC diagnostic pop
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6;
}

void CTraceChannel::Init(DWORD sessionId, const wchar_t* mutexName, const wchar_t* eventName,
                         const wchar_t* mappingName) {
  m_sessionId = sessionId;
  StrCopyNW(m_mutexName, kChannelNameChars, mutexName);
  StrCopyNW(m_eventName, kChannelNameChars, eventName);
  StrCopyNW(m_mappingName, kChannelNameChars, mappingName);
}

int CTraceChannel::OpenEvent(SECURITY_ATTRIBUTES* attributes) {
  if (!m_event.valid()) {
    m_event.reset(CreateEventW(attributes, FALSE, FALSE, m_eventName));
    if (!m_event.valid()) {
      return 0;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS && IsNt6OrLater()) {
      SetLowIntegrityLabel(m_eventName);
    }
  }
  if (!m_rest.valid()) {
    m_rest.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  if (!m_mutex.valid()) {
    m_mutex.reset(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, m_mutexName));
  }
  if (m_mutex.valid()) {
    SetEvent(m_event.get());  // a writer runs already: read its ring at once
  }
  return 1;
}

void CTraceChannel::CloseRing() {
  m_view.reset();
  m_viewSize = 0;
  m_resumeOffset = 0;
  m_mapping.reset();
  m_mutex.reset();
}

void CTraceChannel::Close() {
  CloseRing();
  m_event.reset();
  m_rest.reset();
  m_resting = 0;
  m_pending = 0;
}

int CTraceChannel::OpenRing() {
  if (!m_mutex.valid()) {
    m_mutex.reset(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, m_mutexName));
  }
  if (!m_mapping.valid()) {
    m_mapping.reset(OpenFileMappingW(FILE_MAP_READ, FALSE, m_mappingName));
  }
  if (!m_mutex.valid() || !m_mapping.valid()) {
    return 0;
  }
  CMappedView view(MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view.valid()) {
    return 0;
  }
  // The header's sizes are the writer's word; the mapped size is the fact.
  MEMORY_BASIC_INFORMATION info = {};
  if (VirtualQuery(view.get(), &info, sizeof(info)) == 0 || info.RegionSize < sizeof(TraceBufferHeader)) {
    return 0;
  }
  m_view = std::move(view);
  m_viewSize = info.RegionSize;
  return 1;
}

int CTraceChannel::Lock(DWORD waitMs, DWORD intervalMs) {
  const bool firstUse = !m_view.valid();
  if (!firstUse && GetTickCount() - m_lastReleaseTick < intervalMs) {
    return kChannelNotNow;
  }
  if (firstUse && !OpenRing()) {
    return kChannelFailed;
  }
  const DWORD waited = WaitForSingleObject(m_mutex.get(), firstUse ? kChannelFirstWaitMs : waitMs);
  if (waited == WAIT_TIMEOUT) {
    return kChannelNotNow;  // busy is no failure: the timer tries again
  }
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    return kChannelFailed;
  }
  // Also after an abandoned mutex: the writer may have died mid-append, so
  // nothing is read before the header has been checked again.
  std::memcpy(&m_header, View(), sizeof(m_header));
  if (!HeaderIsSound()) {
    ReleaseMutex(m_mutex.get());
    return kChannelFailed;
  }
  if (m_header.generation != m_generation) {
    m_generation = m_header.generation;
    m_lastSequence = 0;
    m_hasRead = false;
    m_resumeOffset = 0;
  } else if (SequenceAfter(m_lastSequence, m_header.lastSequence)) {
    // The numbers went back without a new generation: a restarted writer.
    m_lastSequence = 0;
    m_hasRead = false;
    m_resumeOffset = 0;
  }
  return kChannelLocked;
}

bool CTraceChannel::HeaderIsSound() const {
  const TraceBufferHeader& h = m_header;
  if (std::memcmp(h.magic, kTraceMagic, sizeof(kTraceMagic)) != 0 || h.version != kTraceVersion) {
    return false;
  }
  const uint32_t wrapStart = h.headerSize;
  if (wrapStart < sizeof(TraceBufferHeader) || (wrapStart & 3) != 0 || h.capacity > m_viewSize ||
      h.capacity <= wrapStart) {
    return false;
  }
  if (h.end < wrapStart || h.end > h.capacity || h.write < wrapStart || h.write > h.capacity) {
    return false;
  }
  if (h.recordCount == 0) {
    return true;
  }
  if (h.first < wrapStart || h.first >= h.end) {
    return false;
  }
  // Every record has at least a narrow head and a terminator.
  return h.recordCount <= (h.capacity - wrapStart) / kMinNarrowRecord;
}

uint32_t CTraceChannel::RecordLimit(uint32_t offset) const {
  const bool lapped = m_header.first >= m_header.write;
  return (lapped && offset >= m_header.first) ? m_header.end : m_header.write;
}

uint32_t CTraceChannel::ReadNewRecords(CByteBuffer& output, size_t maxBytes) {
  const TraceBufferHeader& h = m_header;
  m_more = false;
  size_t copiedBytes = 0;
  if (h.lastSequence == m_lastSequence || h.recordCount == 0) {
    return 0;
  }
  // A full ring holds far more records already copied than new ones:
  // walking past them on every lock would cost more than the copy itself.
  uint32_t offset = ReadStart();
  uint32_t appended = 0;
  for (uint32_t i = 0; i < h.recordCount; ++i) {
    if (offset >= h.end) {
      offset = h.headerSize;
    }
    const uint32_t limit = RecordLimit(offset);
    if (offset + uint64_t(kMinNarrowRecord) > limit) {
      ++m_damagedRecords;
      break;
    }
    const uint8_t* record = View() + offset;
    const uint32_t length = ReadU16(record);
    // A zero or short length would never move on; a long one leaves the ring.
    if (length < kMinNarrowRecord || length > kMaxNarrowRecord || offset + uint64_t(length) > limit) {
      ++m_damagedRecords;
      break;
    }
    const uint32_t sequence = ReadU32(record + kRecordSequenceOffset);
    // Newer than what was copied and not beyond what the writer numbered.
    if (SequenceAfter(sequence, m_lastSequence) && !SequenceAfter(sequence, h.lastSequence)) {
      if (copiedBytes + length > maxBytes) {
        m_more = true;
        break;
      }
      copiedBytes += length;
      if (output.Append(record, length) != length) {
        break;  // no memory: the rest is copied next time
      }
      const uint32_t expected = m_lastSequence + 1;
      if (m_hasRead && SequenceAfter(sequence, expected)) {
        m_lostRecords += sequence - expected;
      }
      m_lastSequence = sequence;
      m_hasRead = true;
      m_resumeOffset = offset + length;
      ++appended;
      if (sequence == h.lastSequence) {
        break;  // the newest one: nothing after it is new
      }
    }
    offset += length;
  }
  return appended;
}

uint32_t CTraceChannel::ReadStart() const {
  const TraceBufferHeader& h = m_header;
  if (!m_hasRead || m_resumeOffset == 0) {
    return h.first;
  }
  uint32_t offset = m_resumeOffset;
  if (offset >= h.end) {
    offset = h.headerSize;
  }
  // Only a place between the oldest record and the write offset still
  // holds what was written there when the last record was copied.
  const bool lapped = h.first >= h.write;
  const bool live = lapped ? (offset >= h.first || offset < h.write) : (offset >= h.first && offset < h.write);
  if (!live || offset < h.headerSize || offset + uint64_t(kMinNarrowRecord) > RecordLimit(offset)) {
    return h.first;
  }
  return ReadU32(View() + offset + kRecordSequenceOffset) == m_lastSequence + 1 ? offset : h.first;
}

void CTraceChannel::Release() {
  ReleaseMutex(m_mutex.get());
  m_pending = 0;
  m_lastReleaseTick = GetTickCount();
}
