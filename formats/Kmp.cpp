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
#include "formats/FileImage.h"
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
constexpr int kAreaRefused = -1;

static_assert(kModuleEntriesOffset + kKmpMaxModules * kModuleEntrySize == kSourceHeaderSize,
              "the module entries fill the header");

// The circular data of an area, oldest byte first: [start, end), or
// [start, capacity) then [0, end), read where it lies in the image. Bytes
// that the wrap cuts in two are joined in a buffer of their own.
template <typename Image>
class CAreaEvents {
 public:
  // The data starts at `dataAt` in the image.
  CAreaEvents(Image& image, uint64_t dataAt, uint32_t capacity, uint32_t start, uint32_t end)
      : m_image(image),
        m_tailAt(dataAt + start),
        m_tailLength(start < end ? end - start : capacity - start),
        m_headAt(dataAt),
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
  // inside Length(), in one piece until the next call; null when the image
  // cannot give them.
  const uint8_t* At(uint32_t position, uint32_t count) {
    if (position >= m_tailLength) {
      return m_image.At(m_headAt + (position - m_tailLength), count);
    }
    if (count <= m_tailLength - position) {
      return m_image.At(m_tailAt + position, count);
    }
    // Each piece is copied before the next is read: a read may move the first.
    const uint32_t first = m_tailLength - position;
    const uint8_t* older = m_image.At(m_tailAt + position, first);
    if (older == nullptr) {
      return nullptr;
    }
    std::memcpy(m_join.get(), older, first);
    const uint8_t* newer = m_image.At(m_headAt, count - first);
    if (newer == nullptr) {
      return nullptr;
    }
    std::memcpy(m_join.get() + first, newer, count - first);
    return m_join.get();
  }

 private:
  // An event's length is a u16.
  static constexpr uint32_t kMaxJoinBytes = 0x10000;

  Image& m_image;
  uint64_t m_tailAt;
  uint32_t m_tailLength;
  uint64_t m_headAt;
  uint32_t m_headLength;
  std::unique_ptr<uint8_t[]> m_join;
};

