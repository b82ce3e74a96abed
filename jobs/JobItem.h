// The root of the job classes. A job is made on the user-interface thread,
// run once on a worker thread and read back by the window after its finished
// notice; titles may change while the window's timer reads them, so a posted
// job's title changes only under its manager's lock.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/RefString.h"

class CJobMgr;

class JobItem {
 public:
  // The title is the string-table text `titleId` formatted with `argument`.
  JobItem(uint32_t titleId, const wchar_t* argument);
  JobItem(const JobItem&) = delete;
  JobItem& operator=(const JobItem&) = delete;
  virtual ~JobItem() = default;

  // The work, on the worker thread; sets the failed flag and error code.
  virtual void Run() = 0;
  // Asks a running job to stop early.
  virtual void Cancel() {}
  // Progress 0 to 100, read from any thread.
  virtual uint32_t GetPercent() = 0;

  uint32_t TitleId() const { return m_titleId; }
  int Failed() const { return m_failed; }
  uint32_t ErrorCode() const { return m_errorCode; }
  // For the window after the finished notice, and for the manager under its
  // lock; nobody else reads it while the job may be running.
  const CString& Title() const { return m_title; }

  // Formats a new title from a string-table id (the job keeps its id): under
  // the manager's lock once the job is posted. 0 when it could not be made.
  int SetTitle(uint32_t stringId, const wchar_t* argument);

  // Set by the manager when the job is posted; titles change under its lock.
  void AttachManager(CJobMgr* manager) { m_manager = manager; }

 protected:
  void SetFailed(uint32_t errorCode) {
    m_failed = 1;
    m_errorCode = errorCode;
  }
  void ClearFailed() {
    m_failed = 0;
    m_errorCode = 0;
  }

 private:
  friend class CJobMgr;

  uint32_t m_titleId;
  int m_failed = 0;
  uint32_t m_errorCode = 0;
  CString m_title;
  CJobMgr* m_manager = nullptr;
};

// The string-table text `stringId` with "%s" replaced by `argument`; the
// argument is never read as a format, so a "%" in a path is harmless. With
// no such string the argument alone.
CString FormatJobTitle(uint32_t stringId, const wchar_t* argument);
