// What the upload dialog shows, as a model of its own: the step lines, their
// ticks and colours, the buttons and the caption, moved by the upload job's
// step notifications and by the user's close. The dialog only paints it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/RefString.h"

// Dialog states.
constexpr int kUploadCreated = -1;   // waiting for the first step
constexpr int kUploadRunning = 0;
constexpr int kUploadCompleted = 1;
constexpr int kUploadFailed = 13;  // failed or cancelled

// Label states of the step indicators (CStaticEx).
constexpr UINT kUploadMarkText = 0;
constexpr UINT kUploadMarkEmpty = 1;
constexpr UINT kUploadMarkTick = 2;

constexpr COLORREF kUploadTextColour = RGB(0, 0, 0);
constexpr COLORREF kUploadFailedColour = RGB(255, 0, 0);

// What a press of button 1 or 2 (or the close box) asks of the dialog.
enum class UploadCloseAction {
  kNone,
  kCancelJob,  // cancel the job and wait for its failure notice
  kDestroy,
};

class CUploadProgress {
 public:
  static constexpr size_t kLines = 4;  // three steps and the final line
  static constexpr size_t kTextChars = 256;

  // The start form: empty indicators, the three step texts, no buttons.
  CUploadProgress();

  // One step notification: wParam's low word the step, high word an error
  // string id (0 for none), lParam a percent or an error code.
  void OnStep(uint16_t step, uint16_t errorId, uint32_t value);
  // Button 1 or 2; hasJob tells whether the dialog still has a job to cancel.
  UploadCloseAction OnClose(int button, bool hasJob);

  int State() const { return m_state; }
  UINT Mark(size_t line) const { return m_marks[line]; }
  const CString& Text(size_t line) const { return m_texts[line]; }
  COLORREF Colour(size_t line) const { return m_colours[line]; }
  bool CancelShown() const { return m_cancelShown; }  // button 2
  const CString& CancelText() const { return m_cancelText; }  // empty: the template's
  bool CloseShown() const { return m_closeShown; }  // button 1
  const CString& Caption() const { return m_caption; }

 private:
  void OnSuccess(uint16_t step, uint32_t value);
  void OnFailure(uint16_t step, uint16_t errorId, uint32_t value);
  // "%s...Failed (%s)" or, with a code, "%s...Failed (%s : %u)".
  CString FailureText(UINT stepId, uint16_t errorId, uint32_t code) const;

  int m_state = kUploadCreated;
  UINT m_marks[kLines];
  CString m_texts[kLines];
  COLORREF m_colours[kLines];
  bool m_cancelShown = false;
  CString m_cancelText;
  bool m_closeShown = false;
  CString m_caption;
};

// The string-table text of `id` (empty when there is none).
CString LoadResourceText(UINT id);
