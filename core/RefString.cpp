#include "core/RefString.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <utility>

struct CString::Block {
  volatile LONG refs;
  size_t length;
  size_t capacity;  // characters, terminator not counted
  wchar_t text[1];
};

namespace {
const wchar_t kEmpty[1] = {0};
constexpr size_t kMaxChars = (size_t(1) << 30);  // a sane bound for any string here
}  // namespace

CString::Block* CString::Allocate(size_t capacity) {
  if (capacity > kMaxChars) {
    return nullptr;
  }
  auto* block = static_cast<Block*>(std::malloc(offsetof(Block, text) + (capacity + 1) * sizeof(wchar_t)));
  if (block == nullptr) {
    return nullptr;
  }
  block->refs = 1;
  block->length = 0;
  block->capacity = capacity;
  block->text[0] = 0;
  return block;
}

void CString::ReleaseBlock(Block* block) {
  if (block != nullptr && InterlockedDecrement(&block->refs) == 0) {
    std::free(block);
  }
}

CString::CString(const wchar_t* text) { Assign(text); }
CString::CString(const wchar_t* text, size_t length) { Assign(text, length); }

CString::CString(const CString& other) : m_block(other.m_block) {
  if (m_block != nullptr) {
    InterlockedIncrement(&m_block->refs);
  }
}

CString::CString(CString&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }

CString::~CString() { ReleaseBlock(m_block); }

CString& CString::operator=(const CString& other) {
  if (other.m_block != m_block) {
    if (other.m_block != nullptr) {
      InterlockedIncrement(&other.m_block->refs);
    }
    ReleaseBlock(m_block);
    m_block = other.m_block;
  }
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    ReleaseBlock(m_block);
    m_block = other.m_block;
    other.m_block = nullptr;
  }
  return *this;
}

CString& CString::operator=(const wchar_t* text) {
  Assign(text);
  return *this;
}

const wchar_t* CString::c_str() const { return m_block != nullptr ? m_block->text : kEmpty; }

size_t CString::GetLength() const { return m_block != nullptr ? m_block->length : 0; }

void CString::Empty() {
  ReleaseBlock(m_block);
  m_block = nullptr;
}

long CString::RefCount() const { return m_block != nullptr ? m_block->refs : 0; }

int CString::Prepare(size_t capacity, bool keepText) {
  if (keepText && capacity < GetLength()) {
    capacity = GetLength();  // the kept text must fit the new block
  }
  if (m_block != nullptr && m_block->refs == 1 && m_block->capacity >= capacity) {
    return 1;
  }
  size_t want = capacity;
  if (m_block != nullptr && keepText && want < m_block->capacity * 2) {
    want = m_block->capacity * 2;  // appends grow geometrically
  }
  Block* block = Allocate(want);
  if (block == nullptr && want != capacity) {
    block = Allocate(capacity);
  }
  if (block == nullptr) {
    return 0;
  }
  if (keepText && m_block != nullptr) {
    std::wmemcpy(block->text, m_block->text, m_block->length + 1);
    block->length = m_block->length;
  }
  ReleaseBlock(m_block);
  m_block = block;
  return 1;
}

int CString::Assign(const wchar_t* text) { return Assign(text, text != nullptr ? std::wcslen(text) : 0); }

int CString::Assign(const wchar_t* text, size_t length) {
  if (text == nullptr || length == 0) {
    Empty();
    return 1;
  }
  if (m_block != nullptr && text >= m_block->text && text <= m_block->text + m_block->length) {
    CString copy(text, length);  // the source lives in our own block
    *this = std::move(copy);
    return GetLength() == length;
  }
  if (!Prepare(length, false)) {
    return 0;
  }
  std::wmemcpy(m_block->text, text, length);
  m_block->text[length] = 0;
  m_block->length = length;
  return 1;
}

int CString::Append(const wchar_t* text) { return Append(text, text != nullptr ? std::wcslen(text) : 0); }

int CString::Append(const wchar_t* text, size_t length) {
  if (text == nullptr || length == 0) {
    return 1;
  }
  const size_t old = GetLength();
  if (length > kMaxChars - old) {
    return 0;
  }
  if (m_block != nullptr && text >= m_block->text && text <= m_block->text + m_block->length) {
    CString copy(text, length);
    return Append(copy.c_str(), copy.GetLength());
  }
  if (!Prepare(old + length, true)) {
    return 0;
  }
  std::wmemcpy(m_block->text + old, text, length);
  m_block->length = old + length;
  m_block->text[m_block->length] = 0;
  return 1;
}

int CString::Format(const wchar_t* format, ...) {
  size_t size = 256;
  for (int attempt = 0; attempt < 16; ++attempt) {
    auto* buffer = static_cast<wchar_t*>(std::malloc(size * sizeof(wchar_t)));
    if (buffer == nullptr) {
      return 0;
    }
    va_list args;
    va_start(args, format);
    // msvcrt's formatter: Windows meaning of %s, -1 when it does not fit.
    const int n = _vsnwprintf(buffer, size, format, args);
    va_end(args);
    if (n >= 0 && size_t(n) < size) {
      const int ok = Assign(buffer, size_t(n));
      std::free(buffer);
      return ok;
    }
    std::free(buffer);
    size *= 2;
  }
  return 0;
}

void CString::MakeLower() {
  if (IsEmpty() || !Prepare(GetLength(), true)) {
    return;
  }
  CharLowerBuffW(m_block->text, DWORD(m_block->length));
}

int CString::Compare(const wchar_t* text) const { return std::wcscmp(c_str(), text != nullptr ? text : kEmpty); }

int CString::CompareNoCase(const wchar_t* text) const {
  return _wcsicmp(c_str(), text != nullptr ? text : kEmpty);
}

int CString::LoadString(UINT id) { return LoadString(nullptr, id); }

int CString::LoadString(HINSTANCE module, UINT id) {
  if (module == nullptr) {
    module = GetModuleHandleW(nullptr);
  }
  // With a zero buffer size LoadStringW hands out the read-only resource
  // text itself (not terminated) and returns its length.
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) {
    return 0;
  }
  CString loaded;
  if (!loaded.Assign(text, size_t(length))) {
    return 0;
  }
  *this = std::move(loaded);
  return 1;
}

wchar_t* CString::GetBuffer(size_t minChars) {
  if (!Prepare(minChars, true)) {
    return nullptr;
  }
  m_block->text[m_block->capacity] = 0;  // keeps ReleaseBuffer(-1) inside the block
  return m_block->text;
}

void CString::ReleaseBuffer(ptrdiff_t length) {
  if (m_block == nullptr) {
    return;
  }
  size_t n = length < 0 ? std::wcslen(m_block->text) : size_t(length);
  if (n > m_block->capacity) {
    n = m_block->capacity;
  }
  m_block->length = n;
  m_block->text[n] = 0;
}
