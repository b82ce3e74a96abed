#include "ui/framework/WindowImpl.h"

#include "core/StrUtil.h"

namespace ktui {

void*& PendingWindowObject() {
  thread_local void* pending = nullptr;
  return pending;
}

const wchar_t* PreviousProcProperty() { return L"KtPreviousWndProc"; }

}  // namespace ktui

ATOM CWndClassInfo::Register(WNDPROC startProc) {
  if (atom != 0) {
    return atom;
  }
  if (className == nullptr && generatedName[0] == 0) {
    StrPrintfW(generatedName, sizeof(generatedName) / sizeof(generatedName[0]), L"Kt:%p", static_cast<void*>(this));
  }
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  WNDPROC behind = ::DefWindowProcW;
  if (superClassName != nullptr) {
    if (!::GetClassInfoExW(nullptr, superClassName, &wc) && !::GetClassInfoExW(instance, superClassName, &wc)) {
      return 0;
    }
    behind = wc.lpfnWndProc;
    wc.cbSize = sizeof(wc);
    wc.lpszMenuName = nullptr;
  } else {
    wc.style = style;
    wc.hCursor = cursor != nullptr ? ::LoadCursorW(nullptr, cursor) : nullptr;
    wc.hbrBackground = background != 0 ? reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background)) : nullptr;
    if (resourceId != 0) {
      // Shared icons belong to the system: nobody destroys them.
      wc.hIcon = static_cast<HICON>(
          ::LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
      wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    }
  }
  wc.lpfnWndProc = startProc;
  wc.hInstance = instance;
  wc.lpszClassName = Name();
  superProc = behind;
  atom = ::RegisterClassExW(&wc);
  return atom;
}

bool CWndClassInfo::Unregister() {
  if (atom == 0) {
    return true;
  }
  if (!::UnregisterClassW(MAKEINTATOM(atom), ::GetModuleHandleW(nullptr))) {
    return false;
  }
  atom = 0;
  return true;
}
