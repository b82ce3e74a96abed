#include "core/Containers.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr size_t kByteBufferMinBlock = 32;
constexpr size_t kByteBufferRoundMask = 3;  // blocks are whole 4-byte words
constexpr size_t kBuilderMinChars = 2048;
constexpr size_t kMaxWideChars = SIZE_MAX / sizeof(wchar_t);

bool PointsInto(const void* p, const void* first, size_t bytes) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(p);
  const uintptr_t start = reinterpret_cast<uintptr_t>(first);
  return first && address >= start && address - start < bytes;
}

}  // namespace

// ---------------------------------------------------------------- CByteBuffer

CByteBuffer::CByteBuffer(const CByteBuffer& other) { Append(other.read, other.size); }

CByteBuffer::CByteBuffer(size_t n) { Reserve(n); }

CByteBuffer::CByteBuffer(CByteBuffer&& other) noexcept { TakeFrom(other); }

CByteBuffer& CByteBuffer::operator=(CByteBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    TakeFrom(other);
  }
  return *this;
}

void CByteBuffer::TakeFrom(CByteBuffer& other) {
  base = std::exchange(other.base, nullptr);
  capacity = std::exchange(other.capacity, 0);
  read = std::exchange(other.read, nullptr);
  size = std::exchange(other.size, 0);
}

uint8_t* CByteBuffer::Reserve(size_t n) {
  if (base) {
    const size_t end = static_cast<size_t>(read - base) + size;
    if (n <= capacity - end) return read + size;
    if (n <= capacity - size) {
      std::memmove(base, read, size);
      read = base;
      return read + size;
    }
  }
  // Grow by at least the unread size so a stream of small appends stays linear.
  const size_t extra = n > size ? n : size;
  if (extra > SIZE_MAX - kByteBufferRoundMask - size) return nullptr;
  size_t wanted = (size + extra + kByteBufferRoundMask) & ~kByteBufferRoundMask;
  if (wanted < kByteBufferMinBlock) wanted = kByteBufferMinBlock;
  uint8_t* block = static_cast<uint8_t*>(std::malloc(wanted));
  if (!block) return nullptr;
  if (size) std::memcpy(block, read, size);
  std::free(base);
  base = block;
  capacity = wanted;
  read = block;
  return read + size;
}

size_t CByteBuffer::Append(const void* bytes, size_t n) {
  if (!bytes || n == 0) return 0;
  // Unread bytes of this buffer move when it compacts or reallocates.
  const bool own = PointsInto(bytes, read, size);
  const size_t offset = own ? static_cast<size_t>(static_cast<const uint8_t*>(bytes) - read) : 0;
  uint8_t* target = Reserve(n);
  if (!target) return 0;
  if (own) bytes = read + offset;
  std::memmove(target, bytes, n);
  size += n;
  return n;
}

size_t CByteBuffer::Read(void* target, size_t n) {
  if (!target || n == 0 || size == 0) return 0;
  const size_t k = n < size ? n : size;
  std::memcpy(target, read, k);
  read += k;
  size -= k;
  return k;
}

void CByteBuffer::Consume(size_t n) {
  const size_t k = n < size ? n : size;
  read += k;
  size -= k;
}

void CByteBuffer::Free() {
  std::free(base);
  base = nullptr;
  capacity = 0;
  read = nullptr;
  size = 0;
}

// ------------------------------------------------------------ CWideStrBuilder

CWideStrBuilder::~CWideStrBuilder() { std::free(m_data); }

CWideStrBuilder::CWideStrBuilder(CWideStrBuilder&& other) noexcept { TakeFrom(other); }

CWideStrBuilder& CWideStrBuilder::operator=(CWideStrBuilder&& other) noexcept {
  if (this != &other) {
    std::free(m_data);
    TakeFrom(other);
  }
  return *this;
}

void CWideStrBuilder::TakeFrom(CWideStrBuilder& other) {
  m_data = std::exchange(other.m_data, nullptr);
  m_capacity = std::exchange(other.m_capacity, 0);
  m_length = std::exchange(other.m_length, 0);
}

