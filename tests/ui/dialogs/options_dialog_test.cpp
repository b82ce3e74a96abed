// The options dialog and the module selection opened for real; the font
// chooser and the folder browser are answered through the common-dialog
// seams.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "resource.h"
#include "tests/ui/ControlText.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SelModDlg.h"

namespace {

using kt_test::Text;

bool Checked(HWND hwnd, int id) { return ::IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }
bool Enabled(HWND hwnd, int id) { return ::IsWindowEnabled(::GetDlgItem(hwnd, id)) != FALSE; }
bool IsModuleSelection(HWND hwnd) { return ::GetDlgItem(hwnd, IDC_SELMOD_LIST) != nullptr; }

using kt_test::Cell;
using kt_test::RowChecked;
using kt_test::Rows;
using kt_test::SetRowChecked;

constexpr wchar_t kProgram[] = L"C:\\kt\\bin\\keltracer.exe";

class OptionsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string table = "[NET]\nM=net.dll;sock.dll\n[MEDIA]\nM=media.dll\n[CORE]\nM=core.dll\n";
    ASSERT_EQ(1, groups.LoadFromText(table.data(), table.size()));
    ktdlg::StoreOptionValues(ktdlg::DefaultOptionValues(), groups, kProgram, config);
    dialog.m_config = &config;
    dialog.m_groups = &groups;
    dialog.m_programPath = kProgram;
  }

  // `drive` gets the options dialog, `select` the module selection.
  INT_PTR Run(std::function<void(HWND)> drive, std::function<void(HWND)> select = nullptr) {
    recorder.runReal = true;
    recorder.drive = [&, drive, select](HWND hwnd) {
      if (IsModuleSelection(hwnd)) {
        if (select) {
          select(hwnd);
        } else {
          kt_test::ClickButton(hwnd, IDCANCEL);
        }
      } else {
        drive(hwnd);
      }
    };
    const INT_PTR result = dialog.DoModal(host.get());
    EXPECT_FALSE(recorder.dialogs.empty());
    if (!recorder.dialogs.empty()) {
      EXPECT_EQ(UINT(IDD_OPTIONS), recorder.dialogs.back().templateId);
    }
    return result;
  }

  uint32_t Flag(const wchar_t* name) const { return groups.GroupAt(size_t(groups.FindByName(name)))->Flag(); }

  kt_test::CTestHostWindow host{800, 700};
  kt_test::CModalRecorder recorder;
  CModuleGroups groups;
  CAppConfig config{&groups};
  COptionsDlg dialog;
};

