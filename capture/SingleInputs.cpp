// The inputs that hand over one message at a time: the shared one-record
// buffer, the debugger output buffer and WM_COPYDATA text.
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
  auto* buffer = static_cast<uint8_t*>(m_kelView);
  if (buffer == nullptr) {
    return 1;
  }
  const uint32_t mask = IgnoreMask();
  EnterCriticalSection(&m_captureLock);
  // The importer works on its own copy: the cut is made there, so nothing
  // but the protocol's clearing below is written into the writer's buffer.
  AddSharedRecord(&m_staging, buffer, kKelBufferSize, mask, kModeScan);
  MarkArrival();
  MarkLive(AddSharedRecord(&m_staging, buffer, kKelBufferSize, mask, kModeBuild), kSourceOneRecordBuffer);
  LeaveCriticalSection(&m_captureLock);
  std::memset(buffer + kSharedVersionOffset, 0, sizeof(uint32_t));
  std::memset(buffer + kSharedModuleOffset, 0, kClearedBytes);
  std::memset(buffer + kSharedTextOffset, 0, kClearedBytes);
  SetEvent(m_kelReady);
  return 1;
}

int CTraceCapture::OnDbwinData() {
  const auto* buffer = static_cast<const uint8_t*>(m_dbwinView);
  if (buffer == nullptr) {
    return 1;
  }
  if (buffer[kDbwinTextOffset] != 0) {
    const uint32_t mask = IgnoreMask();
    EnterCriticalSection(&m_captureLock);
    // Read within the page: text without a terminator ends at the buffer's end.
    AddDbwin(&m_staging, buffer, kDbwinBufferSize, mask, kModeScan);
    MarkArrival();
    MarkLive(AddDbwin(&m_staging, buffer, kDbwinBufferSize, mask, kModeBuild), kSourceDebugOutput);
    LeaveCriticalSection(&m_captureLock);
  }
  SetEvent(m_dbwinReady);  // in every case, or the next writer waits 10 s
  return 1;
}

void CTraceCapture::AddCopyDataText(const char* begin, const char* end) {
  const uint32_t mask = IgnoreMask();
  EnterCriticalSection(&m_captureLock);
  AddDbgText(&m_staging, begin, end, mask, kModeScan);
  MarkArrival();
  MarkLive(AddDbgText(&m_staging, begin, end, mask, kModeBuild), kSourceCopyData);
  LeaveCriticalSection(&m_captureLock);
}

int CTraceCapture::OnCopyData(const COPYDATASTRUCT* data) {
  if (data == nullptr || data->dwData == kCopyDataNotText || data->cbData == 0 || data->lpData == nullptr) {
    return 0;
  }
  const auto* text = static_cast<const char*>(data->lpData);
  const size_t bytes = data->cbData < kCopyDataMaxChars ? data->cbData : kCopyDataMaxChars;
  AddCopyDataText(text, text + bytes);
  return 1;
}
