// The live trace store and every input of live capture. One exists per
// process, bound to the window that owns capture; the capture thread runs
// its loop, the user-interface thread reads its ring and views under the
// store's lock.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "capture/OlderSources.h"
#include "capture/StagedOrder.h"
#include "capture/TraceChannel.h"
#include "core/Containers.h"
#include "core/CriticalSection.h"
#include "core/Handle.h"
#include "core/RWLock.h"
#include "core/TraceStore.h"
#include "jobs/Notify.h"
#include "jobs/Threads.h"
#include "res/resource.h"

class CSocketService;
class CSocketClient;
class CLocalFileList;
class CStoreLock;
struct LocalFileEntry;

// Writer kinds, the index of a channel in each set.
constexpr int kChannelKinds = 4;

struct ChannelNameSet {
  const wchar_t* mutex;
  const wchar_t* event;
  const wchar_t* mapping;
};
// The session-local names; the global set puts "Global\" before each.
extern const ChannelNameSet kChannelTable[kChannelKinds];
constexpr wchar_t kGlobalPrefix[] = L"Global\\";

// The ring: reserved at MaxMem, committed in these steps, freed in two sizes.
constexpr uint32_t kRingCommitStep = 0x400000;
constexpr uint32_t kRingFreeSmall = 0x200000;
constexpr uint32_t kRingFreeLarge = 0x400000;
constexpr uint32_t kRingSmallCapacity = 0x400000;
// How far ahead of the ring's committed end its pages are made ready.
constexpr uint64_t kRingPrepareAheadBytes = 64ull << 20;
// Sizes the staging and import buffers start with.
constexpr uint32_t kStagingStartBytes = 32768;
constexpr size_t kImportStartBytes = 32768;
// The shared one-record buffer and the debugger buffer.
constexpr DWORD kKelBufferSize = 2344;
constexpr DWORD kDbwinBufferSize = 4096;
// Sorting stores a record once its time is this many seconds in the past,
// so that inputs a little out of step are merged in time order...
constexpr int64_t kSortSettleSeconds = 2;
// ...or at the latest this long after it arrived, whatever its clock says...
constexpr DWORD kSortHoldMs = 2000;
// ...unless this many bytes are staged: then everything is stored.
constexpr uint32_t kSortHoldCapBytes = 64u << 20;
// One import copies at most this many bytes from a ring per mutex hold,
// and at most this many slices before other inputs are served again. A
// slice, and the records staged from it, still fit the processor's caches
// when they are stored: walking megabytes of staged records that had
// already left them cost more than the copies themselves.
constexpr size_t kImportSliceBytes = 512u << 10;
constexpr int kImportSlicesPerCall = 32;
// Without sorting, a staging buffer this large is stored at once instead of
// on the next tick.
constexpr uint32_t kEagerStoreBytes = 1u << 20;
// How long the capture thread keeps trying to take the store back between
// two chunks of one store step.
constexpr DWORD kStoreRetakeMs = 100;
// Records stored under one exclusive hold of the store, so the window never
// waits long for its shared lock while a big batch is stored.
constexpr uint32_t kStoreChunkRecords = 2048;
// The capture loop's timer period, and where in the system clock's second
// each tick is moved to once the timer runs: just after the second changes,
// when the held records of the second before last have settled.
constexpr LONG kCaptureTickMs = 1000;
constexpr DWORD kCaptureTickMarkMs = 5;
// Intervals of ImportKelMapFile: after an event, and from the timer.
constexpr DWORD kEventImportIntervalMs = 100;
constexpr DWORD kTimerImportIntervalMs = 0;

// Notices of the capture besides the string-table ids: a writer overran
// records that were not read yet (the window reads LostRecords), a writer
// channel failed and was closed, and the loop's wait failed so the capture
// ended.
constexpr uint32_t kNoticeRecordsLost = 2;
constexpr uint32_t kNoticeChannelFailed = 3;
constexpr uint32_t kNoticeCaptureFailed = 4;

