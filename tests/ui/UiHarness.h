// Shared code of the window tests: a host window for controls, pixel capture
// through WM_PRINTCLIENT, screenshots for a person to look at, in-memory
// dialog templates, and recorders for the modal popups.
//
// Set up once for the whole run (ui_harness.cpp): the common controls are
// registered, themes are switched off, the screenshot folder is printed, and
// the popup and modal seams answer with a test failure instead of blocking,
// until a CPopupRecorder or CModalRecorder takes them over.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/framework/ModalSeam.h"

namespace kt_test {

// Pixels of a window, 32 bits each in B, G, R, A order, top row first.
class CPixels {
 public:
  int width = 0;
  int height = 0;
  std::vector<uint32_t> bgra;

  bool IsEmpty() const { return width <= 0 || height <= 0; }
  // The colour at (x, y) as COLORREF (compare with RGB()); 0xFFFFFFFF when outside.
  COLORREF Pixel(int x, int y) const;
  // How many pixels of `rect` (clipped to the picture) have `color`.
  int CountColor(COLORREF color, const RECT& rect) const;
  int CountColor(COLORREF color) const { return CountColor(color, RECT{0, 0, width, height}); }
};

// The colour the capture buffer holds before the window paints: pixels that
// still have it were not painted.
constexpr COLORREF kUnpaintedColor = RGB(255, 0, 255);

// The client area as the window renders it on WM_PRINTCLIENT (with
// PRF_CLIENT | PRF_ERASEBKGND) into a 32-bit DIB. Empty when the window has
// no client area or GDI fails.
CPixels CapturePixels(HWND hwnd);

// The client area as it is on the screen, child windows included, after a
// repaint of the window and its children. Only meaningful for a visible,
// uncovered window; empty when the window is not visible.
CPixels CaptureScreenPixels(HWND hwnd);

// The client area as the screen shows it now: what the window has left to
// paint is painted first, nothing else is asked to paint again. This is
// what the user sees, stale pixels included.
CPixels CaptureShownPixels(HWND hwnd);

// Writes the pixels as a 24-bit BMP file. False when the file cannot be written.
bool WriteBmp(const CPixels& pixels, const std::wstring& path);
// The folder for screenshots: "ui-screenshots" beside the test executable.
std::wstring ScreenshotFolder();
// Writes "<name>.bmp" into the screenshot folder: the window as the screen
// shows it (children included) when it is visible, else as WM_PRINTCLIENT
// renders it. The path written, empty on failure.
std::wstring SaveScreenshot(HWND hwnd, const wchar_t* name);

// Screenshots for the documentation: when the environment variable
// KT_DIALOG_SHOTS names a folder (a Unix or a Windows path), writes
// "<folder>/<name>.bmp": the whole window, frame and children, rendered
// through WM_PRINTCLIENT, so it works for hidden windows and inside a modal
// loop too.
// scripts/dialog-shots runs the dialog tests with it and converts the files
// to docs/dialogs/<name>.png. Returns the path written, empty when the
// variable is not set or writing failed.
std::wstring SaveWindowShot(HWND hwnd, const wchar_t* name);
// The whole window: frame, caption and children, rendered through WM_PRINTCLIENT.
CPixels CaptureWindowPixels(HWND hwnd);

// Handles every message waiting for this thread, without blocking.
void PumpMessages();

// A visible top-level window at the screen's corner that hosts the controls
// of one test and goes away with it.
class CTestHostWindow {
 public:
  explicit CTestHostWindow(int clientWidth = 400, int clientHeight = 300);
  ~CTestHostWindow();
  CTestHostWindow(const CTestHostWindow&) = delete;
  CTestHostWindow& operator=(const CTestHostWindow&) = delete;
  HWND get() const { return m_hwnd; }

 private:
  HWND m_hwnd = nullptr;
};

// Builds a DLGTEMPLATE with its items in memory, for dialogs without an .rc.
// Coordinates are dialog units; fonts are "MS Shell Dlg" 8.
class CDialogTemplateBuilder {
 public:
  // Predefined control classes of the dialog manager.
  static constexpr WORD kButton = 0x0080;
  static constexpr WORD kEdit = 0x0081;
  static constexpr WORD kStatic = 0x0082;
  static constexpr WORD kListBox = 0x0083;
  static constexpr WORD kComboBox = 0x0085;

