// Cell texts shared by the file lists of the history, dump-file and remote
// file dialogs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// "%u B" below 1024 bytes, else "%u KB" with the size divided by 1024
// (rounded down). 1, or 0 with empty text when `size` is too small.
int FormatSizeText(uint32_t bytes, wchar_t* text, size_t size);
// A FILETIME in local time as "MM/DD/YYYY hh:mm:ss"; 0 with empty text
// when it cannot be converted.
int FormatListTime(uint64_t fileTime, wchar_t* text, size_t size);
// The file-name part of a path (after its last "\" or "/"); the whole path
// when it has none.
const wchar_t* ListFileName(const wchar_t* path);
