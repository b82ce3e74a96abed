#include "core/NarrowText.h"

#include <emmintrin.h>

namespace {

constexpr size_t kBlock = 16;
constexpr uint32_t kFirstSupplementary = 0x10000;
constexpr uint32_t kLastCodePoint = 0x10FFFF;
constexpr uint32_t kFirstThreeByteCode = 0x800;
constexpr uint32_t kSurrogateBits = 0xF800;  // the code bits shared by all surrogates
constexpr uint32_t kSurrogateFirst = 0xD800;
constexpr uint32_t kLowSurrogateFirst = 0xDC00;
constexpr uint32_t kSurrogateLowBits = 0x3FF;
constexpr int kSurrogateShift = 10;

inline uint32_t ContinuationBits(uint8_t byte) { return byte & 0x3Fu; }

// Nonzero unless every byte has the 10xxxxxx form of a continuation.
inline uint32_t NotContinuations(uint8_t a, uint8_t b) { return uint32_t((a & 0xC0u) ^ 0x80u) | ((b & 0xC0u) ^ 0x80u); }

// Units while the bytes from text[*in] are ASCII; stops before a byte >= 0x80,
// a 0 byte or `limit`. Sixteen bytes a step: all sixteen units are stored,
// those past a stop written again later, so dest must have room for sixteen
// units wherever sixteen bytes remain (out <= in holds throughout).
inline void CopyAscii(const uint8_t* text, size_t limit, wchar_t* dest, size_t* in, size_t* out) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = *in;
  size_t o = *out;
  while (i + kBlock <= limit) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const int stops = _mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + o), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + o + kBlock / 2), _mm_unpackhi_epi8(v, zero));
    if (stops != 0) {
      const size_t ascii = size_t(__builtin_ctz(unsigned(stops)));
      *in = i + ascii;
      *out = o + ascii;
      return;
    }
    i += kBlock;
    o += kBlock;
  }
  for (; i < limit && text[i] != 0 && text[i] < 0x80; ++i, ++o) {
    dest[o] = wchar_t(text[i]);
  }
  *in = i;
  *out = o;
}

// Decodes the run of multi-byte sequences at text[*in] (i < limit) up to
// two ASCII bytes in a row, a 0 byte or `limit`: a lone ASCII byte between
// sequences (a blank between words, a letter inside one) is cheaper here
// than a new start of the block loop. False at the first ill-formed byte: a
// stray continuation, an overlong form, a surrogate, a value past U+10FFFF,
// a sequence cut by `limit` or a 0 byte.
inline bool DecodeMultiByteRun(const uint8_t* text, size_t limit, wchar_t* dest, size_t* in, size_t* out) {
  size_t i = *in;
  size_t o = *out;
  while (i < limit) {
    const uint8_t lead = text[i];
    const size_t left = limit - i;
    if (lead < 0x80) {
      if (lead == 0 || left < 2 || text[i + 1] < 0x80) {
        break;
      }
      dest[o++] = wchar_t(lead);
      ++i;
    } else if (lead < 0xE0) {
      // C0 and C1 only start overlong forms; below them are continuations.
      if (lead < 0xC2 || left < 2 || NotContinuations(text[i + 1], 0x80) != 0) {
        return false;
      }
      dest[o++] = wchar_t(((lead & 0x1Fu) << 6) | ContinuationBits(text[i + 1]));
      i += 2;
    } else if (lead < 0xF0) {
      if (left < 3 || NotContinuations(text[i + 1], text[i + 2]) != 0) {
        return false;
      }
      const uint32_t code =
          ((lead & 0x0Fu) << 12) | (ContinuationBits(text[i + 1]) << 6) | ContinuationBits(text[i + 2]);
      if (code < kFirstThreeByteCode || (code & kSurrogateBits) == kSurrogateFirst) {
        return false;
      }
      dest[o++] = wchar_t(code);
      i += 3;
    } else {
      if (lead > 0xF4 || left < 4 ||
          (NotContinuations(text[i + 1], text[i + 2]) | NotContinuations(text[i + 3], 0x80)) != 0) {
        return false;
      }
      const uint32_t code = ((lead & 0x07u) << 18) | (ContinuationBits(text[i + 1]) << 12) |
                            (ContinuationBits(text[i + 2]) << 6) | ContinuationBits(text[i + 3]);
      if (code < kFirstSupplementary || code > kLastCodePoint) {
        return false;
      }
      const uint32_t offset = code - kFirstSupplementary;
      dest[o++] = wchar_t(kSurrogateFirst + (offset >> kSurrogateShift));
      dest[o++] = wchar_t(kLowSurrogateFirst + (offset & kSurrogateLowBits));
      i += 4;
    }
  }
  *in = i;
  *out = o;
  return true;
}

}  // namespace

size_t BoundedBytes(const uint8_t* text, size_t most) {
  size_t n = 0;
  while (n < most && text[n] != 0) {
    ++n;
  }
  return n;
}

size_t NarrowToWide(UINT codePage, const uint8_t* text, size_t bytes, wchar_t* dest, size_t units) {
  const size_t limit = bytes < units - 1 ? bytes : units - 1;
  // ASCII is itself in the ANSI code page and in UTF-8: such text (most
  // text) needs no call into the system.
  if (codePage == CP_ACP || codePage == CP_UTF8) {
    size_t in = 0;
    size_t out = 0;
    CopyAscii(text, limit, dest, &in, &out);
    if (in >= limit || text[in] == 0) {
      dest[out] = 0;
      return out;
    }
  }
  size_t n = BoundedBytes(text, limit);
  int written = 0;
  if (n != 0) {
    written = MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(text), int(n), dest, int(units - 1));
  }
  const size_t made = written > 0 ? size_t(written) : 0;
  dest[made] = 0;
  return made;
}

size_t Utf8ToWide(const uint8_t* text, size_t bytes, wchar_t* dest, size_t units) {
  // Each byte gives at most one unit, so out never passes in and the cut
  // input always fits.
  const size_t limit = bytes < units - 1 ? bytes : units - 1;
  size_t in = 0;
  size_t out = 0;
  for (;;) {
    CopyAscii(text, limit, dest, &in, &out);
    if (in >= limit || text[in] == 0) {
      break;
    }
    if (!DecodeMultiByteRun(text, limit, dest, &in, &out)) {
      return NarrowToWide(CP_UTF8, text, bytes, dest, units);
    }
  }
  dest[out] = 0;
  return out;
}
