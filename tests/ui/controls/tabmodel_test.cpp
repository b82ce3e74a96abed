#include "ui/controls/TabModel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr int kHeight = 24;
constexpr uint32_t kViewStyle = TCX_CLOSEBUTTON | TCX_CLOSEALLBUTTON;
constexpr uint32_t kDocumentStyle = TCX_CLOSEBUTTON | TCX_BOTTOM | TCX_FITTEXT;
constexpr int kDocumentImage = 2;
constexpr int kPixelsPerChar = 10;

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The letter and the number: formatted in place, since GCC at -O3 sees a
// false overlap in "x" + std::to_string(n).
std::string Numbered(char letter, size_t number) {
  char name[24];
  std::snprintf(name, sizeof(name), "%c%zu", letter, number);
  return name;
}

// a, b, c, ... then x26, x27, ...
std::string ItemName(size_t index) {
  if (index < 26) return std::string(1, static_cast<char>('a' + index));
  return Numbered('x', index);
}

struct MenuEntry {
  UINT command;
  std::wstring text;
  bool checked;
};

// Records what the model asks of its window.
class RecordingSink : public ITabStripSink {
 public:
  LRESULT OnTabNotify(NMTABCTRLEX& record) override {
    if (!log.empty()) log += ' ';
    log += std::to_string(record.hdr.code) + "(" + std::to_string(static_cast<int64_t>(record.a)) + "," +
           std::to_string(static_cast<int64_t>(record.b)) + ")";
    lastFrom = record.hdr.hwndFrom;
    lastId = record.hdr.idFrom;
    if (onNotify) onNotify(record);
    return record.hdr.code == TCXN_ITEMCLOSING && veto ? 1 : 0;
  }
  bool IsTabStripVisible() override { return visible; }
  bool GetTabCursorPos(POINT& point) override {
    point = cursor;
    return hasCursor;
  }
  void RepaintTabStrip() override { ++repaints; }
  UINT TrackTabListMenu(const TabListMenu& menu) override {
    menuEntries.clear();
    for (size_t i = 0; i < menu.count; ++i) {
      menuEntries.push_back({menu.entries[i].command, menu.entries[i].text, menu.entries[i].checked});
    }
    menuAnchor = menu.anchor;
    menuFlags = menu.flags;
    ++menus;
    return menuChoice;
  }

  std::string log;
  bool veto = false;
  bool visible = false;
  bool hasCursor = false;
  POINT cursor = {0, 0};
  int repaints = 0;
  int menus = 0;
  UINT menuChoice = 0;
  std::vector<MenuEntry> menuEntries;
  POINT menuAnchor = {0, 0};
  UINT menuFlags = 0;
  HWND lastFrom = nullptr;
  UINT_PTR lastId = 0;
  std::function<void(const NMTABCTRLEX&)> onNotify;
};

// Text widths of kPixelsPerChar per character.
class FixedMeasure : public ITabTextMeasure {
 public:
  bool BeginTabMeasure() override {
    ++begins;
    return available;
  }
  int MeasureTabText(const wchar_t*, size_t length) override {
    ++measured;
    return static_cast<int>(length) * kPixelsPerChar;
  }
  void EndTabMeasure() override { ++ends; }

  bool available = true;
  int begins = 0;
  int ends = 0;
  int measured = 0;
};

// "cur=0; A 0-2 [a* b!]": per group its name, first and end visible, and its
// items, the selected one starred and TBF_NOCLOSE ones marked with '!'.
std::string Describe(const CTabStripModel& model) {
  std::string out = "cur=" + std::to_string(model.Current());
  for (size_t g = 0; g < model.GroupCount(); ++g) {
    const TabGroup* group = model.GetGroup(g);
    out += "; " + Narrow(group->name.c_str()) + (group->name.IsEmpty() ? "" : " ") +
           std::to_string(group->firstVisible) + "-" + std::to_string(group->endVisible) + " [";
    for (size_t i = 0; i < group->Count(); ++i) {
      const TabItem* item = group->Item(i);
      if (i) out += ' ';
      out += Narrow(item->text.c_str());
      if (item->flags & TBF_NOCLOSE) out += '!';
      if (i == group->selected) out += '*';
    }
    out += "]";
  }
  return out;
}

// --------------------------------------------------------- operation scripts

constexpr int64_t kAny = INT64_MIN;

enum class Op {
  Group,        // AddGroup(text)
  Groups,       // x groups g0, g1, ...
  Item,         // AddItem(x, text, notify y)
  Items,        // y items a, b, ... into group x, notifying
  SelectGroup,  // SelectGroup(x)
  RemoveGroup,  // RemoveGroup(x)
  Close,        // CloseItem(x, ask y)
  CloseAll,
  Remove,       // RemoveItem(x)
  Select,       // SelectItem(x)
  NoClose,      // sets TBF_NOCLOSE on item y of group x
  Veto,         // the notify window answers x to closing notifications
  Size,         // OnSize(x, kHeight)
  ScrollLeft,
  ScrollRight,
  Menu,         // the list menu returns command x
  Click,        // OnClick(x, single)
  DblClick,     // OnClick(x, double)
  ClickAt,      // left button down at (x, y)
  RClickAt,     // right button up at (x, y)
  Counts,       // expects x groups and y items in the current group
  Mark,         // the expected log starts here
};

struct Step {
  Op op;
  int64_t x = 0;
  int64_t y = 0;
  const char* text = nullptr;
  int64_t expect = kAny;
};