TEST_F(OptionsDialog, OpensWithTheSettingsAndCancelStoresNothing) {
  config.m_tabDBClose = 0;
  config.m_qrvEnable = 1;
  config.m_fontName = L"Courier New";
  config.m_fontPoint = 90;
  config.m_maxMem = 300;
  config.m_ignoreMask = Flag(L"NET") | Flag(L"CORE");
  config.m_logEnable = 1;
  config.m_logLimit = 1;
  config.m_logSize = 30;
  config.m_logFolder = L"D:\\logs";
  std::wstring ignore, memory, range, font, folder, size;
  bool dbClose = true, qrv = false, limitRadio = false, sizeEnabled = false, folderEnabled = false;
  int lo = 0, hi = 0, sizeLo = 0, sizeHi = 0;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::SaveWindowShot(hwnd, L"options");
    dbClose = Checked(hwnd, IDC_OPT_TAB_DBCLOSE);
    qrv = Checked(hwnd, IDC_OPT_QRV);
    ignore = Text(hwnd, IDC_OPT_IGNORE);
    memory = Text(hwnd, IDC_OPT_MAX_MEM);
    range = Text(hwnd, IDC_OPT_TRACE_RANGE);
    font = Text(hwnd, IDC_OPT_FONT_NAME);
    folder = Text(hwnd, IDC_OPT_BACKUP_FOLDER);
    size = Text(hwnd, IDC_OPT_BACKUP_SIZE);
    limitRadio = Checked(hwnd, IDC_OPT_BACKUP_LIMIT) && !Checked(hwnd, IDC_OPT_BACKUP_UNLIMITED);
    sizeEnabled = Enabled(hwnd, IDC_OPT_BACKUP_SIZE) && Enabled(hwnd, IDC_OPT_BACKUP_SIZE_SPIN);
    folderEnabled = Enabled(hwnd, IDC_OPT_BACKUP_FOLDER) && Enabled(hwnd, IDC_OPT_BACKUP_BROWSE);
    ::SendDlgItemMessageW(hwnd, IDC_OPT_MAX_MEM_SPIN, UDM_GETRANGE32, WPARAM(&lo), LPARAM(&hi));
    ::SendDlgItemMessageW(hwnd, IDC_OPT_BACKUP_SIZE_SPIN, UDM_GETRANGE32, WPARAM(&sizeLo), LPARAM(&sizeHi));
    // Everything changed, then Cancel.
    kt_test::ClickButton(hwnd, IDC_OPT_TAB_DBCLOSE);
    kt_test::ClickButton(hwnd, IDC_OPT_AUTO_SCROLL);
    ::SetDlgItemTextW(hwnd, IDC_OPT_MAX_MEM, L"512");
    ::SetDlgItemTextW(hwnd, IDC_OPT_IGNORE, L"");
    kt_test::ClickButton(hwnd, IDC_OPT_RESTORE_DEFAULT);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_FALSE(dbClose);
  EXPECT_TRUE(qrv);
  EXPECT_EQ(L"NET;CORE;", ignore);
  EXPECT_EQ(L"300", memory);
  EXPECT_EQ(L"(1040000~1560000 trace)", range);
  EXPECT_EQ(L"Courier New 9pt", font);
  EXPECT_EQ(L"D:\\logs", folder);
  EXPECT_EQ(L"30", size);
  EXPECT_TRUE(limitRadio);
  EXPECT_TRUE(sizeEnabled);
  EXPECT_TRUE(folderEnabled);
  EXPECT_EQ(256, lo);
  EXPECT_EQ(512, hi);
  EXPECT_EQ(2, sizeLo);
  EXPECT_EQ(2048, sizeHi);
  // Nothing was stored.
  EXPECT_EQ(0u, config.m_tabDBClose);
  EXPECT_EQ(1u, config.m_autoScroll);
  EXPECT_EQ(300u, config.m_maxMem);
  EXPECT_EQ(Flag(L"NET") | Flag(L"CORE"), config.m_ignoreMask);
  EXPECT_STREQ(L"Courier New", config.m_fontName.c_str());
  EXPECT_EQ(30u, config.m_logSize);
}

TEST_F(OptionsDialog, TypedNumbersAreHeldBeforeTheyAreRounded) {
  struct Case {
    const wchar_t* memory;
    const wchar_t* range;
    uint32_t storedMemory;
    const wchar_t* size;
    uint32_t storedSize;
  } cases[] = {
      {L"600", L"(2090000~3135000 trace)", 512, L"1", 2},
      {L"257", L"(890000~1335000 trace)", 260, L"3", 4},
      {L"100", L"(340000~510000 trace)", 256, L"2049", 2048},
      {L"4294967295", L"(15011998750000~22517998125000 trace)", 512, L"4294967295", 2048},
      {L"512", L"(1780000~2670000 trace)", 512, L"0", 2},
  };
  for (const Case& c : cases) {
    config.m_logEnable = 1;
    config.m_logLimit = 1;
    std::wstring range;
    const INT_PTR result = Run([&](HWND hwnd) {
      ::SetDlgItemTextW(hwnd, IDC_OPT_MAX_MEM, c.memory);
      range = Text(hwnd, IDC_OPT_TRACE_RANGE);
      ::SetDlgItemTextW(hwnd, IDC_OPT_BACKUP_SIZE, c.size);
      kt_test::ClickButton(hwnd, IDOK);
    });
    EXPECT_EQ(IDOK, result) << std::wstring(c.memory);
    EXPECT_EQ(std::wstring(c.range), range);
    EXPECT_EQ(c.storedMemory, config.m_maxMem) << std::wstring(c.memory);
    EXPECT_EQ(c.storedSize, config.m_logSize) << std::wstring(c.size);
  }
}

