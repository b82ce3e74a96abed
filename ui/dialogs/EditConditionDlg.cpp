#include "ui/dialogs/EditConditionDlg.h"

#include "ui/dialogs/FilterRules.h"

namespace {

constexpr const wchar_t* kConnectorTexts[] = {L"AND", L"OR"};
constexpr const wchar_t* kFieldTexts[] = {L"Dll/Exe Name", L"Hint", L"Message"};
constexpr const wchar_t* kOperatorTexts[ktdlg::kOperatorChoiceCount] = {L"IS", L"INCLUDE", L"IS NOT", L"EXCLUDE"};
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

BOOL CEditConditionDlg::OnInit() {
  m_connector.Attach(GetDlgItem(IDC_COND_CONNECTOR));
  m_fieldCombo.Attach(GetDlgItem(IDC_COND_FIELD));
  m_operator.Attach(GetDlgItem(IDC_COND_OPERATOR));

  const ktdlg::ConditionChoices choices = ktdlg::ConditionChoicesFrom(m_field, m_flags, m_first != FALSE);
  Fill(m_connector, kConnectorTexts);
  m_connector.EnableWindow(choices.connectorEnabled ? TRUE : FALSE);
  Fill(m_fieldCombo, kFieldTexts);
  Fill(m_operator, kOperatorTexts);
  m_regexEntry = choices.regexEntry;
  if (m_regexEntry) m_operator.AddString(kRegexOperatorText);

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
  m_flags = ktdlg::ConditionFlagsFromChoices(choices, m_flags);
  m_field = ktdlg::ConditionFieldFromChoice(choices.field);
  m_text = m_editText;
  return true;
}
