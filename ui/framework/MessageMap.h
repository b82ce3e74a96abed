// Message maps: a class lists its handlers between BEGIN_MSG_MAP and
// END_MSG_MAP; the generated ProcessWindowMessage tests the entries in order
// and calls the first one that matches.
//
// Handler forms:
//   MESSAGE_HANDLER           LRESULT OnX(UINT msg, WPARAM wParam, LPARAM lParam)
//   COMMAND_*_HANDLER         LRESULT OnX(WORD code, WORD id, HWND control)
//   NOTIFY_*_HANDLER          LRESULT OnX(int controlId, NMHDR* header)
//
// Every map has its own handled flag. It is set before each handler runs; a
// handler that calls SetMsgHandled(FALSE) lets the message go on to the later
// entries and, when none takes it, to default processing. The flag is saved
// and restored around each dispatch, so a message sent from inside a handler
// does not change the outer handler's flag.
//
// No exception leaves ProcessWindowMessage: one that a handler throws is
// reported to the debugger and the message counts as handled with result 0.
#pragma once

#include <windows.h>

// Messages reflected back to the control that sent them to its parent.
constexpr UINT OCM_BASE = WM_USER + 0x1c00;
constexpr UINT OCM_DRAWITEM = OCM_BASE + WM_DRAWITEM;
constexpr UINT OCM_MEASUREITEM = OCM_BASE + WM_MEASUREITEM;
constexpr UINT OCM_NOTIFY = OCM_BASE + WM_NOTIFY;

// What a window or dialog object offers to its window procedure.
class CMessageMap {
 public:
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD dwMsgMapID = 0) = 0;

 protected:
  ~CMessageMap() = default;
};

namespace ktui {
// Writes "Orvan, <class>::ProcessWindowMessage, ..." for an exception that a
// handler let out.
void ReportHandlerException(const char* className, UINT msg);

// Sends WM_DRAWITEM and WM_MEASUREITEM of a control back to the control as
// OCM_DRAWITEM / OCM_MEASUREITEM, and NM_CUSTOMDRAW notifications of a
// direct child as OCM_NOTIFY (a control that does not draw itself answers
// 0, CDRF_DODEFAULT). Returns false (nothing sent) for menus, for other
// notifications and for messages whose control cannot be found.
bool ReflectNotification(HWND parent, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
}  // namespace ktui

#define BEGIN_MSG_MAP(theClass)                                                                             \
 public:                                                                                                    \
  BOOL m_bMsgHandled = TRUE;                                                                                \
  BOOL IsMsgHandled() const { return m_bMsgHandled; }                                                       \
  void SetMsgHandled(BOOL handled) { m_bMsgHandled = handled; }                                             \
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,           \
                            DWORD dwMsgMapID = 0) {                                                         \
    const BOOL outerHandled = m_bMsgHandled;                                                                \
    BOOL taken = FALSE;                                                                                     \
    try {                                                                                                   \
      taken = ProcessMessageMapEntries(hWnd, uMsg, wParam, lParam, lResult, dwMsgMapID);                    \
    } catch (...) {                                                                                         \
      ::ktui::ReportHandlerException(#theClass, uMsg);                                                      \
      lResult = 0;                                                                                          \
      taken = TRUE;                                                                                         \
    }                                                                                                       \
    m_bMsgHandled = outerHandled;                                                                           \
    return taken;                                                                                           \
  }                                                                                                         \
  BOOL ProcessMessageMapEntries(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,       \
                                DWORD dwMsgMapID) {                                                         \
    (void)hWnd;                                                                                             \
    (void)wParam;                                                                                           \
    (void)lParam;                                                                                           \
    (void)dwMsgMapID;

#define KT_MAP_CALL_(call)        \
  {                               \
    SetMsgHandled(TRUE);          \
    lResult = call;               \
    if (IsMsgHandled()) {         \
      return TRUE;                \
    }                             \
  }

#define MESSAGE_HANDLER(msg, func) \
  if (uMsg == UINT(msg)) KT_MAP_CALL_(func(uMsg, wParam, lParam))

#define MESSAGE_RANGE_HANDLER(msgFirst, msgLast, func) \
  if (uMsg >= UINT(msgFirst) && uMsg <= UINT(msgLast)) KT_MAP_CALL_(func(uMsg, wParam, lParam))

#define KT_COMMAND_CALL_(func) KT_MAP_CALL_(func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam)))

#define COMMAND_HANDLER(id, code, func)                                                     \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == WORD(id) && HIWORD(wParam) == WORD(code)) \
  KT_COMMAND_CALL_(func)

#define COMMAND_ID_HANDLER(id, func) \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == WORD(id)) KT_COMMAND_CALL_(func)

#define COMMAND_CODE_HANDLER(code, func) \
  if (uMsg == WM_COMMAND && HIWORD(wParam) == WORD(code)) KT_COMMAND_CALL_(func)

#define COMMAND_RANGE_HANDLER(idFirst, idLast, func)                                        \
  if (uMsg == WM_COMMAND && LOWORD(wParam) >= WORD(idFirst) && LOWORD(wParam) <= WORD(idLast)) \
  KT_COMMAND_CALL_(func)

#define KT_NOTIFY_HEADER_ reinterpret_cast<NMHDR*>(lParam)
#define KT_NOTIFY_CALL_(func) KT_MAP_CALL_(func(int(wParam), KT_NOTIFY_HEADER_))

#define NOTIFY_HANDLER(id, cd, func)                                                             \
  if (uMsg == WM_NOTIFY && lParam != 0 && KT_NOTIFY_HEADER_->idFrom == UINT_PTR(id) &&        \
      KT_NOTIFY_HEADER_->code == UINT(cd))                                                     \
  KT_NOTIFY_CALL_(func)

#define NOTIFY_ID_HANDLER(id, func) \
  if (uMsg == WM_NOTIFY && lParam != 0 && KT_NOTIFY_HEADER_->idFrom == UINT_PTR(id)) KT_NOTIFY_CALL_(func)

#define NOTIFY_CODE_HANDLER(cd, func) \
  if (uMsg == WM_NOTIFY && lParam != 0 && KT_NOTIFY_HEADER_->code == UINT(cd)) KT_NOTIFY_CALL_(func)

#define NOTIFY_RANGE_HANDLER(idFirst, idLast, func)                                                \
  if (uMsg == WM_NOTIFY && lParam != 0 && KT_NOTIFY_HEADER_->idFrom >= UINT_PTR(idFirst) &&       \
      KT_NOTIFY_HEADER_->idFrom <= UINT_PTR(idLast))                                               \
  KT_NOTIFY_CALL_(func)

// Runs the map of a base class (or mix-in) of this class.
#define CHAIN_MSG_MAP(theBase)                                                  \
  if (theBase::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0)) { \
    return TRUE;                                                                \
  }

// Runs the map of a member object.
#define CHAIN_MSG_MAP_MEMBER(member)                                           \
  if ((member).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0)) { \
    return TRUE;                                                               \
  }

// Hands WM_DRAWITEM, WM_MEASUREITEM and NM_CUSTOMDRAW to the control they are about.
#define REFLECT_NOTIFICATIONS()                                                       \
  if (::ktui::ReflectNotification(hWnd, uMsg, wParam, lParam, &lResult)) { \
    return TRUE;                                                                      \
  }

#define END_MSG_MAP() \
  return FALSE;       \
  }
