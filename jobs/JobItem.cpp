#include "jobs/JobItem.h"

#include <utility>

#include "jobs/JobMgr.h"

CString FormatJobTitle(uint32_t stringId, const wchar_t* argument) {
  const wchar_t* text = argument ? argument : L"";
  CString format;
  CString title;
  if (!format.LoadString(stringId) || !title.Format(format.c_str(), text)) title = text;
  return title;
}

JobItem::JobItem(uint32_t titleId, const wchar_t* argument)
    : m_titleId(titleId), m_title(FormatJobTitle(titleId, argument)) {}

int JobItem::SetTitle(uint32_t stringId, const wchar_t* argument) {
  CString title = FormatJobTitle(stringId, argument);
  if (m_manager) {
    m_manager->ReplaceTitle(this, title);
  } else {
    std::swap(m_title, title);
  }
  return 1;
}
