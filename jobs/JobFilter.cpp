#include "core/StoreLock.h"
#include "core/TraceView.h"
#include "jobs/LocalJobs.h"

namespace {

constexpr int kNoRecord = -1;

}  // namespace

JobFilter::JobFilter(CTraceView* view, uint32_t partMask, const CTraceFilter& filter, int selected)
    : JobItem(IDS_JOB_SEARCHING, view ? view->m_title.c_str() : L""),
      m_view(view),
      m_store(view ? view->m_owner : nullptr),
      m_partMask(partMask),
      m_filter(filter),
      m_selected(selected) {
  if (!m_view) return;
  m_view->AddRef();
  if (m_store) m_store->AddRef();
  CaptureSelection(selected);
  m_view->ExchangeState(kViewFilterJob);
}

JobFilter::~JobFilter() {
  if (!m_view) return;
  // Never run (refused by the queue or dropped by a stop): the view is the
  // window's again.
  if (!m_ran) m_view->ExchangeState(kViewIdle);
  m_view->Release();
  if (m_store) m_store->Release();
}

// Only the record's identity is kept: while the view belongs to the job the
// capture may release the ring space the record lies in.
void JobFilter::CaptureSelection(int selected) {
  if (!m_store || selected < 0) return;
  const CStoreLock lock(m_store, kLockShared);
  if (lock.Held() && size_t(selected) < m_view->RecordCount()) {
    const TraceRecord* record = m_view->RecordAt(size_t(selected));
    m_key.valid = true;
    m_key.time = record->time;
    m_key.milliseconds = record->milliseconds;
    m_key.sequence = record->sequence;
    m_key.pid = record->pid;
    m_key.tid = record->tid;
  }
}

// The record's own index when it is still in the view, else the first
// record at or after its time, else the last record; -1 for an empty view.
int JobFilter::FindSelection() const {
  const size_t count = m_view->RecordCount();
  if (!m_key.valid || count == 0) return kNoRecord;
  int candidate = kNoRecord;
  for (size_t i = 0; i < count; ++i) {
    const TraceRecord* at = m_view->RecordAt(i);
    if (at->time > m_key.time) return candidate != kNoRecord ? candidate : int(i);
    if (at->time != m_key.time) continue;
    if (at->sequence == m_key.sequence && at->milliseconds == m_key.milliseconds && at->pid == m_key.pid &&
        at->tid == m_key.tid) {
      return int(i);
    }
    if (at->milliseconds >= m_key.milliseconds && candidate == kNoRecord) candidate = int(i);
  }
  return candidate != kNoRecord ? candidate : int(count - 1);
}

void JobFilter::Run() {
  m_ran = true;
  if (!m_view || !m_store) {
    SetFailed(0);
    return;
  }
  m_view->SetProgress(kJobProgressStart);
  Rebuild();
  m_view->SetProgress(kJobProgressDone);
}

void JobFilter::Rebuild() {
  const CStoreLock lock(m_store, kLockShared);
  if (!lock.Held()) {
    m_selected = kNoRecord;
    m_view->ExchangeState(kViewIdle);
    SetFailed(0);
    return;
  }
  // A filter or index that ran out of memory is still applied: the view
  // shows what it holds, and the job reports the failure.
  if (!m_view->m_filter.Assign(m_partMask, m_filter)) SetFailed(0);
  if (!m_view->Rebuild()) SetFailed(0);
  m_view->ExchangeState(kViewIdle);
  m_view->UpdateTitle();
  m_view->ExchangeChanged(1);
  m_selected = FindSelection();
  m_view->m_topRow = m_selected;
  m_view->m_selectedRow = m_selected;
}

uint32_t JobFilter::GetPercent() { return m_view ? m_view->Progress() : 0; }
