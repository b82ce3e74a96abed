#include "ui/dialogs/GotoDlg.h"

#include <climits>

#include "core/StrUtil.h"

namespace ktdlg {

int32_t GotoLastLine(uint32_t lineCount) {
  if (lineCount == 0) {
    return 1;
  }
  return lineCount > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(lineCount);
}

bool ParseGotoLine(const wchar_t* text, uint32_t lineCount, int32_t* line) {
  if (text == nullptr || line == nullptr) {
    return false;
  }
  while (*text == L' ' || *text == L'\t') {
    ++text;
  }
  bool negative = false;
  if (*text == L'-' || *text == L'+') {
    negative = *text == L'-';
    ++text;
  }
  // Saturates: any magnitude past the last line lands on it (or on line 1).
  int64_t magnitude = 0;
  int digits = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text, ++digits) {
    if (magnitude <= INT32_MAX) {
      magnitude = magnitude * 10 + (*text - L'0');
    }
  }
  while (*text == L' ' || *text == L'\t') {
    ++text;
  }
  if (digits == 0 || *text != 0) {
    return false;
  }
  const int64_t typed = negative ? -magnitude : magnitude;
  const int32_t last = GotoLastLine(lineCount);
  *line = typed < 1 ? 1 : typed > last ? last : int32_t(typed);
  return true;
}

}  // namespace ktdlg

BOOL CGotoDlg::OnInit() {
  m_spin.Attach(GetDlgItem(IDC_GOTO_SPIN));
  ktui::SetUpDownRange(m_spin.get(), 1, ktdlg::GotoLastLine(m_lineCount));
  StrPrintfW(m_text, kTextChars, L"%d", m_line);
  return TRUE;
}

bool CGotoDlg::OnOk() {
  int32_t line = 0;
  if (!ktdlg::ParseGotoLine(m_text, m_lineCount, &line)) {
    ::MessageBeep(MB_OK);
    ::SetFocus(GetDlgItem(IDC_GOTO_LINE));
    return false;
  }
  m_line = line;
  return true;
}
