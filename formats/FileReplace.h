// Saving without losing the old file: every writer puts its bytes into a
// temporary file beside the target and renames it over the target only when
// every byte was written, so a failed save (disk full, a write error) leaves
// the old file as it was, or no file, and never a partial one.
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/Containers.h"

class CFileReplacement {
 public:
  CFileReplacement() = default;
  CFileReplacement(const CFileReplacement&) = delete;
  CFileReplacement& operator=(const CFileReplacement&) = delete;
  // A temporary file that was never committed is deleted.
  ~CFileReplacement();

  // Names the temporary file for `target`: "<target>.<pid>-<tid>.tmp", on the
  // target's volume so the rename never copies, and distinct for every
  // thread that saves. 1, or 0 for an empty target or no memory.
  int Begin(const wchar_t* target);
  // Where the writer puts its bytes; "" before Begin.
  const wchar_t* TempPath() const { return m_temp.c_str(); }
  // Renames the temporary file over the target (written through). 1, or 0
  // with the temporary file deleted and the target untouched.
  int Commit();
  // Deletes the temporary file and forgets it; the target stays as it was.
  void Abandon();

 private:
  CWideStrBuilder m_temp;
  CWideStrBuilder m_target;
  bool m_pending = false;
};

// Writes every byte to the open file (in pieces a WriteFile call takes);
// false at the first short or failed write.
bool WriteAllBytes(HANDLE file, const void* data, size_t size);
