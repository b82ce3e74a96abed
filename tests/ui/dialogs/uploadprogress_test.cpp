// The upload dialog's model: every step notification and failure form, and
// what a close asks for in each state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "ui/dialogs/UploadProgress.h"

namespace {

struct Step {
  uint16_t step;
  uint16_t error;
  uint32_t value;
};

CUploadProgress Played(const std::vector<Step>& steps) {
  CUploadProgress model;
  for (const Step& s : steps) model.OnStep(s.step, s.error, s.value);
  return model;
}

std::wstring Text(const CUploadProgress& model, size_t line) { return model.Text(line).c_str(); }

TEST(UploadProgress, StartsEmptyWithTheThreeStepTexts) {
  const CUploadProgress model;
  EXPECT_EQ(kUploadCreated, model.State());
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(kUploadMarkEmpty, model.Mark(i));
    EXPECT_EQ(kUploadTextColour, model.Colour(i));
  }
  EXPECT_EQ(L"Preparing send to talmo", Text(model, 0));
  EXPECT_EQ(L"Connecting to server", Text(model, 1));
  EXPECT_EQ(L"Sending to talmo", Text(model, 2));
  EXPECT_EQ(L"", Text(model, 3));
  EXPECT_FALSE(model.CancelShown());
  EXPECT_FALSE(model.CloseShown());
  EXPECT_STREQ(L"Send to talmo", model.Caption().c_str());
}

TEST(UploadProgress, ThreePiecesTickEveryStep) {
  CUploadProgress model;
  model.OnStep(1, 0, 0);
  EXPECT_EQ(kUploadRunning, model.State());
  EXPECT_TRUE(model.CancelShown());
  model.OnStep(2, 0, 0);
  const wchar_t* sending[] = {L"Sending to talmo...33%", L"Sending to talmo...66%", L"Sending to talmo...100%"};
  const uint32_t percents[] = {33, 66, 100};
  for (int i = 0; i < 3; ++i) {
    model.OnStep(3, 0, percents[i]);
    EXPECT_EQ(sending[i], Text(model, 2));
    EXPECT_EQ(i == 2 ? kUploadMarkTick : kUploadMarkEmpty, model.Mark(2));
  }
  model.OnStep(4, 0, 0);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(kUploadMarkTick, model.Mark(i));
  EXPECT_EQ(kUploadCompleted, model.State());
  EXPECT_EQ(L"Send to talmo completed", Text(model, 3));
  EXPECT_STREQ(L"Send to talmo completed", model.Caption().c_str());
  EXPECT_TRUE(model.CancelShown());
  EXPECT_STREQ(L"OK", model.CancelText().c_str());
  EXPECT_FALSE(model.CloseShown());
}

TEST(UploadProgress, FailureForms) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    size_t redLine;
    std::vector<std::wstring> texts;
    const wchar_t* caption;
  };
  const Case cases[] = {
      {"log too big", {{1, IDS_SEND_ERR_INVALID_LOG, 0}}, 0,
       {L"Preparing send to talmo...Failed (Log file is invalid or too big)", L"Send to talmo failed", L"", L""},
       L"Send to talmo failed"},
      {"cancelled while preparing", {{1, IDS_SEND_ERR_CANCELLED, 0}}, 0,
       {L"Preparing send to talmo...Failed (User cancelled)", L"Send to talmo cancelled", L"", L""},
       L"Send to talmo cancelled"},
      {"server busy, no code", {{1, 0, 0}, {2, IDS_SEND_ERR_SERVER_BUSY, 0}}, 1,
       {L"Preparing send to talmo", L"Connecting to server...Failed (Logserver is offline or busy)",
        L"Send to talmo failed", L""},
       L"Send to talmo failed"},
      {"internet error with its code", {{1, 0, 0}, {2, IDS_SEND_ERR_INTERNET, 12029}}, 1,
       {L"Preparing send to talmo", L"Connecting to server...Failed (General Internet error : 12029)",
        L"Send to talmo failed", L""},
       L"Send to talmo failed"},
      {"HTTP status on a piece", {{1, 0, 0}, {2, 0, 0}, {3, 0, 50}, {3, IDS_SEND_ERR_HTTP, 500}}, 2,
       {L"Preparing send to talmo", L"Connecting to server", L"Sending to talmo...Failed (Http/https error : 500)",
        L"Send to talmo failed"},
       L"Send to talmo failed"},
      {"cancelled while sending", {{1, 0, 0}, {2, 0, 0}, {3, IDS_SEND_ERR_CANCELLED, 0}}, 2,
       {L"Preparing send to talmo", L"Connecting to server", L"Sending to talmo...Failed (User cancelled)",
        L"Send to talmo cancelled"},
       L"Send to talmo cancelled"},
      {"unknown step with an error", {{1, 0, 0}, {9, IDS_SEND_ERR_TIMEOUT, 0}}, 99,
       {L"Preparing send to talmo", L"Connecting to server", L"Sending to talmo", L""}, L"Send to talmo failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CUploadProgress model = Played(c.steps);
    EXPECT_EQ(kUploadFailed, model.State());
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(c.texts[i], Text(model, i)) << i;
      EXPECT_EQ(i == c.redLine ? kUploadFailedColour : kUploadTextColour, model.Colour(i)) << i;
    }
    EXPECT_STREQ(c.caption, model.Caption().c_str());
    EXPECT_FALSE(model.CancelShown());
    EXPECT_TRUE(model.CloseShown());
  }
}

TEST(UploadProgress, UnknownStepsWithoutErrorChangeNothing) {
  const CUploadProgress model = Played({{1, 0, 0}, {5, 0, 0}, {0, 0, 7}});
  EXPECT_EQ(kUploadRunning, model.State());
  EXPECT_EQ(kUploadMarkTick, model.Mark(0));
  EXPECT_EQ(kUploadMarkEmpty, model.Mark(1));
}

TEST(UploadProgress, WhatACloseDoesInEachState) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    int button;
    bool hasJob;
    UploadCloseAction action;
  };
  const Case cases[] = {
      {"before the first step", {}, IDCANCEL, true, UploadCloseAction::kNone},
      {"running, Cancel", {{1, 0, 0}}, IDCANCEL, true, UploadCloseAction::kCancelJob},
      {"running, job already forgotten", {{1, 0, 0}}, IDCANCEL, false, UploadCloseAction::kNone},
      {"running, button 1", {{1, 0, 0}}, IDOK, true, UploadCloseAction::kNone},
      {"completed, OK", {{1, 0, 0}, {4, 0, 0}}, IDCANCEL, false, UploadCloseAction::kDestroy},
      {"failed, Close", {{2, IDS_SEND_ERR_TIMEOUT, 0}}, IDOK, false, UploadCloseAction::kDestroy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CUploadProgress model = Played(c.steps);
    EXPECT_EQ(c.action, model.OnClose(c.button, c.hasJob));
  }
  CUploadProgress cancelled = Played({{1, 0, 0}, {2, 0, 0}});
  ASSERT_EQ(UploadCloseAction::kCancelJob, cancelled.OnClose(IDCANCEL, true));
  EXPECT_STREQ(L"User canceled, please wait...", cancelled.Caption().c_str());
  EXPECT_FALSE(cancelled.CancelShown());
  EXPECT_EQ(kUploadRunning, cancelled.State());
  cancelled.OnStep(3, IDS_SEND_ERR_CANCELLED, 0);
  EXPECT_STREQ(L"Send to talmo cancelled", cancelled.Caption().c_str());
  EXPECT_EQ(UploadCloseAction::kDestroy, cancelled.OnClose(IDOK, false));
}

}  // namespace
