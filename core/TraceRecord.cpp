#include "core/TraceRecord.h"

#include "core/TraceStore.h"

void InitBufferHeader(TraceBufferHeader* header, uint32_t capacity) {
  std::memset(header, 0, sizeof(*header));
  std::memcpy(header->magic, kTraceMagic, sizeof(kTraceMagic));
  header->byteOrderMark = kTraceByteOrderMark;
  header->version = kTraceVersion;
  header->fixedOne = 1;
  header->headerSize = kTraceHeaderSize;
  header->flags = 0;
  header->capacity = capacity;
  header->lastSequence = 0;
  ResetBufferHeader(header);
}

void ResetBufferHeader(TraceBufferHeader* header) {
  header->recordCount = 0;
  header->freeBytes = header->capacity > header->headerSize ? header->capacity - header->headerSize : 0;
  header->write = header->headerSize;
  header->first = header->headerSize;
  header->end = header->capacity;
}

TraceRecord* AllocRecord(CTraceBase* store, uint32_t bytes) {
  TraceBufferHeader* header = store->Buffer();
  if (header == nullptr) {
    return nullptr;
  }
  if (bytes > header->freeBytes) {
    if (!store->GrowBuffer(bytes)) {
      return nullptr;
    }
    header = store->Buffer();  // growing may have moved the buffer
    if (header == nullptr || bytes > header->freeBytes) {
      return nullptr;
    }
  }
  auto* record = reinterpret_cast<TraceRecord*>(header->Bytes() + header->write);
  header->recordCount += 1;
  header->freeBytes -= bytes;
  header->write += bytes;
  return record;
}

void SetRecordMark(TraceRecord* record, int set, int colour) {
  if (set == 0) {
    record->level &= ~kMarkMask;
    return;
  }
  if (colour < 0 || colour >= kMarkColours) {
    colour = 0;
  }
  record->level |= kMarkFirstBit << colour;
}

void ClearAllMarks(CTraceBase* store) {
  TraceBufferHeader* header = store->Buffer();
  if (header == nullptr) {
    return;
  }
  CTraceRingWalker walker(header);
  while (TraceRecord* record = walker.Next()) {
    SetRecordMark(record, 0, 0);
  }
}

CTraceRingWalker::CTraceRingWalker(const TraceBufferHeader* header)
    : m_header(header), m_offset(header ? header->first : 0), m_left(header ? header->recordCount : 0) {}

namespace {
constexpr size_t kWalkPrefetchBytes = 2048;
}  // namespace

TraceRecord* CTraceRingWalker::Next() {
  if (m_left == 0) {
    return nullptr;
  }
  const uint32_t capacity = m_header->capacity;
  if (m_offset >= m_header->end) {
    m_offset = m_header->headerSize;
  }
  if (m_offset + uint64_t(sizeof(uint16_t)) > capacity) {
    m_left = 0;
    return nullptr;
  }
  auto* record = reinterpret_cast<TraceRecord*>(const_cast<uint8_t*>(m_header->Bytes()) + m_offset);
  const uint32_t length = record->length;
  if (length < sizeof(uint32_t) || m_offset + uint64_t(length) > capacity) {
    m_left = 0;  // a damaged length: never walk out of the buffer
    return nullptr;
  }
  m_left -= 1;
  m_offset += length;
  if (m_offset >= m_header->end) {
    m_offset = m_header->headerSize;
  }
  // Each step depends on the length just read, so the processor cannot run
  // ahead by itself; a walk over records that left the caches would wait
  // for memory at every record. A prefetch never faults, past the end too.
  __builtin_prefetch(m_header->Bytes() + m_offset + kWalkPrefetchBytes);
  return record;
}

TraceRingRelease ReleaseOldestRecords(TraceBufferHeader* header, uint32_t needed,
                                      TraceRecordCallback onDrop, void* context) {
  TraceRingRelease result;
  const uint32_t wrapStart = header->headerSize;
  if (header->recordCount == 0) {
    ResetBufferHeader(header);
    return result;
  }
  if (header->first == wrapStart) {
    // The ring starts its next lap at the front.
    header->end = header->write;
    header->write = wrapStart;
    header->freeBytes = 0;
  }
  const uint32_t oldFirst = header->first;
  uint32_t position = oldFirst;
  result.low = header->Bytes() + oldFirst;
  for (;;) {
    auto* record = reinterpret_cast<TraceRecord*>(header->Bytes() + position);
    const uint32_t length = record->length;
    if (length < sizeof(uint32_t) || position + uint64_t(length) > header->end) {
      // A damaged record: drop the rest of the older part as a whole.
      position = header->end;
    } else {
      if (onDrop != nullptr) {
        onDrop(context, record);
      }
      position += length;
      __builtin_prefetch(header->Bytes() + position + kWalkPrefetchBytes);  // as in the walker
    }
    header->recordCount -= 1;
    result.dropped += 1;

    if (header->recordCount == 0) {
      // Nothing left: the ring is empty again (the sequence keeps rising).
      result.high = header->Bytes() + position;
      ResetBufferHeader(header);
      return result;
    }
    if (position >= header->end) {
      header->freeBytes += header->capacity - oldFirst;
      header->first = wrapStart;
      header->end = header->capacity;
      break;
    }
    if (uint64_t(header->freeBytes) + (position - oldFirst) >= needed) {
      header->freeBytes += position - oldFirst;
      header->first = position;
      break;
    }
  }
  result.high = header->Bytes() + position;
  return result;
}

int CheckRingInvariants(const TraceBufferHeader* h) {
  if (h->headerSize != kTraceHeaderSize || h->capacity < h->headerSize || h->end > h->capacity ||
      h->first < h->headerSize || h->write < h->headerSize || h->write > h->capacity) {
    return 0;
  }
  if (h->recordCount == 0) {
    return h->first == h->write && h->end == h->capacity && h->freeBytes == h->capacity - h->write;
  }
  const bool lapped = h->first >= h->write;
  if (lapped) {
    if (h->first >= h->end || h->freeBytes != h->first - h->write) {
      return 0;
    }
  } else if (h->end != h->capacity || h->freeBytes != h->capacity - h->write) {
    return 0;
  }
  uint32_t offset = h->first;
  for (uint32_t i = 0; i < h->recordCount; ++i) {
    if (offset >= h->end) {
      offset = h->headerSize;
    }
    const auto* record = reinterpret_cast<const TraceRecord*>(h->Bytes() + offset);
    const uint32_t limit = (offset >= h->first && lapped) ? h->end : h->write;
    if (record->length < sizeof(uint32_t) || (record->length & 3) != 0 || offset + record->length > limit) {
      return 0;
    }
    offset += record->length;
  }
  // The walk ends at the write offset, or at the end of the older part when
  // nothing was written at the front yet (the ring then continues at 48).
  return offset == h->write || (offset >= h->end && h->write == h->headerSize);
}