Step G(const char* name, int64_t expect = kAny) { return {Op::Group, 0, 0, name, expect}; }
Step Gs(int64_t n) { return {Op::Groups, n}; }
Step I(int64_t group, const char* text, int64_t notify = 1, int64_t expect = kAny) {
  return {Op::Item, group, notify, text, expect};
}
Step Is(int64_t group, int64_t n) { return {Op::Items, group, n}; }
Step SelG(int64_t index, int64_t expect = kAny) { return {Op::SelectGroup, index, 0, nullptr, expect}; }
Step RemG(int64_t index, int64_t expect = kAny) { return {Op::RemoveGroup, index, 0, nullptr, expect}; }
Step Close(int64_t index, int64_t expect = kAny) { return {Op::Close, index, 1, nullptr, expect}; }
Step CloseQuiet(int64_t index, int64_t expect = kAny) { return {Op::Close, index, 0, nullptr, expect}; }
Step CloseAll() { return {Op::CloseAll}; }
Step Rem(int64_t index, int64_t expect = kAny) { return {Op::Remove, index, 0, nullptr, expect}; }
Step Sel(int64_t index, int64_t expect = kAny) { return {Op::Select, index, 0, nullptr, expect}; }
Step NoClose(int64_t group, int64_t item) { return {Op::NoClose, group, item}; }
Step Veto(int64_t answer = 1) { return {Op::Veto, answer}; }
Step Size(int64_t width) { return {Op::Size, width}; }
Step SL() { return {Op::ScrollLeft}; }
Step SR() { return {Op::ScrollRight}; }
Step Menu(int64_t command) { return {Op::Menu, command}; }
Step Click(int64_t code) { return {Op::Click, code}; }
Step DblClick(int64_t code) { return {Op::DblClick, code}; }
Step ClickAt(int64_t x, int64_t y) { return {Op::ClickAt, x, y}; }
Step RClickAt(int64_t x, int64_t y) { return {Op::RClickAt, x, y}; }
Step Counts(int64_t groups, int64_t items) { return {Op::Counts, groups, items}; }
Step Mark() { return {Op::Mark}; }

struct Script {
  const char* name;
  TabStripKind kind;
  std::vector<Step> steps;
  const char* log;    // notifications after the last Mark
  const char* state;  // Describe() at the end; null when Counts says enough
};

constexpr TabStripKind kView = TabStripKind::View;
constexpr TabStripKind kDoc = TabStripKind::Document;

