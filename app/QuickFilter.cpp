#include "app/QuickFilter.h"

#include <cwchar>

#include "core/AppConfig.h"

namespace {
constexpr wchar_t kRegexPrefix[] = L"re:";
constexpr wchar_t kPlainPrefix[] = L"plain:";
constexpr uint8_t kRegexFlags = kOperatorRegex | kConditionOr | kConditionCaseSensitive;
constexpr uint8_t kPlainFlags = kOperatorInclude | kConditionOr;

struct TextColumn {
  uint32_t bit;
  uint8_t field;
};
constexpr TextColumn kTextColumns[] = {
    {kColumnName, kConditionModule}, {kColumnHint, kConditionHint}, {kColumnMessage, kConditionMessage}};

bool StartsWith(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }
}  // namespace

QuickFilterResult BuildQuickFilter(const wchar_t* text, uint32_t columns, CTraceFilter* filter, std::wstring* pattern) {
  pattern->clear();
  if (text == nullptr || text[0] == L'\0') {
    return QuickFilterResult::kBuilt;
  }
  uint8_t flags = kPlainFlags;
  if (StartsWith(text, kRegexPrefix)) {
    pattern->assign(text + wcslen(kRegexPrefix));
    if (pattern->empty()) {
      return QuickFilterResult::kBuilt;
    }
    if (!CTraceFilter::IsValidExpression(pattern->c_str())) {
      return QuickFilterResult::kInvalidPattern;
    }
    flags = kRegexFlags;
  } else {
    pattern->assign(StartsWith(text, kPlainPrefix) ? text + wcslen(kPlainPrefix) : text);
  }
  for (const TextColumn& column : kTextColumns) {
    if ((columns & column.bit) != 0) {
      filter->AddCondition(column.field, flags, pattern->c_str(), -1);
    }
  }
  return QuickFilterResult::kBuilt;
}
