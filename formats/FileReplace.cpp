#include "formats/FileReplace.h"

#include <windows.h>

#include <cwchar>

#include "core/SysUtil.h"

namespace {

// WriteFile takes a 32-bit count: larger buffers go in pieces.
constexpr size_t kWritePieceBytes = 0x40000000;
constexpr size_t kSuffixChars = 48;

}  // namespace

bool WriteAllBytes(HANDLE file, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size != 0) {
    const DWORD piece = DWORD(size < kWritePieceBytes ? size : kWritePieceBytes);
    DWORD written = 0;
    if (!WriteFile(file, bytes, piece, &written, nullptr) || written != piece) {
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

CFileReplacement::~CFileReplacement() { Abandon(); }

int CFileReplacement::Begin(const wchar_t* target) {
  Abandon();
  m_temp.Clear();
  m_target.Clear();
  if (target == nullptr || target[0] == 0) {
    return 0;
  }
  wchar_t suffix[kSuffixChars];
  _snwprintf(suffix, kSuffixChars, L".%lx-%lx.tmp", GetCurrentProcessId(), GetCurrentThreadId());
  suffix[kSuffixChars - 1] = 0;
  if (!m_temp.Append(target) || !m_temp.Append(suffix) || !m_target.Append(target)) {
    return 0;
  }
  m_pending = true;
  return 1;
}

int CFileReplacement::Commit() {
  if (!m_pending) {
    return 0;
  }
  if (!MoveFileExW(m_temp.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DebugTraceA("CFileReplacement::Commit, replace, %lu", GetLastError());
    Abandon();
    return 0;
  }
  m_pending = false;
  return 1;
}

void CFileReplacement::Abandon() {
  if (m_pending) {
    DeleteFileW(m_temp.c_str());
    m_pending = false;
  }
}
