#include "app/Run.h"

#include <winsock2.h>

#include <memory>
#include <new>

#include "app/MainFrame.h"
#include "app/Startup.h"
#include "core/AppConfig.h"
#include "core/Cipher.h"
#include "core/Handle.h"
#include "core/ModuleGroups.h"
#include "core/SysUtil.h"
#include "formats/EventDesc.h"
#include "resource.h"
#include "ui/framework/MessageLoop.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr DWORD kVistaMajorVersion = 6;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

void ShowStartupError(UINT stringId) {
  ktui::MessageBoxFromId(nullptr, stringId, MB_ICONERROR);
}

// A bad port on the command line is refused, not wrapped into another one.
void ShowBadPort() {
  ktui::MessageBoxText(nullptr, L"The port of -c must be a number from 1 to 65535.", MB_ICONERROR);
}

bool LoadSharedTables() {
  return g_moduleGroups.LoadFromResource() && g_appConfig.LoadOrSave(1) &&
         LoadEventDescriptions(&g_eventDescriptions);
}

void RegisterFileTypes() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    return;
  }
  RegisterFileType(1, L".ktr", path, kFileTypeProgId, kFileTypeDescription);
  RegisterFileType(0, L".kdv", path, kFileTypeProgId, kFileTypeDescription);
  RegisterFileType(0, L".klg", path, kFileTypeProgId, kFileTypeDescription);
}

int RunViewer(const wchar_t* commandLine, int show, CMessageLoop& loop) {
  auto frame = std::unique_ptr<CMainFrame>(new (std::nothrow) CMainFrame);
  if (!frame || frame->CreateEx() == nullptr) {
    return 0;
  }
  frame->ShowWindow(show);
  frame->StartCapture(commandLine);
  return loop.Run();
}
}  // namespace

int Run(const wchar_t* commandLine, int show) {
  OSVERSIONINFOW version = {sizeof(version)};
  ::GetVersionExW(&version);
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  SECURITY_ATTRIBUTES* shared = nullptr;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
      return -1;
    }
    attributes.lpSecurityDescriptor = &descriptor;
    shared = &attributes;
  }
  const int port = ParseRemotePort(commandLine);
  if (port < 0) {
    ShowBadPort();
    return -1;
  }
  const CHandle instance(CheckSingleInstance(shared, commandLine));
  if (!instance.valid()) {
    return 0;
  }
  CHandle globalInstance;
  if (version.dwMajorVersion >= kVistaMajorVersion) {
    globalInstance.reset(::CreateEventW(shared, FALSE, FALSE, kGlobalSingleInstanceEventName));
    if (!globalInstance.valid()) {
      return -1;
    }
    SetLowIntegrityLabel(kSingleInstanceEventName);
    SetLowIntegrityLabel(kGlobalSingleInstanceEventName);
  }
  WSADATA winsock;
  if (::WSAStartup(kWinsockVersion, &winsock) != 0) {
    ShowStartupError(IDS_WINSOCK_INIT_FAILED);
    return -1;
  }
  if (!LoadSharedTables()) {
    ShowStartupError(IDS_LOAD_CONFIG_FAILED);
    ::WSACleanup();
    return -1;
  }
  InitCipherKeys();
  RegisterFileTypes();
  int result = 0;
  {
    CMessageLoop loop;
    result = port != 0 ? RunRemoteServer(static_cast<unsigned short>(port), show, loop)
                       : RunViewer(commandLine, show, loop);
  }
  ::WSACleanup();
  return result;
}
