#include "res/resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

enum class Kind { ITEM, POPUP, SEP };

struct ExpectedMenuRow {
    UINT menu;
    int depth;
    Kind kind;
    const wchar_t* text;  // nullptr: not checked
    UINT id;
};

// Keyed by the numbers of the resource index, not by the header's names.
// BEGIN expected menus (scripts/gen-menus.py)
const ExpectedMenuRow kExpectedMenus[] = {
    {128, 0, Kind::POPUP, L"&Files", 0},
    {128, 1, Kind::ITEM, L"Open...\tCtrl + O", 57601},
    {128, 1, Kind::ITEM, L"Save...\tCtrl + S", 57603},
    {128, 1, Kind::ITEM, L"Save current view...", 33106},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Open Remote...\tCtrl + M", 33051},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Histroy Files Manage...\tCtrl + H", 33060},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"E&xit", 57665},
    {128, 0, Kind::POPUP, L"&View", 0},
    {128, 1, Kind::ITEM, L"Copy\tCtrl+C", 57634},
    {128, 1, Kind::ITEM, L"Copy Message", 33105},
    {128, 1, Kind::ITEM, L"Select All\tCtrl+A", 57642},
    {128, 1, Kind::ITEM, L"Clear Display\tCtrl+E", 57633},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Toggle Bookmark\tCtrl+F2", 33101},
    {128, 1, Kind::POPUP, L"Colourful Bookmark", 0},
    {128, 2, Kind::ITEM, L"Gray", 33115},
    {128, 2, Kind::ITEM, L"Red", 33116},
    {128, 2, Kind::ITEM, L"Pink", 33117},
    {128, 2, Kind::ITEM, L"Yellow", 33118},
    {128, 2, Kind::ITEM, L"Green", 33119},
    {128, 2, Kind::ITEM, L"Blue", 33120},
    {128, 2, Kind::ITEM, L"Purple", 33121},
    {128, 1, Kind::ITEM, L"Next Bookmark\tF2", 33102},
    {128, 1, Kind::ITEM, L"Prev Bookmark\tShift+F2", 33103},
    {128, 1, Kind::ITEM, L"Clear Bookmarks", 33104},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Find...\tCtrl+F", 57636},
    {128, 1, Kind::ITEM, L"Find Next\tF3", 33020},
    {128, 1, Kind::ITEM, L"Find Previous\tCtrl+F3", 33021},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Auto Scroll\tCtrl+R", 33054},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Always on Top\tCtrl+T", 33107},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Select Columns...", 33108},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Goto...\tCtrl+G", 33100},
    {128, 1, Kind::ITEM, L"Filter...\tF5", 33019},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Options...\tCtrl+P", 33016},
    {128, 0, Kind::POPUP, L"&Tools", 0},
    {128, 1, Kind::ITEM, L"Start/Stop Capture\tF8", 33022},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Send To TalMo\tCtrl+W", 33052},
    {128, 1, Kind::ITEM, L"Send current view To TalMo", 33053},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Connect...\tCtrl+N", 33111},
    {128, 1, Kind::ITEM, L"Disconnect", 33112},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Base64 Convert...", 33110},
    {128, 1, Kind::ITEM, L"Error Lookup...", 33113},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"Stastistic", 33114},
    {128, 1, Kind::SEP, nullptr, 0},
    {128, 1, Kind::ITEM, L"About keltracer...", 57664},
    {240, 0, Kind::POPUP, nullptr, 0},
    {240, 1, Kind::ITEM, L"Open...\tCtrl + O", 57601},
    {240, 1, Kind::ITEM, L"Save...\tCtrl + S", 57603},
    {240, 1, Kind::ITEM, L"Save current view...", 33106},
    {240, 1, Kind::ITEM, L"Save dump file...", 33109},
    {240, 1, Kind::SEP, nullptr, 0},
    {240, 1, Kind::ITEM, L"Open Remote...\tCtrl + M", 33051},
    {240, 1, Kind::SEP, nullptr, 0},
    {240, 1, Kind::POPUP, L"Histroy Files", 0},
    {240, 2, Kind::ITEM, L"none", 0},
    {240, 1, Kind::ITEM, L"Histroy Files Manage...\tCtrl + H", 33060},
    {241, 0, Kind::POPUP, nullptr, 0},
    {241, 1, Kind::POPUP, L"&View", 0},
    {241, 2, Kind::ITEM, L"Copy\tCtrl+C", 57634},
    {241, 2, Kind::ITEM, L"Copy Message", 33105},
    {241, 2, Kind::ITEM, L"Select All\tCtrl+A", 57642},
    {241, 2, Kind::ITEM, L"Clear Display\tCtrl+E", 57633},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Toggle Bookmark\tCtrl+F2", 33101},
    {241, 2, Kind::POPUP, L"Colourful Bookmark", 0},
    {241, 3, Kind::ITEM, L"Gray", 33115},
    {241, 3, Kind::ITEM, L"Red", 33116},
    {241, 3, Kind::ITEM, L"Pink", 33117},
    {241, 3, Kind::ITEM, L"Yellow", 33118},
    {241, 3, Kind::ITEM, L"Green", 33119},
    {241, 3, Kind::ITEM, L"Blue", 33120},
    {241, 3, Kind::ITEM, L"Purple", 33121},
    {241, 2, Kind::ITEM, L"Next Bookmark\tF2", 33102},
    {241, 2, Kind::ITEM, L"Prev Bookmark\tShift+F2", 33103},
    {241, 2, Kind::ITEM, L"Clear Bookmarks", 33104},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Find...\tCtrl+F", 57636},
    {241, 2, Kind::ITEM, L"Find Next\tF3", 33020},
    {241, 2, Kind::ITEM, L"Find Previous\tCtrl+F3", 33021},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Auto Scroll\tCtrl+R", 33054},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Always on Top\tCtrl+T", 33107},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Select Columns...", 33108},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Goto...\tCtrl+G", 33100},
    {241, 2, Kind::ITEM, L"Filter...\tF5", 33019},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"Options...\tCtrl+P", 33016},
    {241, 2, Kind::SEP, nullptr, 0},
    {241, 2, Kind::ITEM, L"About keltracer...", 57664},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"Start/Stop Capture\tF8", 33022},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"Send To TalMo\tCtrl+W", 33052},
    {241, 1, Kind::ITEM, L"Send current view To TalMo", 33053},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"Connect...\tCtrl+N", 33111},
    {241, 1, Kind::ITEM, L"Disconnect", 33112},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"Base64 Convert...", 33110},
    {241, 1, Kind::ITEM, L"Error Lookup...", 33113},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"Stastistic", 33114},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"Options...\tCtrl+P", 33016},
    {241, 1, Kind::SEP, nullptr, 0},
    {241, 1, Kind::ITEM, L"About keltracer...", 57664},
    {244, 0, Kind::POPUP, nullptr, 0},
    {244, 1, Kind::ITEM, L"pid:all", 33029},
    {244, 0, Kind::POPUP, nullptr, 0},
    {244, 1, Kind::ITEM, L"error trace", 33023},
    {244, 1, Kind::ITEM, L"warn/error trace", 33024},
    {244, 1, Kind::ITEM, L"info/warn/error trace", 33025},
    {244, 1, Kind::ITEM, L"debug trace", 57858},
    {244, 1, Kind::SEP, nullptr, 0},
    {244, 1, Kind::ITEM, L"bookmark trace", 33129},
    {244, 1, Kind::POPUP, L"colourful bookmark trace", 0},
    {244, 2, Kind::ITEM, L"Gray", 33122},
    {244, 2, Kind::ITEM, L"Red", 33123},
    {244, 2, Kind::ITEM, L"Pink", 33124},
    {244, 2, Kind::ITEM, L"Yellow", 33125},
    {244, 2, Kind::ITEM, L"Green", 33126},
    {244, 2, Kind::ITEM, L"Blue", 33127},
    {244, 2, Kind::ITEM, L"Purple", 33128},
    {244, 1, Kind::SEP, nullptr, 0},
    {244, 1, Kind::ITEM, L"PII trace", 33132},
    {244, 1, Kind::SEP, nullptr, 0},
    {244, 1, Kind::ITEM, L"level:all", 33028},
    {239, 0, Kind::POPUP, nullptr, 0},
    {239, 1, Kind::ITEM, L"Custom...", 32778},
};
const ACCEL kExpectedKeys[] = {
    {FVIRTKEY | FCONTROL, 'A', 57642},
    {FVIRTKEY | FCONTROL, 'C', 57634},
    {FVIRTKEY | FCONTROL, 'E', 57633},
    {FVIRTKEY | FCONTROL, 'F', 57636},
    {FVIRTKEY | FCONTROL, 'G', 33100},
    {FVIRTKEY | FCONTROL, 'H', 33060},
    {FVIRTKEY | FCONTROL, 'M', 33051},
    {FVIRTKEY | FCONTROL, 'N', 33111},
    {FVIRTKEY | FCONTROL, 'O', 57601},
    {FVIRTKEY | FCONTROL, 'P', 33016},
    {FVIRTKEY | FCONTROL, 'R', 33054},
    {FVIRTKEY | FCONTROL, 'S', 57603},
    {FVIRTKEY | FCONTROL, 'T', 33107},
    {FVIRTKEY, VK_F2, 33102},
    {FVIRTKEY | FCONTROL, VK_F2, 33101},
    {FVIRTKEY | FSHIFT, VK_F2, 33103},
    {FVIRTKEY, VK_F3, 33020},
    {FVIRTKEY | FCONTROL, VK_F3, 33021},
    {FVIRTKEY, VK_F5, 33019},
    {FVIRTKEY, VK_F8, 33022},
    {FVIRTKEY | FCONTROL, 'W', 33052},
};
// END expected menus

