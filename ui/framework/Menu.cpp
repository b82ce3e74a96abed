#include "ui/framework/Menu.h"

#include "ui/framework/PopupSeam.h"

BOOL CMenuHandle::TrackPopupMenu(UINT flags, int x, int y, HWND owner, const RECT* excluded) const {
  return g_trackPopupMenu(m_menu, flags, x, y, 0, owner, excluded);
}

bool CMenu::LoadMenu(UINT id, HINSTANCE module) {
  Destroy();
  if (module == nullptr) {
    module = ::GetModuleHandleW(nullptr);
  }
  m_menu = ::LoadMenuW(module, MAKEINTRESOURCEW(id));
  return m_menu != nullptr;
}

bool CMenu::CreatePopupMenu() {
  Destroy();
  m_menu = ::CreatePopupMenu();
  return m_menu != nullptr;
}

void CMenu::Destroy() {
  if (m_menu != nullptr) {
    ::DestroyMenu(m_menu);
    m_menu = nullptr;
  }
}
