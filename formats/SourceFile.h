// The common opening of the file readers: the store's own path opened for
// reading (or mapped read-only), its size checked and reserved in the store.
#pragma once

#include <cstdint>

#include "core/Handle.h"

class CTraceMgr;

// Every reader's file must stay below 4 GiB - 1 bytes: offsets are 32-bit.
constexpr uint64_t kMaxSourceFileSize = 0xFFFFFFFEull;

class CSourceFile {
 public:
  // Opens the store's path with read sharing and checks that the file holds
  // at least `minimumSize` bytes and at most kMaxSourceFileSize, for a
  // reader that reads it through a buffer of its own (Handle). 1, or 0 with
  // nothing held.
  int OpenForReading(CTraceMgr* store, uint32_t minimumSize);
  // Reserves the file's size in the store. 1 or 0.
  int Reserve(CTraceMgr* store) const;
  // Reserves the size and maps the file. 1 or 0.
  int Map(CTraceMgr* store, const char* caller);
  HANDLE Handle() const { return m_file.get(); }

  // The mapped bytes; valid while this object lives.
  const uint8_t* Data() const { return static_cast<const uint8_t*>(m_view.get()); }
  uint32_t Size() const { return m_size; }

 private:
  CHandle m_file;
  CMappedView m_view;
  uint32_t m_size = 0;
};
