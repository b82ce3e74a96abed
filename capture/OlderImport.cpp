// Each tick's read of the older shared-memory sources into the staging
// buffer.
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/RecordImport.h"
#include "formats/EventDesc.h"

void CTraceCapture::ImportOlderSources() {
  if (g_appConfig.m_qrcEnable || g_appConfig.m_qrcLogEnable) {
    ImportQrc(&m_qrcLocal);
    if (m_sessionId != 0) {
      ImportQrc(&m_qrcGlobal);
    }
  }
  if (g_appConfig.m_qrvEnable) {
    ImportQrv(&m_stone);
  }
}

int CTraceCapture::ImportQrc(CTraceManagerView* view) {
  const int state = view->Refresh(kOlderLockMs);
  if (state < 0) {
    Notify(kNotifyNotice, IDS_START_QRC_FAILED);
    return state;
  }
  if (state == 0) {
    return state;
  }
  const bool wantLog = g_appConfig.m_qrcLogEnable != 0;
  const bool wantTrace = g_appConfig.m_qrcEnable != 0;
  const uint32_t mask = IgnoreMask();
  for (size_t i = 0; i < view->FileCount(); ++i) {
    alignas(8) uint8_t header[kProcRegionHeaderBytes];
    ProcRingBlocks blocks;
    if (!view->File(i)->Read(kOlderLockMs, header, &blocks, wantLog, wantTrace)) {
      continue;
    }
    // Decoded after the region's mutex was released.
    const CCriticalSectionGuard guard(m_captureLock);
    for (uint32_t area = 0; area < kProcAreas; ++area) {
      for (uint32_t ring = 0; ring < kProcRingsMax; ++ring) {
        const CByteBuffer& block = blocks.block[area][ring];
        if (block.Size() == 0) {
          continue;
        }
        const TiXmlElement* module = FindEventModule(&g_eventDescriptions, ring);
        const uint32_t id = area * kDescribedAreaUnit + ring;
        const uint8_t* bytes = block.Data();
        const uint32_t size = uint32_t(block.Size());
        auto walk = [&](int mode) {
          uint32_t length;
          for (uint32_t offset = 0; (length = DescribedEventLength(bytes, size, offset)) != 0; offset += length) {
            TraceRecord* record = AddDescribedEvent(&m_staging, mask, header, bytes + offset, length, module, id, mode);
            if (mode == kModeBuild) {
              MarkLive(record, kSourceDescribedEvent);
            }
          }
        };
        walk(kModeScan);
        MarkArrival();
        walk(kModeBuild);
      }
    }
  }
  return state;
}

int CTraceCapture::ImportQrv(CTraceStone* stone) {
  const int state = stone->Open();
  if (state < 0) {
    Notify(kNotifyNotice, IDS_START_QRV_FAILED);
    return state;
  }
  if (state == 0) {
    return state;
  }
  const uint8_t* end = nullptr;
  const uint8_t* first = stone->ReadNew(kOlderLockMs, &end);
  if (first == nullptr) {
    return state;
  }
  const uint32_t mask = IgnoreMask();
  const uint8_t* last = nullptr;
  uint32_t atLastTime = 0;
  {
    const CCriticalSectionGuard guard(m_captureLock);
    auto walk = [&](int mode) {
      size_t length;
      for (const uint8_t* record = first; (length = CTraceStone::RecordLength(record, end)) != 0; record += length) {
        TraceRecord* staged = AddQrvRecord(&m_staging, mask, record, length, mode);
        if (mode != kModeBuild) {
          continue;
        }
        MarkLive(staged, kSourceQrvRecord);
        // Taken even when the builder refused it: it is not new any more.
        if (last != nullptr && CompareSystemTime(StoneRecordTime(record), StoneRecordTime(last)) == 0) {
          ++atLastTime;
        } else {
          atLastTime = 1;
        }
        last = record;
      }
    };
    walk(kModeScan);
    MarkArrival();
    walk(kModeBuild);
  }
  stone->Release(last, atLastTime);
  return state;
}
