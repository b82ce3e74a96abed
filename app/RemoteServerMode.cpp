// Remote-server mode is started by CMainDlg; until that window is built this
// start makes no window, which start-up reports as exit code 0.
#include "app/Run.h"

int RunRemoteServer(unsigned short, int, CMessageLoop&) { return 0; }
