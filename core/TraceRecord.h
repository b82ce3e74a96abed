// The trace record and the trace buffer that holds records back to back.
// The same 48-byte header opens every store's buffer, a .ktr file and a
// writer's shared-memory ring, so the byte layout below is a file format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class CTraceBase;

constexpr uint8_t kTraceMagic[4] = {'K', 'E', 'L', 'T'};
constexpr uint16_t kTraceByteOrderMark = 0xFEFF;
constexpr uint8_t kTraceVersion = 3;
constexpr uint16_t kTraceHeaderSize = 48;
constexpr uint16_t kTraceBufferLinear = 0x0001;  // header flag: a file image

constexpr uint32_t kRecordFixedSize = 112;
constexpr uint32_t kNarrowHeadSize = 52;
constexpr uint32_t kMaxNarrowRecord = 12288;
constexpr uint32_t kRecordTimeTextUnits = 24;

// Level bits (bits 0 to 4 of the level word).
constexpr uint32_t kLevelDebug = 0x01;
constexpr uint32_t kLevelInfo = 0x02;
constexpr uint32_t kLevelWarning = 0x04;
constexpr uint32_t kLevelError = 0x08;
constexpr uint32_t kLevelPersonal = 0x10;
constexpr uint32_t kLevelMask = 0x1F;

// Seven bookmark colours live in bits 16 to 22 of the level word.
constexpr uint32_t kMarkFirstBit = 0x10000;
constexpr uint32_t kMarkMask = 0x7F0000;
constexpr int kMarkColours = 7;

// Record flags.
constexpr uint16_t kRecordStampValid = 0x0001;
constexpr uint16_t kRecordLive = 0x0002;

// String encodings and cipher kinds of a record.
constexpr uint8_t kRecordEncodingUtf16 = 2;
constexpr uint8_t kRecordCipherPlain = 0;

// Source types, set by the capture paths.
enum TraceSourceType : uint8_t {
  kSourceBuilt = 0,
  kSourceWriterRing = 1,
  kSourceCopyData = 2,
  kSourceOneRecordBuffer = 3,
  kSourceDebugOutput = 4,
  kSourceDescribedEvent = 5,
  kSourceQrvRecord = 6,
};

struct TraceBufferHeader {
  uint8_t magic[4];
  uint16_t byteOrderMark;
  uint8_t version;
  uint8_t fixedOne;       // always 1; copied, never tested
  uint16_t headerSize;    // also where a ring wraps to
  uint16_t flags;         // kTraceBufferLinear
  uint32_t capacity;      // whole buffer, header included
  uint32_t recordCount;
  uint32_t freeBytes;     // reservable at the write offset
  uint32_t end;           // where the ring's older part ends
  uint32_t first;         // oldest record
  uint32_t write;         // next record goes here
  uint32_t lastSequence;
  uint32_t generation;    // used by the writers' rings
  uint32_t reserved;

  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(this); }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(this); }
};

static_assert(sizeof(TraceBufferHeader) == 48);
static_assert(offsetof(TraceBufferHeader, byteOrderMark) == 4);
static_assert(offsetof(TraceBufferHeader, version) == 6);
static_assert(offsetof(TraceBufferHeader, fixedOne) == 7);
static_assert(offsetof(TraceBufferHeader, headerSize) == 8);
static_assert(offsetof(TraceBufferHeader, flags) == 10);
static_assert(offsetof(TraceBufferHeader, capacity) == 12);
static_assert(offsetof(TraceBufferHeader, recordCount) == 16);
static_assert(offsetof(TraceBufferHeader, freeBytes) == 20);
static_assert(offsetof(TraceBufferHeader, end) == 24);
static_assert(offsetof(TraceBufferHeader, first) == 28);
static_assert(offsetof(TraceBufferHeader, write) == 32);
static_assert(offsetof(TraceBufferHeader, lastSequence) == 36);
static_assert(offsetof(TraceBufferHeader, generation) == 40);
static_assert(offsetof(TraceBufferHeader, reserved) == 44);

// Records lie back to back and are only 4-byte aligned, so the struct is
// packed to 4: the compiler then never assumes 8-byte alignment for the
// group-name pointer.
#pragma pack(push, 4)
struct TraceRecord {
  uint16_t length;          // whole record, rounded up to 4
  uint8_t version;
  uint8_t sourceType;       // TraceSourceType
  uint16_t flags;           // kRecordStampValid, kRecordLive
  uint8_t encoding;         // kRecordEncodingUtf16 in memory
  uint8_t cipherKind;       // kRecordCipherPlain in memory
  uint32_t level;           // level bit and mark bits
  uint32_t pid;
  uint32_t tid;
  uint32_t sequence;
  uint32_t time;            // seconds since 1970, shown in local time
  uint16_t milliseconds;
  uint16_t moduleOffset;
  uint16_t hintOffset;
  uint16_t messageOffset;
  uint32_t stampLow;
  uint32_t stampHigh;
  uint32_t sessionId;
  uint16_t subNameOffset;
  uint16_t reserved;
  uint32_t groupFlag;       // component-group bit of the module
  const wchar_t* groupName; // valid in memory only
  wchar_t timeText[kRecordTimeTextUnits];

