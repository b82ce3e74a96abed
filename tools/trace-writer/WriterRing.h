// The writer's side of a shared ring: a TraceBufferHeader and narrow records
// back to back, appended under the writer's mutex. When the ring is full the
// oldest records go, as a traced program does it: a reader that fell behind
// loses them and can tell by the sequence numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/TraceRecord.h"
#include "tools/trace-writer/WriterOptions.h"

// Bytes of the slot a zero-length record occupies.
constexpr uint32_t kZeroLengthSlot = 64;

// True when the header describes a ring this writer can append to inside
// `mappedBytes`: magic, version, sizes and offsets in range. Looks at the
// header only, so it costs the same for any ring.
bool IsSoundWriterRing(const TraceBufferHeader* header, size_t mappedBytes);

// A fresh ring of `capacity` bytes with the given generation.
void InitWriterRing(TraceBufferHeader* header, uint32_t capacity, uint32_t generation);

// Appends a record of `length` bytes, releasing the oldest records first
// when the ring is full, and stamps it with the ring's next sequence number.
// Returns the new record's sequence, or 0 when the record can never fit.
// `released` (may be null) is increased by the records dropped.
uint32_t AppendRingRecord(TraceBufferHeader* header, const uint8_t* record, uint32_t length, uint32_t* released);

// Reserves a record of `length` bytes the same way without filling it; the
// caller writes it. Null when it can never fit.
uint8_t* ReserveRingRecord(TraceBufferHeader* header, uint32_t length, uint32_t* released);

// Damages the ring the way `fault` says (bad-magic, bad-version, bad-end,
// bad-count, zero-length, new-generation); other faults leave it alone.
// Returns true when the fault is one of these.
bool ApplyRingFault(TraceBufferHeader* header, WriterFault fault);
