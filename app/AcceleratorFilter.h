// Keys an edit control keeps for itself while it has the focus: the frame's
// accelerators must not turn them into list commands (Ctrl+C in the
// quick-filter box copies its text, not the selected rows).
#pragma once

#include <windows.h>

// True for the editing keys of an edit control: Ctrl with A, C, V, X, Y or
// Z, Ctrl or Shift with Insert, Shift+Delete, Ctrl+Backspace. An edit has no
// use for the frame's other Ctrl keys (Ctrl+E, Ctrl+H, ...), so they stay
// commands.
bool IsEditingKey(UINT virtualKey, bool ctrl, bool shift, bool alt);

// True when `window` is an edit control (it asks for the text selection).
bool IsEditWindow(HWND window);

// True when the keyboard message `msg` is an editing key for the edit
// control that receives it.
bool KeyBelongsToEdit(const MSG& msg);
