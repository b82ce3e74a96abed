#include "jobs/UploadJob.h"

#include "core/Containers.h"
#include "core/RefString.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/TraceView.h"
#include "formats/Zip.h"
#include "res/resource.h"

namespace {

constexpr char kPostVerb[] = "POST";
constexpr wchar_t kQueryKeys[] = L"AT=QW";
constexpr wchar_t kPieceKeys[] =
    L"AT=UL&ConfID=%u&PT=RPT&TrTy=3&CmNm=%s&PLenUnCom=%u&PLenCom=%u&PCount=%u&PNum=%u&UPLDT=%s&Flag=0&isUTF8=1"
    L"&Ext=zip";
constexpr wchar_t kUploadTimeFormat[] = L"%02hu:%02hu:%04hu-%02hu:%02hu:%02hu";
constexpr unsigned kConfigurationId = 0;
constexpr size_t kComputerNameChars = 128;
constexpr size_t kComputerNameBytes = 128;
constexpr size_t kEncodedNameChars = 256;
constexpr size_t kOriginChars = 512;
constexpr uint32_t kPercent = 100;
// Exchange's result when the job was cancelled: never a string-table id.
constexpr UINT kCancelledResult = 0xFFFFFFFF;

// Frees the in-memory zip on every way out.
using CUploadZip = CZipHandleOwner;

}  // namespace

void AppendQuerySeparator(std::wstring& url) {
  if (url.find(L'?') == std::wstring::npos) {
    url += L'?';
  } else if (!url.empty() && url.back() != L'?' && url.back() != L'&') {
    url += L'&';
  }
}

std::wstring LogServerBaseUrl() {
  wchar_t origin[kOriginChars];
  const DWORD length = GetEnvironmentVariableW(kLogServerEnvironment, origin, DWORD(kOriginChars));
  std::wstring url = length != 0 && length < kOriginChars ? origin : kLogServerOrigin;
  url += kLogServerPath;
  AppendQuerySeparator(url);
  return url;
}

std::wstring EncodeComputerName(const wchar_t* name) {
  wchar_t spaced[kComputerNameChars] = L"";
  if (name) StrCopyNW(spaced, kComputerNameChars, name);
  UnderscoreDotToSpace(spaced);
  char utf8[kComputerNameBytes];
  if (!WideCharToMultiByte(CP_UTF8, 0, spaced, -1, utf8, int(sizeof(utf8)), nullptr, nullptr)) utf8[0] = '\0';
  wchar_t encoded[kEncodedNameChars + 1] = L"";
  UrlEncodeA(utf8, encoded, kEncodedNameChars + 1);
  return encoded;
}

JobSendToTalmo::JobSendToTalmo(HWND promptWindow, HWND progressWindow, CTraceMgr* store, CTraceView* view)
    : JobItem(store ? IDS_JOB_SENDING : IDS_JOB_SENDING_VIEW, nullptr),
      m_promptWindow(promptWindow),
      m_progressWindow(progressWindow),
      m_store(store),
      m_view(store ? nullptr : view),
      m_viewStore(m_view ? m_view->m_owner : nullptr) {
  if (m_store) m_store->AddRef();
  if (m_view) m_view->AddRef();
  if (m_viewStore) m_viewStore->AddRef();
  SetTitle(m_store ? IDS_JOB_PREPARE_SENDING : IDS_JOB_PREPARE_SENDING_VIEW, nullptr);
}

JobSendToTalmo::~JobSendToTalmo() {
  if (m_store) m_store->Release();
  if (m_view) m_view->Release();
  if (m_viewStore) m_viewStore->Release();
}

uint32_t JobSendToTalmo::GetPercent() {
  if (m_store) return m_store->Progress();
  return m_view ? m_view->Progress() : 0;
}

void JobSendToTalmo::Cancel() {
  // The flag first: a worker that finds it still set after storing new
  // handles has them closed here; one that finds it clear opens nothing.
  InterlockedExchange(&m_running, 0);
  m_request.Disconnect();
}

void JobSendToTalmo::PostStep(uint16_t step, uint32_t errorId, LPARAM value) {
  const WPARAM wParam = MAKEWPARAM(step, WORD(errorId));
  PostMessageRetry(m_progressWindow, WM_APP, wParam, value, m_post, m_sleep);
}

void JobSendToTalmo::SetProgress(uint32_t percent) {
  if (m_store) {
    m_store->SetProgress(percent);
  } else if (m_view) {
    m_view->SetProgress(percent);
  }
}

