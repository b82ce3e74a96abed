// Text received by the owner window with WM_COPYDATA.
#include "capture/TraceCapture.h"
#include "core/RecordBuilder.h"

void CTraceCapture::AddCopyDataText(const char* text, const char* end) {
  if (text == nullptr || end < text) {
    return;
  }
  const CCriticalSectionGuard guard(m_captureLock);
  const uint32_t ignoreMask = IgnoreMask();
  AddDbgText(&m_staging, text, end, ignoreMask, kModeScan);
  MarkArrival();
  TraceRecord* staged = AddDbgText(&m_staging, text, end, ignoreMask, kModeBuild);
  if (staged != nullptr) {
    staged->flags |= kRecordLive;
    staged->sourceType = kSourceCopyData;
  }
}
