// Touching of a store's reserved buffer ahead of a reader that appends
// records to it (see CPageToucher): one object per load, asked before each
// record. Large loads only; small ones are not worth the threads.
#pragma once

#include <cstdint>

#include "core/PageToucher.h"

class CTraceMgr;

class CStoreToucher {
 public:
  // Starts helpers over the free part of the store's buffer when it is
  // large enough; otherwise BeforeRecord does nothing.
  void Start(CTraceMgr* store);
  // The same for a reader of `inputBytes` whose records take a multiple of
  // their input that only the records tell: once a first part of the input
  // is stored (BeforeRecord's `inputDone` says how much), the store grows at
  // once to what that part forecasts for the rest, with an eighth to spare,
  // instead of growing, and copying itself, step by step; the helpers start
  // then.
  void StartWithForecast(CTraceMgr* store, uint64_t inputBytes);
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
  // The same, `inputDone` bytes of the input read before this record.
  void BeforeRecord(CTraceMgr* store, uint64_t inputDone) {
    if (inputDone >= m_forecastAt) {
      Forecast(store, inputDone);
    }
    BeforeRecord(store);
  }

 private:
  static constexpr uint64_t kNoForecast = UINT64_MAX;

  void Claim(CTraceMgr* store);
  void Resume(CTraceMgr* store);
  void Forecast(CTraceMgr* store, uint64_t inputDone);

  CPageToucher m_toucher;
  // Set when the helpers stopped for want of room, not for want of size.
  bool m_resume = false;
  uint64_t m_inputBytes = 0;
  uint64_t m_forecastAt = kNoForecast;  // input read when the forecast is made
  uint32_t m_forecastFrom = 0;          // the store's write offset when the input started
};
