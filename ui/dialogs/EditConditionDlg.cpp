#include "ui/dialogs/EditConditionDlg.h"

#include "ui/dialogs/FilterRules.h"

namespace {

constexpr const wchar_t* kConnectorTexts[] = {L"AND", L"OR"};
constexpr const wchar_t* kFieldTexts[] = {L"Dll/Exe Name", L"Hint", L"Message"};
constexpr const wchar_t* kOperatorTexts[kOperatorChoiceCount] = {L"IS", L"INCLUDE", L"IS NOT", L"EXCLUDE"};
// Only a condition that already is a regular expression (the quick filter
// makes them) lists this entry, so it opens as what it is.
constexpr wchar_t kRegexOperatorText[] = L"REGEX";

constexpr UINT kConditionTextLimit = 128;

template <size_t N>
void Fill(CComboBox& combo, const wchar_t* const (&texts)[N]) {
  for (const wchar_t* text : texts) combo.AddString(text);
}

}  // namespace

CEditConditionDlg::CEditConditionDlg(const CTraceFilterCondition* condition, bool first)
    : m_field(condition != nullptr ? condition->m_field : kConditionMessage),
      m_flags(condition != nullptr ? condition->m_flags : kOperatorInclude),
      m_text(condition != nullptr ? condition->m_text : CString()),
      m_first(first ? TRUE : FALSE) {}

LRESULT CEditConditionDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow(GetParent());
  m_connector.m_hWnd = GetDlgItem(IDC_COND_CONNECTOR);
  m_fieldCombo.m_hWnd = GetDlgItem(IDC_COND_FIELD);
  m_operator.m_hWnd = GetDlgItem(IDC_COND_OPERATOR);

  const ConditionChoices choices = ConditionChoicesFrom(m_field, m_flags, m_first != FALSE);
  Fill(m_connector, kConnectorTexts);
  m_connector.SetCurSel(choices.connector);
  m_connector.EnableWindow(choices.connectorEnabled ? TRUE : FALSE);
  Fill(m_fieldCombo, kFieldTexts);
  m_fieldCombo.SetCurSel(choices.field);
  Fill(m_operator, kOperatorTexts);
  if (choices.regexEntry) m_operator.AddString(kRegexOperatorText);
  m_operator.SetCurSel(choices.op);

  m_caseSensitive = choices.caseSensitive ? BST_CHECKED : BST_UNCHECKED;
  m_editText = m_text;
  CEdit(GetDlgItem(IDC_COND_TEXT)).SetLimitText(kConditionTextLimit);
  DoDataExchange(FALSE);
  return TRUE;
}

LRESULT CEditConditionDlg::OnOK(WORD, WORD, HWND) {
  if (!DoDataExchange(TRUE)) return 0;
  ConditionChoices choices = ConditionChoicesFrom(m_field, m_flags, m_first != FALSE);
  choices.connector = m_connector.GetCurSel();
  choices.field = m_fieldCombo.GetCurSel();
  choices.op = m_operator.GetCurSel();
  choices.caseSensitive = m_caseSensitive == BST_CHECKED;
  const uint8_t flags = ConditionFlagsFromChoices(choices, m_flags);
  m_field = ConditionFieldFromChoice(choices.field);
  m_flags = flags;
  m_text = m_editText;
  EndDialog(IDOK);
  return 0;
}

LRESULT CEditConditionDlg::OnCancel(WORD, WORD, HWND) {
  EndDialog(IDCANCEL);
  return 0;
}
