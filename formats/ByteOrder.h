// Unaligned loads of file fields in a stated byte order.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t LoadBig16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t LoadBig32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t LoadLittle16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadLittle32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
// A field the writer left in this machine's order.
inline uint32_t LoadHost32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}
