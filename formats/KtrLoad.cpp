// The reader of KELT images: .ktr files and images held in memory.
#include <windows.h>

#include <cstring>

#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "formats/Ktr.h"
#include "formats/SourceFile.h"

namespace {

constexpr uint32_t kPercent = 100;
constexpr uint32_t kImportAllGroups = 0;

// Byte-order-mark bytes at offset 4.
constexpr uint8_t kMarkLittle[2] = {0xFF, 0xFE};
constexpr uint8_t kMarkBig[2] = {0xFE, 0xFF};

uint16_t Load16(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBig16(p) : LoadLittle16(p); }
uint32_t Load32(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBig32(p) : LoadLittle32(p); }

// The header fields the walks use, in host order.
struct ImageHeader {
  bool bigEndian;
  uint16_t wrapTo;
  uint16_t flags;
  uint32_t count;
  uint32_t end;
  uint32_t first;
  uint32_t write;
};

ImageHeader ReadHeader(const uint8_t* bytes, bool bigEndian) {
  ImageHeader h;
  h.bigEndian = bigEndian;
  h.wrapTo = Load16(bytes + offsetof(TraceBufferHeader, headerSize), bigEndian);
  h.flags = Load16(bytes + offsetof(TraceBufferHeader, flags), bigEndian);
  h.count = Load32(bytes + offsetof(TraceBufferHeader, recordCount), bigEndian);
  h.end = Load32(bytes + offsetof(TraceBufferHeader, end), bigEndian);
  h.first = Load32(bytes + offsetof(TraceBufferHeader, first), bigEndian);
  h.write = Load32(bytes + offsetof(TraceBufferHeader, write), bigEndian);
  return h;
}

// Hands the records of one image to the importers and counts them.
class CImageWalk {
 public:
  CImageWalk(CTraceMgr* store, const uint8_t* bytes, size_t size, const ImageHeader& header, int copy)
      : m_store(store), m_bytes(bytes), m_size(size), m_header(header), m_copy(copy) {}

  // Each walk returns 1 when every record the header promises was found,
  // 0 at the first damaged record or header field (records before it stay).
  int Ring();
  int Linear();
  uint32_t Found() const { return m_found; }
  uint32_t Refused() const { return m_refused; }

 private:
  // Length of a record that lies whole in [offset, limit); 0 when it does not.
  uint32_t RecordLength(uint64_t offset, uint64_t limit) const;
  void Import(uint64_t offset);

