// The reader of map logs (.kmp).
#include <cstring>
#include <memory>
#include <new>

#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "formats/EventDesc.h"
#include "formats/MapLogs.h"
#include "formats/SourceFile.h"
#include "formats/StoreToucher.h"

// What the reader keeps from one area to the next.
struct CKmpReading {
  CStoreToucher toucher;
  CDescribedEventCache cache;
  uint64_t done = 0;  // bytes of the areas read so far
};

namespace {

constexpr uint32_t kPercent = 100;
constexpr uint32_t kImportAllGroups = 0;
constexpr size_t kModuleCountOffset = 2;
constexpr size_t kModuleEntriesOffset = 32;
constexpr size_t kModuleEntrySize = 20;
constexpr size_t kEntryBaseOffset = 4;
constexpr size_t kEntryAreaOffset = 8;
constexpr size_t kEntryLogLengthOffset = 12;
constexpr size_t kEntryTraceLengthOffset = 16;
constexpr size_t kAreaCapacityOffset = 0;
constexpr size_t kAreaEndOffset = 4;
constexpr size_t kAreaStartOffset = 8;
constexpr uint32_t kLogArea = 0;
constexpr uint32_t kTraceArea = 1;

static_assert(kModuleEntriesOffset + kKmpMaxModules * kModuleEntrySize == kSourceHeaderSize,
              "the module entries fill the header");

// The circular data of an area, oldest byte first: [start, end), or
// [start, capacity) then [0, end), read where it lies. Bytes that the wrap
// cuts in two are joined in a buffer of their own.
class CAreaEvents {
 public:
  CAreaEvents(const uint8_t* data, uint32_t capacity, uint32_t start, uint32_t end)
      : m_tail(data + start),
        m_tailLength(start < end ? end - start : capacity - start),
        m_head(data),
        m_headLength(start < end ? 0 : end) {}

  // False when the data wraps and the join buffer cannot be had.
  bool Ready() {
    if (m_headLength != 0 && m_join == nullptr) {
      m_join.reset(new (std::nothrow) uint8_t[kMaxJoinBytes]);
    }
    return m_headLength == 0 || m_join != nullptr;
  }
  uint32_t Length() const { return m_tailLength + m_headLength; }
  // The `count` bytes (at most one event's) from `position`, which lie
  // inside Length(), in one piece until the next call.
  const uint8_t* At(uint32_t position, uint32_t count) {
    if (position >= m_tailLength) {
      return m_head + (position - m_tailLength);
    }
    if (count <= m_tailLength - position) {
      return m_tail + position;
    }
    const uint32_t first = m_tailLength - position;
    std::memcpy(m_join.get(), m_tail + position, first);
    std::memcpy(m_join.get() + first, m_head, count - first);
    return m_join.get();
  }

 private:
  // An event's length is a u16.
  static constexpr uint32_t kMaxJoinBytes = 0x10000;

  const uint8_t* m_tail;
  uint32_t m_tailLength;
  const uint8_t* m_head;
  uint32_t m_headLength;
  std::unique_ptr<uint8_t[]> m_join;
};

void WalkAreaEvents(CTraceMgr* store, CKmpReading* reading, CAreaEvents& events, const uint8_t* header,
                    uint32_t moduleIndex, uint32_t areaIndex) {
  constexpr uint32_t kLengthBytes = 2;
  const TiXmlElement* element = FindEventModule(&g_eventDescriptions, moduleIndex);
  const uint32_t id = areaIndex * kDescribedAreaUnit + moduleIndex;
  const uint32_t length = events.Length();
  uint32_t position = 0;
  while (length - position >= kLengthBytes) {
    const uint32_t eventLength = DescribedEventLength(events.At(position, kLengthBytes), length - position, 0);
    if (eventLength == 0) {
      break;
    }
    const uint8_t* event = events.At(position, eventLength);
    if (reading != nullptr) {
      reading->toucher.BeforeRecord(store, reading->done + position);
    }
    TraceRecord* stored = AddDescribedEvent(store, kImportAllGroups, header, event, eventLength, element, id,
                                            kModeBuild, reading != nullptr ? &reading->cache : nullptr);
    if (stored != nullptr) {
      stored->sourceType = kSourceDescribedEvent;
      stored->flags |= kRecordLive;
      store->AddToProcessStats(stored);
    }
    position += eventLength;
  }
  if (reading != nullptr) {
    reading->done += length;
  }
}

// Reads one area of a module entry: 1 read or skipped, 0 refused.
int ReadEntryArea(CTraceMgr* store, CKmpReading& reading, const uint8_t* bytes, size_t size, uint64_t at,
                  const uint8_t* header, uint32_t moduleIndex, uint32_t areaIndex) {
  if (at >= size) {
    DebugTraceA("LoadKmp, 2, module %u area %u at %llu is past the file", moduleIndex, areaIndex, at);
    return 0;
  }
  return LoadKmpArea(store, bytes + at, size - at, header, moduleIndex, areaIndex, &reading) >= 0 ? 1 : 0;
}

}  // namespace

