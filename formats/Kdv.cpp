// The reader of debug-view captures (.kdv).
#include <cstring>

#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "formats/EventDesc.h"
#include "formats/FileImage.h"
#include "formats/MapLogs.h"
#include "formats/SourceFile.h"
#include "formats/StoreToucher.h"

namespace {

constexpr uint32_t kPercent = 100;
constexpr uint32_t kImportAllGroups = 0;
constexpr size_t kBlockAreaOffset = 1;
constexpr size_t kBlockLengthOffset = 2;
constexpr uint32_t kEventLengthBytes = 2;
// The importer reads no more of a per-process record than its head and
// its longest text.
constexpr uint32_t kRecordBlockMostBytes = uint32_t(kQrvTextOffset + kQrvMaxTextBytes);

// A block read so far: its payload's place and the reading state.
struct BlockWalk {
  CTraceMgr* store;
  CStoreToucher& toucher;
  CDescribedEventCache& cache;
  const uint8_t* header;  // the source header, host order
  uint64_t done;          // bytes of blocks before this one
};

// 0 when the file could not give the payload's bytes.
template <typename Image>
int ReadRecordBlock(BlockWalk& walk, Image& image, uint64_t payloadAt, uint32_t length) {
  const uint32_t bytes = length < kRecordBlockMostBytes ? length : kRecordBlockMostBytes;
  const uint8_t* payload = image.At(payloadAt, bytes);
  if (payload == nullptr) {
    return 0;
  }
  walk.toucher.BeforeRecord(walk.store, walk.done);
  TraceRecord* stored = CTraceMgr::AddQrvRecord(walk.store, kImportAllGroups, payload, bytes, kModeBuild);
  if (stored != nullptr) {
    walk.store->AddToProcessStats(stored);
  }
  return 1;
}

// The events of a block, up to its end, the first event that is cut or too
// short, or the first one that stores nothing. 0 when the file could not
// give the bytes.
template <typename Image>
int ReadEventBlock(BlockWalk& walk, Image& image, uint8_t module, uint8_t area, uint64_t payloadAt,
                   uint32_t length) {
  const TiXmlElement* element = FindEventModule(&g_eventDescriptions, module);
  const uint32_t id = uint32_t(area) * kDescribedAreaUnit + module;
  for (uint32_t consumed = 0; length - consumed >= kEventLengthBytes;) {
    const uint8_t* at = image.At(payloadAt + consumed, kEventLengthBytes);
    if (at == nullptr) {
      return 0;
    }
    const uint32_t eventLength = DescribedEventLength(at, length - consumed, 0);
    if (eventLength == 0) {
      break;
    }
    const uint8_t* event = image.At(payloadAt + consumed, eventLength);
    if (event == nullptr) {
      return 0;
    }
    walk.toucher.BeforeRecord(walk.store, walk.done + consumed);
    TraceRecord* stored = AddDescribedEvent(walk.store, kImportAllGroups, walk.header, event, eventLength, element,
                                            id, kModeBuild, &walk.cache);
    if (stored == nullptr) {
      break;
    }
    walk.store->AddToProcessStats(stored);
    consumed += eventLength;
  }
  return 1;
}

template <typename Image>
int ReadKdv(CTraceMgr* store, Image& image) {
  const uint64_t size = image.Size();
  const uint8_t* head = image.At(0, kSourceHeaderSize);
  if (head == nullptr) {
    DebugTraceA("LoadKdv, 3, read failed at 0");
    return 0;
  }
  uint8_t header[kSourceHeaderSize];
  std::memcpy(header, head, sizeof(header));
  CStoreToucher toucher;
  toucher.StartWithForecast(store, size - kSourceHeaderSize);
  CDescribedEventCache cache;
  BlockWalk walk{store, toucher, cache, header, 0};
  uint64_t position = kSourceHeaderSize;
  while (position < size) {
    store->SetProgress(uint32_t(position * kPercent / size));
    if (size - position < kKdvBlockHeaderSize) {
      DebugTraceA("LoadKdv, 1, block header cut at %llu", position);
      return 0;
    }
    const uint8_t* block = image.At(position, kKdvBlockHeaderSize);
    if (block == nullptr) {
      DebugTraceA("LoadKdv, 3, read failed at %llu", position);
      return 0;
    }
    const uint8_t module = block[0];
    const uint8_t area = block[kBlockAreaOffset];
    const uint32_t length = LoadLittle32(block + kBlockLengthOffset);
    if (length == 0) {
      break;  // the writer's end of data
    }
    const uint64_t next = position + kKdvBlockHeaderSize + length;
    if (next > size) {
      DebugTraceA("LoadKdv, 2, block at %llu runs %llu bytes past the file", position, next - size);
      return 0;
    }
    const uint64_t payloadAt = position + kKdvBlockHeaderSize;
    walk.done = position - kSourceHeaderSize;
    const int read = module == kKdvRecordBlock ? ReadRecordBlock(walk, image, payloadAt, length)
                                               : ReadEventBlock(walk, image, module, area, payloadAt, length);
    if (!read) {
      DebugTraceA("LoadKdv, 3, read failed in the block at %llu", position);
      return 0;
    }
    position = next;
  }
  store->SetProgress(kPercent);
  return 1;
}

}  // namespace

int ParseKdvImage(CTraceMgr* store, const uint8_t* bytes, size_t size) {
  if (store == nullptr || bytes == nullptr || size < kSourceHeaderSize || size > kMaxSourceFileSize) {
    return 0;
  }
  CMemoryImage image(bytes, size);
  return ReadKdv(store, image);
}

int LoadKdv(CTraceMgr* store) {
  CSourceFile file;
  if (!file.OpenForReading(store, kSourceHeaderSize) || !file.Reserve(store)) {
    return 0;
  }
  CFileImage image(file.Handle(), file.Size());
  return ReadKdv(store, image);
}
