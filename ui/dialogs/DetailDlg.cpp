#include "ui/dialogs/DetailDlg.h"

#include <commctrl.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "core/SysUtil.h"
#include "ui/dialogs/DetailRules.h"

namespace {

constexpr const wchar_t* kTabTitles[] = {L"Default", L"HVN Base64 Decode", L"HEX View"};

}  // namespace

void CDetailDlg::SetRecord(const TraceRecord& record, size_t row) {
  wchar_t number[32];
  std::swprintf(number, std::size(number), L"%u", unsigned(row + 1));
  m_number = number;
  m_level = DetailLevelText(record.level);
  m_time.Assign(record.timeText, wcsnlen(record.timeText, kRecordTimeTextUnits));
  m_module = record.groupName != nullptr ? record.groupName : L"";
  m_procThread = record.ProcThreadText();
  m_name = record.Module();
  m_hint = record.Hint();
  m_message = record.Message();
}

BOOL CDetailDlg::OnInit() {
  m_shownText = m_message;
  m_tabs = GetDlgItem(IDC_DETAIL_TABS);
  m_messageEdit = GetDlgItem(IDC_DETAIL_MESSAGE);
  for (size_t i = 0; i < std::size(kTabTitles); ++i) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(kTabTitles[i]);
    ::SendMessageW(m_tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  ::SendMessageW(m_tabs, TCM_SETCURSEL, kTabDefault, 0);
  PlaceMessageEdit();
  // The fields are for reading: the focus starts on Close, not in an edit.
  ::SetFocus(GetDlgItem(IDOK));
  return FALSE;
}

void CDetailDlg::PlaceMessageEdit() {
  RECT tabs, item = {};
  if (m_tabs == nullptr || m_messageEdit == nullptr || !::GetWindowRect(m_tabs, &tabs)) {
    return;
  }
  ::SendMessageW(m_tabs, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
  RECT place = {tabs.left, tabs.top + (item.bottom - item.top) + 2, tabs.right, tabs.bottom};
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&place), 2);
  ::SetWindowPos(m_messageEdit, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CDetailDlg::OnTabChanged(int, NMHDR*) {
  const std::wstring message(m_message.c_str(), m_message.GetLength());
  switch (::SendMessageW(m_tabs, TCM_GETCURSEL, 0, 0)) {
    case kTabDefault:
      m_shownText = m_message;
      break;
    case kTabHvnDecode: {
      const std::wstring decoded = DecodeHvnText(message);
      m_shownText.Assign(decoded.c_str(), decoded.size());
      break;
    }
    case kTabHex: {
      const std::wstring dump = FormatHexView(message);
      m_shownText.Assign(dump.c_str(), dump.size());
      break;
    }
    default:
      m_shownText.Empty();
      break;
  }
  DoDataExchange(kDdxLoad);
  return 0;
}

LRESULT CDetailDlg::OnCopyAndClose(WORD, WORD, HWND) {
  wchar_t text[kDetailCopyChars + 1] = {};
  const int length = ::GetWindowTextW(m_messageEdit, text, int(std::size(text)));
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  // A clipboard that refuses is not reported: the dialog closes all the same.
  CopyTextToClipboard(owner != nullptr ? owner : m_hWnd, text, size_t(length > 0 ? length : 0));
  CloseDialog(IDOK);
  return 0;
}
