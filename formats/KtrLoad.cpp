// The reader of KELT images: .ktr files and images held in memory.
#include <windows.h>

#include <cstring>
#include <type_traits>

#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "formats/FileImage.h"
#include "formats/Ktr.h"
#include "formats/SourceFile.h"
#include "formats/StoreToucher.h"

namespace {

constexpr uint32_t kPercent = 100;
constexpr uint32_t kImportAllGroups = 0;
// A stored record takes its 112-byte head (its length rounded up to 4), the
// "[pid:tid]" text, a terminator per string, and each string byte of the
// narrow record as at most one UTF-16 unit: about twice the narrow length
// plus this much.
constexpr uint64_t kProcThreadTextBytes = sizeof(L"[4294967295:4294967295]");
constexpr uint64_t kStringTerminatorBytes = 4 * sizeof(wchar_t);
constexpr uint64_t kLengthRounding = 3;
constexpr uint64_t kStoredBytesOverNarrow =
    kRecordFixedSize + kLengthRounding + kProcThreadTextBytes + kStringTerminatorBytes - 2 * kNarrowHeadSize;
// The 32-bit capacity of a store, with room to spare.
constexpr uint64_t kLargestReservation = 0xF0000000ull;

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

  // Helper threads touch the store's reserved pages ahead of the records:
  // a fresh store's first write to each page costs more than the record.
  void StartTouching() { m_toucher.Start(m_store); }

  // Each walk returns 1 when every record the header promises was found,
  // 0 at the first damaged record or header field (records before it stay).
  int Ring();
  template <typename Image>
  int Linear(Image& image);
  uint32_t Found() const { return m_found; }
  uint32_t Refused() const { return m_refused; }

 private:
  // Length of a record that lies whole in [offset, limit); 0 when it does not.
  uint32_t RecordLength(uint64_t offset, uint64_t limit) const;
  // The same for a record whose first two bytes are at `at`.
  uint32_t LengthAt(const uint8_t* at, uint64_t offset, uint64_t limit) const;
  void Import(const uint8_t* record, int copy);

  CTraceMgr* m_store;
  const uint8_t* m_bytes;
  size_t m_size;
  ImageHeader m_header;
  int m_copy;
  CStoreToucher m_toucher;
  uint32_t m_found = 0;
  uint32_t m_refused = 0;
};

uint32_t CImageWalk::RecordLength(uint64_t offset, uint64_t limit) const {
  if (offset + sizeof(uint16_t) > limit) {
    return 0;
  }
  return LengthAt(m_bytes + offset, offset, limit);
}

uint32_t CImageWalk::LengthAt(const uint8_t* at, uint64_t offset, uint64_t limit) const {
  const uint32_t length = Load16(at, m_header.bigEndian);
  // Below the smallest narrow record (zero included) the walk would not move on.
  if (length < kMinNarrowRecord || offset + length > limit) {
    return 0;
  }
  return length;
}

