// Opening and saving files, and the file names and texts that reach the
// viewer from outside: dropped files, the command line, a second start's
// hand-over and WM_COPYDATA trace text.
#include <string>
#include <vector>

#include "ui/framework/ModalSeam.h"
#include "app/FileNames.h"
#include "app/MainFrame.h"

#include <shellapi.h>

#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/ModuleGroups.h"
#include "core/StrUtil.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "resource.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/ModalSeam.h"

namespace {
// The part of a refused path the message shows.
constexpr size_t kShownPathChars = 300;
constexpr wchar_t kDefaultExtension[] = L"ktr";
// Pairs of description and pattern, each ending in a zero, the list in two.
constexpr wchar_t kOpenFilter[] =
    L"All Support Files (*.ktr; *.klg; *.zip; *.html; *.htm; *.log; *.txt; *.kdv; *.kmp; *.jslog)\0"
    L"*.ktr; *.klg; *.zip; *.html; *.htm; *.log; *.txt; *.kdv; *.kmp; *.jslog\0"
    L"Keltracer Binary Files (*.ktr)\0*.ktr\0"
    L"Talmo Log Files (*.klg)\0*.klg\0"
    L"Zip Files (*.zip)\0*.zip\0"
    L"HTML Files (*.html; *.htm)\0*.html; *.htm\0"
    L"Log Files (*.log; *.jslog; *.txt)\0*.log; *.jslog; *.txt\0"
    L"KelDbgView Files (*.kdv)\0*.kdv\0"
    L"NQ_MAP_LOG Files (*.kmp)\0*.kmp\0"
    L"All Files (*.*)\0*.*\0";
constexpr wchar_t kSaveFilter[] =
    L"Keltracer Binary Files (*.ktr)\0*.ktr\0"
    L"Zip Files (*.zip)\0*.zip\0"
    L"Log Files (*.log; *.jslog; *.txt)\0*.log; *.jslog; *.txt\0"
    L"HTML Files (*.html; *.htm)\0*.html; *.htm\0"
    L"All Files (*.*)\0*.*\0";

// The save dialog's check box, read when the user presses Save.
UINT_PTR CALLBACK SaveHook(HWND dialog, UINT msg, WPARAM, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, LONG_PTR(reinterpret_cast<const OPENFILENAMEW*>(lParam)->lCustData));
  } else if (msg == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == UINT(CDN_FILEOK)) {
    auto* ticked = reinterpret_cast<bool*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (ticked != nullptr) {
      *ticked = ::IsDlgButtonChecked(dialog, IDC_SAVE_DUMP_FILES) == BST_CHECKED;
    }
  }
  return 0;
}

bool HasSaveTemplate() {
  return ::FindResourceW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SAVE_TEMPLATE), MAKEINTRESOURCEW(5)) !=
         nullptr;
}
}  // namespace

void CMainFrame::OnFileOpen(UINT) {
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = ::GetActiveWindow() != nullptr ? ::GetActiveWindow() : m_hWnd;
  dialog.lpstrFilter = kOpenFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = kDefaultExtension;
  dialog.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
  if (g_getOpenFileName(&dialog)) {
    OpenPath(path, wcslen(path));
  }
}

void CMainFrame::OnFileSave(UINT id) {
  CTraceMgr* store = CurrentStore();
  CTraceView* view = ShownView();
  if (store == nullptr || (id == ID_FILE_SAVE_VIEW && !IsUsable(view))) {
    return;
  }
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  CString group;
  if (id == ID_FILE_SAVE_VIEW && BitCount(view->m_groupMask) == 1) {
    group = g_moduleGroups.FormatNamesPipe(view->m_groupMask);
  }
  const std::wstring name = DefaultSaveName(now, group.IsEmpty() ? nullptr : group.c_str());
  wchar_t path[MAX_PATH] = {};
  StrCopyNW(path, MAX_PATH, name.c_str());
  bool copyDumps = false;
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = ::GetActiveWindow() != nullptr ? ::GetActiveWindow() : m_hWnd;
  dialog.hInstance = ::GetModuleHandleW(nullptr);
  dialog.lpstrFilter = kSaveFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = kDefaultExtension;
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
  if (m_connectionState == ktframe::kNotConnected && g_localFileList.DumpFiles().count != 0 && HasSaveTemplate()) {
    dialog.Flags |= OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
    dialog.lpTemplateName = MAKEINTRESOURCEW(IDD_SAVE_TEMPLATE);
    dialog.lpfnHook = SaveHook;
    dialog.lCustData = LPARAM(&copyDumps);
  }
  if (!g_getSaveFileName(&dialog)) {
    return;
  }
  if (id == ID_FILE_SAVE_VIEW) {
    g_jobMgr.PostSaveFile(path, nullptr, view);
  } else {
    g_jobMgr.PostSaveFile(path, store, nullptr);
  }
  if (copyDumps) {
    CopyDumpFilesBeside(path);
  }
}

