// "Send to talmo": the progress window of one upload. It shows the job's
// step notifications and offers Cancel while the upload runs. The job is
// the frame's: the frame tells the dialog before it deletes it.
#pragma once

#include <windows.h>

#include "jobs/UploadJob.h"
#include "resource.h"
#include "ui/controls/StaticEx.h"
#include "ui/dialogs/ModelessLinks.h"
#include "ui/dialogs/UploadProgress.h"
#include "ui/framework/DialogImpl.h"

class CSendToTalmoDlg : public CModelessDialog<CSendToTalmoDlg>, public IUploadDlg {
 public:
  enum { IDD = IDD_SEND_TO_TALMO };
  // The job's step notifications.
  static constexpr UINT kProgressMessage = WM_APP;

  // slot: the owner's pointer to this dialog, cleared when it is destroyed.
  explicit CSendToTalmoDlg(IUploadDlg** slot) : m_slot(slot) {}

  BEGIN_MSG_MAP(CSendToTalmoDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(kProgressMessage, OnProgress)
    COMMAND_ID_HANDLER(IDOK, OnClose)
    COMMAND_ID_HANDLER(IDCANCEL, OnClose)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  LRESULT OnProgress(UINT, WPARAM wParam, LPARAM lParam);
  LRESULT OnClose(WORD, WORD id, HWND);

  // The upload was posted: the dialog waits for its first step.
  void Start(JobSendToTalmo* job);

  // IUploadDlg
  HWND DialogWindow() const override { return m_hWnd; }
  void ForgetJob(const JobItem* job) override;

  // The window is gone: the owner's pointer goes with the object.
  ~CSendToTalmoDlg() override;

  const CUploadProgress& Model() const { return m_model; }
  const JobSendToTalmo* Job() const { return m_job; }

 private:
  // Shows the model: marks, texts, colours, buttons, caption.
  void Apply();

  IUploadDlg** m_slot;
  JobSendToTalmo* m_job = nullptr;  // not owned; null once cancelled or deleted
  CUploadProgress m_model;
  CStaticEx m_marks[CUploadProgress::kLines];
  CStaticEx m_texts[CUploadProgress::kLines];
};