void CImageWalk::Import(const uint8_t* record, int copy) {
  ++m_found;
  m_toucher.BeforeRecord(m_store);
  TraceRecord* stored = nullptr;
  if (m_header.bigEndian) {
    // Big-endian images come from the other byte order's writers, which may
    // register block words: every record is scanned before it is built.
    CTraceMgr::AddNetRecord(m_store, kImportAllGroups, record, kModeScan);
    stored = CTraceMgr::AddNetRecord(m_store, kImportAllGroups, record, kModeBuild);
  } else {
    stored = CTraceMgr::AddRecord(m_store, kImportAllGroups, record, copy, kModeBuild);
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
    Import(m_bytes + offset, m_copy);
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

template <typename Image>
int CImageWalk::Linear(Image& image) {
  const uint64_t size = image.Size();
  if (m_header.first < kTraceHeaderSize || m_header.first > size) {
    return 0;
  }
  // Records read from a file lie in our own buffer and may be deciphered there.
  const int copy = std::is_same_v<Image, CFileImage> ? 0 : m_copy;
  const uint64_t step = size / kPercent != 0 ? size / kPercent : 1;
  uint64_t offset = m_header.first;
  uint64_t nextStep = 0;  // the offset where the percentage changes next
  while (offset + kNarrowHeadSize < size) {
    if (offset >= nextStep) {
      m_store->SetProgress(uint32_t(offset / step));
      nextStep = (offset / step + 1) * step;
    }
    const uint8_t* at = image.At(offset, sizeof(uint16_t));
    const uint32_t length = at != nullptr ? LengthAt(at, offset, size) : 0;
    const uint8_t* record = length != 0 ? image.At(offset, length) : nullptr;
    if (record == nullptr) {
      return 0;  // a record cut by the end of the image, or a damaged length
    }
    Import(record, copy);
    offset += length;
  }
  // Bytes left that cannot hold a record are the start of a cut one.
  return offset == size ? 1 : 0;
}

// What the records of a linear image will take in the store, from the
// lengths of the records in the first file buffer's worth of the image,
// scaled to the whole image with some room to spare. Only an estimate: the store still
// grows when the records need more.
template <typename Image>
uint64_t EstimateStoredBytes(Image& image, const ImageHeader& header) {
  constexpr uint64_t kSpareEighths = 9;  // an eighth more than the sample says
  constexpr uint64_t kEighths = 8;
  const uint64_t size = image.Size();
  const uint64_t sampleEnd = size < CFileImage::kBufferBytes ? size : CFileImage::kBufferBytes;
  uint64_t stored = 0;
  uint64_t offset = header.first;
  while (offset + kNarrowHeadSize < sampleEnd) {
    const uint8_t* at = image.At(offset, sizeof(uint16_t));
    const uint32_t length = at != nullptr ? Load16(at, header.bigEndian) : 0;
    if (length < kMinNarrowRecord || offset + length > sampleEnd) {
      break;
    }
    stored += 2 * uint64_t(length) + kStoredBytesOverNarrow;
    offset += length;
  }
  const uint64_t sampled = offset > header.first ? offset - header.first : 0;
  if (sampled == 0 || offset >= size) {
    return kTraceHeaderSize + stored;  // the whole file, or nothing to go by
  }
  return kTraceHeaderSize + stored * (size - header.first) / sampled * kSpareEighths / kEighths;
}

// One reservation that the records of a linear image fill: growing on the
// way would copy the store again at every step. A ring, or an image whose
// records cannot be sampled, reserves its own size. 1 or 0.
template <typename Image>
int ReserveForRecords(CTraceMgr* store, Image& image, const ImageHeader& header) {
  const uint64_t bytes = image.Size();
  const uint64_t estimate = (header.flags & kTraceBufferLinear) != 0 ? EstimateStoredBytes(image, header) : 0;
  const bool reserved = estimate > bytes && estimate < kLargestReservation && store->GrowBuffer(uint32_t(estimate));
  return reserved || store->GrowBuffer(uint32_t(bytes)) ? 1 : 0;
}

enum class HeaderCheck { kBad, kUnknownOrder, kGood };

// The header's magic, version and byte order.
HeaderCheck CheckHeader(const uint8_t* bytes, ImageHeader* header) {
  if (std::memcmp(bytes, kTraceMagic, sizeof(kTraceMagic)) != 0 ||
      bytes[offsetof(TraceBufferHeader, version)] != kTraceVersion) {
    return HeaderCheck::kBad;
  }
  const uint8_t* mark = bytes + offsetof(TraceBufferHeader, byteOrderMark);
  bool bigEndian = false;
  if (std::memcmp(mark, kMarkBig, sizeof(kMarkBig)) == 0) {
    bigEndian = true;
  } else if (std::memcmp(mark, kMarkLittle, sizeof(kMarkLittle)) != 0) {
    return HeaderCheck::kUnknownOrder;
  }
  *header = ReadHeader(bytes, bigEndian);
  return HeaderCheck::kGood;
}

// What every walk leaves behind: the count found, the count refused.
int FinishWalk(CTraceMgr* store, const CImageWalk& walk, int walked, uint32_t* refused) {
  store->m_sourceItemCount = walk.Found();
  if (refused != nullptr) {
    *refused = walk.Refused();
  }
  if (!walked) {
    DebugTraceA("ParseKeltImage, damaged image, %u records read", walk.Found());
  }
  return walked;
}

// A linear image read from the file through its buffer, into a store
// reserved once for all of it. -1 when the file is no linear image of a
// known byte order (the caller maps it instead).
int LoadLinearKtr(CTraceMgr* store, HANDLE file, uint32_t bytes, uint32_t* refused) {
  CFileImage image(file, bytes);
  const uint8_t* head = image.At(0, kTraceHeaderSize);
  ImageHeader header;
  if (head == nullptr || CheckHeader(head, &header) != HeaderCheck::kGood ||
      (header.flags & kTraceBufferLinear) == 0) {
    return -1;
  }
  if (!ReserveForRecords(store, image, header)) {
    return 0;
  }
  CImageWalk walk(store, nullptr, bytes, header, 0);
  walk.StartTouching();
  return FinishWalk(store, walk, walk.Linear(image), refused);
}

}  // namespace

int ReserveForKeltImage(CTraceMgr* store, const void* image, size_t size) {
  if (store == nullptr || image == nullptr || size > kMaxKtrFileSize) {
    return 0;
  }
  const auto* bytes = static_cast<const uint8_t*>(image);
  ImageHeader header;
  if (size >= kTraceHeaderSize && CheckHeader(bytes, &header) == HeaderCheck::kGood) {
    CMemoryImage memory(bytes, size);
    return ReserveForRecords(store, memory, header);
  }
  return store->GrowBuffer(uint32_t(size));
}

int ParseKeltImage(CTraceMgr* store, const void* image, size_t size, int copy, uint32_t* refused) {
  if (refused != nullptr) {
    *refused = 0;
  }
  if (store == nullptr || image == nullptr || size < kTraceHeaderSize || size > kMaxKtrFileSize) {
    return 0;
  }
  const auto* bytes = static_cast<const uint8_t*>(image);
  ImageHeader header;
  switch (CheckHeader(bytes, &header)) {
    case HeaderCheck::kBad:
      return 0;
    case HeaderCheck::kUnknownOrder:
      store->m_sourceItemCount = 0;
      return 1;  // an image of no byte order this program knows holds no records for it
    case HeaderCheck::kGood:
      break;
  }
  CImageWalk walk(store, bytes, size, header, copy);
  walk.StartTouching();
  CMemoryImage memory(bytes, size);
  const int walked = (header.flags & kTraceBufferLinear) != 0 ? walk.Linear(memory) : walk.Ring();
  return FinishWalk(store, walk, walked, refused);
}

int LoadKtr(CTraceMgr* store, uint32_t* refused) {
  if (refused != nullptr) {
    *refused = 0;
  }
  CSourceFile file;
  if (!file.OpenForReading(store, kTraceHeaderSize)) {
    return 0;
  }
  const int linear = LoadLinearKtr(store, file.Handle(), file.Size(), refused);
  if (linear >= 0) {
    return linear;
  }
  // A ring (or a header the parser refuses) is walked in a mapping, which
  // is read-only: records are deciphered in a private copy.
  if (!file.Map(store, "LoadKtr")) {
    return 0;
  }
  return ParseKeltImage(store, file.Data(), file.Size(), 1, refused);
}
