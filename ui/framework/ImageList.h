// CImageList owns an image list and destroys it when it dies; Detach hands
// it to a new owner (a list view without LVS_SHAREIMAGELISTS, say). The drag
// calls work on the one process-wide drag image of the common controls.
#pragma once

#include <windows.h>
#include <commctrl.h>

class CImageList {
 public:
  CImageList() = default;
  explicit CImageList(HIMAGELIST list) : m_list(list) {}
  ~CImageList() { Destroy(); }
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;
  CImageList(CImageList&& other) noexcept : m_list(other.Detach()) {}
  CImageList& operator=(CImageList&& other) noexcept;

  HIMAGELIST get() const { return m_list; }
  bool IsNull() const { return m_list == nullptr; }
  HIMAGELIST Detach() {
    HIMAGELIST list = m_list;
    m_list = nullptr;
    return list;
  }
  void Destroy();

  // Each Create* replaces what the owner held; false on failure.
  bool Create(int cx, int cy, UINT flags, int initial, int grow);
  // A strip of `cx`-wide pictures from bitmap resource `id` of `module`
  // (the executable's when null).
  bool CreateFromImage(UINT id, int cx, int grow, COLORREF mask, UINT flags, HINSTANCE module = nullptr);

  int GetImageCount() const { return ImageList_GetImageCount(m_list); }
  bool GetIconSize(int* cx, int* cy) const { return ImageList_GetIconSize(m_list, cx, cy) != FALSE; }
  int Add(HBITMAP image, HBITMAP mask = nullptr) { return ImageList_Add(m_list, image, mask); }
  int AddMasked(HBITMAP image, COLORREF mask) { return ImageList_AddMasked(m_list, image, mask); }
  bool Draw(int index, HDC dc, int x, int y, UINT style) const {
    return ImageList_Draw(m_list, index, dc, x, y, style) != FALSE;
  }
  // An icon made from one picture; the caller destroys it (DestroyIcon).
  HICON GetIcon(int index, UINT flags = ILD_TRANSPARENT) const { return ImageList_GetIcon(m_list, index, flags); }

  bool BeginDrag(int index, int hotX, int hotY) const { return ImageList_BeginDrag(m_list, index, hotX, hotY) != FALSE; }
  static bool DragEnter(HWND lock, int x, int y) { return ImageList_DragEnter(lock, x, y) != FALSE; }
  static bool DragMove(int x, int y) { return ImageList_DragMove(x, y) != FALSE; }
  static bool DragShowNolock(bool show) { return ImageList_DragShowNolock(show ? TRUE : FALSE) != FALSE; }
  static bool DragLeave(HWND lock) { return ImageList_DragLeave(lock) != FALSE; }
  static void EndDrag() { ImageList_EndDrag(); }

 private:
  HIMAGELIST m_list = nullptr;
};