  CTraceMgr* m_store;
  const uint8_t* m_bytes;
  size_t m_size;
  ImageHeader m_header;
  int m_copy;
  uint32_t m_found = 0;
  uint32_t m_refused = 0;
};

uint32_t CImageWalk::RecordLength(uint64_t offset, uint64_t limit) const {
  if (offset + sizeof(uint16_t) > limit) {
    return 0;
  }
  const uint32_t length = Load16(m_bytes + offset, m_header.bigEndian);
  // Below the smallest narrow record (zero included) the walk would not move on.
  if (length < kMinNarrowRecord || offset + length > limit) {
    return 0;
  }
  return length;
}

void CImageWalk::Import(uint64_t offset) {
  const uint8_t* record = m_bytes + offset;
  ++m_found;
  TraceRecord* stored = nullptr;
  if (m_header.bigEndian) {
    // Big-endian images come from the other byte order's writers, which may
    // register block words: every record is scanned before it is built.
    CTraceMgr::AddNetRecord(m_store, kImportAllGroups, record, kModeScan);
    stored = CTraceMgr::AddNetRecord(m_store, kImportAllGroups, record, kModeBuild);
  } else {
    stored = CTraceMgr::AddRecord(m_store, kImportAllGroups, record, m_copy, kModeBuild);
  }
  if (stored != nullptr) {
    m_store->AddToProcessStats(stored);
  } else {
    ++m_refused;
  }
}

int CImageWalk::Ring() {
  const ImageHeader& h = m_header;
  if (h.count == 0) {
    return 1;
  }
  // Records lie in [first, end) and after a wrap in [wrapTo, first): a header
  // that contradicts this cannot be walked.
  if (h.wrapTo < kTraceHeaderSize || h.first < h.wrapTo || h.first >= h.end || h.write < h.wrapTo ||
      h.first >= m_size) {
    return 0;
  }
  // An end beyond the image is a cut image: walk what is there.
  const uint64_t endLimit = h.end < m_size ? h.end : m_size;
  // No image holds more records than its smallest records would fill; a
  // larger count still fails the walk, but the progress stays meaningful.
  const uint64_t room = (m_size - kTraceHeaderSize) / kMinNarrowRecord;
  const uint32_t count = h.count < room ? h.count : uint32_t(room);
  if (count == 0) {
    return 0;
  }
  uint64_t offset = h.first;
  bool wrapped = false;
  for (uint32_t i = 0; i < count; ++i) {
    m_store->SetProgress(uint32_t(uint64_t(i) * kPercent / count));
    // After the wrap the walk must stay below the oldest record: a count
    // larger than the records present would otherwise go round again.
    const uint32_t length = RecordLength(offset, wrapped ? h.first : endLimit);
    if (length == 0) {
      return 0;
    }
    Import(offset);
    offset += length;
    // After the wrap every record ends at or below first, which lies below
    // end: the ring is walked round once at most.
    if (offset >= h.end && !wrapped) {
      offset = h.wrapTo;
      wrapped = true;
    }
  }
  return count == h.count ? 1 : 0;
}

int CImageWalk::Linear() {
  if (m_header.first < kTraceHeaderSize || m_header.first > m_size) {
    return 0;
  }
  const uint64_t step = m_size / kPercent != 0 ? m_size / kPercent : 1;
  uint64_t offset = m_header.first;
  while (offset + kNarrowHeadSize < m_size) {
    m_store->SetProgress(uint32_t(offset / step));
    const uint32_t length = RecordLength(offset, m_size);
    if (length == 0) {
      return 0;  // a record cut by the end of the image, or a damaged length
    }
    Import(offset);
    offset += length;
  }
  // Bytes left that cannot hold a record are the start of a cut one.
  return offset == m_size ? 1 : 0;
}

}  // namespace

int ParseKeltImage(CTraceMgr* store, const void* image, size_t size, int copy, uint32_t* refused) {
  if (refused != nullptr) {
    *refused = 0;
  }
  if (store == nullptr || image == nullptr || size < kTraceHeaderSize || size > kMaxKtrFileSize) {
    return 0;
  }
  const auto* bytes = static_cast<const uint8_t*>(image);
  if (std::memcmp(bytes, kTraceMagic, sizeof(kTraceMagic)) != 0 ||
      bytes[offsetof(TraceBufferHeader, version)] != kTraceVersion) {
    return 0;
  }
  const uint8_t* mark = bytes + offsetof(TraceBufferHeader, byteOrderMark);
  bool bigEndian = false;
  if (std::memcmp(mark, kMarkBig, sizeof(kMarkBig)) == 0) {
    bigEndian = true;
  } else if (std::memcmp(mark, kMarkLittle, sizeof(kMarkLittle)) != 0) {
    store->m_sourceItemCount = 0;
    return 1;  // an image of no byte order this program knows holds no records for it
  }
  const ImageHeader header = ReadHeader(bytes, bigEndian);
  CImageWalk walk(store, bytes, size, header, copy);
  const int walked = (header.flags & kTraceBufferLinear) != 0 ? walk.Linear() : walk.Ring();
  store->m_sourceItemCount = walk.Found();
  if (refused != nullptr) {
    *refused = walk.Refused();
  }
  if (!walked) {
    DebugTraceA("ParseKeltImage, damaged image, %u records read", walk.Found());
  }
  return walked;
}

int LoadKtr(CTraceMgr* store, uint32_t* refused) {
  if (refused != nullptr) {
    *refused = 0;
  }
  CSourceFile file;
  if (!file.Open(store, kTraceHeaderSize, "LoadKtr")) {
    return 0;
  }
  // The mapping is read-only: records are deciphered in a private copy.
  return ParseKeltImage(store, file.Data(), file.Size(), 1, refused);
}
