#include "ui/dialogs/EditConditionDlg.h"

#include "ui/dialogs/FilterRules.h"
#include "ui/framework/MessageBoxes.h"

namespace {

constexpr const wchar_t* kConnectorTexts[] = {L"AND", L"OR"};
constexpr const wchar_t* kFieldTexts[] = {L"Dll/Exe Name", L"Hint", L"Message"};

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

BOOL CEditConditionDlg::OnInit() {
  m_connector.Attach(GetDlgItem(IDC_COND_CONNECTOR));
  m_fieldCombo.Attach(GetDlgItem(IDC_COND_FIELD));
  m_operator.Attach(GetDlgItem(IDC_COND_OPERATOR));

  const ktdlg::ConditionChoices choices = ktdlg::ConditionChoicesFrom(m_field, m_flags, m_first != FALSE);
  Fill(m_connector, kConnectorTexts);
  m_connector.EnableWindow(choices.connectorEnabled ? TRUE : FALSE);
  Fill(m_fieldCombo, kFieldTexts);
  for (int op = 0; op < ktdlg::kOperatorChoiceCount; ++op) {
    m_operator.AddString(ConditionOperatorWord(uint8_t(op)));
  }
  // Only a condition that already is a regular expression (the quick filter
  // makes them) lists this entry, so it opens as what it is.
  m_regexEntry = choices.regexEntry;
  if (m_regexEntry) m_operator.AddString(ConditionOperatorWord(kOperatorRegex));

  m_connectorChoice = choices.connector;
  m_fieldChoice = choices.field;
  m_operatorChoice = choices.op;
  m_caseSensitive = choices.caseSensitive ? BST_CHECKED : BST_UNCHECKED;
  m_editText = m_text;
  CEdit(GetDlgItem(IDC_COND_TEXT)).SetLimitText(kConditionTextLimit);
  return TRUE;
}

bool CEditConditionDlg::OnOk() {
  ktdlg::ConditionChoices choices;
  choices.connector = m_connectorChoice;
  choices.field = m_fieldChoice;
  choices.op = m_operatorChoice;
  choices.regexEntry = m_regexEntry;
  choices.caseSensitive = m_caseSensitive == BST_CHECKED;
  const uint8_t flags = ktdlg::ConditionFlagsFromChoices(choices, m_flags);
  // An expression the filter cannot run would match nothing without a word:
  // it is named, and the editor stays open on it.
  if ((flags & kConditionOperatorMask) == kOperatorRegex && !CTraceFilter::IsValidExpression(m_editText.c_str())) {
    ktui::MessageBoxFromId(m_hWnd, IDS_INVALID_PATTERN, MB_ICONWARNING, m_editText.c_str());
    HWND edit = GetDlgItem(IDC_COND_TEXT);
    ::SetFocus(edit);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    return false;
  }
  m_flags = flags;
  m_field = ktdlg::ConditionFieldFromChoice(choices.field);
  m_text = m_editText;
  return true;
}
