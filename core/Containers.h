// Small containers on the C heap that report allocation failure as a result
// instead of throwing. None of them is synchronised: their owners lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

// Growable array of plain values {data, capacity, count}; all 0 when empty.
// Elements are moved with memmove and never constructed or destroyed.
template <class T>
struct CGrowArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memmove");

  T* data = nullptr;
  size_t capacity = 0;  // elements
  size_t count = 0;

  CGrowArray() = default;
  ~CGrowArray() { Free(); }
  CGrowArray(const CGrowArray&) = delete;
  CGrowArray& operator=(const CGrowArray&) = delete;
  CGrowArray(CGrowArray&& other) noexcept { TakeFrom(other); }
  CGrowArray& operator=(CGrowArray&& other) noexcept {
    if (this != &other) {
      Free();
      TakeFrom(other);
    }
    return *this;
  }

  // Makes room for n elements in all. Returns 0, leaving the array as it was,
  // when the block cannot be had; never allocates less than asked.
  int Reserve(size_t n) {
    if (capacity >= n) return 1;
    const size_t wanted = GrownCapacity(capacity, n);
    if (!wanted) return 0;
    // realloc copies the elements, and keeps the old block when it fails.
    T* block = static_cast<T*>(std::realloc(data, wanted * sizeof(T)));
    if (!block) return 0;
    data = block;
    capacity = wanted;
    return 1;
  }

  // Copies n elements behind the last one; the source may lie inside this array.
  int AppendN(const T* source, size_t n) {
    if (n == 0) return 1;
    if (!source || n > kMaxElements || count > kMaxElements - n) return 0;  // more than any block holds
    const bool inside = Holds(source);
    const size_t offset = inside ? static_cast<size_t>(source - data) : 0;
    if (!Reserve(count + n)) return 0;
    if (inside) source = data + offset;
    std::memmove(data + count, source, n * sizeof(T));
    count += n;
    return 1;
  }

  int Append(const T& value) {
    const T copy = value;  // value may be an element that a reallocation frees
    return AppendN(&copy, 1);
  }

  // 1 when the value is present afterwards, 0 when appending it failed.
  int AddUnique(T value) {
    if (IndexOf(value) != kNotFound) return 1;
    return Append(value);
  }

  // Removes the first equal element. Returns the address of the slot where it
  // was (now holding its successor, or past the end), or null when absent.
  T* Remove(T value) {
    const size_t index = IndexOf(value);
    if (index == kNotFound) return nullptr;
    RemoveAt(index);
    return data + index;
  }

  void RemoveAt(size_t index) {
    if (index >= count) return;
    std::memmove(data + index, data + index + 1, (count - index - 1) * sizeof(T));
    --count;
  }

  void Clear() { count = 0; }

  void Free() {
    std::free(data);
    data = nullptr;
    capacity = 0;
    count = 0;
  }

  T& operator[](size_t index) { return data[index]; }
  const T& operator[](size_t index) const { return data[index]; }

  // Elements a block for n takes when `from` are held: the larger of n and
  // twice `from`, rounded up to the growth step; 0 when n cannot be had.
  static size_t GrownCapacity(size_t from, size_t n) {
    if (n > kMaxElements) return 0;
    const size_t doubled = from <= kMaxElements / 2 ? from * 2 : kMaxElements;
    return ((n > doubled ? n : doubled) + kGrowStep - 1) & ~(kGrowStep - 1);
  }

 private:
  static constexpr size_t kGrowStep = 8;
  // Largest element count of a block no larger than PTRDIFF_MAX bytes (the
  // largest object: pointer differences inside it must fit), kept a multiple
  // of the growth step so rounding up can never overflow.
  static constexpr size_t kMaxElements = (static_cast<size_t>(PTRDIFF_MAX) / sizeof(T)) & ~(kGrowStep - 1);
  static constexpr size_t kNotFound = SIZE_MAX;

  bool Holds(const T* p) const {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = reinterpret_cast<uintptr_t>(data);
    return data && address >= first && address < first + count * sizeof(T);
  }

  size_t IndexOf(const T& value) const {
    for (size_t i = 0; i < count; ++i) {
      if (data[i] == value) return i;
    }
    return kNotFound;
  }

  void TakeFrom(CGrowArray& other) {
    data = std::exchange(other.data, nullptr);
    capacity = std::exchange(other.capacity, 0);
    count = std::exchange(other.count, 0);
  }
};

// Growable array whose leading elements can be dropped without moving the
// rest: `data` then starts later in the block. The gap in front is reused
// when the array would otherwise grow and it is at least as large as the
// elements kept, so every element is moved at most once per drop.
template <class T>
struct CSlidingArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memmove");

  T* data = nullptr;
  size_t capacity = 0;  // elements from data to the end of the block
  size_t count = 0;

  CSlidingArray() = default;
  ~CSlidingArray() { Free(); }
  CSlidingArray(const CSlidingArray&) = delete;
  CSlidingArray& operator=(const CSlidingArray&) = delete;

  // Makes room for n elements in all from data on. Returns 0, leaving the
  // array as it was, when the block cannot be had.
  int Reserve(size_t n) {
    if (capacity >= n) return 1;
    const size_t gap = static_cast<size_t>(data - m_block);
    if (gap >= count && m_blockCapacity >= n) {
      if (count) std::memmove(m_block, data, count * sizeof(T));
      data = m_block;
      capacity = m_blockCapacity;
      return 1;
    }
    const size_t wanted = CGrowArray<T>::GrownCapacity(m_blockCapacity, n);
    if (!wanted) return 0;
    T* block = static_cast<T*>(std::malloc(wanted * sizeof(T)));
    if (!block) return 0;
    if (count) std::memcpy(block, data, count * sizeof(T));
    std::free(m_block);
    m_block = data = block;
    m_blockCapacity = capacity = wanted;
    return 1;
  }

  int Append(const T& value) {
    if (count == capacity) {
      const T copy = value;  // value may be an element that a reallocation frees
      if (count == SIZE_MAX || !Reserve(count + 1)) return 0;
      data[count++] = copy;
      return 1;
    }
    data[count++] = value;
    return 1;
  }

  // Drops the first n elements (all when n is larger).
  void DropFront(size_t n) {
    if (n > count) n = count;
    data += n;
    capacity -= n;
    count -= n;
    if (count == 0) Clear();
  }

  void Clear() {
    data = m_block;
    capacity = m_blockCapacity;
    count = 0;
  }

  void Free() {
    std::free(m_block);
    m_block = data = nullptr;
    m_blockCapacity = capacity = 0;
    count = 0;
  }

  T& operator[](size_t index) { return data[index]; }
  const T& operator[](size_t index) const { return data[index]; }

 private:
  T* m_block = nullptr;
  size_t m_blockCapacity = 0;
};

