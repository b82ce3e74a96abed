// A double-buffered label that shows its text in a chosen colour, a tick, or
// only its background (the upload dialog's step labels). The owner sets the
// state and colour and invalidates the label. Its background is the brush the
// parent gives for WM_CTLCOLORSTATIC.
#pragma once

#include <windows.h>

#include "ui/framework/DoubleBuffer.h"
#include "ui/framework/WindowImpl.h"

class CStaticEx : public CWindowImpl<CStaticEx>, public CDoubleBufferImpl<CStaticEx> {
 public:
  static constexpr UINT kStateText = 0;
  static constexpr UINT kStateTick = 2;  // any other state paints the background only

  void SetState(UINT state) { m_state = state; }
  UINT GetState() const { return m_state; }
  void SetTextColor(COLORREF color) { m_textColor = color; }
  COLORREF GetTextColor() const { return m_textColor; }

  BEGIN_MSG_MAP(CStaticEx)
    MESSAGE_HANDLER(WM_SETFONT, OnSetFont)
    MESSAGE_HANDLER(WM_GETFONT, OnGetFont)
    CHAIN_MSG_MAP(CDoubleBufferImpl<CStaticEx>)
  END_MSG_MAP()

  // A label of this class keeps its own font (DefWindowProc keeps none); a
  // subclassed static keeps it as well and is told too.
  LRESULT OnSetFont(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnGetFont(UINT msg, WPARAM wParam, LPARAM lParam);

  void DoPaint(HDC dc);

 private:
  void PaintBackground(HDC dc, const RECT& client);
  void PaintText(HDC dc, const RECT& client);
  static void PaintTick(HDC dc, const RECT& client);

  UINT m_state = kStateText;
  COLORREF m_textColor = RGB(0, 0, 0);
  HFONT m_font = nullptr;
};