// A number edit that holds no number reads as 0, which the clamps then hold
// within range: OK ends the dialog, even when the edit was disabled after
// it was cleared (unlimited size, or backup off) and cannot be reached.
TEST_F(OptionsDialog, TextThatIsNoNumberReadsAsZeroAndOkStillEnds) {
  struct Case {
    const char* name;
    const wchar_t* memory;
    const wchar_t* size;
    int click;  // after the texts; 0 for none
    uint32_t storedMemory, storedSize, limit, backup;
  } cases[] = {
      {"size cleared, then unlimited", L"300", L"", IDC_OPT_BACKUP_UNLIMITED, 300, 2, 0, 1},
      {"size cleared, then backup off", L"300", L"", IDC_OPT_BACKUP, 300, 2, 1, 0},
      {"memory cleared", L"", L"30", 0, 256, 30, 1, 1},
      {"memory no number", L"many", L"30", 0, 256, 30, 1, 1},
      {"size pasted text", L"300", L"big", 0, 300, 2, 1, 1},
      {"numbers past 64 bits", L"99999999999999999999999", L"99999999999999999999999", 0, 512, 2048, 1, 1},
  };
  recorder.timeoutMs = 5000;  // a refused OK leaves the dialog open until then
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    config.m_maxMem = 400;
    config.m_logEnable = 1;
    config.m_logLimit = 1;
    config.m_logSize = 40;
    const INT_PTR result = Run([&](HWND hwnd) {
      ::SetDlgItemTextW(hwnd, IDC_OPT_MAX_MEM, c.memory);
      ::SetDlgItemTextW(hwnd, IDC_OPT_BACKUP_SIZE, c.size);
      if (c.click != 0) kt_test::ClickButton(hwnd, c.click);
      kt_test::ClickButton(hwnd, IDOK);
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(c.storedMemory, config.m_maxMem);
    EXPECT_EQ(c.storedSize, config.m_logSize);
    EXPECT_EQ(c.limit, config.m_logLimit);
    EXPECT_EQ(c.backup, config.m_logEnable);
  }
}

TEST_F(OptionsDialog, ChangeFlagsNameWhatChanged) {
  INT_PTR result = Run([&](HWND hwnd) { kt_test::ClickButton(hwnd, IDOK); });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(0u, dialog.m_changes.font);
  EXPECT_EQ(0u, dialog.m_changes.autoScroll);
  EXPECT_EQ(0u, dialog.m_changes.alwaysOnTop);
  EXPECT_EQ(0u, dialog.m_changes.showMenu);

  result = Run([&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_OPT_AUTO_SCROLL);
    kt_test::ClickButton(hwnd, IDC_OPT_ALWAYS_ON_TOP);
    kt_test::ClickButton(hwnd, IDC_OPT_SHOW_MENU);
    kt_test::ClickButton(hwnd, IDC_OPT_GRID_LINES);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(0u, dialog.m_changes.font);
  EXPECT_EQ(1u, dialog.m_changes.autoScroll);
  EXPECT_EQ(1u, dialog.m_changes.alwaysOnTop);
  EXPECT_EQ(1u, dialog.m_changes.showMenu);
  EXPECT_EQ(0u, config.m_autoScroll);
  EXPECT_EQ(1u, config.m_alwaysOnTop);
  EXPECT_EQ(1u, config.m_showMenu);
  EXPECT_EQ(0u, config.m_gridLines);
}

TEST_F(OptionsDialog, RestoreDefaultShowsTheDefaultsAndOkStoresThem) {
  config.m_autoScroll = 0;
  config.m_maxMem = 400;
  config.m_fontName = L"Arial";
  config.m_ignoreMask = Flag(L"MEDIA");
  config.m_logEnable = 1;
  config.m_logFolder = L"D:\\logs";
  std::wstring memory, font, ignore;
  bool autoScroll = false, folderEnabled = true;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_OPT_RESTORE_DEFAULT);
    memory = Text(hwnd, IDC_OPT_MAX_MEM);
    font = Text(hwnd, IDC_OPT_FONT_NAME);
    ignore = Text(hwnd, IDC_OPT_IGNORE);
    autoScroll = Checked(hwnd, IDC_OPT_AUTO_SCROLL);
    folderEnabled = Enabled(hwnd, IDC_OPT_BACKUP_FOLDER);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(L"256", memory);
  EXPECT_EQ(L"Tahoma 10pt", font);
  EXPECT_EQ(L"", ignore);
  EXPECT_TRUE(autoScroll);
  EXPECT_FALSE(folderEnabled);
  EXPECT_EQ(1u, dialog.m_changes.font);
  EXPECT_EQ(1u, dialog.m_changes.autoScroll);
  EXPECT_EQ(256u, config.m_maxMem);
  EXPECT_STREQ(L"Tahoma", config.m_fontName.c_str());
  EXPECT_EQ(100u, config.m_fontPoint);
  EXPECT_EQ(0u, config.m_ignoreMask);
  EXPECT_EQ(0u, config.m_logEnable);
  EXPECT_STREQ(L"", config.m_logFolder.c_str());
}

TEST_F(OptionsDialog, BackupBoxAndRadiosEnableTheirControls) {
  struct Step {
    bool folder, radios, size;
  };
  std::vector<Step> steps;
  auto look = [&](HWND hwnd) {
    steps.push_back({Enabled(hwnd, IDC_OPT_BACKUP_FOLDER) && Enabled(hwnd, IDC_OPT_BACKUP_BROWSE),
                     Enabled(hwnd, IDC_OPT_BACKUP_UNLIMITED) && Enabled(hwnd, IDC_OPT_BACKUP_LIMIT),
                     Enabled(hwnd, IDC_OPT_BACKUP_SIZE) && Enabled(hwnd, IDC_OPT_BACKUP_SIZE_SPIN)});
  };
  const INT_PTR result = Run([&](HWND hwnd) {
    look(hwnd);
    kt_test::ClickButton(hwnd, IDC_OPT_BACKUP);
    look(hwnd);
    kt_test::ClickButton(hwnd, IDC_OPT_BACKUP_LIMIT);
    look(hwnd);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  ASSERT_EQ(3u, steps.size());
  EXPECT_FALSE(steps[0].folder || steps[0].radios || steps[0].size);
  EXPECT_TRUE(steps[1].folder && steps[1].radios);
  EXPECT_FALSE(steps[1].size);
  EXPECT_TRUE(steps[2].folder && steps[2].radios && steps[2].size);
  // Backup on with an empty folder: the program's folder.
  EXPECT_EQ(1u, config.m_logEnable);
  EXPECT_EQ(1u, config.m_logLimit);
  EXPECT_STREQ(L"C:\\kt\\bin", config.m_logFolder.c_str());
}

TEST_F(OptionsDialog, FontButtonRunsTheFontChooser) {
  config.m_fontName = L"Courier New";
  config.m_fontPoint = 90;
  std::wstring offeredFace;
  LONG offeredHeight = 0;
  DWORD offeredFlags = 0;
  HWND offeredOwner = nullptr;
  recorder.chooseFont = [&](CHOOSEFONTW& request) {
    offeredFace = request.lpLogFont->lfFaceName;
    offeredHeight = request.lpLogFont->lfHeight;
    offeredFlags = request.Flags;
    offeredOwner = request.hwndOwner;
    wcscpy(request.lpLogFont->lfFaceName, L"Lucida Console");
    request.iPointSize = 110;
    return TRUE;
  };
  std::wstring label;
  HWND dialogWindow = nullptr;
  int pixelsPerInch = 0;
  const INT_PTR result = Run([&](HWND hwnd) {
    dialogWindow = hwnd;
    HDC dc = ::GetDC(hwnd);
    pixelsPerInch = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(hwnd, dc);
    kt_test::ClickButton(hwnd, IDC_OPT_FONT);
    label = Text(hwnd, IDC_OPT_FONT_NAME);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ((std::vector<std::wstring>{L"font"}), recorder.commonDialogs);
  EXPECT_EQ(L"Courier New", offeredFace);
  EXPECT_EQ(-::MulDiv(9, pixelsPerInch, 72), offeredHeight);
  EXPECT_EQ(DWORD(CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT), offeredFlags & (CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT));
  EXPECT_EQ(dialogWindow, offeredOwner);
  EXPECT_EQ(L"Lucida Console 11pt", label);
  EXPECT_EQ(1u, dialog.m_changes.font);
  EXPECT_STREQ(L"Lucida Console", config.m_fontName.c_str());
  EXPECT_EQ(110u, config.m_fontPoint);
}

TEST_F(OptionsDialog, CancelledFontChooserChangesNothing) {
  recorder.chooseFont = [](CHOOSEFONTW&) { return FALSE; };
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_OPT_FONT);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(0u, dialog.m_changes.font);
  EXPECT_STREQ(L"Tahoma", config.m_fontName.c_str());
}

TEST_F(OptionsDialog, FolderButtonRunsTheFolderBrowser) {
  config.m_logEnable = 1;
  UINT offeredFlags = 0;
  recorder.browseFolder = [&](BROWSEINFOW& request) {
    offeredFlags = request.ulFlags;
    return ::ILCreateFromPathW(L"C:\\windows");
  };
  std::wstring shown;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_OPT_BACKUP_BROWSE);
    shown = Text(hwnd, IDC_OPT_BACKUP_FOLDER);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ((std::vector<std::wstring>{L"folder"}), recorder.commonDialogs);
  EXPECT_EQ(UINT(BIF_RETURNONLYFSDIRS), offeredFlags & BIF_RETURNONLYFSDIRS);
  EXPECT_EQ(0, _wcsicmp(L"C:\\windows", shown.c_str())) << shown;
  EXPECT_EQ(0, _wcsicmp(L"C:\\windows", config.m_logFolder.c_str()));
}

TEST_F(OptionsDialog, SelectButtonRunsTheModuleSelection) {
  config.m_ignoreMask = 0;
  std::vector<std::wstring> cells;
  std::vector<bool> checks;
  std::wstring afterSelect, afterUncheck;
  int selections = 0;
  const INT_PTR result = Run(
      [&](HWND hwnd) {
        ::SetDlgItemTextW(hwnd, IDC_OPT_IGNORE, L"media;nosuch");
        kt_test::ClickButton(hwnd, IDC_OPT_SELECT_MODULES);
        afterSelect = Text(hwnd, IDC_OPT_IGNORE);
        kt_test::ClickButton(hwnd, IDC_OPT_SELECT_MODULES);
        afterUncheck = Text(hwnd, IDC_OPT_IGNORE);
        kt_test::ClickButton(hwnd, IDC_OPT_SELECT_MODULES);  // cancelled: the text stays
        kt_test::ClickButton(hwnd, IDOK);
      },
      [&](HWND hwnd) {
        ++selections;
        if (selections == 1) {
          kt_test::SaveWindowShot(hwnd, L"select-module");
          for (int row = 0; row < Rows(hwnd, IDC_SELMOD_LIST); ++row) {
            cells.push_back(Cell(hwnd, IDC_SELMOD_LIST, row, 0));
            cells.push_back(Cell(hwnd, IDC_SELMOD_LIST, row, 1));
            checks.push_back(RowChecked(hwnd, IDC_SELMOD_LIST, row));
          }
          SetRowChecked(hwnd, IDC_SELMOD_LIST, 2, true);
          SetRowChecked(hwnd, IDC_SELMOD_LIST, 3, true);
          kt_test::ClickButton(hwnd, IDOK);
        } else if (selections == 2) {
          kt_test::ClickButton(hwnd, IDC_SELMOD_UNCHECK_ALL);
          kt_test::ClickButton(hwnd, IDOK);
        } else {
          SetRowChecked(hwnd, IDC_SELMOD_LIST, 0, true);
          kt_test::ClickButton(hwnd, IDCANCEL);
        }
      });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(3, selections);
  EXPECT_EQ((std::vector<std::wstring>{L"NET", L"net.dll;sock.dll", L"MEDIA", L"media.dll", L"CORE", L"core.dll",
                                       L"UNKNOWN", L""}),
            cells);
  EXPECT_EQ((std::vector<bool>{false, true, false, false}), checks);
  EXPECT_EQ(L"MEDIA;CORE;UNKNOWN;", afterSelect);
  EXPECT_EQ(L"", afterUncheck);
  EXPECT_EQ(0u, config.m_ignoreMask);
}

TEST(SelectModuleDialog, CancelKeepsTheMask) {
  CModuleGroups groups;
  const std::string table = "[NET]\nM=net.dll\n[CORE]\nM=core.dll\n";
  ASSERT_EQ(1, groups.LoadFromText(table.data(), table.size()));
  kt_test::CTestHostWindow host{600, 400};
  kt_test::CModalRecorder recorder;
  recorder.runReal = true;
  recorder.drive = [](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_SELMOD_UNCHECK_ALL);
    kt_test::ClickButton(hwnd, IDCANCEL);
  };
  CSelModDlg dialog;
  dialog.m_groups = &groups;
  dialog.m_mask = 0x3;
  EXPECT_EQ(IDCANCEL, dialog.DoModal(host.get()));
  EXPECT_EQ(0x3u, dialog.m_mask);
  ASSERT_EQ(1u, recorder.dialogs.size());
  EXPECT_EQ(UINT(IDD_SELECT_MODULE), recorder.dialogs[0].templateId);
}

}  // namespace
