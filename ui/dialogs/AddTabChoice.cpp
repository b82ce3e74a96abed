#include "ui/dialogs/AddTabChoice.h"

#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceView.h"

namespace {

const CTraceProcessStat* EntryOrNull(const ProcessEntries* entries, size_t index) {
  return entries != nullptr && index < entries->count ? (*entries)[index] : nullptr;
}

}  // namespace

bool AddTabOffersProcesses(const ProcessEntries* entries) {
  return entries != nullptr && entries->count >= kAddTabMinProcessEntries;
}

CString FormatProcessLabel(const CProcessList& names, uint32_t pid) {
  const CString name = names.GetNameById(pid);
  wchar_t label[kProcessLabelChars];
  // A cut label is still shown: StrPrintfW terminates at the last place.
  StrPrintfW(label, kProcessLabelChars, L"%s (pid:%u)", name.c_str(), pid);
  return CString(label);
}

size_t AddTabInitialEntry(const ProcessEntries* entries, uint32_t all, uint32_t pid) {
  if (all != 0 || !AddTabOffersProcesses(entries)) {
    return 0;
  }
  for (size_t i = 1; i < entries->count; ++i) {
    const CTraceProcessStat* entry = (*entries)[i];
    if (entry != nullptr && entry->m_pid == pid) {
      return i;
    }
  }
  return 0;
}

AddTabProcess AddTabProcessAt(const ProcessEntries* entries, size_t index) {
  AddTabProcess process = {1, 0};
  if (index == 0 || !AddTabOffersProcesses(entries)) {
    return process;
  }
  const CTraceProcessStat* entry = EntryOrNull(entries, index);
  if (entry != nullptr) {
    process.all = 0;
    process.pid = entry->m_pid;
  }
  return process;
}

const CTraceProcessStat* AddTabEntryAt(const ProcessEntries* entries, size_t index) {
  if (AddTabOffersProcesses(entries) && EntryOrNull(entries, index) != nullptr) {
    return (*entries)[index];
  }
  return EntryOrNull(entries, 0);
}

size_t AddTabGroupRows(const CModuleGroups& groups, const CTraceProcessStat* entry, AddTabGroupRow* rows,
                       size_t capacity) {
  if (entry == nullptr) {
    return 0;
  }
  size_t written = 0;
  for (size_t i = 0; i < groups.Count() && written < capacity; ++i) {
    const CModuleGroup* group = groups.GroupAt(i);
    if (group == nullptr || (entry->m_groupMask & group->Flag()) == 0) {
      continue;
    }
    rows[written].name = group->Name();
    rows[written].count = entry->GroupCount(i);
    rows[written].flag = group->Flag();
    ++written;
  }
  return written;
}