// 0 when the image could not give an event's bytes.
template <typename Image>
int WalkAreaEvents(CTraceMgr* store, CKmpReading* reading, CAreaEvents<Image>& events, const uint8_t* header,
                   uint32_t moduleIndex, uint32_t areaIndex) {
  constexpr uint32_t kLengthBytes = 2;
  const TiXmlElement* element = FindEventModule(&g_eventDescriptions, moduleIndex);
  const uint32_t id = areaIndex * kDescribedAreaUnit + moduleIndex;
  const uint32_t length = events.Length();
  uint32_t position = 0;
  int whole = 1;
  while (length - position >= kLengthBytes) {
    const uint8_t* at = events.At(position, kLengthBytes);
    const uint32_t eventLength = at != nullptr ? DescribedEventLength(at, length - position, 0) : 0;
    const uint8_t* event = eventLength != 0 ? events.At(position, eventLength) : nullptr;
    if (event == nullptr) {
      whole = at != nullptr && eventLength == 0 ? 1 : 0;
      break;
    }
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
  return whole;
}

// The area whose header starts at `at` of the image: 1 read, 0 empty or
// invalid, kAreaRefused when it lies outside the image, its join buffer
// cannot be had or its bytes cannot be read.
template <typename Image>
int ReadArea(CTraceMgr* store, Image& image, uint64_t at, const uint8_t* header, uint32_t moduleIndex,
             uint32_t areaIndex, CKmpReading* reading) {
  const uint64_t span = at < image.Size() ? image.Size() - at : 0;
  const uint8_t* area = span >= kKmpAreaHeaderSize ? image.At(at, kKmpAreaHeaderSize) : nullptr;
  if (area == nullptr) {
    return kAreaRefused;
  }
  const uint32_t capacity = LoadBig32(area + kAreaCapacityOffset);
  const uint32_t end = LoadBig32(area + kAreaEndOffset);
  const uint32_t start = LoadBig32(area + kAreaStartOffset);
  // Checked first: an area reaching past the file is refused even when empty.
  if (capacity > span - kKmpAreaHeaderSize) {
    DebugTraceA("LoadKmp, 3, module %u area %u runs past the file", moduleIndex, areaIndex);
    return kAreaRefused;
  }
  if (capacity == 0 || end >= capacity || start >= capacity || end == start) {
    return 0;
  }
  CAreaEvents<Image> events(image, at + kKmpAreaHeaderSize, capacity, start, end);
  if (!events.Ready()) {
    return kAreaRefused;
  }
  if (!WalkAreaEvents(store, reading, events, header, moduleIndex, areaIndex)) {
    DebugTraceA("LoadKmp, 4, module %u area %u could not be read", moduleIndex, areaIndex);
    return kAreaRefused;
  }
  return 1;
}

// Reads one area of a module entry: 1 read or skipped, 0 refused.
template <typename Image>
int ReadEntryArea(CTraceMgr* store, CKmpReading& reading, Image& image, uint64_t at, const uint8_t* header,
                  uint32_t moduleIndex, uint32_t areaIndex) {
  if (at >= image.Size()) {
    DebugTraceA("LoadKmp, 2, module %u area %u at %llu is past the file", moduleIndex, areaIndex, at);
    return 0;
  }
  return ReadArea(store, image, at, header, moduleIndex, areaIndex, &reading) != kAreaRefused ? 1 : 0;
}

template <typename Image>
int ReadKmp(CTraceMgr* store, Image& image) {
  const uint8_t* head = image.At(0, kSourceHeaderSize);
  if (head == nullptr) {
    return 0;
  }
  uint8_t header[kSourceHeaderSize];
  std::memcpy(header, head, sizeof(header));
  const uint32_t count = header[kModuleCountOffset];
  if (count > kKmpMaxModules) {
    // Entries past the fourth would lie beyond the header: this is no map log.
    DebugTraceA("LoadKmp, 1, module count %u", count);
    return 0;
  }
  // The entries are read from the file's bytes, the decoder's words from the converted copy.
  uint8_t entries[kSourceHeaderSize];
  std::memcpy(entries, header, sizeof(entries));
  ConvertBigEndianSourceHeader(header);
  CKmpReading reading;
  reading.toucher.StartWithForecast(store, image.Size() - kSourceHeaderSize);
  int whole = 1;
  for (uint32_t i = 0; i < count; ++i) {
    store->SetProgress((i + 1) * kPercent / count);
    const uint8_t* entry = entries + kModuleEntriesOffset + i * kModuleEntrySize;
    const uint32_t base = LoadBig32(entry + kEntryBaseOffset);
    if (base == 0) {
      continue;
    }
    const uint64_t logAt = uint64_t(base) + LoadBig32(entry + kEntryAreaOffset);
    const uint32_t logLength = LoadBig32(entry + kEntryLogLengthOffset);
    if (logLength != 0 && !ReadEntryArea(store, reading, image, logAt, header, i, kLogArea)) {
      whole = 0;
    }
    if (LoadBig32(entry + kEntryTraceLengthOffset) != 0 &&
        !ReadEntryArea(store, reading, image, logAt + logLength, header, i, kTraceArea)) {
      whole = 0;
    }
  }
  return whole;
}

}  // namespace

int LoadKmpArea(CTraceMgr* store, const uint8_t* area, uint64_t span, const uint8_t* header, uint32_t moduleIndex,
                uint32_t areaIndex, CKmpReading* reading) {
  if (store == nullptr || area == nullptr || header == nullptr) {
    return kAreaRefused;
  }
  CMemoryImage image(area, size_t(span));
  return ReadArea(store, image, 0, header, moduleIndex, areaIndex, reading);
}

int ParseKmpImage(CTraceMgr* store, const uint8_t* bytes, size_t size) {
  if (store == nullptr || bytes == nullptr || size < kSourceHeaderSize || size > kMaxSourceFileSize) {
    return 0;
  }
  CMemoryImage image(bytes, size);
  return ReadKmp(store, image);
}

int LoadKmp(CTraceMgr* store) {
  CSourceFile file;
  if (!file.OpenForReading(store, kSourceHeaderSize) || !file.Reserve(store)) {
    return 0;
  }
  CFileImage image(file.Handle(), file.Size());
  return ReadKmp(store, image);
}
