// Narrow strings of imported records into terminated wide strings. Every
// conversion reads at most `bytes` bytes (the text may end at the end of a
// buffer, without a terminator), stops at a 0 byte and writes at most
// units - 1 units and the terminator; `units` must be at least 1.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Bytes before the first 0 byte within `most`; reads no byte past `most`.
size_t BoundedBytes(const uint8_t* text, size_t most);

// Text of an ANSI, OEM or UTF-8 code page through the system converter,
// cut to units - 1 bytes first: no byte of these code pages yields more
// than one unit, so the cut text always fits. ASCII text of the ANSI code
// page or UTF-8 is widened here, with the same result. A failed conversion
// gives an empty string. Returns the units written, the terminator excluded.
size_t NarrowToWide(UINT codePage, const uint8_t* text, size_t bytes, wchar_t* dest, size_t units);

// The same result as NarrowToWide(CP_UTF8, ...) for every input. Well-formed
// text is decoded here; text holding anything ill-formed before its end
// goes to the system converter whole, whose replacement rules stay the
// reference. Returns the units written, the terminator excluded.
size_t Utf8ToWide(const uint8_t* text, size_t bytes, wchar_t* dest, size_t units);
