#!/usr/bin/env python3
"""Writes the expected-menu and expected-key tables of
tests/res/menus_test.cpp from the resource index (section 3, the menus, and
section 4, the accelerator table).

The build never runs this; its output is committed. The test compares what
Windows loads from res/menus.rc and res/accelerators.rc with these tables,
so a wrong text, id, order or key in the .rc files shows up. Rows filled at
run time are left out; popup texts the index does not give are not checked.

    python3 scripts/gen-menus.py /path/to/resource-index.md
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TEST_OUT = ROOT / "tests" / "res" / "menus_test.cpp"
BEGIN_MARK = "// BEGIN expected menus (scripts/gen-menus.py)"
END_MARK = "// END expected menus"
MENU_HEAD = re.compile(r"^Menu (\d+) \(")
MENU_ROW = re.compile(r"^\| (\d+) \| (\d) \| (.*?) \|\s*(.*?)\s*\|$")
KEY_ROW = re.compile(r"^\| ((?:Ctrl\+|Shift\+)*)([A-Z]|F\d+) \| (\d+) \| .* \|$")
TEXT = re.compile(r'^`"(.*?)"`')


def fail(msg):
    sys.exit(f"gen-menus: {msg}")


def c_literal(text):
    # The index writes a tab as \t, which means the same in C++.
    return 'L"' + text.replace('"', '\\"') + '"'


def menu_rows(lines):
    rows, menu = [], None
    for line in lines:
        head = MENU_HEAD.match(line)
        if head:
            menu = int(head.group(1))
            continue
        if not line.startswith("|"):
            continue
        row = MENU_ROW.match(line)
        if not row or menu is None:
            continue
        depth, text, ident = int(row.group(2)), row.group(3).strip(), row.group(4).strip()
        # Before its first opening the history sub-menu shows the empty
        # list's placeholder, so that row is kept; other run-time rows are not.
        empty_list = "(built on opening, when the list is empty) "
        if text.startswith(empty_list):
            text = text[len(empty_list):].split(",")[0]
        elif text.startswith("(inserted") or text.startswith("(built"):
            continue
        if text == "separator":
            rows.append((menu, depth, "SEP", "nullptr", 0))
            continue
        m = TEXT.match(text)
        literal = c_literal(m.group(1)) if m else "nullptr"
        if ident in ("popup",) or ident.startswith("submenu"):
            rows.append((menu, depth, "POPUP", literal, 0))
        elif ident.isdigit():
            if not m:
                fail(f"menu {menu}: item without text: {line}")
            rows.append((menu, depth, "ITEM", literal, int(ident)))
        else:
            fail(f"menu {menu}: cannot read {line}")
    return rows


def key_rows(lines):
    keys = []
    for line in lines:
        m = KEY_ROW.match(line)
        if not m:
            continue
        mods = ["FVIRTKEY"]
        if "Ctrl+" in m.group(1):
            mods.append("FCONTROL")
        if "Shift+" in m.group(1):
            mods.append("FSHIFT")
        key = m.group(2)
        vk = f"VK_{key}" if len(key) > 1 else f"'{key}'"
        keys.append((" | ".join(mods), vk, int(m.group(3))))
    return keys


def section(lines, title):
    try:
        start = lines.index(title)
    except ValueError:
        fail(f"no '{title}' section")
    out = []
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        out.append(line)
    return out


def main():
    if len(sys.argv) != 2:
        fail("usage: gen-menus.py resource-index.md")
    lines = pathlib.Path(sys.argv[1]).read_text(encoding="utf-8").splitlines()
    menus = menu_rows(section(lines, "## 3. Menus"))
    keys = key_rows(section(lines, "## 4. Accelerator table"))
    if not menus or not keys:
        fail("no rows found")
    body = [BEGIN_MARK, "const ExpectedMenuRow kExpectedMenus[] = {"]
    for menu, depth, kind, text, ident in menus:
        body.append(f"    {{{menu}, {depth}, Kind::{kind}, {text}, {ident}}},")
    body.append("};")
    body.append("const ACCEL kExpectedKeys[] = {")
    for mods, vk, cmd in keys:
        body.append(f"    {{{mods}, {vk}, {cmd}}},")
    body.append("};")
    body.append(END_MARK)
    test = TEST_OUT.read_text(encoding="utf-8")
    a, b = test.index(BEGIN_MARK), test.index(END_MARK) + len(END_MARK)
    TEST_OUT.write_text(test[:a] + "\n".join(body) + test[b:], encoding="utf-8")


if __name__ == "__main__":
    main()
