#include "tests/ui/UiHarness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "ui/framework/DialogImpl.h"
#include "ui/framework/ModalSeam.h"
#include "ui/framework/PopupSeam.h"
#include "ui/framework/ThemeSwitch.h"

namespace kt_test {
namespace {

constexpr wchar_t kHostClassName[] = L"KtTestHost";
constexpr uint32_t kUnpaintedBgra = 0x00FF00FF;  // kUnpaintedColor in B, G, R, A order
constexpr WORD kBmpMagic = 0x4D42;               // "BM"
constexpr int kBmpBitsPerPixel = 24;

CPopupRecorder* g_recorder = nullptr;

int WINAPI UnexpectedMessageBox(HWND, const wchar_t* text, const wchar_t* caption, UINT) {
  ADD_FAILURE() << "unexpected message box: " << std::wstring(caption != nullptr ? caption : L"") << ": "
                << std::wstring(text != nullptr ? text : L"");
  return IDCANCEL;
}

BOOL WINAPI UnexpectedPopupMenu(HMENU, UINT, int x, int y, int, HWND, const RECT*) {
  ADD_FAILURE() << "unexpected popup menu at " << x << "," << y;
  return FALSE;
}

int WINAPI RecordMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  g_recorder->messageBoxes.push_back(
      {owner, text != nullptr ? text : L"", caption != nullptr ? caption : L"", type});
  return g_recorder->messageBoxAnswer;
}

BOOL WINAPI RecordPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  g_recorder->menus.push_back({menu, flags, x, y, owner});
  return (flags & TPM_RETURNCMD) != 0 ? BOOL(g_recorder->menuAnswer) : TRUE;
}

CModalRecorder* g_modalRecorder = nullptr;

INT_PTR UnexpectedModal(CDialogImplBase&, const CDialogSource& source, HWND, LPARAM) {
  ADD_FAILURE() << "unexpected modal dialog " << ktui::DialogTemplateId(source);
  return IDCANCEL;
}

BOOL WINAPI UnexpectedFileDialog(OPENFILENAMEW*) {
  ADD_FAILURE() << "unexpected file dialog";
  return FALSE;
}

BOOL WINAPI UnexpectedFontDialog(CHOOSEFONTW*) {
  ADD_FAILURE() << "unexpected font dialog";
  return FALSE;
}

PIDLIST_ABSOLUTE WINAPI UnexpectedFolderDialog(BROWSEINFOW*) {
  ADD_FAILURE() << "unexpected folder dialog";
  return nullptr;
}

void InstallUnexpectedModals() {
  g_runModal = &UnexpectedModal;
  g_getOpenFileName = &UnexpectedFileDialog;
  g_getSaveFileName = &UnexpectedFileDialog;
  g_chooseFont = &UnexpectedFontDialog;
  g_browseForFolder = &UnexpectedFolderDialog;
}

// The real modal run of a recorded dialog: a thread timer calls the test's
// driver from inside the dialog's own modal loop once the window exists, a
// second one ends a dialog the driver left open. Runs nest (a dialog that
// opens another); each timer knows its own run.
struct CRealModalRun {
  CDialogImplBase* dialog = nullptr;
  UINT templateId = 0;
  UINT_PTR driveTimer = 0;
  UINT_PTR watchdogTimer = 0;
  bool driven = false;
  bool timedOut = false;
};
std::vector<CRealModalRun*> g_realRuns;  // innermost last
constexpr UINT kDriveTickMs = 10;

CRealModalRun* RunOfTimer(UINT_PTR timer) {
  for (CRealModalRun* run : g_realRuns) {
    if (run->driveTimer == timer || run->watchdogTimer == timer) {
      return run;
    }
  }
  return nullptr;
}

void CALLBACK DriveTick(HWND, UINT, UINT_PTR timer, DWORD) {
  CRealModalRun* run = RunOfTimer(timer);
  if (run == nullptr || run->driven || run->dialog->m_hWnd == nullptr) {
    return;
  }
  ::KillTimer(nullptr, timer);
  run->driven = true;
  if (g_modalRecorder->drive) {
    const UINT outer = g_modalRecorder->drivenTemplateId;
    g_modalRecorder->drivenTemplateId = run->templateId;
    g_modalRecorder->drive(run->dialog->m_hWnd);
    g_modalRecorder->drivenTemplateId = outer;
  }
}

