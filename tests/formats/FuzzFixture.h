// What every reader's fuzz test shares: a seeded generator that gives the
// same inputs on every run, and the check that a stored record is sound.
#pragma once

#include <cstdint>
#include <cwchar>
#include <vector>

#include "core/TraceRecord.h"
#include "core/TraceStore.h"

// xorshift32.
class CFuzzRandom {
 public:
  explicit CFuzzRandom(uint32_t seed) : m_state(seed) {}
  uint32_t Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
  }
  uint32_t Below(uint32_t n) { return n != 0 ? Next() % n : 0; }

 private:
  uint32_t m_state;
};

// Byte values on the edges of what the readers' fields hold.
constexpr uint8_t kFuzzEdgeBytes[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x0C, 0x0B, 0x64};
constexpr uint32_t kFuzzByteMutations = 4;

// One mutation that knows nothing of the layout, chosen by `kind` below
// kFuzzByteMutations: a bit flip, an edge byte, a cut, an insertion.
inline void MutateBytes(std::vector<uint8_t>& bytes, CFuzzRandom& random, uint32_t kind) {
  const uint32_t size = uint32_t(bytes.size());
  const uint8_t edge = kFuzzEdgeBytes[random.Below(sizeof(kFuzzEdgeBytes))];
  if (kind == 0 && size != 0) {
    bytes[random.Below(size)] ^= uint8_t(1u << random.Below(8));
  } else if (kind == 1 && size != 0) {
    bytes[random.Below(size)] = edge;
  } else if (kind == 2) {
    bytes.resize(random.Below(size + 1));
  } else if (kind == 3) {
    bytes.insert(bytes.begin() + random.Below(size + 1), 1 + random.Below(16), edge);
  }
}

// A stored string lies inside its record and ends in a NUL there.
inline bool StringInside(const TraceRecord* record, uint16_t offset) {
  if (offset < kRecordFixedSize || offset >= record->length || (offset & 1) != 0) {
    return false;
  }
  const size_t room = (record->length - offset) / sizeof(wchar_t);
  return wcsnlen(record->StringAt(offset), room) < room;
}

// Walks the store's ring: every record keeps its strings inside itself.
// Returns the number of records, or -1 at the first unsound one.
inline int CountSoundRecords(const CTraceBase& store) {
  const TraceBufferHeader* buffer = store.Buffer();
  if (buffer == nullptr || !CheckRingInvariants(buffer)) {
    return -1;
  }
  int count = 0;
  CTraceRingWalker walker(buffer);
  for (const TraceRecord* r = walker.Next(); r != nullptr; r = walker.Next(), ++count) {
    for (uint16_t offset : {r->moduleOffset, r->hintOffset, r->messageOffset, r->subNameOffset,
                            uint16_t(kRecordFixedSize)}) {
      if (!StringInside(r, offset)) {
        return -1;
      }
    }
  }
  return count == int(buffer->recordCount) ? count : -1;
}
