#!/usr/bin/env python3
"""Writes res/strings.rc and the expected-text table of
tests/res/strings_test.cpp from the resource index (section 1, the string
table).

The build never runs this; both outputs are committed. Run it again after the
index changes:

    python3 scripts/gen-strings.py /path/to/resource-index.md

The two outputs are written by different routes on purpose, so the test checks
windres's reading of the .rc rather than repeating it:
  - strings.rc: the index text is decoded to characters, then re-encoded in
    windres syntax ("" for a quote, \\t \\r \\n, \\\\ for a backslash);
  - the test table: the index text is copied into a C++ literal with only the
    quote escaped (the index's \\t, \\r, \\n already mean what they mean in
    C++), and it is keyed by the number in the index, not by the header name.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "res" / "resource.h"
RC_OUT = ROOT / "res" / "strings.rc"
TEST_OUT = ROOT / "tests" / "res" / "strings_test.cpp"
BEGIN_MARK = "// BEGIN expected strings (scripts/gen-strings.py)"
END_MARK = "// END expected strings"

ROW = re.compile(r'^\| (\d+) \| (.*)$')
TEXT_SPAN = re.compile(r'^`"(.*?)"`')
FREE_LINE = re.compile(r'^Ids inside \d+ to \d+ that nothing refers to[^:]*:(.*)$')
HTML_HEADER_ID = 61457
INDEX_ESCAPES = {"t": "\t", "r": "\r", "n": "\n", "|": "|"}


def fail(msg):
    sys.exit(f"gen-strings: {msg}")


def decode_index_text(raw, sid):
    out = []
    i = 0
    while i < len(raw):
        c = raw[i]
        if c == "\\":
            nxt = raw[i + 1] if i + 1 < len(raw) else ""
            if nxt not in INDEX_ESCAPES:
                fail(f"string {sid}: unknown escape \\{nxt}")
            out.append(INDEX_ESCAPES[nxt])
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def read_index(path):
    lines = pathlib.Path(path).read_text(encoding="utf-8").splitlines()
    try:
        start = lines.index("## 1. String table")
    except ValueError:
        fail("no '## 1. String table' section")
    strings, absent, html_lines = [], [], []
    table = None  # "strings" inside the string table, "html" inside the line-by-line one
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        if line.startswith("| Id |"):
            table = "strings"
            continue
        if line.startswith("| Line |"):
            table = "html"
            continue
        if not line.startswith("|"):
            table = None
        free = FREE_LINE.match(line)
        if free:
            for part in free.group(1).rstrip(".").split(","):
                bounds = [int(x) for x in part.strip().split(" to ")]
                absent.extend(range(bounds[0], bounds[-1] + 1))
            continue
        row = ROW.match(line)
        if not row or table is None:
            continue
        sid, cell = int(row.group(1)), row.group(2)
        span = TEXT_SPAN.match(cell)
        if table == "html":
            if not span:
                fail(f"HTML header line {sid} has no text")
            html_lines.append(span.group(1))
            continue
        if "CONFLICT" in line:
            fail(f"string {sid} is marked CONFLICT")
        if span:
            strings.append((sid, span.group(1)))
        elif "text not given" in line:
            absent.append(sid)
        else:
            fail(f"string {sid}: no text and not marked 'text not given'")
    header = dict(strings).get(HTML_HEADER_ID)
    if html_lines and header != "".join(l + "\\n" for l in html_lines):
        fail(f"string {HTML_HEADER_ID} differs from its line-by-line listing")
    ids = [s for s, _ in strings]
    if len(set(ids)) != len(ids):
        fail("an id appears twice")
    if set(ids) & set(absent):
        fail("an id is both given and absent")
    return sorted(strings), sorted(absent)


def header_names():
    names = {}
    for m in re.finditer(r'^#define\s+(\w+)\s+(\d+)\b', HEADER.read_text(), re.M):
        names.setdefault(int(m.group(2)), []).append(m.group(1))
    return names


def name_for(sid, names):
    cands = names.get(sid, [])
    for prefix in ("IDS_", "ID_"):
        hits = [n for n in cands if n.startswith(prefix)]
        if len(hits) == 1:
            return hits[0]
        if len(hits) > 1:
            fail(f"string {sid}: several {prefix} names {hits}")
    fail(f"string {sid}: no IDS_/ID_ name in res/resource.h")


def rc_literal(text):
    enc = {'"': '""', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n"}
    for c in text:
        if ord(c) < 0x20 and c not in enc or ord(c) > 0x7E:
            fail(f"character U+{ord(c):04X} needs a code page decision")
    # Long texts made of LF-ended lines are split after each LF into adjacent
    # literals, which windres joins.
    pieces = text.split("\n")
    chunks = [p + "\n" for p in pieces[:-1]] + ([pieces[-1]] if pieces[-1] else [])
    return ['"' + "".join(enc.get(c, c) for c in chunk) + '"' for chunk in chunks]


def write_rc(strings, names):
    out = [
        "// String table. Generated by scripts/gen-strings.py from the resource",
        "// index; edit the index and run the script again rather than this file.",
        '#include <winresrc.h>',
        '#include "resource.h"',
        "",
        "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US",
        "",
        "STRINGTABLE",
        "BEGIN",
    ]
    for sid, raw in strings:
        name = name_for(sid, names)
        lits = rc_literal(decode_index_text(raw, sid))
        out.append(f"    {name:<32} {lits[0]}")
        out.extend(f"    {'':<32} {lit}" for lit in lits[1:])
    out += ["END", ""]
    RC_OUT.write_text("\n".join(out), encoding="ascii", newline="\n")


def cpp_literal(raw, sid):
    decode_index_text(raw, sid)  # only to reject escapes C++ would read differently
    return 'L"' + raw.replace("\\|", "|").replace('"', '\\"') + '"'


def write_test_table(strings, absent):
    src = TEST_OUT.read_text(encoding="utf-8")
    begin, end = src.find(BEGIN_MARK), src.find(END_MARK)
    if begin < 0 or end < begin:
        fail(f"{TEST_OUT} lacks the generated-table markers")
    body = [BEGIN_MARK, "const ExpectedString kExpectedStrings[] = {"]
    body += [f"    {{{sid}, {cpp_literal(raw, sid)}}}," for sid, raw in strings]
    body += ["};", "", "const UINT kAbsentStrings[] = {"]
    for i in range(0, len(absent), 8):
        body.append("    " + ", ".join(str(a) for a in absent[i:i + 8]) + ",")
    body += ["};", ""]
    TEST_OUT.write_text(src[:begin] + "\n".join(body) + src[end:], encoding="utf-8", newline="\n")


def main():
    if len(sys.argv) != 2:
        fail("usage: gen-strings.py RESOURCE-INDEX.md")
    strings, absent = read_index(sys.argv[1])
    write_rc(strings, header_names())
    write_test_table(strings, absent)
    print(f"gen-strings: {len(strings)} strings, {len(absent)} absent ids")


if __name__ == "__main__":
    main()
