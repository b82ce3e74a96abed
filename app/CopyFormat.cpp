#include "app/CopyFormat.h"

#include "app/MainFrame.h"
#include "core/AppConfig.h"

namespace {
constexpr size_t kCellChars = 32;
}  // namespace

void AppendCopyRow(std::wstring* out, const uint32_t* bits, size_t count, int row, const TraceRecord& record,
                   const wchar_t* delta) {
  wchar_t buffer[kCellChars];
  for (size_t i = 0; i < count; ++i) {
    if (i != 0) {
      *out += L'\t';
    }
    if (bits[i] == kColumnDelta) {
      *out += delta != nullptr ? delta : L"";
    } else {
      buffer[0] = L'\0';
      *out += ktframe::CellText(bits[i], row, record, buffer, kCellChars);
    }
  }
  *out += L"\r\n";
}
