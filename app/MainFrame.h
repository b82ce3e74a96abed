// The viewer's one top-level window: toolbar with the view strip and the
// quick-filter box, the trace list, the document strip and the status bar.
// It shows the open stores as documents, their views as tabs, takes the
// notices of the capture thread and the job workers, and refreshes the list
// from a one-second timer.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// The header names FindTextW by a macro that would rename every FindText
// method (the frame's and the view's) in the files that see it.
#undef FindText

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandRules.h"
#include "app/Startup.h"
#include "resource.h"
#include "core/Containers.h"
#include "core/Handle.h"
#include "core/RefString.h"
#include "core/StoreLock.h"
#include "ui/controls/KeltracerView.h"
#include "ui/controls/SearchBar.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/controls/TabStrip.h"
#include "ui/controls/ToolTipEx.h"
#include "ui/dialogs/FindDialog.h"
#include "ui/dialogs/StatisticRequest.h"
#include "ui/dialogs/ModelessLinks.h"
#include "ui/framework/FrameWindow.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/ImageList.h"
#include "ui/framework/MessageLoop.h"

class CTraceCapture;
class CTraceStatisticDlg;
class CRemoteDumpListRequest;
class CTraceFilter;
class CTraceMgr;
class CTraceView;
class JobItem;
struct TraceRecord;

namespace ktframe {
constexpr UINT kListId = 220;
constexpr UINT kToolTipId = 221;
constexpr UINT kStatusBarNotifyId = 222;
constexpr UINT kDocumentStripId = 223;
constexpr UINT_PTR kRefreshTimerId = 225;
// One-shot: the retry of a refresh that found the capture's store busy.
constexpr UINT_PTR kRefreshRetryTimerId = 226;
constexpr UINT kRefreshTimerMs = 1000;
// Where in the system clock's second the refresh falls once it runs: after
// the capture's tick (just past the second's change) has had time to store
// what it holds, so new rows show at once instead of a second later. A
// refresh that found the store busy tries again after the retry interval:
// a store that is long on every tick would otherwise meet it every time.
constexpr DWORD kRefreshMarkMs = 40;
constexpr UINT kRefreshRetryMs = 50;
constexpr int kDocumentStripHeight = 24;
constexpr int kQuickFilterSlotWidth = 120;
constexpr int kToolButtonSize = 24;
constexpr int kMinTrackWidth = 600;
constexpr int kMinTrackHeight = 400;
constexpr DWORD kListStyle = 0x56009419;
// Item flag of the tabs that stand for the live capture: never closable.
constexpr uint32_t TBF_PERMANENT = 0x100;
constexpr int kDocumentImage = 2;
constexpr int kViewImage = 0;
constexpr int kFilterActiveImage = kStatusImageFilterActive;
constexpr size_t kColumnBits = 9;
// Connection to a remote server.
constexpr uint32_t kNotConnected = 0;
constexpr uint32_t kConnecting = 1;
constexpr uint32_t kConnected = 2;
constexpr wchar_t kSaveLogMutexName[] = L"KEL_SAVELOG_MUTEX";
constexpr size_t kCopyDataBytes = 2048;
// The longest path the frame opens, without its terminator: a longer one is
// refused, never cut into the name of another file.
constexpr size_t kMaxOpenPathChars = MAX_PATH - 1;
// The statistic dialog's request for the records of one result: sent (not
// posted) by the dialog on this thread, wParam its request flag, lParam the
// message text (const wchar_t*, valid during the call). WM_NULL, which the
// system and other programs send for their own reasons, carries nothing.
constexpr UINT kStatisticResultMessage = WM_KT_STATISTIC_REQUEST;
// A streak of capture troubles (lost records, a failed channel) is reported
// once; it ends after this many refresh ticks without another notice.
constexpr uint32_t kTroubleQuietTicks = 10;
// Posted by the remote dump-list request's thread when it has ended.
constexpr UINT kDumpListDoneMessage = WM_APP + 0x40;

// Background and text colour of a bookmarked row: the lowest mark bit wins.
struct RowColours {
  COLORREF background;
  COLORREF text;
};
RowColours BookmarkColours(uint32_t level);
// Text colour of a row without a bookmark, by level.
COLORREF LevelTextColour(uint32_t level);
// The point moved into the work area of the nearest monitor when it lies on
// none, so a menu never opens off screen.
POINT OntoMonitor(POINT point);
// Header text id and width of a column bit, 0 for an unknown bit.
UINT ColumnTextId(uint32_t bit);
int ColumnWidth(uint32_t bit);
// The text of one cell: `buffer` for the formatted columns, otherwise the
// record's own string. The delta column is formatted by the caller.
const wchar_t* CellText(uint32_t bit, int row, const TraceRecord& record, wchar_t* buffer, size_t size);
}  // namespace ktframe