  CDialogTemplateBuilder(DWORD style, short cx, short cy, const wchar_t* caption);
  CDialogTemplateBuilder& Add(WORD classAtom, DWORD style, short x, short y, short cx, short cy, WORD id,
                              const wchar_t* text = L"");
  CDialogTemplateBuilder& Add(const wchar_t* className, DWORD style, short x, short y, short cx, short cy, WORD id,
                              const wchar_t* text = L"");
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }
  size_t SizeInBytes() const { return m_words.size() * sizeof(WORD); }

 private:
  void AlignToDword();
  void AppendString(const wchar_t* text);
  void AddHeader(DWORD style, DWORD exStyle, short x, short y, short cx, short cy, WORD id);
  std::vector<WORD> m_words;
  size_t m_countIndex = 0;
};

struct RecordedMessageBox {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};

struct RecordedPopupMenu {
  HMENU menu;
  UINT flags;
  int x;
  int y;
  HWND owner;
};

// For its lifetime, message boxes and popup menus are recorded and answered
// with `messageBoxAnswer` and `menuAnswer` (a command, for TPM_RETURNCMD)
// instead of being shown. One at a time.
class CPopupRecorder {
 public:
  CPopupRecorder();
  ~CPopupRecorder();
  CPopupRecorder(const CPopupRecorder&) = delete;
  CPopupRecorder& operator=(const CPopupRecorder&) = delete;

  int messageBoxAnswer = IDOK;
  UINT menuAnswer = 0;
  std::vector<RecordedMessageBox> messageBoxes;
  std::vector<RecordedPopupMenu> menus;
};

struct RecordedModal {
  CDialogImplBase* dialog;
  UINT templateId;  // 0 for a template in memory
  HWND parent;
  INT_PTR result;
};

// For its lifetime, DoModal of every framework dialog and the common dialogs
// go to this recorder instead of the system. One at a time.
//
// Without a window (the default): `answerWith` (when set) gets the dialog
// object, sets what the user would have chosen (cast it to its class) and
// returns DoModal's result; otherwise DoModal returns `answer`.
//
// For real (`runReal` true, or `runRealWhen(templateId)` true when that is
// set, so a real dialog can open another that is answered without a
// window): the dialog is created and runs its modal loop; `drive(dialog
// window)` is called once from inside that loop after the dialog was
// initialised, with `drivenTemplateId` naming the dialog, and must end it
// (click a button). A dialog still open after `timeoutMs` is ended with -1
// and the test fails, so no test ever blocks on a dialog. Dialogs are added
// to `dialogs` when they end (an inner one before its outer one).
//
// Common dialogs are answered by `openFile`, `saveFile`, `chooseFont` and
// `browseFolder` (unset: cancelled) and named in `commonDialogs`.
class CModalRecorder {
 public:
  CModalRecorder();
  ~CModalRecorder();
  CModalRecorder(const CModalRecorder&) = delete;
  CModalRecorder& operator=(const CModalRecorder&) = delete;

  INT_PTR answer = IDCANCEL;
  std::function<INT_PTR(CDialogImplBase& dialog, UINT templateId)> answerWith;
  bool runReal = false;
  std::function<bool(UINT templateId)> runRealWhen;
  std::function<void(HWND dialog)> drive;
  UINT drivenTemplateId = 0;
  DWORD timeoutMs = 15000;
  std::vector<RecordedModal> dialogs;

  std::function<BOOL(OPENFILENAMEW& request)> openFile;
  std::function<BOOL(OPENFILENAMEW& request)> saveFile;
  std::function<BOOL(CHOOSEFONTW& request)> chooseFont;
  std::function<PIDLIST_ABSOLUTE(BROWSEINFOW& request)> browseFolder;
  std::vector<std::wstring> commonDialogs;
};

// Clicks button `id` of `dialog` the way a mouse click does (BM_CLICK), so
// the dialog receives its WM_COMMAND / BN_CLICKED from the button itself.
void ClickButton(HWND dialog, int id);

}  // namespace kt_test
