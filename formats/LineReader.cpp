// Chunked line reading and UTF-8 decoding for the text-family readers.
#include "formats/LineReader.h"

#include <emmintrin.h>

#include <cstring>
#include <new>

#include "core/StrUtil.h"
#include "core/SysUtil.h"

namespace {

constexpr ptrdiff_t kVectorBytes = 16;
constexpr wchar_t kReplacementCharacter = 0xFFFD;

// Length of a valid UTF-8 sequence of two to four bytes at p, 0 otherwise.
size_t Sequence(const uint8_t* p, const uint8_t* end, uint32_t* code) {
  const uint8_t c = *p;
  size_t length;
  uint32_t value;
  uint32_t minimum;
  if ((c & 0xE0) == 0xC0) {
    length = 2, value = c & 0x1F, minimum = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3, value = c & 0x0F, minimum = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4, value = c & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (size_t(end - p) < length) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      return 0;
    }
    value = (value << 6) | (p[i] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code = value;
  return length;
}

// Where a piece of a long line may end: before a UTF-8 sequence that the
// next bytes complete, so it is decoded whole.
const uint8_t* SafeCut(const uint8_t* begin, const uint8_t* end) {
  constexpr ptrdiff_t kLongestSequence = 4;
  for (const uint8_t* p = end; p > begin && end - p < kLongestSequence;) {
    --p;
    if ((*p & 0xC0) == 0x80) {
      continue;  // a continuation byte: look further back for its lead
    }
    const ptrdiff_t needed = *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC0 ? 2 : 1;
    return end - p < needed ? p : end;
  }
  return end;
}

}  // namespace

size_t DecodeUtf8(const uint8_t** at, const uint8_t* end, wchar_t* out, size_t room, InvalidByte invalid) {
  const uint8_t* p = *at;
  size_t n = 0;
  const __m128i zero = _mm_setzero_si128();
  while (p < end && n < room) {
    // Sixteen ASCII bytes at a time: most log text is ASCII.
    while (end - p >= kVectorBytes && room - n >= size_t(kVectorBytes)) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      if (_mm_movemask_epi8(bytes) != 0) {
        break;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + kVectorBytes / 2), _mm_unpackhi_epi8(bytes, zero));
      p += kVectorBytes;
      n += kVectorBytes;
    }
    if (p >= end || n >= room) {
      break;
    }
    const uint8_t c = *p;
    if (c < 0x80) {
      out[n++] = wchar_t(c);
      ++p;
      continue;
    }
    uint32_t code = 0;
    const size_t length = Sequence(p, end, &code);
    if (length == 0) {
      out[n++] = invalid == InvalidByte::kLatin1 ? wchar_t(c) : kReplacementCharacter;
      ++p;
      continue;
    }
    if (code >= 0x10000) {
      if (n + 2 > room) {
        break;
      }
      code -= 0x10000;
      out[n++] = wchar_t(0xD800 + (code >> 10));
      out[n++] = wchar_t(0xDC00 + (code & 0x3FF));
    } else {
      out[n++] = wchar_t(code);
    }
    p += length;
  }
  *at = p;
  return n;
}

int CChunkLineReader::Init() {
  m_buffer.reset(new (std::nothrow) uint8_t[2 * kChunkBytes]);
  return m_buffer != nullptr ? 1 : 0;
}

int CChunkLineReader::Fill() {
  if (m_pos != 0) {
    memmove(m_buffer.get(), m_buffer.get() + m_pos, m_have - m_pos);
    m_have -= m_pos;
    m_pos = 0;
  }
  DWORD got = 0;
  if (!ReadFile(m_file, m_buffer.get() + m_have, DWORD(2 * kChunkBytes - m_have), &got, nullptr)) {
    DebugTraceA("CChunkLineReader::Fill, read, %lu", GetLastError());
    return 0;
  }
  m_have += got;
  m_eof = got == 0;
  return 1;
}

int CChunkLineReader::Next(ByteSpan* piece, bool* lineEnd) {
  if (m_buffer == nullptr) {
    return -1;
  }
  for (;;) {
    const uint8_t* at = m_buffer.get() + m_pos;
    const uint8_t* end = m_buffer.get() + m_have;
    const uint8_t* lf = MemFindByte(at, size_t(end - at), '\n');
    if (lf != nullptr || (m_eof && at < end)) {
      const uint8_t* next = lf != nullptr ? lf + 1 : end;
      *piece = ByteSpan{at, lf != nullptr ? lf : end};
      if (piece->end > piece->begin && piece->end[-1] == '\r') {
        --piece->end;
      }
      *lineEnd = true;
      m_consumed += uint64_t(next - at);
      m_pos = size_t(next - m_buffer.get());
      return 1;
    }
    if (m_eof) {
      return 0;
    }
    if (size_t(end - at) >= kChunkBytes) {
      // A chunk without a line end: the piece of a long line.
      *piece = ByteSpan{at, SafeCut(at, end)};
      *lineEnd = false;
      m_consumed += piece->size();
      m_pos += piece->size();
      return 1;
    }
    if (!Fill()) {
      return -1;
    }
  }
}