// A view strip 1200 pixels wide shows up to five tabs at full width.
const Script kScripts[] = {
    {"first group becomes current", kView, {G("A", 0), G("B", 1)}, "1(0,-1)", "cur=0; A 0-0 []; B 0-0 []"},
    {"first item is selected silently without notify", kView, {G("A"), I(0, "a", 0, 0), I(0, "b", 0, 1)},
     "1(0,-1)", "cur=0; A 0-2 [a* b]"},
    {"first item is selected and announced with notify", kView, {G("A"), I(0, "a"), I(0, "b")},
     "1(0,-1) 3(0,-1)", "cur=0; A 0-2 [a* b]"},
    {"items of a group that is not current wait for SelectGroup", kView,
     {G("A"), G("B"), I(1, "b"), Mark(), SelG(1, 1)}, "1(1,0) 3(0,-1)", "cur=1; A 0-0 []; B 0-1 [b*]"},
    {"an empty group is selected without item notification", kView, {G("A"), I(0, "a"), G("B"), Mark(), SelG(1)},
     "1(1,0)", "cur=1; A 0-1 [a*]; B 0-0 []"},
    {"selecting the current group does nothing", kView, {G("A"), I(0, "a"), Mark(), SelG(0, 1)}, "",
     "cur=0; A 0-1 [a*]"},
    {"a group re-announces its remembered selection", kView,
     {G("A"), Is(0, 3), Sel(2), G("B"), I(1, "x"), SelG(1), Mark(), SelG(0)}, "1(0,1) 3(2,-1)",
     "cur=0; A 0-3 [a b c*]; B 0-1 [x*]"},
    {"the 33rd group is refused", kView, {Gs(32), Mark(), G("X", -1), Counts(32, 0)}, "", nullptr},
    {"the 129th item is refused", kView, {G("A"), Is(0, 128), Mark(), I(0, "x", 1, -1), Counts(1, 128)}, "",
     nullptr},
    {"closing the selected last tab selects the new last", kView, {G("A"), Is(0, 3), Sel(2), Mark(), Close(2, 1)},
     "4(2,-1) 3(1,-1)", "cur=0; A 0-2 [a b*]"},
    {"closing the selected middle tab selects the one in its place", kView,
     {G("A"), Is(0, 3), Sel(1), Mark(), Close(1, 1)}, "4(1,-1) 3(1,-1)", "cur=0; A 0-2 [a c*]"},
    {"closing the selected first tab selects the one in its place", kView, {G("A"), Is(0, 3), Mark(), Close(0, 1)},
     "4(0,-1) 3(0,-1)", "cur=0; A 0-2 [b* c]"},
    {"closing a tab before the selected one keeps the selection", kView,
     {G("A"), Is(0, 3), Sel(2), Mark(), Close(0, 1)}, "4(0,-1)", "cur=0; A 0-2 [b c*]"},
    {"closing a tab behind the selected one keeps the selection", kView, {G("A"), Is(0, 3), Mark(), Close(2, 1)},
     "4(2,-1)", "cur=0; A 0-2 [a* b]"},
    {"closing the only tab hands over to the last remaining group", kView,
     {G("A"), I(0, "a"), G("B"), I(1, "b"), G("C"), I(2, "c"), Mark(), Close(0, 1)},
     "4(0,-1) 2(0,-1) 1(1,-1) 3(0,-1)", "cur=1; B 0-0 [b]; C 0-1 [c*]"},
    {"closing the only tab of the only group empties the strip", kView, {G("A"), I(0, "a"), Mark(), Close(0, 1)},
     "4(0,-1) 2(0,-1)", "cur=-1"},
    {"a veto keeps the tab", kView, {G("A"), Is(0, 3), Sel(1), Veto(), Mark(), Close(1, 0)}, "4(1,-1)",
     "cur=0; A 0-3 [a b* c]"},
    {"a close that does not ask is not vetoed", kView, {G("A"), Is(0, 3), Sel(1), Veto(), Mark(), CloseQuiet(1, 1)},
     "3(1,-1)", "cur=0; A 0-2 [a c*]"},
    {"close-all ignores vetoes and keeps TBF_NOCLOSE tabs", kView,
     {G("A"), Is(0, 4), NoClose(0, 1), NoClose(0, 3), Sel(2), Veto(), Mark(), CloseAll()},
     "4(2,-1) 4(0,-1) 3(0,-1)", "cur=0; A 0-2 [b!* d!]"},
    {"close-all without survivors removes the group", kView,
     {G("A"), I(0, "a"), G("B"), Is(1, 3), SelG(1), Mark(), CloseAll()},
     "4(2,-1) 4(1,-1) 4(0,-1) 2(1,-1) 1(0,-1) 3(0,-1)", "cur=0; A 0-1 [a*]"},
    {"TBF_NOCLOSE tabs survive close, the close box and remove", kView,
     {G("A"), Is(0, 2), NoClose(0, 0), Mark(), Close(0, 0), Click(kTabHitClose), Rem(0, 0)}, "",
     "cur=0; A 0-2 [a!* b]"},
    {"removing the selected document tab sends nothing and leaves no selection", kDoc,
     {G(""), I(0, "a", 0), I(0, "b", 0), I(0, "c", 0), Sel(1), Mark(), Rem(1, 1)}, "", "cur=0; 0-2 [a c]"},
    {"removing a document tab before the selected one moves the selection down", kDoc,
     {G(""), I(0, "a", 0), I(0, "b", 0), I(0, "c", 0), Sel(2), Mark(), Rem(0, 1)}, "", "cur=0; 0-2 [b c*]"},
    {"removing another group keeps the current one and sends nothing", kView,
     {G("A"), G("B"), G("C"), I(2, "c"), SelG(2), Mark(), RemG(0, 1)}, "", "cur=1; B 0-0 []; C 0-1 [c*]"},
    {"removing the current group hands over to the last remaining group", kView,
     {G("A"), I(0, "a"), G("B"), I(1, "b"), G("C"), I(2, "c"), SelG(1), Mark(), RemG(1, 1)},
     "2(1,-1) 1(1,-1) 3(0,-1)", "cur=1; A 0-1 [a*]; C 0-1 [c*]"},
    {"indexes that name nothing are refused", kView,
     {G("A"), Is(0, 2), Mark(), SelG(5, 0), SelG(-1, 0), RemG(2, 0), RemG(-1, 0), Close(2, 0), Close(-1, 0),
      Rem(7, 0), Sel(2, 0), Sel(-1, 0)},
     "", "cur=0; A 0-2 [a* b]"},
    {"an empty strip refuses every index", kView,
     {Close(0, 0), Rem(0, 0), Sel(0, 0), SelG(0, 0), RemG(0, 0), Click(0), Click(kTabHitClose), CloseAll()}, "",
     "cur=-1"},
    {"clicks select, double clicks report, buttons report", kView,
     {G("A"), Is(0, 3), Mark(), Click(1), DblClick(2), Click(kTabHitCloseAll), Click(kTabHitAdd), Click(7)},
     "3(1,0) 5(2,-1) 7(0,-1) 8(0,-1)", "cur=0; A 0-3 [a b* c]"},
    {"the close box closes the selected tab on a single or double click", kView,
     {G("A"), Is(0, 3), Sel(1), Mark(), Click(kTabHitClose), DblClick(kTabHitClose)},
     "4(1,-1) 3(1,-1) 4(1,-1) 3(0,-1)", "cur=0; A 0-1 [a*]"},
    {"the document strip has no add and close-all buttons", kDoc,
     {G(""), I(0, "a", 0), I(0, "b", 0), Mark(), Click(kTabHitAdd), Click(kTabHitCloseAll)}, "",
     "cur=0; 0-2 [a* b]"},
    // Tabs start at 38, the selected one is 214 wide with its close box at
    // (234, 6, 250, 22); close-all lies at (1184, 4, 1200, 20).
    {"mouse clicks hit tabs, the close box and buttons", kView,
     {G("A"), Is(0, 3), Mark(), ClickAt(300, 10), ClickAt(100, 10), ClickAt(1190, 10), ClickAt(10, 10),
      ClickAt(1000, 10)},
     "3(1,0) 3(0,1) 7(0,-1) 8(0,-1)", "cur=0; A 0-3 [a* b c]"},
    {"the mouse on the close box closes the selected tab", kView,
     {G("A"), Is(0, 3), Mark(), ClickAt(240, 12)}, "4(0,-1) 3(0,-1)", "cur=0; A 0-2 [b* c]"},
    {"right clicks report tabs and empty space, not buttons", kView,
     {G("A"), Is(0, 3), Mark(), RClickAt(300, 10), RClickAt(1000, 10), RClickAt(1190, 10), RClickAt(10, 10)},
     "6(1,-1) 6(-1,-1)", "cur=0; A 0-3 [a* b c]"},
    // At 400 pixels ten tabs show four at a time.
    {"scrolling right carries the selection to the last laid-out tab", kView,
     {G("A"), Is(0, 10), Size(400), Mark(), SR()}, "3(4,0)", "cur=0; A 1-5 [a b c d e* f g h i j]"},
    {"scrolling keeps a selection that stays in view", kView,
     {G("A"), Is(0, 10), Size(400), Sel(2), Mark(), SR(), SR(), SL()}, "", "cur=0; A 1-5 [a b c* d e f g h i j]"},
    {"scrolling left carries the selection to the first laid-out tab", kView,
     {G("A"), Is(0, 10), Size(400), SR(), SR(), SR(), SR(), SR(), Mark(), SL()}, "3(4,8)",
     "cur=0; A 4-8 [a b c d e* f g h i j]"},
    {"scrolling right stops at the last tab", kView,
     {G("A"), Is(0, 10), Size(400), SR(), SR(), SR(), SR(), SR(), SR(), SR(), SR(), SR(), SR(), SR(), SR(), Mark(),
      SR(), SR()},
     "",
     "cur=0; A 9-10 [a b c d e f g h i j*]"},
    {"scrolling left stops at the first tab", kView, {G("A"), Is(0, 10), Size(400), Mark(), SL()}, "",
     "cur=0; A 0-4 [a* b c d e f g h i j]"},
    {"growing the window until all fit undoes the scrolling", kView,
     {G("A"), Is(0, 10), Size(400), SR(), SR(), Mark(), Size(700)}, "", "cur=0; A 0-10 [a b c d e* f g h i j]"},
    {"the list menu selects a tab beyond the right end as the last laid-out one", kView,
     {G("A"), Is(0, 10), Size(400), Mark(), Menu(kTabListCommandBase + 9)}, "3(9,0)",
     "cur=0; A 6-10 [a b c d e f g h i j*]"},
    {"the list menu starts the window at a middle tab beyond the right end", kView,
     {G("A"), Is(0, 10), Size(400), Mark(), Menu(kTabListCommandBase + 6)}, "3(6,0)",
     "cur=0; A 6-10 [a b c d e f g* h i j]"},
    {"the list menu selects a tab left of the window", kView,
     {G("A"), Is(0, 10), Size(400), Menu(kTabListCommandBase + 9), Mark(), Menu(kTabListCommandBase + 1)},
     "3(1,9)", "cur=0; A 1-5 [a b* c d e f g h i j]"},
    {"the list menu ignores no choice and commands past the items", kView,
     {G("A"), Is(0, 10), Size(400), Mark(), Menu(0), Menu(kTabListCommandBase + 10), Menu(kTabListCommandBase - 1)},
     "", "cur=0; A 0-4 [a* b c d e f g h i j]"},
    {"closing the selected scrolled-in last tab keeps the window inside the group", kView,
     {G("A"), Is(0, 10), Size(400), Menu(kTabListCommandBase + 9), Mark(), Close(9, 1)}, "4(9,-1) 3(8,-1)",
     "cur=0; A 5-9 [a b c d e f g h i*]"},
    {"a strip narrower than one tab still lays out the selected tab", kView,
     {G("A"), Is(0, 10), Size(50), Mark(), Menu(kTabListCommandBase + 9)}, "3(9,0)",
     "cur=0; A 9-10 [a b c d e f g h i j*]"},
};

