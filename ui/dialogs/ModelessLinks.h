// How the main frame and its modeless remote dialogs reach each other. The
// frame keeps one pointer to each dialog while it exists; the dialog clears
// it (through the slot it was given) when its window is finally destroyed,
// so the frame never calls a dialog that is gone.
#pragma once

#include <windows.h>

#include "net/Inet.h"

class JobItem;

// The remote-file dialog as the frame sees it: the frame tells it when its
// listing or fetch job ended, and shows those jobs' failures over it.
class IRemoteFileDlg {
 public:
  virtual HWND DialogWindow() const = 0;
  // The listing job ended (after any failure report): show what it holds.
  // The dialog takes the entries out of the job's listing.
  virtual void OnListFilesDone(CFtpListing& listing) = 0;
  // The fetch job ended: back from busy to ready.
  virtual void EnableControls() = 0;

 protected:
  ~IRemoteFileDlg() = default;
};

// The upload dialog as the frame sees it: the frame deletes every finished
// job, and tells the dialog first, so that a Cancel pressed later never
// reaches a deleted job.
class IUploadDlg {
 public:
  virtual HWND DialogWindow() const = 0;
  virtual void ForgetJob(const JobItem* job) = 0;

 protected:
  ~IUploadDlg() = default;
};