int LoadKmpArea(CTraceMgr* store, const uint8_t* area, uint64_t span, const uint8_t* header, uint32_t moduleIndex,
                uint32_t areaIndex, CKmpReading* reading) {
  if (store == nullptr || area == nullptr || header == nullptr || span < kKmpAreaHeaderSize) {
    return -1;
  }
  const uint32_t capacity = LoadBig32(area + kAreaCapacityOffset);
  const uint32_t end = LoadBig32(area + kAreaEndOffset);
  const uint32_t start = LoadBig32(area + kAreaStartOffset);
  // Checked first: an area reaching past the file is refused even when empty.
  if (capacity > span - kKmpAreaHeaderSize) {
    DebugTraceA("LoadKmp, 3, module %u area %u runs past the file", moduleIndex, areaIndex);
    return -1;
  }
  if (capacity == 0 || end >= capacity || start >= capacity || end == start) {
    return 0;
  }
  CAreaEvents events(area + kKmpAreaHeaderSize, capacity, start, end);
  if (!events.Ready()) {
    return -1;
  }
  WalkAreaEvents(store, reading, events, header, moduleIndex, areaIndex);
  return 1;
}

int ParseKmpImage(CTraceMgr* store, const uint8_t* bytes, size_t size) {
  if (store == nullptr || bytes == nullptr || size < kSourceHeaderSize || size > kMaxSourceFileSize) {
    return 0;
  }
  const uint32_t count = bytes[kModuleCountOffset];
  if (count > kKmpMaxModules) {
    // Entries past the fourth would lie beyond the header: this is no map log.
    DebugTraceA("LoadKmp, 1, module count %u", count);
    return 0;
  }
  uint8_t header[kSourceHeaderSize];
  std::memcpy(header, bytes, sizeof(header));
  ConvertBigEndianSourceHeader(header);
  CKmpReading reading;
  reading.toucher.StartWithForecast(store, size - kSourceHeaderSize);
  int whole = 1;
  for (uint32_t i = 0; i < count; ++i) {
    store->SetProgress((i + 1) * kPercent / count);
    const uint8_t* entry = bytes + kModuleEntriesOffset + i * kModuleEntrySize;
    const uint32_t base = LoadBig32(entry + kEntryBaseOffset);
    if (base == 0) {
      continue;
    }
    const uint64_t logAt = uint64_t(base) + LoadBig32(entry + kEntryAreaOffset);
    const uint32_t logLength = LoadBig32(entry + kEntryLogLengthOffset);
    if (logLength != 0 && !ReadEntryArea(store, reading, bytes, size, logAt, header, i, kLogArea)) {
      whole = 0;
    }
    if (LoadBig32(entry + kEntryTraceLengthOffset) != 0 &&
        !ReadEntryArea(store, reading, bytes, size, logAt + logLength, header, i, kTraceArea)) {
      whole = 0;
    }
  }
  return whole;
}

int LoadKmp(CTraceMgr* store) {
  CSourceFile file;
  if (!file.Open(store, kSourceHeaderSize, "LoadKmp")) {
    return 0;
  }
  return ParseKmpImage(store, file.Data(), file.Size());
}
