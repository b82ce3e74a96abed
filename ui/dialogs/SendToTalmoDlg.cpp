#include "ui/dialogs/SendToTalmoDlg.h"

namespace {
constexpr UINT kMarkIds[CUploadProgress::kLines] = {IDC_SEND_MARK1, IDC_SEND_MARK2, IDC_SEND_MARK3, IDC_SEND_MARK4};
constexpr UINT kTextIds[CUploadProgress::kLines] = {IDC_SEND_STEP1, IDC_SEND_STEP2, IDC_SEND_STEP3,
                                                    IDC_SEND_RESULT};
}  // namespace

LRESULT CSendToTalmoDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow(GetParent());
  for (size_t i = 0; i < CUploadProgress::kLines; ++i) {
    m_marks[i].SubclassWindow(GetDlgItem(int(kMarkIds[i])));
    m_texts[i].SubclassWindow(GetDlgItem(int(kTextIds[i])));
  }
  Apply();
  return TRUE;
}

void CSendToTalmoDlg::Start(JobSendToTalmo* job) {
  m_job = job;
  m_model = CUploadProgress();
  Apply();
}

LRESULT CSendToTalmoDlg::OnProgress(UINT, WPARAM wParam, LPARAM lParam) {
  m_model.OnStep(LOWORD(wParam), HIWORD(wParam), uint32_t(lParam));
  Apply();
  return 0;
}

LRESULT CSendToTalmoDlg::OnClose(WORD, WORD id, HWND) {
  switch (m_model.OnClose(id, m_job != nullptr)) {
    case UploadCloseAction::kCancelJob:
      m_job->Cancel();
      m_job = nullptr;
      Apply();
      break;
    case UploadCloseAction::kDestroy:
      DestroyWindow();
      break;
    case UploadCloseAction::kNone:
      break;
  }
  return 0;
}

void CSendToTalmoDlg::ForgetJob(const JobItem* job) {
  if (job != nullptr && job == m_job) {
    m_job = nullptr;
  }
}

void CSendToTalmoDlg::Apply() {
  for (size_t i = 0; i < CUploadProgress::kLines; ++i) {
    if (m_marks[i].m_hWnd != nullptr) {
      m_marks[i].SetState(m_model.Mark(i));
      m_marks[i].Invalidate(TRUE);
    }
    if (m_texts[i].m_hWnd != nullptr) {
      m_texts[i].SetState(CStaticEx::kStateText);
      m_texts[i].SetTextColor(m_model.Colour(i));
      m_texts[i].SetWindowText(m_model.Text(i).c_str());
      m_texts[i].Invalidate(TRUE);
    }
  }
  HWND cancel = GetDlgItem(IDCANCEL);
  if (!m_model.CancelText().IsEmpty()) {
    ::SetWindowTextW(cancel, m_model.CancelText().c_str());
  }
  ::ShowWindow(cancel, m_model.CancelShown() ? SW_SHOW : SW_HIDE);
  ::ShowWindow(GetDlgItem(IDOK), m_model.CloseShown() ? SW_SHOW : SW_HIDE);
  ::SetWindowTextW(m_hWnd, m_model.Caption().c_str());
}

CSendToTalmoDlg::~CSendToTalmoDlg() {
  if (m_slot != nullptr && *m_slot == this) {
    *m_slot = nullptr;
  }
}
