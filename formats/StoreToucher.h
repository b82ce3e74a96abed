// Touching of a store's reserved buffer ahead of a reader that appends
// records to it (see CPageToucher): one object per load, asked before each
// record. Large loads only; small ones are not worth the threads.
#pragma once

#include "core/PageToucher.h"

class CTraceMgr;

class CStoreToucher {
 public:
  // Starts helpers over the free part of the store's buffer when it is
  // large enough; otherwise BeforeRecord does nothing.
  void Start(CTraceMgr* store);
  // Before each record is stored: the pages it may take are claimed. With
  // too little room left for any record the helpers stop, since the store
  // may then grow and move its buffer; once it has grown, they start again
  // over the new buffer's free part.
  void BeforeRecord(CTraceMgr* store) {
    if (m_toucher.Active()) {
      Claim(store);
    } else if (m_resume) {
      Resume(store);
    }
  }

 private:
  void Claim(CTraceMgr* store);
  void Resume(CTraceMgr* store);

  CPageToucher m_toucher;
  // Set when the helpers stopped for want of room, not for want of size.
  bool m_resume = false;
};