void CMainFrame::CopyDumpFilesBeside(const wchar_t* savedPath) {
  std::vector<std::wstring> dumps;
  const LocalFileArray& files = g_localFileList.DumpFiles();
  for (size_t i = 0; i < files.count; ++i) {
    dumps.emplace_back(files[i]->path);
  }
  const std::vector<std::wstring> targets = DumpTargets(savedPath, dumps);
  for (size_t i = 0; i < dumps.size(); ++i) {
    if (targets[i].size() <= ktframe::kMaxOpenPathChars) {
      g_jobMgr.PostSaveDump(dumps[i].c_str(), targets[i].c_str(), 1);
    }
  }
}

void CMainFrame::OnFileExit(UINT) { PostMessage(WM_CLOSE); }

void CMainFrame::ReportTooLongPath(const wchar_t* path, size_t length) {
  std::wstring shown(path, length < kShownPathChars ? length : kShownPathChars);
  if (length > kShownPathChars) {
    shown += L"...";
  }
  ktui::MessageBoxFromId(m_hWnd, IDS_PATH_TOO_LONG, MB_ICONERROR, unsigned(ktframe::kMaxOpenPathChars), shown.c_str());
}

// A path is opened whole or not at all: a cut one would name another file.
int CMainFrame::OpenPath(const wchar_t* path, size_t length) {
  if (path == nullptr || length == 0) {
    return 0;
  }
  if (length > ktframe::kMaxOpenPathChars) {
    ReportTooLongPath(path, length);
    return 0;
  }
  return g_jobMgr.PostOpenFile(std::wstring(path, length).c_str());
}

// Every file becomes its own open job, in drop order.
LRESULT CMainFrame::OnDropFiles(UINT, WPARAM wParam, LPARAM) {
  auto drop = reinterpret_cast<HDROP>(wParam);
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(size_t(length) + 1, L'\0');
    const UINT read = ::DragQueryFileW(drop, i, path.data(), length + 1);
    OpenPath(path.c_str(), read);
  }
  ::DragFinish(drop);
  return 0;
}

void CMainFrame::OpenCommandLineFile(const wchar_t* text) {
  const std::wstring path = CommandLinePath(text);
  OpenPath(path.c_str(), path.size());
}

LRESULT CMainFrame::OnCopyData(UINT, WPARAM, LPARAM lParam) {
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (data == nullptr || data->cbData == 0 || data->lpData == nullptr) {
    return 1;
  }
  if (data->dwData == kHandOverCopyDataId) {
    std::wstring commandLine;
    if (ReadHandOverText(data, &commandLine)) {
      OpenCommandLineFile(commandLine.c_str());
      return 1;
    }
  }
  if (!m_captureOn || m_capture == nullptr) {
    return 1;
  }
  // Read within the size it came with: the sender's terminator is not trusted.
  char text[ktframe::kCopyDataBytes] = {};
  const size_t limit = data->cbData < ktframe::kCopyDataBytes - 1 ? data->cbData : ktframe::kCopyDataBytes - 1;
  const auto* bytes = static_cast<const char*>(data->lpData);
  size_t length = 0;
  while (length < limit && bytes[length] != '\0') {
    text[length] = bytes[length];
    ++length;
  }
  text[length] = '\0';
  m_capture->AddCopyDataText(text, text + length);
  return 1;
}
