#include <shlwapi.h>

#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/LocalJobs.h"

namespace {

constexpr uint32_t kProgressStart = 0;
constexpr uint32_t kProgressDone = 100;

const wchar_t* FileNamePart(const wchar_t* path) { return path ? PathFindFileNameW(path) : L""; }

}  // namespace

JobFile::JobFile(uint32_t titleId, const wchar_t* path, CTraceMgr* store, CTraceView* view)
    : JobItem(titleId, FileNamePart(path)),
      m_store(store),
      m_view(store ? nullptr : view),
      m_viewStore(m_view ? m_view->m_owner : nullptr),
      m_path(path ? path : L"") {
  if (m_store) m_store->AddRef();
  if (m_view) m_view->AddRef();
  if (m_viewStore) m_viewStore->AddRef();
}

JobFile::~JobFile() {
  if (m_store) m_store->Release();
  // The view first: the store's last release would release its views too.
  if (m_view) m_view->Release();
  if (m_viewStore) m_viewStore->Release();
}

uint32_t JobFile::GetPercent() {
  if (m_store) return m_store->Progress();
  return m_view ? m_view->Progress() : 0;
}

void JobFile::Run() {
  switch (TitleId()) {
    case kJobTitleOpening:
      RunOpen();
      break;
    case kJobTitleSaving:
      RunSaveStore();
      break;
    case kJobTitleSavingView:
      RunSaveView();
      break;
    default:
      SetFailed(0);
      break;
  }
}

void JobFile::RunOpen() {
  if (!m_store) return SetFailed(0);
  m_store->SetProgress(kProgressStart);
  if (!m_store->Lock(kLockExclusive, 1)) {
    SetFailed(0);
  } else {
    if (!OpenStoreFile(m_store, m_path.c_str())) SetFailed(0);
    m_store->Unlock(kLockExclusive);
  }
  m_store->SetProgress(kProgressDone);
}

void JobFile::RunSaveStore() {
  if (!m_store) return SetFailed(0);
  m_store->SetProgress(kProgressStart);
  if (!m_store->Lock(kLockShared, 1)) {
    SetFailed(0);
  } else {
    if (!SaveStoreFile(m_store, m_path.c_str(), nullptr)) SetFailed(0);
    m_store->Unlock(kLockShared);
  }
  m_store->SetProgress(kProgressDone);
}

void JobFile::RunSaveView() {
  if (!m_view || !m_viewStore) return SetFailed(0);
  m_view->SetProgress(kProgressStart);
  if (!m_viewStore->Lock(kLockShared, 1)) {
    SetFailed(0);
  } else {
    if (!SaveStoreFile(m_viewStore, m_path.c_str(), m_view)) SetFailed(0);
    m_viewStore->Unlock(kLockShared);
  }
  m_view->SetProgress(kProgressDone);
}