  uint64_t Stamp() const { return (uint64_t(stampHigh) << 32) | stampLow; }
  void SetStamp(uint64_t stamp) {
    stampLow = uint32_t(stamp);
    stampHigh = uint32_t(stamp >> 32);
  }

  const wchar_t* StringAt(uint16_t offset) const {
    return reinterpret_cast<const wchar_t*>(reinterpret_cast<const uint8_t*>(this) + offset);
  }
  const wchar_t* ProcThreadText() const { return StringAt(kRecordFixedSize); }
  const wchar_t* Module() const { return StringAt(moduleOffset); }
  const wchar_t* Hint() const { return StringAt(hintOffset); }
  const wchar_t* Message() const { return StringAt(messageOffset); }
  const wchar_t* SubName() const { return StringAt(subNameOffset); }

  static bool IsMarked(const TraceRecord* record) { return (record->level & kMarkMask) != 0; }
  bool IsMarked() const { return IsMarked(this); }
};
#pragma pack(pop)

static_assert(sizeof(TraceRecord) == kRecordFixedSize);
static_assert(alignof(TraceRecord) == 4);
static_assert(offsetof(TraceRecord, version) == 2);
static_assert(offsetof(TraceRecord, sourceType) == 3);
static_assert(offsetof(TraceRecord, flags) == 4);
static_assert(offsetof(TraceRecord, encoding) == 6);
static_assert(offsetof(TraceRecord, cipherKind) == 7);
static_assert(offsetof(TraceRecord, level) == 8);
static_assert(offsetof(TraceRecord, pid) == 12);
static_assert(offsetof(TraceRecord, tid) == 16);
static_assert(offsetof(TraceRecord, sequence) == 20);
static_assert(offsetof(TraceRecord, time) == 24);
static_assert(offsetof(TraceRecord, milliseconds) == 28);
static_assert(offsetof(TraceRecord, moduleOffset) == 30);
static_assert(offsetof(TraceRecord, hintOffset) == 32);
static_assert(offsetof(TraceRecord, messageOffset) == 34);
static_assert(offsetof(TraceRecord, stampLow) == 36);
static_assert(offsetof(TraceRecord, stampHigh) == 40);
static_assert(offsetof(TraceRecord, sessionId) == 44);
static_assert(offsetof(TraceRecord, subNameOffset) == 48);
static_assert(offsetof(TraceRecord, reserved) == 50);
static_assert(offsetof(TraceRecord, groupFlag) == 52);
static_assert(offsetof(TraceRecord, groupName) == 56);
static_assert(offsetof(TraceRecord, timeText) == 64);

// Writes a fresh header for a buffer of `capacity` bytes (header included).
void InitBufferHeader(TraceBufferHeader* header, uint32_t capacity);

// Empties the buffer but keeps the last sequence, so numbers keep rising.
void ResetBufferHeader(TraceBufferHeader* header);

// Reserves `bytes` at the write offset, asking the store to grow first when
// the free bytes are fewer. Null when the store cannot make room; the store
// must already have a buffer.
TraceRecord* AllocRecord(CTraceBase* store, uint32_t bytes);

// Sets one colour's mark (colours outside 0..6 mean 0), or with set == 0
// clears all seven.
void SetRecordMark(TraceRecord* record, int set, int colour);

// Clears the marks of every record of the store's buffer.
void ClearAllMarks(CTraceBase* store);

// Visits the records of a buffer in ring order. A linear buffer never
// reaches its end, so the same walk serves both kinds. The walk stops early
// (Next() returns null) at a record whose length would leave the buffer, so a
// damaged buffer is never read past its capacity.
class CTraceRingWalker {
 public:
  explicit CTraceRingWalker(const TraceBufferHeader* header);
  // The next record, or null after the last one.
  TraceRecord* Next();
  uint32_t Offset() const { return m_offset; }

 private:
  const TraceBufferHeader* m_header;
  uint32_t m_offset;
  uint32_t m_left;
};

// What a release of the oldest records dropped: `dropped` records lying in
// [low, high) of the buffer's bytes.
struct TraceRingRelease {
  uint32_t dropped = 0;
  const uint8_t* low = nullptr;
  const uint8_t* high = nullptr;
};

using TraceRecordCallback = void (*)(void* context, TraceRecord* record);

// One pass of releasing a ring's oldest records until `needed` bytes are free
// at the write offset or the older part of the ring is used up. When the
// oldest record lies at the wrap start the ring first starts its next lap at
// the front. `onDrop` (may be null) sees each record before it is dropped.
TraceRingRelease ReleaseOldestRecords(TraceBufferHeader* header, uint32_t needed,
                                      TraceRecordCallback onDrop, void* context);

// Checks the ring invariants; used by tests and debug checks. Returns 1 when
// the header and the records agree.
int CheckRingInvariants(const TraceBufferHeader* header);
