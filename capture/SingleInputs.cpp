// The inputs that hand over one message at a time on the capture thread:
// the shared one-record buffer and the debugger output buffer.
#include <cstring>

#include "capture/TraceCapture.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"

namespace {
// Where the next writer's fields start, cleared after every message.
constexpr size_t kClearedBytes = 2;
}  // namespace

void CTraceCapture::MarkLive(TraceRecord* record, uint8_t source) {
  if (record != nullptr) {
    record->sourceType = source;
    record->flags |= kRecordLive;
  }
}

int CTraceCapture::OnKelBufferData() {
  uint8_t* buffer = m_kel.view.bytes();
  if (buffer == nullptr) {
    return 1;
  }
  const uint32_t mask = IgnoreMask();
  {
    const CCriticalSectionGuard guard(m_captureLock);
    // The importer works on its own copy: the cut is made there, so nothing
    // but the protocol's clearing below is written into the writer's buffer.
    AddSharedRecord(&m_staging, buffer, kKelBufferSize, mask, kModeScan);
    MarkArrival();
    MarkLive(AddSharedRecord(&m_staging, buffer, kKelBufferSize, mask, kModeBuild), kSourceOneRecordBuffer);
  }
  std::memset(buffer + kSharedVersionOffset, 0, sizeof(uint32_t));
  std::memset(buffer + kSharedModuleOffset, 0, kClearedBytes);
  std::memset(buffer + kSharedTextOffset, 0, kClearedBytes);
  SetEvent(m_kel.ready.get());
  return 1;
}

int CTraceCapture::OnDbwinData() {
  const uint8_t* buffer = m_dbwin.view.bytes();
  if (buffer == nullptr) {
    return 1;
  }
  if (buffer[kDbwinTextOffset] != 0) {
    const uint32_t mask = IgnoreMask();
    const CCriticalSectionGuard guard(m_captureLock);
    // Read within the page: text without a terminator ends at the buffer's end.
    AddDbwin(&m_staging, buffer, kDbwinBufferSize, mask, kModeScan);
    MarkArrival();
    MarkLive(AddDbwin(&m_staging, buffer, kDbwinBufferSize, mask, kModeBuild), kSourceDebugOutput);
  }
  SetEvent(m_dbwin.ready.get());  // in every case, or the next writer waits 10 s
  return 1;
}
