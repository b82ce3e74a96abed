#include "ui/dialogs/UploadProgress.h"

#include "core/StrUtil.h"
#include "resource.h"

namespace {
constexpr uint16_t kStepPrepare = 1;
constexpr uint16_t kStepConnect = 2;
constexpr uint16_t kStepSend = 3;
constexpr uint16_t kStepCompleted = 4;
constexpr uint32_t kFullPercent = 100;
constexpr size_t kFinalLine = 3;
constexpr UINT kStepTextIds[3] = {IDS_SEND_STEP_PREPARE, IDS_SEND_STEP_CONNECT, IDS_SEND_STEP_SEND};
}  // namespace

CString LoadResourceText(UINT id) {
  CString text;
  text.LoadString(::GetModuleHandleW(nullptr), id);
  return text;
}

CUploadProgress::CUploadProgress() {
  for (size_t i = 0; i < kLines; ++i) {
    m_marks[i] = kUploadMarkEmpty;
    m_colours[i] = kUploadTextColour;
    if (i < kFinalLine) {
      m_texts[i] = LoadResourceText(kStepTextIds[i]);
    }
  }
  m_caption = L"Send to talmo";
}

void CUploadProgress::OnStep(uint16_t step, uint16_t errorId, uint32_t value) {
  if (errorId == 0) {
    OnSuccess(step, value);
  } else {
    OnFailure(step, errorId, value);
  }
}

void CUploadProgress::OnSuccess(uint16_t step, uint32_t value) {
  switch (step) {
    case kStepPrepare:
      m_marks[0] = kUploadMarkTick;
      m_cancelShown = true;
      m_state = kUploadRunning;
      break;
    case kStepConnect:
      m_marks[1] = kUploadMarkTick;
      break;
    case kStepSend: {
      if (value >= kFullPercent) {
        m_marks[2] = kUploadMarkTick;
      }
      wchar_t text[kTextChars] = {};
      StrPrintfW(text, kTextChars, L"%s...%u%%", LoadResourceText(IDS_SEND_STEP_SEND).c_str(), value);
      m_texts[2] = text;
      break;
    }
    case kStepCompleted:
      m_marks[3] = kUploadMarkTick;
      m_cancelShown = true;
      m_cancelText = LoadResourceText(IDS_SEND_OK);
      m_texts[kFinalLine] = LoadResourceText(IDS_SEND_COMPLETED);
      m_caption = m_texts[kFinalLine];
      m_state = kUploadCompleted;
      break;
    default:
      break;
  }
}

void CUploadProgress::OnFailure(uint16_t step, uint16_t errorId, uint32_t value) {
  const CString message = LoadResourceText(errorId == IDS_SEND_ERR_CANCELLED ? IDS_SEND_CANCELLED : IDS_SEND_FAILED);
  if (step >= kStepPrepare && step <= kStepSend) {
    const size_t line = size_t(step - kStepPrepare);
    m_colours[line] = kUploadFailedColour;
    m_texts[line] = FailureText(kStepTextIds[line], errorId, value);
    m_texts[line + 1] = message;
    if (step == kStepPrepare) {
      m_texts[2].Empty();
    }
  }
  m_state = kUploadFailed;
  m_cancelShown = false;
  m_closeShown = true;
  m_caption = message;
}

CString CUploadProgress::FailureText(UINT stepId, uint16_t errorId, uint32_t code) const {
  const CString stepText = LoadResourceText(stepId);
  const CString errorText = LoadResourceText(errorId);
  wchar_t text[kTextChars] = {};
  if (code == 0) {
    StrPrintfW(text, kTextChars, LoadResourceText(IDS_SEND_STEP_FAILED).c_str(), stepText.c_str(), errorText.c_str());
  } else {
    StrPrintfW(text, kTextChars, LoadResourceText(IDS_SEND_STEP_FAILED_CODE).c_str(), stepText.c_str(),
               errorText.c_str(), code);
  }
  return CString(text);
}

UploadCloseAction CUploadProgress::OnClose(int button, bool hasJob) {
  if (button == IDCANCEL && m_state == kUploadRunning && hasJob) {
    m_cancelShown = false;
    m_caption = LoadResourceText(IDS_SEND_CANCELLING);
    return UploadCloseAction::kCancelJob;
  }
  if (m_state > kUploadRunning) {
    return UploadCloseAction::kDestroy;
  }
  return UploadCloseAction::kNone;
}
