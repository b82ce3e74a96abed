// Synthetic trace files for benchmarks and scripts: N varied records (names
// with and without sub-names, empty and non-empty hints, short and long
// messages, non-ASCII text and surrogate pairs, every level), the same
// records for the same seed.
#pragma once

#include <cstdint>

class CTraceMgr;

// Appends `count` records to the store, which must already have a buffer.
// Returns how many were stored; fewer than asked means the store is full.
uint32_t GenerateRecords(CTraceMgr* store, uint32_t count, uint32_t seed);