struct LoadedRow {
    int depth;
    Kind kind;
    std::wstring text;
    UINT id;
};

void Walk(HMENU menu, int depth, std::vector<LoadedRow>& out) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = static_cast<UINT>(std::size(text));
        ASSERT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info));
        if (info.fType & MFT_SEPARATOR) {
            out.push_back({depth, Kind::SEP, L"", 0});
        } else if (info.hSubMenu) {
            out.push_back({depth, Kind::POPUP, text, 0});
            Walk(info.hSubMenu, depth + 1, out);
        } else {
            out.push_back({depth, Kind::ITEM, text, info.wID});
        }
    }
}

std::wstring Describe(int depth, Kind kind, const std::wstring& text, UINT id) {
    const wchar_t* kindName = kind == Kind::SEP ? L"separator" : kind == Kind::POPUP ? L"popup" : L"item";
    return std::to_wstring(depth) + L" " + kindName + L" \"" + text + L"\" " + std::to_wstring(id);
}

class MenuResource : public ::testing::TestWithParam<UINT> {};

TEST_P(MenuResource, MatchesTheIndexRowByRow) {
    const UINT menuId = GetParam();
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
    ASSERT_NE(menu, nullptr) << "menu " << menuId;
    std::vector<LoadedRow> loaded;
    // The resource's top level is depth 0, as in the index.
    Walk(menu, 0, loaded);
    DestroyMenu(menu);

    std::vector<std::wstring> want, got;
    for (const ExpectedMenuRow& row : kExpectedMenus) {
        if (row.menu == menuId) {
            want.push_back(Describe(row.depth, row.kind, row.text ? row.text : L"*", row.id));
        }
    }
    size_t next = 0;
    for (const ExpectedMenuRow& row : kExpectedMenus) {
        if (row.menu != menuId || next >= loaded.size()) {
            continue;
        }
        const LoadedRow& have = loaded[next++];
        got.push_back(Describe(have.depth, have.kind, row.text ? have.text : L"*", have.id));
    }
    for (; next < loaded.size(); ++next) {
        got.push_back(Describe(loaded[next].depth, loaded[next].kind, loaded[next].text, loaded[next].id));
    }
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(want, got);
}