void CALLBACK WatchdogTick(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  CRealModalRun* run = RunOfTimer(timer);
  if (run != nullptr && run->dialog->m_hWnd != nullptr) {
    run->timedOut = true;
    ::EndDialog(run->dialog->m_hWnd, -1);
  }
}

INT_PTR RecordModal(CDialogImplBase& dialog, const CDialogSource& source, HWND parent, LPARAM initParam) {
  CModalRecorder& recorder = *g_modalRecorder;
  const UINT id = ktui::DialogTemplateId(source);
  INT_PTR result = recorder.answer;
  const bool real = recorder.runRealWhen ? recorder.runRealWhen(id) : recorder.runReal;
  if (!real) {
    if (recorder.answerWith) {
      result = recorder.answerWith(dialog, id);
    }
  } else {
    CRealModalRun run;
    run.dialog = &dialog;
    run.templateId = id;
    g_realRuns.push_back(&run);
    run.driveTimer = ::SetTimer(nullptr, 0, kDriveTickMs, &DriveTick);
    run.watchdogTimer = ::SetTimer(nullptr, 0, recorder.timeoutMs, &WatchdogTick);
    result = dialog.RunModalWindow(source, parent, initParam);
    ::KillTimer(nullptr, run.driveTimer);
    ::KillTimer(nullptr, run.watchdogTimer);
    g_realRuns.pop_back();
    EXPECT_FALSE(run.timedOut) << "dialog " << id << " was still open after " << recorder.timeoutMs << " ms";
  }
  recorder.dialogs.push_back({&dialog, id, parent, result});
  return result;
}

BOOL WINAPI RecordOpenFile(OPENFILENAMEW* request) {
  g_modalRecorder->commonDialogs.push_back(L"open");
  return g_modalRecorder->openFile ? g_modalRecorder->openFile(*request) : FALSE;
}

BOOL WINAPI RecordSaveFile(OPENFILENAMEW* request) {
  g_modalRecorder->commonDialogs.push_back(L"save");
  return g_modalRecorder->saveFile ? g_modalRecorder->saveFile(*request) : FALSE;
}

BOOL WINAPI RecordChooseFont(CHOOSEFONTW* request) {
  g_modalRecorder->commonDialogs.push_back(L"font");
  return g_modalRecorder->chooseFont ? g_modalRecorder->chooseFont(*request) : FALSE;
}

PIDLIST_ABSOLUTE WINAPI RecordBrowseFolder(BROWSEINFOW* request) {
  g_modalRecorder->commonDialogs.push_back(L"folder");
  return g_modalRecorder->browseFolder ? g_modalRecorder->browseFolder(*request) : nullptr;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += c < 0x80 ? char(c) : '?';
  }
  return out;
}

// Wine's own path of a Windows path, so a person can open the folder; the
// Windows path on Windows.
std::string HostPath(const std::wstring& path) {
  using UnixNameFn = char*(CDECL*)(const wchar_t*);
  auto unixName = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    return Narrow(path);
  }
  char* name = unixName(path.c_str());
  if (name == nullptr) {
    return Narrow(path);
  }
  std::string result = name;
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

ATOM RegisterHostClass() {
  static ATOM atom = 0;
  if (atom == 0) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kHostClassName;
    atom = ::RegisterClassExW(&wc);
  }
  return atom;
}

// Showing a top-level window costs seconds under Xvfb (Wine waits for the
// window manager), so one borderless one stays up for the whole run and each
// test's host is a child of it.
HWND g_sharedTop = nullptr;
constexpr int kSharedTopWidth = 1024;
constexpr int kSharedTopHeight = 768;