void PrintTo(const Script& script, std::ostream* out) { *out << script.name; }

class TabScript : public ::testing::TestWithParam<Script> {};

void RunScript(const Script& script, CTabStripModel& model, RecordingSink& sink) {
  for (const Step& step : script.steps) {
    int64_t result = kAny;
    const size_t x = static_cast<size_t>(step.x);
    const std::wstring text = step.text ? Wide(step.text) : std::wstring();
    switch (step.op) {
      case Op::Group: result = model.AddGroup(text.c_str(), 0); break;
      case Op::Groups:
        for (int64_t g = 0; g < step.x; ++g) model.AddGroup(Wide(Numbered('g', size_t(g))).c_str(), 0);
        break;
      case Op::Item: result = model.AddItem(x, text.c_str(), 0, 0, static_cast<int>(step.y)); break;
      case Op::Items:
        for (int64_t i = 0; i < step.y; ++i) {
          model.AddItem(x, Wide(ItemName(static_cast<size_t>(i))).c_str(), 0, 0, 1);
        }
        break;
      case Op::SelectGroup: result = model.SelectGroup(x); break;
      case Op::RemoveGroup: result = model.RemoveGroup(x); break;
      case Op::Close: result = model.CloseItem(x, static_cast<int>(step.y)); break;
      case Op::CloseAll: model.CloseAllItems(); break;
      case Op::Remove: result = model.RemoveItem(x); break;
      case Op::Select: result = model.SelectItem(x); break;
      case Op::NoClose: model.GetItem(x, static_cast<size_t>(step.y))->flags |= TBF_NOCLOSE; break;
      case Op::Veto: sink.veto = step.x != 0; break;
      case Op::Size: model.OnSize(static_cast<int>(step.x), kHeight); break;
      case Op::ScrollLeft: model.ScrollLeft(); break;
      case Op::ScrollRight: model.ScrollRight(); break;
      case Op::Menu:
        sink.menuChoice = static_cast<UINT>(step.x);
        model.ShowTabListMenu();
        break;
      case Op::Click: model.OnClick(step.x, false); break;
      case Op::DblClick: model.OnClick(step.x, true); break;
      case Op::ClickAt:
        model.OnLButtonDown({static_cast<LONG>(step.x), static_cast<LONG>(step.y)});
        break;
      case Op::RClickAt: model.OnRButtonUp({static_cast<LONG>(step.x), static_cast<LONG>(step.y)}); break;
      case Op::Counts:
        EXPECT_EQ(static_cast<size_t>(step.x), model.GroupCount());
        ASSERT_NE(nullptr, model.CurrentGroup());
        EXPECT_EQ(static_cast<size_t>(step.y), model.CurrentGroup()->Count());
        break;
      case Op::Mark: sink.log.clear(); break;
    }
    if (step.expect != kAny) {
      EXPECT_EQ(step.expect, result) << "step " << (&step - script.steps.data());
    }
  }
}

TEST_P(TabScript, LogAndFinalState) {
  const Script& script = GetParam();
  CTabStripModel model(script.kind, script.kind == kView ? kViewStyle : kDocumentStyle);
  RecordingSink sink;
  FixedMeasure measure;
  model.SetSink(&sink);
  model.SetTextMeasure(&measure);
  model.OnSize(1200, kHeight);
  RunScript(script, model, sink);
  EXPECT_EQ(script.log, sink.log);
  if (script.state) {
    EXPECT_EQ(script.state, Describe(model));
  }
}