// Remote protocol limits. A request must be complete this long after the
// connection came up; a reply that makes no progress for this long, and a
// closed reply whose peer does not close, are dropped; a live viewer whose
// unsent bytes pass the bound is dropped rather than let grow without end.
constexpr DWORD kRemoteRequestMs = 10000;
constexpr DWORD kRemoteReplyStallMs = 30000;
constexpr DWORD kRemoteLingerMs = 5000;
constexpr size_t kRemoteLiveOutputBytes = 32u << 20;
// A file reply keeps at most this much read ahead of the socket.
constexpr size_t kRemoteFileWindowBytes = 64u << 10;
constexpr DWORD kRemoteFilePieceBytes = 4096;

// Backup file size limits in megabytes: Size is clamped to these, so that
// neither 0 nor a huge value breaks the rotation and every file stays a
// readable trace file.
constexpr uint32_t kBackupMinMegabytes = 1;
constexpr uint32_t kBackupMaxMegabytes = 4095;
// Room for the backup folder and the file name behind it.
constexpr size_t kBackupFolderChars = 260;
constexpr size_t kBackupPathChars = kBackupFolderChars + 64;

// A buffer that writers hand over one message at a time (the one-record
// buffer, the debugger buffer): its ready and data events, its mapping and
// the mapping's view. Closed, like destroyed, in reverse: the view first.
struct CaptureHandOver {
  CHandle ready;
  CHandle data;
  CHandle mapping;
  CMappedView view;

  void Close() {
    view.reset();
    mapping.reset();
    data.reset();
    ready.reset();
  }
};

class CTraceCapture : public CTraceMgr, public ICaptureStore {
 public:
  explicit CTraceCapture(HWND owner);
  ~CTraceCapture() override;

  // --- store ---
  int GrowBuffer(uint32_t bytes) override;
  int Lock(int mode, int wait) override;
  void Unlock(int mode) override;

  // Prepares the store for the listen port (0: viewer, with ring and view).
  int Init(uint16_t port);
  // Empties the store; returns the previous has-data flag. The caller holds
  // the exclusive lock.
  LONG Clear();
  // Frees at least `needed` bytes at the write offset by dropping the
  // oldest records; views, statistics and backup place follow.
  void FreeRingSpace(uint32_t needed, int secondPass);

  // --- inputs ---
  int OpenMapFiles(int reconnect);
  void CloseMapFiles();
  int OpenKelBuffer(int global, SECURITY_ATTRIBUTES* attributes);
  int OpenDbwin(SECURITY_ATTRIBUTES* attributes);
  int SetTracerProp(int set);
  // Text another process sent to the owner window with WM_COPYDATA: staged
  // as one live record, stored by the next tick. User-interface thread.
  void AddCopyDataText(const char* text, const char* end);

  // --- one-message inputs ---
  // Each takes one message into the staging buffer and frees the buffer
  // for the next writer. 1.
  int OnKelBufferData();
  int OnDbwinData();

  // --- older sources ---
  int ImportQrc(CTraceManagerView* view);
  int ImportQrv(CTraceStone* stone);
  CTraceManagerView& QrcView(int global) { return global ? m_qrcGlobal : m_qrcLocal; }
  CTraceStone& Stone() { return m_stone; }

  // --- backups ---
  // The per-tick step: writes every stored record not written yet.
  void FlushBackup();
  // Appends one narrow record, starting a new file when needed. 1 when the
  // record was written.
  int WriteBackup(const uint8_t* record, uint32_t limit);
  uint32_t BackupWritten() const { return m_backupWritten; }
  uint32_t BackupFileNumber() const { return m_backupNumber; }
  using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  void SetBackupWriteFunction(WriteFileFn write) { m_writeFile = write; }