int CWideStrBuilder::Grow(size_t n) {
  if (n < m_capacity) return 1;
  if (n >= kMaxWideChars) return 0;
  size_t wanted = n + 1;
  if (wanted < kBuilderMinChars) wanted = kBuilderMinChars;
  if (m_capacity <= kMaxWideChars / 2 && m_capacity * 2 > wanted) wanted = m_capacity * 2;
  wchar_t* block = static_cast<wchar_t*>(std::malloc(wanted * sizeof(wchar_t)));
  if (!block) return 0;
  if (m_data) {
    std::memcpy(block, m_data, (m_length + 1) * sizeof(wchar_t));
  } else {
    block[0] = L'\0';
  }
  std::free(m_data);
  m_data = block;
  m_capacity = wanted;
  return 1;
}

int CWideStrBuilder::Append(const wchar_t* text) {
  if (!text || !*text) return 1;
  return Append(text, std::wcslen(text));
}

int CWideStrBuilder::Append(const wchar_t* text, size_t n) {
  if (!text || n == 0) return 1;
  if (n > SIZE_MAX - m_length) return 0;
  // The text may be part of this builder's own, which growing frees.
  const bool own = PointsInto(text, m_data, m_length * sizeof(wchar_t));
  const size_t offset = own ? static_cast<size_t>(text - m_data) : 0;
  if (!Grow(m_length + n)) return 0;
  if (own) text = m_data + offset;
  std::memmove(m_data + m_length, text, n * sizeof(wchar_t));
  m_length += n;
  m_data[m_length] = L'\0';
  return 1;
}

void CWideStrBuilder::Clear() {
  m_length = 0;
  if (m_data) m_data[0] = L'\0';
}

// ---------------------------------------------------- inline conversion buffers

CInlineWideBuf::~CInlineWideBuf() {
  if (m_text != m_inline) std::free(m_text);
}

size_t CInlineWideBuf::Provide(size_t chars) {
  if (chars <= kInlineChars || chars > kMaxWideChars) return kInlineChars;
  wchar_t* block = static_cast<wchar_t*>(std::malloc(chars * sizeof(wchar_t)));
  if (!block) return kInlineChars;
  m_text = block;
  return chars;
}

CW2WBuf::CW2WBuf(const wchar_t* text) {
  if (!text) return;
  const size_t length = std::wcslen(text);
  const size_t room = Provide(length + 1);
  const size_t kept = length < room ? length : room - 1;
  std::memcpy(m_text, text, kept * sizeof(wchar_t));
  m_text[kept] = L'\0';
}

namespace {

// Length of the longest prefix of text that ends on a character boundary and
// has at most limit bytes. No code page gives more UTF-16 units than bytes, so
// the prefix converts into limit characters.
int AnsiPrefixBytes(const char* text, int limit) {
  int bytes = 0;
  while (text[bytes]) {
    const int step = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[bytes])) && text[bytes + 1] ? 2 : 1;
    if (bytes + step > limit) break;
    bytes += step;
  }
  return bytes;
}

}  // namespace

CA2WBuf::CA2WBuf(const char* text) {
  if (!text) return;
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (needed <= 0) return;
  const size_t room = Provide(static_cast<size_t>(needed));
  if (room >= static_cast<size_t>(needed)) {
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, m_text, needed) <= 0) m_text[0] = L'\0';
    return;
  }
  const int limit = static_cast<int>(kInlineChars - 1);
  const int converted = MultiByteToWideChar(CP_ACP, 0, text, AnsiPrefixBytes(text, limit), m_text, limit);
  m_text[converted > 0 ? converted : 0] = L'\0';
}

// ---------------------------------------------------------------- CStringList

int CStringList::AddUnique(const wchar_t* text) {
  if (!text || !*text) return 0;
  for (size_t i = 0; i < m_items.count; ++i) {
    if (CompareStringOrdinal(m_items[i], -1, text, -1, TRUE) == CSTR_EQUAL) return 0;
  }
  const size_t length = std::wcslen(text);
  if (length >= kMaxWideChars) return 0;
  wchar_t* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
  if (!copy) return 0;
  std::memcpy(copy, text, (length + 1) * sizeof(wchar_t));
  if (!m_items.Append(copy)) {
    std::free(copy);
    return 0;
  }
  return 1;
}

const wchar_t* CStringList::operator[](size_t index) const {
  return index < m_items.count ? m_items[index] : nullptr;
}

void CStringList::Clear() {
  for (size_t i = 0; i < m_items.count; ++i) std::free(m_items[i]);
  m_items.Free();
}
