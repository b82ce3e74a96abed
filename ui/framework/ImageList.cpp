#include "ui/framework/ImageList.h"

CImageList& CImageList::operator=(CImageList&& other) noexcept {
  if (this != &other) {
    Destroy();
    m_list = other.Detach();
  }
  return *this;
}

void CImageList::Destroy() {
  if (m_list != nullptr) {
    ImageList_Destroy(m_list);
    m_list = nullptr;
  }
}

bool CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  Destroy();
  m_list = ImageList_Create(cx, cy, flags, initial, grow);
  return m_list != nullptr;
}

bool CImageList::CreateFromImage(UINT id, int cx, int grow, COLORREF mask, UINT flags, HINSTANCE module) {
  Destroy();
  if (module == nullptr) {
    module = ::GetModuleHandleW(nullptr);
  }
  m_list = ImageList_LoadImageW(module, MAKEINTRESOURCEW(id), cx, grow, mask, IMAGE_BITMAP, flags);
  return m_list != nullptr;
}