HWND SharedTopWindow() {
  if (g_sharedTop == nullptr && RegisterHostClass() != 0) {
    g_sharedTop = ::CreateWindowExW(0, kHostClassName, L"ui test host", WS_POPUP | WS_CLIPCHILDREN, 0,
                                    0, kSharedTopWidth, kSharedTopHeight, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (g_sharedTop != nullptr) {
      ::ShowWindow(g_sharedTop, SW_SHOWNOACTIVATE);
      ::UpdateWindow(g_sharedTop);
    }
  }
  return g_sharedTop;
}

class CUiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                                           ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                           ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    SetThemesAllowed(false);
    g_messageBox = &UnexpectedMessageBox;
    g_trackPopupMenu = &UnexpectedPopupMenu;
    InstallUnexpectedModals();
    std::printf("UI screenshots are written to %s\n", HostPath(ScreenshotFolder()).c_str());
  }
  // The shared top window is left to the end of the process: destroying a
  // shown top-level window costs seconds under Xvfb as well.
  void TearDown() override {
    g_messageBox = &::MessageBoxW;
    g_trackPopupMenu = &::TrackPopupMenu;
    g_runModal = &ktui::RunModalDialog;
    g_getOpenFileName = &::GetOpenFileNameW;
    g_getSaveFileName = &::GetSaveFileNameW;
    g_chooseFont = &::ChooseFontW;
    g_browseForFolder = &::SHBrowseForFolderW;
  }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CUiEnvironment);

}  // namespace

COLORREF CPixels::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) {
    return 0xFFFFFFFF;
  }
  const uint32_t v = bgra[size_t(y) * size_t(width) + size_t(x)];
  return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int CPixels::CountColor(COLORREF color, const RECT& rect) const {
  int count = 0;
  for (int y = rect.top < 0 ? 0 : rect.top; y < rect.bottom && y < height; ++y) {
    for (int x = rect.left < 0 ? 0 : rect.left; x < rect.right && x < width; ++x) {
      count += Pixel(x, y) == color ? 1 : 0;
    }
  }
  return count;
}

namespace {

// A 32-bit top-down DIB section selected into a memory DC, filled with the
// unpainted colour; Take copies its pixels out.
class CCaptureSurface {
 public:
  CCaptureSurface(int width, int height) : m_width(width), m_height(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_dc = ::CreateCompatibleDC(nullptr);
    if (m_dc == nullptr) {
      return;
    }
    m_dib = ::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
    if (m_dib == nullptr || m_bits == nullptr) {
      return;
    }
    m_previous = ::SelectObject(m_dc, m_dib);
    for (size_t i = 0; i < Count(); ++i) {
      m_bits[i] = kUnpaintedBgra;
    }
  }
  ~CCaptureSurface() {
    if (m_previous != nullptr) {
      ::SelectObject(m_dc, m_previous);
    }
    if (m_dib != nullptr) {
      ::DeleteObject(m_dib);
    }
    if (m_dc != nullptr) {
      ::DeleteDC(m_dc);
    }
  }
  CCaptureSurface(const CCaptureSurface&) = delete;
  CCaptureSurface& operator=(const CCaptureSurface&) = delete;

  bool IsValid() const { return m_previous != nullptr; }
  HDC dc() const { return m_dc; }
  CPixels Take() const {
    ::GdiFlush();
    CPixels pixels;
    pixels.width = m_width;
    pixels.height = m_height;
    pixels.bgra.assign(m_bits, m_bits + Count());
    return pixels;
  }

 private:
  size_t Count() const { return size_t(m_width) * size_t(m_height); }
  int m_width;
  int m_height;
  HDC m_dc = nullptr;
  HBITMAP m_dib = nullptr;
  uint32_t* m_bits = nullptr;
  HGDIOBJ m_previous = nullptr;
};

// The client area of a shown window as the screen has it, after `refresh`
// let it paint; empty when hidden or of no size.
template <class Refresh>
CPixels CopyShownClient(HWND hwnd, Refresh refresh) {
  RECT client = {};
  if (!::IsWindowVisible(hwnd) || !::GetClientRect(hwnd, &client) || client.right <= 0 || client.bottom <= 0) {
    return CPixels();
  }
  refresh();
  CCaptureSurface surface(client.right, client.bottom);
  HDC screen = ::GetDC(hwnd);
  if (!surface.IsValid() || screen == nullptr) {
    if (screen != nullptr) {
      ::ReleaseDC(hwnd, screen);
    }
    return CPixels();
  }
  ::BitBlt(surface.dc(), 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
  ::ReleaseDC(hwnd, screen);
  return surface.Take();
}

}  // namespace

CPixels CapturePixels(HWND hwnd) {
  RECT client = {};
  if (!::GetClientRect(hwnd, &client) || client.right <= 0 || client.bottom <= 0) {
    return CPixels();
  }
  CCaptureSurface surface(client.right, client.bottom);
  if (!surface.IsValid()) {
    return CPixels();
  }
  ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT | PRF_ERASEBKGND);
  return surface.Take();
}

