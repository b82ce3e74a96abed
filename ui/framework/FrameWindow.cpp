#include "ui/framework/FrameWindow.h"

#include <cstring>

#include "core/Containers.h"

namespace {
constexpr WORD kToolBarResourceVersion = 1;
constexpr size_t kClassicHeaderBytes = 4 * sizeof(WORD);
constexpr size_t kWindresHeaderBytes = 3 * sizeof(DWORD);
constexpr UINT kMaxPictureSize = 256;
constexpr int kSeparatorWidth = 8;
constexpr int kButtonPadding = 7;  // button size = picture size + this, as the control sizes them
constexpr UINT kRtToolBar = 241;

// The items take up all of the resource after the header, but for padding.
bool ItemsFill(size_t size, size_t header, size_t count, size_t itemBytes) {
  if (size < header || count > (size - header) / itemBytes) {
    return false;
  }
  return size - header - count * itemBytes < sizeof(DWORD);
}

}  // namespace

namespace ktui {

bool ParseToolBarResource(const void* data, size_t size, ToolBarResource* out) {
  if (data == nullptr || out == nullptr) {
    return false;
  }
  const auto* words = static_cast<const WORD*>(data);
  if (size >= kClassicHeaderBytes && words[0] == kToolBarResourceVersion &&
      ItemsFill(size, kClassicHeaderBytes, words[3], sizeof(WORD))) {
    *out = {words[1], words[2], words[3], words + 4, sizeof(WORD)};
  } else if (size >= kWindresHeaderBytes) {
    DWORD header[3];
    std::memcpy(header, data, sizeof(header));
    if (!ItemsFill(size, kWindresHeaderBytes, header[2], sizeof(DWORD))) {
      return false;
    }
    *out = {header[0], header[1], header[2], static_cast<const BYTE*>(data) + kWindresHeaderBytes, sizeof(DWORD)};
  } else {
    return false;
  }
  return out->width != 0 && out->height != 0 && out->width <= kMaxPictureSize && out->height <= kMaxPictureSize;
}

HWND CreateToolBarFromResource(HWND parent, HINSTANCE module, UINT resourceId, bool initialSeparator, DWORD style,
                               UINT id) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(kRtToolBar));
  if (found == nullptr) {
    return nullptr;
  }
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  ToolBarResource resource;
  if (!ParseToolBarResource(data, ::SizeofResource(module, found), &resource)) {
    return nullptr;
  }
  CGrowArray<TBBUTTON> buttons;
  if (!buttons.Reserve(size_t(resource.count) + 1)) {
    return nullptr;
  }
  int picture = 0;
  for (size_t i = 0; i < size_t(resource.count) + 1; ++i) {
    if (i == 0 && !initialSeparator) {
      continue;
    }
    const UINT command = i == 0 ? 0 : resource.Item(i - 1);
    TBBUTTON button = {};
    if (command == 0) {
      button.iBitmap = kSeparatorWidth;
      button.fsStyle = BTNS_SEP;
    } else {
      button.iBitmap = picture++;
      button.idCommand = int(command);
      button.fsState = TBSTATE_ENABLED;
      button.fsStyle = BTNS_BUTTON;
    }
    buttons.Append(button);
  }
  HWND toolbar = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, style, 0, 0, 100, 100, parent,
                                   reinterpret_cast<HMENU>(UINT_PTR(id)), module, nullptr);
  if (toolbar == nullptr) {
    return nullptr;
  }
  ::SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(resource.width, resource.height));
  ::SendMessageW(toolbar, TB_SETBUTTONSIZE, 0,
                 MAKELPARAM(resource.width + kButtonPadding, resource.height + kButtonPadding));
  if (picture > 0) {
    TBADDBITMAP bitmap = {module, UINT_PTR(resourceId)};
    ::SendMessageW(toolbar, TB_ADDBITMAP, WPARAM(picture), LPARAM(&bitmap));
  }
  if (buttons.count > 0) {
    ::SendMessageW(toolbar, TB_ADDBUTTONSW, WPARAM(buttons.count), LPARAM(buttons.data));
  }
  ::SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
  return toolbar;
}

}  // namespace ktui
