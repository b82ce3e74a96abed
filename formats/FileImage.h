// The two ways a reader walks the bytes of a file: held whole in memory, or
// read front to back through one buffer, so that the walk touches no page
// of a mapping (each a fault of its own on the reading thread) and no memory
// of the file's size. Both hand out the bytes [offset, offset + count) of
// the image; the reader keeps every range inside Size().
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"

// An image held whole in memory, never written to.
class CMemoryImage {
 public:
  CMemoryImage(const uint8_t* bytes, size_t size) : m_bytes(bytes), m_size(size) {}
  uint64_t Size() const { return m_size; }
  const uint8_t* At(uint64_t offset, size_t count) const { return m_bytes + offset; }

 private:
  const uint8_t* m_bytes;
  size_t m_size;
};

// A file read through a buffer of its own, whose bytes the reader may change
// (records are deciphered where they lie).
class CFileImage {
 public:
  static constexpr size_t kBufferBytes = 4u << 20;

  // `file` (not owned) is read from `size` bytes long.
  CFileImage(HANDLE file, uint64_t size) : m_file(file), m_size(size), m_buffer(kBufferBytes) {}
  uint64_t Size() const { return m_size; }
  // The bytes asked for (count at most kBufferBytes), read when they are
  // not in the buffer yet; null when the file cannot give them. Earlier
  // pointers are invalid after a read.
  uint8_t* At(uint64_t offset, size_t count) {
    if (offset >= m_start && offset + count <= m_start + m_buffer.Size()) {
      return const_cast<uint8_t*>(m_buffer.Data()) + (offset - m_start);
    }
    return Read(offset, count);
  }

 private:
  uint8_t* Read(uint64_t offset, size_t count);

  HANDLE m_file;
  uint64_t m_size;
  CByteBuffer m_buffer;
  uint64_t m_start = 0;     // file offset of the buffer's first byte
  uint64_t m_position = 0;  // file offset of the next read
};
