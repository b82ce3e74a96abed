// Debug-view captures (.kdv) and map logs (.kmp): two binary formats that
// carry described events (formats/EventDesc.h) decoded with the embedded
// event-description document g_eventDescriptions.
//
// .kdv, little-endian: a 112-byte source header, then blocks until the end
// of the file: u8 module number (0x64 "d": the payload is one per-process
// text record), u8 area number (0 log, 1 trace), u32 payload length (not
// aligned), payload. A described-event payload holds events back to back.
//
// .kmp, big-endian: the source header (module count at byte 2, up to four
// 20-byte module entries from offset 32: base of the module's data (0 =
// absent), offset of the log area from the base, log-area length, trace-area
// length; the trace area follows the log area). An area is u32 capacity,
// u32 end, u32 start and `capacity` bytes of circular event data.
//
// The readers trust nothing in the file: a block header is read only when it
// fits, lengths and offsets are checked in 64 bits, no event runs past its
// block, area or the file. Records stored before a fault stay in the store;
// the reader then returns 0 so the fault is not taken for a whole file.
#pragma once

#include <cstddef>
#include <cstdint>

class CTraceMgr;
struct CKmpReading;

constexpr uint8_t kKdvRecordBlock = 0x64;
constexpr uint32_t kKdvBlockHeaderSize = 6;
constexpr uint32_t kKmpMaxModules = 4;
constexpr uint32_t kKmpAreaHeaderSize = 12;

// Reads the store's own path (m_filePath) as a .kdv file. 1 when every block
// was read (a file of just the header included); 0 when the file cannot be
// opened or mapped, is shorter than the header or too large, or a block is
// cut by the end of the file (the records before it stay).
int LoadKdv(CTraceMgr* store);
// The same over bytes held in memory, never written to.
int ParseKdvImage(CTraceMgr* store, const uint8_t* bytes, size_t size);

// Reads the store's own path as a .kmp file. 1 when every module entry was
// read (absent modules and empty or invalid areas are skipped); 0 when the
// file cannot be opened, is shorter than the header or too large, names more
// than four modules (nothing is read), or an area lies outside the file (the
// other areas are still read).
int LoadKmp(CTraceMgr* store);
// The same over bytes held in memory, never written to.
int ParseKmpImage(CTraceMgr* store, const uint8_t* bytes, size_t size);

// Decodes one area whose first byte is `area`, with `span` bytes of the file
// from there on. `header` is the source header with its words in host order.
// 1 when decoded; 0 for an empty or invalid area (capacity 0, end or start
// not below capacity, end equal to start); -1 when the area's header or data
// lie outside the span or its buffer cannot be had. The reader of a whole
// file passes its `reading` state (the store's page toucher, the lookups of
// earlier areas).
int LoadKmpArea(CTraceMgr* store, const uint8_t* area, uint64_t span, const uint8_t* header, uint32_t moduleIndex,
                uint32_t areaIndex, CKmpReading* reading = nullptr);
