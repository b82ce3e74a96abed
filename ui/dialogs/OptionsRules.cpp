#include "ui/dialogs/OptionsRules.h"

#include <cwchar>
#include <limits>

#include "core/StrUtil.h"

namespace ktdlg {

namespace {

constexpr uint32_t kDefaultMaxMemMB = 256;
constexpr uint32_t kDefaultFontPoint = 100;
constexpr wchar_t kDefaultFontName[] = L"Tahoma";
constexpr uint32_t kDefaultLogSizeMB = 20;

constexpr uint64_t kBytesPerMegabyte = 1048576;
// The estimate: every 3,000,000 bytes hold 10,000 to 15,000 records.
constexpr uint64_t kBytesPerTrace = 3000000;
constexpr uint64_t kTraceLowFactor = 10000;
constexpr uint64_t kTraceHighFactor = 15000;
constexpr int64_t kLargestTraceRangeMB = 4294967295;

constexpr size_t kLabelChars = 64;

uint32_t RoundUp(uint32_t value, uint32_t step) { return (value + step - 1) / step * step; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Sign and digits at `text`, saturating; false when no digit follows the sign.
bool ReadSignedDigits(const wchar_t* text, int64_t* value) {
  bool negative = false;
  if (*text == L'-' || *text == L'+') {
    negative = *text == L'-';
    ++text;
  }
  if (*text < L'0' || *text > L'9') return false;
  // Accumulated negatively, so the most negative value fits too.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t accumulated = 0;
  bool saturated = false;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    const int digit = *text - L'0';
    if (saturated || accumulated < (kMin + digit) / 10) {
      saturated = true;
      continue;
    }
    accumulated = accumulated * 10 - digit;
  }
  if (saturated) {
    *value = negative ? kMin : std::numeric_limits<int64_t>::max();
  } else if (negative) {
    *value = accumulated;
  } else {
    *value = accumulated == kMin ? std::numeric_limits<int64_t>::max() : -accumulated;
  }
  return true;
}

}  // namespace

COptionValues OptionValuesFromConfig(const CAppConfig& config, const CModuleGroups& groups) {
  COptionValues values;
  values.tabDBClose = config.m_tabDBClose;
  values.tabBkGround = config.m_tabBkGround;
  values.tabSyncTime = config.m_tabSyncTime;
  values.autoScroll = config.m_autoScroll;
  values.gridLines = config.m_gridLines;
  values.alwaysOnTop = config.m_alwaysOnTop;
  values.showMenu = config.m_showMenu;
  values.maxMem = config.m_maxMem;
  values.hvnEnable = config.m_hvnEnable;
  values.qrcEnable = config.m_qrcEnable;
  values.qrcLogEnable = config.m_qrcLogEnable;
  values.qrvEnable = config.m_qrvEnable;
  values.dbWinEnable = config.m_dbWinEnable;
  values.sortEnable = config.m_sortEnable;
  values.ignoredGroups = groups.FormatNames(config.m_ignoreMask);
  values.fontPoint = config.m_fontPoint;
  values.fontName = config.m_fontName;
  values.backupOn = config.m_logEnable;
  values.sizeLimitOn = config.m_logLimit;
  values.sizeLimit = config.m_logSize;
  values.backupFolder = config.m_logFolder;
  return values;
}

COptionValues DefaultOptionValues() {
  COptionValues values;
  values.tabDBClose = 1;
  values.tabBkGround = 0;
  values.tabSyncTime = 1;
  values.autoScroll = 1;
  values.gridLines = 1;
  values.alwaysOnTop = 0;
  values.showMenu = 0;
  values.maxMem = kDefaultMaxMemMB;
  values.hvnEnable = 1;
  values.qrcEnable = 1;
  values.qrcLogEnable = 0;
  values.qrvEnable = 0;
  values.dbWinEnable = 0;
  values.sortEnable = 1;
  values.fontPoint = kDefaultFontPoint;
  values.fontName = kDefaultFontName;
  values.backupOn = 0;
  values.sizeLimitOn = 0;
  values.sizeLimit = kDefaultLogSizeMB;
  return values;
}

// Both limits are multiples of their steps, so rounding a held value
// cannot pass the upper one.
uint32_t ClampMaxMemTyped(int64_t megabytes) {
  if (megabytes <= int64_t(kMaxMemMinMB)) return kMaxMemMinMB;
  if (megabytes >= int64_t(kMaxMemMaxMB)) return kMaxMemMaxMB;
  return RoundUp(uint32_t(megabytes), kMaxMemStepMB);
}

uint32_t ClampLogSizeTyped(uint64_t megabytes) {
  if (megabytes <= kLogSizeMinMB) return kLogSizeMinMB;
  if (megabytes >= kLogSizeMaxMB) return kLogSizeMaxMB;
  return RoundUp(uint32_t(megabytes), kLogSizeStepMB);
}

COptionChanges StoreOptionValues(const COptionValues& values, const CModuleGroups& groups,
                                 const wchar_t* programPath, CAppConfig& config) {
  COptionChanges changes;
  changes.autoScroll = values.autoScroll != config.m_autoScroll;
  changes.alwaysOnTop = values.alwaysOnTop != config.m_alwaysOnTop;
  changes.showMenu = values.showMenu != config.m_showMenu;

  config.m_tabDBClose = values.tabDBClose;
  config.m_tabBkGround = values.tabBkGround;
  config.m_tabSyncTime = values.tabSyncTime;
  config.m_autoScroll = values.autoScroll;
  config.m_gridLines = values.gridLines;
  config.m_alwaysOnTop = values.alwaysOnTop;
  config.m_showMenu = values.showMenu;
  config.m_maxMem = ClampMaxMemTyped(values.maxMem);
  config.m_hvnEnable = values.hvnEnable;
  config.m_qrcEnable = values.qrcEnable;
  config.m_qrcLogEnable = values.qrcLogEnable;
  config.m_qrvEnable = values.qrvEnable;
  config.m_dbWinEnable = values.dbWinEnable;
  config.m_sortEnable = values.sortEnable;

  const size_t ignoredChars = values.ignoredGroups.GetLength();
  if (ignoredChars < kOptionsIgnoreTextChars) {
    config.m_ignoreMask = groups.ParseNames(values.ignoredGroups.c_str());
  } else {
    const CString cut(values.ignoredGroups.c_str(), kOptionsIgnoreTextChars - 1);
    config.m_ignoreMask = groups.ParseNames(cut.c_str());
  }

  config.m_fontPoint = values.fontPoint;
  config.m_fontName = values.fontName;
  config.m_logEnable = values.backupOn;
  config.m_logLimit = values.sizeLimitOn;
  config.m_logSize = ClampLogSizeTyped(values.sizeLimit);
  if (values.backupOn != 0 && values.backupFolder.IsEmpty()) {
    config.m_logFolder = FolderOfPath(programPath);
  } else {
    config.m_logFolder = values.backupFolder;
  }
  return changes;
}

CString FolderOfPath(const wchar_t* path) {
  if (path == nullptr) return CString();
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  if (slash == nullptr) return CString();
  return CString(path, size_t(slash - path));
}

int64_t LeadingNumber(const wchar_t* text) {
  if (text == nullptr) return 0;
  while (IsBlank(*text)) ++text;
  int64_t parsed = 0;
  return ReadSignedDigits(text, &parsed) ? parsed : 0;
}

CString FormatTraceRange(int64_t megabytes) {
  const int64_t held = megabytes < 0 ? 0 : (megabytes > kLargestTraceRangeMB ? kLargestTraceRangeMB : megabytes);
  const uint64_t q = uint64_t(held) * kBytesPerMegabyte / kBytesPerTrace;
  wchar_t label[kLabelChars];
  StrPrintfW(label, kLabelChars, L"(%I64u~%I64u trace)", q * kTraceLowFactor, q * kTraceHighFactor);
  return CString(label);
}

CString FormatFontLabel(const wchar_t* fontName, uint32_t fontPoint) {
  CString label;
  label.Format(L"%s %dpt", fontName != nullptr ? fontName : L"", int(fontPoint / 10));
  return label;
}

}  // namespace ktdlg
