// The window-free rules of the options dialog: its working copy of the
// settings, the defaults "Restore Default" sets, what OK stores into the
// settings block (clamped, rounded, with the change flags the caller reads),
// the font label and the trace-range label, and the module selection's mask.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/RefString.h"

namespace ktdlg {

// Size of one backup file, in megabytes.
constexpr uint32_t kLogSizeMinMB = 2;
constexpr uint32_t kLogSizeMaxMB = 2048;
constexpr uint32_t kLogSizeStepMB = 2;

// Texts read from the dialog's edits: the memory edit for the trace range
// (63 characters), the ignored groups (511 characters).
constexpr size_t kOptionsMemoryTextChars = 64;
constexpr size_t kOptionsIgnoreTextChars = 512;

// The options dialog's copy of the settings. The two number edits are kept
// as typed, in 64 bits (memory signed, size unsigned), so OK clamps what
// the user typed rather than a value that already wrapped.
struct COptionValues {
  uint32_t tabDBClose = 0;
  uint32_t tabBkGround = 0;
  uint32_t tabSyncTime = 0;
  uint32_t autoScroll = 0;
  uint32_t gridLines = 0;
  uint32_t alwaysOnTop = 0;
  uint32_t showMenu = 0;
  int64_t maxMem = 0;  // megabytes
  uint32_t hvnEnable = 0;
  uint32_t qrcEnable = 0;
  uint32_t qrcLogEnable = 0;
  uint32_t qrvEnable = 0;
  uint32_t dbWinEnable = 0;
  uint32_t sortEnable = 0;
  CString ignoredGroups;  // group names, each followed by ";"
  uint32_t fontPoint = 0;  // tenths of a point
  CString fontName;
  uint32_t backupOn = 0;
  uint32_t sizeLimitOn = 0;
  uint64_t sizeLimit = 0;  // megabytes
  CString backupFolder;
};

// What changed on OK, for the caller to apply.
struct COptionChanges {
  uint32_t font = 0;
  uint32_t autoScroll = 0;
  uint32_t alwaysOnTop = 0;
  uint32_t showMenu = 0;
};

// The dialog's start: the settings, the ignored mask named by `groups`.
COptionValues OptionValuesFromConfig(const CAppConfig& config, const CModuleGroups& groups);
// What "Restore Default" shows (nothing is stored until OK).
COptionValues DefaultOptionValues();

// Memory: held within 256 to 512 first, then rounded up to a multiple of 4.
uint32_t ClampMaxMemTyped(int64_t megabytes);
// Backup file size: held within 2 to 2048 first, then rounded up to even.
uint32_t ClampLogSizeTyped(uint64_t megabytes);

// OK: stores the values into `config` (the ignored groups parsed against
// `groups`; an empty folder with backup on becomes the folder of
// `programPath`) and returns which of auto scroll, always on top and menu
// bar changed. The font flag is the dialog's own and stays 0 here.
COptionChanges StoreOptionValues(const COptionValues& values, const CModuleGroups& groups,
                                 const wchar_t* programPath, CAppConfig& config);

// The folder of a file path: everything before its last backslash; "" when
// the path has none.
CString FolderOfPath(const wchar_t* path);

// The leading number of a text, as the trace-range label reads it: blanks,
// an optional sign, the digits that follow; 0 without digits; saturating.
int64_t LeadingNumber(const wchar_t* text);

// "(%u~%u trace)" for a memory size: q = floor(n * 1,048,576 / 3,000,000)
// records per 10,000 and 15,000, computed in 64 bits; negative sizes count
// as 0 and sizes above 4294967295 as 4294967295.
CString FormatTraceRange(int64_t megabytes);
// "%s %dpt" with the font name and whole points.
CString FormatFontLabel(const wchar_t* fontName, uint32_t fontPoint);

}  // namespace ktdlg
