#include "core/StoreLock.h"
#include "core/TraceView.h"
#include "formats/FileDispatch.h"
#include "formats/FilePath.h"
#include "jobs/LocalJobs.h"

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
  // Loading a new store takes it exclusively; saving reads under the
  // shared lock, beside the window's readers.
  CTraceMgr* target = nullptr;
  int mode = kLockShared;
  switch (TitleId()) {
    case IDS_JOB_OPENING:
      target = m_store;
      mode = kLockExclusive;
      break;
    case IDS_JOB_SAVING:
      target = m_store;
      break;
    case IDS_JOB_SAVING_VIEW:
      target = m_viewStore;
      break;
    default:
      break;
  }
  if (!target) {
    SetFailed(0);
    return;
  }
  SetProgress(kJobProgressStart);
  {
    const CStoreLock lock(target, mode);
    if (!lock.Held() || !Transfer()) SetFailed(0);
  }
  SetProgress(kJobProgressDone);
}

int JobFile::Transfer() {
  if (TitleId() == IDS_JOB_OPENING) return OpenFile(m_store, m_path.c_str());
  if (m_store) return SaveFile(m_store, m_path.c_str(), nullptr);
  return SaveFile(m_viewStore, m_path.c_str(), m_view);
}

void JobFile::SetProgress(uint32_t percent) {
  if (m_store) {
    m_store->SetProgress(percent);
  } else if (m_view) {
    m_view->SetProgress(percent);
  }
}
