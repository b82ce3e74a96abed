#pragma once
// The process body behind wWinMain: one instance per desktop, the shared
// tables and the ini file, the file types, then either the remote-server
// window or the viewer's main frame inside one message loop.
#include <windows.h>

// Exit code of the message loop; 0 when another instance took over or no
// window was made; -1 on a start-up failure.
int Run(const wchar_t* commandLine, int show);

// The remote-server window's run: creates it on `port`, shows it and runs
// `loop`. Returns the loop's exit code, or 0 when the window was not made.
class CMessageLoop;
int RunRemoteServer(unsigned short port, int show, CMessageLoop& loop);
