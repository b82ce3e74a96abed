#include "formats/FileImage.h"

uint8_t* CFileImage::Read(uint64_t offset, size_t count) {
  const uint8_t* data = m_buffer.Data();
  const uint64_t filled = m_buffer.Size();
  if (data == nullptr || count > kBufferBytes || offset + count > m_size) {
    return nullptr;
  }
  // Keep what the buffer holds from offset on, then fill the rest.
  if (offset >= m_start && offset < m_start + filled) {
    m_buffer.Consume(size_t(offset - m_start));
  } else {
    m_buffer.Consume(m_buffer.Size());
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(m_file, to, nullptr, FILE_BEGIN)) {
      return nullptr;
    }
    m_position = offset;
  }
  m_start = offset;
  while (m_buffer.Size() < count) {
    const uint64_t left = m_size - m_position;
    const size_t room = kBufferBytes - m_buffer.Size();
    const DWORD want = DWORD(left < room ? left : room);
    uint8_t* target = m_buffer.Reserve(want);
    DWORD read = 0;
    if (want == 0 || target == nullptr || !ReadFile(m_file, target, want, &read, nullptr) || read == 0) {
      return nullptr;  // the file ended early or cannot be read
    }
    m_buffer.size += read;
    m_position += read;
  }
  return const_cast<uint8_t*>(m_buffer.Data());
}
