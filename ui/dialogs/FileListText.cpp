#include "ui/dialogs/FileListText.h"

#include <cwchar>

#include "capture/LocalFileList.h"
#include "core/StrUtil.h"

namespace {
constexpr uint32_t kKilobyte = 1024;
}  // namespace

int FormatSizeText(uint32_t bytes, wchar_t* text, size_t size) {
  if (text == nullptr || size == 0) {
    return 0;
  }
  const int written = bytes < kKilobyte ? StrPrintfW(text, size, L"%u B", bytes)
                                        : StrPrintfW(text, size, L"%u KB", bytes / kKilobyte);
  if (written < 0 || size_t(written) >= size) {
    text[0] = 0;
    return 0;
  }
  return 1;
}

int FormatListTime(uint64_t fileTime, wchar_t* text, size_t size) {
  return FormatFileTimeText(fileTime, text, size);
}

const wchar_t* ListFileName(const wchar_t* path) {
  if (path == nullptr) {
    return L"";
  }
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != 0; ++p) {
    if (*p == L'\\' || *p == L'/') {
      name = p + 1;
    }
  }
  return *name != 0 ? name : path;
}
