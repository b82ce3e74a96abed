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