ZipHandle* JobSendToTalmo::BuildZip(const SYSTEMTIME& time) {
  CTraceMgr* source = m_store ? m_store : m_viewStore;
  if (!source) return nullptr;
  SetProgress(0);
  ZipHandle* zip = nullptr;
  {
    const CStoreLock lock(source, kLockShared);
    // A source without records would still make a header-only file.
    const bool empty = !lock.Held() || (m_view ? m_view->RecordCount() == 0
                                               : source->Buffer() == nullptr || source->Buffer()->recordCount == 0);
    if (!empty) zip = ZipForUpload(source, time, m_view, kUploadMaxZipBytes);
  }
  SetProgress(kPercent);
  return zip;
}

UINT JobSendToTalmo::Exchange(const std::wstring& url, const void* body, DWORD length) {
  if (!IsRunning()) return kCancelledResult;
  UINT result = m_request.OpenHttpRequest(url.c_str(), body ? kPostVerb : nullptr);
  // Handles opened after a cancel are not closed by it: test again.
  if (!IsRunning()) return kCancelledResult;
  if (!result) result = m_request.SendRequest(m_promptWindow, body, length);
  if (!result) result = m_request.ReadStatusReply(body ? 0 : 1);
  return IsRunning() ? result : kCancelledResult;
}

void JobSendToTalmo::Run() {
  const std::wstring base = LogServerBaseUrl();
  CByteBuffer text;
  char* base64 = reinterpret_cast<char*>(text.Reserve(kUploadBase64Bytes));
  if (!base64) {
    PostStep(kUploadStepPrepare, IDS_SEND_ERR_OUT_OF_MEMORY, 0);
    return;
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  CUploadZip zip(BuildZip(now));
  const size_t size = zip.get() ? CZip::GetMemorySize(zip.get()) : 0;
  if (!IsRunning()) {
    PostStep(kUploadStepPrepare, IDS_SEND_ERR_CANCELLED, 0);
    return;
  }
  if (size == 0 || size > kUploadMaxZipBytes) {
    PostStep(kUploadStepPrepare, IDS_SEND_ERR_INVALID_LOG, 0);
    return;
  }
  if (m_store) {
    SetTitle(IDS_JOB_SENDING, m_store->m_fileName.c_str());
  } else {
    SetTitle(IDS_JOB_SENDING_VIEW, m_view->m_title.c_str());
  }
  SetProgress(0);
  PostStep(kUploadStepPrepare, 0, 0);
  if (!Query(base)) return;
  SendPieces(base, CZip::GetMemoryData(zip.get()), size, base64, now);
}

bool JobSendToTalmo::Query(const std::wstring& base) {
  const UINT result = Exchange(base + kQueryKeys, nullptr, 0);
  if (result == kCancelledResult) {
    PostStep(kUploadStepConnect, IDS_SEND_ERR_CANCELLED, 0);
    return false;
  }
  if (result) {
    PostStep(kUploadStepConnect, result, LPARAM(m_request.ErrorCode()));
    return false;
  }
  PostStep(kUploadStepConnect, 0, 0);
  m_request.Reset();
  return true;
}

void JobSendToTalmo::SendPieces(const std::wstring& base, const uint8_t* zip, size_t size, char* base64,
                                const SYSTEMTIME& time) {
  wchar_t name[kComputerNameChars] = L"";
  DWORD nameChars = DWORD(kComputerNameChars);
  if (!GetComputerNameW(name, &nameChars)) name[0] = L'\0';
  const std::wstring computer = EncodeComputerName(name);
  CString when;
  when.Format(kUploadTimeFormat, time.wMonth, time.wDay, time.wYear, time.wHour, time.wMinute, time.wSecond);

  const uint32_t count = uint32_t((size + kUploadPieceBytes - 1) / kUploadPieceBytes);
  for (uint32_t number = 1; number <= count; ++number) {
    const size_t offset = size_t(number - 1) * kUploadPieceBytes;
    const size_t length = number < count ? kUploadPieceBytes : size - offset;
    const size_t encoded = Base64Encode(zip + offset, length, base64, kUploadBase64Bytes);
    CString keys;
    keys.Format(kPieceKeys, kConfigurationId, computer.c_str(), unsigned(length), unsigned(length), count, number,
                when.c_str());
    const UINT result = encoded ? Exchange(base + keys.c_str(), base64, DWORD(encoded)) : IDS_SEND_ERR_WIN32;
    if (result == kCancelledResult) {
      PostStep(kUploadStepSend, IDS_SEND_ERR_CANCELLED, 0);
      return;
    }
    if (result) {
      PostStep(kUploadStepSend, result, LPARAM(m_request.ErrorCode()));
      return;
    }
    const uint32_t percent = number * kPercent / count;
    PostStep(kUploadStepSend, 0, LPARAM(percent));
    m_request.Reset();
    SetProgress(percent);
  }
  PostStep(kUploadStepSend, 0, LPARAM(kPercent));
  SetProgress(kPercent);
  if (m_store) {
    m_store->ExchangeHasData(0);
  } else {
    m_view->ExchangeChanged(0);
  }
  PostStep(kUploadStepCompleted, 0, 0);
}
