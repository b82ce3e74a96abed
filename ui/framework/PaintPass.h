// One paint pass over a window and its children that reaches the screen
// whole instead of control by control.
//
// Wine draws into a window surface and copies it to the screen on its own:
// when the thread goes idle, and whenever a DC draws while the surface holds
// unshown drawing and more than 50 ms have passed since that DC began
// drawing. A DC begins drawing when it draws into a surface with nothing
// unshown, so every control's DC, which last began long ago, copied the
// surface out as soon as it drew in a pass: the screen showed the frame part
// new and part old, and once a scroll bar's arrow half drawn.
#pragma once

#include <windows.h>

namespace ktui {

// Called just before a pass that paints `top` and its children at once. The
// surface is copied out now, while it still holds the old picture, and the
// DCs the pass will paint with (client and window DCs of every visible
// window) begin drawing now without drawing anything. A pass that then ends
// within 50 ms is shown only when the thread next goes idle, in one piece;
// a longer one falls back to being shown as it goes. Elsewhere than on Wine
// it costs a few DC lookups and does nothing else.
void StartPaintPass(HWND top);

}  // namespace ktui
