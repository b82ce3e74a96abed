// Menus. CMenuHandle works on a menu it does not own (a sub-menu, or the
// menu bar that the window destroys with itself); CMenu owns a menu it loaded
// or created and destroys it when it dies, unless it was attached to a
// window and Detach gave it up.
#pragma once

#include <windows.h>

class CMenuHandle {
 public:
  explicit CMenuHandle(HMENU menu = nullptr) : m_menu(menu) {}
  HMENU get() const { return m_menu; }
  bool IsNull() const { return m_menu == nullptr; }

  int GetMenuItemCount() const { return ::GetMenuItemCount(m_menu); }
  // A sub-menu owned by this menu; null when the item has none.
  HMENU GetSubMenu(int position) const { return ::GetSubMenu(m_menu, position); }
  UINT GetMenuItemID(int position) const { return ::GetMenuItemID(m_menu, position); }
  UINT GetMenuState(UINT item, UINT flags) const { return ::GetMenuState(m_menu, item, flags); }
  BOOL AppendMenu(UINT flags, UINT_PTR idOrSubMenu, const wchar_t* text) {
    return ::AppendMenuW(m_menu, flags, idOrSubMenu, text);
  }
  BOOL DeleteMenu(UINT item, UINT flags) { return ::DeleteMenu(m_menu, item, flags); }
  // The previous state, or -1 when the item does not exist.
  int EnableMenuItem(UINT item, UINT flags) { return int(::EnableMenuItem(m_menu, item, flags)); }
  int CheckMenuItem(UINT item, UINT flags) { return int(::CheckMenuItem(m_menu, item, flags)); }
  BOOL CheckMenuRadioItem(UINT first, UINT last, UINT check, UINT flags) {
    return ::CheckMenuRadioItem(m_menu, first, last, check, flags);
  }

  // Shows the menu through g_trackPopupMenu; with TPM_RETURNCMD the result is
  // the chosen command (0 for none).
  BOOL TrackPopupMenu(UINT flags, int x, int y, HWND owner, const RECT* excluded = nullptr) const;

 protected:
  HMENU m_menu;
};

class CMenu : public CMenuHandle {
 public:
  CMenu() = default;
  explicit CMenu(HMENU menu) : CMenuHandle(menu) {}
  ~CMenu() { Destroy(); }
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;
  CMenu(CMenu&& other) noexcept : CMenuHandle(other.Detach()) {}
  CMenu& operator=(CMenu&& other) noexcept {
    if (this != &other) {
      Destroy();
      m_menu = other.Detach();
    }
    return *this;
  }

  // Each replaces what the owner held; false on failure.
  bool LoadMenu(UINT id, HINSTANCE module = nullptr);
  bool CreatePopupMenu();
  void Destroy();
  HMENU Detach() {
    HMENU menu = m_menu;
    m_menu = nullptr;
    return menu;
  }
};
