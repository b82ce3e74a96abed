// Remote-server mode: the status window owns the capture that serves
// remote viewers; the loop runs until the window closes.
#include <memory>
#include <new>

#include "app/MainDlg.h"
#include "app/Run.h"

int RunRemoteServer(unsigned short port, int show, CMessageLoop& loop) {
  auto dialog = std::unique_ptr<CMainDlg>(new (std::nothrow) CMainDlg);
  if (!dialog || dialog->Create(nullptr) == nullptr) {
    return 0;
  }
  dialog->ShowWindow(show);
  dialog->StartServer(port);
  return loop.Run();
}
