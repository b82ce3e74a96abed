#include "res/resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct ExpectedString {
    UINT id;
    const wchar_t* text;
};

// Keyed by the numbers of the resource index, not by the header's names, so
// a wrong number in resource.h shows up as a string in the wrong place.
// BEGIN expected strings (scripts/gen-strings.py)
const ExpectedString kExpectedStrings[] = {
    {128, L"keltracer"},
    {5945, L"Click to goto next item of PII"},
    {32773, L"Open/Save/Manage File"},
    {32774, L"Tools/Options"},
    {32775, L"<Filter Here>"},
    {32776, L"Quick filter in current view"},
    {61401, L"    "},
    {61402, L"    "},
    {61415, L"Load config or xml file failed!"},
    {61416, L"#"},
    {61417, L"Time"},
    {61418, L"Module"},
    {61419, L"Dll/Exe Name"},
    {61420, L"Hint"},
    {61421, L"Pid"},
    {61422, L"Delta (us)"},
    {61423, L"Tid"},
    {61424, L"Message"},
    {61426, L"Opening \"%s\""},
    {61427, L"Saving \"%s\""},
    {61429, L"Searching \"%s\""},
    {61430, L"Saving view \"%s\""},
    {61432, L"Cannot find string \"%s\""},
    {61433, L"UNKNOWN"},
    {61434, L"ALL"},
    {61440, L"Close tab"},
    {61441, L"Scroll tab to left"},
    {61442, L"Scroll tab to right"},
    {61443, L"Tab List"},
    {61444, L"Add tab to current group"},
    {61445, L"Close all tab"},
    {61447, L"Do you want to close file \"%s\"?"},
    {61448, L"CAPTURE"},
    {61449, L"Application init failed!"},
    {61451, L"Add tab to [%s]"},
    {61452, L"Filter tab [%s]"},
    {61453, L"Start capture thread failed!"},
    {61454, L"Start Capture\tF8"},
    {61455, L"Stop Capture\tF8"},
    {61456, L"-----------KELTracer Version: %s (Module : %s, Total Items : %u)----------------\n"},
    {61457, L"<HTML>\n<HEAD>\n<TITLE> KELTracer Version: %s (Module : %s, Total Items : %u) </TITLE>\n<STYLE TYPE=text/css>\n.debug { color: #000000 }\n.info { color: #000000 }\n.warn { color: #FF9900 }\n.error { color: #FF0000 }\n</STYLE>\n</HEAD>\n<BODY>\n<table border=0 cellspacing=4>\n<colgroup span=4 align=center></colgroup>\n<tr><th>Level</th><th>Time</th><th>Module</th><th nowrap>Name/Hint</th><th>[Pid:Tid]</th><th align=left>Message</th>\n"},
    {61458, L"</table>\n</BODY>\n</HTML>"},
    {61459, L"%s\t%s\t%s\t%s/%s\t%s\t"},
    {61460, L"<tr class=%s><td nowrap>%s</td><td nowrap>%s</td><td nowrap>%s</td><td nowrap>%s/%s</td><td nowrap>%s</td>"},
    {61461, L"Add tab group failed!"},
    {61462, L"Add tab failed!"},
    {61463, L" - Stop"},
    {61464, L"Start hvn capture failed!"},
    {61465, L"Start qrc capture failed!"},
    {61466, L"Start qrv capture failed!"},
    {61469, L"Start capture failed!"},
    {61470, L"This operation will take long time, Do you want to continue?"},
    {61471, L"Wininet initialize failed!"},
    {61475, L"Click to edit filter of current view"},
    {61476, L"Click to filter by process id"},
    {61477, L"Click to filter by trace level"},
    {61478, L"Click to goto next item of debug level"},
    {61479, L"Click to goto next item of info level"},
    {61480, L"Click to goto next item of warning level"},
    {61481, L"Click to goto next item of error level"},
    {61483, L"Sending \"%s\""},
    {61484, L"Sending view \"%s\""},
    {61485, L"Prepare sending"},
    {61486, L"Prepare sending view"},
    {61487, L"List \"%s\""},
    {61488, L"Get \"%s\""},
    {61500, L"OK"},
    {61501, L"Send to talmo completed"},
    {61502, L"Send to talmo failed"},
    {61503, L"Log file is invalid or too big"},
    {61504, L"Out of memory"},
    {61505, L"Logserver is offline or busy"},
    {61506, L"Timeout"},
    {61507, L"Invalid certificate"},
    {61508, L"Proxy or auth failed"},
    {61509, L"Http/https error"},
    {61510, L"General win32 error"},
    {61511, L"General Internet error"},
    {61512, L"%s...Failed (%s)"},
    {61513, L"%s...Failed (%s : %u)"},
    {61514, L"Preparing send to talmo"},
    {61515, L"Connecting to server"},
    {61516, L"Sending to talmo"},
    {61517, L"User cancelled"},
    {61518, L"Send to talmo cancelled"},
    {61519, L"User canceled, please wait..."},
    {61520, L"Saving dump file \"%s\""},
    {61521, L"Create backup file failed."},
    {61522, L"Write to backup file failed."},
    {61523, L"keltracer remote server"},
    {61524, L"WinSock initialize failed!"},
    {61525, L"WinSock listen socket create failed!"},
    {61526, L"WinSock listen socket lost!"},
    {61527, L"Connect to \"%s\" lost!"},
    {61528, L"Connect to \"%s\" failed!"},
    {61529, L"Saving remote dump file \"%s\""},
};

const UINT kAbsentStrings[] = {
    57345, 61425, 61428, 61431, 61435, 61436, 61437, 61438,
    61439, 61446, 61450, 61467, 61468, 61472, 61473, 61474,
    61482, 61489, 61490, 61491, 61492, 61493, 61494, 61495,
    61496, 61497, 61498, 61499,
};
// END expected strings

// The length-returning form points into the resource itself, so the text is
// compared with its exact length: trailing spaces, tabs and LFs count, and
// nothing is cut at a buffer size.
std::wstring_view LoadResourceString(UINT id)
{
    const wchar_t* text = nullptr;
    int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return {};
    return std::wstring_view(text, static_cast<size_t>(length));
}

// Shows control characters, so a failure says which TAB or LF differs.
std::wstring Visible(std::wstring_view text)
{
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'\t': out += L"\\t"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        default: out += c; break;
        }
    }
    return out;
}

TEST(StringTable, EveryStringHasItsExactText)
{
    for (const ExpectedString& e : kExpectedStrings) {
        SCOPED_TRACE(testing::Message() << "string id " << e.id);
        std::wstring_view loaded = LoadResourceString(e.id);
        ASSERT_FALSE(loaded.empty());
        EXPECT_EQ(Visible(loaded), Visible(e.text));
        EXPECT_EQ(loaded.size(), std::wstring_view(e.text).size());
    }
}

TEST(StringTable, IdsWithoutTextAreAbsent)
{
    for (UINT id : kAbsentStrings) {
        SCOPED_TRACE(testing::Message() << "string id " << id);
        EXPECT_TRUE(LoadResourceString(id).empty());
    }
}

// The status bar's default pane starts with this string; leaving it out of
// the table is what makes the pane start empty.
TEST(StringTable, IdleMessageIsAbsent)
{
    EXPECT_TRUE(LoadResourceString(IDS_IDLE_MESSAGE).empty());
}

}  // namespace