CPixels CaptureScreenPixels(HWND hwnd) {
  return CopyShownClient(hwnd, [hwnd] {
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  });
}

CPixels CaptureShownPixels(HWND hwnd) {
  return CopyShownClient(hwnd, [hwnd] { ::UpdateWindow(hwnd); });
}

bool WriteBmp(const CPixels& pixels, const std::wstring& path) {
  if (pixels.IsEmpty()) {
    return false;
  }
  const size_t rowBytes = (size_t(pixels.width) * 3 + 3) & ~size_t(3);
  const size_t imageBytes = rowBytes * size_t(pixels.height);
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER header = {};
  file.bfType = kBmpMagic;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = DWORD(file.bfOffBits + imageBytes);
  header.biSize = sizeof(header);
  header.biWidth = pixels.width;
  header.biHeight = pixels.height;  // bottom row first, as every viewer expects
  header.biPlanes = 1;
  header.biBitCount = kBmpBitsPerPixel;
  header.biCompression = BI_RGB;
  header.biSizeImage = DWORD(imageBytes);
  std::vector<unsigned char> image(imageBytes, 0);
  for (int y = 0; y < pixels.height; ++y) {
    unsigned char* row = image.data() + size_t(pixels.height - 1 - y) * rowBytes;
    for (int x = 0; x < pixels.width; ++x) {
      const uint32_t v = pixels.bgra[size_t(y) * size_t(pixels.width) + size_t(x)];
      row[x * 3 + 0] = v & 0xFF;
      row[x * 3 + 1] = (v >> 8) & 0xFF;
      row[x * 3 + 2] = (v >> 16) & 0xFF;
    }
  }
  HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = ::WriteFile(out, &file, sizeof(file), &written, nullptr) && written == sizeof(file);
  ok = ok && ::WriteFile(out, &header, sizeof(header), &written, nullptr) && written == sizeof(header);
  ok = ok && ::WriteFile(out, image.data(), DWORD(imageBytes), &written, nullptr) && written == imageBytes;
  ::CloseHandle(out);
  return ok;
}

std::wstring ScreenshotFolder() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring folder(module, length < MAX_PATH ? length : 0);
  const size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? std::wstring(L".") : folder.substr(0, slash);
  folder += L"\\ui-screenshots";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring SaveScreenshot(HWND hwnd, const wchar_t* name) {
  const std::wstring path = ScreenshotFolder() + L"\\" + name + L".bmp";
  const CPixels pixels = ::IsWindowVisible(hwnd) ? CaptureScreenPixels(hwnd) : CapturePixels(hwnd);
  return WriteBmp(pixels, path) ? path : std::wstring();
}