  // --- loop ---
  void CaptureLoop() override;
  void ClearRunFlag() override { InterlockedExchange(&m_runFlag, 0); }
  void OnControl(CaptureControlItem* item) override;
  // Copies a channel's new records and stages them. Returns the lock result.
  int ImportKelMapFile(CTraceChannel* channel, DWORD intervalMs);
  void DrainQueueToCaches();
  void SortAndStorePending();
  void ForwardToRemotes();
  // Order of two staged records: time, milliseconds, stamp, arrival.
  static int CompareRecords(const TraceRecord* a, const TraceRecord* b);

  // --- remote protocol (capture thread) ---
  // `next` is the wait-array index the loop polls from after this handle;
  // a handler that removes a handle before it lowers it.
  void OnListenEvent(CSocketService* listen, size_t* next);
  // Takes every connection waiting in the backlog; one past the connection
  // limit is closed at once unless a finished client's slot can be had.
  void AcceptWaiting(CSocketService* listen, size_t* next);
  void OnServiceClientEvent(CSocketClient* client, size_t* next);
  // Appends one dump-list entry. 1, or 0 when the buffer cannot grow or the
  // path cannot be converted.
  static int WriteDumpFileEntry(const LocalFileEntry* entry, CByteBuffer& out);
  void OnRemoteClientEvent(CSocketClient* client, size_t* next);
  // Stages the whole records received. 0 when the stream is out of step.
  int OnRemoteRecords(CSocketClient* client);
  uint16_t ListenPort() const { return m_listenPort; }
  // The listening socket's event, null while there is none.
  HANDLE ListenEvent() const;
  uint32_t RemoteViewerMode() const { return m_remoteViewer; }
  // The remote server's address while in remote-viewer mode; port 0 and
  // address 0xFFFFFFFF otherwise.
  sockaddr_in RemoteAddress() const { return m_remoteAddress; }
  size_t ClientCount() const { return m_clients.count; }
  // The dump-file list served to clients (the global one by default).
  void SetLocalFileList(CLocalFileList* list) { m_fileList = list; }
  // Test seam: the request time limit and the live viewer's output bound.
  void SetRemoteLimits(DWORD requestMs, size_t liveOutputBytes) {
    m_requestMs = requestMs;
    m_liveOutputLimit = liveOutputBytes;
  }

  // --- what the window and tests read ---
  CTraceChannel& LocalChannel(int kind) { return m_local[kind]; }
  CTraceChannel& GlobalChannel(int kind) { return m_global[kind]; }
  uint64_t LostRecords() const;
  uint32_t StagedCount() const;
  const CGrowArray<HANDLE>& WaitHandles() const { return m_waitHandles; }
  // The longest exclusive hold of the store since the last call.
  uint64_t TakeLongestHoldMicros();
  LONG RunFlag() const { return m_runFlag; }
  HWND Owner() const { return m_owner; }
  DWORD OwnProcessId() const { return m_ownPid; }

  // Test seams: the ring's reservation, commit and free steps (0 keeps the
  // defaults) and how notices are posted.
  void SetRingLimits(uint64_t reserveBytes, uint32_t commitStep, uint32_t freeStep);
  void SetPostFunction(PostMessageFn post) { m_post = post; }
  // Sorting is read from the options each tick unless set here.
  void SetSorting(int sorting) { m_sortOverride = sorting; }
  void SetIgnoreMask(uint32_t mask) { m_ignoreOverride = 1, m_ignoreMask = mask; }
  // Puts "_<tag>" behind every channel name, so that parallel runs in one
  // session do not meet; before OpenMapFiles.
  void SetChannelTag(const wchar_t* tag);
  // The loop's wait (WaitForMultipleObjectsEx).
  using WaitFn = DWORD(WINAPI*)(DWORD, const HANDLE*, BOOL, DWORD, BOOL);
  void SetWaitFunction(WaitFn wait) { m_wait = wait; }
  // The clock that times arrivals.
  void SetTickSource(DWORD(WINAPI* tick)()) { m_tick = tick; }

