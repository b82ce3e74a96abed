// The jobs of the local worker: opening and saving files, re-filtering a
// view, copying a dump file.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/RefString.h"
#include "core/TraceFilter.h"
#include "jobs/JobItem.h"
#include "res/resource.h"

class CTraceMgr;
class CTraceView;

// Progress of a job's store or view as a run starts and ends, in percent.
constexpr uint32_t kJobProgressStart = 0;
constexpr uint32_t kJobProgressDone = 100;

// Opens a file into a store (IDS_JOB_OPENING), saves a whole store
// (IDS_JOB_SAVING) or one view (IDS_JOB_SAVING_VIEW).
class JobFile : public JobItem {
 public:
  // Takes one reference of the store or of the view (exactly one is set);
  // a view's store is held too, so closing its document frees nothing the
  // job still reads.
  JobFile(uint32_t titleId, const wchar_t* path, CTraceMgr* store, CTraceView* view);
  ~JobFile() override;

  void Run() override;
  uint32_t GetPercent() override;

  // The store that was opened or saved; null for a view's save.
  CTraceMgr* Store() const { return m_store; }
  CTraceView* View() const { return m_view; }
  const CString& Path() const { return m_path; }

 private:
  // The load or save itself; the caller holds the lock.
  int Transfer();
  void SetProgress(uint32_t percent);

  CTraceMgr* m_store;
  CTraceView* m_view;
  CTraceMgr* m_viewStore;  // the view's store, held while the job lives
  CString m_path;
};

// Applies a changed filter to a view and keeps the selected record selected.
class JobFilter : public JobItem {
 public:
  // Holds the view and its store, reads the selected record's time and
  // sequence now (under the store's shared lock) and gives the view to the
  // job (state 2) until it ran or the job is deleted.
  JobFilter(CTraceView* view, uint32_t partMask, const CTraceFilter& filter, int selected);
  ~JobFilter() override;

  void Run() override;
  uint32_t GetPercent() override;

  CTraceView* View() const { return m_view; }
  // After the run: the selected record's new index, -1 for none.
  int SelectedIndex() const { return m_selected; }

 private:
  struct RecordKey {
    bool valid = false;
    uint32_t time = 0;
    uint16_t milliseconds = 0;
    uint32_t sequence = 0;
    uint32_t pid = 0;
    uint32_t tid = 0;
  };
  void CaptureSelection(int selected);
  int FindSelection() const;
  // The rebuild itself, under the store's shared lock.
  void Rebuild();

  CTraceView* m_view;
  CTraceMgr* m_store;
  uint32_t m_partMask;
  CTraceFilter m_filter;
  int m_selected;
  RecordKey m_key;
  bool m_ran = false;
};

// Copies a dump file, choosing a free name when asked not to overwrite.
class JobSaveDump : public JobItem {
 public:
  JobSaveDump(const wchar_t* source, const wchar_t* destination, int avoidOverwrite);

  void Run() override;
  uint32_t GetPercent() override { return 0; }

  const CString& Destination() const { return m_destination; }

 private:
  CString m_source;
  CString m_destination;
  int m_avoidOverwrite;
};

// The destination with "(n)" put before the extension of its file name (or
// at its end when the file name has none). 0 when it could not be made.
int MakeNumberedName(const wchar_t* path, uint32_t number, CString& name);
