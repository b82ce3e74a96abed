// The add-tab dialog's rules without its window: which processes the combo
// offers and which one it starts on, what a combo row stands for, and the
// module-group rows of one process entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/ModuleGroups.h"
#include "core/RefString.h"

class CProcessList;
class CTraceProcessStat;

// The caller's per-process statistics; entry 0 counts every process.
using ProcessEntries = CGrowArray<CTraceProcessStat*>;

// With fewer entries (the all-processes entry and one process) the combo
// offers only "pid:all".
constexpr size_t kAddTabMinProcessEntries = 3;
constexpr size_t kProcessLabelChars = 128;
constexpr wchar_t kAllProcessesText[] = L"pid:all";

// True when the combo lists the processes one by one.
bool AddTabOffersProcesses(const ProcessEntries* entries);

// "%s (pid:%u)" with the process name ("N/A" when the list does not know
// it), cut to 127 characters.
CString FormatProcessLabel(const CProcessList& names, uint32_t pid);

// The entry index to start on: the first entry from index 1 on whose pid is
// `pid` when `all` is 0 and processes are offered; 0 ("pid:all") otherwise,
// also when no entry has that pid.
size_t AddTabInitialEntry(const ProcessEntries* entries, uint32_t all, uint32_t pid);

struct AddTabProcess {
  uint32_t all;  // 1: every process
  uint32_t pid;  // 0 with all = 1
};

// What entry `index` stands for. An index outside the entries, index 0, a
// null entry and a dialog that offers no processes all mean every process.
AddTabProcess AddTabProcessAt(const ProcessEntries* entries, size_t index);

// The entry whose groups the list shows: `index` when processes are offered
// and it names an entry, else entry 0; null when there is none.
const CTraceProcessStat* AddTabEntryAt(const ProcessEntries* entries, size_t index);

struct AddTabGroupRow {
  const wchar_t* name;  // the table's, valid while the table stands
  uint64_t count;       // records of the entry in that group
  uint32_t flag;
};

// The groups of `entry` in table order: every group whose flag is in the
// entry's group mask. Writes at most `capacity` rows; returns their number
// (0 for a null entry or an empty table).
size_t AddTabGroupRows(const CModuleGroups& groups, const CTraceProcessStat* entry, AddTabGroupRow* rows,
                       size_t capacity);
