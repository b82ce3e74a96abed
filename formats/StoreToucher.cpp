#include "formats/StoreToucher.h"

#include <windows.h>

#include "core/TraceStore.h"

namespace {
// Below this many free bytes, helper threads would cost more than they save.
constexpr uint32_t kTouchFrom = 16u << 20;
constexpr int kMostHelpers = 4;
// How far the helpers may run ahead of the records: what they touch past
// the last record is wasted.
constexpr size_t kLead = 32u << 20;
// The forecast is made after this share of the input, at most kMostSample
// bytes; an input whose share is below kLeastSample grows as it goes.
constexpr uint64_t kSampleShare = 16;
constexpr uint64_t kMostSample = 1u << 20;
constexpr uint64_t kLeastSample = 64u << 10;
constexpr uint64_t kSpareShare = 8;  // an eighth more than the sample says
}  // namespace

void CStoreToucher::Start(CTraceMgr* store) {
  m_resume = false;
  TraceBufferHeader* header = store->Buffer();
  if (header == nullptr || header->freeBytes < kTouchFrom) {
    return;
  }
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const int spare = int(system.dwNumberOfProcessors) - 1;
  uint8_t* free = header->Bytes() + header->write;
  m_toucher.Start(free, free + header->freeBytes, kLead, spare < kMostHelpers ? spare : kMostHelpers);
}

void CStoreToucher::Claim(CTraceMgr* store) {
  TraceBufferHeader* header = store->Buffer();
  // Any record fits in kMemoRecordSize.
  if (header->freeBytes < kMemoRecordSize) {
    m_toucher.Stop();
    m_resume = true;
  } else {
    m_toucher.Reach(header->Bytes() + header->write + kMemoRecordSize);
  }
}

void CStoreToucher::Resume(CTraceMgr* store) {
  // The store grows only when a record does not fit, so until then the room
  // stays below what Start asks for.
  const TraceBufferHeader* header = store->Buffer();
  if (header != nullptr && header->freeBytes >= kTouchFrom) {
    Start(store);
    // The record about to be written lies in the first region, which a new
    // helper would otherwise take as its own and zero.
    if (m_toucher.Active()) {
      Claim(store);
    }
  }
}

void CStoreToucher::StartWithForecast(CTraceMgr* store, uint64_t inputBytes) {
  m_toucher.Stop();
  m_resume = false;
  const TraceBufferHeader* header = store->Buffer();
  const uint64_t sample = inputBytes / kSampleShare < kMostSample ? inputBytes / kSampleShare : kMostSample;
  m_inputBytes = inputBytes;
  m_forecastAt = header != nullptr && sample >= kLeastSample ? sample : kNoForecast;
  m_forecastFrom = header != nullptr ? header->write : 0;
  // With a forecast to come, the helpers wait for the buffer it may make:
  // what they touched in this one would be thrown away with it.
  if (m_forecastAt == kNoForecast) {
    Start(store);
  }
}

void CStoreToucher::Forecast(CTraceMgr* store, uint64_t inputDone) {
  m_forecastAt = kNoForecast;
  const TraceBufferHeader* header = store->Buffer();
  if (header != nullptr && inputDone < m_inputBytes && header->write > m_forecastFrom &&
      header->capacity < kMaxStoreReservation) {
    // Both below 4 GiB: the product fits.
    const uint64_t rest = uint64_t(header->write - m_forecastFrom) * (m_inputBytes - inputDone) / inputDone;
    const uint64_t wanted = rest + rest / kSpareShare + kMemoRecordSize;
    const uint64_t room = kMaxStoreReservation - header->capacity;
    if (wanted > header->freeBytes) {
      // The buffer moves: no helper may be touching it then.
      m_toucher.Stop();
      // A store that cannot grow this much stays as it was and grows as it goes.
      store->GrowBuffer(uint32_t(wanted - header->freeBytes < room ? wanted - header->freeBytes : room));
    }
  }
  // The next record is claimed before it is written (BeforeRecord).
  Start(store);
}
