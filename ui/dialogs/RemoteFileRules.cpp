#include "ui/dialogs/RemoteFileRules.h"

#include <cwchar>

#include "core/StrUtil.h"
#include "net/Inet.h"
#include "ui/dialogs/FileListText.h"
#include "ui/dialogs/UploadProgress.h"

namespace {
constexpr size_t kCellChars = 64;
constexpr size_t kTitleChars = 512;
}  // namespace

int RemotePathUp(CString& path) {
  const wchar_t* text = path.c_str();
  const size_t length = path.GetLength();
  if (length < 2) {
    return 0;
  }
  for (size_t i = length - 1; i-- > 0;) {
    if (text[i] == L'/') {
      CString cut(text, i);
      path = cut;
      return 1;
    }
  }
  return 0;
}

int RemoteOpenFolder(CString& path, const wchar_t* name) {
  if (name == nullptr || *name == 0) {
    return 0;
  }
  if (std::wcscmp(name, kParentFolderName) == 0) {
    return RemotePathUp(path);
  }
  return path.Append(name);
}

CString RemoteFileTitle(UINT jobTextId, const wchar_t* argument) {
  CString title(kRemoteFileTitle);
  if (jobTextId == 0) {
    return title;
  }
  wchar_t job[kTitleChars] = {};
  StrPrintfW(job, kTitleChars, LoadResourceText(jobTextId).c_str(), argument != nullptr ? argument : L"");
  title += L" - ";
  title += job;
  return title;
}

void RemoteFileCells(const CFtpFileEntry& entry, CString* size, CString* modified) {
  wchar_t text[kCellChars] = {};
  if (entry.IsFolder()) {
    *size = L"<>";
  } else {
    FormatSizeText(entry.size, text, kCellChars);
    *size = text;
  }
  modified->Empty();
  if (std::wcscmp(entry.name.c_str(), kParentFolderName) != 0) {
    const uint64_t time = uint64_t(entry.lastWrite.dwLowDateTime) | (uint64_t(entry.lastWrite.dwHighDateTime) << 32);
    FormatListTime(time, text, kCellChars);
    *modified = text;
  }
}
