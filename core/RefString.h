// The reference-counted wide string used in stores, views and windows.
// Copies share one heap block; the first change to a shared block copies it.
// Nothing throws: a change that cannot allocate returns 0 and leaves the old
// text in place.
#pragma once

// windows.h comes first so that LoadString is renamed the same way (to
// LoadStringW) in every file that sees this class.
#include <windows.h>

#include <cstddef>
#include <cstdint>

class CString {
 public:
  CString() = default;
  CString(const wchar_t* text);  // NOLINT: a string literal is a string
  CString(const wchar_t* text, size_t length);
  CString(const CString& other);
  CString(CString&& other) noexcept;
  ~CString();

  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;
  CString& operator=(const wchar_t* text);

  // Text is never null: an empty string yields L"".
  const wchar_t* c_str() const;
  operator const wchar_t*() const { return c_str(); }  // NOLINT: as the framework's string

  size_t GetLength() const;
  bool IsEmpty() const { return GetLength() == 0; }
  void Empty();

  int Assign(const wchar_t* text);
  int Assign(const wchar_t* text, size_t length);
  int Append(const wchar_t* text);
  int Append(const wchar_t* text, size_t length);
  CString& operator+=(const wchar_t* text) {
    Append(text);
    return *this;
  }

  // Formats with Windows printf rules ("%s" is a wide string).
  int Format(const wchar_t* format, ...);

  // Reads string `id` from the string table of `module` (the executable's
  // when null). Returns 0 and keeps the old text when the table has no such
  // string or the copy cannot be allocated.
  int LoadString(UINT id);
  int LoadString(HINSTANCE module, UINT id);

  // Direct access for APIs that write text: room for `minChars` characters
  // plus the terminator, the current text kept, the block ours alone. Null
  // when it cannot be allocated. Every GetBuffer ends with ReleaseBuffer
  // before the string is used otherwise.
  wchar_t* GetBuffer(size_t minChars);
  // Sets the length to `length` characters, or to the text up to its first
  // terminator when -1; a length beyond the buffer is cut to the buffer.
  void ReleaseBuffer(ptrdiff_t length = -1);

  void MakeLower();
  int Compare(const wchar_t* text) const;
  int CompareNoCase(const wchar_t* text) const;
  bool operator==(const CString& other) const { return Compare(other.c_str()) == 0; }
  bool operator==(const wchar_t* text) const { return Compare(text) == 0; }

  // The number of holders of this block (0 for an empty string); for tests.
  long RefCount() const;

 private:
  struct Block;
  Block* m_block = nullptr;

  static Block* Allocate(size_t capacity);
  static void ReleaseBlock(Block* block);
  // Makes the block ours alone with room for `capacity` characters.
  int Prepare(size_t capacity, bool keepText);
};
