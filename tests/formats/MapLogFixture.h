// Described events, .kdv and .kmp files built by hand from their layouts.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/Cipher.h"
#include "core/RecordImport.h"
#include "formats/EventDesc.h"
#include "formats/MapLogs.h"

using Bytes = std::vector<uint8_t>;

inline void AppendBig16(Bytes& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline void AppendBig32(Bytes& out, uint32_t v) {
  AppendBig16(out, v >> 16);
  AppendBig16(out, v);
}
inline void AppendLittle32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void PutBig16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void PutBig32(uint8_t* p, uint32_t v) {
  PutBig16(p, v >> 16);
  PutBig16(p + 2, v);
}
inline void PutHost32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// One argument of a described event.
struct EventArg {
  uint32_t type;  // 0 none, 1 number, 2 text, 3 bytes
  uint32_t number = 0;
  Bytes bytes;
};
inline EventArg Number(uint32_t v) { return {1, v, {}}; }
inline EventArg Text(const std::string& s, bool terminated = true) {
  Bytes b(s.begin(), s.end());
  if (terminated) b.push_back(0);
  return {2, 0, b};
}
inline EventArg Array(const Bytes& b) { return {3, 0, b}; }
inline EventArg NoArgument() { return {0, 0, {}}; }

struct EventSpec {
  uint8_t level = 1;
  uint8_t event = 1;
  uint32_t milliseconds = 0;
  uint16_t tid = 77;
  std::vector<EventArg> args;
};

// The event as a writer lays it out; its length field counts its bytes.
inline Bytes DescribedEvent(const EventSpec& spec) {
  Bytes e;
  AppendBig16(e, 0);
  e.push_back(spec.level);
  e.push_back(spec.event);
  AppendBig32(e, spec.milliseconds);
  AppendBig16(e, spec.tid);
  uint32_t mask = 0;
  for (size_t i = 0; i < spec.args.size(); ++i) mask |= spec.args[i].type << (2 * i);
  AppendBig16(e, mask);
  for (const EventArg& a : spec.args) {
    if (a.type == 1) AppendBig32(e, a.number);
    if (a.type >= 2) {
      AppendBig16(e, uint32_t(a.bytes.size()));
      e.insert(e.end(), a.bytes.begin(), a.bytes.end());
    }
  }
  PutBig16(e.data(), uint32_t(e.size()));
  return e;
}

struct SourceSpec {
  uint32_t pid = 4321;
  uint32_t baseTime = 1700000000;
  uint32_t counter = 5000;
  uint32_t counterBase = 2000;
};

// The 112-byte header with the words the decoder reads in host order (a
// .kdv file's) or big-endian (a map log's); `fill` for the other bytes.
inline Bytes SourceHeader(const SourceSpec& s, bool bigEndian, uint8_t fill) {
  Bytes h(kSourceHeaderSize, fill);
  auto put = bigEndian ? PutBig32 : PutHost32;
  put(&h[kSourcePidOffset], s.pid);
  put(&h[kSourceBaseTimeOffset], s.baseTime);
  put(&h[kSourceCounterOffset], s.counter);
  put(&h[kSourceCounterBaseOffset], s.counterBase);
  return h;
}
inline Bytes HostSourceHeader(const SourceSpec& s) { return SourceHeader(s, false, 0xCC); }

// Sized once and copied into, for the reason KmpArea gives.
inline Bytes Concat(const std::vector<Bytes>& parts) {
  size_t total = 0;
  for (const Bytes& p : parts) total += p.size();
  Bytes out(total);
  size_t at = 0;
  for (const Bytes& p : parts) {
    if (!p.empty()) std::memcpy(out.data() + at, p.data(), p.size());
    at += p.size();
  }
  return out;
}

// A .kdv block; `lengthField` replaces the payload length when not -1.
inline void AppendKdvBlock(Bytes& file, uint8_t module, uint8_t area, const Bytes& payload,
                           int64_t lengthField = -1) {
  file.push_back(module);
  file.push_back(area);
  AppendLittle32(file, lengthField < 0 ? uint32_t(payload.size()) : uint32_t(lengthField));
  file.insert(file.end(), payload.begin(), payload.end());
}

// A per-process text record, its text scrambled as the writers store it.
inline Bytes PerProcessRecord(uint32_t pid, const std::string& text) {
  Bytes r(kQrvTextOffset, 0);
  const uint16_t length = uint16_t(text.size());
  std::memcpy(&r[0], &length, 2);
  std::memcpy(&r[kQrvPidOffset], &pid, 4);
  const SYSTEMTIME when = {2021, 6, 2, 1, 12, 0, 0, 123};
  std::memcpy(&r[kQrvTimeOffset], &when, sizeof(when));
  Bytes scrambled(text.begin(), text.end());
  UnscrambleBytes(scrambled.data(), scrambled.size());  // the scrambler is its own inverse
  r.insert(r.end(), scrambled.begin(), scrambled.end());
  return r;
}

// A .kmp area: capacity, end, start, then the circular data.
// Data beyond the capacity is cut off. Sized once and filled in place:
// growing the header by insert draws a false bounds warning from GCC at -O3.
inline Bytes KmpArea(uint32_t capacity, uint32_t end, uint32_t start, const Bytes& data) {
  Bytes a(kKmpAreaHeaderSize + capacity, 0);
  PutBig32(&a[0], capacity);
  PutBig32(&a[4], end);
  PutBig32(&a[8], start);
  const size_t kept = data.size() < capacity ? data.size() : capacity;
  if (kept != 0) {
    std::memcpy(a.data() + kKmpAreaHeaderSize, data.data(), kept);
  }
  return a;
}

// A .kmp area whose circular data holds `stream` wrapped: its first bytes
// from `start` up to the capacity, the rest from 0 on, `fill` in between.
inline Bytes WrappedKmpArea(const Bytes& stream, uint32_t capacity, uint32_t start, uint8_t fill) {
  const size_t older = capacity - start;  // the bytes before the wrap
  Bytes ring(capacity, fill);
  std::copy(stream.begin(), stream.begin() + older, ring.begin() + start);
  std::copy(stream.begin() + older, stream.end(), ring.begin());
  return KmpArea(capacity, uint32_t(stream.size() - older), start, ring);
}

struct KmpEntry {
  uint32_t base = 0;
  uint32_t areaOffset = 0;
  uint32_t logLength = 0;
  uint32_t traceLength = 0;
};

// The big-endian header of a map log with up to four entries.
inline Bytes KmpHeader(const SourceSpec& s, uint8_t count, const std::vector<KmpEntry>& entries) {
  Bytes h = SourceHeader(s, true, 0);
  h[2] = count;
  for (size_t i = 0; i < entries.size() && i < kKmpMaxModules; ++i) {
    uint8_t* e = &h[32 + 20 * i];
    PutBig32(e + 4, entries[i].base);
    PutBig32(e + 8, entries[i].areaOffset);
    PutBig32(e + 12, entries[i].logLength);
    PutBig32(e + 16, entries[i].traceLength);
  }
  return h;
}
