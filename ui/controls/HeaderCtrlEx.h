// The flat header of the owner-drawn lists: white, with a grey gradient in
// its lower half, thin dividers and a bottom line; it draws no sort mark.
// A list puts it on its header control with SubclassWindow.
#pragma once

#include <windows.h>

#include "ui/framework/Controls.h"
#include "ui/framework/DoubleBuffer.h"
#include "ui/framework/WindowImpl.h"

class CHeaderCtrlEx : public CWindowImpl<CHeaderCtrlEx, CHeaderCtrl>, public CDoubleBufferImpl<CHeaderCtrlEx> {
 public:
  static constexpr COLORREF kGradientTop = RGB(247, 248, 250);
  static constexpr COLORREF kGradientBottom = RGB(241, 242, 244);
  static constexpr COLORREF kDividerDark = RGB(229, 230, 231);
  static constexpr COLORREF kDividerLight = RGB(254, 254, 254);
  static constexpr COLORREF kBottomLine = RGB(213, 213, 213);

  BEGIN_MSG_MAP(CHeaderCtrlEx)
    CHAIN_MSG_MAP(CDoubleBufferImpl<CHeaderCtrlEx>)
  END_MSG_MAP()

  void DoPaint(HDC dc) { DrawHeaderItems(dc); }
  // Draws the whole header into `dc`; nothing while it has no height.
  void DrawHeaderItems(HDC dc);
};
