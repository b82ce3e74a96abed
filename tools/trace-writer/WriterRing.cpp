#include "tools/trace-writer/WriterRing.h"

#include <cstring>

namespace {

constexpr uint8_t kBadMagic[4] = {'K', 'E', 'L', 'X'};
constexpr uint8_t kBadVersion = kTraceVersion + 1;
// Far past any mapping this writer makes.
constexpr uint32_t kBadEndDistance = 0x10000000;
constexpr uint32_t kBadCount = 0xFFFFFFF0u;
constexpr uint32_t kSmallestRecord = sizeof(uint32_t);

}  // namespace

bool IsSoundWriterRing(const TraceBufferHeader* h, size_t mappedBytes) {
  if (std::memcmp(h->magic, kTraceMagic, sizeof(kTraceMagic)) != 0 || h->version != kTraceVersion ||
      h->headerSize != kTraceHeaderSize) {
    return false;
  }
  const uint32_t capacity = h->capacity;
  if (capacity < kMinRingBytes || capacity > mappedBytes || h->end > capacity || h->write < h->headerSize ||
      h->write > capacity || h->first < h->headerSize || h->freeBytes > capacity - h->headerSize ||
      h->recordCount > (capacity - h->headerSize) / kSmallestRecord) {
    return false;
  }
  return h->recordCount == 0 || h->first + uint64_t(sizeof(uint16_t)) <= h->end;
}

void InitWriterRing(TraceBufferHeader* header, uint32_t capacity, uint32_t generation) {
  InitBufferHeader(header, capacity);
  header->generation = generation;
}

uint8_t* ReserveRingRecord(TraceBufferHeader* h, uint32_t length, uint32_t* released) {
  if (length < kSmallestRecord || length > h->capacity - h->headerSize) {
    return nullptr;
  }
  while (h->freeBytes < length) {
    const TraceRingRelease release = ReleaseOldestRecords(h, length, nullptr, nullptr);
    if (released != nullptr) {
      *released += release.dropped;
    }
    if (release.dropped == 0 && h->freeBytes < length) {
      return nullptr;  // nothing left to release
    }
  }
  uint8_t* record = h->Bytes() + h->write;
  h->recordCount += 1;
  h->freeBytes -= length;
  h->write += length;
  h->lastSequence += 1;
  return record;
}

uint32_t AppendRingRecord(TraceBufferHeader* h, const uint8_t* record, uint32_t length, uint32_t* released) {
  uint8_t* slot = ReserveRingRecord(h, length, released);
  if (slot == nullptr) {
    return 0;
  }
  std::memcpy(slot, record, length);
  const uint32_t sequence = h->lastSequence;
  std::memcpy(slot + offsetof(TraceRecord, sequence), &sequence, sizeof(sequence));
  return sequence;
}

bool ApplyRingFault(TraceBufferHeader* h, WriterFault fault) {
  switch (fault) {
    case WriterFault::kBadMagic:
      std::memcpy(h->magic, kBadMagic, sizeof(kBadMagic));
      return true;
    case WriterFault::kBadVersion:
      h->version = kBadVersion;
      return true;
    case WriterFault::kBadEnd:
      h->end = h->capacity + kBadEndDistance;
      return true;
    case WriterFault::kBadCount:
      h->recordCount = kBadCount;
      return true;
    case WriterFault::kZeroLength: {
      uint8_t* slot = ReserveRingRecord(h, kZeroLengthSlot, nullptr);
      if (slot != nullptr) {
        std::memset(slot, 0, kZeroLengthSlot);
        const uint32_t sequence = h->lastSequence;
        std::memcpy(slot + offsetof(TraceRecord, sequence), &sequence, sizeof(sequence));
      }
      return true;
    }
    case WriterFault::kNewGeneration: {
      // A writer that restarted: an empty ring numbered from 1 again.
      const uint32_t generation = h->generation + 1;
      InitWriterRing(h, h->capacity, generation);
      return true;
    }
    default:
      return false;
  }
}
