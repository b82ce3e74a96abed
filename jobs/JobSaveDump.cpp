#include <cwchar>
#include <utility>

#include "formats/FilePath.h"
#include "jobs/LocalJobs.h"

namespace {

// Numbered names tried before the copy gives up.
constexpr uint32_t kMaxNumberedNames = 10000;
constexpr size_t kNumberChars = 16;

bool AlreadyExists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

}  // namespace

int MakeNumberedName(const wchar_t* path, uint32_t number, CString& name) {
  if (!path) return 0;
  // Only the file name's own dot counts: one in a folder name is no extension.
  const wchar_t* fileName = FileNamePart(path);
  const wchar_t* extension = std::wcsrchr(fileName, L'.');
  const size_t dot = extension ? size_t(extension - path) : wcslen(path);
  wchar_t digits[kNumberChars];
  swprintf(digits, kNumberChars, L"(%u)", number);
  CString result;
  if (!result.Assign(path, dot) || !result.Append(digits) || !result.Append(path + dot)) return 0;
  name = std::move(result);
  return 1;
}

JobSaveDump::JobSaveDump(const wchar_t* source, const wchar_t* destination, int avoidOverwrite)
    : JobItem(IDS_JOB_SAVING_DUMP, FileNamePart(destination)),
      m_source(source ? source : L""),
      m_destination(destination ? destination : L""),
      m_avoidOverwrite(avoidOverwrite) {}

void JobSaveDump::Run() {
  if (!m_avoidOverwrite) {
    if (!CopyFileW(m_source.c_str(), m_destination.c_str(), FALSE)) SetFailed(GetLastError());
    return;
  }
  // The copy itself refuses an existing name, so a file that appears between
  // a check and the copy is never overwritten: the next number is taken.
  if (CopyFileW(m_source.c_str(), m_destination.c_str(), TRUE)) return;
  DWORD error = GetLastError();
  const CString wanted = m_destination;
  for (uint32_t number = 0; AlreadyExists(error) && number < kMaxNumberedNames; ++number) {
    CString candidate;
    if (!MakeNumberedName(wanted.c_str(), number, candidate)) {
      SetFailed(ERROR_NOT_ENOUGH_MEMORY);
      return;
    }
    if (CopyFileW(m_source.c_str(), candidate.c_str(), TRUE)) {
      m_destination = std::move(candidate);
      return;
    }
    error = GetLastError();
  }
  SetFailed(error);
}
