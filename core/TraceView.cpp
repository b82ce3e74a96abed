#include "core/TraceView.h"

CTraceView::CTraceView(CTraceMgr* owner, const wchar_t* name, uint32_t mask)
    : m_owner(owner), m_name(name), m_groupMask(mask) {}

LONG CTraceView::Release() {
  const LONG left = InterlockedDecrement(&m_refCount);
  if (left == 0) {
    delete this;
  }
  return left;
}
