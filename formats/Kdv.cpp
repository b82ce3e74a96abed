// The reader of debug-view captures (.kdv).
#include <cstring>

#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "formats/EventDesc.h"
#include "formats/MapLogs.h"
#include "formats/SourceFile.h"
#include "formats/StoreToucher.h"

namespace {

constexpr uint32_t kPercent = 100;
constexpr uint32_t kImportAllGroups = 0;
constexpr size_t kBlockAreaOffset = 1;
constexpr size_t kBlockLengthOffset = 2;

// `done`: bytes of blocks read before this one.
void ReadRecordBlock(CTraceMgr* store, CStoreToucher& toucher, uint64_t done, const uint8_t* payload,
                     uint32_t length) {
  toucher.BeforeRecord(store, done);
  TraceRecord* stored = CTraceMgr::AddQrvRecord(store, kImportAllGroups, payload, length, kModeBuild);
  if (stored != nullptr) {
    store->AddToProcessStats(stored);
  }
}

void ReadEventBlock(CTraceMgr* store, CStoreToucher& toucher, uint64_t done, CDescribedEventCache& cache,
                    const uint8_t* header, uint8_t module, uint8_t area, const uint8_t* payload, uint32_t length) {
  const TiXmlElement* element = FindEventModule(&g_eventDescriptions, module);
  const uint32_t id = uint32_t(area) * kDescribedAreaUnit + module;
  uint32_t consumed = 0;
  while (const uint32_t eventLength = DescribedEventLength(payload, length, consumed)) {
    toucher.BeforeRecord(store, done + consumed);
    TraceRecord* stored =
        AddDescribedEvent(store, kImportAllGroups, header, payload + consumed, eventLength, element, id, kModeBuild,
                          &cache);
    if (stored == nullptr) {
      return;
    }
    store->AddToProcessStats(stored);
    consumed += eventLength;
  }
}

}  // namespace

int ParseKdvImage(CTraceMgr* store, const uint8_t* bytes, size_t size) {
  if (store == nullptr || bytes == nullptr || size < kSourceHeaderSize || size > kMaxSourceFileSize) {
    return 0;
  }
  uint8_t header[kSourceHeaderSize];
  std::memcpy(header, bytes, sizeof(header));
  CStoreToucher toucher;
  toucher.StartWithForecast(store, size - kSourceHeaderSize);
  CDescribedEventCache cache;
  uint64_t position = kSourceHeaderSize;
  while (position < size) {
    store->SetProgress(uint32_t(position * kPercent / size));
    if (size - position < kKdvBlockHeaderSize) {
      DebugTraceA("LoadKdv, 1, block header cut at %llu", position);
      return 0;
    }
    const uint8_t* block = bytes + position;
    const uint32_t length = LoadLittle32(block + kBlockLengthOffset);
    if (length == 0) {
      break;  // the writer's end of data
    }
    const uint64_t next = position + kKdvBlockHeaderSize + length;
    if (next > size) {
      DebugTraceA("LoadKdv, 2, block at %llu runs %llu bytes past the file", position, next - size);
      return 0;
    }
    const uint8_t* payload = block + kKdvBlockHeaderSize;
    const uint64_t done = position - kSourceHeaderSize;
    if (block[0] == kKdvRecordBlock) {
      ReadRecordBlock(store, toucher, done, payload, length);
    } else {
      ReadEventBlock(store, toucher, done, cache, header, block[0], block[kBlockAreaOffset], payload, length);
    }
    position = next;
  }
  store->SetProgress(kPercent);
  return 1;
}

int LoadKdv(CTraceMgr* store) {
  CSourceFile file;
  if (!file.Open(store, kSourceHeaderSize, "LoadKdv")) {
    return 0;
  }
  return ParseKdvImage(store, file.Data(), file.Size());
}