// Byte buffer with a read position, for received and imported data.
// The unread bytes are always [read, read + size) inside [base, base + capacity).
struct CByteBuffer {
  uint8_t* base = nullptr;
  size_t capacity = 0;     // bytes
  uint8_t* read = nullptr; // first unread byte
  size_t size = 0;         // unread bytes

  CByteBuffer() = default;
  // Holds a copy of the other buffer's unread bytes (empty when that fails).
  CByteBuffer(const CByteBuffer& other);
  // Starts with room for n bytes (none when that fails).
  explicit CByteBuffer(size_t n);
  CByteBuffer& operator=(const CByteBuffer&) = delete;
  CByteBuffer(CByteBuffer&& other) noexcept;
  CByteBuffer& operator=(CByteBuffer&& other) noexcept;
  ~CByteBuffer() { Free(); }

  // Room for n more bytes behind the unread ones: compacts in place when the
  // block is big enough, otherwise reallocates. Returns where the bytes go, or
  // null (buffer unchanged) when the room cannot be had.
  uint8_t* Reserve(size_t n);
  // Returns n, or 0 for null bytes, n = 0 or a failed reserve.
  size_t Append(const void* bytes, size_t n);
  // Copies up to n unread bytes into target and consumes them; returns how many.
  size_t Read(void* target, size_t n);
  // Drops up to n unread bytes.
  void Consume(size_t n);
  const uint8_t* Data() const { return read; }
  size_t Size() const { return size; }
  void Free();

 private:
  void TakeFrom(CByteBuffer& other);
};

// Growable wide string; c_str() is always terminated and never null.
class CWideStrBuilder {
 public:
  CWideStrBuilder() = default;
  ~CWideStrBuilder();
  CWideStrBuilder(const CWideStrBuilder&) = delete;
  CWideStrBuilder& operator=(const CWideStrBuilder&) = delete;
  CWideStrBuilder(CWideStrBuilder&& other) noexcept;
  CWideStrBuilder& operator=(CWideStrBuilder&& other) noexcept;

  // 1 when appended (null or empty text appends nothing), 0 when growing failed.
  int Append(const wchar_t* text);
  int Append(const wchar_t* text, size_t n);
  // Makes room for n characters plus the terminator; 0 when that fails.
  int Grow(size_t n);
  void Clear();

  const wchar_t* c_str() const { return m_data ? m_data : L""; }
  size_t Length() const { return m_length; }

 private:
  void TakeFrom(CWideStrBuilder& other);

  wchar_t* m_data = nullptr;
  size_t m_capacity = 0;  // characters, terminator included
  size_t m_length = 0;
};

// Wide text in an inline buffer, or in a heap block when it is longer; the
// object owns the block. Base of the two conversion objects below.
class CInlineWideBuf {
 public:
  static constexpr size_t kInlineChars = 128;  // terminator included

  CInlineWideBuf(const CInlineWideBuf&) = delete;
  CInlineWideBuf& operator=(const CInlineWideBuf&) = delete;

  operator const wchar_t*() const { return m_text; }
  const wchar_t* c_str() const { return m_text; }

 protected:
  CInlineWideBuf() { m_inline[0] = L'\0'; }
  ~CInlineWideBuf();
  // Points m_text at room for chars characters (terminator included) and
  // returns that number; when no heap block can be had, keeps the inline
  // buffer and returns its size.
  size_t Provide(size_t chars);

  wchar_t* m_text = m_inline;
  wchar_t m_inline[kInlineChars];
};

// Copy of a wide text; null gives an empty string.
class CW2WBuf : public CInlineWideBuf {
 public:
  explicit CW2WBuf(const wchar_t* text);
};

// A narrow text converted from the ANSI code page; null or a failed
// conversion gives an empty string.
class CA2WBuf : public CInlineWideBuf {
 public:
  explicit CA2WBuf(const char* text);
};

// Heap copies of distinct non-empty wide strings, compared without regard to case.
class CStringList {
 public:
  CStringList() = default;
  ~CStringList() { Clear(); }
  CStringList(const CStringList&) = delete;
  CStringList& operator=(const CStringList&) = delete;

  // 1 when added; 0 for an empty text, one already present, or no memory.
  int AddUnique(const wchar_t* text);
  size_t Count() const { return m_items.count; }
  // The list keeps ownership; null past the end.
  const wchar_t* operator[](size_t index) const;
  void Clear();

 private:
  CGrowArray<wchar_t*> m_items;
};
