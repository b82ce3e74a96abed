// Opening and saving files, and the file names and texts that reach the
// viewer from outside: dropped files, the command line, a second start's
// hand-over and WM_COPYDATA trace text.
#include <string>
#include <vector>

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
#include "ui/dialogs/KelFileDialog.h"
#include "ui/framework/MessageBoxes.h"

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

}  // namespace

void CMainFrame::OnFileOpen(UINT) {
  KelFileDialog dialog(TRUE, kDefaultExtension, nullptr, OFN_HIDEREADONLY, kOpenFilter, m_hWnd);
  if (dialog.DoModal(::GetActiveWindow()) == IDOK) {
    OpenPath(dialog.m_fileName, wcslen(dialog.m_fileName));
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
  DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  // The check box to copy the local dump files is offered only when there
  // are some and they are this machine's.
  if (m_connectionState == ktframe::kNotConnected && g_localFileList.DumpFiles().count != 0) {
    flags |= OFN_ENABLETEMPLATE;
  }
  KelFileDialogEx dialog(FALSE, kDefaultExtension, name.c_str(), flags, kSaveFilter, m_hWnd);
  if (dialog.DoModal(::GetActiveWindow()) != IDOK) {
    return;
  }
  if (id == ID_FILE_SAVE_VIEW) {
    g_jobMgr.PostSaveFile(dialog.m_fileName, nullptr, view);
  } else {
    g_jobMgr.PostSaveFile(dialog.m_fileName, store, nullptr);
  }
  if ((flags & OFN_ENABLETEMPLATE) != 0 && dialog.m_saveLocalDumps != 0) {
    CopyDumpFilesBeside(dialog.m_fileName);
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