INSTANTIATE_TEST_SUITE_P(AllMenus, MenuResource,
                         ::testing::Values(IDR_MAINFRAME, IDR_FILE_MENU, IDR_TOOLS_MENU, IDR_STATUS_MENU,
                                           IDR_ADD_TAB_MENU));

TEST(AcceleratorResource, HoldsExactlyTheIndexKeys) {
    HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_NE(table, nullptr);
    ACCEL keys[64] = {};
    const int count = CopyAcceleratorTableW(table, keys, static_cast<int>(std::size(keys)));
    DestroyAcceleratorTable(table);

    auto describe = [](const ACCEL& a) {
        // NOINVERT is obsolete; windres may or may not keep the bit.
        return std::to_wstring(a.fVirt & (FVIRTKEY | FCONTROL | FSHIFT | FALT)) + L"/" + std::to_wstring(a.key) +
               L"->" + std::to_wstring(a.cmd);
    };
    std::vector<std::wstring> want, got;
    for (const ACCEL& a : kExpectedKeys) {
        want.push_back(describe(a));
    }
    for (int i = 0; i < count; ++i) {
        got.push_back(describe(keys[i]));
    }
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(want, got);
}

TEST(ToolbarResource, HasFivePicturesAndTheServerWindowTemplate) {
    HMODULE self = GetModuleHandleW(nullptr);
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageW(self, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(strip, nullptr);
    BITMAP info = {};
    GetObjectW(strip, sizeof(info), &info);
    DeleteObject(strip);
    EXPECT_EQ(info.bmWidth, 5 * 16);
    EXPECT_EQ(info.bmHeight, 16);
    EXPECT_NE(FindResourceW(self, MAKEINTRESOURCEW(IDR_MAINFRAME), MAKEINTRESOURCEW(241)), nullptr);  // RT_TOOLBAR
    EXPECT_NE(FindResourceW(self, MAKEINTRESOURCEW(IDD_REMOTE_SERVER), RT_DIALOG), nullptr);
}

}  // namespace