// The statistic dialog as the frame sees it while it opens a tab.
class IStatisticDlg {
 public:
  // A result request is pending: a view made now is a statistic detail.
  virtual bool RequestPending() const = 0;
  // The request was served (or refused): the dialog may ask again.
  virtual void ClearRequest() = 0;

 protected:
  ~IStatisticDlg() = default;
};

// Reports capture troubles once per streak: the first notice of a streak
// is to be reported, later ones not, until the refresh timer has ticked
// kTroubleQuietTicks times without a notice.
class CTroubleStreak {
 public:
  // A notice arrived; true when it opens a streak.
  bool Notice() {
    const bool first = !m_active;
    m_active = true;
    m_quietTicks = 0;
    return first;
  }
  void Tick() {
    if (m_active && ++m_quietTicks >= ktframe::kTroubleQuietTicks) {
      m_active = false;
    }
  }
  bool Active() const { return m_active; }

 private:
  bool m_active = false;
  uint32_t m_quietTicks = 0;
};

class CMainFrame : public CFrameWindowImpl<CMainFrame>,
                   public CMessageFilter,
                   public CIdleHandler,
                   public IListPaintLock,
                   public IListColumnsObserver {
  using FrameBase = CFrameWindowImpl<CMainFrame>;

 public:
  DECLARE_FRAME_WND_CLASS(kMainFrameClassName, 128)

  CMainFrame();
  ~CMainFrame() override;

  BEGIN_MSG_MAP(CMainFrame)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_MENUSELECT, OnMenuSelect)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    CHAIN_MSG_MAP(FrameBase)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_GETMINMAXINFO, OnGetMinMaxInfo)
    MESSAGE_HANDLER(WM_INITMENUPOPUP, OnInitMenuPopup)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER(WM_MEASUREITEM, OnMeasureItem)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    MESSAGE_HANDLER(ktui::FindReplaceMessage(), OnFindReplaceMsg)
    MESSAGE_HANDLER(WM_DROPFILES, OnDropFiles)
    MESSAGE_HANDLER(WM_TIMER, OnTimerMessage)
    MESSAGE_HANDLER(WM_APP, OnThreadsNotifyMessage)
    MESSAGE_HANDLER(ktframe::kStatisticResultMessage, OnStatisticFilter)
    MESSAGE_HANDLER(WM_COPYDATA, OnCopyData)
    MESSAGE_HANDLER(ktframe::kDumpListDoneMessage, OnDumpListDone)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnDragMouseMove)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnDragButtonUp)
    MESSAGE_HANDLER(WM_CAPTURECHANGED, OnDragCaptureChanged)
    MESSAGE_HANDLER(WM_CANCELMODE, OnDragCancelMode)
    MESSAGE_HANDLER(WM_ACTIVATEAPP, OnDragActivateApp)
  END_MSG_MAP()

  // --- creation, layout, destruction ---
  LRESULT OnCreate(UINT, WPARAM, LPARAM);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM);
  LRESULT OnSize(UINT, WPARAM, LPARAM lParam);
  LRESULT OnMenuSelect(UINT, WPARAM, LPARAM) { return 0; }
  // The flat toolbar is see-through and has its parent erase behind its
  // separators; the frame's own area is covered by its children.
  LRESULT OnEraseBackground(UINT, WPARAM wParam, LPARAM);
  LRESULT OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam);
  void UpdateLayout(BOOL resizeBars = TRUE);
  void SetToolBarButtonState(UINT id, int width);
  int SetupToolBar(UINT id, int withText);
  void SetSaveLogMutex(int hold);
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnIdle() override { return FALSE; }
  // IListPaintLock: the shown document's shared lock around a list paint.
  bool LockForPaint() override;
  void UnlockAfterPaint() override;
  // IListColumnsObserver: a dragged column's new place goes to the ini file.
  void OnColumnsMoved() override { StoreColumnOrder(); }

  // --- command table and menus (MainFrameMenus.cpp) ---
  // One row per command or id range: its handler, its enable rule and its
  // check rule. Menus grey items by the rules and the dispatch refuses a
  // command whose rule does not hold, so keys obey them too.
  using CommandHandler = void (CMainFrame::*)(UINT id);
  struct CommandRow {
    UINT first;
    UINT last;
    CommandHandler handler;
    EnableRule enable;
    CheckRule check;
  };
  static const CommandRow* FindCommand(UINT id);
  static CommandState CommandStateOf(UINT id, const CommandFacts& facts);
  // The facts the rules need, read once (counts under one shared lock).
  CommandFacts GatherFacts();
  // Runs command `id` when its rule allows it; false when refused or unknown.
  bool RunCommand(UINT id);
  void ApplyRules(HMENU menu, const CommandFacts& facts);
  LRESULT OnInitMenuPopup(UINT, WPARAM wParam, LPARAM lParam);
  LRESULT OnCommand(UINT, WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(UINT, WPARAM wParam, LPARAM lParam);
  LRESULT OnToolbarDropDown(NMHDR* header);
  LRESULT OnListContextMenu();
  LRESULT OnColumnMenu();
  void BuildHistoryMenu(HMENU submenu);
  void OnHistoryFile(UINT id);
  // The paths the history submenu showed when it was last built.
  const std::vector<std::wstring>& HistoryPaths() const { return m_historyPaths; }
  void OnStartStopCapture(UINT id);

  // --- files and outside input (MainFrameFiles.cpp) ---
  void OnFileOpen(UINT id);
  void OnFileSave(UINT id);
  void OnFileExit(UINT id);
  LRESULT OnDropFiles(UINT, WPARAM wParam, LPARAM);
  LRESULT OnCopyData(UINT, WPARAM, LPARAM lParam);
  void OpenCommandLineFile(const wchar_t* text);
  // Posts an open job for a path that fits; refuses a longer one with a
  // message. 1 when posted.
  int OpenPath(const wchar_t* path, size_t length);
  void CopyDumpFilesBeside(const wchar_t* savedPath);

  // --- tools and options (MainFrameTools.cpp) ---
  void OnClearDisplay(UINT id);
  void OnSelectAll(UINT id);
  void OnAlwaysOnTop(UINT id);
  void SetAlwaysOnTop(int on);
  void OnAutoScroll(UINT id);
  void OnOptions(UINT id);
  void OnFilter(UINT id);
  void OnSelectColumns(UINT id);
  void OnTraceStatistic(UINT id);
  void OnErrorLookup(UINT id);
  void OnBase64Convert(UINT id);
  void OnAppAbout(UINT id);
  LRESULT OnShowDetail(int row);

  // --- remote connection, dump files, history, upload (MainFrameRemote.cpp) ---
  void OnConnect(UINT id);
  void OnDisconnect(UINT id);
  void OnDumpFiles(UINT id);
  void OnHistory(UINT id);
  void OnRemoteFile(UINT id);
  void OnUpload(UINT id);

  // --- find, go to, bookmarks and copy (MainFrameFind.cpp) ---
  void OnFind(UINT id);
  LRESULT OnFindReplaceMsg(UINT, WPARAM, LPARAM lParam);
  void FindText(bool down, HWND focusWindow);
  int SearchItems(bool down);
  void SelectItem(int index);
  void OnGoto(UINT id);
  void GotoNextByLevel(uint32_t levelMask);
  void OnToggleBookmark(UINT id);
  void OnColourfulBookmark(UINT id);
  void OnNextPrevBookmark(UINT id);
  void OnClearBookmarks(UINT id);
  void OnEditCopy(UINT id);
  void OnCopyMessage(UINT id);
  // The first selected row without walking every row when it can; -1 none.
  int FirstSelectedRow() const;
  const CString& FindTextValue() const { return m_findText; }
  void SetFindText(const wchar_t* text, bool down, bool matchCase);

  // --- quick filter, filter menus, tab notifications (MainFrameFilter.cpp) ---
  void OnSearchFilter(UINT id);
  void ShowFilterMenu(int which);
  void OnAddTabMenu();
  LRESULT OnStatisticFilter(UINT, WPARAM wParam, LPARAM);
  LRESULT OnViewStripNotify(NMHDR* header);
  LRESULT OnDocumentStripNotify(NMHDR* header);
  bool ConfirmCloseDocument();

  // --- dragging rows onto the view strip (MainFrameDrag.cpp) ---
  LRESULT OnBeginDrag(NMHDR* header);
  LRESULT OnDragMouseMove(UINT, WPARAM, LPARAM lParam);
  LRESULT OnDragButtonUp(UINT, WPARAM, LPARAM lParam);
  LRESULT OnDragCaptureChanged(UINT, WPARAM, LPARAM lParam);
  LRESULT OnDragCancelMode(UINT, WPARAM, LPARAM);
  LRESULT OnDragActivateApp(UINT, WPARAM wParam, LPARAM);
  bool HitTestWindow(POINT screenPoint) const;
  void CreateTabFromSelection(POINT screenPoint);
  // Ends a running drag without a tab (Escape, lost capture or focus).
  void CancelDrag();
  bool IsDragging() const { return m_dragging; }
  uint32_t DragMode() const { return m_dragMode; }

  // --- status bar and tool tip (MainFrameStatus.cpp) ---
  LRESULT OnStatusBarNotify(NMHDR* header);
  LRESULT OnToolTipNotify(NMHDR* header);

  // --- list rows ---
  LRESULT OnMeasureItem(UINT, WPARAM, LPARAM lParam);
  LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam);
  void DrawRow(const DRAWITEMSTRUCT& draw, CTraceView* view);

  // --- capture, notices, timer ---
  void StartCapture(const wchar_t* commandLine);
  void ToggleCapture(bool on);
  LRESULT OnThreadsNotifyMessage(UINT, WPARAM wParam, LPARAM lParam);
  LRESULT OnThreadsNotify(uint32_t code, LPARAM value);
  void OnThreadFinished(JobItem* job);
  LRESULT OnTimerMessage(UINT, WPARAM wParam, LPARAM);
  LRESULT OnTimer(UINT_PTR id);
  // The shown live view's news into the list; when the store is busy they
  // are kept for a retry.
  void RefreshLiveView(CTraceView* view, int busy);

  // --- documents and views ---
  int AddDocument(CTraceMgr* store);
  int AddDocumentHeld(CTraceMgr* store);
  // Nothing of the frame paints between these two; the release of the
  // outermost hold repaints the whole client area, children included, at once.
  void HoldFramePainting();
  void PaintFrameOnce();
  int AddViewTab(CTraceMgr* store, uint32_t mask, const CTraceFilter& filter);
  void ApplyFilterToTab(size_t item, uint32_t mode, const CTraceFilter& filter);
  void UpdateView(CTraceView* view, int enableControls, int showFilterStatus, int restorePosition,
                  CTraceView* previous);
  void UpdateTitle();
  int UpdateStatusBar(int force);
  void UpdateFilterStatus();
  void UpdateColumns();

  // The shown view (null when none), its store and whether it may be read.
  CTraceView* ShownView() const;
  CTraceMgr* CurrentStore() const;
  static bool IsUsable(const CTraceView* view);
  bool IsLiveShown() const;

  // For tests and the UI driver.
  CKeltracerView& List() { return m_list; }
  CTabBar& ViewStrip() { return m_viewStrip; }
  CFileTabCtrl& DocumentStrip() { return m_documentStrip; }
  CStatusBarEx& StatusBar() { return m_statusBar; }
  CSearchBar& QuickFilter() { return m_quickFilter; }
  CTraceCapture* Capture() const { return m_capture; }
  // The live capture as a store (null before it started).
  CTraceMgr* CaptureStore() const;
  bool CaptureOn() const { return m_captureOn; }
  uint32_t FollowNewItems() const { return m_followNewItems; }
  const CGrowArray<uint32_t>& ShownColumns() const { return m_columns; }
  HANDLE SaveLogMutex() const { return m_saveLogMutex.get(); }
  HMENU MenuBar() const { return m_menuBar; }
  CToolTipEx& ToolTip() { return m_toolTip; }
  uint32_t ConnectionState() const { return m_connectionState; }
  // The connect command starts a connection (state 1 with the typed
  // address); tests put the frame into any state.
  void SetConnection(uint32_t state, const wchar_t* address);
  void SetRemoteServerAddress(const sockaddr_in& address) { m_remoteServer = address; }
  // The modeless dialogs register themselves while they exist (null: gone).
  void SetRemoteFileDlg(IRemoteFileDlg* dialog) { m_remoteFileDlg = dialog; }
  void SetStatisticDlg(IStatisticDlg* dialog) { m_statisticDlg = dialog; }
  CTraceStatisticDlg* StatisticWindow() const { return m_statisticWindow; }
  // The open find dialog's window, null when none is open.
  HWND FindDlg() const { return m_findDlg != nullptr ? m_findDlg->m_hWnd : nullptr; }
  void SetUploadDlg(IUploadDlg* dialog) { m_uploadDlg = dialog; }
  IRemoteFileDlg* RemoteFileDlg() const { return m_remoteFileDlg; }
  IUploadDlg* UploadDlg() const { return m_uploadDlg; }

  // --- remote connection, dump files, history, remote files, upload ---
  void OnSockConnect();
  void OnSockDisconnect();
  void OnSaveDumpFile();
  void OnHistoryManage();
  void OnOpenRemote();
  // The upload of the current document (view false) or its current view.
  void OnSendToTalmo(bool view);
  // The remote dump-list request ended: show what it read.
  LRESULT OnDumpListDone(UINT, WPARAM, LPARAM);
  LRESULT OnSetCursor(UINT, WPARAM, LPARAM);
  // Whether a remote dump-list request is under way.
  bool DumpListPending() const;
  // Where "Connect..." starts from: the typed text, refused (warning box)
  // when it does not make an address or the connect fails at once.
  void ConnectTo(const wchar_t* text);

 private:
  void CreateChildren();
  void CreateToolTip();
  void RestoreColumnOrder();
  void StoreColumnOrder();
  void ReleaseDocuments();
  void ShowCaptureFailure(uint32_t stringId, UINT icon);
  void CaptureEnded(uint32_t stringId);
  void ResetConnection();
  // Ends the dump-list request and destroys the remote file and upload
  // dialogs (at shutdown).
  void DestroyRemoteWindows();
  void ReportFailedJob(const JobItem& job);
  void FinishFilterJob(CTraceView* view);
  HWND RemoteFileOwner() const;
  int MessageBoxId(UINT stringId, UINT icon, HWND owner = nullptr);
  void ReadCounts(CTraceView* view, uint32_t* count, uint32_t* read, uint32_t* total);
  void WriteFilterStatus(const CTraceView* view, uint32_t count, uint32_t read, uint32_t total);
  void PlaceList(CTraceView* view, uint32_t count, int top, int nearRow);
  int NearRow(CTraceView* view, CTraceView* previous, int row);
  void DropView(CTraceMgr* store, CTraceView* view);
  void ClearListSelection();
  void EnableViewControls(bool usable);
  void SetItemClosable(size_t group, size_t item, bool closable);
  CTraceView* ItemView(size_t item) const;
  void KeepListPosition(CTraceView* view);
  HFONT ListFontHandle() const { return m_listFont.get(); }
  std::vector<int> SelectedRows() const;
  bool SelectedBlock(UINT count, int* first, int* last) const;
  void MarkSelectedRows(bool recolour);
  bool ConfirmLongCopy(UINT rows);
  void ReportTooLongPath(const wchar_t* path, size_t length);
  uint32_t ShownColumnMask() const;
  void ReplaceListFont();
  void EndDrag(POINT clientPoint, bool drop);

  CToolBarCtrl m_toolBar;
  CTabBar m_viewStrip;
  CSearchBar m_quickFilter;
  CFileTabCtrl m_documentStrip;
  CStatusBarEx m_statusBar;
  CKeltracerView m_list;
  CToolTipEx m_toolTip;
  CFont m_listFont;
  CImageList m_dragImages;
  CImageList m_tabImages;
  CImageList m_toolImages;  // the toolbar's pictures, their magenta see-through
  HMENU m_menuBar = nullptr;
  uint32_t m_gridLines = 1;
  uint32_t m_followNewItems = 1;
  bool m_captureOn = false;
  CGrowArray<uint32_t> m_columns;
  uint32_t m_connectionState = ktframe::kNotConnected;
  CString m_remoteAddress;
  CTraceCapture* m_capture = nullptr;
  CTraceView* m_shownView = nullptr;  // the view last put into the list
  // The shown document's lock, held from the start of a list paint to its
  // end (through the rows' WM_DRAWITEM sent back to the frame), so a page
  // waits for a busy store once rather than once per row.
  std::optional<CStoreLock> m_paintLock;
  std::vector<std::wstring> m_historyPaths;  // what the history submenu shows

  // Find.
  CString m_findText;
  uint32_t m_findDown = 1;
  uint32_t m_matchCase = 0;
  bool m_searching = false;  // a search runs (its warning box may be open)

  // Bookmarks.
  uint32_t m_lastBookmarkCommand = ID_BOOKMARK_GRAY;
  uint32_t m_bookmarkColour = 0;
  bool m_setColour = false;  // a colour command re-marks the rows

  // Drag.
  bool m_dragging = false;
  uint32_t m_dragMode = 0;  // the column bit the drag started on, 0 for none
  CImageList m_dragImage;   // this drag's copy of the drag pictures

  // Dialog slots: the modeless dialogs while they exist; each clears its
  // pointer on closing.
  CFindDialog* m_findDlg = nullptr;
  IRemoteFileDlg* m_remoteFileDlg = nullptr;
  IUploadDlg* m_uploadDlg = nullptr;
  IStatisticDlg* m_statisticDlg = nullptr;
  CTraceStatisticDlg* m_statisticWindow = nullptr;  // the statistic dialog's own slot
  bool m_statisticRequest = false;  // a result request is being served
  CTroubleStreak m_lossStreak;
  CTroubleStreak m_channelStreak;
  CHandle m_saveLogMutex;
  bool m_inLoop = false;  // added to the thread's message loop
  // Holds of the frame's painting under way (a document being added): what
  // they change is painted once, when the last one goes.
  int m_frameHolds = 0;
  // The server address of the connection (state 1 or 2).
  sockaddr_in m_remoteServer = {};
  // The remote dump-list request while one runs; made on first use.
  CRemoteDumpListRequest* m_dumpList = nullptr;
};
