// The binary trace file (.ktr) and the narrow record form.
//
// A .ktr file is a KELT image: the 48-byte TraceBufferHeader followed by
// narrow records, either linearly (every image this program writes) or as a
// ring (images of capture buffers). A narrow record is the file and wire form
// of a stored record: the same 52-byte head, then UTF-8 strings (module text,
// hint, message, sub-name), padded to 16 bytes and enciphered with AES-256-CBC
// under the record key; at most 12288 bytes.
//
// The reader trusts nothing in the image: header offsets are checked against
// the image size, every record must lie inside the image, a ring is walked at
// most once around, and a damaged record ends the walk with a failure result
// while the records stored before it stay in the store.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/TraceRecord.h"

class CTraceMgr;
class CTraceView;

// Bytes of the narrow head that precede the string area.
constexpr uint32_t kNarrowAreaOffset = kNarrowHeadSize;
// The string area is padded to this, so AES-CBC needs no padding of its own.
constexpr uint32_t kNarrowAreaAlign = 16;
// The module text ("module" or "module@sub-name") in bytes, NUL excluded.
constexpr uint32_t kNarrowModuleTextBytes = 127;
// Every caller converts with this limit and a buffer of this size.
constexpr uint32_t kNarrowRecordLimit = kMaxNarrowRecord;
// Narrow records are 4 here: UTF-8 strings, AES-256 under the record key.
constexpr uint8_t kNarrowWrittenEncoding = 4;
constexpr uint8_t kNarrowWrittenCipher = 4;
// A file must hold the header and stay below 4 GiB - 1 bytes.
constexpr uint64_t kMaxKtrFileSize = 0xFFFFFFFEull;

// Builds the narrow form of a stored record into `output`, which has room for
// `limit` bytes, and returns `output`. A message that would make the record
// longer than the limit is cut on a character boundary. Null (output
// undefined) for a null or damaged record, or a limit too small for the
// record's names.
uint8_t* ToNarrowRecord(uint8_t* output, uint32_t limit, const TraceRecord* record);

// The header of a linear image made from a store's header (null: a store
// that never held a record): capacity, count, generation and the last word
// are kept, the offsets are those of records following the header.
void MakeLinearHeader(const TraceBufferHeader* live, TraceBufferHeader* header);

// Appends a linear KELT image of the whole store (view null: its records in
// ring order) or of one view (its records in view order) to `out`. The header
// keeps the store's capacity and generation; its record count is the number
// of records written (readers of a linear image count them themselves). Progress goes to the store or to
// the view. The caller holds the store's shared lock. Returns the store's
// AfterWrite result, or 0 when an append came up short or a record could not
// be converted.
int WriteKeltImage(CTraceMgr* store, CByteBuffer& out, CTraceView* view);

// Takes an image piece by piece: Room gives a place for at most
// kNarrowRecordLimit bytes (null ends the image with 0), Advance counts the
// bytes then written there.
class IKeltImageSink {
 public:
  virtual uint8_t* Room(size_t bytes) = 0;
  virtual void Advance(size_t bytes) = 0;

 protected:
  ~IKeltImageSink() = default;
};

// The same image handed to `sink` as it is made, so no copy of it is held.
int WriteKeltImage(CTraceMgr* store, IKeltImageSink& sink, CTraceView* view);

// Writes that image to `path`, replacing any file there. The image goes to a
// temporary file beside the target that replaces it only when every byte was
// written, so a failed save leaves the old file (or none) and never a partial
// one. 1 on success, 0 otherwise.
int SaveKtr(CTraceMgr* store, const wchar_t* path, CTraceView* view);

// Reads the store's own path (m_filePath) as a KELT image into the store.
// 1, or 0 when the file cannot be read, is shorter than the header or too
// large, the store cannot reserve its size, or the image is damaged (the
// records read before the damage stay).
// `refused` (may be null) receives the number of records found in the image
// that the importers did not store.
int LoadKtr(CTraceMgr* store, uint32_t* refused = nullptr);

// Reserves room in the store for the records of an image held in memory:
// their estimated stored size for a linear image, else the image's size.
// 1, or 0 when nothing could be reserved or the image is too large.
int ReserveForKeltImage(CTraceMgr* store, const void* image, size_t size);

// Walks an image held in memory and stores its records, counting each in the
// store's per-process statistics; the number of records found goes to the
// store's m_sourceItemCount. With `copy` non-zero the image is never written
// to (enciphered records are deciphered in a private copy). 1, or 0 for a
// missing image, a bad magic or version, a header that contradicts itself or
// the image size, or a damaged record (the records before it stay). An
// unknown byte-order mark gives 1 and no records. A ring's record count is
// capped at what the image can hold. `refused` (may be null) receives the
// number of records found that the importers did not store (0 when the
// image was not walked).
int ParseKeltImage(CTraceMgr* store, const void* image, size_t size, int copy, uint32_t* refused = nullptr);
