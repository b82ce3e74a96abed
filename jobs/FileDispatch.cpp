// Until the open and save dispatch by extension exists, every file is read
// and written as a KELT image.
#include <shlwapi.h>

#include "core/TraceStore.h"
#include "formats/Ktr.h"
#include "jobs/LocalJobs.h"

int OpenStoreFile(CTraceMgr* store, const wchar_t* path) {
  if (!store->SetFileName(path, PathFindFileNameW(path))) return 0;
  return LoadKtr(store) && store->Buffer() ? 1 : 0;
}

int SaveStoreFile(CTraceMgr* store, const wchar_t* path, CTraceView* view) { return SaveKtr(store, path, view); }