std::string ScriptName(const ::testing::TestParamInfo<Script>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) {
    if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')) {
      name += *p;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(TabScripts, TabScript, ::testing::ValuesIn(kScripts), ScriptName);

// ------------------------------------------------------ notify window reentry

struct TabModelFixture : ::testing::Test {
  TabModelFixture() : model(kView, kViewStyle) {
    model.SetSink(&sink);
    model.OnSize(1200, kHeight);
  }
  void AddItems(size_t group, size_t n) {
    for (size_t i = 0; i < n; ++i) model.AddItem(group, Wide(ItemName(i)).c_str(), 0, 100 + i, 1);
  }

  RecordingSink sink;
  CTabStripModel model;
};

TEST_F(TabModelFixture, NotificationHeaderNamesTheStrip) {
  const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
  model.SetNotifyHeader(window, 32772);
  model.AddGroup(L"A", 0);
  EXPECT_EQ(window, sink.lastFrom);
  EXPECT_EQ(32772u, sink.lastId);
}

TEST_F(TabModelFixture, CloseFindsItsTabAgainAfterTheOwnerClosedAnother) {
  model.AddGroup(L"A", 0);
  AddItems(0, 3);
  model.SelectItem(2);
  sink.onNotify = [&](const NMTABCTRLEX& record) {
    if (record.hdr.code == TCXN_ITEMCLOSING && record.a == 2) model.CloseItem(0, 0);
  };
  sink.log.clear();
  EXPECT_EQ(1, model.CloseItem(2, 1));
  // c moved to index 1 while it was asked, and is closed there: b takes its place.
  EXPECT_EQ("4(2,-1) 3(0,-1)", sink.log);
  EXPECT_EQ("cur=0; A 0-1 [b*]", Describe(model));
}

TEST_F(TabModelFixture, CloseOfATabTheOwnerAlreadyClosedDoesNothingMore) {
  model.AddGroup(L"A", 0);
  AddItems(0, 3);
  sink.onNotify = [&](const NMTABCTRLEX& record) {
    if (record.hdr.code == TCXN_ITEMCLOSING && record.a == 1) model.CloseItem(1, 0);
  };
  EXPECT_EQ(0, model.CloseItem(1, 1));
  EXPECT_EQ("cur=0; A 0-2 [a* c]", Describe(model));
}

TEST_F(TabModelFixture, GroupRemovedByTheOwnerWhileAnnouncedIsNotFreedTwice) {
  model.AddGroup(L"A", 0);
  model.AddGroup(L"B", 0);
  bool removing = false;
  sink.onNotify = [&](const NMTABCTRLEX& record) {
    if (record.hdr.code != TCXN_GROUPREMOVING || removing) return;
    removing = true;
    model.RemoveGroup(0);
  };
  sink.log.clear();
  EXPECT_EQ(1, model.RemoveGroup(0));
  EXPECT_EQ("2(0,-1) 2(0,-1) 1(0,-1)", sink.log);
  EXPECT_EQ("cur=0; B 0-0 []", Describe(model));
}

TEST_F(TabModelFixture, GroupsMovedByTheOwnerWhileAnnouncedAreFollowed) {
  model.AddGroup(L"A", 0);
  model.AddGroup(L"B", 0);
  model.AddGroup(L"C", 0);
  model.SelectGroup(1);
  sink.onNotify = [&](const NMTABCTRLEX& record) {
    if (record.hdr.code == TCXN_GROUPREMOVING) model.RemoveGroup(0);
  };
  sink.log.clear();
  EXPECT_EQ(1, model.RemoveGroup(1));  // B has moved to index 0 when it goes
  EXPECT_EQ("2(1,-1) 1(0,-1)", sink.log);
  EXPECT_EQ("cur=0; C 0-0 []", Describe(model));
}

// ----------------------------------------------------------------- lookups

TEST_F(TabModelFixture, FindItemComparesWholeCaseSensitiveTexts) {
  model.AddGroup(L"A", 0);
  for (const wchar_t* text : {L"ALL", L"all", L"ALL (pid:1)", L"all"}) model.AddItem(0, text, 0, 0, 1);
  EXPECT_EQ(1, model.FindItem(L"all"));
  EXPECT_EQ(0, model.FindItem(L"ALL"));
  EXPECT_EQ(kTabItemNotFound, model.FindItem(L"AL"));
  EXPECT_EQ(kTabItemNotFound, model.FindItem(L"none"));
}

TEST(TabModel, FindItemOnAnEmptyStripIsNotFound) {
  CTabStripModel model(kView, kViewStyle);
  EXPECT_EQ(kTabItemNotFound, model.FindItem(L"x"));
}

TEST_F(TabModelFixture, FindItemByDataSearchesEveryGroup) {
  model.AddGroup(L"A", 0);
  AddItems(0, 2);
  model.AddGroup(L"B", 0);
  model.AddItem(1, L"x", 0, 7, 1);
  model.AddItem(1, L"y", 0, 8, 1);
  size_t group = 99;
  EXPECT_EQ(1, model.FindItemByData(8, &group));
  EXPECT_EQ(1u, group);
  EXPECT_EQ(1, model.FindItemByData(101, &group));
  EXPECT_EQ(0u, group);
  group = 99;
  EXPECT_EQ(-1, model.FindItemByData(5, &group));
  EXPECT_EQ(99u, group);
}

TEST_F(TabModelFixture, ItemTextsOfTheCurrentGroup) {
  model.AddGroup(L"A", 0);
  AddItems(0, 2);
  model.AddGroup(L"B", 0);
  model.AddItem(1, L"other", 0, 0, 1);
  EXPECT_STREQ(L"b", model.GetItemText(1));
  EXPECT_STREQ(L"", model.GetItemText(2));
  sink.visible = true;
  sink.repaints = 0;
  EXPECT_EQ(1, model.SetItemText(1, 0, L"renamed"));
  EXPECT_EQ(0, sink.repaints);  // not the shown group
  EXPECT_EQ(1, model.SetItemText(0, 1, L"shown"));
  EXPECT_EQ(1, sink.repaints);
  EXPECT_STREQ(L"shown", model.GetItemText(1));
  EXPECT_STREQ(L"renamed", model.GetItem(1, 0)->text);
  EXPECT_EQ(0, model.SetItemText(0, 2, L"x"));
  EXPECT_EQ(0, model.SetItemText(2, 0, L"x"));
}

TEST(TabModel, ToolTipStringsOfTheButtons) {
  const struct {
    int64_t code;
    UINT id;
  } cases[] = {{0, 0},   {127, 0},   {kTabHitNone, 0}, {128, 61440}, {129, 61441},
               {130, 61442}, {131, 61443}, {132, 61445}, {133, 61444}, {134, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.id, TabToolTipStringId(c.code)) << c.code;
}

// -------------------------------------------------------------- list menu

TEST_F(TabModelFixture, ListMenuOfFortyTabs) {
  model.AddGroup(L"A", 0);
  AddItems(0, 40);
  model.OnSize(400, kHeight);
  model.SelectItem(5);
  sink.menuChoice = 0;
  model.OnClick(kTabHitList, false);
  ASSERT_EQ(1, sink.menus);
  ASSERT_EQ(40u, sink.menuEntries.size());
  for (size_t i = 0; i < 40; ++i) {
    EXPECT_EQ(kTabListCommandBase + i, sink.menuEntries[i].command);
    EXPECT_EQ(Wide(ItemName(i)), sink.menuEntries[i].text);
    EXPECT_EQ(i == 5, sink.menuEntries[i].checked) << i;
  }
  const TabButton* list = model.GetButton(kTabHitList);
  EXPECT_EQ(list->rect.left, sink.menuAnchor.x);
  EXPECT_EQ(list->rect.bottom, sink.menuAnchor.y);
  EXPECT_EQ(static_cast<UINT>(TPM_RETURNCMD), sink.menuFlags);
  EXPECT_EQ(5u, model.CurrentGroup()->selected);

  sink.menuChoice = kTabListCommandBase + 39;
  model.ShowTabListMenu();
  EXPECT_EQ(39u, model.CurrentGroup()->selected);
  EXPECT_EQ(40u, model.CurrentGroup()->endVisible);
}

TEST(TabModel, DocumentListMenuOpensUpwards) {
  CTabStripModel model(kDoc, kDocumentStyle);
  RecordingSink sink;
  model.SetSink(&sink);
  model.AddGroup(L"", 0);
  model.AddItem(0, L"a.ktr", kDocumentImage, 0, 0);
  model.ShowTabListMenu();
  EXPECT_EQ(static_cast<UINT>(TPM_RETURNCMD | TPM_BOTTOMALIGN), sink.menuFlags);
  ASSERT_EQ(1u, sink.menuEntries.size());
  EXPECT_TRUE(sink.menuEntries[0].checked);
}

// ------------------------------------------------------------------ mouse

TEST_F(TabModelFixture, HotCodeFollowsTheMouseAndRepaintsOnChange) {
  model.AddGroup(L"A", 0);
  AddItems(0, 3);
  sink.repaints = 0;
  model.OnMouseMove({300, 10});
  EXPECT_EQ(1, model.Hot());
  model.OnMouseMove({310, 12});
  EXPECT_EQ(1, sink.repaints);
  model.OnMouseMove({240, 12});
  EXPECT_EQ(kTabHitClose, model.Hot());
  model.OnMouseLeave();
  EXPECT_EQ(kTabHitNone, model.Hot());
  EXPECT_EQ(3, sink.repaints);
  model.OnMouseLeave();
  EXPECT_EQ(3, sink.repaints);
}

TEST_F(TabModelFixture, ClickRenewsTheHotCodeAtTheCursor) {
  model.AddGroup(L"A", 0);
  AddItems(0, 3);
  sink.hasCursor = true;
  sink.cursor = {240, 12};
  bool pressedDuringClick = false;
  sink.onNotify = [&](const NMTABCTRLEX&) { pressedDuringClick = model.Pressed(); };
  model.OnLButtonDown({240, 12});  // the close box: b takes a's place
  EXPECT_TRUE(pressedDuringClick);
  EXPECT_FALSE(model.Pressed());
  EXPECT_EQ(kTabHitClose, model.Hot());  // b's close box now lies under the cursor
  EXPECT_EQ("cur=0; A 0-2 [b* c]", Describe(model));
  sink.cursor = {1000, 10};
  model.OnLButtonDown({300, 10});
  EXPECT_EQ(kTabHitNone, model.Hot());
}

TEST_F(TabModelFixture, RefreshOfAVisibleStripRenewsTheHotCode) {
  model.AddGroup(L"A", 0);
  sink.visible = true;
  sink.hasCursor = true;
  sink.cursor = {100, 10};
  sink.repaints = 0;
  AddItems(0, 1);
  EXPECT_EQ(0, model.Hot());
  EXPECT_EQ(1, sink.repaints);
}

// ------------------------------------------------------------------ layout

// "38:214 252:196 | close@234 closeall@884": each laid-out tab as left:width,
// then the shown buttons by left edge, disabled ones marked with '-'.
std::string DescribeLayout(const CTabStripModel& model) {
  std::string out;
  const TabGroup* group = model.CurrentGroup();
  for (size_t i = group->firstVisible; i < group->endVisible; ++i) {
    const RECT& r = group->Item(i)->rect;
    if (!out.empty()) out += ' ';
    out += std::to_string(r.left) + ":" + std::to_string(r.right - r.left);
  }
  out += " |";
  const struct {
    int64_t code;
    const char* name;
  } buttons[] = {{kTabHitClose, "close"},
                 {kTabHitScrollLeft, "left"},
                 {kTabHitScrollRight, "right"},
                 {kTabHitList, "list"},
                 {kTabHitCloseAll, "closeall"}};
  for (const auto& b : buttons) {
    const TabButton* button = model.GetButton(b.code);
    if (!button->IsShown()) continue;
    out += std::string(" ") + b.name + ((button->flags & TBF_DISABLED) ? "-" : "") + "@" +
           std::to_string(button->rect.left);
  }
  return out;
}

struct LayoutCase {
  const char* name;
  TabStripKind kind;
  uint32_t style;
  int width;
  std::vector<const char*> texts;
  int image;
  size_t selected;
  int scrollRight;
  const char* layout;
};

const LayoutCase kLayoutCases[] = {
    {"three view tabs at full width", kView, kViewStyle, 900, {"a", "b", "c"}, 0, 0, 0,
     "38:214 252:196 448:196 | close@234 closeall@884"},
    {"view tabs squeezed below full width", kView, kViewStyle, 500, {"a", "b", "c"}, 0, 0, 0,
     "38:159 197:141 338:141 | close@179 closeall@484"},
    {"one view tab has no close-all", kView, kViewStyle, 500, {"a"}, 0, 0, 0, "38:214 | close@234"},
    {"view tabs cut off at the minimum width", kView, kViewStyle, 400,
     {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, 0, 0, 0,
     "38:87 125:69 194:69 263:69 | close@107 left-@332 right@348 list@364 closeall@384"},
    {"view tabs scrolled by one", kView, kViewStyle, 400, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, 0, 0,
     1, "38:69 107:69 176:69 245:87 | close@314 left@332 right@348 list@364 closeall@384"},
    {"scrolled to the last view tab", kView, kViewStyle, 400, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, 0,
     0, 12, "38:214 | close@234 left@332 right-@348 list@364 closeall@384"},
    {"a short document text with an icon is raised to the minimum", kDoc, kDocumentStyle, 1000, {"ab", "c"}, 2, 1,
     0, "2:60 62:78 | close@122"},
    {"a long document text is limited", kDoc, kDocumentStyle, 1000,
     {"ab", "a text of thirty characters .."}, 2, 0, 0, "2:78 80:196 | close@62"},
    {"document tabs without icons", kDoc, kDocumentStyle, 1000, {"abcdefghij", "abcdefghijklmn"}, -1, 1, 0,
     "2:112 114:170 | close@266"},
    {"document tabs cut off keep a gap before the scroll buttons", kDoc, kDocumentStyle, 150,
     {"abcdefghij", "abcdefghij", "abcdefghij"}, 2, 0, 0, "2:96 | close@80 left-@102 right@118 list@134"},
};

void PrintTo(const LayoutCase& c, std::ostream* out) { *out << c.name; }

class TabLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(TabLayout, TabAndButtonPlaces) {
  const LayoutCase& c = GetParam();
  CTabStripModel model(c.kind, c.style);
  RecordingSink sink;
  FixedMeasure measure;
  model.SetSink(&sink);
  model.SetTextMeasure(&measure);
  model.AddGroup(L"G", 0);
  for (const char* text : c.texts) model.AddItem(0, Wide(text).c_str(), c.image, 0, 1);
  model.OnSize(c.width, kHeight);
  model.SelectItem(c.selected);
  for (int i = 0; i < c.scrollRight; ++i) model.ScrollRight();
  EXPECT_EQ(c.layout, DescribeLayout(model));
}

INSTANTIATE_TEST_SUITE_P(TabCases, TabLayout, ::testing::ValuesIn(kLayoutCases),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) name += (*p == ' ' || *p == '-') ? '_' : *p;
                           return name;
                         });

TEST(TabModel, SelectedTabStandsTallerOnTheViewStrip) {
  CTabStripModel model(kView, kViewStyle);
  model.AddGroup(L"G", 0);
  model.AddItem(0, L"a", 0, 0, 1);
  model.AddItem(0, L"b", 0, 0, 1);
  model.OnSize(900, kHeight);
  EXPECT_EQ(0, model.GetItem(0, 0)->rect.top);
  EXPECT_EQ(2, model.GetItem(0, 1)->rect.top);
  EXPECT_EQ(kHeight - 3, model.GetItem(0, 1)->rect.bottom);
  const RECT close = model.GetButton(kTabHitClose)->rect;
  EXPECT_EQ(6, close.top);
  EXPECT_EQ(22, close.bottom);
}

TEST(TabModel, WidthsAreMeasuredOnceAndKept) {
  CTabStripModel model(kDoc, kDocumentStyle);
  FixedMeasure measure;
  model.SetTextMeasure(&measure);
  model.AddGroup(L"", 0);
  model.OnSize(1000, kHeight);
  model.AddItem(0, L"abcdefghij", kDocumentImage, 0, 0);
  model.AddItem(0, L"abc", kDocumentImage, 0, 0);
  EXPECT_EQ(2, measure.measured);
  EXPECT_EQ(2, measure.begins);
  EXPECT_EQ(2, measure.ends);
  model.OnSize(900, kHeight);
  EXPECT_EQ(2, measure.measured);
  EXPECT_EQ(2, measure.begins);
  EXPECT_EQ(130u, model.GetItem(0, 0)->width);
}

TEST(TabModel, UnmeasurableTextsWaitForALaterLayout) {
  CTabStripModel model(kDoc, kDocumentStyle);
  FixedMeasure measure;
  measure.available = false;
  model.SetTextMeasure(&measure);
  model.AddGroup(L"", 0);
  model.OnSize(1000, kHeight);
  model.AddItem(0, L"abcdefghij", kDocumentImage, 0, 0);
  EXPECT_EQ(0u, model.GetItem(0, 0)->width);
  EXPECT_EQ(0, measure.ends);
  EXPECT_EQ(78, model.GetItem(0, 0)->rect.right - model.GetItem(0, 0)->rect.left);
  measure.available = true;
  model.Refresh(false, true);
  EXPECT_EQ(130u, model.GetItem(0, 0)->width);
  EXPECT_EQ(1, measure.ends);
}

TEST(TabModel, DisabledScrollButtonIsNeverHit) {
  CTabStripModel model(kView, kViewStyle);
  model.AddGroup(L"G", 0);
  for (size_t i = 0; i < 10; ++i) model.AddItem(0, Wide(ItemName(i)).c_str(), 0, 0, 1);
  model.OnSize(400, kHeight);
  ASSERT_TRUE(model.GetButton(kTabHitScrollLeft)->flags & TBF_DISABLED);
  EXPECT_EQ(kTabHitNone, model.HitTest({340, 10}));
  EXPECT_EQ(kTabHitScrollRight, model.HitTest({356, 10}));
  EXPECT_EQ(kTabHitList, model.HitTest({370, 10}));
}

TEST(TabModel, AddButtonShowsOnlyWithAGroup) {
  CTabStripModel model(kView, kViewStyle);
  model.OnSize(400, kHeight);
  EXPECT_EQ(kTabHitNone, model.HitTest({10, 10}));
  model.AddGroup(L"G", 0);
  EXPECT_EQ(kTabHitAdd, model.HitTest({10, 10}));
  model.RemoveGroup(0);
  EXPECT_EQ(kTabHitNone, model.HitTest({10, 10}));
}

// ------------------------------------------------------------ layout sweep

struct SweepConfig {
  const char* name;
  TabStripKind kind;
  uint32_t style;
};

const SweepConfig kSweepConfigs[] = {
    {"view", kView, kViewStyle},
    {"document", kDoc, kDocumentStyle},
    {"plain", kDoc, 0},
};

constexpr int kMaxSweepWidth = 1200;
constexpr size_t kMaxSweepItems = 40;
constexpr int kHitCheckEvery = 10;

// Names a sweep point in failure messages; formatted only when one fails.
struct SweepPoint {
  const char* strip;
  size_t count;
  size_t selected;
  int width;
  const char* pass;
  size_t clicks;
};

std::ostream& operator<<(std::ostream& out, const SweepPoint& p) {
  return out << p.strip << " count " << p.count << " selected " << p.selected << " width " << p.width << " "
             << p.pass << " " << p.clicks;
}

// A plain test per invariant: millions of layouts are checked, and a gtest
// assertion per check would cost more than the layouts.
#define SWEEP_REQUIRE(condition)                              \
  do {                                                        \
    if (!(condition)) FAIL() << where << ": " << #condition;  \
  } while (0)

// The laid-out window [first, end) lies inside the group, holds at least one
// tab (the selected one when asked), and the buttons agree with it.
void CheckLayout(const CTabStripModel& model, int left, int width, bool ensured, bool checkHits,
                 const SweepPoint& where) {
  const TabGroup* group = model.CurrentGroup();
  const size_t count = group->Count();
  const size_t first = group->firstVisible;
  const size_t end = group->endVisible;
  SWEEP_REQUIRE(first < count);
  SWEEP_REQUIRE(first < end);
  SWEEP_REQUIRE(end <= count);
  const uint32_t style = model.Style();
  const int extra = (style & TCX_CLOSEBUTTON) ? kTabCloseBoxExtra : 0;
  if (ensured) {
    SWEEP_REQUIRE(group->selected >= first && group->selected < end);
  }

  int x = left;
  for (size_t i = 0; i < count; ++i) {
    const TabItem* item = group->Item(i);
    const bool laidOut = i >= first && i < end;
    SWEEP_REQUIRE(laidOut == item->IsShown());
    if (!laidOut) continue;
    SWEEP_REQUIRE(x == item->rect.left);
    const int minimum = kTabMinWidth + (i == group->selected ? extra : 0);
    SWEEP_REQUIRE(item->rect.right - item->rect.left >= minimum);
    x = item->rect.right;
  }

  const TabButton* scrollLeft = model.GetButton(kTabHitScrollLeft);
  const TabButton* scrollRight = model.GetButton(kTabHitScrollRight);
  const TabButton* list = model.GetButton(kTabHitList);
  const TabButton* closeAll = model.GetButton(kTabHitCloseAll);
  const TabButton* close = model.GetButton(kTabHitClose);
  // The scroll buttons also show for a single tab too narrow for the strip.
  const bool scrolling = first > 0 || end < count || (count == 1 && left + extra + kTabMinWidth > width);
  SWEEP_REQUIRE(scrolling == list->IsShown());
  SWEEP_REQUIRE(scrolling == scrollLeft->IsShown());
  SWEEP_REQUIRE(scrolling == scrollRight->IsShown());
  if (scrolling) {
    SWEEP_REQUIRE((first > 0) == ((scrollLeft->flags & TBF_DISABLED) == 0));
    if (end < count) {
      SWEEP_REQUIRE((scrollRight->flags & TBF_DISABLED) == 0);
    }
  }
  SWEEP_REQUIRE(((style & TCX_CLOSEALLBUTTON) != 0 && count >= 2) == closeAll->IsShown());

  // Tabs never run under a button unless a single tab is all that is left.
  int bound = width;
  if (closeAll->IsShown()) bound = closeAll->rect.left;
  if (scrolling) bound = scrollLeft->rect.left;
  if (end - first >= 2) {
    SWEEP_REQUIRE(x <= bound);
  }

  const bool selectedLaidOut = group->selected >= first && group->selected < end;
  const bool closeShown = (style & TCX_CLOSEBUTTON) && selectedLaidOut &&
                          !(group->Item(group->selected)->flags & TBF_NOCLOSE);
  SWEEP_REQUIRE(closeShown == close->IsShown());
  if (closeShown) {
    const RECT& r = group->Item(group->selected)->rect;
    SWEEP_REQUIRE(close->rect.left >= r.left && close->rect.right <= r.right);
  }

  if (!checkHits) return;
  for (size_t i = first; i < end; ++i) {
    const RECT& r = group->Item(i)->rect;
    const int64_t hit = model.HitTest({r.left + 1, r.top + 1});
    if (end - first >= 2 || r.right <= bound) {
      SWEEP_REQUIRE(hit == static_cast<int64_t>(i));
    }
    SWEEP_REQUIRE(hit == kTabHitNone || hit >= kTabHitClose || static_cast<size_t>(hit) < count);
  }
}

#undef SWEEP_REQUIRE

void PrintTo(const SweepConfig& config, std::ostream* out) { *out << config.name; }

class TabLayoutSweep : public ::testing::TestWithParam<SweepConfig> {};

TEST_P(TabLayoutSweep, EveryWidthCountAndSelection) {
  const SweepConfig& config = GetParam();
  FixedMeasure measure;
  for (size_t count = 1; count <= kMaxSweepItems; ++count) {
    CTabStripModel model(config.kind, config.style);
    model.SetTextMeasure(&measure);
    model.AddGroup(L"G", 0);
    for (size_t i = 0; i < count; ++i) {
      // Texts of 1 to 25 characters: measured widths from the minimum to the limit.
      const std::wstring text(1 + (i * 7) % 25, L'w');
      model.AddItem(0, text.c_str(), (i % 3 == 0) ? -1 : kDocumentImage, 0, 1);
    }
    if (count > 2) model.GetItem(0, count / 2)->flags |= TBF_NOCLOSE;
    TabGroup* group = model.CurrentGroup();
    const int left = model.TabsLeft();
    for (size_t selected = 0; selected < count; ++selected) {
      group->selected = selected;
      // Up and down again, so every width starts from the window the last one left.
      for (int pass = 0; pass < 2; ++pass) {
        for (int step = 0; step <= kMaxSweepWidth; ++step) {
          const int width = pass == 0 ? step : kMaxSweepWidth - step;
          const bool checkHits = width % kHitCheckEvery == 0;
          SweepPoint where = {config.name, count, selected, width, "ensured", 0};
          model.RecalcLayout(left, width, kHeight, true);
          CheckLayout(model, left, width, true, checkHits, where);
          // A window that scrolling may have left anywhere in the group.
          group->firstVisible = (static_cast<size_t>(width) * 7 + selected) % count;
          model.RecalcLayout(left, width, kHeight, false);
          where.pass = "unensured";
          CheckLayout(model, left, width, false, checkHits, where);
          if (::testing::Test::HasFatalFailure()) return;
        }
      }
    }
  }
}

TEST_P(TabLayoutSweep, ScrollingKeepsTheSelectionInView) {
  const SweepConfig& config = GetParam();
  FixedMeasure measure;
  for (size_t count = 1; count <= kMaxSweepItems; ++count) {
    for (int width = 1; width <= kMaxSweepWidth; width += 13) {
      CTabStripModel model(config.kind, config.style);
      model.SetTextMeasure(&measure);
      model.AddGroup(L"G", 0);
      for (size_t i = 0; i < count; ++i) model.AddItem(0, Wide(ItemName(i)).c_str(), kDocumentImage, 0, 1);
      model.OnSize(width, kHeight);
      SweepPoint where = {config.name, count, 0, width, "right", 0};
      const TabGroup* group = model.CurrentGroup();
      for (size_t clicks = 0; clicks < count; ++clicks) {
        model.ScrollRight();
        where.clicks = clicks;
        CheckLayout(model, model.TabsLeft(), width, true, false, where);
        if (::testing::Test::HasFatalFailure()) return;
      }
      for (size_t clicks = 0; clicks < count; ++clicks) {
        model.ScrollLeft();
        where.pass = "left";
        where.clicks = clicks;
        CheckLayout(model, model.TabsLeft(), width, true, false, where);
        if (::testing::Test::HasFatalFailure()) return;
      }
      ASSERT_EQ(0u, group->firstVisible) << where;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(TabStrips, TabLayoutSweep, ::testing::ValuesIn(kSweepConfigs),
                         [](const ::testing::TestParamInfo<SweepConfig>& info) { return std::string(info.param.name); });

}  // namespace
