// The upload of one document or view to the product's log server: zipped
// in memory, a status query, then the zip in Base64 pieces, each step
// reported to the upload dialog.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/SysUtil.h"
#include "jobs/JobItem.h"
#include "net/Inet.h"
#include "res/resource.h"

class CTraceMgr;
class CTraceView;
struct ZipHandle;

// Steps reported to the progress window: WM_APP with the step in the low
// word of wParam and an error string id (0 for none) in the high word;
// lParam is a percent or an error code.
constexpr uint16_t kUploadStepPrepare = 1;
constexpr uint16_t kUploadStepConnect = 2;
constexpr uint16_t kUploadStepSend = 3;
constexpr uint16_t kUploadStepCompleted = 4;

constexpr size_t kUploadPieceBytes = 40960;
constexpr size_t kUploadMaxZipBytes = 0x400000;
// Room for the Base64 text of one piece.
constexpr size_t kUploadBase64Bytes = 65536;

// The log server. Tests point the program at their own server by setting
// this environment variable to a "scheme://host:port" origin; the path and
// query stay the same. Read only by LogServerBaseUrl.
constexpr wchar_t kLogServerEnvironment[] = L"KELTRACER_LOG_SERVER";
constexpr wchar_t kLogServerOrigin[] = L"https://logserver.keltracer.invalid";
constexpr wchar_t kLogServerPath[] = L"/logadmin/upload.do?SiteUrl=trace&LanguageId=1";

// The log server's URL, ready for request keys to be appended: it ends with
// "?" or "&".
std::wstring LogServerBaseUrl();
// Appends "?" when the URL has no query, else "&" unless it already ends
// with "?" or "&".
void AppendQuerySeparator(std::wstring& url);
// The computer name as the upload sends it: "_" and "." as blanks, UTF-8,
// URL-encoded (blank as "+"), at most 256 characters.
std::wstring EncodeComputerName(const wchar_t* name);

class JobSendToTalmo : public JobItem {
 public:
  // Exactly one of store and view is set; the job holds a reference to it
  // (and to a view's store). Steps go to progressWindow; WinINet's prompts
  // are put over promptWindow.
  JobSendToTalmo(HWND promptWindow, HWND progressWindow, CTraceMgr* store, CTraceView* view);
  ~JobSendToTalmo() override;

  void Run() override;
  // From the user-interface thread: stops the job after the request in
  // progress, which closing the handles cuts short.
  void Cancel() override;
  uint32_t GetPercent() override;

  // Tests record the step posts with these.
  void SetPostFunctions(PostMessageFn post, SleepFn sleep) {
    m_post = post;
    m_sleep = sleep;
  }

 private:
  bool IsRunning() const { return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_running), 0, 0) != 0; }
  void PostStep(uint16_t step, uint32_t errorId, LPARAM value);
  void SetProgress(uint32_t percent);
  // The zip of the source, built under its store's shared lock; null when
  // the lock fails, the source is empty or the zip would pass the limit.
  ZipHandle* BuildZip(const SYSTEMTIME& time);
  // One request (a GET without body, else a POST): 0, a string-table id,
  // or a value of its own when the job was cancelled.
  UINT Exchange(const std::wstring& url, const void* body, DWORD length);
  // Step 2: the status query; true to go on.
  bool Query(const std::wstring& base);
  // Step 3 for each piece, then step 4.
  void SendPieces(const std::wstring& base, const uint8_t* zip, size_t size, char* base64, const SYSTEMTIME& time);

  HWND m_promptWindow;
  HWND m_progressWindow;
  CTraceMgr* m_store;
  CTraceView* m_view;
  CTraceMgr* m_viewStore;
  volatile LONG m_running = 1;
  CInetRequest m_request;
  PostMessageFn m_post = PostMessageW;
  SleepFn m_sleep = Sleep;
};