  // Serves one signalled handle of the wait array; the timer's tick moves
  // the staged records on.
  void DispatchHandle(HANDLE handle);
  // Serves wait-array entry `index`; returns the index to poll from next.
  size_t DispatchAt(size_t index);
  // Moves the next tick to just after the system clock's next second.
  void AlignTimer();
  void OnTimerTick();

 private:
  void Notify(uint32_t code, LPARAM value);
  void Log(const char* text, int value);
  void DispatchChannels(HANDLE handle);
  // After an import on its event, the channel's event leaves the wait until
  // the import interval has passed; WakeRestedChannels puts back those whose
  // rest is over and returns how long the wait may last.
  void RestChannel(CTraceChannel* channel);
  DWORD WakeRestedChannels();
  // Replaces `from` in the wait array; false when it is not there.
  bool SwapWaitHandle(HANDLE from, HANDLE to);
  void ImportOlderSources();
  // Marks a record the builder staged as captured live from `source`.
  static void MarkLive(TraceRecord* record, uint8_t source);
  int StartBackupFile();
  void CloseBackupFile();
  void BackupFailed(uint32_t id);
  void NameChannels(const wchar_t* tag);
  void StageImported(CTraceChannel* channel, uint32_t ignoreMask);
  // Notes when the records staged next arrived; every input calls it
  // before staging. Capture lock held.
  void MarkArrival();
  void ChannelFailed(CTraceChannel* channel);
  void ReportLoss();
  // Stores the staged records in `order` (null: staging order), in chunks
  // under the exclusive lock; returns how many were taken (stored or
  // skipped as our own). Stops early when the lock is busy or the ring
  // refuses a record.
  size_t StoreRecords(TraceRecord** order, size_t count);
  // Touches the ring pages that storing `bytes` more and the next free step
  // reach, under the shared lock: a page's first touch after a while costs
  // tens of microseconds here, which the exclusive hold should not carry.
  void TouchRingAhead(uint32_t bytes);
  uint32_t FreeStep() const;
  void OfferToViews(TraceRecord* record);
  // Tries the exclusive lock again for a moment; false when it stays busy.
  bool RetakeStore(CStoreLock& lock);
  // Stores every staged record, in time order when asked (sorting at the
  // end of a capture run). A store held by the window keeps them staged.
  void StoreStaged(bool sorted);
  // Puts the pending staged records `eligible` takes into m_order, in time
  // order when `sorted`, else in arrival order. Returns how many records are
  // pending in all (0 also when the order cannot be had).
  template <typename Eligible>
  size_t CollectStaged(bool sorted, Eligible eligible);
  void StoreIfLarge();
  // Keeps the records whose pending byte is still set, in their order;
  // `allTaken` when the caller knows none is.
  void CompactStaging(bool allTaken);
  void ResetStaging();
  int BuildWaitArray();
  int AppendWait(HANDLE handle);
  bool SortingEnabled() const;
  uint32_t IgnoreMask() const;
  static void CALLBACK DropRecord(void* context, TraceRecord* record);

  // Per-connection state beside the client list, at the same index.
  enum ClientPhase : uint32_t {
    kPhaseRequest,  // the request is not complete yet
    kPhaseLive,     // a live viewer
    kPhaseReply,    // a list or file reply is being sent
    kPhaseClosing,  // the reply is out; waiting for the peer to close
    kPhaseDrop,     // torn down at the next tick
    kPhaseRemote,   // this viewer's connection to a remote server
  };
  struct ClientState {
    ClientPhase phase;
    DWORD since;        // when the phase began or last made progress
    CHandle file;       // file reply: the file, or none
    uint32_t fileLeft;  // file reply: bytes still to read
    uint32_t address;   // the peer's, kept for when the socket is gone
  };
  int AddClient(CSocketClient* client, ClientPhase phase);
  size_t FindClient(const CSocketClient* client) const;
  void RemoveWait(HANDLE handle, size_t* next);
  // Removes client `i` and its wait handle and deletes it.
  void RemoveClient(size_t i, size_t* next);
  void DeleteAllClients();
  void TearDownService(size_t i, size_t* next);
  bool EvictClosingClient(size_t* next);
  void ServeRequest(size_t i, size_t* next);
  int StartListReply(size_t i);
  int StartFileReply(size_t i, const uint8_t* name, uint32_t nameBytes);
  // Reads the file on while the socket takes it; 0 on a failure.
  int PumpReply(size_t i);
  void ExpireClients(size_t* next);
  void TearDownRemote(CSocketClient* client, uint32_t code, size_t* next);
  void LeaveRemoteViewer();
  int ReconnectRemote();

