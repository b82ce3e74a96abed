// The older shared-memory sources as their writers fill them: the record
// region of scrambled, time-stamped text ("TalMoTraceFileStone") and the
// process table ("KelTraceManager") with one region of big-endian event
// rings per process ("KelTraceFile_<pid>"). Each region is guarded by a
// mutex named after it with "Mutex" appended.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/RecordImport.h"
#include "tools/trace-writer/WriterOptions.h"

// Record region: u32 used bytes at 4, records from 8, each a u16 text
// length, the u32 pid, the SYSTEMTIME (local) and the scrambled text.
constexpr uint32_t kQrvUsedOffset = 4;
constexpr uint32_t kQrvRecordsOffset = 8;
constexpr uint32_t kQrvRecordHead = kQrvTextOffset;
constexpr uint32_t kQrvMinRegion = 4096;
// A hostile text length (bad-count).
constexpr uint16_t kQrvHostileLength = 0xFFFF;

class CQrvRegion {
 public:
  CQrvRegion(uint8_t* base, uint32_t size) : m_base(base), m_size(size) {}
  // Appends one record, starting over at the front when the region is
  // full. The time rises by at least a millisecond per record unless
  // `sameAsLast`. False when the record can never fit.
  bool Append(uint32_t pid, const char* text, uint16_t length, bool sameAsLast);
  // bad-end: the used length passes the region; bad-count: the last
  // record's text length runs past it.
  void ApplyFault(WriterFault fault);
  uint32_t Used() const;

 private:
  uint8_t* m_base;
  uint32_t m_size;
  uint32_t m_lastRecord = 0;  // offset of the newest record, 0 before the first
  uint64_t m_lastTime = 0;    // FILETIME of the newest record
};

// Process table: 100 u32 slots, 0 or a big-endian pid.
constexpr uint32_t kQrcTableSlots = 100;
constexpr uint32_t kQrcTableBytes = kQrcTableSlots * sizeof(uint32_t);
// A pid no process has (dead-pid).
constexpr uint32_t kQrcDeadPid = 0x7FFFFFFC;

// Puts `pid` into the first free slot unless it is listed already. False
// when the table is full.
bool RegisterQrcPid(uint8_t* table, uint32_t pid);

// Per-process region: a 112-byte header (descriptor count at 2, big-endian
// pid at 4, base time at 16, millisecond counters at 20 and 24), one
// descriptor at 32 naming ring 0 at kQrcRingOffset inside two areas of the
// same size from kQrcAreaOffset; each ring is a big-endian u32 size, write
// and start, then its bytes.
constexpr uint32_t kQrcHeaderBytes = 112;
constexpr uint32_t kQrcAreaOffset = 256;
constexpr uint32_t kQrcRingOffset = 16;
constexpr uint32_t kQrcRingHead = 12;
constexpr uint32_t kQrcMinRegion = 4096;
constexpr uint16_t kQrcMinEvent = 12;
// The argument mask of the writer's events: a number, then a text.
constexpr uint16_t kQrcNumberThenText = 0x9;
// The longest text argument the writer puts in an event.
constexpr size_t kQrcMaxText = 200;

// Writes the header, the descriptor and two empty rings; bad-offset and
// bad-size damage the descriptor or the ring size as named.
void InitQrcRegion(uint8_t* region, uint32_t size, uint32_t pid, uint32_t baseTime, WriterFault fault);
// Bytes of a ring in an area of a region of `size` bytes.
uint32_t QrcRingBytes(uint32_t size);
// The ring of `area` (0 log, 1 trace).
uint8_t* QrcRing(uint8_t* region, uint32_t size, uint32_t area);

// Builds one described event: big-endian length, level, event number,
// millisecond offset, thread id, mask, the number and the text (with its
// NUL). Returns its length, or 0 when `room` is too small.
size_t BuildQrcEvent(uint8_t* out, size_t room, uint8_t level, uint8_t event, uint32_t msOffset, uint16_t tid,
                     uint32_t number, const char* text);

// Appends bytes to a ring, wrapping at its size. False when they can never
// fit (more than the ring holds).
bool AppendQrcBytes(uint8_t* ring, const uint8_t* bytes, uint32_t length);

// The area an event of `sequence` goes to: every fourth to the log area 0,
// the rest to the trace area 1.
uint32_t QrcAreaOf(uint32_t sequence);

// Object names of these sources, "Global\" and "_<tag>" as asked.
std::wstring QrcTableName(bool global, const std::wstring& tag);
std::wstring QrcRegionName(bool global, uint32_t pid, const std::wstring& tag);
std::wstring QrvRegionName(const std::wstring& tag);

int RunQrvWriter(const WriterOptions& options, uint32_t* written, std::wstring* error);
int RunQrcWriter(const WriterOptions& options, uint32_t* written, std::wstring* error);
