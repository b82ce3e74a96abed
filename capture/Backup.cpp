// Rolling backup files of the live capture: every stored record is written
// once, in ring order, to numbered .ktr files in the configured folder.
#include <cstring>
#include <cwchar>
#include <utility>

#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "formats/Ktr.h"

namespace {
constexpr uint32_t kMegabyteShift = 20;
constexpr size_t kBackupNameChars = 64;

uint32_t BackupLimitBytes() {
  uint32_t megabytes = g_appConfig.m_logSize;
  if (megabytes < kBackupMinMegabytes) {
    megabytes = kBackupMinMegabytes;
  } else if (megabytes > kBackupMaxMegabytes) {
    megabytes = kBackupMaxMegabytes;
  }
  return megabytes << kMegabyteShift;
}
}  // namespace

void CTraceCapture::CloseBackupFile() {
  m_backupFile.reset();
}

void CTraceCapture::BackupFailed(uint32_t id) {
  // One notice per failure, not one per tick while the folder stays away.
  if (m_backupNoticed != id) {
    m_backupNoticed = id;
    Notify(kNotifyNotice, id);
  }
}

void CTraceCapture::FlushBackup() {
  if (!g_appConfig.m_logEnable) {
    if (m_backupNumber != 0 || m_backupStem[0] != 0 || m_backupFile.valid()) {
      m_backupNumber = 0;
      m_backupSize = 0;
      m_backupStem[0] = 0;
      m_backupNoticed = 0;
      CloseBackupFile();
    }
    return;
  }
  const CStoreLock lock(this, kLockShared);
  if (m_buffer == nullptr || !lock.Held()) {
    return;
  }
  const TraceBufferHeader* h = m_buffer;
  const uint32_t limit = BackupLimitBytes();
  alignas(16) uint8_t narrow[kNarrowRecordLimit];
  while (m_backupWritten < h->recordCount) {
    uint32_t offset = m_backupPosition != nullptr ? uint32_t(reinterpret_cast<const uint8_t*>(m_backupPosition) - h->Bytes()) : h->first;
    if (offset >= h->end) {
      offset = h->headerSize;  // the ring went on at its front
    }
    const auto* record = reinterpret_cast<const TraceRecord*>(h->Bytes() + offset);
    if (record->length < kRecordFixedSize || uint64_t(offset) + record->length > h->capacity) {
      break;  // never walk out of the ring
    }
    // A record that cannot be converted is passed over; one that could not
    // be written waits for a later tick.
    if (ToNarrowRecord(narrow, kNarrowRecordLimit, record) != nullptr && !WriteBackup(narrow, limit)) {
      break;
    }
    offset += record->length;
    if (offset >= h->end) {
      offset = h->headerSize;
    }
    m_backupPosition = reinterpret_cast<TraceRecord*>(m_buffer->Bytes() + offset);
    ++m_backupWritten;
  }
}

int CTraceCapture::StartBackupFile() {
  CloseBackupFile();
  m_backupSize = 0;
  if (m_backupStem[0] == 0) {
    const CString& folder = g_appConfig.m_logFolder;
    // No folder is no backup: never a file in whatever the current folder is.
    if (folder.IsEmpty() || folder.GetLength() >= kBackupFolderChars) {
      BackupFailed(IDS_BACKUP_CREATE_FAILED);
      return 0;
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t name[kBackupNameChars];
    StrPrintfW(name, kBackupNameChars, L"kelbackup_%02hu%02hu%04hu_%02hu%02hu%02hu_", now.wMonth, now.wDay,
               now.wYear, now.wHour, now.wMinute, now.wSecond);
    const wchar_t last = folder.c_str()[folder.GetLength() - 1];
    const wchar_t* separator = last == L'\\' || last == L'/' ? L"" : L"\\";
    StrPrintfW(m_backupStem, kBackupPathChars, L"%s%s%s", folder.c_str(), separator, name);
  }
  wchar_t path[kBackupPathChars];
  StrPrintfW(path, kBackupPathChars, L"%s%04u.ktr", m_backupStem, m_backupNumber);
  CHandle file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
  if (!file.valid()) {
    BackupFailed(IDS_BACKUP_CREATE_FAILED);
    return 0;  // the same number is tried again on a later tick
  }
  TraceBufferHeader header;
  MakeLinearHeader(m_buffer, &header);
  DWORD written = 0;
  if (!m_writeFile(file.get(), &header, sizeof(header), &written, nullptr) || written != sizeof(header)) {
    file.Close();  // before the delete, which an open file would refuse
    DeleteFileW(path);
    BackupFailed(IDS_BACKUP_WRITE_FAILED);
    return 0;
  }
  m_backupFile = std::move(file);
  m_backupSize = sizeof(header);
  ++m_backupNumber;
  return 1;
}

int CTraceCapture::WriteBackup(const uint8_t* record, uint32_t limit) {
  uint16_t length;
  std::memcpy(&length, record, sizeof(length));
  // Without Limit a file still ends before it stops being a readable
  // trace file.
  const uint64_t most = g_appConfig.m_logLimit ? limit : kMaxKtrFileSize;
  const bool full = m_backupSize + length >= most;
  if ((!m_backupFile.valid() || full) && !StartBackupFile()) {
    return 0;
  }
  DWORD written = 0;
  if (!m_writeFile(m_backupFile.get(), record, length, &written, nullptr) || written != length) {
    // A torn record would end every reader's walk early: cut it off.
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(m_backupSize);
    if (SetFilePointerEx(m_backupFile.get(), at, nullptr, FILE_BEGIN)) {
      SetEndOfFile(m_backupFile.get());
    }
    CloseBackupFile();
    m_backupSize = 0;
    BackupFailed(IDS_BACKUP_WRITE_FAILED);
    return 0;
  }
  m_backupSize += length;
  m_backupNoticed = 0;
  return 1;
}