  HWND m_owner;
  uint64_t m_reservation = 0;
  uint32_t m_commitStep = kRingCommitStep;
  uint32_t m_freeStep = 0;  // 0: the two sizes by capacity
  HWND m_shell = nullptr;
  volatile LONG m_runFlag = 1;
  uint32_t m_admin = 0;
  DWORD m_sessionId = 0;
  DWORD m_ownPid = 0;
  CHandle m_timer;
  // The shared one-record buffer and the debugger buffer. Their readers plug
  // into DispatchHandle.
  CaptureHandOver m_kel;
  CaptureHandOver m_dbwin;
  CTraceChannel m_local[kChannelKinds];
  CTraceChannel m_global[kChannelKinds];
  mutable CCriticalSection m_captureLock;  // guards m_staging and m_arrivals: the window thread stages too
  CTraceCache m_staging;
  CByteBuffer m_import;
  // Staged records are numbered as they arrive; each import notes the first
  // number it staged and when, so sorting holds records back by arrival.
  struct ArrivalMark {
    uint32_t sequence;
    DWORD tick;
  };
  CGrowArray<ArrivalMark> m_arrivals;
  // Backups: ring records written and the next one, the file series.
  uint32_t m_backupWritten = 0;
  TraceRecord* m_backupPosition = nullptr;
  uint32_t m_backupNumber = 0;  // files started in this series
  uint64_t m_backupSize = 0;
  wchar_t m_backupStem[kBackupPathChars] = {};  // folder\kelbackup_<time>_
  CHandle m_backupFile;
  uint32_t m_backupNoticed = 0;  // the failure last noticed, 0 after a success
  WriteFileFn m_writeFile = &WriteFile;
  // The older sources.
  CTraceManagerView m_qrcLocal{0};
  CTraceManagerView m_qrcGlobal{1};
  CTraceStone m_stone;
  // Test tag of the one-message inputs (empty: the real names).
  wchar_t m_inputTag[kOlderTagChars] = {};
  // Remote protocol: listening socket and clients.
  uint16_t m_listenPort = 0;
  CSocketService* m_listen = nullptr;
  CGrowArray<CSocketClient*> m_clients;
  CGrowArray<ClientState*> m_clientStates;  // owned, one per client
  uint32_t m_remoteViewer = 0;
  sockaddr_in m_remoteAddress = {};
  CLocalFileList* m_fileList = nullptr;
  DWORD m_requestMs = kRemoteRequestMs;
  size_t m_liveOutputLimit = kRemoteLiveOutputBytes;
  CGrowArray<HANDLE> m_waitHandles;
  CRWLock m_lock;  // guards the store: its ring, views and statistics (Lock/Unlock)
  CReservedRing m_ring;
  PostMessageFn m_post = nullptr;
  DWORD(WINAPI* m_tick)() = &GetTickCount;
  WaitFn m_wait = &WaitForMultipleObjectsEx;
  int m_sortOverride = -1;
  int m_ignoreOverride = 0;
  uint32_t m_ignoreMask = 0;
  uint64_t m_lostReported = 0;
  CGrowArray<TraceRecord*> m_order;  // sort scratch
  CGrowArray<StagedSortKey> m_sortKeys;
  uint64_t m_longestHold = 0;        // performance-counter ticks
  uint64_t m_touchedTo = 0;          // ring offset TouchRingAhead reached
};