namespace {

// The client area of `hwnd` rendered through WM_PRINTCLIENT into a bitmap of
// its own and copied to `target` at (x, y). Controls clip their painting in
// device coordinates, so each is rendered at the origin of a DC of its own.
void PrintClientAt(HWND hwnd, HDC target, int x, int y) {
  RECT client = {};
  ::GetClientRect(hwnd, &client);
  if (client.right <= 0 || client.bottom <= 0) {
    return;
  }
  HDC memory = ::CreateCompatibleDC(target);
  HBITMAP bitmap = ::CreateCompatibleBitmap(target, client.right, client.bottom);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::FillRect(memory, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  ::SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
  ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
  ::BitBlt(target, x, y, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
}

// A child's border (WS_BORDER, client edge) and then its client area, at
// its place relative to `root`; then its own children.
void PrintChildTree(HWND root, HWND hwnd, HDC dc) {
  RECT rootRect = {}, rect = {};
  ::GetWindowRect(root, &rootRect);
  ::GetWindowRect(hwnd, &rect);
  RECT frame = {rect.left - rootRect.left, rect.top - rootRect.top, rect.right - rootRect.left,
                rect.bottom - rootRect.top};
  const LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  if ((exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0) {
    ::DrawEdge(dc, &frame, (exStyle & WS_EX_CLIENTEDGE) != 0 ? EDGE_SUNKEN : BDR_SUNKENOUTER, BF_RECT);
  } else if ((::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_BORDER) != 0) {
    ::FrameRect(dc, &frame, ::GetSysColorBrush(COLOR_WINDOWFRAME));
  }
  POINT client = {0, 0};
  ::ClientToScreen(hwnd, &client);
  PrintClientAt(hwnd, dc, client.x - rootRect.left, client.y - rootRect.top);
  for (HWND child = ::GetWindow(::GetWindow(hwnd, GW_CHILD), GW_HWNDLAST); child != nullptr;
       child = ::GetWindow(child, GW_HWNDPREV)) {
    if ((::GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) != 0) {
      PrintChildTree(root, child, dc);
    }
  }
}

// The whole window: a raised frame and, for windows with a caption, an
// active caption bar drawn by the system (the window manager that would
// draw them is not there under Xvfb), then the client area and children.
void PrintTree(HWND hwnd, HDC dc) {
  RECT rect = {};
  ::GetWindowRect(hwnd, &rect);
  POINT client = {0, 0};
  ::ClientToScreen(hwnd, &client);
  RECT whole = {0, 0, rect.right - rect.left, rect.bottom - rect.top};
  ::FillRect(dc, &whole, ::GetSysColorBrush(COLOR_BTNFACE));
  const int left = client.x - rect.left;
  const int top = client.y - rect.top;
  if (left > 0) {
    ::DrawEdge(dc, &whole, EDGE_RAISED, BF_RECT);
  }
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
  const int captionHeight = ::GetSystemMetrics(SM_CYCAPTION);
  if ((style & WS_CAPTION) == WS_CAPTION && top >= left + captionHeight - 1) {
    RECT caption = {left, top - captionHeight, whole.right - left, top - 1};
    ::DrawCaption(hwnd, dc, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
  }
  PrintClientAt(hwnd, dc, left, top);
  for (HWND child = ::GetWindow(::GetWindow(hwnd, GW_CHILD), GW_HWNDLAST); child != nullptr;
       child = ::GetWindow(child, GW_HWNDPREV)) {
    if ((::GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) != 0) {
      PrintChildTree(hwnd, child, dc);
    }
  }
}

// The folder of KT_DIALOG_SHOTS as a Windows path; empty when unset.
std::wstring ShotFolder() {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"KT_DIALOG_SHOTS", value, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return std::wstring();
  }
  if (value[0] != L'/') {
    return value;
  }
  using DosNameFn = wchar_t*(CDECL*)(const char*);
  auto dosName = reinterpret_cast<DosNameFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (dosName == nullptr) {
    return value;
  }
  std::string unixPath;
  for (const wchar_t* c = value; *c != 0; ++c) {
    unixPath += char(*c);
  }
  wchar_t* dos = dosName(unixPath.c_str());
  if (dos == nullptr) {
    return std::wstring();
  }
  std::wstring result = dos;
  ::HeapFree(::GetProcessHeap(), 0, dos);
  return result;
}

}  // namespace

CPixels CaptureWindowPixels(HWND hwnd) {
  RECT rect = {};
  if (!::GetWindowRect(hwnd, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
    return CPixels();
  }
  CCaptureSurface surface(rect.right - rect.left, rect.bottom - rect.top);
  if (!surface.IsValid()) {
    return CPixels();
  }
  PrintTree(hwnd, surface.dc());
  return surface.Take();
}

std::wstring SaveWindowShot(HWND hwnd, const wchar_t* name) {
  const std::wstring folder = ShotFolder();
  if (folder.empty()) {
    return std::wstring();
  }
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring path = folder + L"\\" + name + L".bmp";
  return WriteBmp(CaptureWindowPixels(hwnd), path) ? path : std::wstring();
}

void PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ADD_FAILURE() << "WM_QUIT left in the queue, exit code " << msg.wParam;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

CTestHostWindow::CTestHostWindow(int clientWidth, int clientHeight) {
  HWND top = SharedTopWindow();
  if (top == nullptr) {
    return;
  }
  m_hwnd = ::CreateWindowExW(0, kHostClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, clientWidth,
                             clientHeight, top, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  PumpMessages();
}

CTestHostWindow::~CTestHostWindow() {
  if (m_hwnd != nullptr) {
    ::DestroyWindow(m_hwnd);
  }
  PumpMessages();
}

CDialogTemplateBuilder::CDialogTemplateBuilder(DWORD style, short cx, short cy, const wchar_t* caption) {
  style |= DS_SETFONT;
  m_words = {LOWORD(style), HIWORD(style), 0, 0};  // style, extended style
  m_countIndex = m_words.size();
  m_words.push_back(0);  // item count
  m_words.insert(m_words.end(), {0, 0, WORD(cx), WORD(cy)});
  m_words.push_back(0);  // no menu
  m_words.push_back(0);  // the dialog manager's own class
  AppendString(caption);
  m_words.push_back(8);  // point size
  AppendString(L"MS Shell Dlg");
}

void CDialogTemplateBuilder::AlignToDword() {
  if (m_words.size() % 2 != 0) {
    m_words.push_back(0);
  }
}

void CDialogTemplateBuilder::AppendString(const wchar_t* text) {
  for (const wchar_t* c = text; *c != 0; ++c) {
    m_words.push_back(WORD(*c));
  }
  m_words.push_back(0);
}

void CDialogTemplateBuilder::AddHeader(DWORD style, DWORD exStyle, short x, short y, short cx, short cy, WORD id) {
  m_words.push_back(LOWORD(style));
  m_words.push_back(HIWORD(style));
  m_words.push_back(LOWORD(exStyle));
  m_words.push_back(HIWORD(exStyle));
  m_words.push_back(WORD(x));
  m_words.push_back(WORD(y));
  m_words.push_back(WORD(cx));
  m_words.push_back(WORD(cy));
  m_words.push_back(id);
}

CDialogTemplateBuilder& CDialogTemplateBuilder::Add(WORD classAtom, DWORD style, short x, short y, short cx,
                                                    short cy, WORD id, const wchar_t* text) {
  AlignToDword();
  AddHeader(style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id);
  m_words.push_back(0xFFFF);
  m_words.push_back(classAtom);
  AppendString(text);
  m_words.push_back(0);  // no creation data
  ++m_words[m_countIndex];
  return *this;
}

CDialogTemplateBuilder& CDialogTemplateBuilder::Add(const wchar_t* className, DWORD style, short x, short y,
                                                    short cx, short cy, WORD id, const wchar_t* text) {
  AlignToDword();
  AddHeader(style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id);
  AppendString(className);
  AppendString(text);
  m_words.push_back(0);
  ++m_words[m_countIndex];
  return *this;
}

CPopupRecorder::CPopupRecorder() {
  g_recorder = this;
  g_messageBox = &RecordMessageBox;
  g_trackPopupMenu = &RecordPopupMenu;
}

CPopupRecorder::~CPopupRecorder() {
  g_messageBox = &UnexpectedMessageBox;
  g_trackPopupMenu = &UnexpectedPopupMenu;
  g_recorder = nullptr;
}

CModalRecorder::CModalRecorder() {
  g_modalRecorder = this;
  g_runModal = &RecordModal;
  g_getOpenFileName = &RecordOpenFile;
  g_getSaveFileName = &RecordSaveFile;
  g_chooseFont = &RecordChooseFont;
  g_browseForFolder = &RecordBrowseFolder;
}

CModalRecorder::~CModalRecorder() {
  InstallUnexpectedModals();
  g_modalRecorder = nullptr;
}

void ClickButton(HWND dialog, int id) {
  HWND button = ::GetDlgItem(dialog, id);
  EXPECT_NE(nullptr, button) << "no button " << id;
  if (button != nullptr) {
    ::SendMessageW(button, BM_CLICK, 0, 0);
  }
}

}  // namespace kt_test
