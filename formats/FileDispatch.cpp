#include "formats/FileDispatch.h"

#include <cwchar>

#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/IsoTimestampSniff.h"
#include "formats/Ktr.h"
#include "formats/MapLogs.h"
#include "formats/Klg.h"
#include "formats/TextExport.h"
#include "formats/TextLogs.h"
#include "formats/Zip.h"

namespace {

struct OpenRow {
  const wchar_t* extension;
  OpenReader reader;
};

constexpr OpenRow kOpenTable[] = {
    {L"log", OpenReader::TextOrIsoLog}, {L"txt", OpenReader::TextOrIsoLog}, {L"htm", OpenReader::Html},
    {L"html", OpenReader::Html},        {L"jslog", OpenReader::JsLog},      {L"kdv", OpenReader::Kdv},
    {L"kmp", OpenReader::Kmp},          {L"zip", OpenReader::Zip},          {L"klg", OpenReader::Klg},
};

struct SaveRow {
  const wchar_t* extension;
  SaveWriter writer;
};

constexpr SaveRow kSaveTable[] = {
    {L"log", SaveWriter::Text}, {L"txt", SaveWriter::Text}, {L"htm", SaveWriter::Html},
    {L"html", SaveWriter::Html}, {L"zip", SaveWriter::Zip},
};

int RunReader(CTraceMgr* store, const wchar_t* path) {
  switch (OpenReaderFor(path)) {
    case OpenReader::TextOrIsoLog:
      return IsIsoTimestampLog(path) ? LoadIsoLog(store, path) : LoadHtmlOrText(store, 0, 0);
    case OpenReader::Html:
      return LoadHtmlOrText(store, 1, 0);
    case OpenReader::JsLog:
      return LoadHtmlOrText(store, 0, 1);
    case OpenReader::Kdv:
      return LoadKdv(store);
    case OpenReader::Kmp:
      return LoadKmp(store);
    case OpenReader::Zip:
      return LoadZip(store);
    case OpenReader::Klg:
      return LoadKlg(store);
    case OpenReader::Ktr:
      break;
  }
  return LoadKtr(store);
}

// The view over every group when the records belong to other than exactly
// one group, then one view per group of the table that has records.
int AddFirstViews(CTraceMgr* store) {
  const CTraceProcessStat* all = store->m_processStats[0];
  const uint32_t mask = all->m_groupMask;
  if (BitCount(mask) != 1 && !store->AddView(AllViewName().c_str(), mask, store->Buffer()->recordCount)) {
    return 0;
  }
  for (size_t i = 0; i < g_moduleGroups.Count(); ++i) {
    const CModuleGroup* group = g_moduleGroups.GroupAt(i);
    if ((group->Flag() & mask) != 0 && !store->AddView(group->Name(), group->Flag(), size_t(all->GroupCount(i)))) {
      return 0;
    }
  }
  return 1;
}

}  // namespace

OpenReader OpenReaderFor(const wchar_t* path) {
  const wchar_t* extension = FileExtension(path);
  for (const OpenRow& row : kOpenTable) {
    if (_wcsicmp(extension, row.extension) == 0) {
      return row.reader;
    }
  }
  return OpenReader::Ktr;
}

SaveWriter SaveWriterFor(const wchar_t* path) {
  const wchar_t* extension = FileExtension(path);
  for (const SaveRow& row : kSaveTable) {
    if (_wcsicmp(extension, row.extension) == 0) {
      return row.writer;
    }
  }
  return SaveWriter::Ktr;
}

int OpenFile(CTraceMgr* store, const wchar_t* path) {
  if (store == nullptr || path == nullptr || path[0] == 0) {
    return 0;
  }
  if (!store->SetFileName(path, FileNamePart(path))) {
    return 0;
  }
  if (!RunReader(store, path) || store->Buffer() == nullptr || store->m_processStats.count == 0) {
    return 0;
  }
  if (!AddFirstViews(store)) {
    return 0;
  }
  for (size_t i = 0; i < store->m_views.count; ++i) {
    CTraceView* view = store->m_views[i];
    view->ExchangeChanged(view->RecordCount() != 0 ? 1 : 0);
  }
  store->ExchangeHasData(store->Buffer()->recordCount != 0 ? 1 : 0);
  store->SortViews();
  return 1;
}

int SaveFile(CTraceMgr* store, const wchar_t* path, CTraceView* view) {
  if (store == nullptr || path == nullptr || path[0] == 0) {
    return 0;
  }
  switch (SaveWriterFor(path)) {
    case SaveWriter::Text:
      return SaveText(store, path, 0, view);
    case SaveWriter::Html:
      return SaveText(store, path, 1, view);
    case SaveWriter::Zip:
      return SaveZip(store, path, view);
    case SaveWriter::Ktr:
      break;
  }
  return SaveKtr(store, path, view);
}
