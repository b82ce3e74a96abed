// The reader of map logs (.kmp).
#include <cstdlib>
#include <cstring>

#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "formats/EventDesc.h"
#include "formats/MapLogs.h"
#include "formats/SourceFile.h"
#include "formats/StoreToucher.h"

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

void WalkAreaEvents(CTraceMgr* store, CStoreToucher* toucher, const uint8_t* events, uint32_t length,
                    const uint8_t* header, uint32_t moduleIndex, uint32_t areaIndex) {
  const TiXmlElement* element = FindEventModule(&g_eventDescriptions, moduleIndex);
  const uint32_t id = areaIndex * kDescribedAreaUnit + moduleIndex;
  uint32_t position = 0;
  while (const uint32_t eventLength = DescribedEventLength(events, length, position)) {
    if (toucher != nullptr) {
      toucher->BeforeRecord(store);
    }
    TraceRecord* stored =
        AddDescribedEvent(store, kImportAllGroups, header, events + position, eventLength, element, id, kModeBuild);
    if (stored != nullptr) {
      stored->sourceType = kSourceDescribedEvent;
      stored->flags |= kRecordLive;
      store->AddToProcessStats(stored);
    }
    position += eventLength;
  }
}

// Reads one area of a module entry: 1 read or skipped, 0 refused.
int ReadEntryArea(CTraceMgr* store, CStoreToucher& toucher, const uint8_t* bytes, size_t size, uint64_t at,
                  const uint8_t* header, uint32_t moduleIndex, uint32_t areaIndex) {
  if (at >= size) {
    DebugTraceA("LoadKmp, 2, module %u area %u at %llu is past the file", moduleIndex, areaIndex, at);
    return 0;
  }
  return LoadKmpArea(store, bytes + at, size - at, header, moduleIndex, areaIndex, &toucher) >= 0 ? 1 : 0;
}

}  // namespace

int LoadKmpArea(CTraceMgr* store, const uint8_t* area, uint64_t span, const uint8_t* header, uint32_t moduleIndex,
                uint32_t areaIndex, CStoreToucher* toucher) {
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
  const uint8_t* data = area + kKmpAreaHeaderSize;
  // Oldest record first: [start, end), or [start, capacity) then [0, end).
  const uint32_t tail = start < end ? end - start : capacity - start;
  const uint32_t head = start < end ? 0 : end;
  const uint32_t length = tail + head;
  auto* events = static_cast<uint8_t*>(std::malloc(length));
  if (events == nullptr) {
    return -1;
  }
  std::memcpy(events, data + start, tail);
  std::memcpy(events + tail, data, head);
  WalkAreaEvents(store, toucher, events, length, header, moduleIndex, areaIndex);
  std::free(events);
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
  CStoreToucher toucher;
  toucher.Start(store);
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
    if (logLength != 0 && !ReadEntryArea(store, toucher, bytes, size, logAt, header, i, kLogArea)) {
      whole = 0;
    }
    if (LoadBig32(entry + kEntryTraceLengthOffset) != 0 &&
        !ReadEntryArea(store, toucher, bytes, size, logAt + logLength, header, i, kTraceArea)) {
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
