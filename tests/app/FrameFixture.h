// A main frame in the test process, as start-up makes it: the ini file from
// a test folder, the frame shown and its capture started. For the suites
// that share one frame between their tests.
#pragma once

#include <windows.h>

#include <string>

#include "app/MainFrame.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tools/trace-dump/Generate.h"

namespace frame_test {

// Reads the ini file of `folder` (written from the defaults when missing)
// and the module groups; the caller may change options before StartFrame.
inline void LoadConfig(const std::wstring& folder) {
  g_appConfig.SetIniFolders(folder.c_str(), folder.c_str());
  g_appConfig.LoadOrSave(1);
  g_moduleGroups.LoadFromResource();
}

// A file store named C:\logs\<name> holding `records` generated records
// (from `seed`), with one view of them all unless `withView` is false.
inline CTraceFile* MakeFile(const wchar_t* name, uint32_t records, uint32_t seed, bool withView = true) {
  constexpr uint32_t kStoreBytes = 8u << 20;
  auto* file = new CTraceFile;
  file->SetFileName((std::wstring(L"C:\\logs\\") + name).c_str(), name);
  file->GrowBuffer(kStoreBytes);
  GenerateRecords(file, records, seed);
  if (withView) file->AddView(L"", kAllGroups, records);
  return file;
}

// Creates the frame at the screen's corner, shows it and starts its capture;
// null when the window could not be made. A message loop must exist first:
// the frame joins it.
inline CMainFrame* StartFrame(int width, int height) {
  auto* frame = new CMainFrame;
  RECT rect = {0, 0, width, height};
  if (frame->CreateEx(nullptr, &rect) == nullptr) {
    delete frame;
    return nullptr;
  }
  frame->ShowWindow(SW_SHOWNORMAL);
  frame->StartCapture(L"");
  return frame;
}

// Destroys the frame's window and runs what that posted; the quit message
// (exit code 1) is taken off the queue here. The caller deletes the frame.
inline void CloseFrame(CMainFrame* frame) {
  if (frame != nullptr && frame->IsWindow()) frame->DestroyWindow();
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageW(&msg);
  }
}

// Runs this thread's messages until `condition` holds; false once
// `timeoutMs` has passed.
template <class Condition>
bool PumpUntil(Condition condition, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!condition()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return true;
}

// A string of the program's resources.
inline std::wstring Text(UINT id) {
  CString text;
  text.LoadString(::GetModuleHandleW(nullptr), id);
  return text.c_str();
}

}  // namespace frame_test
